// Pieces of the archive writer shared by CompressFiles and the packer of growing files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/stream.h"

namespace dovra::archive {

// A fresh temporary name beside `path`: `<path>.tmp-<pid>-<8 hex digits>`.
std::string temporaryPathBeside(const std::string& path);

// Removes, from the folder of `archivePath`, the temporaries that packings which did not
// finish (a crash, a kill) left there. A temporary whose process still runs, or that a
// packing holds open (from another machine sharing the folder, say), is left alone.
void removeStaleTemporaries(const std::string& archivePath);

// Makes a rename in the folder of `path` durable. Best effort: a folder that cannot be
// opened or synced leaves the rename as the file system keeps it.
void syncFolderOf(const std::string& path);

// Flushes and closes the complete archive `out`, written under `temporary`, and renames it
// to `archivePath`. Throws EFCreateError naming `archivePath` when the rename fails; the
// caller removes the temporary on any failure. The folder is not synced here.
void renameIntoPlace(FileStream& out, const std::string& temporary, const std::string& archivePath);

// Writes an entry's name length, name (Windows-1252 bytes) and size fields.
void writeEntryHeader(Stream& dest, const std::string& name, int32_t size);

// Writes one plain single-threaded zlib stream of exactly `size` bytes of `input` to `dest`,
// calling `report(bytesIn, bytesOut)` per full compressed buffer.
void compressPlain(Stream& input, uint64_t size, Stream& dest,
                   const std::function<void(uint64_t, uint64_t)>& report);

}  // namespace dovra::archive
