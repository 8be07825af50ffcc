// Operations on names in the local file system: renames, removal, what a name holds and
// flushing a folder's entries. Failures are returned as errno values (0 for success), as
// for FileHandle, so each caller reports them in its own terms. Thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_handle.h"

namespace dovra {

// Renames `from` to `to`, replacing a file of that name in one step (a reader sees the
// old file or the new, never neither). Returns 0 or the errno value.
int renameReplacing(const std::string& from, const std::string& to);

// What renameNoReplace does on a file system that can neither refuse a replacement in the
// rename itself nor make hard links.
enum class NoReplaceFallback {
  fail,             // nothing is renamed: the link's error (EPERM, ENOTSUP) is returned
  checkThenRename,  // EEXIST when `to` exists (a link counts as itself), else a plain rename
};

// Renames `from` to `to` only when no entry named `to` exists: EEXIST then, and both names
// are left as they were. The check and the rename are one step, so an entry that appears
// meanwhile is never replaced. On file systems that cannot refuse a replacement in the
// rename itself, a hard link (which never replaces) is made and `from` removed; where
// links are not supported either, `fallback` decides. Returns 0 or the errno value.
int renameNoReplace(const std::string& from, const std::string& to,
                    NoReplaceFallback fallback = NoReplaceFallback::fail);

// Removes the name `path` (a link itself, never what it points to; never a folder).
// Returns 0 or the errno value.
int removeFile(const std::string& path);

// What `path` holds: with `followLinks`, the file a link points to; without, the link
// itself. Returns 0 or the errno value (ENOENT when there is no such name).
int pathInfo(const std::string& path, FileInfo& out, bool followLinks = true);

// Makes the folder `path` and the folders above it that are missing. Returns 0 (also when
// it exists already) or the errno value.
int createFolders(const std::string& path);

// Flushes `folder`'s entries (a rename or a creation in it) to the device. Best effort:
// a folder that cannot be opened or flushed is left alone.
void syncFolder(const std::string& folder);

// Gives the file `from` a second name `to` in the same file system (a hard link), never
// replacing an existing `to`. Returns 0 or the errno value (EXDEV, EPERM or ENOTSUP where
// the file system cannot link).
int makeHardLink(const std::string& from, const std::string& to);

// The bytes this process may still write on the file system that holds `path`. Returns 0
// or the errno value.
int freeSpace(const std::string& path, uint64_t& bytes);

// Makes the folder `folder` (its parent must exist) with the permissions of `model`, an
// existing folder (read, write and search bits, and the bit that passes the folder's group
// on; systems without them ignore this), so that whoever may write in `model` may write in
// it too. Returns 0 or the errno value (EEXIST when something of that name exists).
int makeFolderLike(const std::string& folder, const std::string& model);

// Removes the empty folder `folder`. Returns 0 or the errno value.
int removeFolder(const std::string& folder);

}  // namespace dovra
