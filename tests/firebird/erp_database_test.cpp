// The ERP database contract against the real server: every statement on the sample ERP,
// the statement runs' implicit opening, the commit points, and the errors that reach the
// callers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "firebird/erp_connections.h"
#include "firebird/erp_statements.h"
#include "firebird/ib_database.h"
#include "firebird/ib_query.h"
#include "support/firebird_env.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

using namespace std::chrono;
using test::errorText;
using test::TestErp;

// Banco, TBanco and Query1 as the program holds them.
struct Connection {
  IbDatabase Banco;
  IbTransaction TBanco{Banco};
  IbQuery Query1{Banco, TBanco};

  // Connects as the program does before each job: closed, name, two parameter lines, open.
  void connect(const std::string& location, const std::string& user, const std::string& password) {
    connectDatabase(Banco, location, user, password);
  }
  // Runs a select as the program does: close, set the text, open.
  IbQuery& select(std::string_view sql) {
    Query1.Close();
    Query1.SetSQL(sql);
    Query1.Open();
    return Query1;
  }
  void exec(std::string_view sql) {
    Query1.Close();
    Query1.SetSQL(sql);
    Query1.ExecSQL();
  }
  year_month_day serverToday() {
    const year_month_day today =
        *select("select current_date from rdb$database").Fields[0].AsDate();
    Query1.Close();
    return today;
  }
};

class ErpDatabase : public test::FirebirdTest {
 protected:
  static void noNfe(test::SampleErpOptions& o) { o.nfeDatabase = false; }
};

// Statements 1 and 2 are driven through the start sequence's own tests (a sample without
// company 1 included), 6, 7 and 10 through the daily upload's and the NF-e export's (the
// CNPJ '0' included), 9 and 11 through the NF-e export's; here the rest, on a sample with
// several PARGERAL rows.
TEST_F(ErpDatabase, StatementsOnTheEdgesOfTheSample) {
  const TestErp edge(env, [](test::SampleErpOptions& o) {
    o.pargeralRows = 3;
    o.nfeDatabase = false;
  });
  Connection c;
  c.connect(edge.erp().mainLocation, env.user, env.password);
  IbQuery& q = c.Query1;

  // 3: the sample's tables, 7 counted (CONTATO and CONT_PLANOCONTAS, VIEW_VENDAS_DIA not).
  EXPECT_EQ(c.select(erp::kCountUserTables).Fields[0].AsInteger(), 7 * 2 - 6);
  // 4: against the segments of the system-named indices counted here.
  IbQuery check(c.Banco, c.TBanco);
  check.SetSQL(
      "select count(*) from rdb$index_segments s where s.rdb$index_name in (select "
      "rdb$index_name from rdb$indices where rdb$index_name starting with 'RDB$')");
  check.Open();
  EXPECT_EQ(c.select(erp::kCountSystemIndexSegments).Fields[0].AsInteger(),
            check.Fields[0].AsLargeInt() - 420);
  check.Close();

  // 5: whichever PARGERAL row comes first.
  c.select(erp::kSelectUploadDate);
  EXPECT_EQ(*q.Fields[0].AsDate(), 2024y / May / 1d);
  EXPECT_EQ(*q.Fields[0].AsDateTime(), local_days{2024y / May / 1d} + seconds{0});

  // 8, 12, 13 update every PARGERAL row.
  c.exec(erp::kUpdateUploadDate);
  EXPECT_EQ(q.RowsAffected(), 3);
  q.SetSQL(erp::kRecordManualBackup);
  q.ParamByName("d2").setAsString("ERP_081224_10_00_00.zlib");
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 3);
  EXPECT_TRUE(c.TBanco.Active()) << "an update leaves the transaction open";
  c.TBanco.Commit();
  c.Banco.Close();

  c.connect(edge.erp().mainLocation, env.user, env.password);
  const year_month_day today = c.serverToday();
  int rows = 0;
  for (c.select("select PRGDATAFTP, PRGDATABACKUP, PRGNOMEBACKUP from PARGERAL"); !q.Eof();
       q.Next(), ++rows) {
    EXPECT_EQ(*q.Fields[0].AsDate(), today);
    EXPECT_EQ(*q.Fields[1].AsDate(), today);
    EXPECT_EQ(q.Fields[2].AsString(), "ERP_081224_10_00_00.zlib");
  }
  EXPECT_EQ(rows, 3);

  // 13 touches the date only.
  c.exec("update PARGERAL set PRGDATABACKUP = null, PRGNOMEBACKUP = 'x'");
  c.exec(erp::kOverrideBackupDate);
  EXPECT_EQ(q.RowsAffected(), 3);
  c.TBanco.Commit();
  c.select(
      "select count(*) from PARGERAL where PRGDATABACKUP = current_date and PRGNOMEBACKUP = 'x'");
  EXPECT_EQ(q.Fields[0].AsInteger(), 3);
}

TEST_F(ErpDatabase, StatementsOpenTheConnectionAndTransactionsEndAsTheCallersExpect) {
  const TestErp sample(env, noNfe);
  Connection c;
  IbQuery& q = c.Query1;
  c.connect(sample.erp().mainLocation, env.user, env.password);
  c.Banco.Close();
  ASSERT_FALSE(c.Banco.Connected());
  ASSERT_FALSE(c.TBanco.Active());

  // The daily upload's statements run on the closed connection with what it holds.
  c.select(erp::kSelectUploadDate);
  EXPECT_TRUE(c.Banco.Connected());
  EXPECT_TRUE(c.TBanco.Active());
  EXPECT_EQ(*q.Fields[0].AsDate(), 2024y / May / 1d);

  // Commit-retaining keeps the transaction (its work seen elsewhere is driven through the
  // daily upload); commit closes the transaction's open datasets.
  c.TBanco.CommitRetaining();
  EXPECT_TRUE(c.TBanco.Active());
  c.select(erp::kSelectUploadDate);
  EXPECT_TRUE(q.Active());
  c.TBanco.Commit();
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(c.TBanco.Active());
  EXPECT_EQ(errorText([&] { q.Fields[0].AsString(); }),
            "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(errorText([&] { c.TBanco.Commit(); }), "Transaction is not active");
  EXPECT_EQ(errorText([&] { c.TBanco.Rollback(); }), "Transaction is not active");
  c.TBanco.StartTransaction();
  EXPECT_EQ(errorText([&] { c.TBanco.StartTransaction(); }), "Transaction is active");
  c.TBanco.Rollback();

  // Uncommitted work (the error path of a manual backup leaves it so): the next connect
  // closes it first and rolls it back.
  q.SetSQL(erp::kRecordManualBackup);
  q.ParamByName("d2").setAsString("uncommitted.zlib");
  q.ExecSQL();
  ASSERT_TRUE(c.TBanco.Active());
  c.connect(sample.erp().mainLocation, env.user, env.password);
  EXPECT_FALSE(c.TBanco.Active());
  EXPECT_NE(c.select("select PRGNOMEBACKUP from PARGERAL").Fields[0].AsString(),
            "uncommitted.zlib");

  // Rollback undoes, and a dataset left open by it is closed.
  c.exec(erp::kOverrideBackupDate);
  c.select("select PRGDATABACKUP from PARGERAL");
  c.TBanco.Rollback();
  EXPECT_FALSE(q.Active());
}

// The parameters and field kinds the program uses, and the errors that reach its callers.
TEST_F(ErpDatabase, ParametersFieldsAndErrors) {
  const TestErp sample(env, noNfe);
  Connection c;
  IbQuery& q = c.Query1;
  c.connect(sample.erp().mainLocation, env.user, env.password);

  // Names bound without regard to case; a name the statement lacks is an error.
  q.SetSQL(
      "insert into CLIENTE (CLICODIGO, CLINOME, CLICIDADE, CLIUF, CLIOBS, CLIDATACAD) "
      "values (:cod, :Nome, :cidade, :uf, :obs, date '2024-02-29')");
  EXPECT_EQ(errorText([&] { q.ParamByName("d9"); }), "Parameter D9 not found");
  q.ParamByName("COD").setAsInteger(9001);
  q.ParamByName("nome").setAsString("Conceição Araújo D'Ávila");
  q.ParamByName("uf").setAsString("S");  // CHAR(2): stored padded
  const std::string memo = std::string(100000, 'x') + " ação €";
  q.ParamByName("obs").setAsString(memo);
  // :cidade never set: NULL.
  q.ExecSQL();
  c.TBanco.Commit();

  c.select(
      "select CLINOME, CLICIDADE, CLIUF, CLIOBS, CLIDATACAD, CLICODIGO, "
      "timestamp '2024-03-01 13:45:10', cast(3000000000 as bigint) from CLIENTE "
      "where CLICODIGO = 9001");
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("clinome").AsString(), "Conceição Araújo D'Ávila");
  EXPECT_EQ(q.FieldByName("CLINOME").AsBytes(), "Concei\xE7\xE3o Ara\xFAjo D'\xC1vila");
  EXPECT_EQ(q.FieldByName("CLICIDADE").AsString(), "");
  EXPECT_EQ(q.FieldByName("CLICIDADE").AsInteger(), 0);
  EXPECT_EQ(q.FieldByName("CLIUF").AsString(), "S ");
  EXPECT_EQ(q.FieldByName("CLIOBS").AsString(), memo);
  EXPECT_EQ(*q.FieldByName("CLIDATACAD").AsDate(), 2024y / February / 29d);
  EXPECT_EQ(q.Fields[5].AsInteger(), 9001);
  EXPECT_EQ(*q.Fields[6].AsDateTime(), local_days{2024y / March / 1d} + 13h + 45min + 10s);
  EXPECT_EQ(errorText([&] { q.Fields[7].AsInteger(); }), "Integer overflow");
  EXPECT_EQ(errorText([&] { q.FieldByName("NOPE"); }), "Field 'NOPE' not found");
  q.Next();
  EXPECT_TRUE(q.Eof());

  // A failed statement carries the server's text and leaves the connection usable.
  q.Close();
  q.SetSQL(" select PRGDATAFTP from pargeralx; ");
  EXPECT_NE(errorText<EIBError>([&] { q.Open(); }).find("PARGERALX"), std::string::npos);
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(c.select(erp::kSelectUploadDate).Eof());
  // Open of a statement without rows is refused before it runs.
  q.Close();
  q.SetSQL(erp::kOverrideBackupDate);
  EXPECT_EQ(errorText([&] { q.Open(); }), "The statement returns no rows; run it with ExecSQL");

  // Connecting: the server's text, and never a hang.
  const auto connectError = [&](const std::string& location, const std::string& password) {
    const std::string error = errorText<EIBError>([&] { c.connect(location, env.user, password); });
    EXPECT_FALSE(c.Banco.Connected()) << location;
    return error;
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
  // A missing file, through the server and through the embedded engine (no host).
  const std::string missingFile = sample.dir().file("missing.fdb");
  for (const std::string& location : {"localhost:" + missingFile, missingFile}) {
    const std::string missing = connectError(location, env.password);
    EXPECT_NE(missing.find(missingFile), std::string::npos) << missing;
  }
  EXPECT_LT(steady_clock::now() - start, seconds(30)) << "a failed connect must not hang";
}

// Two threads sharing one connection, each holding its lock for a job of several
// statements, never see each other's results.
TEST_F(ErpDatabase, JobsHoldingTheLockDoNotInterleave) {
  const TestErp sample(env, noNfe);
  Connection c;
  c.connect(sample.erp().mainLocation, env.user, env.password);
  std::atomic<int> wrong{0};
  std::atomic<int> errors{0};
  const auto job = [&](int marker) {
    for (int i = 0; i < 150; ++i) {
      try {
        std::lock_guard<std::recursive_mutex> lock(c.Banco.lock());
        c.Query1.Close();
        c.Query1.SetSQL("select cast(:m as integer) from rdb$database");
        c.Query1.ParamByName("m").setAsInteger(marker * 1000 + i);
        c.Query1.Open();
        std::this_thread::yield();
        if (c.Query1.Fields[0].AsInteger() != marker * 1000 + i) ++wrong;
        c.Query1.Close();
        if (i % 50 == 0) c.TBanco.Commit();
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
