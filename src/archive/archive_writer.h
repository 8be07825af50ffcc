// The writer of the ".zlib" backup archive (layout in archive_format.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace dovra {

// An input too large for the archive's 32-bit size field (2 GiB or more).
class EFileTooLarge : public Exception {
 public:
  EFileTooLarge(const std::string& path, uint64_t size);
};

// Where a running CompressFiles stands when it reports progress.
struct CompressProgress {
  size_t entry;        // 0-based index of the input being compressed
  size_t entryCount;   // number of inputs
  uint64_t entrySize;  // the input's size S
  uint64_t bytesIn;    // input bytes of this entry taken by the compressor so far
  uint64_t bytesOut;   // compressed bytes of this entry written so far
};
using CompressProgressHandler = std::function<void(const CompressProgress&)>;

// Packs `files` (UTF-8 paths, in order) into the archive at `archivePath`: the entry count,
// then per file its name (what follows the path's last "\", "/" or ":", as Windows-1252
// bytes), its size and one zlib stream of its content. Two inputs with one name give two
// entries of that name.
//
// An empty list does nothing: no file is created and an existing archive stays. Otherwise
// the archive is written under a temporary name beside `archivePath` (unique to the call),
// forced to disk and renamed over `archivePath` only when complete; on any failure the
// temporary file is removed and an existing archive stays as it was. Each entry is
// compressed straight into the archive; nothing is written elsewhere.
//
// The temporary is named `<archive>.tmp-<pid>-<8 hex digits>` and held open under an
// exclusive lock while it is written. Before writing, the call removes from the archive's
// folder the temporaries of that form (for this archive or any "*.zlib" one) that a packing
// which did not finish left behind: those whose process no longer runs on this machine and
// that no open file holds locked. A temporary of a running packing, whoever runs it, stays.
//
// `workers` threads compress inputs of kParallelThreshold bytes or more (0: one per core;
// 1: a plain single-threaded stream for every input). Smaller inputs always get the plain
// stream: deflate at zlib's default level, window bits 15, memory level 8.
//
// `onProgress` runs on the caller's thread for each 65,536 bytes of compressed output
// written (none for an entry that compresses below 65,536 bytes).
//
// Runs on the caller's thread; several calls may run at once on different archives.
// Throws dovra::Exception subclasses with the texts:
//   "Cannot open file "<input>". <system text>"         an input cannot be opened
//   "Cannot create file "<archivePath>". <system text>" the archive cannot be created
//   "Arquivo muito grande para compactar: "<input>" (<n> bytes; o limite é 2147483647 bytes)"
//                                                       an input of 2 GiB or more, checked
//                                                       for every input before any writing
//   "Stream read error"                                 an input yields fewer bytes than its size
//   "Stream write error"                                a write fails (disk full)
//   "Error"                                             zlib fails
void CompressFiles(const std::vector<std::string>& files, const std::string& archivePath,
                   const CompressProgressHandler& onProgress = {}, unsigned workers = 0);

}  // namespace dovra
