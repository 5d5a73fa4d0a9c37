// Windows, controls, menus and the event loop, on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Menus.h"
#include "toolkit/PropertyList.h"
#include "toolkit/Runtime.h"
#include "toolkit/Window.h"

namespace {

using tk::PropertyEntry;
using tk::PropertyType;

PropertyEntry I(const char* n, int v) { return {n, PropertyType::Integer, std::int32_t(v)}; }
PropertyEntry B(const char* n, bool v) { return {n, PropertyType::Boolean, v}; }
PropertyEntry S(const char* n, const char* v) { return {n, PropertyType::String, std::string(v)}; }

void SettleEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// tk::RuntimeRun, stopped after five seconds so that a stuck loop fails the test instead
// of hanging it; true when it had to be stopped.
bool RunTimedOut() {
    bool timedOut = false;
    QTimer guard;
    guard.callOnTimeout([&] {
        timedOut = true;
        QCoreApplication::exit(3);
    });
    guard.start(5000);
    tk::RuntimeRun();
    return timedOut;
}

// A window class as the application writes one.
struct Counters {
    int layout = 0, createControls = 0, exits = 0, actions = 0, enableMenus = 0;
    bool throwInAction = false;
    std::string order;
};
Counters& Count() {
    static Counters c;
    return c;
}

class TestWindow : public tk::Window {
public:
    void Layout() {
        ++Count().layout;
        Count().order += "L";
        tk::_SetProperties(*this, tk::EncodePropertyList({I("Width", 486), I("Height", 252), S("Title", "Quillet"),
                                                          B("Visible", false), B("CloseButton", true),
                                                          B("Resizeable", false), B("MaximizeButton", false),
                                                          B("MinimizeButton", true), I("MacProcID", 0)}));
    }
    void CreateControls() {
        ++Count().createControls;
        Count().order += "C";
        auto self = std::static_pointer_cast<tk::Window>(shared_from_this());
        auto add = [&](const tk::ClassRecord& cls, const char* name, std::vector<PropertyEntry> list) {
            auto c = tk::Window::__New(self, cls);
            c->Constructor();
            _AddControl(name, c);
            tk::_SetProperties(*tk::RuntimeWindowControlByName(self, name), tk::EncodePropertyList(list));
            return c;
        };
        auto box = add(tk::CheckBox::__Lookup(), "TimecodeBox",
                       {S("Name", "TimecodeBox"), I("Left", 185), I("Top", 77), I("Width", 146), I("Height", 20),
                        S("Caption", "Include Timecode"), S("TextFont", "System"), I("TextSize", 0), B("Value", true)});
        tk::_InstallInstanceEventHandler(box, "Action", tk::RuntimeCreateDelegate(self, "TimecodeBox_Action", "(  )"));
        for (const auto& [name, top, value] : {std::tuple{"RadioButton1", 114, true}, {"RadioButton2", 146, false}})
            add(tk::RadioButton::__Lookup(), name,
                {I("Left", 185), I("Top", top), I("Width", 160), I("Height", 20), S("Caption", name), B("Value", value)});
        add(tk::ProgressBar::__Lookup(), "ProgressBar1",
            {I("Left", 20), I("Top", 178), I("Width", 436), I("Height", 20), I("Value", 0), I("Maximum", 100)});
        add(tk::StaticText::__Lookup(), "ProgressText",
            {I("Left", 170), I("Top", 177), I("Width", 136), I("Height", 20), S("Text", "Reading SCC File..."),
             I("TextAlign", 1), B("Visible", false), S("InitialParent", "ProgressBar1")});
        auto help = add(tk::BevelButton::__Lookup(), "BevelButton2",
                        {I("Left", 350), I("Top", 114), I("Width", 17), I("Height", 16), S("Caption", "?"),
                         B("AcceptFocus", false)});
        tk::_InstallInstanceEventHandler(help, "Action", tk::RuntimeCreateDelegate(self, "Help_Action", "(  )"));
    }
    void TimecodeBox_Action(tk::Object* me) {
        auto [window, control] = tk::RuntimeSwapSelfAndMe(me);
        EXPECT_EQ(window.get(), this);
        EXPECT_EQ(control->Name(), "TimecodeBox");
        ++Count().actions;
        if (Count().throwInAction)
            throw tk::NilObjectException("No such box.");
    }
    void Help_Action() { tk::MsgBox("help"); }
    void Event_EnableMenuItems() { ++Count().enableMenus; }
    int instanceNumber = 0;
};

const tk::ClassRecord& TestWindowRecord() {
    static tk::ClassRecord* rec = nullptr;
    if (!rec)
        tk::RuntimeRegisterClass("TestWindow.TestWindow", &tk::Window::__Lookup(), [](tk::ClassRecord& r) {
            rec = &r;
            r.SetFactory([] { return std::make_unique<TestWindow>(); });
            r.SetExit([](tk::Object&) { ++Count().exits; });
            r.AddMethod("Layout", "%%", tk::Invoke<TestWindow>(&TestWindow::Layout));
            r.AddMethod("CreateControls", "%%", tk::Invoke<TestWindow>(&TestWindow::CreateControls));
            r.AddMethod("TimecodeBox_Action", "%%", tk::Invoke<TestWindow>(&TestWindow::TimecodeBox_Action));
            r.AddMethod("Help_Action", "%%", tk::Invoke<TestWindow>(&TestWindow::Help_Action));
            r.AddMethod("Event_EnableMenuItems", "%%", tk::Invoke<TestWindow>(&TestWindow::Event_EnableMenuItems));
            r.BindEvent("Layout", "Layout");
            r.BindEvent("CreateControls", "CreateControls");
            r.BindEvent("EnableMenuItems", "Event_EnableMenuItems");
            r.DeclareMember("TimecodeBox", "%o<CheckBox>%s");
        });
    return *rec;
}

tk::Ref<TestWindow> TheWindow() {  // the implicit-instance accessor
    tk::Ref<tk::Window> w = tk::_GetImplicitWindow("TestWindow.TestWindow");
    if (!w) {
        auto fresh = tk::RuntimeNew<tk::Window>(TestWindowRecord());
        fresh->Constructor();
        w = fresh;
    }
    return tk::RuntimeCheckCast<TestWindow>(w, TestWindowRecord());
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Count() = Counters{};
        chooser_->SetAutoDismissMessages(true);
    }
    void TearDown() override {
        tk::RuntimeReleaseModuleObjects();
        SettleEvents();
        tk::RuntimeExit();
    }
    std::shared_ptr<tk::ScriptedChooser> chooser_ = std::make_shared<tk::ScriptedChooser>();
    tk::ScopedDialogChooser scoped_{chooser_};
};

TEST_F(WindowTest, ImplicitInstanceLivesUntilClosed) {
    tk::Ref<TestWindow> first = TheWindow();
    EXPECT_EQ(Count().order, "LC");  // Layout, then CreateControls, before the accessor returns
    first->instanceNumber = 1;
    EXPECT_EQ(TheWindow(), first);
    EXPECT_EQ(Count().layout, 1);
    EXPECT_EQ(tk::RuntimeOpenWindows().size(), 1u);

    // The window as its layout made it: hidden, titled, fixed at 486 by 252.
    EXPECT_FALSE(first->IsShown());
    EXPECT_EQ(first->Widget()->windowTitle(), "Quillet");
    EXPECT_EQ(first->ClientArea()->size(), QSize(486, 252));
    EXPECT_EQ(first->ClientArea()->minimumSize(), first->ClientArea()->maximumSize());
    const Qt::WindowFlags flags = first->Widget()->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    ASSERT_NE(first->LayoutProperty("MacProcId"), nullptr);

    first->Show();
    EXPECT_TRUE(first->IsShown());
    EXPECT_EQ(TheWindow(), first);  // showing changes nothing
    QPointer<QWidget> oldWidget = first->Widget();

    first->Close();
    EXPECT_EQ(tk::_GetImplicitWindow("TestWindow.TestWindow"), nullptr);
    EXPECT_TRUE(tk::RuntimeOpenWindows().empty());
    first.reset();
    EXPECT_EQ(Count().exits, 0);  // released on the next turn of the event loop, not inside close
    SettleEvents();
    EXPECT_EQ(Count().exits, 1);
    EXPECT_TRUE(oldWidget.isNull());

    tk::Ref<TestWindow> second = TheWindow();
    EXPECT_EQ(second->instanceNumber, 0);
    EXPECT_EQ(Count().layout, 2);

    // The user's close button does the same as Close.
    second->Show();
    second->Widget()->close();
    EXPECT_EQ(tk::_GetImplicitWindow("TestWindow.TestWindow"), nullptr);
    EXPECT_FALSE(second->IsOpen());

    // Shown again from code, a closed window is open and listed again, and the toolkit
    // does not let go of it.
    second->Show();
    EXPECT_TRUE(second->IsOpen());
    EXPECT_EQ(tk::RuntimeOpenWindows(), std::vector<tk::Ref<tk::Window>>{second});
    QPointer<QWidget> shownAgain = second->Widget();
    tk::Window* const raw = second.get();
    second.reset();
    SettleEvents();
    EXPECT_EQ(Count().exits, 1);
    EXPECT_FALSE(shownAgain.isNull());
    ASSERT_EQ(tk::RuntimeOpenWindows().size(), 1u);
    EXPECT_EQ(tk::RuntimeOpenWindows()[0].get(), raw);
    raw->Close();
    SettleEvents();
    EXPECT_EQ(Count().exits, 2);
}

TEST_F(WindowTest, FailedConstructionLeavesNoInstance) {
    static bool fail = true;
    static const tk::ClassRecord& rec =
        tk::RuntimeRegisterClass("FailingWindow.FailingWindow", &tk::Window::__Lookup(), [](tk::ClassRecord& r) {
            r.AddMethod("Layout", "%%", [](tk::Object&, tk::Object*) -> std::any {
                if (fail)
                    throw tk::NilObjectException("no menu bar");
                return {};
            });
            r.BindEvent("Layout", "Layout");
        });
    auto w = tk::RuntimeNew<tk::Window>(rec);
    EXPECT_THROW(w->Constructor(), tk::NilObjectException);
    EXPECT_EQ(tk::_GetImplicitWindow("FailingWindow.FailingWindow"), nullptr);
    EXPECT_TRUE(tk::RuntimeOpenWindows().empty());
    fail = false;
    auto ok = tk::RuntimeNew<tk::Window>(rec);
    ok->Constructor();
    EXPECT_EQ(tk::_GetImplicitWindow("FailingWindow.FailingWindow"), ok);
    EXPECT_TRUE(ok->IsShown());  // no layout hid it
    EXPECT_THROW(ok->Constructor(), tk::RuntimeException);
}

TEST_F(WindowTest, ControlsFoundByNameAndPlaced) {
    auto w = TheWindow();
    for (const char* name : {"TimecodeBox", "RadioButton1", "RadioButton2", "ProgressBar1", "ProgressText", "BevelButton2"})
        EXPECT_NE(w->ControlByName(name), nullptr) << name;
    EXPECT_EQ(w->ControlByName("Nope"), nullptr);
    EXPECT_THROW(tk::RuntimeWindowControlByName(tk::Ref<tk::Window>(), "TimecodeBox"), tk::NilObjectException);
    EXPECT_THROW(w->_AddControl("TimecodeBox", std::make_shared<tk::CheckBox>()), tk::RuntimeException);

    // The hidden status label lies on the bar, centred over it.
    auto text = std::dynamic_pointer_cast<tk::StaticText>(w->ControlByName("ProgressText"));
    auto bar = std::dynamic_pointer_cast<tk::ProgressBar>(w->ControlByName("ProgressBar1"));
    ASSERT_TRUE(text && bar);
    EXPECT_FALSE(text->Visible());
    EXPECT_EQ(text->Widget()->parentWidget(), bar->Widget());
    EXPECT_EQ(text->Widget()->geometry(), QRect(150, -1, 136, 20));
    EXPECT_TRUE(static_cast<QLabel*>(text->Widget())->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(text->ContainingControl(), bar);

    // The default font for "System" and size 0; the "?" button keeps its small size.
    QWidget* const box = w->ControlByName("TimecodeBox")->Widget();
    EXPECT_EQ(box->font(), QApplication::font(box));
    EXPECT_EQ(w->ControlByName("BevelButton2")->Widget()->size(), QSize(17, 16));
    EXPECT_EQ(w->ControlByName("BevelButton2")->Widget()->focusPolicy(), Qt::NoFocus);

    // A value beyond the maximum reads back as set but shows as a full bar, without text.
    bar->SetMaximum(65536);
    bar->SetValue(70000);
    EXPECT_EQ(bar->Value(), 70000);
    EXPECT_EQ(static_cast<QProgressBar*>(bar->Widget())->value(), 65536);
    EXPECT_FALSE(static_cast<QProgressBar*>(bar->Widget())->isTextVisible());

    // Wrong kinds of property values and unknown names are refused.
    EXPECT_THROW(tk::_SetProperties(*bar, "Caption \x00\x00\x00\x00"), tk::UnsupportedFormatException);
    EXPECT_THROW(text->ApplyLayoutProperty(PropertyEntry{"Text", PropertyType::Integer, std::int32_t(1)}),
                 tk::UnsupportedFormatException);
    EXPECT_THROW(tk::_SetProperties(*text, tk::EncodePropertyList({S("InitialParent", "Nope")})), tk::RuntimeException);
    EXPECT_THROW(tk::_SetProperties(*bar, tk::EncodePropertyList({S("InitialParent", "ProgressText")})),
                 tk::RuntimeException);  // would contain itself
}

TEST_F(WindowTest, RadioButtonsActAsOneChoice) {
    auto w = TheWindow();
    w->Show();
    auto r1 = std::dynamic_pointer_cast<tk::RadioButton>(w->ControlByName("RadioButton1"));
    auto r2 = std::dynamic_pointer_cast<tk::RadioButton>(w->ControlByName("RadioButton2"));
    const auto values = [&] { return std::pair(r1->Value(), r2->Value()); };
    QTest::mouseClick(r2->Widget(), Qt::LeftButton);
    EXPECT_EQ(values(), std::pair(false, true));
    r1->SetValue(true);
    EXPECT_EQ(values(), std::pair(true, false));
    r1->SetValue(false);  // code may leave none selected
    EXPECT_EQ(values(), std::pair(false, false));
    QTest::mouseClick(r1->Widget(), Qt::LeftButton);
    EXPECT_EQ(values(), std::pair(true, false));
}

TEST_F(WindowTest, ActionComesFromClicksOnlyAndExceptionsStayInside) {
    auto w = TheWindow();
    w->Show();
    auto box = std::dynamic_pointer_cast<tk::CheckBox>(w->ControlByName("TimecodeBox"));
    box->SetValue(false);
    box->SetValue(false);
    box->SetValue(true);
    EXPECT_EQ(Count().actions, 0);

    QTest::mouseClick(box->Widget(), Qt::LeftButton);
    EXPECT_EQ(Count().actions, 1);
    EXPECT_FALSE(box->Value());

    Count().throwInAction = true;
    QTest::mouseClick(box->Widget(), Qt::LeftButton);
    EXPECT_EQ(Count().actions, 2);
    EXPECT_EQ(tk::RuntimeUnhandledExceptionCount(), 1u);  // reported (its text: RuntimeTest)
    EXPECT_EQ(chooser_->Shown().size(), 1u);

    // Still usable.
    Count().throwInAction = false;
    QTest::mouseClick(box->Widget(), Qt::LeftButton);
    EXPECT_EQ(Count().actions, 3);
    EXPECT_EQ(tk::RuntimeUnhandledExceptionCount(), 1u);

    QTest::mouseClick(w->ControlByName("BevelButton2")->Widget(), Qt::LeftButton);
    ASSERT_EQ(chooser_->Shown().size(), 2u);
    EXPECT_EQ(chooser_->Shown()[1].message, "help");

    EXPECT_THROW(tk::_InstallInstanceEventHandler(w->ControlByName("ProgressBar1"), "Action",
                                                  tk::RuntimeCreateDelegate(w, "Help_Action", "(  )")),
                 tk::RuntimeException);
    EXPECT_THROW(tk::RuntimeSwapSelfAndMe(nullptr), tk::NilObjectException);
}

// ---- menus and the application ---------------------------------------------------------------

tk::Ref<tk::MenuItem> Item(const tk::ClassRecord& cls, const char* name, const char* text, const char* shortcut = "") {
    auto item = tk::RuntimeNew<tk::MenuItem>(cls);
    item->Constructor();
    item->SetName(name);
    item->SetAutoEnable(true);
    item->SetText(text);
    if (*shortcut)
        item->SetKeyboardShortcut(shortcut);
    return item;
}

tk::Ref<tk::MenuBar> BuildBar() {
    auto bar = tk::RuntimeNew<tk::MenuBar>(tk::MenuBar::__Lookup());
    const auto& mi = tk::MenuItem::__Lookup();
    bar->Append(Item(mi, "FileMenu", "&File"));
    bar->Child("FileMenu")->Append(Item(tk::QuitMenuItem::__Lookup(), "FileQuit", "&Quit", "Cmd+Q"));
    bar->Child("FileMenu")->Append(Item(mi, "FileNewWindow", "New Window", "Cmd+N"));
    bar->Append(Item(mi, "EditMenu", "&Edit"));
    bar->Child("EditMenu")->Append(Item(mi, "EditUndo", "&Undo", "Cmd+Z"));
    bar->Child("EditMenu")->Append(Item(mi, "UntitledMenu1", "-"));
    bar->Child("EditMenu")->Append(Item(mi, "EditSelectAll", "Select &All", "Cmd+A"));
    return bar;
}

class TestApp : public tk::Application {
public:
    int newWindow = 0;
    bool FileNewWindow_Action() {
        ++newWindow;
        return false;
    }
};

const tk::ClassRecord& TestAppRecord() {
    static tk::ClassRecord& rec = tk::RuntimeRegisterClass("TestApp", &tk::Application::__Lookup(), [](tk::ClassRecord& r) {
        r.SetFactory([] { return std::make_unique<TestApp>(); });
        r.AddMethod("_FileNewWindow_Action", "%b%", tk::Invoke<TestApp>(&TestApp::FileNewWindow_Action));
    });
    return rec;
}

TEST_F(WindowTest, MenusLookupShortcutsAndHandlers) {
    auto bar = BuildBar();
    EXPECT_EQ(bar->Child("EditSelectAll"), nullptr);  // Child looks one level down only
    auto selectAll = bar->_Lookup("EditSelectAll");
    ASSERT_NE(selectAll, nullptr);
    EXPECT_EQ(selectAll->Parent(), bar->Child("EditMenu"));
    EXPECT_EQ(bar->_Lookup("Nope"), nullptr);
    EXPECT_THROW(bar->Append(nullptr), tk::NilObjectException);
    EXPECT_THROW(bar->Item(5), tk::OutOfBoundsException);

    EXPECT_EQ(tk::MenuItem::QtShortcutText("Cmd+Q"), "Ctrl+Q");
    EXPECT_EQ(tk::MenuItem::QtShortcutText("Cmd+Shift+N"), "Ctrl+Shift+N");
    EXPECT_EQ(tk::MenuItem::QtShortcutText("Cmd++"), "Ctrl++");
    EXPECT_EQ(bar->_Lookup("FileQuit")->Action()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_TRUE(bar->_Lookup("UntitledMenu1")->Action()->isSeparator());

    // Two windows share the bar, and with it the same actions; an item appended later
    // shows in every window.
    const auto menuOf = [](const tk::Ref<tk::Window>& w, int index) {
        const QList<QAction*> menus = static_cast<QMainWindow*>(w->Widget())->menuBar()->actions();
        return menus.size() == 2 ? menus[index]->menu() : nullptr;
    };
    auto w1 = tk::RuntimeNew<tk::Window>(tk::Window::__Lookup());
    auto w2 = tk::RuntimeNew<tk::Window>(tk::Window::__Lookup());
    w1->SetMenuBar(bar);
    w2->SetMenuBar(bar);
    ASSERT_TRUE(menuOf(w1, 0) && menuOf(w2, 0));
    EXPECT_EQ(menuOf(w1, 0)->title(), "&File");
    EXPECT_EQ(menuOf(w1, 0)->actions(), (QList<QAction*>{bar->_Lookup("FileQuit")->Action(), bar->_Lookup("FileNewWindow")->Action()}));
    EXPECT_EQ(menuOf(w2, 0)->actions(), menuOf(w1, 0)->actions());
    bar->Child("FileMenu")->Append(Item(tk::MenuItem::__Lookup(), "FileClose", "Close"));
    EXPECT_EQ(menuOf(w1, 0)->actions().size(), 3);
    EXPECT_EQ(menuOf(w2, 0)->actions().size(), 3);

    // Auto-enable: items with a handler, menus and Quit; the rest stays off.
    auto app = tk::RuntimeNew<TestApp>(TestAppRecord());
    app->SetMenuBar(bar);
    tk::RuntimeRegisterAppObject(app);
    auto newWindow = bar->_Lookup("FileNewWindow");
    EXPECT_FALSE(newWindow->Enabled());
    EXPECT_TRUE(bar->_Lookup("FileQuit")->Enabled());
    EXPECT_TRUE(bar->Child("EditMenu")->Enabled());
    EXPECT_FALSE(bar->_Lookup("EditSelectAll")->Action()->isEnabled());
    tk::Ref<tk::Application> registered = tk::getAppObject();
    registered->_AddMenuHandler(
        "FileNewWindow", tk::RuntimeCreateDelegate(registered, "_FileNewWindow_Action", "(  ) as Boolean"));
    EXPECT_TRUE(newWindow->Action()->isEnabled());
    EXPECT_THROW(registered->_AddMenuHandler("X", nullptr), tk::NilObjectException);

    newWindow->Action()->trigger();
    EXPECT_EQ(app->newWindow, 1);
    EXPECT_FALSE(registered->_HandleMenuCommand("FileNewWindow"));
    EXPECT_EQ(app->newWindow, 2);
    EXPECT_FALSE(registered->_HandleMenuCommand("EditUndo"));  // no handler: nothing happens

    // The window's "EnableMenuItems" runs when one of its menus opens.
    auto tw = TheWindow();
    tw->SetMenuBar(bar);
    ASSERT_TRUE(menuOf(tw, 1));
    emit menuOf(tw, 1)->aboutToShow();
    EXPECT_EQ(Count().enableMenus, 1);
}

TEST_F(WindowTest, ClosingTheLastWindowEndsTheRun) {
    // Menus live in the windows here: with the last one closed nothing is left to quit
    // from, so the run ends instead of leaving an invisible process behind.
    auto w = TheWindow();
    w->Show();
    QTimer::singleShot(0, [w] { w->Widget()->close(); });
    EXPECT_FALSE(RunTimedOut());
    EXPECT_EQ(tk::_GetImplicitWindow("TestWindow.TestWindow"), nullptr);
}

}  // namespace
