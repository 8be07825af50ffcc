// The FTP session against a scripted server: replies and failures a real server will not
// produce on demand.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/fault_ftp_server.h"
#include "support/temp_dir.h"
#include "transfer/ftp_session.h"

namespace dovra {
namespace {

namespace fs = std::filesystem;
using test::FaultFtpServer;
using test::TempDir;
using namespace test::fault;

using Script = std::vector<Step>;

Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Script login() {
  return {reply("220 ready"),        expect("USER copia_ftp_dovra"),
          reply("331 password?"),    expect("PASS lotusgravelz2"),
          reply("230 logged in"),    expect("TYPE I"),
          reply("200 binary"),       expect("SYST"),
          reply("215 UNIX Type: L8")};
}

std::string bytes(size_t size) {
  std::string b(size, '\0');
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 131 + 7) % 251);
  return b;
}

void setUp(TIdFTP& ftp, const FaultFtpServer& server, int readTimeoutMs = 3000) {
  ftp.Host = server.host();
  ftp.Port = server.port();
  ftp.Username = "copia_ftp_dovra";
  ftp.Password = "lotusgravelz2";
  ftp.RecvBufferSize = 8192;
  ftp.ReadTimeout = readTimeoutMs;
}

TEST(FtpFaultLogin, MultiLineGreetingIsReadAsOneReply) {
  FaultFtpServer server(Script{raw("220-Welcome\r\n220-second line\r\n\r\n220 ready\r\n"),
                               expect("USER copia_ftp_dovra"), reply("331 password?"),
                               expect("PASS lotusgravelz2"), reply("230 ok"), expect("TYPE I"),
                               reply("200 ok"), expect("SYST"), reply("215 UNIX"), waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server);
  ftp.OpenSession(true, 5000);
  EXPECT_EQ(ftp.greeting().numericCode, 220);
  EXPECT_EQ(ftp.greeting().text, (std::vector<std::string>{"Welcome", "second line", "ready"}));
  ftp.CloseSession();
  EXPECT_EQ(server.finish(), "");
  // No QUIT on close.
  EXPECT_EQ(server.commands().back(), "SYST");
}

TEST(FtpFaultLogin, User230SendsNoPassword) {
  FaultFtpServer server(Script{reply("220 ready"), expect("USER copia_ftp_dovra"),
                               reply("230 no password needed"), expect("TYPE I"), reply("200 ok"),
                               expect("SYST"), reply("500 unknown"), waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server);
  ftp.OpenSession(true, 5000);  // SYST 500 is accepted too
  EXPECT_TRUE(ftp.Connected());
  EXPECT_EQ(ftp.loginMessage().numericCode, 230);
  ftp.CloseSession();
  EXPECT_EQ(server.finish(), "");
  EXPECT_EQ(server.commands(),
            (std::vector<std::string>{"USER copia_ftp_dovra", "TYPE I", "SYST"}));
}

TEST(FtpFaultLogin, OpenWithoutLoginSkipsUserAndPass) {
  FaultFtpServer server(Script{reply("220 ready"), expect("TYPE I"), reply("200 ok"),
                               expect("SYST"), reply("200 ok"), waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server);
  ftp.OpenSession(false, 5000);
  ftp.CloseSession();
  EXPECT_EQ(server.finish(), "");
}

TEST(FtpFaultLogin, Syst502FailsTheOpenAndClosesTheSocket) {
  Script script = login();
  script.back() = reply("502 Command not implemented.");
  FaultFtpServer server(script + Script{waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server);
  try {
    ftp.OpenSession(true, 5000);
    FAIL();
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 502);
    EXPECT_STREQ(e.what(), "Command not implemented.\r\n");
  }
  EXPECT_FALSE(ftp.Connected());
  EXPECT_EQ(server.finish(), "");  // the server saw the connection closed
}

TEST(FtpFaultLogin, GreetingOtherThan220FailsTheOpen) {
  FaultFtpServer server(Script{reply("421 Too many users"), waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server);
  try {
    ftp.OpenSession(true, 5000);
    FAIL();
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 421);
    EXPECT_STREQ(e.what(), "Too many users\r\n");
  }
  EXPECT_FALSE(ftp.Connected());
  EXPECT_EQ(server.finish(), "");
  EXPECT_TRUE(server.commands().empty());
}

TEST(FtpFaultLogin, ServerClosingTheConnectionClosesTheSession) {
  FaultFtpServer server(Script{reply("220 ready"), expect("USER copia_ftp_dovra"), closeControl()});
  TIdFTP ftp;
  setUp(ftp, server);
  try {
    ftp.OpenSession(true, 5000);
    FAIL();
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_FALSE(ftp.Connected());
  EXPECT_EQ(server.finish(), "");
}

TEST(FtpFaultLogin, ReplyLineOverTheMaximumFailsAndClosesTheSession) {
  FaultFtpServer server(Script{raw("220 " + std::string(20000, 'x') + "\r\n"), waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server);
  try {
    ftp.OpenSession(true, 5000);
    FAIL();
  } catch (const EIdReadLnMaxLineLengthExceeded& e) {
    EXPECT_STREQ(e.what(), "Max line length exceeded.");
  }
  EXPECT_FALSE(ftp.Connected());
  EXPECT_EQ(server.finish(), "");
}

TEST(FtpFaultLogin, ReplyLineOfExactlyTheMaximumIsAccepted) {
  Script script = login();
  script.front() = reply("220 " + std::string(16380, 'x'));
  FaultFtpServer server(script + Script{waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server);
  ftp.OpenSession(true, 5000);
  EXPECT_EQ(ftp.greeting().text.front().size(), 16380u);
  ftp.CloseSession();
  EXPECT_EQ(server.finish(), "");
}

TEST(FtpFaultTimeouts, SilentServerTimesOutAndTheSessionIsClosed) {
  FaultFtpServer server(Script{reply("220 ready"), expect("USER copia_ftp_dovra"), waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server, 300);
  try {
    ftp.OpenSession(true, 5000);
    FAIL();
  } catch (const EIdReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Read timed out.");
  }
  EXPECT_FALSE(ftp.Connected());
  EXPECT_EQ(server.finish(), "");
}

TEST(FtpFaultTimeouts, DataThatStopsComingTimesOutAndLeavesNoFile) {
  TempDir local("ftpfault");
  FaultFtpServer server(login() + Script{expect("PASV"), pasv(), acceptData(),
                                         expect("RETR Renovador.exe"), reply("150 here it comes"),
                                         sendData(bytes(1000)), waitForClose()});
  TIdFTP ftp;
  setUp(ftp, server);
  ftp.OpenSession(true, 5000);
  ftp.ReadTimeout = 300;
  EXPECT_THROW(ftp.DownloadFile("Renovador.exe", local.file("Renovador.exe")), EIdReadTimeout);
  EXPECT_FALSE(ftp.Connected());
  EXPECT_TRUE(fs::is_empty(local.path()));
  EXPECT_EQ(server.finish(), "");
}

TEST(FtpFaultTimeouts, CloseSessionFromAnotherThreadEndsABlockedOpenAtOnce) {
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

  TempDir local_;
  std::unique_ptr<FaultFtpServer> server_;
  TIdFTP ftp_;
};

TEST_F(FtpFaultTransfer, PasvWithParentheses) {
  start({expect("PASV"), pasv("127,0,0,1", true), acceptData(), expect("RETR Renovador.exe"),
         reply("150 Opening BINARY mode data connection (3000 bytes)."), sendData(bytes(3000)),
         closeData(), reply("226 Transfer complete."), waitForClose()});
  ftp_.DownloadFile("Renovador.exe", local_.file("Renovador.exe"));
  EXPECT_EQ(test::readFile(local_.file("Renovador.exe")), bytes(3000));
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, PasvWithoutParentheses) {
  start({expect("PASV"), pasv("127,0,0,1", false), acceptData(), expect("STOR k-nfe.xml"),
         reply("150 ok"), receiveData(), reply("226 Transfer complete."), waitForClose()});
  MemoryUploadSource source(bytes(70000));
  ftp_.UploadStream(source, "k-nfe.xml", false);
  EXPECT_EQ(server_->receivedData(), bytes(70000));
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, PasvAddressZeroUsesTheControlPeer) {
  start({expect("PASV"), pasv("0,0,0,0", true), acceptData(), expect("RETR a"), reply("125 go"),
         sendData("abc"), closeData(), reply("250 done"), waitForClose()});
  ftp_.DownloadFile("a", local_.file("a"));
  EXPECT_EQ(test::readFile(local_.file("a")), "abc");
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, UnreadablePasvReplyFails) {
  start({expect("PASV"), reply("227 somewhere"), expect("CWD /"), reply("250 ok"), waitForClose()});
  MemoryUploadSource source("x");
  EXPECT_THROW(ftp_.UploadStream(source, "x", false), EIdException);
  ftp_.EnterFolder("/");  // nothing left pending
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, SizeOfAMissingFileIsMinusOne) {
  start({expect("SIZE base.zlib_temp"), reply("550 No such file"), expect("SIZE big"),
         reply("213 3000000000"), waitForClose()});
  EXPECT_EQ(ftp_.RemoteSize("base.zlib_temp"), -1);
  EXPECT_EQ(ftp_.RemoteSize("big"), 3000000000LL);  // past 2 GiB
  EXPECT_TRUE(ftp_.Connected());
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, Final426AfterTheDataIsAFailedUpload) {
  start({expect("PASV"), pasv(), acceptData(), expect("APPE base.zlib_temp"), reply("150 ok"),
         receiveData(), reply("426 Connection closed; transfer aborted."), expect("CWD /"),
         reply("250 ok"), waitForClose()});
  MemoryUploadSource source(bytes(5000));
  source.seek(1000);
  try {
    ftp_.UploadStream(source, "base.zlib_temp", true);
    FAIL() << "a 426 must not count as a completed transfer";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 426);
    EXPECT_STREQ(e.what(), "Connection closed; transfer aborted.\r\n");
  }
  EXPECT_EQ(server_->receivedData(), bytes(5000).substr(1000));
  ftp_.EnterFolder("/");  // the session goes on
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, Final450IsAFailedDownloadAndLeavesNoFile) {
  start({expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"), reply("150 ok"),
         sendData(bytes(4000)), closeData(), reply("450 File unavailable."), waitForClose()});
  EXPECT_THROW(ftp_.DownloadFile("Renovador.exe", local_.file("Renovador.exe")),
               EIdProtocolReplyError);
  EXPECT_TRUE(fs::is_empty(local_.path()));
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, DataConnectionDroppedMidwayFailsTheDownload) {
  start({expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"),
         reply("150 Opening BINARY mode data connection (50000 bytes)."), sendData(bytes(20000)),
         pause(50), resetData(), reply("426 Connection reset."), expect("CWD /"), reply("250 ok"),
         waitForClose()});
  EXPECT_THROW(ftp_.DownloadFile("Renovador.exe", local_.file("Renovador.exe")), EIdException);
  EXPECT_TRUE(fs::is_empty(local_.path()));
  EXPECT_TRUE(ftp_.Connected());
  ftp_.EnterFolder("/");
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, ShortDownloadAcceptedByTheServerIsStillAFailure) {
  start({expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"),
         reply("150 Opening BINARY mode data connection for Renovador.exe (5000 bytes)."),
         sendData(bytes(2000)), closeData(), reply("226 Transfer complete."), expect("CWD /"),
         reply("250 ok"), waitForClose()});
  try {
    ftp_.DownloadFile("Renovador.exe", local_.file("Renovador.exe"));
    FAIL();
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Transfer incomplete: 2000 of 5000 bytes received.");
  }
  EXPECT_TRUE(fs::is_empty(local_.path()));
  ftp_.EnterFolder("/");
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, DataConnectionDroppedMidwayFailsTheUpload) {
  start({expect("PASV"), pasv(), acceptData(), expect("STOR big"), reply("150 ok"),
         receiveDataBytes(65536), resetData(), reply("426 Connection reset."), waitForClose()});
  MemoryUploadSource source(bytes(16 << 20));
  EXPECT_THROW(ftp_.UploadStream(source, "big", false), EIdException);
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, RefusedPreliminaryReplyFailsWithItsText) {
  start({expect("PASV"), pasv(), acceptData(), expect("STOR x"), reply("553 Permission denied."),
         expect("CWD /"), reply("250 ok"), waitForClose()});
  MemoryUploadSource source("abc");
  try {
    ftp_.UploadStream(source, "x", false);
    FAIL();
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_STREQ(e.what(), "Permission denied.\r\n");
  }
  ftp_.EnterFolder("/");
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, AbortFromAnotherThreadStopsADownload) {
  start({expect("PASV"), pasv(), acceptData(), expect("RETR Renovador.exe"), reply("150 ok"),
         sendData(bytes(1000)), expect("ABOR"), reply("426 Transfer aborted."),
         reply("226 Abort successful."), waitForClose()});
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
  try {
    ftp_.DownloadFile("Renovador.exe", local_.file("Renovador.exe"));
    FAIL();
  } catch (const EIdTransferAborted& e) {
    EXPECT_STREQ(e.what(), "Transfer aborted.");
  }
  exitPath.join();
  EXPECT_FALSE(ftp_.Connected());
  EXPECT_TRUE(fs::is_empty(local_.path()));
  ftp_.Abort();  // nothing in progress: nothing happens
  EXPECT_EQ(finish(), "");
}

TEST_F(FtpFaultTransfer, CloseSessionFromAnotherThreadEndsABlockedUpload) {
  // The server never reads the data, so the upload blocks once the buffers are full.
  start(
      {expect("PASV"), pasv(), acceptData(), expect("STOR big"), reply("150 ok"), waitForClose()});
  ftp_.ReadTimeout = 20000;
  std::atomic<bool> sending{false};
  ftp_.setUploadProgress([&](int64_t) { sending = true; });
  std::thread exitPath([&] {
    while (!sending) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ftp_.CloseSession();
  });
  MemoryUploadSource source(bytes(64 << 20));
  try {
    ftp_.UploadStream(source, "big", false);
    FAIL();
  } catch (const EIdNotConnected& e) {
    EXPECT_STREQ(e.what(), "Not Connected");
  }
  exitPath.join();
  EXPECT_FALSE(ftp_.Connected());
  EXPECT_LT(source.position(), source.size());
  EXPECT_EQ(server_->finish(), "");
}

TEST_F(FtpFaultTransfer, CommandArgumentsCannotCarryLineBreaks) {
  start({expect("CWD ok"), reply("250 ok"), waitForClose()});
  EXPECT_THROW(ftp_.EnterFolder("x\r\nDELE base.zlib"), EIdException);
  EXPECT_THROW(ftp_.RemoveRemote(std::string("a\nb")), EIdException);
  ftp_.EnterFolder("ok");
  EXPECT_EQ(finish(), "");
  for (const auto& command : server_->commands())
    EXPECT_EQ(command.find("DELE"), std::string::npos);
}

TEST_F(FtpFaultTransfer, ActiveModeIsRefusedBeforeAnythingIsSent) {
  start({expect("CWD /"), reply("250 ok"), waitForClose()});
  ftp_.Passive = false;
  MemoryUploadSource source("abc");
  EXPECT_THROW(ftp_.UploadStream(source, "x", false), EIdException);
  ftp_.EnterFolder("/");
  EXPECT_EQ(finish(), "");
}

}  // namespace
}  // namespace dovra
