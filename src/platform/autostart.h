// The per-user "start with the desktop" entry: an XDG autostart file
// $XDG_CONFIG_HOME/autostart/<name>.desktop (default ~/.config/autostart) whose Exec is the
// program's path. Writing it again rewrites the same entry.
#pragma once

#include <string>

namespace dovra {

// Writes (or rewrites) the entry atomically. Throws dovra::Exception with the system's
// text when the folder or the file cannot be written.
void writeAutostartEntry(const std::string& name, const std::string& executable);

// Where the entry named `name` lives.
std::string autostartEntryPath(const std::string& name);

}  // namespace dovra
