#include "support/temp_dir.h"

#include <sys/mount.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace dovra::test {

TempDir::TempDir(const std::string& prefix) {
  const char* base = std::getenv("DOVRA_TEST_TMP");
  std::string tmpl =
      (base && *base ? std::string(base) : std::filesystem::temp_directory_path().string()) + "/" +
      prefix + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed for " + tmpl);
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

SmallDisk::SmallDisk(const std::filesystem::path& where, const std::string& size) : where_(where) {
  std::filesystem::create_directories(where);
  mounted_ =
      ::mount("tmpfs", where.c_str(), "tmpfs", 0, ("size=" + size + ",mode=1777").c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out << bytes;
}

}  // namespace dovra::test
