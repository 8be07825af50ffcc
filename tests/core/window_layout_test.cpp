// The window model against the window's description: a write to a name the description
// does not have, or has as another kind of control, is refused before anything changes;
// the names it has start as described.
#include <gtest/gtest.h>

#include <functional>

#include "core/window_layout.h"
#include "core/window_model.h"
#include "platform/posix_event_loop.h"

namespace dovra {
namespace {

struct CountingObserver : UiObserver {
  void onUiEvent(const UiEvent&) override { ++events; }
  int events = 0;
};

class WindowModelNames : public ::testing::Test {
 protected:
  WindowModelNames() { model.setObserver(&observer); }
  PosixEventLoop loop;
  WindowModel model{loop};
  CountingObserver observer;
};

TEST_F(WindowModelNames, WritesToUnknownOrMismatchedNamesAreRefusedAndChangeNothing) {
  struct Case {
    const char* what;
    std::function<void(WindowModel&)> write;
  };
  const Case cases[] = {
      {"label misspelt", [](WindowModel& m) { m.setLabel("lbStatis", "x"); }},
      {"coloured label misspelt",
       [](WindowModel& m) { m.setLabel("lbstatus", "x", LabelColor::Red); }},
      {"colour of a button", [](WindowModel& m) { m.setLabelColor("spbBackup", LabelColor::Red); }},
      {"label text on a memo", [](WindowModel& m) { m.setLabel("MemoBackup", "x"); }},
      {"memo misspelt", [](WindowModel& m) { m.memoAdd("MemoBackups", "x"); }},
      {"memo line on a label", [](WindowModel& m) { m.memoAdd("lbStatus", "x"); }},
      {"memo cleared on an edit", [](WindowModel& m) { m.memoClear("Edit1"); }},
      {"control misspelt", [](WindowModel& m) { m.setControlVisible("SpeedButton44", true); }},
      {"control by its caption", [](WindowModel& m) { m.setControlVisible("Sair", false); }},
      {"page misspelt", [](WindowModel& m) { m.setPageVisible("TabSheet5", true); }},
      {"page by a control's name", [](WindowModel& m) { m.setActivePage("GroupBox3"); }},
      {"edit misspelt", [](WindowModel& m) { m.setEditText("Edit9", "x"); }},
      {"edit text on a label", [](WindowModel& m) { m.setEditText("lbStatus", "x"); }},
      {"changes abandoned on a memo", [](WindowModel& m) { m.abandonEditChanges("mLog"); }},
      {"radio misspelt", [](WindowModel& m) { m.setChecked("rbRemote", true); }},
      {"radio check on an edit", [](WindowModel& m) { m.setChecked("MaskEdit1", true); }},
      {"menu entry misspelt", [](WindowModel& m) { m.setMenuItemVisible("Sair2", true); }},
      {"menu entry by a control's name",
       [](WindowModel& m) { m.setMenuItemVisible("SpeedButton5", false); }},
      {"an empty name", [](WindowModel& m) { m.setControlVisible("", true); }},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(c.write(model), UnknownControl) << c.what;
  }
  EXPECT_EQ(observer.events, 0);
  EXPECT_EQ(model.labelText("lbStatis"), "");
  EXPECT_TRUE(model.memoLines("lbStatus").empty());
  EXPECT_FALSE(model.pageVisible("TabSheet5"));
  EXPECT_FALSE(model.menuItemVisible("Sair2"));
  EXPECT_TRUE(model.checked("rbLocal"));
}

TEST_F(WindowModelNames, TypingIntoANameThatIsNoTypedEditIsDeclinedNotRefused) {
  // What the operator types arrives by name from the front ends: a name that takes no
  // typing (unknown ones included) is declined with false, as the read-only edits are.
  for (const char* name : {"Edit1", "Edit3", "lbStatus", "NoSuchEdit"}) {
    EXPECT_FALSE(model.setEditText(name, "12:00", true)) << name;
  }
  EXPECT_TRUE(model.setEditText("MaskEdit2", "12:00", true));
  EXPECT_EQ(model.editText("MaskEdit2"), "12:00");
}

TEST_F(WindowModelNames, EveryDescribedNameStartsAsDescribedAndTakesItsWrites) {
  for (const ControlLayout& c : window_layout::controls()) {
    if (!*c.name) continue;
    SCOPED_TRACE(c.name);
    EXPECT_EQ(model.controlVisible(c.name), !c.hidden);
    switch (c.kind) {
      case ControlKind::Label:
        EXPECT_EQ(model.labelText(c.name), c.caption);
        EXPECT_EQ(model.labelColor(c.name), c.color);
        EXPECT_NO_THROW(model.setLabel(c.name, "texto", LabelColor::Red));
        EXPECT_EQ(model.labelText(c.name), "texto");
        break;
      case ControlKind::Memo:
        EXPECT_NO_THROW(model.memoAdd(c.name, "linha"));
        EXPECT_EQ(model.memoLines(c.name), std::vector<std::string>{"linha"});
        break;
      case ControlKind::Edit:
      case ControlKind::TimeEdit:
        EXPECT_EQ(WindowModel::isTimeEdit(c.name), c.kind == ControlKind::TimeEdit);
        EXPECT_NO_THROW(model.setEditText(c.name, "09:30"));
        EXPECT_EQ(model.editText(c.name), "09:30");
        break;
      case ControlKind::Radio:
        EXPECT_EQ(model.checked(c.name), c.has(look::kChecked));
        break;
      default:
        break;
    }
    EXPECT_NO_THROW(model.setControlVisible(c.name, c.hidden));
    EXPECT_EQ(model.controlVisible(c.name), c.hidden);
  }
  for (const PageLayout& p : window_layout::pages()) {
    EXPECT_EQ(model.pageVisible(p.name), !p.hidden) << p.name;
  }
  for (const MenuEntryLayout& m : window_layout::menu()) {
    EXPECT_EQ(model.menuItemVisible(m.name), !m.hidden) << m.name;
  }
}

}  // namespace
}  // namespace dovra
