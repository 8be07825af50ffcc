// The FTP session against a real server (pyftpdlib on loopback).
#include "transfer/ftp_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/temp_dir.h"
#include "support/test_servers.h"

namespace dovra {
namespace {

namespace fs = std::filesystem;
using test::FtpTestServer;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string pattern(size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  unsigned x = seed * 2654435761u + 12345u;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<char>(x >> 24);
  }
  return bytes;
}

class FtpSessionTest : public ::testing::Test {
 protected:
  FtpSessionTest() : root_("ftproot"), local_("ftplocal"), server_(root_.path()) {}

  void setUpSession(TIdFTP& ftp, const FtpTestServer& server) {
    ftp.Host = server.host();
    ftp.Port = server.port();
    ftp.Username = test::kFtpUser;
    ftp.Password = test::kFtpPassword;
    ftp.Passive = true;
    ftp.RecvBufferSize = 8192;
    ftp.SendBufferSize = 32768;
    ftp.ReadTimeout = 5000;
  }

  void open() {
    setUpSession(ftp_, server_);
    ftp_.OpenSession(true, 5000);
  }

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

  try {
    ftp_.OpenSession(true, 5000);
    FAIL() << "a second OpenSession must fail";
  } catch (const EIdAlreadyConnected& e) {
    EXPECT_STREQ(e.what(), "Already connected.");
  }
  EXPECT_TRUE(ftp_.Connected());

  ftp_.CloseSession();
  EXPECT_FALSE(ftp_.Connected());
  ftp_.CloseSession();
  // The session opens again after a close.
  ftp_.OpenSession(true, 5000);
  EXPECT_TRUE(ftp_.Connected());
}

TEST_F(FtpSessionTest, WrongPasswordFailsWithTheReplyTextAndLeavesTheSessionClosed) {
  setUpSession(ftp_, server_);
  ftp_.Password = "wrong";
  try {
    ftp_.OpenSession(true, 5000);
    FAIL() << "login must fail";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 530);
    EXPECT_STREQ(e.what(), "Authentication failed.\r\n");
  }
  EXPECT_FALSE(ftp_.Connected());
}

TEST_F(FtpSessionTest, CommandsOnAClosedSessionFailWithNotConnected) {
  setUpSession(ftp_, server_);
  MemoryUploadSource source("abc");
  EXPECT_THROW(ftp_.EnterFolder("/"), EIdNotConnected);
  EXPECT_THROW(ftp_.CreateFolder("x"), EIdNotConnected);
  EXPECT_THROW(ftp_.RemoteSize("x"), EIdNotConnected);
  EXPECT_THROW(ftp_.UploadStream(source, "x", false), EIdNotConnected);
  EXPECT_THROW(ftp_.RemoveRemote("x"), EIdNotConnected);
  EXPECT_THROW(ftp_.RenameRemote("x", "y"), EIdNotConnected);
  try {
    ftp_.DownloadFile("x", local_.file("x"));
    FAIL();
  } catch (const EIdNotConnected& e) {
    EXPECT_STREQ(e.what(), "Not Connected");
  }
  EXPECT_FALSE(fs::exists(local_.file("x")));
}

TEST_F(FtpSessionTest, CreatesAndEntersFolders) {
  open();
  ftp_.EnterFolder("/");
  ftp_.CreateFolder("12345678000195");
  EXPECT_TRUE(fs::is_directory(remote("12345678000195")));
  // Creating it again fails with the server's text; the session goes on.
  EXPECT_THROW(ftp_.CreateFolder("12345678000195"), EIdProtocolReplyError);
  ftp_.EnterFolder("12345678000195");
  ftp_.CreateFolder("XMLS");
  ftp_.EnterFolder("XMLS");
  MemoryUploadSource source("<nfe/>");
  ftp_.UploadStream(source, "a-nfe.xml", false);
  EXPECT_EQ(readFile(remote("12345678000195/XMLS/a-nfe.xml")), "<nfe/>");

  try {
    ftp_.EnterFolder("missing");
    FAIL();
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 550);
    EXPECT_NE(std::string(e.what()).find("\r\n"), std::string::npos);
  }
  EXPECT_TRUE(ftp_.Connected());
}

TEST_F(FtpSessionTest, StoresAFileAndReportsItsSize) {
  const std::string bytes = pattern(300000);
  writeFile(local_.file("archive.zlib"), bytes);
  open();
  std::vector<int64_t> progress;
  ftp_.setUploadProgress([&](int64_t sent) { progress.push_back(sent); });
  ftp_.UploadFile(local_.file("archive.zlib"), "archive.zlib_temp", false);
  EXPECT_EQ(readFile(remote("archive.zlib_temp")), bytes);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 300000);
  EXPECT_EQ(progress.front(), 32768);  // chunks of SendBufferSize
  EXPECT_EQ(ftp_.RemoteSize("archive.zlib_temp"), 300000);
  EXPECT_EQ(ftp_.RemoteSize("missing.zlib"), -1);

  // STOR replaces an existing file.
  MemoryUploadSource shorter("short");
  ftp_.UploadStream(shorter, "archive.zlib_temp", false);
  EXPECT_EQ(readFile(remote("archive.zlib_temp")), "short");
}

TEST_F(FtpSessionTest, AppendResumesFromTheRemoteSize) {
  const std::string bytes = pattern(5000, 7);
  writeFile(remote("base.zlib_temp"), bytes.substr(0, 1000));
  open();
  const int64_t resume = ftp_.RemoteSize("base.zlib_temp");
  ASSERT_EQ(resume, 1000);
  MemoryUploadSource source(bytes);
  source.seek(resume);
  ftp_.UploadStream(source, "base.zlib_temp", true);
  EXPECT_EQ(readFile(remote("base.zlib_temp")), bytes);
  EXPECT_EQ(source.position(), 5000);
}

TEST_F(FtpSessionTest, UploadWithTheStreamAtItsEndSendsNothing) {
  writeFile(remote("kept"), "old content");
  open();
  MemoryUploadSource source("abc");
  source.seek(3);
  ftp_.UploadStream(source, "kept", true);  // APPE of nothing: unchanged
  EXPECT_EQ(readFile(remote("kept")), "old content");
  ftp_.UploadStream(source, "empty", false);  // STOR of nothing: empty file
  EXPECT_TRUE(fs::exists(remote("empty")));
  EXPECT_EQ(fs::file_size(remote("empty")), 0u);
}

TEST_F(FtpSessionTest, StreamPositionBeyondItsEndFailsAndTheSessionGoesOn) {
  writeFile(remote("big.zlib_temp"), pattern(6000));
  open();
  MemoryUploadSource source(pattern(5000));
  source.seek(ftp_.RemoteSize("big.zlib_temp"));
  try {
    ftp_.UploadStream(source, "big.zlib_temp", true);
    FAIL();
  } catch (const EIdNoDataToRead& e) {
    EXPECT_STREQ(e.what(), "No data to read.");
  }
  EXPECT_EQ(readFile(remote("big.zlib_temp")), pattern(6000));
  EXPECT_TRUE(ftp_.Connected());
  EXPECT_EQ(ftp_.RemoteSize("big.zlib_temp"), 6000);  // replies still in step
}

TEST_F(FtpSessionTest, UploadFileOfAMissingLocalFileFailsBeforeSending) {
  open();
  EXPECT_THROW(ftp_.UploadFile(local_.file("missing.xml"), "missing.xml", false), EInOutError);
  EXPECT_FALSE(fs::exists(remote("missing.xml")));
  EXPECT_TRUE(ftp_.Connected());
  EXPECT_EQ(ftp_.RemoteSize("missing.xml"), -1);
}

TEST_F(FtpSessionTest, RemovesAndRenames) {
  writeFile(remote("base.zlib"), "old");
  writeFile(remote("base.zlib_temp"), "new");
  open();
  ftp_.RemoveRemote("base.zlib");
  EXPECT_FALSE(fs::exists(remote("base.zlib")));
  EXPECT_THROW(ftp_.RemoveRemote("base.zlib"), EIdProtocolReplyError);
  ftp_.RenameRemote("base.zlib_temp", "base.zlib");
  EXPECT_EQ(readFile(remote("base.zlib")), "new");
  EXPECT_FALSE(fs::exists(remote("base.zlib_temp")));
  try {
    ftp_.RenameRemote("nothing", "other");
    FAIL();
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 550);
  }
  EXPECT_TRUE(ftp_.Connected());
}

TEST_F(FtpSessionTest, DownloadsIntoANewFileOnly) {
  const std::string bytes = pattern(200000, 3);
  fs::create_directory(remote("exe"));
  writeFile(remote("exe/Renovador.exe"), bytes);
  open();
  ftp_.EnterFolder("/");
  ftp_.EnterFolder("exe");
  const std::string target = local_.file("Renovador.exe");
  ftp_.DownloadFile("Renovador.exe", target);
  EXPECT_EQ(readFile(target), bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(local_.path()), fs::directory_iterator()), 1);

  writeFile(target, "left over");
  try {
    ftp_.DownloadFile("Renovador.exe", target);
    FAIL();
  } catch (const EIdFTPFileAlreadyExists& e) {
    EXPECT_STREQ(e.what(), "Destination file already exists.");
  }
  EXPECT_EQ(readFile(target), "left over");
}

TEST_F(FtpSessionTest, FailedDownloadLeavesNoFile) {
  open();
  const std::string target = local_.file("Renovador.exe");
  try {
    ftp_.DownloadFile("Renovador.exe", target);
    FAIL();
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.errorCode(), 550);
  }
  EXPECT_TRUE(fs::is_empty(local_.path()));
  EXPECT_TRUE(ftp_.Connected());
  EXPECT_EQ(ftp_.RemoteSize("Renovador.exe"), -1);
}

TEST_F(FtpSessionTest, TwoServersAtOnceKeepTheirOwnFiles) {
  TempDir nfeRoot("nferoot");
  FtpTestServer nfeServer(nfeRoot.path());
  ASSERT_NE(nfeServer.port(), server_.port());
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

TEST(FtpSessionConnect, RefusedConnectionGivesTheSocketErrorText) {
  TIdFTP ftp;
  ftp.Host = "127.0.0.1";
  ftp.Port = test::refusedLoopbackPort();
  try {
    ftp.OpenSession(true, 5000);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.lastError(), ECONNREFUSED);
    EXPECT_EQ(std::string(e.what()),
              "Socket Error # " + std::to_string(ECONNREFUSED) + "\r\nConnection refused.");
  }
  EXPECT_FALSE(ftp.Connected());
}

TEST(FtpSessionConnect, UnansweredConnectTimesOut) {
  test::UnansweredListener silent;
  TIdFTP ftp;
  ftp.Host = "127.0.0.1";
  ftp.Port = silent.port();
  try {
    ftp.OpenSession(true, 300);
    FAIL();
  } catch (const EIdConnectTimeout& e) {
    EXPECT_STREQ(e.what(), "Connect timed out.");
  }
  EXPECT_FALSE(ftp.Connected());
}

TEST(FtpSessionConnect, UnresolvableHostGivesASocketError) {
  TIdFTP ftp;
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
