// The ERP database contract against the real server: connecting as the start sequence
// does, every statement on the sample ERP, the statement runs' implicit opening, the
// commit points, and the errors that reach the callers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "backup/erp_statements.h"
#include "backup/ib_database.h"
#include "backup/ib_query.h"
#include "platform/text_codec.h"
#include "shell/cripto.h"
#include "support/firebird_env.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

using namespace std::chrono;
using test::FirebirdEnv;
using test::TestErp;

// Connects as the program does before each job: closed, name, two parameter lines, open.
void connect(IbDatabase& db, const std::string& location, const std::string& user,
             const std::string& password) {
  db.Close();
  db.DatabaseName = location;
  db.Params.Clear();
  db.Params.Add("user_name=" + user);
  db.Params.Add("password=" + password);
  db.Open();
}

void connect(IbDatabase& db, const std::string& location, const FirebirdEnv& env) {
  connect(db, location, env.user, env.password);
}

// Runs a select on `q` as the program does: close, set the text, open.
void select(IbQuery& q, std::string_view sql) {
  q.Close();
  q.SetSQL(sql);
  q.Open();
}

// The value of `key` in `section` of INI text (names compared without case).
std::string iniValue(const std::string& text, const std::string& section, const std::string& key) {
  const auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::string current;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (!line.empty() && line.front() == '[') {
      current = lower(line.substr(1, line.find(']') - 1));
    } else if (current == lower(section)) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos && lower(line.substr(0, eq)) == lower(key)) {
        return line.substr(eq + 1);
      }
    }
  }
  return {};
}

template <typename Fn>
std::string failure(Fn fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.what();
  }
  return {};
}

year_month_day serverToday(IbQuery& q) {
  select(q, "select current_date from rdb$database");
  const year_month_day today = *q.Fields[0].AsDate();
  q.Close();
  return today;
}

class ErpDatabase : public test::FirebirdTest {};

TEST_F(ErpDatabase, ConnectsWithTheScrambledCredentialsOfASettingsFile) {
  const TestErp sample(env);
  test::TempDir files("settings");
  test::SampleSettings settings;
  settings.database = sample.erp().mainLocation;
  settings.nfeDatabase = sample.erp().nfeLocation;
  settings.user = env.user;
  settings.password = env.password;
  settings.backup = {{"localremoto", "L"}, {"tempo1", "09:30"}};
  test::writeSettingsFile(files.file("BKPDOVRA.dvk"), settings);

  const std::string text = test::readFile(files.file("BKPDOVRA.dvk"));
  EXPECT_EQ(text.find("senha=" + env.password), std::string::npos) << "password in clear";
  const std::string user = cp1252ToUtf8(cripto(iniValue(text, "conexao", "usuario"), 1));
  const std::string password = cp1252ToUtf8(cripto(iniValue(text, "conexao", "senha"), 1));
  EXPECT_EQ(user, env.user);

  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);
  connect(Banco, cp1252ToUtf8(iniValue(text, "conexao", "endereco")), user, password);
  TBanco.StartTransaction();
  select(Query1, erp::kSelectXmlFolder);
  EXPECT_EQ(Query1.Fields[0].AsString(), sample.options().parendexes);
  Query1.Close();
  TBanco.Commit();
  Banco.Close();
  EXPECT_FALSE(Banco.Connected());

  IbDatabase banconfe;
  IbTransaction tnfe(banconfe);
  connect(banconfe, cp1252ToUtf8(iniValue(text, "cnxnfe", "endereco")), user, password);
  tnfe.StartTransaction();
  EXPECT_TRUE(tnfe.Active());
}

TEST_F(ErpDatabase, StartSequenceStatements) {
  const TestErp sample(env);
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);
  connect(Banco, sample.erp().mainLocation, env);
  TBanco.StartTransaction();

  // 1: the first non-null PARENDEXES, as stored.
  select(Query1, erp::kSelectXmlFolder);
  ASSERT_FALSE(Query1.Eof());
  EXPECT_EQ(Query1.Fields[0].AsString(), "C:\\DovraERP\\");

  // 2: company 1's names, accents and all.
  select(Query1, erp::kSelectCompanyNames);
  ASSERT_FALSE(Query1.Eof());
  EXPECT_EQ(Query1.Fields[0].AsString(), test::sampleCompanyName(1, false));
  EXPECT_EQ(Query1.Fields[1].AsString(), test::sampleTradeName(1, false));
  EXPECT_EQ(Query1.Fields[0].AsBytes(), utf8ToCp1252(test::sampleCompanyName(1, false)));

  // 3 and 4: the catalogue counts, against counts made here from the catalogue rows.
  IbQuery check(Banco, TBanco);
  select(check, "select rdb$relation_name from rdb$relations where rdb$system_flag = 0");
  int64_t counted = 0;
  for (; !check.Eof(); check.Next()) {
    const std::string name = check.Fields[0].AsString();
    // LIKE 'CONT_%': "CONT", any one character, anything.
    const bool excluded =
        name.size() >= 5 && (name.rfind("CONT", 0) == 0 || name.rfind("VIEW", 0) == 0);
    if (!excluded) ++counted;
  }
  select(Query1, erp::kCountUserTables);
  EXPECT_EQ(Query1.Fields[0].AsInteger(), counted * 2 - 6);
  // The sample's own tables: 7 counted (CONTATO and CONT_PLANOCONTAS, VIEW_VENDAS_DIA not).
  EXPECT_EQ(counted, 7);

  select(check,
         "select i.rdb$index_name, (select count(*) from rdb$index_segments s where "
         "s.rdb$index_name = i.rdb$index_name) from rdb$indices i");
  int64_t segments = 0;
  for (; !check.Eof(); check.Next()) {
    if (check.Fields[0].AsString().rfind("RDB$", 0) == 0) segments += check.Fields[1].AsLargeInt();
  }
  select(Query1, erp::kCountSystemIndexSegments);
  EXPECT_EQ(Query1.Fields[0].AsInteger(), segments - 420);
  check.Close();

  Query1.Close();
  TBanco.Commit();
  Banco.Close();
}

TEST_F(ErpDatabase, CompanyEdgeCases) {
  // Names over 30 characters, several PARGERAL rows, company 1 with CNPJ '0'.
  const TestErp edge(env, [](test::SampleErpOptions& o) {
    o.longCompanyNames = true;
    o.pargeralRows = 3;
    o.cnpj = test::CnpjStyle::Zero;
    o.companies = 4;
    o.nfeDatabase = false;
  });
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);
  connect(Banco, edge.erp().mainLocation, env);

  select(Query1, erp::kSelectCompanyNames);
  const std::string name = Query1.Fields[0].AsString();
  const std::string trade = Query1.Fields[1].AsString();
  EXPECT_GT(utf8Length(name), 30u);
  EXPECT_GT(utf8Length(trade), 30u);
  // The start sequence shows each cut to its first 30 characters.
  const std::string companyText = utf8Left(name, 30) + " - " + utf8Left(trade, 30);
  EXPECT_EQ(utf8Length(companyText), 63u);
  EXPECT_EQ(companyText, "Distribuidora de Materiais Elé - Elétrica São João Materiais e ");

  // 6: the first company whose CNPJ is not '0', by code; 7: all of them in code order.
  select(Query1, erp::kSelectFirstCnpj);
  EXPECT_EQ(Query1.Fields[0].AsString(), *test::sampleCnpj(2, test::CnpjStyle::Zero));
  select(Query1, erp::kSelectAllCnpjs);
  std::vector<std::string> cnpjs;
  for (; !Query1.Eof(); Query1.Next()) cnpjs.push_back(Query1.Fields[0].AsString());
  EXPECT_EQ(cnpjs, (std::vector<std::string>{*test::sampleCnpj(2, test::CnpjStyle::Zero),
                                             *test::sampleCnpj(4, test::CnpjStyle::Zero)}));
  // 10: company 1's own CNPJ, '0' as stored.
  select(Query1, erp::kSelectOwnCnpj);
  EXPECT_EQ(Query1.Fields[0].AsString(), "0");

  // 5: whichever PARGERAL row comes first.
  select(Query1, erp::kSelectUploadDate);
  EXPECT_EQ(*Query1.Fields[0].AsDate(), 2024y / May / 1d);
  EXPECT_EQ(*Query1.Fields[0].AsDateTime(), local_days{2024y / May / 1d} + seconds{0});

  // 8, 12, 13 update every PARGERAL row.
  Query1.Close();
  Query1.SetSQL(erp::kUpdateUploadDate);
  Query1.ExecSQL();
  EXPECT_EQ(Query1.RowsAffected(), 3);
  Query1.SetSQL(erp::kRecordManualBackup);
  Query1.ParamByName("d2").setAsString("ERP_081224_10_00_00.zlib");
  Query1.ExecSQL();
  EXPECT_EQ(Query1.RowsAffected(), 3);
  EXPECT_TRUE(TBanco.Active()) << "an update leaves the transaction open";
  TBanco.Commit();
  Banco.Close();

  connect(Banco, edge.erp().mainLocation, env);
  const year_month_day today = serverToday(Query1);
  select(Query1, "select PRGDATAFTP, PRGDATABACKUP, PRGNOMEBACKUP from PARGERAL");
  int rows = 0;
  for (; !Query1.Eof(); Query1.Next(), ++rows) {
    EXPECT_EQ(*Query1.Fields[0].AsDate(), today);
    EXPECT_EQ(*Query1.Fields[1].AsDate(), today);
    EXPECT_EQ(Query1.Fields[2].AsString(), "ERP_081224_10_00_00.zlib");
  }
  EXPECT_EQ(rows, 3);

  // 13 touches the date only.
  Query1.Close();
  Query1.SetSQL("update PARGERAL set PRGDATABACKUP = null, PRGNOMEBACKUP = 'x'");
  Query1.ExecSQL();
  Query1.SetSQL(erp::kOverrideBackupDate);
  Query1.ExecSQL();
  EXPECT_EQ(Query1.RowsAffected(), 3);
  TBanco.Commit();
  select(Query1,
         "select count(*) from PARGERAL where PRGDATABACKUP = current_date and "
         "PRGNOMEBACKUP = 'x'");
  EXPECT_EQ(Query1.Fields[0].AsInteger(), 3);
}

TEST_F(ErpDatabase, NoCompanyOneReadsAsEmpty) {
  const TestErp sample(env, [](test::SampleErpOptions& o) {
    o.company1 = false;
    o.nfeDatabase = false;
  });
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);
  connect(Banco, sample.erp().mainLocation, env);
  for (std::string_view sql : {erp::kSelectCompanyNames, erp::kSelectOwnCnpj}) {
    select(Query1, sql);
    EXPECT_TRUE(Query1.Eof()) << sql;
    // An empty result reads as empty values.
    EXPECT_EQ(Query1.Fields[0].AsString(), "");
    EXPECT_EQ(Query1.Fields[0].AsInteger(), 0);
    EXPECT_TRUE(Query1.Fields[0].IsNull());
    EXPECT_FALSE(Query1.Fields[0].AsDate().has_value());
  }
  EXPECT_EQ(Query1.FieldByName("empcnpj").AsString(), "");
}

TEST_F(ErpDatabase, CatalogueOfOnlyContAndViewTablesCountsMinusSix) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.contViewCatalogue = true; });
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);
  connect(Banco, sample.erp().mainLocation, env);
  select(Query1, erp::kCountUserTables);
  EXPECT_EQ(Query1.Fields[0].AsInteger(), -6);
}

TEST_F(ErpDatabase, NfeExportStatements) {
  const TestErp sample(env, [](test::SampleErpOptions& o) {
    o.unsentNfe = 5;
    o.sentNfe = 3;
  });
  IbDatabase banconfe;
  IbTransaction tnfe(banconfe);
  IbQuery qnfe(banconfe, tnfe);
  IbQuery qnfe2(banconfe, tnfe);
  connect(banconfe, sample.erp().nfeLocation, env);
  tnfe.StartTransaction();

  // 9: the unsent documents in company order, through the four named fields.
  if (tnfe.Active()) tnfe.Commit();
  select(qnfe, erp::kSelectUnsentNfe);
  std::vector<std::pair<int32_t, int32_t>> marked;
  int32_t previousCompany = 0;
  for (; !qnfe.Eof(); qnfe.Next()) {
    const int32_t note = qnfe.FieldByName("NFENOTA").AsInteger();
    const int32_t company = qnfe.FieldByName("NFEEMPRESA").AsInteger();
    const std::string key = qnfe.FieldByName("NFECHAVE").AsString();
    const std::string xml = qnfe.FieldByName("NFEXML").AsBytes();
    EXPECT_GE(company, previousCompany);
    previousCompany = company;
    EXPECT_EQ(key.size(), 44u);
    EXPECT_EQ(qnfe.FieldByName("NFEFTP").AsString(), "N");
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    EXPECT_NE(xml.find("<chNFe>" + key + "</chNFe>"), std::string::npos);
    EXPECT_EQ(xml.substr(xml.size() - 10), "</nfeProc>");
    EXPECT_FALSE(qnfe.FieldByName("NFENOTA").AsString().empty());

    // 11: mark it as sent, then close the update dataset.
    qnfe2.Close();
    qnfe2.SetSQL(erp::kMarkNfeSent);
    qnfe2.ParamByName("d1").setAsString("S");
    qnfe2.ParamByName("D2").setAsInteger(company);
    qnfe2.ParamByName("d3").setAsInteger(note);
    qnfe2.ExecSQL();
    EXPECT_EQ(qnfe2.RowsAffected(), 1);
    qnfe2.Close();
    marked.emplace_back(company, note);
  }
  EXPECT_EQ(marked.size(), 5u);
  // The fields keep the last row after the end.
  EXPECT_EQ(qnfe.FieldByName("NFENOTA").AsInteger(), marked.back().second);
  qnfe.Close();
  ASSERT_TRUE(tnfe.Active());
  tnfe.Commit();

  // Another connection sees the marks once committed; statement 9 then finds no row.
  IbDatabase other;
  IbTransaction otherTr(other);
  IbQuery otherQ(other, otherTr);
  connect(other, sample.erp().nfeLocation, env);
  select(otherQ, "select count(*) from NFE where NFEFTP = 'S'");
  EXPECT_EQ(otherQ.Fields[0].AsInteger(), 8);
  select(otherQ, erp::kSelectUnsentNfe);
  EXPECT_TRUE(otherQ.Eof());
  EXPECT_EQ(otherQ.FieldByName("NFEXML").AsString(), "");
}

TEST_F(ErpDatabase, StatementsOpenTheConnectionAndStartTheTransaction) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);
  connect(Banco, sample.erp().mainLocation, env);
  TBanco.StartTransaction();
  select(Query1, erp::kSelectXmlFolder);
  Query1.Close();
  TBanco.Commit();
  Banco.Close();
  ASSERT_FALSE(Banco.Connected());
  ASSERT_FALSE(TBanco.Active());

  // The daily upload's statements run on the closed connection with what it holds.
  if (TBanco.Active()) TBanco.CommitRetaining();
  select(Query1, erp::kSelectUploadDate);
  EXPECT_TRUE(Banco.Connected());
  EXPECT_TRUE(TBanco.Active());
  EXPECT_EQ(*Query1.Fields[0].AsDate(), 2024y / May / 1d);
  Query1.Close();

  // Commit-retaining keeps the transaction while making the work visible elsewhere.
  Query1.SetSQL(erp::kUpdateUploadDate);
  Query1.ExecSQL();
  TBanco.CommitRetaining();
  EXPECT_TRUE(TBanco.Active());
  IbDatabase other;
  IbTransaction otherTr(other);
  IbQuery otherQ(other, otherTr);
  connect(other, sample.erp().mainLocation, env);
  const year_month_day today = serverToday(otherQ);
  select(otherQ, erp::kSelectUploadDate);
  EXPECT_EQ(*otherQ.Fields[0].AsDate(), today);
  otherQ.Close();
  otherTr.Commit();

  // Commit closes the transaction's open datasets.
  select(Query1, erp::kSelectUploadDate);
  EXPECT_TRUE(Query1.Active());
  TBanco.Commit();
  EXPECT_FALSE(Query1.Active());
  EXPECT_FALSE(TBanco.Active());
  EXPECT_EQ(failure([&] { Query1.Fields[0].AsString(); }),
            "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(failure([&] { TBanco.Commit(); }), "Transaction is not active");
  EXPECT_EQ(failure([&] { TBanco.Rollback(); }), "Transaction is not active");
  TBanco.StartTransaction();
  EXPECT_EQ(failure([&] { TBanco.StartTransaction(); }), "Transaction is active");
}

TEST_F(ErpDatabase, ClosingTheConnectionRollsBackUncommittedWork) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);
  connect(Banco, sample.erp().mainLocation, env);
  Query1.SetSQL(erp::kRecordManualBackup);
  Query1.ParamByName("d2").setAsString("uncommitted.zlib");
  Query1.ExecSQL();
  ASSERT_TRUE(TBanco.Active());
  // The error path of a manual backup leaves it so; the next connect closes it first.
  connect(Banco, sample.erp().mainLocation, env);
  EXPECT_FALSE(TBanco.Active());
  select(Query1, "select PRGNOMEBACKUP from PARGERAL");
  EXPECT_NE(Query1.Fields[0].AsString(), "uncommitted.zlib");

  // Committed work survives a close.
  Query1.Close();
  Query1.SetSQL(erp::kRecordManualBackup);
  Query1.ParamByName("d2").setAsString("committed.zlib");
  Query1.ExecSQL();
  TBanco.Commit();
  Banco.Close();
  select(Query1, "select PRGNOMEBACKUP from PARGERAL");
  EXPECT_EQ(Query1.Fields[0].AsString(), "committed.zlib");

  // Rollback undoes, and a dataset left open by it is closed.
  Query1.Close();
  Query1.SetSQL(erp::kOverrideBackupDate);
  Query1.ExecSQL();
  select(Query1, "select PRGDATABACKUP from PARGERAL");
  TBanco.Rollback();
  EXPECT_FALSE(Query1.Active());
}

TEST_F(ErpDatabase, ParametersFieldsAndText) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery q(Banco, TBanco);
  connect(Banco, sample.erp().mainLocation, env);

  // Names bound without regard to case; a name the statement lacks is an error.
  q.SetSQL(
      "insert into CLIENTE (CLICODIGO, CLINOME, CLICIDADE, CLIUF, CLIOBS, CLIDATACAD) "
      "values (:cod, :Nome, :cidade, :uf, :obs, :data)");
  EXPECT_EQ(q.ParamCount(), 6u);
  EXPECT_EQ(failure([&] { q.ParamByName("d9"); }), "Parameter D9 not found");
  q.ParamByName("COD").setAsInteger(9001);
  q.ParamByName("nome").setAsString("Conceição Araújo D'Ávila");
  q.ParamByName("uf").setAsString("S");  // CHAR(2): stored padded
  const std::string memo = std::string(100000, 'x') + " ação €";
  q.ParamByName("obs").setAsString(memo);
  q.ParamByName("data").setAsDate(2024y / February / 29d);
  // :cidade never set: NULL.
  q.ExecSQL();
  TBanco.Commit();

  select(q,
         "select CLINOME, CLICIDADE, CLIUF, CLIOBS, CLIDATACAD, CLICODIGO from CLIENTE "
         "where CLICODIGO = 9001");
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("clinome").AsString(), "Conceição Araújo D'Ávila");
  EXPECT_EQ(q.FieldByName("CLINOME").AsBytes(), "Concei\xE7\xE3o Ara\xFAjo D'\xC1vila");
  EXPECT_TRUE(q.FieldByName("CLICIDADE").IsNull());
  EXPECT_EQ(q.FieldByName("CLICIDADE").AsString(), "");
  EXPECT_EQ(q.FieldByName("CLIUF").AsString(), "S ");
  EXPECT_EQ(q.FieldByName("CLIOBS").AsString(), memo);
  EXPECT_EQ(*q.FieldByName("CLIDATACAD").AsDate(), 2024y / February / 29d);
  EXPECT_EQ(q.FieldByName("CLIDATACAD").AsString(), "29/02/2024");
  EXPECT_EQ(q.Fields[5].AsString(), "9001");
  EXPECT_EQ(q.Fields.Count(), 6u);
  EXPECT_EQ(failure([&] { q.Fields[6]; }), "List index out of bounds (6)");
  EXPECT_EQ(failure([&] { q.FieldByName("NOPE"); }), "Field 'NOPE' not found");
  EXPECT_EQ(failure([&] { q.Fields[1].AsInteger(); }), "");  // NULL reads as 0
  EXPECT_EQ(failure([&] { q.Fields[0].AsInteger(); }),
            "'Conceição Araújo D'Ávila' is not a valid integer value");
  q.Next();
  EXPECT_TRUE(q.Eof());

  // Numbers of every kind, and a value found through a text parameter.
  select(q,
         "select cast(-12.5 as numeric(15,2)), cast(0.05 as numeric(9,3)), "
         "cast(3000000000 as bigint), cast(7 as smallint), cast(2.5 as double precision), "
         "timestamp '2024-03-01 13:45:10', true, cast('42 ' as char(5)) from rdb$database");
  EXPECT_EQ(q.Fields[0].AsString(), "-12.50");
  EXPECT_EQ(q.Fields[0].AsInteger(), -13);
  EXPECT_EQ(q.Fields[1].AsString(), "0.050");
  EXPECT_DOUBLE_EQ(q.Fields[1].AsFloat(), 0.05);
  EXPECT_EQ(q.Fields[2].AsLargeInt(), 3000000000);
  EXPECT_EQ(failure([&] { q.Fields[2].AsInteger(); }), "Integer overflow");
  EXPECT_EQ(q.Fields[3].AsInteger(), 7);
  EXPECT_EQ(q.Fields[4].AsString(), "2.5");
  EXPECT_EQ(*q.Fields[5].AsDateTime(), local_days{2024y / March / 1d} + 13h + 45min + 10s);
  EXPECT_EQ(q.Fields[5].AsString(), "01/03/2024 13:45:10");
  EXPECT_EQ(q.Fields[6].AsString(), "True");
  EXPECT_EQ(q.Fields[7].AsString(), "42   ");
  EXPECT_EQ(q.Fields[7].AsInteger(), 42);

  q.Close();
  q.SetSQL("select count(*) from CLIENTE where CLINOME = :n or CLICODIGO = :c");
  q.ParamByName("n").setAsString("Conceição Araújo D'Ávila");
  q.ParamByName("c").setAsString("-1");
  q.Open();
  EXPECT_EQ(q.Fields[0].AsInteger(), 1);
}

TEST_F(ErpDatabase, ErrorsCarryTheServersText) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);

  const auto connectError = [&](const std::string& location, const std::string& password) {
    try {
      connect(Banco, location, env.user, password);
    } catch (const EIBError& e) {
      EXPECT_FALSE(Banco.Connected());
      return std::string(e.what());
    }
    ADD_FAILURE() << "connected to " << location;
    return std::string();
  };
  const auto start = steady_clock::now();
  EXPECT_NE(connectError(sample.erp().mainLocation, env.password + "x").find("password"),
            std::string::npos);
  // A stopped server: nothing listens on the port.
  const std::string refused =
      connectError("localhost/3999:" + sample.erp().mainFile.string(), env.password);
  EXPECT_NE(refused.find("Unable to complete network request to host \"localhost"),
            std::string::npos)
      << refused;
  const std::string missingFile = sample.dir().file("missing.fdb");
  const std::string missing = connectError("localhost:" + missingFile, env.password);
  EXPECT_NE(missing.find(missingFile), std::string::npos) << missing;
  // A location without a host goes to the embedded engine, which finds no file either.
  const std::string embedded = connectError(missingFile, env.password);
  EXPECT_NE(embedded.find(missingFile), std::string::npos) << embedded;
  EXPECT_LT(steady_clock::now() - start, seconds(30)) << "a failed connect must not hang";

  // Unknown table and column: the server's text and SQL code; nothing changes.
  connect(Banco, sample.erp().mainLocation, env);
  Query1.SetSQL(" select PRGDATAFTP from pargeralx; ");
  try {
    Query1.Open();
    ADD_FAILURE() << "opened a missing table";
  } catch (const EIBError& e) {
    EXPECT_EQ(e.sqlCode(), -204);
    EXPECT_NE(std::string(e.what()).find("PARGERALX"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(Query1.Active());
  Query1.SetSQL(" update pargeral set PRGDATAFTPX = current_date; ");
  try {
    Query1.ExecSQL();
    ADD_FAILURE() << "updated a missing column";
  } catch (const EIBError& e) {
    EXPECT_EQ(e.sqlCode(), -206);
    EXPECT_NE(std::string(e.what()).find("PRGDATAFTPX"), std::string::npos) << e.what();
  }
  // The failed statements left the connection usable.
  select(Query1, erp::kSelectUploadDate);
  EXPECT_FALSE(Query1.Eof());
  // A constraint violation.
  Query1.Close();
  Query1.SetSQL("insert into EMPRESA (EMPCODIGO) values (:c)");
  Query1.ParamByName("c").setAsInteger(1);
  EXPECT_NE(failure([&] { Query1.ExecSQL(); }).find("PRIMARY or UNIQUE KEY"), std::string::npos);
  // Open of a statement without rows is refused before it runs.
  Query1.SetSQL(erp::kOverrideBackupDate);
  EXPECT_EQ(failure([&] { Query1.Open(); }), "The statement returns no rows; run it with ExecSQL");
  EXPECT_EQ(failure([&] { Query1.ParamByName("d2"); }), "Parameter D2 not found");
}

TEST_F(ErpDatabase, EmbeddedEngineServesALocationWithoutAHost) {
  test::DbTempDir dir(env.dbDir, "embedded");
  IbDatabase db;
  db.DatabaseName = dir.file("embedded.fdb");
  db.Params.Add("user_name=" + env.user);
  db.Params.Add("password=" + env.password);
  db.CreateDatabase(8192, "WIN1252");
  IbTransaction tr(db);
  IbQuery q(db, tr);
  q.SetSQL("create table PARGERAL (PRGDATAFTP date)");
  q.ExecSQL();
  tr.Commit();
  q.SetSQL("insert into PARGERAL values (date '2024-01-02')");
  q.ExecSQL();
  select(q, erp::kSelectUploadDate);
  EXPECT_EQ(*q.Fields[0].AsDate(), 2024y / January / 2d);
  q.Close();
  tr.Commit();
  EXPECT_GT(db.DatabaseSize(), 0);
  db.DropDatabase();
  EXPECT_FALSE(std::filesystem::exists(dir.file("embedded.fdb")));
}

// Two threads sharing one connection, each holding its lock for a job of several
// statements, never see each other's results.
TEST_F(ErpDatabase, JobsHoldingTheLockDoNotInterleave) {
  const TestErp sample(env, [](test::SampleErpOptions& o) { o.nfeDatabase = false; });
  IbDatabase Banco;
  IbTransaction TBanco(Banco);
  IbQuery Query1(Banco, TBanco);
  connect(Banco, sample.erp().mainLocation, env);

  std::atomic<int> wrong{0};
  std::atomic<int> errors{0};
  const auto job = [&](int marker) {
    for (int i = 0; i < 150; ++i) {
      try {
        std::lock_guard<std::recursive_mutex> lock(Banco.lock());
        Query1.Close();
        Query1.SetSQL("select cast(:m as integer) from rdb$database");
        Query1.ParamByName("m").setAsInteger(marker * 1000 + i);
        Query1.Open();
        std::this_thread::yield();
        if (Query1.Fields[0].AsInteger() != marker * 1000 + i) ++wrong;
        Query1.Close();
        if (i % 50 == 0) TBanco.Commit();
      } catch (const Exception&) {
        ++errors;
      }
    }
  };
  std::thread main(job, 1);
  std::thread worker(job, 2);
  main.join();
  worker.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(errors.load(), 0);
}

}  // namespace
}  // namespace dovra
