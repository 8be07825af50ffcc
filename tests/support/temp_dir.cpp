#include "support/temp_dir.h"

#ifdef _WIN32
#include "support/test_servers.h"
#else
#include <sys/mount.h>
#endif

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace dovra::test {

TempDir::TempDir(const std::string& prefix) {
  const char* base = std::getenv("DOVRA_TEST_TMP");
  const std::filesystem::path parent =
      base && *base ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
#ifdef _WIN32
  // No mkdtemp: a random name, made with a call that fails when the name is taken.
  std::random_device seed;
  std::mt19937_64 rng(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        parent / (prefix + "-" + std::to_string(rng() % 1000000000));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder under " + parent.string());
#else
  std::string tmpl = parent.string() + "/" + prefix + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed for " + tmpl);
  path_ = tmpl;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

SmallDisk::SmallDisk(const std::filesystem::path& where, const std::string& size) : where_(where) {
  std::filesystem::create_directories(where);
#ifdef _WIN32
  // Under Wine the folder is the host's: the host mounts it (which needs root there too).
  host_ = hostPath(utf8Name(where));
  mounted_ =
      runOnHost("mount -t tmpfs -o 'size=" + size + ",mode=1777' tmpfs '" + host_ + "'").status ==
      0;
#else
  mounted_ =
      ::mount("tmpfs", where.c_str(), "tmpfs", 0, ("size=" + size + ",mode=1777").c_str()) == 0;
#endif
}

SmallDisk::~SmallDisk() {
#ifdef _WIN32
  if (mounted_) runOnHost("umount -l '" + host_ + "'");
#else
  if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
#endif
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

std::string utf8Name(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

}  // namespace dovra::test
