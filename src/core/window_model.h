// The main window and the tray icon as the program sees them: captions, labels with
// colours, the log memos, pages and controls with their visibility, the time edits, the
// gauge, the window state, the tray hint, balloon, icon and menu.
//
// Any thread may change the model; the change is applied at once under the model's lock
// (so a worker that sets a label and reads it back sees its own text) and the front end
// hears of it on the main thread, in order, through UiObserver. Changes made on the main
// thread reach the observer before the call returns; changes made elsewhere are posted to
// the main loop. Workers never touch a widget.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <stdexcept>

#include "core/run_report.h"
#include "core/window_layout.h"
#include "platform/event_loop.h"

namespace dovra {

const char* colorName(LabelColor color);

// Tray balloon icon kinds.
enum class BalloonIcon { None = 0, Information = 1, Warning = 2, Error = 3 };

struct UiEvent {
  enum class Kind {
    Caption,      // text
    Label,        // name, text, color
    Memo,         // name, text (one line added)
    MemoClear,    // name
    Control,      // name, flag = visible
    Page,         // name, flag = tab visible
    ActivePage,   // name
    Edit,         // name, text
    Radio,        // name, flag = checked
    Gauge,        // value = progress, maximum, percent
    Window,       // flag = visible, topmost
    Cursor,       // flag = busy
    Hint,         // text (whole hint)
    Balloon,      // title, text, icon, timeout (seconds)
    BalloonHide,  //
    TrayIcon,     // flag = visible
    Menu,         // name (item, or "PopupMenu1" for the menu itself), flag = visible
  };
  Kind kind;
  std::string name;
  std::string text;
  std::string title;
  LabelColor color = LabelColor::Default;
  bool flag = false;
  bool topmost = false;
  BalloonIcon icon = BalloonIcon::None;
  int timeout = 0;
  int value = 0, maximum = 0, percent = 0;
};

class UiObserver {
 public:
  virtual ~UiObserver() = default;
  virtual void onUiEvent(const UiEvent& event) = 0;  // main thread
  // A run's outcome (see run_report.h); a front end without a use for it ignores it.
  virtual void onRunReport(const RunReport& /*report*/) {}  // main thread
};

// A write to a name the window's description (core/window_layout.h) does not have, or has
// as another kind of control: a label, memo, edit, radio button, control, page or menu entry
// spelt wrong. Thrown in every build rather than asserted: the suite runs optimised builds,
// where an assert is gone, and in the field the handler's or worker's error path reports it
// instead of the change silently going nowhere.
class UnknownControl : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class WindowModel {
 public:
  // Design-time texts of the window and the tray.
  static constexpr const char* kDesignCaption = "BackUp Dovra Informática";
  static constexpr const char* kStartupHint = "Aguarde o sistema está sendo inicializado";
  static constexpr size_t kTrayTipLength = 127;
  static constexpr size_t kBalloonTitleLength = 63;
  static constexpr size_t kBalloonTextLength = 255;

  // Starts from the window's description: the controls and pages hidden at the start, the
  // labels' design texts and colours, the radio button checked, the menu entries shown.
  // Every write below takes only the names the description has, of the kind it writes
  // (setLabel a label, memoAdd a memo, setControlVisible any named control, ...), and throws
  // UnknownControl for any other; reads of an unknown name give the default.
  explicit WindowModel(EventLoop& loop);
  // The front end that renders the model. Main thread, before the first change.
  void setObserver(UiObserver* observer);

  // Window
  void setCaption(const std::string& text);
  std::string caption() const;
  void setLabel(const std::string& name, const std::string& text);
  void setLabel(const std::string& name, const std::string& text, LabelColor color);
  void setLabelColor(const std::string& name, LabelColor color);
  std::string labelText(const std::string& name) const;
  LabelColor labelColor(const std::string& name) const;
  void memoAdd(const std::string& name, const std::string& line);
  void memoClear(const std::string& name);
  std::vector<std::string> memoLines(const std::string& name) const;
  void setControlVisible(const std::string& name, bool visible);
  bool controlVisible(const std::string& name) const;
  void setPageVisible(const std::string& name, bool visible);  // the page's tab
  bool pageVisible(const std::string& name) const;
  void setActivePage(const std::string& name);
  std::string activePage() const;
  // Text of an edit. `byUser` marks a change typed by the operator (front ends), which a
  // time edit must validate when the focus leaves it; a program change clears the mark and
  // becomes the text that abandoning the operator's changes returns to.
  // The time edits ("MaskEdit…") always hold their mask's form, two places, a colon, two
  // places, blanks where nothing was typed: "  :  " when empty, never "".
  // Typing reaches only the edits that take it (editTakesTyping): typed into any other
  // edit, the text changes nothing and the call returns false.
  bool setEditText(const std::string& name, const std::string& text, bool byUser = false);
  // Whether the operator can type into edit `name`: the time edits MaskEdit1 to MaskEdit3.
  // The folder edits Edit1, Edit2 and Edit4 are read-only (their pickers and "Limpar" set
  // them) and Edit3 is disabled (only choosing an archive sets it). False for a name that
  // is no edit.
  static bool editTakesTyping(const std::string& name);
  std::string editText(const std::string& name) const;
  bool editModified(const std::string& name) const;
  // Escape in a time edit: back to the text the program last set, the mark cleared.
  void abandonEditChanges(const std::string& name);
  static bool isTimeEdit(const std::string& name);
  // `text` in a time edit's mask form (see setEditText).
  static std::string timeEditText(const std::string& text);
  void setChecked(const std::string& name, bool checked);  // rbLocal/rbRemoto pair
  bool checked(const std::string& name) const;
  // The gauge: minimum 0; a negative maximum counts as 0; progress is held within
  // [0, maximum]; percent is the whole part of progress * 100 / maximum (0 when 0).
  void setGauge(int progress, int maximum);
  void stepGauge();
  int gaugeProgress() const;
  int gaugeMaximum() const;
  int gaugePercent() const;
  void setWindowVisible(bool visible);
  void setWindowTopmost(bool topmost);
  bool windowVisible() const;
  void setBusyCursor(bool busy);

  // Tray
  void setHint(const std::string& text);
  // A line kept in every hint, after its first line, until it changes (the time of the
  // last verified archive); "" for none.
  void setHintNote(const std::string& note);
  // The hint as shown: the text of setHint, then the note.
  std::string hint() const;
  // The first 127 characters of the hint, as the tray shows them.
  std::string trayTip() const;
  bool waitingForStart() const;  // the hint equals the start-up marker, as a whole text
  // Hides any balloon, then shows this one: title cut to 63 characters, text to 255.
  void showBalloon(const std::string& title, const std::string& text, BalloonIcon icon,
                   int timeoutSeconds);
  void hideBalloon();
  void setTrayIconVisible(bool visible);
  bool trayIconVisible() const;
  void setMenuAttached(bool attached);
  bool menuAttached() const;
  void setMenuItemVisible(const std::string& item, bool visible);
  bool menuItemVisible(const std::string& item) const;

  // Outcomes of runs, delivered to the observer like the changes above. Any thread.
  void report(const RunReport& report);

 private:
  struct Label {
    std::string text;
    LabelColor color = LabelColor::Default;
  };
  struct Edit {
    std::string text;
    std::string committed;  // the last text the program set
    bool modified = false;
  };
  void notify(UiEvent event);  // with mutex_ not held
  Label& label(const std::string& name);

  EventLoop& loop_;
  UiObserver* observer_ = nullptr;
  mutable std::mutex mutex_;
  std::string caption_ = kDesignCaption;
  std::map<std::string, Label> labels_;
  std::map<std::string, std::vector<std::string>> memos_;
  std::map<std::string, bool> controls_;
  std::map<std::string, bool> pages_;
  std::string activePage_ = "tbsbackup";
  std::map<std::string, Edit> edits_;
  std::map<std::string, bool> checks_;
  int gaugeProgress_ = 0, gaugeMaximum_ = 100;
  bool windowVisible_ = false, windowTopmost_ = false;
  std::string wholeHint() const;  // with mutex_ held
  std::string hint_, hintNote_;
  bool trayIconVisible_ = true;
  bool menuAttached_ = false;
  std::map<std::string, bool> menuItems_;
};

}  // namespace dovra
