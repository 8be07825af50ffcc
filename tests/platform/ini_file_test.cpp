#include "platform/ini_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <filesystem>
#include <optional>

#include "platform/error.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// A realistic ERP configuration: several sections, comments, blank lines, CRLF line
// endings, accented values in Windows-1252 and keys spelled in mixed case.
const std::string kErpConfig =
    "; Configuração do sistema - não editar\r\n"
    "[Conexao]\r\n"
    "Endereco=servidor:C:\\Dados\\ERP.FDB\r\n"
    "usuario=]^\x5F\x4F\x4B\x4C\r\n"
    "senha = xyz \r\n"
    "\r\n"
    "[cnxnfe]\r\n"
    "endereco=servidor:C:\\Dados\\NFE.FDB\r\n"
    "\r\n"
    "[Impressao]\r\n"
    "Impressora=Epson LX-300 \xE7\xE3o\r\n"
    "Margem=10\r\n"
    "\r\n"
    "[backup]\r\n"
    "tempo1=09:30\r\n"
    "caminhobkpmanual=D:\\C\xF3pias\\\r\n"
    "\r\n"
    "[Outros]\r\n"
    "chave=valor\r\n";

TEST(IniDocument, LooksUpSectionsAndKeysWithoutCaseAndTrimsValues) {
  IniDocument doc(kErpConfig);
  EXPECT_EQ(doc.value("conexao", "endereco"), "servidor:C:\\Dados\\ERP.FDB");
  EXPECT_EQ(doc.value("CONEXAO", "SENHA"), "xyz");
  EXPECT_EQ(doc.value("backup", "tempo2"), "");
  EXPECT_EQ(doc.value("nosection", "tempo1"), "");
  EXPECT_EQ(doc.value("impressao", "impressora"), "Epson LX-300 \xE7\xE3o");
  EXPECT_TRUE(doc.hasSection("BACKUP"));
  EXPECT_FALSE(doc.hasSection("missing"));
}

TEST(IniDocument, ChangingOneValueKeepsEveryOtherByte) {
  IniDocument doc(kErpConfig);
  doc.setValue("backup", "tempo1", "10:15");
  std::string expected = kErpConfig;
  expected.replace(expected.find("tempo1=09:30"), 12, "tempo1=10:15");
  EXPECT_EQ(doc.bytes(), expected);

  doc.setValue("conexao", "senha", "abc");  // blanks after "=" belong to the line, kept
  expected.replace(expected.find("senha = xyz "), 12, "senha = abc");
  EXPECT_EQ(doc.bytes(), expected);
}

TEST(IniDocument, MissingKeyGoesAtTheEndOfItsSectionWithTheFilesLineEnding) {
  IniDocument doc(kErpConfig);
  doc.setValue("backup", "localremoto", "L");
  std::string expected = kErpConfig;
  const std::string after = "caminhobkpmanual=D:\\C\xF3pias\\\r\n";
  expected.insert(expected.find(after) + after.size(), "localremoto=L\r\n");
  EXPECT_EQ(doc.bytes(), expected);
  EXPECT_EQ(doc.value("backup", "LocalRemoto"), "L");
}

TEST(IniDocument, MissingSectionIsAddedAtTheEnd) {
  IniDocument doc("[a]\nx=1");  // LF endings, no final line end
  doc.setValue("backup", "tempo3", "12:00");
  EXPECT_EQ(doc.bytes(), "[a]\nx=1\n[backup]\ntempo3=12:00\n");
  IniDocument empty;
  empty.setValue("backup", "localremoto", "L");
  EXPECT_EQ(empty.bytes(), "[backup]\r\nlocalremoto=L\r\n");
}

TEST(IniDocument, JunkDuplicatesAndKeysWithoutEqualsAreKeptButNeverMatch) {
  const std::string text =
      "junk before any section\n"
      "[backup]\n"
      "tempo1\n"
      "=no key\n"
      "; tempo1=01:00\n"
      "TEMPO1 = \"08:00\"\n"
      "[backup]\n"
      "tempo1=07:00\n"
      "tempo2=17:00\n";
  IniDocument doc(text);
  EXPECT_EQ(doc.value("backup", "tempo1"), "08:00");  // first section, first key, unquoted
  EXPECT_EQ(doc.value("backup", "tempo2"), "");       // only in the duplicate section
  doc.setValue("backup", "tempo1", "09:00");
  EXPECT_NE(doc.bytes().find("TEMPO1 = 09:00\n[backup]\ntempo1=07:00"), std::string::npos);
  EXPECT_EQ(doc.bytes().substr(0, 48), text.substr(0, 48));
}

TEST(IniDocument, BareHeadersLongLinesAndBinaryBytesAndNoValueAddsALine) {
  IniDocument bare("[backup]\r\n\r\n[x]\r\ny=1\r\n");
  EXPECT_FALSE(bare.hasSection("backup"));
  EXPECT_TRUE(bare.hasSection("x"));

  std::string text = "[a]\r\nlong=" + std::string(200000, 'x') + "\r\n";
  text += "bin=\x01\x02\xFF\xFE\x81\r\n";
  IniDocument doc(text);
  EXPECT_EQ(doc.value("a", "long").size(), 200000u);
  EXPECT_EQ(doc.value("a", "bin"), "\x01\x02\xFF\xFE\x81");
  doc.setValue("a", "new", "1");
  EXPECT_EQ(doc.bytes(), text + "new=1\r\n");

  doc.setValue("a", "new", "evil\r\n[conexao]\r\nsenha=x");
  EXPECT_EQ(doc.value("conexao", "senha"), "");
  EXPECT_EQ(doc.bytes().find("\r\n[conexao]"), std::string::npos);
}

TEST(ProfileFile, WritesUtf8AsWindows1252AndReadsItBack) {
  TempDir dir;
  const std::string path = dir.file("EMPRESA.dvk");
  writeFile(path, kErpConfig);
  ProfileFile file(path);
  EXPECT_EQ(file.readString("backup", "caminhobkpmanual"), "D:\\Cópias\\");
  EXPECT_EQ(file.readString("impressao", "impressora"), "Epson LX-300 ção");
  file.writeString("backup", "enderecobackup", "/srv/cópias/");
  EXPECT_EQ(file.readString("backup", "enderecobackup"), "/srv/cópias/");
  const std::string bytes = readFile(path);
  EXPECT_NE(bytes.find("enderecobackup=/srv/c\xF3pias/\r\n"), std::string::npos);
  // Nothing else changed and no temporary file stayed behind.
  std::string expected = kErpConfig;
  const std::string after = "caminhobkpmanual=D:\\C\xF3pias\\\r\n";
  expected.insert(expected.find(after) + after.size(), "enderecobackup=/srv/c\xF3pias/\r\n");
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ProfileFile, MissingFileReadsEmptyAndIsCreatedByAWrite) {
  TempDir dir;
  ProfileFile file(dir.file("novo.dvk"));
  EXPECT_FALSE(file.exists());
  EXPECT_EQ(file.readString("backup", "tempo1"), "");
  file.writeString("backup", "localremoto", "L");
  EXPECT_TRUE(file.exists());
  EXPECT_EQ(readFile(dir.file("novo.dvk")), "[backup]\r\nlocalremoto=L\r\n");
}

#ifndef _WIN32
// Permissions, links and users as POSIX systems have them; the Windows suite has its own.
TEST(ProfileFile, UnwritableFolderReportsTheFileAndKeepsItWhole) {
  TempDir dir;
  std::string folder = dir.path().string();
  std::optional<test::SmallDisk> disk;
  if (geteuid() == 0) {
    // Root writes into read-only folders: use a read-only file system instead.
    folder = dir.file("ro");
    disk.emplace(folder, "64k");
    if (!disk->mounted()) GTEST_SKIP() << "cannot mount a file system here";
  }
  const std::string path = folder + "/EMPRESA.dvk";
  writeFile(path, kErpConfig);
  if (disk) {
    ASSERT_EQ(mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  } else {
    chmod(folder.c_str(), 0555);
  }
  ProfileFile file(path);
  EXPECT_EQ(test::errorText<Exception>([&] { file.writeString("backup", "tempo1", "11:11"); }),
            "Unable to write to " + path);
  EXPECT_EQ(readFile(path), kErpConfig);
  EXPECT_EQ(file.readString("backup", "tempo1"), "09:30");
  if (!disk) chmod(folder.c_str(), 0755);
}

TEST(ProfileFile, WriteThroughALinkReplacesTheTargetAndKeepsTheLink) {
  TempDir dir;
  const std::string real = dir.file("real.dvk");
  const std::string link = dir.file("link.dvk");
  writeFile(real, "[backup]\r\ntempo1=09:30\r\n");
  std::filesystem::create_symlink(real, link);
  ProfileFile(link).writeString("backup", "tempo1", "10:00");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(readFile(real), "[backup]\r\ntempo1=10:00\r\n");
}

// The ERP owns the file: a write changes its content only. Owner, group, mode, inode and
// a second hard link all survive, and the next write still reaches the same file.
TEST(ProfileFile, WriteKeepsTheFilesOwnerGroupModeInodeAndHardLinks) {
  TempDir dir;
  const std::string path = dir.file("EMPRESA.dvk");
  const std::string other = dir.file("copia.dvk");
  writeFile(path, kErpConfig);
  ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  }
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  ProfileFile file(path);
  file.writeString("backup", "localremoto", "R");
  file.writeString("backup", "tempo3", "");
  file.writeString("backup", "enderecobackup", "D:\\nova pasta\\");
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mode & 07777, 0664u);
  EXPECT_EQ(readFile(other), readFile(path));
  EXPECT_EQ(file.readString("backup", "localremoto"), "R");
  EXPECT_EQ(file.readString("backup", "tempo3"), "");
  EXPECT_EQ(file.readString("backup", "enderecobackup"), "D:\\nova pasta\\");
  EXPECT_EQ(file.readString("conexao", "endereco"), "servidor:C:\\Dados\\ERP.FDB");
  // Nothing is left beside the file.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2u);
}

// A writable settings file in a folder the program may not write (0555) is still written,
// as the profile functions would: run as another user, since root writes any folder.
TEST(ProfileFile, WritableFileInAReadOnlyFolderIsWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the write as another user";
  TempDir dir;
  const std::string folder = dir.file("windows");
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/EMPRESA.dvk";
  writeFile(path, kErpConfig);
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0) {
      _exit(100);
    }
    try {
      ProfileFile(path).writeString("backup", "tempo1", "11:11");
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write failed (100: could not switch user)";
  EXPECT_EQ(ProfileFile(path).readString("backup", "tempo1"), "11:11");
  ::chmod(folder.c_str(), 0755);
}
#endif

}  // namespace
}  // namespace dovra
