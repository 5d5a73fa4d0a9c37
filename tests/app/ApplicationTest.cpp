// The application shell: the start-up and shut-down order of a whole run, the last-resort
// handler, "New Window", the shared menu bar and the SCC file type.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <algorithm>
#include <functional>
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
using ::testing::EndsWith;

std::weak_ptr<quillet::Window1> g_firstWindow;

// What exists just before a step, in words: the SCC file type and its registrations, the
// menu bar ("bar"), the application ("app", "app-bar" when it holds that bar, "handler"
// for New Window's), the main window ("window", "shown"), the first main window object
// ("first", open or closed), and the reports of unhandled exceptions.
std::string snapshot(Step step) {
    std::string s = std::string(quillet::StepName(step)) + ":";
    const auto add = [&s](bool present, const char* word) { s += present ? std::string(" ") + word : ""; };
    tk::Ref<tk::Application> app = tk::getAppObject();
    tk::Ref<tk::Window> w = tk::_GetImplicitWindow(quillet::Window1::kClassName);
    add(static_cast<bool>(quillet::FileTypes1::pTextScc), "type");
    s += " scc " + std::to_string(tk::RegisteredFileTypesNamed("text/scc").size());
    add(static_cast<bool>(quillet::MenuBar1::_implicitInstance), "bar");
    add(static_cast<bool>(app), "app");
    add(app && app->MenuBar() && app->MenuBar() == quillet::MenuBar1::_implicitInstance, "app-bar");
    add(app && app->HasMenuHandler("FileNewWindow"), "handler");
    add(static_cast<bool>(w), "window");
    add(w && w->IsShown(), "shown");
    add(!g_firstWindow.expired(), "first");
    return s + " reports " + std::to_string(tk::RuntimeUnhandledExceptionCount());
}

// Runs the program in this process. `inLoop` runs once the application has opened;
// then, when `quit`, the File menu's quit item ends the run.
struct ProgramRun {
    std::vector<std::string> steps;
    int exitCode = -1;
    bool timedOut = false;

    const std::string* at(Step step) const {
        const std::string name = std::string(quillet::StepName(step)) + ":";
        for (const std::string& s : steps)
            if (s.rfind(name, 0) == 0)
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

ProgramRun runProgram(std::function<void()> inLoop, std::optional<Step> failAt = std::nullopt, bool quit = true) {
    ProgramRun run;
    quillet::SetStepObserver([&](Step step) {
        run.steps.push_back(snapshot(step));
        if (failAt && step == *failAt)
            throw tk::RuntimeException("InjectedException", "injected before " + std::string(quillet::StepName(step)));
        if (step == Step::RuntimeRun) {
            whenOpened([inLoop, quit] {
                inLoop();
                if (quit)
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

class Application : public ScriptedDialogs {
protected:
    void SetUp() override {
        ScriptedDialogs::SetUp();
        chooser_->SetAutoDismissMessages(true);
    }
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

    // The file type before the application object, the menu bar with it, then the
    // handler, then the hidden window, all before the event loop. Shut-down: the toolkit's
    // lists (and with them the first window), then the menu bar, last the file type.
    EXPECT_EQ(run.steps, (std::vector<std::string>{
                             "RuntimeInit: scc 0 reports 0",
                             "initialize: scc 0 reports 0",
                             "RuntimeInitExternalClasses: scc 0 reports 0",
                             "_InitPluginEntrypoints: scc 0 reports 0",
                             "_InitFileTypes: scc 0 reports 0",
                             "_NewAppInstance: type scc 1 reports 0",
                             "_ApplicationAddMenuHandlers: type scc 1 bar app app-bar reports 0",
                             "_MakeDefaultView: type scc 1 bar app app-bar handler reports 0",
                             "RuntimeRun: type scc 1 bar app app-bar handler window reports 0",
                             "release toolkit objects: type scc 1 bar app app-bar handler first reports 0",
                             "release MenuBar1: type scc 1 bar app app-bar handler reports 0",
                             "release FileTypes1.pTextScc: type scc 1 app handler reports 0",
                             "RuntimeExit: scc 0 app handler reports 0",
                         }));
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
        EXPECT_THAT(*run.at(Step::ReleaseToolkitObjects), EndsWith("reports 1"));
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

        // The window shows the bar's menus. In a run New Window has its handler: it and
        // Quit are on, the Edit menu's items, which have nothing to act on, are off.
        const QList<QAction*> menus = static_cast<QMainWindow*>(first->Widget())->menuBar()->actions();
        ASSERT_EQ(menus.size(), 2);
        EXPECT_EQ(menus[0]->menu()->actions(), (QList<QAction*>{first->FileQuit()->Action(), item->Action()}));
        ASSERT_EQ(menus[1]->menu()->actions().size(), 8);
        EXPECT_TRUE(menus[1]->menu()->actions()[1]->isSeparator());
        EXPECT_TRUE(item->Action()->isEnabled() && first->FileQuit()->Action()->isEnabled());
        for (const tk::Ref<tk::MenuItem>& edit : {first->EditUndo(), first->EditCut(), first->EditCopy(),
                                                  first->EditPaste(), first->EditClear(), first->EditSelectAll()})
            EXPECT_FALSE(edit->Action()->isEnabled()) << edit->Text();
        EXPECT_EQ(first->FileQuit()->Action()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

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

TEST_F(Application, ClosingTheWindowEndsTheRun) {
    // The menus live in the window: with it closed nothing would be left to quit from.
    ProgramRun run = runProgram([] { quillet::implicit::Window1()->Widget()->close(); }, std::nullopt, false);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(chooser_->Shown().empty());
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
    // Outside a run there is no application to hold the handlers.
    ASSERT_FALSE(tk::getAppObject());
    EXPECT_FALSE(quillet::implicit::App());
    EXPECT_THROW(quillet::implicit::FileNewWindow(), tk::NilObjectException);

    tk::Ref<quillet::MenuBar1> bar = quillet::implicit::MenuBar1();
    ASSERT_TRUE(bar);
    EXPECT_EQ(quillet::implicit::MenuBar1(), bar);  // built once
    EXPECT_EQ(itemsOf(bar), "&File|&Edit");
    EXPECT_EQ(itemsOf(bar->Item(0)), "&Quit Cmd+Q|New Window Cmd+N");
    EXPECT_EQ(itemsOf(bar->Item(1)),
              "&Undo Cmd+Z|-|Cu&t Cmd+X|&Copy Cmd+C|&Paste Cmd+V|&Delete|-|Select &All Cmd+A");
    quillet::MenuBar1::_implicitInstance_Exit();
}

TEST_F(Application, SccFileType) {
    quillet::FileTypes1::_Initialize();
    const tk::Ref<tk::FileType>& type = quillet::FileTypes1::pTextScc;
    ASSERT_TRUE(type);
    const auto registered = tk::RegisteredFileTypesNamed("text/scc");
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_EQ(registered[0].extensions + " " + registered[0].macType + " " + registered[0].macCreator, ".scc TXT R*ch");
    // The open dialog of an import shows the type's files.
    chooser_->AnswerCancel();
    EXPECT_FALSE(tk::GetOpenFolderItem(quillet::FileTypes1::kSccFileTypeName));
    EXPECT_EQ(chooser_->Shown().at(0).nameFilters, "SCC files (*.scc);;All files (*)");

    quillet::FileTypes1::pTextScc_Exit();
    EXPECT_FALSE(quillet::FileTypes1::pTextScc);
    EXPECT_TRUE(tk::RegisteredFileTypesNamed("text/scc").empty());
}

}  // namespace
