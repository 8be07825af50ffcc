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

// Ports given on their own and a web host with its port are what every worker test runs
// with; here the defaults and the other forms.
TEST(MakerServers, FixedPortsUnlessTheEnvironmentSaysOtherwise) {
  CleanEnv clean;
  EXPECT_FALSE(uploadFtpServer().host.empty());
  EXPECT_EQ(nfeFtpServer().host, uploadFtpServer().host);
  EXPECT_EQ(webServerBaseUrl().rfind("http://", 0), 0u);
  ScopedEnv plain("DOVRA_FTP_HOST", "127.0.0.1");
  EXPECT_EQ(uploadFtpServer().host, "127.0.0.1");
  EXPECT_EQ(uploadFtpServer().port, 5510);
  EXPECT_EQ(nfeFtpServer().host, "127.0.0.1");
  EXPECT_EQ(nfeFtpServer().port, 5521);

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
