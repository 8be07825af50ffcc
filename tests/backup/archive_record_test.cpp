// The record an automatic backup keeps beside its archive, and the comparison of the
// counts the backup and the restore report.
#include <gtest/gtest.h>

#include "backup/archive_record.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

TEST(ArchiveRecord, ReadsBackWhatItWroteAndRefusesAnythingElse) {
  test::TempDir dir("record");
  const std::string path = dir.file("ERP.zlib.verify");
  ArchiveRecord r;
  r.archiveSize = 1969805;
  r.archiveCrc = 0x03bc5c11;
  r.mainEntry = "Cópia ação_AUTO.fbk";
  r.mainEntrySize = 13381632;
  r.tables = {{"CLIENTE", 400}, {"CONT_PLANOCONTAS", 0}, {"VENDA", 28000}};
  r.state = ArchiveRecord::State::Verified;
  saveArchiveRecord(path, r);
  const auto back = loadArchiveRecord(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->archiveSize, r.archiveSize);
  EXPECT_EQ(back->archiveCrc, r.archiveCrc);
  EXPECT_EQ(back->mainEntry, r.mainEntry);
  EXPECT_EQ(back->mainEntrySize, r.mainEntrySize);
  EXPECT_EQ(back->tables, r.tables);
  EXPECT_EQ(back->state, r.state);

  const std::string good = test::readFile(path);
  for (const std::string& bad :
       {good.substr(0, good.size() - 1),                              // cut short
        std::string("entry 5 A.fbk\nstate pending\n"),                // no archive line
        std::string("archive 5 zz\nentry 5 A.fbk\nstate pending\n"),  // not a CRC
        std::string("archive 5 1\nentry 5 A.fbk\nstate done\n"),      // unknown state
        std::string("archive 5 1\nentry 5 A.fbk\nrows 3 X\nstate pending\n"), std::string()}) {
    test::writeFile(path, bad);
    EXPECT_FALSE(loadArchiveRecord(path)) << bad;
  }
  EXPECT_FALSE(loadArchiveRecord(dir.file("missing")));
}

TEST(TableCounts, TheLastCountOfEachTableAndTheFirstDifference) {
  TableCountReader backup(TableCountReader::Source::Backup);
  for (const char* line : {"gbak:    writing data for table VENDA", "gbak:10000 records written",
                           "gbak:28000 records written", "gbak:    writing index RDB$PRIMARY8",
                           "gbak:    writing data for table VAZIA", "gbak:0 records written"}) {
    backup.line(line);
  }
  EXPECT_EQ(backup.counts(), (TableCounts{{"VENDA", 28000}, {"VAZIA", 0}}));
  TableCountReader restore(TableCountReader::Source::Restore);
  for (const char* line :
       {"gbak:restoring data for table VENDA ", "gbak:   10000 records restored ",
        "gbak:   28000 records restored ", "gbak:    restoring index X "}) {
    restore.line(line);
  }
  EXPECT_EQ(restore.counts(), (TableCounts{{"VENDA", 28000}}));
  // An empty table says nothing in a restore.
  EXPECT_EQ(compareTableCounts(backup.counts(), restore.counts()), "");
  EXPECT_EQ(totalRecords(backup.counts()), 28000);

  struct Case {
    TableCounts restored;
    std::string difference;
  };
  for (const Case& c :
       {Case{{{"VENDA", 27999}}, "Tabela VENDA: 28000 registros no backup, 27999 restaurados"},
        Case{{}, "Tabela VENDA: 28000 registros no backup, 0 restaurados"},
        Case{{{"VENDA", 28000}, {"OUTRA", 2}},
             "Tabela OUTRA: 0 registros no backup, 2 restaurados"},
        Case{{{"VENDA", 28000}, {"VAZIA", 1}},
             "Tabela VAZIA: 0 registros no backup, 1 restaurados"}}) {
    EXPECT_EQ(compareTableCounts(backup.counts(), c.restored), c.difference);
  }
}

}  // namespace
}  // namespace dovra
