#include "support/fakes.h"

namespace dovra::test {

std::optional<std::string> ScriptedDialogs::take() {
  if (answers_.empty()) return std::nullopt;
  std::string a = answers_.front();
  answers_.pop_front();
  return a;
}

MessageAnswer ScriptedDialogs::messageBox(const std::string& caption, const std::string& text,
                                          MessageIcon icon, MessageButtons buttons) {
  shown.push_back({"message", caption, text, icon, buttons});
  const auto a = take();
  if (buttons == MessageButtons::YesNo) {
    return a && *a == "yes" ? MessageAnswer::Yes : MessageAnswer::No;
  }
  return MessageAnswer::Ok;
}

std::optional<std::string> ScriptedDialogs::openFile(const FileDialogOptions& options) {
  shown.push_back({"open", options.title, options.fileName});
  const auto a = take();
  if (!a || *a == "cancel") return std::nullopt;
  return a;
}

std::optional<std::string> ScriptedDialogs::browseFolder(const std::string& title) {
  shown.push_back({"folder", title, ""});
  const auto a = take();
  if (!a || *a == "cancel") return std::nullopt;
  return a;
}

std::vector<std::string> ScriptedDialogs::messages() const {
  std::vector<std::string> out;
  for (const Shown& s : shown) {
    if (s.kind == "message") out.push_back(s.text);
  }
  return out;
}

}  // namespace dovra::test
