// The CNPJ folder rule and the resume record, without servers.
#include "transfer/cnpj_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/files.h"
#include "support/temp_dir.h"
#include "transfer/daily_upload.h"

namespace dovra {
namespace {

TEST(CnpjFolder, FormattedTextsBecomeTheirDigitsAndNoUsableCnpjTheFallback) {
  EXPECT_EQ(cleanCnpj("12.345.678/0001-95"), "12345678000195");
  EXPECT_EQ(cnpjFolderName("12.345.678/0001-95"), "12345678000195");
  EXPECT_EQ(cnpjFolderName(" \t12.345.678/0001-95  "), "12345678000195");
  EXPECT_EQ(cnpjFolderName("12345678000195"), "12345678000195");
  // Only the three separators go; anything else stays as typed.
  EXPECT_EQ(cnpjFolderName("AB 12&3"), "AB 12&3");

  // No usable CNPJ: the fallback folder.
  for (const char* text : {"", "   ", "0", " 0 ", "0.", "./-0-", "0/"}) {
    EXPECT_EQ(cnpjFolderName(text), kNoCnpjFolder) << '"' << text << '"';
  }
  EXPECT_EQ(cnpjFolderName("00"), "00");
  EXPECT_EQ(cnpjFolderName("./-"), "");  // cleaned to nothing, but not "0"
  EXPECT_EQ(cnpjFolderName("\r\n 14.1 \n"), "141");
}

class UploadRecordTest : public ::testing::Test {
 protected:
  std::string describe(const std::string& remote = "f/ERP.zlib_temp") {
    FileHandle file;
    EXPECT_EQ(file.open(archive, FileOpenMode::read), 0);
    return describeUploadOrigin(file, remote);
  }
  test::TempDir dir{"record"};
  std::string archive = dir.file("ERP.zlib");
};

TEST_F(UploadRecordTest, TheRecordTellsArchivesAndDestinationsApart) {
  test::writeFile(archive, std::string(100000, 'a'));
  const std::string first = describe();
  EXPECT_EQ(describe(), first);
  EXPECT_NE(describe("g/ERP.zlib_temp"), first);

  recordUploadStart(archive, "f/ERP.zlib_temp");
  EXPECT_EQ(readWholeFile(uploadRecordPath(archive)), first);
  EXPECT_EQ(uploadRecordPath(archive), archive + ".upload");

  // The same size and time but other first bytes.
  struct stat before {};
  ::stat(archive.c_str(), &before);
  std::string changed(100000, 'a');
  changed[10] = 'b';
  test::writeFile(archive, changed);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ::utimensat(AT_FDCWD, archive.c_str(), times, 0);
  EXPECT_NE(describe(), first);

  // Another size.
  test::writeFile(archive, std::string(100001, 'a'));
  ::utimensat(AT_FDCWD, archive.c_str(), times, 0);
  EXPECT_NE(describe(), first);
}

TEST_F(UploadRecordTest, AMissingArchiveCannotBeRecorded) {
  EXPECT_THROW(recordUploadStart(archive, "f/x"), EInOutError);
}

}  // namespace
}  // namespace dovra
