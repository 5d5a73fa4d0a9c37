// The application shell: the start-up and shut-down order of a whole run, the last-resort
// handler, "New Window", the shared menu bar and the SCC file type.
#include <gtest/gtest.h>

#include <QAction>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/App.h"
#include "app/FileTypes1.h"
#include "app/MenuBar1.h"
#include "app/Startup.h"
#include "app/Window1.h"
#include "toolkit/Dialogs.h"
#include "toolkit/FileType.h"

namespace {

using namespace quillet::testing;
using quillet::Step;

// What the runtime shows just before a step: its registry, the application object,
// the module-level objects and the main window.
struct Snapshot {
    Step step;
    bool app = false, appHasMenuBar = false, newWindowHandler = false;
    bool menuBar = false, pTextScc = false, window = false, windowShown = false;
    bool windowObjectAlive = false;  // the first main window, open or closed
    size_t sccRegistrations = 0, reports = 0;
};

std::weak_ptr<quillet::Window1> g_firstWindow;

Snapshot snapshot(Step step) {
    Snapshot s{step};
    tk::Ref<tk::Application> app = tk::getAppObject();
    s.app = static_cast<bool>(app);
    s.appHasMenuBar = app && app->MenuBar() && app->MenuBar() == quillet::MenuBar1::_implicitInstance;
    s.newWindowHandler = app && app->HasMenuHandler("FileNewWindow");
    s.menuBar = static_cast<bool>(quillet::MenuBar1::_implicitInstance);
    s.pTextScc = static_cast<bool>(quillet::FileTypes1::pTextScc);
    tk::Ref<tk::Window> w = tk::_GetImplicitWindow(quillet::Window1::kClassName);
    s.window = static_cast<bool>(w);
    s.windowShown = w && w->IsShown();
    s.windowObjectAlive = !g_firstWindow.expired();
    s.sccRegistrations = tk::RegisteredFileTypesNamed("text/scc").size();
    s.reports = tk::RuntimeUnhandledExceptionCount();
    return s;
}

// Runs the program in this process. `inLoop` runs once the application has opened;
// then the File menu's quit item ends the run. Returns the exit code.
struct ProgramRun {
    std::vector<Snapshot> steps;
    int exitCode = -1;
    bool timedOut = false;

    const Snapshot* at(Step step) const {
        for (const Snapshot& s : steps)
            if (s.step == step)
                return &s;
        return nullptr;
    }
};

void whenOpened(std::function<void()> fn) {
    QTimer::singleShot(0, [fn] {
        tk::Ref<quillet::App> app = quillet::implicit::App();
        if (app && app->HasOpened())
            fn();
        else
            whenOpened(fn);
    });
}

void chooseQuit() {
    tk::Ref<quillet::Window1> w = quillet::implicit::Window1();
    w->FileQuit()->Action()->trigger();
}

ProgramRun runProgram(std::function<void()> inLoop, std::optional<Step> failAt = std::nullopt) {
    ProgramRun run;
    quillet::SetStepObserver([&](Step step) {
        run.steps.push_back(snapshot(step));
        if (failAt && step == *failAt)
            throw tk::RuntimeException("InjectedException", "injected before " + std::string(quillet::StepName(step)));
        if (step == Step::RuntimeRun) {
            whenOpened([inLoop] {
                inLoop();
                chooseQuit();
            });
            QTimer::singleShot(20000, [&run] {
                run.timedOut = true;
                tk::RuntimeQuit();
            });
        }
    });
    static int argc = 1;
    static char name[] = "Quillet";
    static char* argv[] = {name, nullptr};
    run.exitCode = quillet::RunQuillet(argc, argv);
    quillet::SetStepObserver(nullptr);
    flushEvents();
    return run;
}

class Application : public ::testing::Test {
protected:
    void SetUp() override {
        closeMainWindow();
        chooser_ = std::make_shared<tk::ScriptedChooser>();
        chooser_->SetAutoDismissMessages(true);
        scope_ = std::make_unique<tk::ScopedDialogChooser>(chooser_);
    }
    void TearDown() override {
        scope_.reset();
        closeMainWindow();
    }
    std::shared_ptr<tk::ScriptedChooser> chooser_;
    std::unique_ptr<tk::ScopedDialogChooser> scope_;
};

TEST_F(Application, StartUpAndShutDownOrder) {
    bool shownOnOpen = false;
    ProgramRun run = runProgram([&] {
        g_firstWindow = quillet::implicit::Window1();
        shownOnOpen = quillet::implicit::Window1()->IsShown();
    });
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(shownOnOpen);

    const std::vector<Step> order = {
        Step::RuntimeInit, Step::Initialize, Step::InitExternalClasses, Step::InitPluginEntrypoints,
        Step::InitFileTypes, Step::NewAppInstance, Step::ApplicationAddMenuHandlers, Step::MakeDefaultView,
        Step::RuntimeRun, Step::ReleaseToolkitObjects, Step::ReleaseMenuBar, Step::ReleaseFileType, Step::RuntimeExit,
    };
    ASSERT_EQ(run.steps.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(run.steps[i].step, order[i]) << i;

    // The file type before the application object, the menu bar with it, then the
    // handler, then the hidden window, all before the event loop.
    EXPECT_EQ(run.at(Step::InitFileTypes)->sccRegistrations, 0u);
    EXPECT_EQ(run.at(Step::NewAppInstance)->sccRegistrations, 1u);
    EXPECT_FALSE(run.at(Step::NewAppInstance)->app);
    EXPECT_FALSE(run.at(Step::NewAppInstance)->menuBar);
    EXPECT_TRUE(run.at(Step::ApplicationAddMenuHandlers)->appHasMenuBar);
    EXPECT_FALSE(run.at(Step::ApplicationAddMenuHandlers)->newWindowHandler);
    EXPECT_TRUE(run.at(Step::MakeDefaultView)->newWindowHandler);
    EXPECT_FALSE(run.at(Step::MakeDefaultView)->window);
    EXPECT_TRUE(run.at(Step::RuntimeRun)->window);
    EXPECT_FALSE(run.at(Step::RuntimeRun)->windowShown);

    // Shut-down: the toolkit's lists, then the menu bar, last the file type.
    EXPECT_EQ(run.at(Step::ReleaseToolkitObjects)->reports, 0u);
    EXPECT_TRUE(run.at(Step::ReleaseToolkitObjects)->windowObjectAlive);
    EXPECT_FALSE(run.at(Step::ReleaseMenuBar)->windowObjectAlive);
    EXPECT_TRUE(run.at(Step::ReleaseMenuBar)->menuBar);
    EXPECT_FALSE(run.at(Step::ReleaseFileType)->menuBar);
    EXPECT_TRUE(run.at(Step::ReleaseFileType)->pTextScc);
    EXPECT_EQ(run.at(Step::ReleaseFileType)->sccRegistrations, 1u);
    EXPECT_FALSE(run.at(Step::RuntimeExit)->pTextScc);
    EXPECT_EQ(run.at(Step::RuntimeExit)->sccRegistrations, 0u);
    EXPECT_FALSE(tk::getAppObject());
    EXPECT_TRUE(chooser_->Shown().empty());
}

TEST_F(Application, ExceptionInAStartUpStepIsReportedOnce) {
    const std::vector<Step> startup = {Step::InitExternalClasses, Step::InitPluginEntrypoints,
                                       Step::InitFileTypes,       Step::NewAppInstance,
                                       Step::ApplicationAddMenuHandlers, Step::MakeDefaultView,
                                       Step::RuntimeRun};
    for (size_t failing = 0; failing < startup.size(); ++failing) {
        SCOPED_TRACE(quillet::StepName(startup[failing]));
        chooser_->ClearShown();
        ProgramRun run = runProgram([] { ADD_FAILURE() << "the event loop ran"; }, startup[failing]);
        EXPECT_FALSE(run.timedOut);
        EXPECT_NE(run.exitCode, 0);
        for (size_t later = failing + 1; later < startup.size(); ++later)
            EXPECT_FALSE(run.at(startup[later])) << quillet::StepName(startup[later]) << " ran";
        ASSERT_TRUE(run.at(Step::ReleaseToolkitObjects));
        EXPECT_EQ(run.at(Step::ReleaseToolkitObjects)->reports, 1u);
        EXPECT_TRUE(run.at(Step::ReleaseMenuBar) && run.at(Step::ReleaseFileType) && run.at(Step::RuntimeExit));
        EXPECT_EQ(chooser_->Shown().size(), 1u);
        // Shut-down left nothing behind for the next run.
        EXPECT_FALSE(quillet::FileTypes1::pTextScc);
        EXPECT_FALSE(quillet::MenuBar1::_implicitInstance);
        EXPECT_TRUE(tk::RegisteredFileTypesNamed("text/scc").empty());
        EXPECT_FALSE(tk::_GetImplicitWindow(quillet::Window1::kClassName));
    }
}

TEST_F(Application, NewWindow) {
    ProgramRun run = runProgram([] {
        tk::Ref<quillet::Window1> first = quillet::implicit::Window1();
        const tk::Ref<tk::MenuBar> bar = first->MenuBar();
        click(tk::RuntimeWindowControlByName(first, "ParagraphBox"));
        first->captionArray2.Append("kept");

        // While the window is open: the same window, as the user left it.
        tk::Ref<tk::MenuItem> item = quillet::implicit::FileNewWindow();
        ASSERT_TRUE(item);
        item->Action()->trigger();
        flushEvents();
        EXPECT_EQ(quillet::implicit::Window1(), first);
        EXPECT_EQ(tk::RuntimeOpenWindows().size(), 1u);
        EXPECT_TRUE(first->IsShown());
        EXPECT_TRUE(std::dynamic_pointer_cast<tk::CheckBox>(
                        tk::RuntimeWindowControlByName(first, "ParagraphBox"))->Value());
        EXPECT_EQ(first->captionArray2.Count(), 1);
        EXPECT_FALSE(quillet::implicit::App()->_FileNewWindow_Action());

        // After it was closed the application runs on, and a fresh window comes.
        std::weak_ptr<quillet::Window1> closed = first;
        first.reset();
        closeMainWindow();
        EXPECT_TRUE(closed.expired());
        EXPECT_TRUE(tk::RuntimeOpenWindows().empty());
        item->Action()->trigger();
        flushEvents();
        tk::Ref<quillet::Window1> second = quillet::implicit::Window1();
        EXPECT_TRUE(second->IsShown());
        EXPECT_EQ(second->captionArray2.UBound(), -1);
        EXPECT_FALSE(std::dynamic_pointer_cast<tk::CheckBox>(
                         tk::RuntimeWindowControlByName(second, "ParagraphBox"))->Value());
        EXPECT_EQ(second->MenuBar(), bar);
        EXPECT_EQ(quillet::implicit::App()->MenuBar(), bar);
    });
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
}

TEST_F(Application, AppClassAndAccessorsOutsideARun) {
    EXPECT_EQ(quillet::App::__Lookup().Name(), "App");
    EXPECT_EQ(quillet::App::__Lookup().Parent(), &tk::Application::__Lookup());
    ASSERT_FALSE(tk::getAppObject());
    EXPECT_FALSE(quillet::implicit::App());
    EXPECT_THROW(quillet::implicit::FileNewWindow(), tk::NilObjectException);
}

// Every item of a menu as the user sees it, "text shortcut", with "|" between items.
std::string itemsOf(const tk::Ref<tk::MenuItem>& menu) {
    std::string out;
    for (size_t i = 0; i < menu->Count(); ++i) {
        tk::Ref<tk::MenuItem> item = menu->Item(i);
        EXPECT_TRUE(item->AutoEnable()) << item->Text();
        out += (i ? "|" : "") + item->Text();
        if (!item->KeyboardShortcut().empty())
            out += " " + item->KeyboardShortcut();
    }
    return out;
}

TEST_F(Application, MenuBar) {
    tk::Ref<quillet::MenuBar1> bar = quillet::implicit::MenuBar1();
    ASSERT_TRUE(bar);
    EXPECT_EQ(quillet::implicit::MenuBar1(), bar);  // built once
    EXPECT_EQ(itemsOf(bar), "&File|&Edit");
    EXPECT_EQ(itemsOf(bar->Item(0)), "&Quit Cmd+Q|New Window Cmd+N");
    EXPECT_EQ(itemsOf(bar->Item(1)),
              "&Undo Cmd+Z|-|Cu&t Cmd+X|&Copy Cmd+C|&Paste Cmd+V|&Delete|-|Select &All Cmd+A");
    EXPECT_TRUE(tk::RuntimeIsA(bar->_Lookup("FileQuit").get(), tk::QuitMenuItem::__Lookup()));
    EXPECT_FALSE(tk::RuntimeIsA(bar->_Lookup("FileNewWindow").get(), tk::QuitMenuItem::__Lookup()));

    quillet::MenuBar1::_implicitInstance_Exit();
    EXPECT_FALSE(quillet::MenuBar1::_implicitInstance);
    EXPECT_NE(quillet::implicit::MenuBar1(), bar);  // a later request builds a new one
    quillet::MenuBar1::_implicitInstance_Exit();
}

TEST_F(Application, SccFileType) {
    quillet::FileTypes1::_Initialize();
    const tk::Ref<tk::FileType>& type = quillet::FileTypes1::pTextScc;
    ASSERT_TRUE(type);
    const auto registered = tk::RegisteredFileTypesNamed("text/scc");
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_EQ(registered[0].extensions + " " + registered[0].macType + " " + registered[0].macCreator, ".scc TXT R*ch");

    // The open dialog of an import is filtered by the type's name.
    chooser_->AnswerCancel();
    EXPECT_FALSE(tk::GetOpenFolderItem(quillet::FileTypes1::kSccFileTypeName));
    ASSERT_EQ(chooser_->Shown().size(), 1u);
    EXPECT_NE(chooser_->Shown()[0].nameFilters.find("*.scc"), std::string::npos);

    quillet::FileTypes1::pTextScc_Exit();
    EXPECT_FALSE(quillet::FileTypes1::pTextScc);
    EXPECT_TRUE(tk::RegisteredFileTypesNamed("text/scc").empty());
}

// Classes can be registered only once per process, so the registry's order is checked
// in a fresh one.
void runAndCheckRegistrationOrder() {
    ProgramRun run = runProgram([] {});
    std::vector<std::string> names;
    for (const tk::ClassRecord* r : tk::RuntimeRegisteredClasses())
        names.push_back(r->Name());
    auto index = [&](const std::string& n) {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == n)
                return static_cast<long>(i);
        return -1L;
    };
    const long app = index("App"), window = index("Window1.Window1"), bar = index("MenuBar1");
    bool ok = run.exitCode == 0 && app >= 0 && app < window && window < bar;
    for (const char* toolkit : {"Window", "Application", "MenuBar", "MenuItem", "CheckBox", "Canvas"})
        ok = ok && index(toolkit) >= 0 && index(toolkit) < app;
    if (!ok) {
        for (const std::string& n : names)
            std::cerr << n << ' ';
        std::cerr << "exit " << run.exitCode << std::endl;
    }
    std::_Exit(ok ? 0 : 3);
}

TEST(ApplicationRegistry, ClassesRegisteredInOrder) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runAndCheckRegistrationOrder(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
