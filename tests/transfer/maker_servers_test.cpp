#include "transfer/maker_servers.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

using test::ScopedEnv;

struct CleanEnv {
  ScopedEnv host{"DOVRA_FTP_HOST", nullptr};
  ScopedEnv port{"DOVRA_FTP_PORT", nullptr};
  ScopedEnv nfe{"DOVRA_NFE_FTP_PORT", nullptr};
  ScopedEnv web{"DOVRA_WEB_HOST", nullptr};
};

TEST(MakerServers, BuildDefaultsWithTheFixedPorts) {
  CleanEnv clean;
  const ServerAddress upload = uploadFtpServer();
  const ServerAddress nfe = nfeFtpServer();
  EXPECT_FALSE(upload.host.empty());
  EXPECT_EQ(upload.port, 5510);
  EXPECT_EQ(nfe.host, upload.host);
  EXPECT_EQ(nfe.port, 5521);
  const std::string web = webServerBaseUrl();
  EXPECT_EQ(web.rfind("http://", 0), 0u);
  EXPECT_GT(web.size(), 7u);
  EXPECT_NE(web.back(), '/');
}

TEST(MakerServers, EnvironmentOverridesHostsAndPorts) {
  CleanEnv clean;
  ScopedEnv host("DOVRA_FTP_HOST", "127.0.0.1");
  ScopedEnv web("DOVRA_WEB_HOST", "localhost:8080");
  EXPECT_EQ(uploadFtpServer().host, "127.0.0.1");
  EXPECT_EQ(uploadFtpServer().port, 5510);
  EXPECT_EQ(nfeFtpServer().host, "127.0.0.1");
  EXPECT_EQ(nfeFtpServer().port, 5521);
  EXPECT_EQ(webServerBaseUrl(), "http://localhost:8080");
  {
    ScopedEnv port("DOVRA_FTP_PORT", "2121");
    ScopedEnv nfePort("DOVRA_NFE_FTP_PORT", "2122");
    EXPECT_EQ(uploadFtpServer().port, 2121);
    EXPECT_EQ(nfeFtpServer().port, 2122);
  }
  ScopedEnv hostWithPort("DOVRA_FTP_HOST", "ftp.example.test:3021");
  EXPECT_EQ(uploadFtpServer().host, "ftp.example.test");
  EXPECT_EQ(uploadFtpServer().port, 3021);
  EXPECT_EQ(nfeFtpServer().port, 5521);
  {
    ScopedEnv port("DOVRA_FTP_PORT", "4021");  // the port variable wins
    EXPECT_EQ(uploadFtpServer().port, 4021);
  }
  ScopedEnv webPlain("DOVRA_WEB_HOST", "www.example.test");
  EXPECT_EQ(webServerBaseUrl(), "http://www.example.test");
  ScopedEnv webV6("DOVRA_WEB_HOST", "[::1]:81");
  EXPECT_EQ(webServerBaseUrl(), "http://[::1]:81");
}

TEST(MakerServers, BadPortsAreReported) {
  CleanEnv clean;
  struct Case {
    const char* name;
    const char* value;
    ServerAddress (*read)();
  };
  for (const Case& c : {Case{"DOVRA_FTP_PORT", "abc", uploadFtpServer},
                        Case{"DOVRA_NFE_FTP_PORT", "70000", nfeFtpServer},
                        Case{"DOVRA_FTP_HOST", "h:0", uploadFtpServer}}) {
    ScopedEnv bad(c.name, c.value);
    EXPECT_THROW(c.read(), Exception) << c.name << "=" << c.value;
  }
  ScopedEnv web("DOVRA_WEB_HOST", "h:");
  EXPECT_THROW(webServerBaseUrl(), Exception);
}

}  // namespace
}  // namespace dovra
