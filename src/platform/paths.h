// Where the program finds its files.
//
//  - The settings folder stands for the Windows folder of the original installations:
//    $DOVRA_WINDOWS_DIR, else $XDG_CONFIG_HOME/backupdovra/, else ~/.config/backupdovra/.
//    On Windows the default is the Windows folder itself (GetWindowsDirectory).
//  - The program folder is $DOVRA_PROGRAM_DIR, else the real folder of the running binary.
//  - The temporary folder is the system's: $TMPDIR or /tmp/ on Linux, GetTempPath on Windows.
// All are returned with a trailing separator, read anew on each call. Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dovra {

std::string settingsFolder();
std::string programFolder();
std::string temporaryFolder();
// Full path of the running executable (/proc/self/exe, or the module's file name).
std::string executablePath();

// Index of the last "/" or "\" in a path, or npos. Paths built from Windows-style values
// may hold either separator.
size_t lastSeparator(std::string_view path);
// The path up to and including its last separator; empty when it has none.
std::string directoryPart(std::string_view path);
// Adds the native separator ("/", or "\" on Windows) when the folder ends with neither "/"
// nor "\".
std::string withTrailingSeparator(std::string folder);

// `path` made absolute against the current folder (an absolute one as it is, or as the
// system writes it); `path` itself when that fails. UTF-8 in and out.
std::string absolutePath(const std::string& path);

bool fileExists(const std::string& path);       // a regular file (or a link to one)
bool directoryExists(const std::string& path);  // a folder (or a link to one)
// The size in bytes of a regular file (or what a link names); -1 when there is none.
int64_t fileSize(const std::string& path);

}  // namespace dovra
