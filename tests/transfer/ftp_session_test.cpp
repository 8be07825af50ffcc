// The FTP session against a real server (pyftpdlib on loopback).
#include "transfer/ftp_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/socket.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"
#include "support/test_servers.h"

namespace dovra {
namespace {

namespace fs = std::filesystem;
using test::errorText;
using test::FtpTestServer;
using test::pattern;
using test::readFile;
using test::TempDir;
using test::writeFile;

void setUpSession(TIdFTP& ftp, const FtpTestServer& server) {
  ftp.Host = server.host();
  ftp.Port = server.port();
  ftp.Username = test::kFtpUser;
  ftp.Password = test::kFtpPassword;
  ftp.RecvBufferSize = 8192;
  ftp.SendBufferSize = 32768;
  ftp.ReadTimeout = 5000;
}

// The code of the EIdProtocolReplyError that `fn` throws, or 0.
template <typename Fn>
int replyCode(Fn fn) {
  try {
    fn();
  } catch (const EIdProtocolReplyError& e) {
    return e.errorCode();
  }
  return 0;
}

class FtpSessionTest : public ::testing::Test {
 protected:
  FtpSessionTest() : root_("ftproot"), local_("ftplocal"), server_(root_.path()) {
    setUpSession(ftp_, server_);
  }
  void open() { ftp_.OpenSession(true, 5000); }
  fs::path remote(const std::string& name) const { return root_.path() / name; }

  TempDir root_;
  TempDir local_;
  FtpTestServer server_;
  TIdFTP ftp_;
};

TEST_F(FtpSessionTest, OpensLogsOnAndClosesWithoutQuit) {
  EXPECT_FALSE(ftp_.Connected());
  ftp_.CloseSession();  // nothing happens on a closed session
  open();
  EXPECT_TRUE(ftp_.Connected());
  EXPECT_EQ(ftp_.greeting().numericCode, 220);
  EXPECT_EQ(ftp_.greeting().text, std::vector<std::string>{"test server ready."});
  EXPECT_EQ(ftp_.loginMessage().numericCode, 230);
  EXPECT_EQ(ftp_.lastReply().numericCode, 215);  // SYST
  EXPECT_EQ(errorText<EIdAlreadyConnected>([&] { open(); }), "Already connected.");
  EXPECT_TRUE(ftp_.Connected());
  ftp_.CloseSession();
  EXPECT_FALSE(ftp_.Connected());
  // The session opens again after a close.
  open();
  EXPECT_TRUE(ftp_.Connected());
}

TEST_F(FtpSessionTest, AWrongPasswordOrAClosedSessionFailsAndLeavesItClosed) {
  ftp_.Password = "wrong";
  try {
    open();
    FAIL() << "login must fail";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 530);
    EXPECT_STREQ(e.what(), "Authentication failed.\r\n");
  }
  EXPECT_FALSE(ftp_.Connected());

  MemoryUploadSource source("abc");
  EXPECT_THROW(ftp_.EnterFolder("/"), EIdNotConnected);
  EXPECT_THROW(ftp_.CreateFolder("x"), EIdNotConnected);
  EXPECT_THROW(ftp_.RemoteSize("x"), EIdNotConnected);
  EXPECT_THROW(ftp_.UploadStream(source, "x", false), EIdNotConnected);
  EXPECT_THROW(ftp_.RemoveRemote("x"), EIdNotConnected);
  EXPECT_THROW(ftp_.RenameRemote("x", "y"), EIdNotConnected);
  EXPECT_EQ(errorText<EIdNotConnected>([&] { ftp_.DownloadFile("x", local_.file("x")); }),
            "Not Connected");
  EXPECT_FALSE(fs::exists(local_.file("x")));
}

// Folders, renames, removals and resumed transfers against this server are driven through
// the upload and the NF-e export; here the edges those runs do not reach.
TEST_F(FtpSessionTest, TransferEdgesAndRefusedFileCommands) {
  writeFile(local_.file("archive.zlib"), pattern(3000));
  writeFile(remote("kept"), "old content");
  open();
  // STOR replaces an existing file; with the stream at its end, APPE leaves the file alone
  // and STOR makes it empty.
  ftp_.UploadFile(local_.file("archive.zlib"), "kept", false);
  EXPECT_EQ(readFile(remote("kept")), pattern(3000));
  MemoryUploadSource shorter("old content");
  ftp_.UploadStream(shorter, "kept", false);
  EXPECT_EQ(readFile(remote("kept")), "old content");
  ftp_.UploadStream(shorter, "kept", true);
  EXPECT_EQ(readFile(remote("kept")), "old content");
  ftp_.UploadStream(shorter, "empty", false);
  EXPECT_EQ(readFile(remote("empty")), "");

  // A position beyond the stream's end fails and the session goes on in step.
  MemoryUploadSource small(pattern(5000));
  small.seek(6000);
  EXPECT_EQ(errorText<EIdNoDataToRead>([&] { ftp_.UploadStream(small, "kept", true); }),
            "No data to read.");
  EXPECT_EQ(readFile(remote("kept")), "old content");
  EXPECT_EQ(ftp_.RemoteSize("kept"), 11);

  // A missing local file fails before anything is sent.
  EXPECT_THROW(ftp_.UploadFile(local_.file("missing.xml"), "missing.xml", false), EInOutError);
  EXPECT_EQ(ftp_.RemoteSize("missing.xml"), -1);

  // Refused file commands fail with the server's code and text; the session goes on.
  EXPECT_EQ(replyCode([&] { ftp_.RenameRemote("nothing", "other"); }), 550);
  EXPECT_EQ(replyCode([&] { ftp_.RemoveRemote("nothing"); }), 550);
  EXPECT_NE(errorText([&] { ftp_.EnterFolder("missing"); }).find("\r\n"), std::string::npos);
  EXPECT_TRUE(ftp_.Connected());
}

// A file missing on the server is driven through the self-update check.
TEST_F(FtpSessionTest, DownloadsIntoANewFileOnly) {
  const std::string bytes = pattern(200000, 3);
  fs::create_directory(remote("exe"));
  writeFile(remote("exe/Renovador.exe"), bytes);
  open();
  const std::string target = local_.file("Renovador.exe");
  ftp_.EnterFolder("exe");
  ftp_.DownloadFile("Renovador.exe", target);
  EXPECT_EQ(readFile(target), bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(local_.path()), fs::directory_iterator()), 1);

  writeFile(target, "left over");
  EXPECT_EQ(errorText<EIdFTPFileAlreadyExists>([&] { ftp_.DownloadFile("Renovador.exe", target); }),
            "Destination file already exists.");
  EXPECT_EQ(readFile(target), "left over");
}

TEST_F(FtpSessionTest, TwoServersAtOnceKeepTheirOwnFiles) {
  TempDir nfeRoot("nferoot");
  FtpTestServer nfeServer(nfeRoot.path());
  TIdFTP nfe;
  setUpSession(nfe, nfeServer);
  open();
  nfe.OpenSession(true, 5000);
  MemoryUploadSource a("archive"), b("invoice");
  std::thread other([&] {
    std::lock_guard<std::mutex> hold(nfe.lock());
    nfe.UploadStream(b, "k-nfe.xml", false);
  });
  {
    std::lock_guard<std::mutex> hold(ftp_.lock());
    ftp_.UploadStream(a, "base.zlib_temp", false);
  }
  other.join();
  EXPECT_EQ(readFile(remote("base.zlib_temp")), "archive");
  EXPECT_EQ(readFile(nfeRoot.path() / "k-nfe.xml"), "invoice");
  EXPECT_FALSE(fs::exists(remote("k-nfe.xml")));
  EXPECT_FALSE(fs::exists(nfeRoot.path() / "base.zlib_temp"));
}

TEST(FtpSessionConnect, RefusedUnansweredAndUnresolvableConnections) {
  TIdFTP ftp;
  ftp.Host = "127.0.0.1";
  ftp.Port = test::refusedLoopbackPort();
  try {
    ftp.OpenSession(true, 5000);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.lastError(), ECONNREFUSED);
    EXPECT_EQ(std::string(e.what()), "Socket Error # " +
                                         std::to_string(systemSocketErrorNumber(ECONNREFUSED)) +
                                         "\r\nConnection refused.");
#ifdef _WIN32
    EXPECT_NE(std::string(e.what()).find("# 10061\r\n"), std::string::npos) << e.what();
#endif
  }
  EXPECT_FALSE(ftp.Connected());

  test::UnansweredListener silent;
  ftp.Port = silent.port();
  EXPECT_EQ(errorText<EIdConnectTimeout>([&] { ftp.OpenSession(true, 300); }),
            "Connect timed out.");
  EXPECT_FALSE(ftp.Connected());

  ftp.Host = "";
  try {
    ftp.OpenSession(true, 300);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Socket Error # ", 0), 0u) << e.what();
    EXPECT_EQ(std::string(e.what()).back(), '.');
  }
  EXPECT_FALSE(ftp.Connected());
}

}  // namespace
}  // namespace dovra
