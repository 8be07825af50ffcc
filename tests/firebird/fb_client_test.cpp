// Loading the client library at run time ($DOVRA_FBCLIENT or libfbclient.so.2) and turning
// status vectors into errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "firebird/fb_client.h"
#include "firebird/ib_database.h"
#include "firebird/ib_service.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

using test::errorText;

TEST(FbClient, LoadingNamesAMissingLibraryOrAMissingEntryPoint) {
  EXPECT_EQ(errorText([] { FbClient::load("/nonexistent/libfbclient-missing.so"); }),
            "InterBase library /nonexistent/libfbclient-missing.so not found in the path. "
            "Please install InterBase to use this functionality");
  // libz is everywhere this program builds, and has none of the client's functions.
  EXPECT_EQ(errorText([] { FbClient::load("libz.so.1"); }),
            "Entry point isc_attach_database not found in libz.so.1");

  const std::unique_ptr<FbClient> client = FbClient::load("libfbclient.so.2");
  EXPECT_EQ(client->name(), "libfbclient.so.2");
  EXPECT_NE(client->isc_service_query, nullptr);
  EXPECT_NE(client->fb_interpret, nullptr);
}

// Database and service objects created in a fresh process with $DOVRA_FBCLIENT naming a
// missing file fail with the message naming that file.
TEST(FbClientDeathTest, ObjectsCannotBeCreatedWithoutTheLibrary) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* expected =
      "InterBase library /nonexistent/dir/libfbclient\\.so\\.2 not found in the path\\. "
      "Please install InterBase to use this functionality";
  const auto attempt = [](auto make) {
    setenv("DOVRA_FBCLIENT", "/nonexistent/dir/libfbclient.so.2", 1);
    try {
      make();
    } catch (const Exception& e) {
      std::fprintf(stderr, "%s", e.what());
      std::fflush(stderr);
      std::_Exit(3);
    }
    std::_Exit(1);
  };
  EXPECT_EXIT(attempt([] { IbDatabase db; }), ::testing::ExitedWithCode(3), expected);
  EXPECT_EXIT(attempt([] { TIBBackupService svc; }), ::testing::ExitedWithCode(3), expected);
  EXPECT_EXIT(attempt([] { TIBRestoreService svc; }), ::testing::ExitedWithCode(3), expected);
}

TEST(FbClient, StatusVectorsBecomeErrorsWithTheLibrarysText) {
  const FbClient& client = FbClient::instance();
  const char* relation = "PARGERALX";
  const ISC_STATUS status[] = {
      isc_arg_gds, isc_dsql_error, isc_arg_gds,    isc_dsql_relation_err,
      isc_arg_gds, isc_random,     isc_arg_string, reinterpret_cast<ISC_STATUS>(relation),
      isc_arg_end};
  const EIBError error = client.error(status);
  EXPECT_EQ(error.gdsCode(), isc_dsql_error);
  EXPECT_LT(error.sqlCode(), 0);
  // One line per status item, joined by CRLF, none at the end.
  const std::string message = error.what();
  EXPECT_NE(message.find("\r\nPARGERALX"), std::string::npos) << message;
  EXPECT_EQ(message.find("\r\n\r\n"), std::string::npos);
  EXPECT_NE(message.substr(message.size() - 2), "\r\n");
  size_t lines = 1;
  for (size_t p = message.find("\r\n"); p != std::string::npos; p = message.find("\r\n", p + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, 3u) << message;

  const ISC_STATUS ok[] = {isc_arg_gds, 0, isc_arg_end};
  EXPECT_NO_THROW(client.check(ok));
  EXPECT_THROW(client.check(status), EIBError);
}

TEST(FbClient, ClientTextBecomesUtf8) {
  EXPECT_EQ(clientTextToUtf8("plain"), "plain");
  EXPECT_EQ(clientTextToUtf8("s\xC3\xA3o"), "s\xC3\xA3o");                      // already UTF-8
  EXPECT_EQ(clientTextToUtf8("s\xE3o"), "s\xC3\xA3o");                          // Windows-1252
  EXPECT_EQ(clientTextToUtf8("\xC3\x28"), "\xC3\x83(");                         // invalid UTF-8
  EXPECT_EQ(clientTextToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // surrogate
}

}  // namespace
}  // namespace dovra
