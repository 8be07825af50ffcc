// The main window "BackUp Dovra Informática" with plain Win32 controls: a fixed 663 x 308
// client area, a single border, no title-bar buttons, centred on the screen, holding the
// tab control PageControl1 with the pages "Backup", "Configuração" (its tab shown only
// while the model has it visible) and "Descompactar". Its controls are made from the
// window's description (core/window_layout.h), as the Qt window's are, and then filled
// from the window model's current state; it renders the model's events and forwards the
// operator's actions to the form's handlers by name.
//
// Closing or minimising the window runs the "Sair" button's handler (the window goes back
// to the tray). The time edits MaskEdit1..3 keep their mask's form (blank places show as
// "_"); what the operator types reaches the model when the focus leaves the edit for
// another control of the window, then the edit's Exit handler runs; Escape abandons the
// changes. Main thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/window_model.h"

namespace dovra {

class Win32MainWindow {
 public:
  // `run` runs a handler by name; `model` receives what the operator types.
  Win32MainWindow(WindowModel& model, std::function<void(const std::string&)> run);
  ~Win32MainWindow();
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  void apply(const UiEvent& event);

  HWND hwnd() const { return hwnd_; }
  // The control, page or frame the program calls `name` ("lbStatus", "tbsbackup",
  // "PageControl1", "GroupBox3", ...); nullptr when there is none.
  HWND control(const std::string& name) const;
  // The pages whose tabs show, in order, and the page shown.
  std::vector<std::string> tabs() const;
  std::string currentPage() const;
  // The colour a label's text is drawn in, and the gauge's text ("37%").
  COLORREF labelTextColor(const std::string& name) const;
  std::wstring gaugeText() const;

 private:
  enum class Kind { Frame, Caption, Label, Button, Edit, TimeEdit, Memo, Radio, Gauge, Panel };
  struct Control {
    std::string name;
    std::string handler;  // run on `trigger`
    Kind kind;
    Trigger trigger = Trigger::None;
    HWND hwnd = nullptr;
    WNDPROC original = nullptr;  // the class's procedure of a subclassed control
    LabelColor color = LabelColor::Default;
    bool typed = false;  // a time edit the operator typed into since the program set it
  };
  struct Page {
    std::string name;
    std::wstring caption;
    std::string showHandler;  // run when the page comes to the front
    HWND hwnd = nullptr;
    bool visible = true;
  };

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK controlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handleControl(Control& control, UINT message, WPARAM wParam, LPARAM lParam);
  bool timeEditKey(Control& control, UINT message, WPARAM wParam);

  HWND makePage(const PageLayout& layout);
  Control& add(HWND page, const std::string& name, Kind kind, const wchar_t* className,
               const std::wstring& text, DWORD style, DWORD exStyle, int x, int y, int w, int h);
  // Makes the control `c` on `page`; `previous` is the kind of the control made before it.
  void build(HWND page, const ControlLayout& c, ControlKind previous);
  void loadModel();

  Control* find(const std::string& name);
  const Control* find(const std::string& name) const;
  Control* find(HWND hwnd);
  void rebuildTabs();
  void selectPage(size_t index, bool notify);
  void showWindow(bool visible, bool topmost);
  void leaveControl(Control& control);
  void setEditText(Control& control, const std::string& text);
  void appendMemoLine(HWND memo, const std::string& line);
  void drawGauge(const DRAWITEMSTRUCT& item) const;
  COLORREF colorOf(LabelColor color) const;

  WindowModel& model_;
  std::function<void(const std::string&)> run_;
  HWND hwnd_ = nullptr;
  HWND tabs_ = nullptr;
  std::vector<Page> pages_;
  size_t current_ = 0;
  std::vector<Control> controls_;  // reserved up front: entries never move
  HFONT font_ = nullptr, bold_ = nullptr, large_ = nullptr;
  HICON bigIcon_ = nullptr, smallIcon_ = nullptr, folderIcon_ = nullptr;
  int gaugeProgress_ = 0, gaugeMaximum_ = 100, gaugePercent_ = 0;
  bool busy_ = false;
  bool refocusing_ = false;  // the window itself sends the focus back to a refused edit
};

}  // namespace dovra
