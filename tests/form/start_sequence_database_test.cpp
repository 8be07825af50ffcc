// The start sequence against the real server: the connection (awaited while the loop keeps
// running), the company, the estimate, the NF-e database, the scheduler and the menu.
#include "form/form_test_support.h"

#include <sys/socket.h>
#include <unistd.h>
#include <atomic>

#include "support/firebird_env.h"
#include "support/test_servers.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;

class StartDatabaseTest : public test::FormFixture {
 protected:
  void SetUp() override {
    test::useFirebird(env);
    if (IsSkipped() || HasFatalFailure()) return;
    writeIdentifier("LOJA");
    form->FormCreate();
  }
  void writeSettings(const std::string& main, const std::string& nfe,
                     const std::string& password = "") {
    test::SampleSettings s;
    s.database = main;
    s.nfeDatabase = nfe;
    s.user = env.user;
    s.password = password.empty() ? env.password : password;
    s.backup = {{"enderecobackup", "/srv/backup/"}, {"localremoto", "L"}};
    test::writeSettingsFile(settingsPath("LOJA"), s);
  }
  bool runUntilReady(std::chrono::milliseconds limit = 20s) {
    return loop.runUntil([&] { return form->window().menuAttached() || loop.exiting(); }, limit);
  }
  test::FirebirdEnv env;
};

TEST_F(StartDatabaseTest, ReachesTheCompanyHintCaptionEstimateAndMenu) {
  const test::TestErp sample(env, [](test::SampleErpOptions& o) { o.longCompanyNames = true; });
  writeSettings(sample.erp().mainLocation, sample.erp().nfeLocation);
  form->timerIniciaTimer();
  ASSERT_TRUE(runUntilReady()) << (dialogs.messages().empty() ? "" : dialogs.messages()[0]);
  const RunState& s = form->state();
  const std::string name = utf8Left(test::sampleCompanyName(1, true), 30);
  const std::string trade = utf8Left(test::sampleTradeName(1, true), 30);
  EXPECT_EQ(s.CompanyText, name + " - " + trade);
  EXPECT_EQ(utf8Length(s.CompanyText), 63u);
  EXPECT_EQ(form->window().hint(), "BackUp Dovra \rEmpresa: " + s.CompanyText +
                                       "\r\rBackup do dia pendente - faça o backup - Versão: 13");
  EXPECT_EQ(form->window().caption(),
            "BackUp Dovra Informática - " + s.CompanyText + " - Versão: 13");
  EXPECT_EQ(form->window().labelText("lbProgresso"),
            "Progresso - " + std::to_string(s.ProgressMaximum));
  EXPECT_EQ(s.XmlFolder, "C:\\DovraERP\\NFe/Xmls/Xmls");
  EXPECT_TRUE(s.NfeEnabled);
  EXPECT_TRUE(form->erp().banconfe.Connected());
  EXPECT_TRUE(form->erp().tnfe.Active());
  EXPECT_FALSE(form->erp().Banco.Connected());
  EXPECT_TRUE(form->Timer1.enabled());
  EXPECT_FALSE(form->window().waitingForStart());
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(StartDatabaseTest, NfeLocationEqualButForBlanksMeansNoNfeDatabase) {
  const test::TestErp sample(env, [](test::SampleErpOptions& o) {
    o.nfeDatabase = false;
    o.company1 = false;
    o.contViewCatalogue = false;
  });
  writeSettings(sample.erp().mainLocation, "  " + sample.erp().mainLocation + " ");
  form->timerIniciaTimer();
  ASSERT_TRUE(runUntilReady());
  const RunState& s = form->state();
  EXPECT_FALSE(s.NfeEnabled);
  EXPECT_EQ(s.NfeDatabasePath, "");
  EXPECT_EQ(s.NfeDatabaseBaseName, "");
  EXPECT_FALSE(form->erp().banconfe.Connected());
  EXPECT_EQ(s.CompanyText, " - ");  // no company 1: empty names, the sequence goes on
}

TEST_F(StartDatabaseTest, AMissingTableStopsTheSequenceWithTheServersText) {
  // A database without the ERP's tables: the first statement fails.
  const test::TestErp sample(env, [](test::SampleErpOptions& o) {
    o.nfeDatabase = false;
    o.contViewCatalogue = true;
  });
  writeSettings(sample.erp().mainLocation, sample.erp().mainLocation);
  form->timerIniciaTimer();
  ASSERT_TRUE(loop.runUntil([&] { return !dialogs.shown.empty(); }, 20s));
  EXPECT_EQ(dialogs.shown[0].caption, "BackUpDovra");
  EXPECT_NE(dialogs.shown[0].text.find("PARAMETRO"), std::string::npos) << dialogs.shown[0].text;
  EXPECT_FALSE(form->window().menuAttached());
  EXPECT_TRUE(form->window().waitingForStart());
  EXPECT_FALSE(loop.exiting());
}

// A TCP relay to the server that starts accepting only when told: a server that comes up
// late.
class LateServer {
 public:
  // Not listening yet: connections are refused until start().
  LateServer() { listener_ = test::bindLoopback(port_, -1); }
  ~LateServer() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  void start() {
    listen(listener_, 16);
    thread_ = std::thread([this] {
      while (!stop_) {
        const int client = accept(listener_, nullptr, nullptr);
        if (client < 0) return;
        const int server = test::connectLoopback(3050);
        for (auto [from, to] : {std::pair{client, server}, std::pair{server, client}}) {
          std::thread([from, to] {
            char buf[65536];
            ssize_t n;
            while ((n = read(from, buf, sizeof buf)) > 0) {
              if (write(to, buf, static_cast<size_t>(n)) != n) break;
            }
            shutdown(to, SHUT_WR);
          }).detach();
        }
      }
    });
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(StartDatabaseTest, WaitsForAServerThatStartsLateWhileTheTrayKeepsAnswering) {
  const test::TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  LateServer late;
  const std::string location =
      "localhost/" + std::to_string(late.port()) + ":" + sample.erp().mainFile.string();
  writeSettings(location, location);
  form->timerIniciaTimer();
  EXPECT_FALSE(runUntilReady(5s));  // two retries and more, no server
  form->CoolTrayIcon1Click();       // the tray still answers: the waiting balloon
  EXPECT_EQ(log.of(UiEvent::Kind::Balloon).back().text,
            "Aguarde o sistema está sendo inicializado.");
  late.start();
  ASSERT_TRUE(runUntilReady(20s));
  EXPECT_FALSE(form->window().waitingForStart());
  EXPECT_TRUE(dialogs.shown.empty());
}

}  // namespace
}  // namespace dovra
