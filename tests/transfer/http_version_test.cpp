// HTTP GET against a real server on loopback, the version document and the query encoder.
// (The version fetch and the date reports are driven through their workers.)
#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/http_get.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "transfer/version_document.h"

namespace dovra {
namespace {

// A missing document and a refused port are driven through the self-update check.
TEST(HttpGet, FetchesAServedFileLimitsTheBodyAndTakesHttpOnly) {
  test::TempDir root("httproot");
  test::writeFile(root.path() / "big.xml", std::string(100000, 'x'));
  test::HttpTestServer server(root.path());
  const HttpResponse response = httpGet(server.baseUrl() + "/big.xml");
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, std::string(100000, 'x'));
  EXPECT_EQ(server.requests(), std::vector<std::string>{"/big.xml"});
  HttpGetLimits limits;
  limits.maxBodyBytes = 1000;
  EXPECT_THROW(httpGet(server.baseUrl() + "/big.xml", limits), Exception);
  EXPECT_THROW(httpGet("file:///etc/passwd"), Exception);
}

TEST(QueryValue, OnlyWhatAQueryValueCannotHoldIsEncoded) {
  EXPECT_EQ(encodeQueryValue("12345678000195"), "12345678000195");
  EXPECT_EQ(encodeQueryValue("08/12/2026"), "08/12/2026");
  EXPECT_EQ(encodeQueryValue("a-b.c_d~e!$'()*,;:@/?"), "a-b.c_d~e!$'()*,;:@/?");
  EXPECT_EQ(encodeQueryValue(""), "");
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
  for (const std::string& text :
       {document("abc"), document("14a"), document("1 4"), document(""), document("2147483648"),
        document("0x0E"),
        // Missing elements.
        std::string("<dovrainformatica></dovrainformatica>"),
        std::string("<outro><versao>14</versao></outro>"),
        std::string("<dovrainformatica><a><versao>14</versao></a></dovrainformatica>"),
        // Not XML.
        std::string("14"), std::string("<html><body>Not found</body>"), std::string(),
        // Document type declarations.
        std::string("<!DOCTYPE dovrainformatica [<!ENTITY v \"14\">]>"
                    "<dovrainformatica><versao>&v;</versao></dovrainformatica>"),
        std::string("<!DOCTYPE dovrainformatica SYSTEM \"file:///etc/hostname\">"
                    "<dovrainformatica><versao>14</versao></dovrainformatica>")}) {
    EXPECT_THROW(parseVersionDocument(text), Exception) << text;
  }
}

}  // namespace
}  // namespace dovra
