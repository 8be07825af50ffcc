#include "platform/autostart.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/error.h"
#include "platform/files.h"

namespace dovra {
namespace {

// Quotes a path for the Exec key of a desktop entry.
std::string quoteExec(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string autostartEntryPath(const std::string& name) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string base =
      xdg && *xdg ? std::string(xdg) : std::string(home ? home : "") + "/.config";
  return base + "/autostart/" + name + ".desktop";
}

void writeAutostartEntry(const std::string& name, const std::string& executable) {
  const std::string path = autostartEntryPath(name);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) throw Exception(ec.message());
  const std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      name +
      "\n"
      "Exec=" +
      quoteExec(executable) +
      "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  try {
    writeFileAtomically(path, entry);
  } catch (const std::system_error& e) {
    throw Exception(systemErrorText(e.code().value()));
  }
}

}  // namespace dovra
