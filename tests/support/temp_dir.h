// A fresh folder for one test, removed with everything in it when the object dies, and a
// small disk to fill.
#pragma once

#include <filesystem>
#include <string>

namespace dovra::test {

class TempDir {
 public:
  // Created under $DOVRA_TEST_TMP, else the system's temporary folder.
  explicit TempDir(const std::string& prefix = "dovra");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name, as a string.
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// A small tmpfs mounted at `where` (made if missing), open to every user, for full-disk
// cases; mounting needs root, so check mounted(). Unmounted when the object dies. Under
// Wine the host mounts it on the folder's host path.
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& where, const std::string& size);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path where_;
  std::string host_;  // the folder's host path (Windows build)
  bool mounted_ = false;
};

// Whole content of a file as bytes; throws when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// Writes bytes to a file, replacing it.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// A path's name in UTF-8, as the tests' strings and the programs' environment name it on
// every system (path.string() is in the ANSI code page on Windows).
std::string utf8Name(const std::filesystem::path& path);

}  // namespace dovra::test
