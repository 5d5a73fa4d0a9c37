// Windows and their controls where the application's own tests cannot tell a fault: how
// the real main window looks, takes clicks and closes is tested with it (tests/app).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Menus.h"
#include "toolkit/Runtime.h"
#include "toolkit/Window.h"

namespace {

// The main window's names mostly differ only at one end or in one letter of the middle,
// so every lookup must compare whole names, letter case included.
TEST(WindowTest, ControlLookupsMatchTheWholeName) {
    const auto w = tk::RuntimeNew<tk::Window>(tk::Window::__Lookup());
    for (const char* name : {"Box_a_1", "Box_b_1", "Box_a_2", "box_a_1", "Cox_a_1", "RadioButton1", "RadioButton2"}) {
        auto box = tk::Window::__New(w, tk::CheckBox::__Lookup());
        box->Constructor();
        w->_AddControl(name, box);
    }
    ASSERT_EQ(w->Controls().size(), 7u);
    for (const tk::Ref<tk::RectControl>& c : w->Controls()) {
        EXPECT_EQ(w->ControlByName(c->Name()), c) << c->Name();
        EXPECT_EQ(w->FindControl(c->Name()), c.get()) << c->Name();
        EXPECT_EQ(tk::RuntimeWindowControlByName(w, c->Name()), c) << c->Name();
    }
    for (const char* absent : {"Box_c_1", "Box_a_3", "BOX_A_1", "Box_a_", "Box_a_1 ", "RadioButton3", "", "Nope"}) {
        EXPECT_EQ(w->ControlByName(absent), nullptr) << absent;
        EXPECT_EQ(w->FindControl(absent), nullptr) << absent;
    }
    EXPECT_THROW(tk::RuntimeWindowControlByName(tk::Ref<tk::Window>(), "Box_a_1"), tk::NilObjectException);
    EXPECT_THROW(w->_AddControl("Box_a_1", std::make_shared<tk::CheckBox>()), tk::RuntimeException);
}

// Shortcuts are written as on a Mac; Qt's are Ctrl where the Mac's are Cmd.
TEST(WindowTest, MenuShortcutsBecomeCtrl) {
    EXPECT_EQ(tk::MenuItem::QtShortcutText("Cmd+Q"), "Ctrl+Q");
    EXPECT_EQ(tk::MenuItem::QtShortcutText("Cmd+Shift+N"), "Ctrl+Shift+N");
    EXPECT_EQ(tk::MenuItem::QtShortcutText("Cmd++"), "Ctrl++");
}

}  // namespace
