#include "transfer/maker_servers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/error.h"

namespace dovra {
namespace {

// Sets (or clears) an environment variable for one test and puts it back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

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
  {
    ScopedEnv port("DOVRA_FTP_PORT", "abc");
    EXPECT_THROW(uploadFtpServer(), Exception);
  }
  {
    ScopedEnv port("DOVRA_NFE_FTP_PORT", "70000");
    EXPECT_THROW(nfeFtpServer(), Exception);
  }
  {
    ScopedEnv host("DOVRA_FTP_HOST", "h:0");
    EXPECT_THROW(uploadFtpServer(), Exception);
  }
  ScopedEnv web("DOVRA_WEB_HOST", "h:");
  EXPECT_THROW(webServerBaseUrl(), Exception);
}

}  // namespace
}  // namespace dovra
