#include "headless/headless_front_end.h"

#include "core/window_layout.h"
#include "form/form1.h"
#include "headless/json_line.h"
#include "platform/trim.h"

namespace dovra {
namespace {

const char* iconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return "error";
    case MessageIcon::Exclamation:
      return "exclamation";
    case MessageIcon::Information:
      return "information";
    case MessageIcon::Question:
      return "question";
    case MessageIcon::None:
      break;
  }
  return "none";
}

}  // namespace

HeadlessFrontEnd::HeadlessFrontEnd(std::FILE* out) : out_(out) {}

void HeadlessFrontEnd::attach(TForm1& form) {
  form_ = &form;
  form.window().setObserver(this);
}

void HeadlessFrontEnd::writeLine(const std::string& json) {
  std::lock_guard lock(outMutex_);
  std::fputs(json.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void HeadlessFrontEnd::writeExit(int code) {
  writeLine(JsonLine("exit").add("code", code).str());
}

void HeadlessFrontEnd::onUiEvent(const UiEvent& e) {
  using K = UiEvent::Kind;
  switch (e.kind) {
    case K::Caption:
      writeLine(JsonLine("caption").add("text", e.text).str());
      break;
    case K::Label:
      writeLine(JsonLine("label")
                    .add("name", e.name)
                    .add("text", e.text)
                    .add("color", colorName(e.color))
                    .str());
      break;
    case K::Memo:
      writeLine(JsonLine("memo").add("name", e.name).add("line", e.text).str());
      break;
    case K::MemoClear:
      writeLine(JsonLine("memo_clear").add("name", e.name).str());
      break;
    case K::Control:
      writeLine(JsonLine("control").add("name", e.name).add("visible", e.flag).str());
      break;
    case K::Page:
      writeLine(JsonLine("page").add("name", e.name).add("visible", e.flag).str());
      break;
    case K::ActivePage:
      writeLine(JsonLine("page").add("name", e.name).add("active", true).str());
      break;
    case K::Edit:
      writeLine(JsonLine("edit").add("name", e.name).add("text", e.text).str());
      break;
    case K::Radio:
      writeLine(JsonLine("radio").add("name", e.name).add("checked", e.flag).str());
      break;
    case K::Gauge:
      writeLine(JsonLine("gauge")
                    .add("name", e.name)
                    .add("progress", e.value)
                    .add("max", e.maximum)
                    .add("percent", e.percent)
                    .str());
      break;
    case K::Window:
      writeLine(JsonLine("window").add("visible", e.flag).add("topmost", e.topmost).str());
      break;
    case K::Cursor:
      break;  // nothing to show without a screen
    case K::Hint:
      writeLine(JsonLine("hint")
                    .add("text", e.text)
                    .add("tip", form_ ? form_->window().trayTip() : e.text)
                    .str());
      break;
    case K::Balloon:
      writeLine(JsonLine("balloon")
                    .add("title", e.title)
                    .add("text", e.text)
                    .add("icon", static_cast<int>(e.icon))
                    .add("timeout", e.timeout)
                    .str());
      break;
    case K::BalloonHide:
      break;  // a new balloon replaces the old one; only shown balloons are reported
    case K::TrayIcon:
      writeLine(JsonLine("tray").add("visible", e.flag).str());
      break;
    case K::Menu:
      writeLine(JsonLine("menu").add("item", e.name).add("visible", e.flag).str());
      break;
  }
}

void HeadlessFrontEnd::onRunReport(const RunReport& r) {
  using K = RunReport::Kind;
  using S = RunReport::State;
  if (r.kind == K::Export) {
    writeLine(JsonLine("export").add("documents", r.documents).str());
    return;
  }
  if (r.kind == K::Verify) {
    JsonLine line("verify");
    line.add("state", reportStateName(r.state)).add("archive", r.archive);
    if (r.state == S::Done) {
      line.add("tables", r.tables).add("records", r.records).add("seconds", r.seconds);
    } else {
      line.add("error", r.error);
      if (!r.log.empty()) line.add("log", r.log);
    }
    writeLine(line.str());
    return;
  }
  JsonLine line(r.kind == K::Backup ? "backup" : "upload");
  line.add("state", reportStateName(r.state));
  if (r.kind == K::Backup) line.add("kind", r.backupKind);
  if (r.state == S::Started) {
    writeLine(line.str());
    return;
  }
  if (!r.archive.empty()) line.add("archive", r.archive);
  if (r.bytes >= 0) line.add("bytes", r.bytes);
  if (r.state == S::Done) {
    if (!r.remote.empty()) line.add("remote", r.remote);
  } else {
    line.add("error", r.error);
    if (!r.log.empty()) line.add("log", r.log);
  }
  writeLine(line.str());
}

std::optional<std::string> HeadlessFrontEnd::takeAnswer() {
  if (answers_.empty()) return std::nullopt;
  std::string a = answers_.front();
  answers_.pop_front();
  return a;
}

MessageAnswer HeadlessFrontEnd::messageBox(const std::string& caption, const std::string& text,
                                           MessageIcon icon, MessageButtons buttons) {
  const auto queued = takeAnswer();
  MessageAnswer answer;
  if (buttons == MessageButtons::YesNo) {
    answer = queued && *queued == "yes" ? MessageAnswer::Yes : MessageAnswer::No;
  } else {
    answer = MessageAnswer::Ok;
  }
  const char* answerText = answer == MessageAnswer::Yes  ? "yes"
                           : answer == MessageAnswer::No ? "no"
                                                         : "ok";
  writeLine(JsonLine("message")
                .add("caption", caption)
                .add("text", text)
                .add("icon", iconName(icon))
                .add("answer", answerText)
                .add("queued", queued.has_value())
                .str());
  return answer;
}

std::optional<std::string> HeadlessFrontEnd::fileAnswer(const char* kind, const std::string& title,
                                                        const std::string& fileName) {
  const auto queued = takeAnswer();
  std::optional<std::string> result;
  if (queued && *queued != "cancel" && *queued != "no" && *queued != "ok" && *queued != "yes") {
    result = *queued;
  }
  JsonLine line("dialog");
  line.add("kind", kind).add("title", title);
  if (!fileName.empty()) line.add("file", fileName);
  if (result) {
    line.add("answer", *result);
  } else {
    line.add("answer", "cancel");
  }
  writeLine(line.add("queued", queued.has_value()).str());
  return result;
}

std::optional<std::string> HeadlessFrontEnd::openFile(const FileDialogOptions& options) {
  return fileAnswer("open", options.title, options.fileName);
}

std::optional<std::string> HeadlessFrontEnd::browseFolder(const std::string& title) {
  return fileAnswer("folder", title, "");
}

void HeadlessFrontEnd::handleLine(const std::string& raw) {
  const std::string line = trimText(raw);
  if (line.empty() || line[0] == '#') return;
  const size_t space = line.find(' ');
  const std::string word = line.substr(0, space);
  const std::string rest = space == std::string::npos ? "" : trimText(line.substr(space + 1));
  if (word == "answer") {
    answers_.push_back(rest);
    return;
  }
  if (word == "check") {
    const ControlLayout* radio = window_layout::findControl(rest);
    if (!radio || radio->kind != ControlKind::Radio) {
      writeLine(JsonLine("error").add("text", "unknown radio button: " + rest).str());
      return;
    }
    form_->window().setChecked(rest, true);
    return;
  }
  if (word == "set") {
    // "set NAME TEXT": the text is everything after the name and one blank, blanks kept.
    std::string r = raw;
    if (!r.empty() && r.back() == '\r') r.pop_back();
    size_t p = r.find("set") + 3;
    while (p < r.size() && r[p] == ' ') ++p;
    const size_t end = r.find(' ', p);
    const std::string name = r.substr(p, end == std::string::npos ? std::string::npos : end - p);
    const std::string text = end == std::string::npos ? "" : r.substr(end + 1);
    const ControlLayout* edit = window_layout::findControl(name);
    if (!edit || (edit->kind != ControlKind::Edit && edit->kind != ControlKind::TimeEdit)) {
      writeLine(JsonLine("error").add("text", "unknown edit: " + name).str());
      return;
    }
    if (!form_->window().setEditText(name, text, true)) {
      writeLine(JsonLine("ignored")
                    .add("edit", name)
                    .add("reason", edit->has(look::kDisabled) ? "disabled" : "read-only")
                    .str());
    }
    return;
  }
  if (!form_->hasHandler(word)) {
    writeLine(JsonLine("error").add("text", "unknown handler: " + word).str());
    return;
  }
  if (!form_->runHandler(word)) {
    writeLine(JsonLine("ignored").add("handler", word).add("reason", "not reachable now").str());
  }
}

}  // namespace dovra
