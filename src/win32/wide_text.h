// Text between the model (UTF-8) and the Windows API (UTF-16 wide strings).
#pragma once

#include <string>
#include <string_view>

namespace dovra {

// UTF-8 to UTF-16. Invalid UTF-8 bytes become U+FFFD; never fails.
std::wstring wide(std::string_view text);
// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD; never fails.
std::string utf8(std::wstring_view text);

// At most `units` UTF-16 units of `text`, never cutting a surrogate pair in two: what fits
// into a fixed buffer of units + 1 characters with its terminating zero.
std::wstring leftUnits(std::wstring_view text, size_t units);

// Every line break (CR, LF or CR LF) as CR LF, the break that edit controls and message
// boxes show.
std::wstring withCrLf(std::wstring_view text);

// Copies `text` into the fixed buffer `out` of `size` characters, cut to fit, terminated.
void copyToBuffer(std::wstring_view text, wchar_t* out, size_t size);

}  // namespace dovra
