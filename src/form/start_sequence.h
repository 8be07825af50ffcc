// Helpers of the start sequence, shared with the backup and transfer code.
#pragma once

#include <string>

namespace dovra {

// True when a database location holds a folder separator ("\" or "/").
bool hasPathSeparator(const std::string& location);
// The file name after the last separator less its last four characters (the extension
// with its dot); "" when that name has four characters or fewer.
std::string baseNameOf(const std::string& location);
// A schedule time from its settings text: blanks trimmed; empty leaves `current`; a text
// that is not a time of day gives `fallback`.
double readScheduleTime(const std::string& text, double current, double fallback);

}  // namespace dovra
