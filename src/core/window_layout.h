// The main window and the tray menu described once: the window's pages, every control with
// its page, name, kind, caption, position, the handler it runs and how it starts, and the
// tray menu's entries. The Qt and Win32 front ends build their widgets by walking these
// tables, the window model knows from them which names exist (and refuses any other), and
// the command table, every handler name the program answers to with what has to show for
// it to be reachable, is derived from them.
//
// Positions are in the coordinates of the control's page (the display area of the tab
// control); a front end that nests controls in their group boxes subtracts the group's
// corner.
#pragma once

#include <span>
#include <string>

namespace dovra {

enum class LabelColor { Default, Highlight, Red, Blue };

enum class ControlKind {
  Group,     // a frame with a caption around other controls
  Caption,   // fixed text, never named nor changed by the program
  Label,     // text the program sets, with a colour
  Button,    // runs its handler on a click
  Edit,      // one line of text
  TimeEdit,  // masked "hh:nn" edit the operator types into
  Memo,      // read-only log lines
  Radio,     // one of a pair of radio buttons
  Gauge,     // progress bar with its percentage
  Panel,     // invisible container
};

// What the operator does to a control to run its handler.
enum class Trigger { None, Click, DoubleClick, Exit };

// Attributes of a control beyond its kind, as bits.
namespace look {
constexpr unsigned kBold = 1u << 0;        // bold text
constexpr unsigned kLarge = 1u << 1;       // large bold Tahoma in a sunken frame
constexpr unsigned kReadOnly = 1u << 2;    // an edit shown but not typed into
constexpr unsigned kDisabled = 1u << 3;    // greyed out
constexpr unsigned kAutoSize = 1u << 4;    // a toolkit that can sizes it to its text
constexpr unsigned kFolderIcon = 1u << 5;  // a button showing an open folder, no caption
constexpr unsigned kNoWrap = 1u << 6;      // a memo scrolling sideways instead of wrapping
constexpr unsigned kChecked = 1u << 7;     // a radio button checked at the start
}  // namespace look

struct PageLayout {
  const char* name;
  const char* caption;
  bool hidden = false;           // tab hidden at the start
  const char* showHandler = "";  // run when the page comes to the front
};

struct ControlLayout {
  const char* page;
  const char* name;  // "" for the captions and frames the program never names
  ControlKind kind;
  const char* caption;
  int x, y, w, h;
  const char* handler = "";
  Trigger trigger = Trigger::None;
  bool hidden = false;  // at the start
  unsigned looks = 0;   // look::k...
  LabelColor color = LabelColor::Default;

  bool has(unsigned l) const { return (looks & l) != 0; }
};

// A tray menu entry; a separator has no handler.
struct MenuEntryLayout {
  const char* name;
  const char* caption;  // "-" for the separator
  const char* handler;
  bool hidden = false;  // at the start

  bool separator() const { return *handler == '\0'; }
};

namespace window_layout {

constexpr const char* kFormName = "Form1";
constexpr const char* kPageControlName = "PageControl1";
constexpr const char* kMenuName = "PopupMenu1";
constexpr int kClientWidth = 663;
constexpr int kClientHeight = 308;

std::span<const PageLayout> pages();
std::span<const ControlLayout> controls();  // page by page, in creation (and tab) order
std::span<const MenuEntryLayout> menu();

// nullptr when there is none; unnamed controls are never found.
const PageLayout* findPage(const std::string& name);
const ControlLayout* findControl(const std::string& name);
const MenuEntryLayout* findMenuEntry(const std::string& name);

}  // namespace window_layout

// How a handler can be reached by the operator. A control on a page hidden at the start
// needs the page's tab; otherwise a control hidden at the start needs to be shown; a menu
// entry needs the menu attached and the entry visible; the rest (the tray icon's clicks,
// the timers, the controls always in sight) are always reachable.
enum class Reach { Always, ControlShown, PageShown, MenuEntryShown };
const char* reachName(Reach reach);

struct Command {
  std::string handler;
  Reach reach;
  std::string target;  // the control, page or menu entry that must show; "" for Always
};

// Every handler name the program answers to: the window's controls and pages and the menu
// entries (from the tables above), the tray icon's clicks and the timers.
std::span<const Command> commands();
const Command* findCommand(const std::string& handler);

}  // namespace dovra
