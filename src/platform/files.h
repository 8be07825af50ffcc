// File helpers for files that matter: a replacement is written beside the old file under
// a temporary name, flushed to disk and renamed over it, so a reader sees either the old
// content or the new, never a part.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dovra {

// Replaces `path` with `bytes` atomically. Keeps the mode of an existing file. Throws
// std::system_error (with errno) on failure; the old file is then left as it was and the
// temporary is removed.
void writeFileAtomically(const std::string& path, std::string_view bytes);

// Changes an existing regular file's content to `bytes` in place, keeping its inode, owner,
// group, mode and every hard link, and needing write permission on the file only (not on
// its folder). Only the bytes from the first difference on are rewritten; the space for a
// longer content is reserved first, so a full disk fails before anything changes; the
// file is flushed to disk before returning. When the folder allows it, a flushed copy of
// the new content is kept beside the file while the rewrite runs, so a crash in that
// window leaves the complete new text on disk. Throws std::system_error (with errno) on
// failure; a failure after the rewrite began puts the old content back as far as the
// file system allows. ENOENT when `path` does not exist.
void rewriteFileInPlace(const std::string& path, std::string_view bytes);

// `path` with its links resolved as the system resolves them when the file is created
// through it; `path` itself when that cannot be done.
std::string resolvedPath(const std::string& path);

// Reads a whole file. Throws std::system_error (with errno) when it cannot be read.
std::string readWholeFile(const std::string& path);

// Creates `folder` and any missing parents (mode 0755 before the umask); an existing
// folder is fine. Throws std::system_error (with errno) when one cannot be made.
void makeDirectories(const std::string& folder);

// The raw first line of a text file: the bytes before the first CR, LF or Ctrl-Z, blanks
// kept; "" for an empty file. At most `maxBytes` bytes are read: a file whose first line
// is longer, or that is not a regular file (a device, a pipe, a folder), is reported as
// EInOutError "Invalid file format" rather than read without end. Other failures throw
// EInOutError with the runtime's text for the errno value.
std::string readFirstLineBounded(const std::string& path, size_t maxBytes);

// A name beside `path` that no other process or thread will choose:
// path + ".tmp-<pid>-<counter>-<random>".
std::string uniqueTemporaryBeside(const std::string& path);

// Whether an existing `path` may be written over: 0 when there is no such file or this
// process may write it; otherwise the error a write would meet: EACCES for a read-only file
// (no write permission for anyone, which holds for the superuser too) or one this process
// may not write, EISDIR for a folder, or what the system reports. A link counts as itself
// (what it points to is never written).
int existingFileWriteError(const std::string& path);

// Marks the open file `fd` as in use by this process: an exclusive advisory lock that the
// system releases when the file is closed or the process ends, however it ends. Returns
// false when the system refuses the lock.
bool markInUse(int fd);

// Removes the regular file `path` unless an open file holds markInUse on it. Links are not
// followed (a link of that name is left alone). Returns true when the file was removed.
bool removeIfNotInUse(const std::string& path);

// Names of the entries of `folder` ("." and ".." left out), in no particular order; empty
// when the folder cannot be read.
std::vector<std::string> folderEntryNames(const std::string& folder);

}  // namespace dovra
