// The Windows implementations of the platform interfaces, on the system's own objects:
// the named mutex, the Run key, the Windows and temporary folders, files whose names hold
// accents and blanks, the settings file's read-only case and the MSXML document.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/autostart.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/xml_document.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"
#include "transfer/version_document.h"

namespace dovra {
namespace {

using Outcome = InstanceLock::Outcome;

std::wstring wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string utf8(const std::filesystem::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

std::string readWide(const std::string& utf8Path) {
  return test::readFile(std::filesystem::path(wide(utf8Path)));
}

class WindowsPlatform : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::ScopedEnv scope{"DOVRA_INSTANCE_SCOPE", utf8(dir.path())};
};

TEST_F(WindowsPlatform, NamedMutexKeepsASecondHolderOutUntilReleased) {
  Outcome outcome;
  auto held = InstanceLock::acquire("LOJABKPDOVRA", outcome);
  ASSERT_EQ(outcome, Outcome::Acquired);
  ASSERT_NE(held, nullptr);
  Outcome second;
  EXPECT_EQ(InstanceLock::acquire("LOJABKPDOVRA", second), nullptr);
  EXPECT_EQ(second, Outcome::AlreadyHeld);
  // Another installation's name runs beside it.
  Outcome other;
  auto beside = InstanceLock::acquire("FILIALBKPDOVRA", other);
  EXPECT_EQ(other, Outcome::Acquired);
  held.reset();
  auto again = InstanceLock::acquire("LOJABKPDOVRA", outcome);
  EXPECT_EQ(outcome, Outcome::Acquired);
  // The mutex name may not hold a backslash: names that differ only there stay apart.
  EXPECT_NE(InstanceLock::objectName("A\\B"), InstanceLock::objectName("A%5CB"));
  EXPECT_EQ(InstanceLock::objectName("A\\B").find('\\'), std::string::npos);
}

TEST_F(WindowsPlatform, RunValueUnderTheCurrentUserNamesTheProgramQuoted) {
  const std::string exe = "C:\\Program Files\\Dovra Inform\xC3\xA1tica\\backupdovra.exe";
  writeAutostartEntry("BackUp Dovra", exe);
  const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  wchar_t value[1024] = L"";
  DWORD size = sizeof value;
  ASSERT_EQ(
      RegGetValueW(HKEY_CURRENT_USER, key, L"BackUp Dovra", RRF_RT_REG_SZ, nullptr, value, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(value), L"\"" + wide(exe) + L"\"");
  EXPECT_EQ(autostartEntryPath("BackUp Dovra"),
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\BackUp Dovra");
  // Written again, the same value is replaced.
  writeAutostartEntry("BackUp Dovra", "C:\\Dovra\\backupdovra.exe");
  size = sizeof value;
  ASSERT_EQ(
      RegGetValueW(HKEY_CURRENT_USER, key, L"BackUp Dovra", RRF_RT_REG_SZ, nullptr, value, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(value), L"\"C:\\Dovra\\backupdovra.exe\"");
  RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"BackUp Dovra");
}

TEST_F(WindowsPlatform, FoldersComeFromTheSystemWithATrailingBackslash) {
  test::ScopedEnv noWindowsDir("DOVRA_WINDOWS_DIR", nullptr);
  test::ScopedEnv noProgramDir("DOVRA_PROGRAM_DIR", nullptr);
  wchar_t windows[MAX_PATH] = L"";
  const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(wide(settingsFolder()), std::wstring(windows, n) + L"\\");
  const std::string temp = temporaryFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_TRUE(directoryExists(temp));
  const std::string exe = executablePath();
  EXPECT_EQ(exe.substr(exe.size() - 18), "platform_tests.exe");
  EXPECT_EQ(programFolder(), exe.substr(0, exe.size() - 18));
  EXPECT_EQ(withTrailingSeparator("C:\\Dados"), "C:\\Dados\\");
  EXPECT_EQ(withTrailingSeparator("C:\\Dados\\"), "C:\\Dados\\");
  EXPECT_EQ(withTrailingSeparator("C:/Dados/"), "C:/Dados/");
}

TEST_F(WindowsPlatform, AccentedNamesWithBlanksAreMadeReplacedAndListed) {
  const std::string folder =
      utf8(dir.path()) + "\\C\xC3\xB3pias de seguran\xC3\xA7\x61\\m\xC3\xAAs 1";
  makeDirectories(folder);
  EXPECT_TRUE(directoryExists(folder));
  makeDirectories(folder);  // an existing folder is fine
  const std::string file = folder + "\\EMPRESA \xC3\x81gua.zlib";
  writeFileAtomically(file, "primeira");
  EXPECT_TRUE(fileExists(file));
  EXPECT_FALSE(directoryExists(file));
  EXPECT_EQ(readWide(file), "primeira");
  EXPECT_EQ(readWholeFile(file), "primeira");
  writeFileAtomically(file, std::string("segunda\0vers\xE3o", 14));
  EXPECT_EQ(readWholeFile(file), std::string("segunda\0vers\xE3o", 14));
  // Forward slashes reach the same file.
  std::string slashed = file;
  for (auto& c : slashed) {
    if (c == '\\') c = '/';
  }
  EXPECT_TRUE(fileExists(slashed));
  EXPECT_EQ(folderEntryNames(folder), std::vector<std::string>{"EMPRESA \xC3\x81gua.zlib"});
  writeFileAtomically(file, "segunda\r\nvers\xE3o");
  EXPECT_EQ(readFirstLineBounded(file, 100), "segunda");
  writeFileAtomically(file, std::string(200, 'x'));
  EXPECT_EQ(test::errorText<EInOutError>([&] { readFirstLineBounded(file, 100); }),
            "Invalid file format");
}

TEST_F(WindowsPlatform, InPlaceRewriteKeepsTheFileAndRemovalRespectsAHolder) {
  const std::string file = utf8(dir.path()) + "\\a\xC3\xA7\xC3\xA3o.dvk";
  writeFileAtomically(file, "[backup]\r\ntempo1=09:30\r\n");
  rewriteFileInPlace(file, "[backup]\r\ntempo1=10:00\r\ntempo2=18:00\r\n");
  EXPECT_EQ(readWholeFile(file), "[backup]\r\ntempo1=10:00\r\ntempo2=18:00\r\n");
  rewriteFileInPlace(file, "[backup]\r\n");
  EXPECT_EQ(readWholeFile(file), "[backup]\r\n");
  EXPECT_EQ(folderEntryNames(utf8(dir.path())).size(), 1u);  // no copy left beside it
  EXPECT_EQ(test::errorText<std::system_error>([&] {
              rewriteFileInPlace(utf8(dir.path()) + "\\nada.dvk", "x");
            }).empty(),
            false);
  EXPECT_EQ(existingFileWriteError(file), 0);
  EXPECT_EQ(existingFileWriteError(utf8(dir.path()) + "\\nada.dvk"), 0);
  EXPECT_EQ(existingFileWriteError(utf8(dir.path())), EISDIR);
  EXPECT_TRUE(removeIfNotInUse(file));
  EXPECT_FALSE(fileExists(file));
  EXPECT_FALSE(removeIfNotInUse(file));
}

TEST_F(WindowsPlatform, ReadOnlySettingsFileReportsItselfAndStaysWhole) {
  const std::string path = utf8(dir.path()) + "\\EMPRESA.dvk";
  const std::string content = "; n\xE3o editar\r\n[backup]\r\ntempo1=09:30\r\n";
  writeFileAtomically(path, content);
  ASSERT_TRUE(SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(existingFileWriteError(path), EACCES);
  ProfileFile file(path);
  EXPECT_EQ(test::errorText<Exception>([&] { file.writeString("backup", "tempo1", "11:11"); }),
            "Unable to write to " + path);
  EXPECT_EQ(readWholeFile(path), content);
  EXPECT_EQ(file.readString("backup", "tempo1"), "09:30");
  SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  file.writeString("backup", "enderecobackup", "D:\\C\xC3\xB3pias\\");
  EXPECT_EQ(readWholeFile(path), content + "enderecobackup=D:\\C\xF3pias\\\r\n");
}

TEST_F(WindowsPlatform, SettingsFileInAnAccentedFolderIsCreatedAndReadBack) {
  const std::string folder = utf8(dir.path()) + "\\Configura\xC3\xA7\xC3\xA3o";
  makeDirectories(folder);
  ProfileFile file(folder + "\\LOJA.dvk");
  EXPECT_FALSE(file.exists());
  file.writeString("backup", "localremoto", "L");
  file.writeString("conexao", "endereco", "servidor:C:\\Dados\\ERP.FDB");
  EXPECT_TRUE(file.exists());
  EXPECT_EQ(readWholeFile(folder + "\\LOJA.dvk"),
            "[backup]\r\nlocalremoto=L\r\n[conexao]\r\nendereco=servidor:C:\\Dados\\ERP.FDB\r\n");
  EXPECT_EQ(file.readString("CONEXAO", "Endereco"), "servidor:C:\\Dados\\ERP.FDB");
}

TEST_F(WindowsPlatform, TheSystemsXmlParserReadsTheVersionDocument) {
  EXPECT_EQ(parseVersionDocument("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
                                 "<dovrainformatica><nome>Dovra Inform\xE1tica</nome>"
                                 "<versao> 14 </versao></dovrainformatica>"),
            14);
  const XmlNode root = parseXmlDocument(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a><b>x<![CDATA[<y>]]></b><c>\xE7</c></a>");
  EXPECT_EQ(root.name, "a");
  ASSERT_NE(root.childElement("b"), nullptr);
  EXPECT_EQ(root.childElement("b")->allText(), "x<y>");
  EXPECT_EQ(root.childElement("c")->allText(), "\xC3\xA7");
  EXPECT_EQ(root.childElement("d"), nullptr);
  EXPECT_EQ(test::errorText<Exception>(
                [] { parseXmlDocument("<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>"); }),
            "DTD not allowed");
  EXPECT_NE(test::errorText<Exception>([] { parseVersionDocument("<dovrainformatica><versao>"); }),
            "");
  EXPECT_EQ(
      test::errorText<Exception>([] { parseVersionDocument("<outro><versao>1</versao></outro>"); }),
      "Invalid version document: no dovrainformatica element");
}

TEST_F(WindowsPlatform, ProcessesAreStartedOnlyFromAnExistingFileAndSeenWhileTheyRun) {
  EXPECT_FALSE(startDetached(utf8(dir.path()) + "\\Renovador.exe"));
  EXPECT_TRUE(processRuns(static_cast<long>(GetCurrentProcessId())));
  EXPECT_FALSE(processRuns(0));
}

}  // namespace
}  // namespace dovra
