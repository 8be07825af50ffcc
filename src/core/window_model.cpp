#include "core/window_model.h"

#include <algorithm>

#include "platform/text_codec.h"

namespace dovra {
namespace {

// The described control `name`, of one of `kinds` when any are given; UnknownControl else.
const ControlLayout& requireControl(const std::string& name, const char* what,
                                    std::initializer_list<ControlKind> kinds = {}) {
  const ControlLayout* c = window_layout::findControl(name);
  const bool kindMatches =
      c && (kinds.size() == 0 || std::find(kinds.begin(), kinds.end(), c->kind) != kinds.end());
  if (!kindMatches) {
    throw UnknownControl("the window has no " + std::string(what) + " called \"" + name + "\"");
  }
  return *c;
}

void requireLabel(const std::string& name) {
  requireControl(name, "label", {ControlKind::Label});
}

void requireMemo(const std::string& name) {
  requireControl(name, "memo", {ControlKind::Memo});
}

void requireEdit(const std::string& name) {
  requireControl(name, "edit", {ControlKind::Edit, ControlKind::TimeEdit});
}

void requirePage(const std::string& name) {
  if (!window_layout::findPage(name)) {
    throw UnknownControl("the window has no page called \"" + name + "\"");
  }
}

void requireMenuEntry(const std::string& name) {
  if (!window_layout::findMenuEntry(name)) {
    throw UnknownControl("the tray menu has no entry called \"" + name + "\"");
  }
}

}  // namespace

const char* colorName(LabelColor color) {
  switch (color) {
    case LabelColor::Highlight:
      return "highlight";
    case LabelColor::Red:
      return "red";
    case LabelColor::Blue:
      return "blue";
    case LabelColor::Default:
      break;
  }
  return "default";
}

WindowModel::WindowModel(EventLoop& loop) : loop_(loop) {
  // Design-time state of the window and the tray.
  for (const ControlLayout& c : window_layout::controls()) {
    if (!*c.name) continue;
    controls_[c.name] = !c.hidden;
    if (c.kind == ControlKind::Label) labels_[c.name] = {c.caption, c.color};
    if (c.kind == ControlKind::Radio) checks_[c.name] = c.has(look::kChecked);
  }
  for (const PageLayout& p : window_layout::pages()) pages_[p.name] = !p.hidden;
  activePage_ = window_layout::pages().front().name;
  for (const MenuEntryLayout& m : window_layout::menu()) menuItems_[m.name] = !m.hidden;
}

void WindowModel::setObserver(UiObserver* observer) {
  observer_ = observer;
}

void WindowModel::notify(UiEvent event) {
  if (!observer_) return;
  if (loop_.inMainThread()) {
    observer_->onUiEvent(event);
  } else {
    UiObserver* observer = observer_;
    loop_.post([observer, event = std::move(event)] { observer->onUiEvent(event); });
  }
}

void WindowModel::report(const RunReport& report) {
  if (!observer_) return;
  if (loop_.inMainThread()) {
    observer_->onRunReport(report);
  } else {
    UiObserver* observer = observer_;
    loop_.post([observer, report] { observer->onRunReport(report); });
  }
}

WindowModel::Label& WindowModel::label(const std::string& name) {
  return labels_[name];
}

void WindowModel::setCaption(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    caption_ = text;
  }
  notify({.kind = UiEvent::Kind::Caption, .text = text});
}

std::string WindowModel::caption() const {
  std::lock_guard lock(mutex_);
  return caption_;
}

void WindowModel::setLabel(const std::string& name, const std::string& text) {
  requireLabel(name);
  LabelColor color;
  {
    std::lock_guard lock(mutex_);
    Label& l = label(name);
    l.text = text;
    color = l.color;
  }
  notify({.kind = UiEvent::Kind::Label, .name = name, .text = text, .color = color});
}

void WindowModel::setLabel(const std::string& name, const std::string& text, LabelColor color) {
  requireLabel(name);
  {
    std::lock_guard lock(mutex_);
    Label& l = label(name);
    l.text = text;
    l.color = color;
  }
  notify({.kind = UiEvent::Kind::Label, .name = name, .text = text, .color = color});
}

void WindowModel::setLabelColor(const std::string& name, LabelColor color) {
  requireLabel(name);
  std::string text;
  {
    std::lock_guard lock(mutex_);
    Label& l = label(name);
    l.color = color;
    text = l.text;
  }
  notify({.kind = UiEvent::Kind::Label, .name = name, .text = text, .color = color});
}

std::string WindowModel::labelText(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto it = labels_.find(name);
  return it == labels_.end() ? std::string() : it->second.text;
}

LabelColor WindowModel::labelColor(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto it = labels_.find(name);
  return it == labels_.end() ? LabelColor::Default : it->second.color;
}

void WindowModel::memoAdd(const std::string& name, const std::string& line) {
  requireMemo(name);
  {
    std::lock_guard lock(mutex_);
    memos_[name].push_back(line);
  }
  notify({.kind = UiEvent::Kind::Memo, .name = name, .text = line});
}

void WindowModel::memoClear(const std::string& name) {
  requireMemo(name);
  {
    std::lock_guard lock(mutex_);
    memos_[name].clear();
  }
  notify({.kind = UiEvent::Kind::MemoClear, .name = name});
}

std::vector<std::string> WindowModel::memoLines(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto it = memos_.find(name);
  return it == memos_.end() ? std::vector<std::string>() : it->second;
}

void WindowModel::setControlVisible(const std::string& name, bool visible) {
  requireControl(name, "control");
  {
    std::lock_guard lock(mutex_);
    controls_[name] = visible;
  }
  notify({.kind = UiEvent::Kind::Control, .name = name, .flag = visible});
}

bool WindowModel::controlVisible(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto it = controls_.find(name);
  return it == controls_.end() ? true : it->second;
}

void WindowModel::setPageVisible(const std::string& name, bool visible) {
  requirePage(name);
  {
    std::lock_guard lock(mutex_);
    pages_[name] = visible;
  }
  notify({.kind = UiEvent::Kind::Page, .name = name, .flag = visible});
}

bool WindowModel::pageVisible(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto it = pages_.find(name);
  return it != pages_.end() && it->second;
}

void WindowModel::setActivePage(const std::string& name) {
  requirePage(name);
  {
    std::lock_guard lock(mutex_);
    activePage_ = name;
  }
  notify({.kind = UiEvent::Kind::ActivePage, .name = name});
}

std::string WindowModel::activePage() const {
  std::lock_guard lock(mutex_);
  return activePage_;
}

bool WindowModel::editTakesTyping(const std::string& name) {
  return isTimeEdit(name);
}

bool WindowModel::isTimeEdit(const std::string& name) {
  const ControlLayout* c = window_layout::findControl(name);
  return c && c->kind == ControlKind::TimeEdit;
}

std::string WindowModel::timeEditText(const std::string& text) {
  if (text.size() == 5 && text[2] == ':') return text;
  // Fill the four places in order from what the text holds, the colon skipped.
  std::string places;
  for (char c : text) {
    if (c == ':') continue;
    if (places.size() == 4) break;
    places += (c >= '0' && c <= '9') ? c : ' ';
  }
  places.resize(4, ' ');
  return places.substr(0, 2) + ":" + places.substr(2);
}

bool WindowModel::setEditText(const std::string& name, const std::string& text, bool byUser) {
  if (byUser && !editTakesTyping(name)) return false;
  requireEdit(name);
  const std::string shown = isTimeEdit(name) ? timeEditText(text) : text;
  {
    std::lock_guard lock(mutex_);
    Edit& e = edits_[name];
    if (!byUser) e.committed = shown;
    e.modified = byUser && (e.modified || e.text != shown);
    e.text = shown;
  }
  if (!byUser) notify({.kind = UiEvent::Kind::Edit, .name = name, .text = shown});
  return true;
}

std::string WindowModel::editText(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto it = edits_.find(name);
  if (it != edits_.end()) return it->second.text;
  return isTimeEdit(name) ? timeEditText("") : std::string();
}

bool WindowModel::editModified(const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto it = edits_.find(name);
  return it != edits_.end() && it->second.modified;
}

void WindowModel::abandonEditChanges(const std::string& name) {
  requireEdit(name);
  std::string text;
  {
    std::lock_guard lock(mutex_);
    Edit& e = edits_[name];
    if (isTimeEdit(name)) e.committed = timeEditText(e.committed);
    e.text = e.committed;
    e.modified = false;
    text = e.text;
  }
  notify({.kind = UiEvent::Kind::Edit, .name = name, .text = text});
}

void WindowModel::setChecked(const std::string& name, bool on) {
  requireControl(name, "radio button", {ControlKind::Radio});
  // The radio pair: checking one unchecks the other.
  const std::string other = name == "rbLocal" ? "rbRemoto" : name == "rbRemoto" ? "rbLocal" : "";
  {
    std::lock_guard lock(mutex_);
    checks_[name] = on;
    if (!other.empty()) checks_[other] = !on;
  }
  notify({.kind = UiEvent::Kind::Radio, .name = name, .flag = on});
}

bool WindowModel::checked(const std::string& name) const {
  std::lock_guard lock(mutex_);
  if (name == "rbRemoto") {
    const auto it = checks_.find("rbLocal");
    return it != checks_.end() && !it->second;
  }
  const auto it = checks_.find(name);
  return it != checks_.end() && it->second;
}

namespace {
int percentOf(int progress, int maximum) {
  return maximum <= 0 ? 0 : static_cast<int>(static_cast<long long>(progress) * 100 / maximum);
}
}  // namespace

void WindowModel::setGauge(int progress, int maximum) {
  UiEvent ev{.kind = UiEvent::Kind::Gauge, .name = "Gauge1"};
  {
    std::lock_guard lock(mutex_);
    gaugeMaximum_ = std::max(0, maximum);
    gaugeProgress_ = std::clamp(progress, 0, gaugeMaximum_);
    ev.value = gaugeProgress_;
    ev.maximum = gaugeMaximum_;
    ev.percent = percentOf(gaugeProgress_, gaugeMaximum_);
  }
  notify(std::move(ev));
}

void WindowModel::stepGauge() {
  UiEvent ev{.kind = UiEvent::Kind::Gauge, .name = "Gauge1"};
  {
    std::lock_guard lock(mutex_);
    if (gaugeProgress_ >= gaugeMaximum_) return;  // held at the maximum: nothing changes
    gaugeProgress_ += 1;
    ev.value = gaugeProgress_;
    ev.maximum = gaugeMaximum_;
    ev.percent = percentOf(gaugeProgress_, gaugeMaximum_);
  }
  notify(std::move(ev));
}

int WindowModel::gaugeProgress() const {
  std::lock_guard lock(mutex_);
  return gaugeProgress_;
}

int WindowModel::gaugeMaximum() const {
  std::lock_guard lock(mutex_);
  return gaugeMaximum_;
}

int WindowModel::gaugePercent() const {
  std::lock_guard lock(mutex_);
  return percentOf(gaugeProgress_, gaugeMaximum_);
}

void WindowModel::setWindowVisible(bool visible) {
  bool topmost;
  {
    std::lock_guard lock(mutex_);
    windowVisible_ = visible;
    topmost = windowTopmost_;
  }
  notify({.kind = UiEvent::Kind::Window, .flag = visible, .topmost = topmost});
}

void WindowModel::setWindowTopmost(bool topmost) {
  bool visible;
  {
    std::lock_guard lock(mutex_);
    windowTopmost_ = topmost;
    visible = windowVisible_;
  }
  notify({.kind = UiEvent::Kind::Window, .flag = visible, .topmost = topmost});
}

bool WindowModel::windowVisible() const {
  std::lock_guard lock(mutex_);
  return windowVisible_;
}

void WindowModel::setBusyCursor(bool busy) {
  notify({.kind = UiEvent::Kind::Cursor, .flag = busy});
}

void WindowModel::setHint(const std::string& text) {
  std::string whole;
  {
    std::lock_guard lock(mutex_);
    hint_ = text;
    whole = wholeHint();
  }
  notify({.kind = UiEvent::Kind::Hint, .text = whole});
}

void WindowModel::setHintNote(const std::string& note) {
  std::string whole;
  {
    std::lock_guard lock(mutex_);
    if (hintNote_ == note) return;
    hintNote_ = note;
    whole = wholeHint();
  }
  notify({.kind = UiEvent::Kind::Hint, .text = whole});
}

std::string WindowModel::wholeHint() const {
  if (hintNote_.empty()) return hint_;
  // After the first line, so that the tray's first 127 characters show it.
  const size_t firstLineEnd = hint_.find('\r');
  if (firstLineEnd == std::string::npos) return hint_ + "\r" + hintNote_;
  return hint_.substr(0, firstLineEnd) + "\r" + hintNote_ + hint_.substr(firstLineEnd);
}

std::string WindowModel::hint() const {
  std::lock_guard lock(mutex_);
  return wholeHint();
}

std::string WindowModel::trayTip() const {
  return utf8Left(hint(), kTrayTipLength);
}

bool WindowModel::waitingForStart() const {
  return hint() == kStartupHint;
}

void WindowModel::showBalloon(const std::string& title, const std::string& text, BalloonIcon icon,
                              int timeoutSeconds) {
  hideBalloon();
  notify({.kind = UiEvent::Kind::Balloon,
          .text = utf8Left(text, kBalloonTextLength),
          .title = utf8Left(title, kBalloonTitleLength),
          .icon = icon,
          .timeout = timeoutSeconds});
}

void WindowModel::hideBalloon() {
  notify({.kind = UiEvent::Kind::BalloonHide});
}

void WindowModel::setTrayIconVisible(bool visible) {
  {
    std::lock_guard lock(mutex_);
    trayIconVisible_ = visible;
  }
  notify({.kind = UiEvent::Kind::TrayIcon, .flag = visible});
}

bool WindowModel::trayIconVisible() const {
  std::lock_guard lock(mutex_);
  return trayIconVisible_;
}

void WindowModel::setMenuAttached(bool attached) {
  {
    std::lock_guard lock(mutex_);
    menuAttached_ = attached;
  }
  notify({.kind = UiEvent::Kind::Menu, .name = "PopupMenu1", .flag = attached});
}

bool WindowModel::menuAttached() const {
  std::lock_guard lock(mutex_);
  return menuAttached_;
}

void WindowModel::setMenuItemVisible(const std::string& item, bool visible) {
  requireMenuEntry(item);
  {
    std::lock_guard lock(mutex_);
    menuItems_[item] = visible;
  }
  notify({.kind = UiEvent::Kind::Menu, .name = item, .flag = visible});
}

bool WindowModel::menuItemVisible(const std::string& item) const {
  std::lock_guard lock(mutex_);
  const auto it = menuItems_.find(item);
  return it != menuItems_.end() && it->second;
}

}  // namespace dovra
