// The FTP session against a scripted server: replies and failures a real server will not
// produce on demand.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/fault_ftp_server.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"
#include "transfer/ftp_session.h"

namespace dovra {
namespace {

namespace fs = std::filesystem;
using test::errorText;
using test::FaultFtpServer;
using test::pattern;
using test::TempDir;
using namespace test::fault;

using Script = std::vector<Step>;
using Lines = std::vector<std::string>;

void setUp(TIdFTP& ftp, const FaultFtpServer& server, int readTimeoutMs = 3000) {
  ftp.Host = server.host();
  ftp.Port = server.port();
  ftp.Username = "copia_ftp_dovra";
  ftp.Password = "lotusgravelz2";
  ftp.RecvBufferSize = 8192;
  ftp.ReadTimeout = readTimeoutMs;
}

// Opens a session on a server playing `script`, which must fail with an E; returns its
// text. The session is closed after it and the server saw every step.
template <typename E>
std::string failedOpen(const Script& script, int readTimeoutMs = 3000) {
  FaultFtpServer server(script);
  TIdFTP ftp;
  setUp(ftp, server, readTimeoutMs);
  const std::string text = errorText<E>([&] { ftp.OpenSession(true, 5000); });
  EXPECT_FALSE(ftp.Connected());
  EXPECT_EQ(server.finish(), "");
  return text;
}

// Opens a session on a server playing `script` and closes it; the server saw every step.
struct Opened {
  FtpReply greeting, login;
  Lines commands;
};
Opened openAndClose(const Script& script, bool logIn = true) {
  FaultFtpServer server(script);
  TIdFTP ftp;
  setUp(ftp, server);
  ftp.OpenSession(logIn, 5000);
  Opened opened{ftp.greeting(), ftp.loginMessage(), {}};
  ftp.CloseSession();
  EXPECT_EQ(server.finish(), "");
  opened.commands = server.commands();
  return opened;
}

TEST(FtpFaultLogin, OddButValidLogins) {
  // A multi-line greeting is one reply; no QUIT on close.
  Opened o = openAndClose(login(raw("220-Welcome\r\n220-second line\r\n\r\n220 ready\r\n")) +
                          Script{waitForClose()});
  EXPECT_EQ(o.greeting.numericCode, 220);
  EXPECT_EQ(o.greeting.text, (Lines{"Welcome", "second line", "ready"}));
  EXPECT_EQ(o.commands.back(), "SYST");
  // USER answered 230 sends no password; SYST 500 is accepted.
  o = openAndClose(Script{reply("220 ready"), expect("USER copia_ftp_dovra"),
                          reply("230 no password needed"), expect("TYPE I"), reply("200 ok"),
                          expect("SYST"), reply("500 unknown"), waitForClose()});
  EXPECT_EQ(o.login.numericCode, 230);
  EXPECT_EQ(o.commands, (Lines{"USER copia_ftp_dovra", "TYPE I", "SYST"}));
  // An open without login skips USER and PASS.
  o = openAndClose(Script{reply("220 ready"), expect("TYPE I"), reply("200 ok"), expect("SYST"),
                          reply("200 ok"), waitForClose()},
                   false);
  EXPECT_EQ(o.commands, (Lines{"TYPE I", "SYST"}));
  // A reply line of exactly the maximum is accepted.
  o = openAndClose(login(reply("220 " + std::string(16380, 'x'))) + Script{waitForClose()});
  EXPECT_EQ(o.greeting.text.front().size(), 16380u);
}

TEST(FtpFaultLogin, FailedOpensCloseTheSession) {
  EXPECT_EQ(failedOpen<EIdProtocolReplyError>(
                login(reply("220 ready"), "502 Command not implemented.") + Script{waitForClose()}),
            "Command not implemented.\r\n");
  EXPECT_EQ(failedOpen<EIdProtocolReplyError>(Script{reply("421 Too many users"), waitForClose()}),
            "Too many users\r\n");
  EXPECT_EQ(failedOpen<EIdConnClosedGracefully>(
                Script{reply("220 ready"), expect("USER copia_ftp_dovra"), closeControl()}),
            "Connection Closed Gracefully.");
  EXPECT_EQ(failedOpen<EIdReadLnMaxLineLengthExceeded>(
                Script{raw("220 " + std::string(20000, 'x') + "\r\n"), waitForClose()}),
            "Max line length exceeded.");
  EXPECT_EQ(failedOpen<EIdReadTimeout>(
                Script{reply("220 ready"), expect("USER copia_ftp_dovra"), waitForClose()}, 300),
            "Read timed out.");
}

TEST(FtpFaultLogin, CloseSessionFromAnotherThreadEndsABlockedOpenAtOnce) {
  FaultFtpServer server(Script{waitForClose()});  // never greets
  TIdFTP ftp;
  setUp(ftp, server, 20000);
  std::thread exitPath([&] {
    while (!ftp.Connected()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ftp.CloseSession();
  });
  EXPECT_THROW(ftp.OpenSession(true, 5000), EIdNotConnected);
  exitPath.join();
  EXPECT_FALSE(ftp.Connected());
  EXPECT_EQ(server.finish(), "");
}

class FtpFaultTransfer : public ::testing::Test {
 protected:
  FtpFaultTransfer() : local_("ftpfault") {}

  void start(const Script& afterLogin) {
    server_ = std::make_unique<FaultFtpServer>(login() + afterLogin);
    setUp(ftp_, *server_);
    ftp_.OpenSession(true, 5000);
  }
  std::string finish() {
    ftp_.CloseSession();
    return server_->finish();
  }
  void download() { ftp_.DownloadFile("Renovador.exe", local_.file("Renovador.exe")); }

  TempDir local_;
  std::unique_ptr<FaultFtpServer> server_;
  TIdFTP ftp_;
};

TEST_F(FtpFaultTransfer, PasvRepliesWithAndWithoutParenthesesOrAZeroAddress) {
  // clang-format off
  start({expect("PASV"), pasv("127,0,0,1", true), acceptData(), expect("RETR Renovador.exe"),
         reply("150 Opening BINARY mode data connection (3000 bytes)."),
         sendData(pattern(3000)), closeData(), reply("226 Transfer complete."),
         expect("PASV"), pasv("127,0,0,1", false), acceptData(), expect("STOR k-nfe.xml"),
         reply("150 ok"), receiveData(), reply("226 Transfer complete."),
         expect("PASV"), pasv("0,0,0,0", true), acceptData(), expect("RETR a"),
         reply("125 go"), sendData("abc"), closeData(), reply("250 done"),
         waitForClose()});
  // clang-format on
  download();
  EXPECT_EQ(test::readFile(local_.file("Renovador.exe")), pattern(3000));
  MemoryUploadSource source(pattern(70000));
  ftp_.UploadStream(source, "k-nfe.xml", false);
  EXPECT_EQ(server_->receivedData(), pattern(70000));
  // The unspecified address: the control connection's peer.
  ftp_.DownloadFile("a", local_.file("a"));
  EXPECT_EQ(test::readFile(local_.file("a")), "abc");
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, UnreadablePasvReplyFailsAndTheSessionGoesOn) {
  start({expect("PASV"), reply("227 somewhere"), expect("SIZE base.zlib_temp"),
         reply("550 No such file"), expect("SIZE big"), reply("213 3000000000"), waitForClose()});
  MemoryUploadSource source("x");
  EXPECT_THROW(ftp_.UploadStream(source, "x", false), EIdException);
  // Nothing left pending: the next replies are the next commands'.
  EXPECT_EQ(ftp_.RemoteSize("base.zlib_temp"), -1);
  EXPECT_EQ(ftp_.RemoteSize("big"), 3000000000LL);  // past 2 GiB
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, FailedUploadsAreFailuresAndTheSessionGoesOn) {
  // clang-format off
  start({expect("PASV"), pasv(), acceptData(), expect("APPE base.zlib_temp"), reply("150 ok"),
         receiveData(), reply("426 Connection closed; transfer aborted."),
         expect("PASV"), pasv(), acceptData(), expect("STOR x"),
         reply("553 Permission denied."),
         expect("CWD /"), reply("250 ok"),
         expect("PASV"), pasv(), acceptData(), expect("STOR big"), reply("150 ok"),
         receiveDataBytes(65536), resetData(), reply("426 Connection reset."),
         waitForClose()});
  // clang-format on
  // A final 426 after the data is not a completed transfer.
  MemoryUploadSource source(pattern(5000));
  source.seek(1000);
  try {
    ftp_.UploadStream(source, "base.zlib_temp", true);
    FAIL() << "a 426 must not count as a completed transfer";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 426);
    EXPECT_STREQ(e.what(), "Connection closed; transfer aborted.\r\n");
  }
  EXPECT_EQ(server_->receivedData(), pattern(5000).substr(1000));
  // A refused preliminary reply fails with its text.
  MemoryUploadSource small("abc");
  EXPECT_EQ(errorText<EIdProtocolReplyError>([&] { ftp_.UploadStream(small, "x", false); }),
            "Permission denied.\r\n");
  ftp_.EnterFolder("/");
  // A data connection dropped midway.
  MemoryUploadSource big(pattern(16 << 20));
  EXPECT_THROW(ftp_.UploadStream(big, "big", false), EIdException);
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, FailedDownloadsLeaveNoFile) {
  // clang-format off
  start({expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"), reply("150 ok"),
         sendData(pattern(4000)), closeData(), reply("450 File unavailable."),
         expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"),
         reply("150 Opening BINARY mode data connection (50000 bytes)."),
         sendData(pattern(20000)), pause(50), resetData(), reply("426 Connection reset."),
         expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"),
         reply("150 Opening BINARY mode data connection for Renovador.exe (5000 bytes)."),
         sendData(pattern(2000)), closeData(), reply("226 Transfer complete."),
         expect("CWD /"), reply("250 ok"),
         expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"),
         reply("150 here it comes"), sendData(pattern(1000)),
         waitForClose()});
  // clang-format on
  EXPECT_THROW(download(), EIdProtocolReplyError);  // a final 450
  EXPECT_TRUE(fs::is_empty(local_.path()));
  EXPECT_THROW(download(), EIdException);  // the data connection dropped midway
  EXPECT_TRUE(fs::is_empty(local_.path()));
  // Fewer bytes than announced, though the server accepted the transfer.
  EXPECT_EQ(errorText<EIdException>([&] { download(); }),
            "Transfer incomplete: 2000 of 5000 bytes received.");
  EXPECT_TRUE(fs::is_empty(local_.path()));
  ftp_.EnterFolder("/");
  EXPECT_TRUE(ftp_.Connected());
  // Data that stops coming times out and closes the session.
  ftp_.ReadTimeout = 300;
  EXPECT_THROW(download(), EIdReadTimeout);
  EXPECT_FALSE(ftp_.Connected());
  EXPECT_TRUE(fs::is_empty(local_.path()));
  EXPECT_EQ(server_->finish(), "");
}

TEST_F(FtpFaultTransfer, AbortFromAnotherThreadStopsADownload) {
  // The client drops the session after ABOR without waiting for the replies: a second
  // reply from the server could meet a closed connection.
  start({expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"), reply("150 ok"),
         sendData(pattern(1000)), expect("ABOR"), reply("426 Transfer aborted."), waitForClose()});
  ftp_.ReadTimeout = 20000;
  std::thread exitPath([&] {
    // Wait until the first bytes reached the partial file, then abort.
    for (;;) {
      for (const auto& entry : fs::directory_iterator(local_.path())) {
        if (entry.is_regular_file() && entry.file_size() == 1000) {
          ftp_.Abort();
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  EXPECT_EQ(errorText<EIdTransferAborted>([&] { download(); }), "Transfer aborted.");
  exitPath.join();
  EXPECT_FALSE(ftp_.Connected());
  EXPECT_TRUE(fs::is_empty(local_.path()));
  ftp_.Abort();  // nothing in progress: nothing happens
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, LineBreaksInArgumentsAndActiveModeAreRefusedBeforeAnythingIsSent) {
  start({expect("CWD ok"), reply("250 ok"), waitForClose()});
  EXPECT_THROW(ftp_.EnterFolder("x\r\nDELE base.zlib"), EIdException);
  EXPECT_THROW(ftp_.RemoveRemote(std::string("a\nb")), EIdException);
  ftp_.Passive = false;
  MemoryUploadSource source("abc");
  EXPECT_THROW(ftp_.UploadStream(source, "x", false), EIdException);
  ftp_.EnterFolder("ok");
  EXPECT_EQ(finish(), "");
  EXPECT_EQ(server_->commands(),
            (Lines{"USER copia_ftp_dovra", "PASS lotusgravelz2", "TYPE I", "SYST", "CWD ok"}));
}

}  // namespace
}  // namespace dovra
