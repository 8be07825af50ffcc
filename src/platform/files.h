// File helpers for files that matter: a replacement is written beside the old file under
// a temporary name, flushed to disk and renamed over it, so a reader sees either the old
// content or the new, never a part.
#pragma once

#include <string>
#include <string_view>

namespace dovra {

// Replaces `path` with `bytes` atomically. Keeps the mode of an existing file. Throws
// std::system_error (with errno) on failure; the old file is then left as it was and the
// temporary is removed.
void writeFileAtomically(const std::string& path, std::string_view bytes);

// Reads a whole file. Throws std::system_error (with errno) when it cannot be read.
std::string readWholeFile(const std::string& path);

// Creates `folder` and any missing parents (mode 0755 before the umask); an existing
// folder is fine. Throws std::system_error (with errno) when one cannot be made.
void makeDirectories(const std::string& folder);

// A name beside `path` that no other process or thread will choose:
// path + ".tmp-<pid>-<counter>-<random>".
std::string uniqueTemporaryBeside(const std::string& path);

}  // namespace dovra
