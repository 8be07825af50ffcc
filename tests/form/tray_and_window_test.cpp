#include "form/form_test_support.h"

#include <algorithm>
#include <chrono>
#include <functional>

namespace dovra {
namespace {

using test::FormFixture;
using K = UiEvent::Kind;

TEST_F(FormFixture, ClicksWhileStartingShowTheWaitingBalloonOnly) {
  form->FormCreate();
  form->CoolTrayIcon1Click();
  form->CoolTrayIcon1DblClick();
  const auto balloons = log.of(K::Balloon);
  ASSERT_EQ(balloons.size(), 2u);
  for (const auto& b : balloons) {
    EXPECT_EQ(b.title, "Backup Dovra");
    EXPECT_EQ(b.text, "Aguarde o sistema está sendo inicializado.");
    EXPECT_EQ(b.icon, BalloonIcon::Warning);
    EXPECT_EQ(b.timeout, 20);
  }
  EXPECT_FALSE(form->window().windowVisible());
  // Menu entries cannot be reached before the menu is attached.
  EXPECT_FALSE(form->runHandler("Sair1Click"));
  EXPECT_FALSE(loop.exiting());
}

TEST_F(FormFixture, OnceReadyASingleClickDoesNothingAndADoubleClickOpensTheWindow) {
  form->window().setHint("BackUp Dovra \rEmpresa: X");
  form->CoolTrayIcon1Click();
  EXPECT_TRUE(log.of(K::Balloon).empty());
  form->CoolTrayIcon1DblClick();
  EXPECT_TRUE(form->window().windowVisible());
  form->SpeedButton5Click();  // "Sair" on the window only hides it
  EXPECT_FALSE(form->window().windowVisible());
  EXPECT_FALSE(loop.exiting());
}

TEST_F(FormFixture, WaitingStateComparesTheWholeHintWhileTheTipShows127Characters) {
  const std::string longHint = std::string(WindowModel::kStartupHint) + std::string(109, 'x');
  ASSERT_EQ(utf8Length(longHint), 150u);
  form->window().setHint(longHint);
  EXPECT_EQ(utf8Length(form->window().trayTip()), 127u);
  EXPECT_FALSE(form->window().waitingForStart());
  form->CoolTrayIcon1DblClick();
  EXPECT_TRUE(form->window().windowVisible());
}

TEST_F(FormFixture, BalloonsAreCutToTheirLimits) {
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "á";
  form->window().showBalloon(std::string(70, 'T'), accented, BalloonIcon::Error, 50);
  const auto b = log.of(K::Balloon).back();
  EXPECT_EQ(utf8Length(b.title), 63u);
  EXPECT_EQ(utf8Length(b.text), 255u);
  EXPECT_EQ(b.icon, BalloonIcon::Error);
}

// Which handler needs what to show before a click reaches it: nothing is run while it
// does not show (runHandler refuses it), and once the double-click, the menu or the model
// shows it, it stays reachable.
TEST_F(FormFixture, HandlersAreReachableOnlyOnceWhatCarriesThemShows) {
  struct Case {
    const char* handler;
    std::function<void(TForm1&)> reveal;  // nullptr: reachable from the start
  };
  const auto viaLog = [](TForm1& f) { f.Label8DblClick(); };
  const auto viaMemo = [](TForm1& f) { f.MemoBackupDblClick(); };
  const auto viaMenu = [](TForm1& f) { f.window().setMenuAttached(true); };
  const Case cases[] = {
      {"SpeedButton4Click", viaLog},
      {"SpeedButton3Click", viaLog},
      {"SpeedButton12Click", viaLog},
      {"TabSheet3Show", viaMemo},
      {"MaskEdit1Exit", viaMemo},
      {"MaskEdit3Exit", viaMemo},
      {"rbRemotoExit", viaMemo},
      {"SpeedButton6Click", viaMemo},
      {"SpeedButton9Click", viaMemo},
      {"SpeedButton13Click", viaMemo},
      {"Mostrar1Click", viaMenu},
      {"Sair1Click", viaMenu},
      {"BackUpManual1Click", viaMenu},
      {"Atualizardata1Click",
       [](TForm1& f) {
         f.window().setMenuAttached(true);
         f.window().setMenuItemVisible("Atualizardata1", true);
       }},
      {"spbBackupClick", nullptr},
      {"SpeedButton5Click", nullptr},
      {"Label8DblClick", nullptr},
      {"SpeedButton11Click", nullptr},
      {"CoolTrayIcon1DblClick", nullptr},
      {"Timer1Timer", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handler);
    form = std::make_unique<TForm1>(loop, dialogs, clock);
    form->timerInicia.setEnabled(false);
    form->Timer3.setEnabled(false);
    ASSERT_TRUE(form->hasHandler(c.handler));
    if (!c.reveal) {
      EXPECT_TRUE(form->handlerReachable(c.handler));
      continue;
    }
    EXPECT_FALSE(form->runHandler(c.handler));
    c.reveal(*form);
    EXPECT_TRUE(form->handlerReachable(c.handler));
  }
  // A menu entry hidden again is out of reach again; a name nobody answers to never is.
  form->window().setMenuAttached(true);
  form->window().setMenuItemVisible("Atualizardata1", false);
  EXPECT_FALSE(form->runHandler("Atualizardata1Click"));
  EXPECT_FALSE(form->runHandler("Label9DblClick"));
}

TEST_F(FormFixture, TheCommandTableNamesEveryHandlerOfTheFormAndNoOther) {
  std::vector<std::string> table;
  for (const Command& c : commands()) table.push_back(c.handler);
  std::sort(table.begin(), table.end());
  EXPECT_EQ(std::adjacent_find(table.begin(), table.end()), table.end()) << "a name twice";
  EXPECT_EQ(table, form->handlerNames());
}

TEST_F(FormFixture, RevealedPagesAndButtonsStayAndThePageIsNotSelected) {
  form->MemoBackupDblClick();
  form->Label8DblClick();
  EXPECT_TRUE(form->window().pageVisible("TabSheet3"));
  EXPECT_EQ(form->window().activePage(), "tbsbackup");  // revealed, not selected
  for (const char* b : {"SpeedButton4", "SpeedButton3", "SpeedButton12"}) {
    EXPECT_TRUE(form->window().controlVisible(b)) << b;
  }
  EXPECT_TRUE(form->runHandler("TabSheet3Show"));
}

TEST_F(FormFixture, HiddenButtonsAndPararServicoStopTheSchedulerAndStartOnlyWhatIsNotRunning) {
  writeIdentifier("A");
  form->FormCreate();
  ASSERT_TRUE(form->Timer1.enabled());
  form->Pararservico1Click();
  EXPECT_FALSE(form->Timer1.enabled());
  form->Timer1.setEnabled(true);
  std::atomic<int> backups{0};
  form->launcher().setBody(WorkerKind::Tauto, [&](const RunSettings&) { ++backups; });
  form->state().BackupRunning.set(true);
  form->SpeedButton4Click();
  EXPECT_FALSE(form->Timer1.enabled());
  EXPECT_EQ(backups, 0);
  form->state().BackupRunning.set(false);
  form->SpeedButton4Click();
  for (int i = 0; i < 200 && backups == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(backups, 1);
}

TEST_F(FormFixture, ExitStopsTimersRemovesTheIconClosesTheWindowAndEndsWithZero) {
  writeIdentifier("A");
  form->FormCreate();
  form->showMainWindow();
  form->window().setMenuAttached(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(form->runHandler("Sair1Click"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(form->Timer1.enabled());
  EXPECT_FALSE(form->Timer3.enabled());
  EXPECT_FALSE(form->window().trayIconVisible());
  EXPECT_FALSE(form->window().windowVisible());
  // Balloon hidden before the icon goes, the icon before the window closes.
  std::vector<K> order;
  for (const auto& e : log.events) {
    if (e.kind == K::BalloonHide || e.kind == K::TrayIcon || e.kind == K::Window)
      order.push_back(e.kind);
  }
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(std::vector<K>(order.end() - 3, order.end()),
            (std::vector<K>{K::BalloonHide, K::TrayIcon, K::Window}));
  EXPECT_EQ(loop.run(), 0);
}

TEST_F(FormFixture, UncaughtHandlerFailuresReachTheGeneralErrorReport) {
  form->reportError("Disk full");
  form->reportError("Falhou.");
  ASSERT_EQ(dialogs.shown.size(), 2u);
  EXPECT_EQ(dialogs.shown[0].text, "Disk full.");
  EXPECT_EQ(dialogs.shown[1].text, "Falhou.");
  EXPECT_EQ(dialogs.shown[0].caption, "BackUpDovra");
}

TEST_F(FormFixture, WorkerChangesReachTheObserverOnTheMainThreadInOrder) {
  std::thread worker([&] {
    form->window().setLabel("lbStatus", "Backup realizado com sucesso", LabelColor::Highlight);
    form->window().memoAdd("MemoBackup", "linha 1");
    form->window().memoAdd("MemoBackup", "linha 2");
    // The worker reads back its own change at once.
    EXPECT_EQ(form->window().labelText("lbStatus"), "Backup realizado com sucesso");
  });
  worker.join();
  EXPECT_TRUE(log.events.empty());  // nothing reached the front end from the worker thread
  loop.processEvents();
  ASSERT_EQ(log.events.size(), 3u);
  EXPECT_EQ(log.events[0].kind, K::Label);
  EXPECT_EQ(log.events[1].text, "linha 1");
  EXPECT_EQ(log.events[2].text, "linha 2");
}

}  // namespace
}  // namespace dovra
