// Helpers shared by the archive tests: test data, hand-built archives, zlib reference
// streams, folder listings and Python scripts.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/program_process.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"

namespace dovra::test {

inline std::string bytesOf(std::initializer_list<int> codes) {
  std::string s;
  for (int c : codes) s += static_cast<char>(c);
  return s;
}

// Text-like records that compress well (about 4x to 8x with zlib's default level).
inline std::string repetitiveBytes(size_t n, uint64_t seed) {
  static const char* const kWords[] = {"CLIENTE",    "PRODUTO",   "NOTA", "FISCAL", "VALOR",
                                       "QUANTIDADE", "SAO PAULO", "RUA",  "LTDA",   "ESTOQUE"};
  std::mt19937_64 gen(seed);
  std::string s;
  while (s.size() < n) {
    s += kWords[gen() % 10];
    s += ';' + std::to_string(gen() % 100000) + ((gen() % 4 == 0) ? "\r\n" : ";");
  }
  s.resize(n);
  return s;
}

// A short record repeated: compresses about a thousandfold.
inline std::string highlyCompressible(size_t n) {
  std::string s;
  while (s.size() < n) s += "0001;CONSUMIDOR FINAL;0,00\r\n";
  s.resize(n);
  return s;
}

// Compares byte strings without printing them: reports sizes and the first difference.
inline ::testing::AssertionResult sameBytes(const std::string& actual,
                                            const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at offset " << i;
}

// zlib's own one-call compressor at `level` (window 15, memory level 8).
inline std::string zlibCompress(const std::string& data, int level) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(data.data()), data.size(), level) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  out.resize(size);
  return out;
}

inline std::string le32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return bytesOf({static_cast<int>(u & 0xFF), static_cast<int>((u >> 8) & 0xFF),
                  static_cast<int>((u >> 16) & 0xFF), static_cast<int>(u >> 24)});
}

struct RawEntry {
  std::string name;  // bytes as stored
  int32_t size;
  std::string stream;
};

// An archive assembled field by field, so tests can store what the writer never would.
inline std::string buildArchive(const std::vector<RawEntry>& entries) {
  std::string a = le32(static_cast<int32_t>(entries.size()));
  for (const auto& e : entries) {
    a += le32(static_cast<int32_t>(e.name.size())) + e.name + le32(e.size) + e.stream;
  }
  return a;
}

inline RawEntry entryOf(const std::string& name, const std::string& content, int level = 6) {
  return RawEntry{name, static_cast<int32_t>(content.size()), zlibCompress(content, level)};
}

// Names in a folder, sorted.
inline std::vector<std::string> namesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Runs a Python 3 script with arguments; throws when it fails.
inline std::string runPython(const std::string& script, std::vector<std::string> args = {}) {
  args.insert(args.begin(), {"/usr/bin/python3", "-c", script});
  const ProcessResult r = runProcess(args);
  if (r.status != 0) throw std::runtime_error("python failed: " + r.err);
  return r.out;
}

}  // namespace dovra::test
