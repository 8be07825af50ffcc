// Packing and unpacking on Windows, with the names the offices use: folders and files with
// accents and blanks, stored in the archive as Windows-1252 and given back as the same
// files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "archive_test_util.h"
#include "support/program_process.h"

namespace dovra {
namespace {

namespace fs = std::filesystem;

// A UTF-8 path as the C++ library takes it on Windows.
fs::path at(const std::string& utf8) {
  return fs::u8path(utf8);
}

std::string utf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

class WindowsArchive : public ::testing::Test {
 protected:
  WindowsArchive() {
    fs::create_directories(at(source()));
    fs::create_directories(at(target()));
  }
  std::string source() const { return utf8(dir.path()) + "\\Banco de dados\\Cópia de segurança"; }
  std::string target() const { return utf8(dir.path()) + "\\Restauração 1"; }

  test::TempDir dir;
};

TEST_F(WindowsArchive, AccentedAndBlankNamesArePackedAsWindows1252AndUnpackedWhole) {
  const std::string first = source() + "\\EMPRESA Água.fbk";
  const std::string second = source() + "\\NFe Ação.fdb";
  const std::string big = test::repetitiveBytes(300000, 7);
  test::writeFile(at(first), big);
  test::writeFile(at(second), std::string("nota\0fiscal\r\n", 13));
  const std::string archive = source() + "\\EMPRESA Água.zlib";

  CompressFiles({first, second}, archive);

  // The names inside are the bare names in Windows-1252 bytes.
  const std::string bytes = test::readFile(at(archive));
  EXPECT_NE(bytes.find("EMPRESA \xC1gua.fbk"), std::string::npos);
  EXPECT_NE(bytes.find("NFe A\xE7\xE3o.fdb"), std::string::npos);
  EXPECT_EQ(bytes.find("Banco de dados"), std::string::npos);

  const std::vector<ArchiveEntry> entries = listArchive(archive);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "EMPRESA Água.fbk");
  EXPECT_EQ(entries[0].size, static_cast<int64_t>(big.size()));
  EXPECT_EQ(entries[1].name, "NFe Ação.fdb");
  EXPECT_EQ(entries[1].size, 13);

  DecompressFiles(archive, target());
  EXPECT_EQ(test::readFile(at(target() + "\\EMPRESA Água.fbk")), big);
  EXPECT_EQ(test::readFile(at(target() + "\\NFe Ação.fdb")), std::string("nota\0fiscal\r\n", 13));
  // No temporary is left beside the archive.
  size_t names = 0;
  for (const auto& e : fs::directory_iterator(at(source()))) {
    (void)e;
    ++names;
  }
  EXPECT_EQ(names, 3u);
}

TEST_F(WindowsArchive, APackedArchiveReplacesTheOldOneAndAnUnpackReplacesTheOldFile) {
  const std::string input = source() + "\\LOJA São José.fbk";
  const std::string archive = target() + "\\LOJA São José.zlib";
  test::writeFile(at(input), "primeira versão");
  CompressFiles({input}, archive);
  test::writeFile(at(input), "segunda versão, mais longa");
  CompressFiles({input}, archive);
  ASSERT_EQ(listArchive(archive).size(), 1u);
  EXPECT_EQ(listArchive(archive)[0].size, 27);

  test::writeFile(at(target() + "\\LOJA São José.fbk"), "antiga");
  DecompressFiles(archive, target());
  EXPECT_EQ(test::readFile(at(target() + "\\LOJA São José.fbk")), "segunda versão, mais longa");
}

TEST_F(WindowsArchive, AMissingInputOrFolderIsReportedByName) {
  const std::string missing = source() + "\\Não existe.fbk";
  const std::string archive = target() + "\\Saída.zlib";
  const std::string text = test::errorText<Exception>([&] { CompressFiles({missing}, archive); });
  EXPECT_EQ(text.rfind("Cannot open file \"" + missing + "\". ", 0), 0u) << text;
  EXPECT_FALSE(fs::exists(at(archive)));
  const std::string elsewhere = target() + "\\Pasta que não há\\Saída.zlib";
  test::writeFile(at(source() + "\\x.fbk"), "x");
  const std::string created =
      test::errorText<Exception>([&] { CompressFiles({source() + "\\x.fbk"}, elsewhere); });
  EXPECT_EQ(created.rfind("Cannot create file \"" + elsewhere + "\". ", 0), 0u) << created;
}

// The tool takes its arguments as they are typed, accents and blanks included: a pack, a
// list, a check and an unpack into another folder. Its lines end as Windows text does.
TEST_F(WindowsArchive, TheToolTakesAccentedArgumentsAsTyped) {
  const std::string tool = std::string(DOVRA_BINARY_DIR) + "/dovra-zlib.exe";
  const std::string first = source() + "\\EMPRESA Água.fbk";
  const std::string second = source() + "\\NFe Ação.fbk";
  test::writeFile(at(first), "primeiro");
  test::writeFile(at(second), "segundo, mais longo");
  const std::string archive = source() + "\\Cópia diária.zlib";
  struct Run {
    std::vector<std::string> args;
    std::string out;
  };
  for (const Run& run :
       {Run{{"pack", archive, first, second}, ""}, Run{{"list", archive}, "EMPRESA Água.fbk\t8\t"},
        Run{{"verify", archive}, "2 entries OK\r\n"}, Run{{"unpack", archive, target()}, ""}}) {
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    const test::ProcessResult r = test::runProcess(argv);
    EXPECT_EQ(r.status, 0) << run.args[0] << ": " << r.err;
    EXPECT_EQ(r.out.substr(0, run.out.size()), run.out) << r.out;
  }
  EXPECT_EQ(test::readFile(at(target() + "\\EMPRESA Água.fbk")), "primeiro");
  EXPECT_EQ(test::readFile(at(target() + "\\NFe Ação.fbk")), "segundo, mais longo");
}

}  // namespace
}  // namespace dovra
