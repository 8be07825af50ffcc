// Named parameters, SQL literals and parameter lines: the pure parts of the database
// layer.
#include <gtest/gtest.h>

#include "firebird/erp_statements.h"
#include "firebird/ib_database.h"
#include "firebird/sql_params.h"
#include "firebird/string_list.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

using Names = std::vector<std::string>;

TEST(SqlParams, ReplacesNamedParametersInOrderAndUpperCasesNames) {
  const ParsedSql p = parseNamedParams(std::string(erp::kMarkNfeSent));
  EXPECT_EQ(p.text, " update NFE set NFEFTP = ? where NFEEMPRESA = ? and NFENOTA = ? ");
  EXPECT_EQ(p.names, (Names{"D1", "D2", "D3"}));

  const ParsedSql repeated = parseNamedParams("select :a, :B, :a$_1 from t where x = :A");
  EXPECT_EQ(repeated.text, "select ?, ?, ? from t where x = ?");
  EXPECT_EQ(repeated.names, (Names{"A", "B", "A$_1", "A"}));
}

TEST(SqlParams, LeavesLiteralsIdentifiersAndCommentsAlone) {
  const ParsedSql p = parseNamedParams(
      "select ':no', 'it''s :no', \"A:NO\" /* :no */ from t -- :no\n"
      "where a = :yes and b = q'{:no}' and c = Q'(x'':no)' and d = :\"Mixed Name\"");
  EXPECT_EQ(p.text,
            "select ':no', 'it''s :no', \"A:NO\" /* :no */ from t -- :no\n"
            "where a = ? and b = q'{:no}' and c = Q'(x'':no)' and d = ?");
  EXPECT_EQ(p.names, (Names{"YES", "Mixed Name"}));
}

TEST(SqlParams, KeepsStatementsWithoutParametersByteForByte) {
  for (const std::string& sql : erp::kAllStatements) {
    if (sql == erp::kMarkNfeSent || sql == erp::kRecordManualBackup) continue;
    const ParsedSql p = parseNamedParams(sql);
    EXPECT_EQ(p.text, sql);
    EXPECT_TRUE(p.names.empty()) << sql;
  }
  EXPECT_EQ(parseNamedParams(std::string(erp::kRecordManualBackup)).names, (Names{"D2"}));
}

TEST(SqlParams, UnterminatedLiteralsPositionalMarksAndQuoting) {
  EXPECT_EQ(parseNamedParams("select 'abc :x").text, "select 'abc :x");
  // Unterminated literal or comment, and a colon with no name after it: no parameter.
  for (const char* sql : {"select 'abc :x", "/* :x", "select a : b"}) {
    EXPECT_TRUE(parseNamedParams(sql).names.empty()) << sql;
  }
  EXPECT_EQ(parseNamedParams("insert into t values (?, :v)").names, (Names{"", "V"}));
  EXPECT_EQ(sqlQuote("it's"), "'it''s'");
  EXPECT_EQ(sqlQuote(""), "''");
}

TEST(StringList, NameValueLines) {
  StringList list;
  list.Add("user_name=SYSDBA");
  list.Add("password=a=b");
  list.Add("no separator");
  EXPECT_EQ(list.Names(1), "password");
  EXPECT_EQ(list.ValueFromIndex(1), "a=b");
  EXPECT_EQ(list.Names(2), "");
  EXPECT_EQ(list.Values("USER_NAME"), "SYSDBA");
  EXPECT_EQ(list.Values("missing"), "");

  list.SetValue("User_Name", "other");
  EXPECT_EQ(list[0], "User_Name=other");
  list.SetValue("role", "R1");
  EXPECT_EQ(list.Count(), 4u);
  EXPECT_EQ(list[3], "role=R1");

  // An empty value removes the line instead of setting it.
  list.SetValue("password", "");
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.IndexOfName("password"), -1);
  list.SetValue("absent", "");
  EXPECT_EQ(list.Count(), 3u);
}

TEST(DatabaseParameterBlock, CredentialsAsWindows1252AndCharacterSet) {
  StringList params;
  params.Add("user_name=JOÃO");
  params.Add("password=sé");
  const std::string dpb = IbDatabase::buildDpb(params, 3);
  const std::string expected = std::string("\x01", 1) +      // isc_dpb_version1
                               std::string("\x4d\x00", 2) +  // utf8_filename
                               "\x1c\x04"
                               "JO\xC3O" +  // user_name, cp1252
                               "\x1d\x02"
                               "s\xE9" +  // password, cp1252
                               "\x30\x07"
                               "WIN1252" +                                  // lc_ctype
                               std::string("\x3f\x04\x03\x00\x00\x00", 6);  // sql_dialect 3
  EXPECT_EQ(dpb, expected);

  StringList unknown;
  unknown.Add("page_size=8192");
  EXPECT_EQ(test::errorText([&] { IbDatabase::buildDpb(unknown, 3); }), "DPB Constant Unknown");
}

}  // namespace
}  // namespace dovra
