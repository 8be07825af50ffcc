#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  std::string made(const std::string& name, const std::string& bytes) {
    const std::string path = dir.file(name);
    test::writeFile(path, bytes);
    return path;
  }

  test::TempDir dir{"file-system"};
};

TEST_F(FileSystemTest, ARenameReplacesTheTargetInOneStep) {
  const std::string from = made("new", "new content");
  const std::string to = made("old", "old content");
  ASSERT_EQ(renameReplacing(from, to), 0);
  EXPECT_EQ(test::readFile(to), "new content");
  EXPECT_FALSE(fs::exists(from));

  EXPECT_EQ(renameReplacing(dir.file("missing"), to), ENOENT);
  EXPECT_EQ(test::readFile(to), "new content");
}

TEST_F(FileSystemTest, ARenameWithoutReplacingLeavesAnExistingTargetAndBothNames) {
  for (const NoReplaceFallback fallback :
       {NoReplaceFallback::fail, NoReplaceFallback::checkThenRename}) {
    const std::string from = made("from", "mine");
    const std::string to = made("to", "theirs");
    EXPECT_EQ(renameNoReplace(from, to, fallback), EEXIST);
    EXPECT_EQ(test::readFile(from), "mine");
    EXPECT_EQ(test::readFile(to), "theirs");

    // A link of that name counts as an entry too, even when it points nowhere.
    std::error_code linkError;
    fs::remove(to);
    fs::create_symlink(dir.file("nowhere"), to, linkError);
    if (!linkError) {
      EXPECT_EQ(renameNoReplace(from, to, fallback), EEXIST);
      EXPECT_TRUE(fs::is_symlink(to));
      EXPECT_EQ(test::readFile(from), "mine");
    }
    fs::remove(to);

    ASSERT_EQ(renameNoReplace(from, to, fallback), 0);
    EXPECT_EQ(test::readFile(to), "mine");
    EXPECT_FALSE(fs::exists(from));
    fs::remove(to);
  }
  EXPECT_EQ(renameNoReplace(dir.file("missing"), dir.file("target")), ENOENT);
  EXPECT_FALSE(fs::exists(dir.file("target")));
}

TEST_F(FileSystemTest, RemovingANameTakesTheLinkNotWhatItPointsTo) {
  const std::string file = made("file", "kept");
  EXPECT_EQ(removeFile(dir.file("missing")), ENOENT);

  fs::create_directory(dir.path() / "folder");
  EXPECT_NE(removeFile(dir.file("folder")), 0);
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder"));

  std::error_code linkError;
  fs::create_symlink(file, dir.path() / "link", linkError);
  if (!linkError) {
    ASSERT_EQ(removeFile(dir.file("link")), 0);
    EXPECT_FALSE(fs::is_symlink(dir.path() / "link"));
    EXPECT_EQ(test::readFile(file), "kept");
  }
  ASSERT_EQ(removeFile(file), 0);
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(FileSystemTest, PathInfoTellsFilesFoldersAndLinksApart) {
  const std::string file = made("file", "12345");
  FileInfo info;
  ASSERT_EQ(pathInfo(file, info), 0);
  EXPECT_EQ(info.size, 5);
  EXPECT_TRUE(info.isRegular);
  EXPECT_FALSE(info.isFolder);
  EXPECT_GT(info.modifiedSeconds, 0);

  FileInfo folder;
  ASSERT_EQ(pathInfo(dir.path().string(), folder), 0);
  EXPECT_TRUE(folder.isFolder);
  EXPECT_FALSE(folder.isRegular);

  FileInfo none;
  EXPECT_EQ(pathInfo(dir.file("missing"), none), ENOENT);
  EXPECT_EQ(pathInfo(dir.file("missing"), none, /*followLinks=*/false), ENOENT);

  std::error_code linkError;
  fs::create_symlink(file, dir.path() / "link", linkError);
  fs::create_symlink(dir.file("nowhere"), dir.path() / "dangling", linkError);
  if (linkError) GTEST_SKIP() << "no symbolic links here";
  FileInfo through;
  ASSERT_EQ(pathInfo(dir.file("link"), through), 0);
  EXPECT_TRUE(through.isRegular);
  EXPECT_EQ(through.size, 5);
  FileInfo itself;
  ASSERT_EQ(pathInfo(dir.file("link"), itself, /*followLinks=*/false), 0);
  EXPECT_FALSE(itself.isRegular);
  EXPECT_FALSE(itself.isFolder);
  EXPECT_EQ(pathInfo(dir.file("dangling"), none), ENOENT);
  EXPECT_EQ(pathInfo(dir.file("dangling"), itself, /*followLinks=*/false), 0);
}

std::string utf8(const fs::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

// Accented names as the program holds them, UTF-8: the folders made, and the full path of
// a name, are the ones the system lists under those names.
TEST_F(FileSystemTest, FoldersAndFullPathsKeepTheirAccentedNames) {
  const std::string top = utf8(dir.path()) + "/Cópia de Segurança";
  const std::string nested = top + "/Automático/Março";
  ASSERT_EQ(createFolders(nested), 0);
  EXPECT_TRUE(fs::is_directory(fs::u8path(nested)));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path()))
    names.push_back(utf8(e.path().filename()));
  EXPECT_EQ(names, std::vector<std::string>{"Cópia de Segurança"});
  EXPECT_EQ(createFolders(nested), 0);  // there already
  EXPECT_EQ(createFolders(top + "/"), 0);
  // A file in the way is neither replaced nor made a folder.
  test::writeFile(fs::u8path(top + "/ocupado"), "x");
  EXPECT_NE(createFolders(top + "/ocupado/sub"), 0);
  EXPECT_EQ(test::readFile(fs::u8path(top + "/ocupado")), "x");

  EXPECT_EQ(absolutePath("Relatório ação.zlib"),
            utf8(fs::current_path() / fs::u8path("Relatório ação.zlib")));
  const std::string native = utf8(fs::u8path(nested).make_preferred());
  EXPECT_EQ(absolutePath(native), native);
}

TEST_F(FileSystemTest, FlushingAFolderLeavesItsEntriesAsTheyAre) {
  const std::string file = made("entry", "x");
  syncFolder(dir.path().string());
  syncFolder(dir.file("no-such-folder"));
  syncFolder(file);
  EXPECT_EQ(test::readFile(file), "x");
  EXPECT_FALSE(fs::exists(dir.file("no-such-folder")));
}

}  // namespace
}  // namespace dovra
