// HTTP GET against a real server on loopback, the version document and the query encoder.
#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/http_get.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "transfer/version_document.h"

namespace dovra {
namespace {

using test::HttpTestServer;
using test::TempDir;
using test::writeFile;

class HttpGetTest : public ::testing::Test {
 protected:
  HttpGetTest() : root_("httproot"), server_((prepare(), root_.path())) {}

  void prepare() {
    std::filesystem::create_directories(root_.path() / "atl");
    writeFile(root_.path() / "atl" / "atl_bkp.xml",
              "<?xml version=\"1.0\"?>\n<dovrainformatica>\n  <versao> 14\n</versao>\n"
              "  <outro>x</outro>\n</dovrainformatica>\n");
    writeFile(root_.path() / "atl" / "updataBkp.php", "<ok/>");
  }

  TempDir root_;
  HttpTestServer server_;
};

TEST_F(HttpGetTest, FetchesAServedFileAndTheServerRecordsTheRequest) {
  const HttpResponse response = httpGet(server_.baseUrl() + "/atl/atl_bkp.xml");
  EXPECT_EQ(response.status, 200);
  EXPECT_NE(response.body.find("<versao> 14"), std::string::npos);
  EXPECT_EQ(server_.requests(), std::vector<std::string>{"/atl/atl_bkp.xml"});
}

TEST_F(HttpGetTest, MissingFileGivesItsStatusWithoutFailing) {
  const HttpResponse response = httpGet(server_.baseUrl() + "/atl/nothing.xml");
  EXPECT_EQ(response.status, 404);
}

TEST_F(HttpGetTest, QueryValuesGoOutAsEncoded) {
  const std::string url = server_.baseUrl() +
                          "/atl/updataBkp.php?fk=" + encodeQueryValue("12345678000195") +
                          "&data=" + encodeQueryValue("08/12/2026");
  EXPECT_EQ(httpGet(url).status, 200);
  httpGet(server_.baseUrl() + "/atl/updataBkp.php?fk=" + encodeQueryValue("12 3&x=1") +
          "&data=" + encodeQueryValue("08/12/2026"));
  EXPECT_EQ(server_.requests(),
            (std::vector<std::string>{"/atl/updataBkp.php?fk=12345678000195&data=08/12/2026",
                                      "/atl/updataBkp.php?fk=12%203%26x%3D1&data=08/12/2026"}));
}

TEST_F(HttpGetTest, PublishedVersionIsReadFromTheServedDocument) {
  EXPECT_EQ(fetchPublishedVersion(server_.baseUrl() + "/atl/atl_bkp.xml"), 14);
  EXPECT_THROW(fetchPublishedVersion(server_.baseUrl() + "/atl/missing.xml"), Exception);
}

TEST_F(HttpGetTest, BodyOverTheLimitFails) {
  writeFile(root_.path() / "big.xml", std::string(100000, 'x'));
  HttpGetLimits limits;
  limits.maxBodyBytes = 1000;
  EXPECT_THROW(httpGet(server_.baseUrl() + "/big.xml", limits), Exception);
  EXPECT_EQ(httpGet(server_.baseUrl() + "/big.xml").body.size(), 100000u);
}

TEST(HttpGet, RefusedPortFailsWithCurlsText) {
  const int port = test::refusedLoopbackPort();
  try {
    httpGet("http://127.0.0.1:" + std::to_string(port) + "/atl/atl_bkp.xml");
    FAIL();
  } catch (const Exception& e) {
    const std::string text = e.what();
    EXPECT_NE(text.find("onnect"), std::string::npos) << text;
  }
}

TEST(HttpGet, UnsupportedSchemeFails) {
  EXPECT_THROW(httpGet("file:///etc/passwd"), Exception);
}

TEST(QueryValue, OrdinaryValuesPassUnchanged) {
  EXPECT_EQ(encodeQueryValue("12345678000195"), "12345678000195");
  EXPECT_EQ(encodeQueryValue("08/12/2026"), "08/12/2026");
  EXPECT_EQ(encodeQueryValue("a-b.c_d~e!$'()*,;:@/?"), "a-b.c_d~e!$'()*,;:@/?");
  EXPECT_EQ(encodeQueryValue(""), "");
}

TEST(QueryValue, CharactersAQueryValueCannotHoldAreEncoded) {
  EXPECT_EQ(encodeQueryValue("a b"), "a%20b");
  EXPECT_EQ(encodeQueryValue("&=+#%"), "%26%3D%2B%23%25");
  EXPECT_EQ(encodeQueryValue("\xC3\xA7"), "%C3%A7");  // UTF-8 "ç"
  EXPECT_EQ(encodeQueryValue("x\r\ny"), "x%0D%0Ay");
  EXPECT_EQ(encodeQueryValue("[a]\"<>\\^`{|}"), "%5Ba%5D%22%3C%3E%5C%5E%60%7B%7C%7D");
}

std::string document(const std::string& versao) {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><dovrainformatica><versao>" + versao +
         "</versao></dovrainformatica>";
}

TEST(VersionDocument, ReadsTheTrimmedNumber) {
  EXPECT_EQ(parseVersionDocument(document("13")), 13);
  EXPECT_EQ(parseVersionDocument(document(" 14 \n")), 14);
  EXPECT_EQ(parseVersionDocument(document("\r\n\t12\t")), 12);
  EXPECT_EQ(parseVersionDocument(document("-3")), -3);
  EXPECT_EQ(parseVersionDocument(document("<![CDATA[15]]>")), 15);
  EXPECT_EQ(parseVersionDocument("<dovrainformatica><a/><versao>16</versao></dovrainformatica>"),
            16);
}

TEST(VersionDocument, AnythingElseFails) {
  EXPECT_THROW(parseVersionDocument(document("abc")), Exception);
  EXPECT_THROW(parseVersionDocument(document("14a")), Exception);
  EXPECT_THROW(parseVersionDocument(document("1 4")), Exception);
  EXPECT_THROW(parseVersionDocument(document("")), Exception);
  EXPECT_THROW(parseVersionDocument(document("2147483648")), Exception);
  EXPECT_THROW(parseVersionDocument(document("0x0E")), Exception);
  // Missing elements.
  EXPECT_THROW(parseVersionDocument("<dovrainformatica></dovrainformatica>"), Exception);
  EXPECT_THROW(parseVersionDocument("<outro><versao>14</versao></outro>"), Exception);
  EXPECT_THROW(
      parseVersionDocument("<dovrainformatica><a><versao>14</versao></a></dovrainformatica>"),
      Exception);
  // Not XML.
  EXPECT_THROW(parseVersionDocument("14"), Exception);
  EXPECT_THROW(parseVersionDocument("<html><body>Not found</body>"), Exception);
  EXPECT_THROW(parseVersionDocument(""), Exception);
}

TEST(VersionDocument, DocumentTypeDeclarationsAreRefused) {
  EXPECT_THROW(parseVersionDocument("<!DOCTYPE dovrainformatica [<!ENTITY v \"14\">]>"
                                    "<dovrainformatica><versao>&v;</versao></dovrainformatica>"),
               Exception);
  EXPECT_THROW(parseVersionDocument("<!DOCTYPE dovrainformatica SYSTEM \"file:///etc/hostname\">"
                                    "<dovrainformatica><versao>14</versao></dovrainformatica>"),
               Exception);
}

}  // namespace
}  // namespace dovra
