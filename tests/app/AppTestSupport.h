#pragma once
// Helpers shared by the application tests: a clean main window per test, real mouse
// clicks on a control's widget, and a private copy of the application folder whose
// picture a test may add or remove.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <any>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/LayoutLists.h"
#include "app/ProjectPicture.h"
#include "app/Window1.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/TextStreams.h"
#include "toolkit/Runtime.h"
#include "toolkit/Window.h"

namespace quillet::testing {

inline constexpr const char* kDone = "Done Writing SCC Transcripts";
inline constexpr const char* kNoTimecode = "There does not appear to be any timecode in this file.";

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The file's lines as the import must see them, worked out here on their own: LF, CRLF
// and a lone CR end a line, a byte-order mark at the very start is skipped, and empty
// lines are dropped.
inline std::vector<std::string> nonEmptyLines(std::string bytes) {
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        bytes.erase(0, 3);
    std::vector<std::string> lines;
    std::string line;
    for (const char c : bytes + "\n") {
        if (c != '\n' && c != '\r')
            line += c;
        else if (!line.empty())
            lines.push_back(std::exchange(line, {}));
    }
    return lines;
}

inline void flushEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// Closes the main window, if any, as the user's close button does, and lets the toolkit
// forget it.
inline void closeMainWindow() {
    if (tk::Ref<tk::Window> w = tk::_GetImplicitWindow(Window1::kClassName))
        w->Close();
    flushEvents();
}

template <class T>
tk::Ref<T> controlOf(const tk::Ref<Window1>& window, const char* name) {
    return std::dynamic_pointer_cast<T>(tk::RuntimeWindowControlByName(window, name));
}

// A left click where a user would click: on a check box's or radio button's indicator,
// in the middle of a push button.
inline void click(const tk::Ref<tk::RectControl>& control) {
    ASSERT_TRUE(control);
    QWidget* w = control->Widget();
    ASSERT_NE(w, nullptr);
    const bool indicator = std::dynamic_pointer_cast<tk::CheckBox>(control) ||
                           std::dynamic_pointer_cast<tk::RadioButton>(control);
    const QPoint at = indicator ? QPoint(6, w->height() / 2) : w->rect().center();
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
    flushEvents();
}

// An application folder of its own, Quillet/Contents/MacOS/Quillet and Resources, with
// or without the project's picture: the picture look-up uses it for the object's lifetime.
class AppFolder {
public:
    AppFolder() {
        static int count = 0;
        root_ = std::filesystem::temp_directory_path() /
                ("quillet-app-" + std::to_string(::getpid()) + "-" + std::to_string(count++));
        std::filesystem::create_directories(root_ / "Quillet/Contents/MacOS");
        std::filesystem::create_directories(root_ / "Quillet/Contents/Resources");
        const std::string exe = (root_ / "Quillet/Contents/MacOS/Quillet").string();
        _x_Quillet::SetExecutableItemGetter([exe] { return tk::FolderItem::FromPath(exe); });
        _x_Quillet::ResetCache();
    }
    ~AppFolder() {
        _x_Quillet::SetExecutableItemGetter(nullptr);
        _x_Quillet::ResetCache();
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    // Copies in the picture of the built application folder, or takes it away.
    void addPicture() const {
        std::filesystem::copy_file(
            std::filesystem::path(QUILLET_APP_EXECUTABLE).parent_path().parent_path() / "Resources/Quillet.png",
            picture(), std::filesystem::copy_options::overwrite_existing);
    }
    void removePicture() const { std::filesystem::remove(picture()); }

private:
    std::filesystem::path picture() const { return root_ / "Quillet/Contents/Resources/Quillet.png"; }
    std::filesystem::path root_;
};

// A new main window built without the control `missing`, as a damaged layout would leave
// it; every other control is made, placed and bound as in the real window.
inline tk::Ref<Window1> damagedWindow(const std::string& missing) {
    const tk::ClassRecord& record =
        tk::RuntimeRegisterClass("Damaged." + missing, &Window1::__Lookup(), [missing](tk::ClassRecord& r) {
            r.AddMethod("_CreateControls0", "%%", [missing](tk::Object& self, tk::Object*) -> std::any {
                const auto window = std::static_pointer_cast<tk::Window>(self.shared_from_this());
                for (const layout::ControlLayout& spec : layout::Controls()) {
                    if (spec.name == missing)
                        continue;
                    tk::Ref<tk::RectControl> c = tk::Window::__New(window, *tk::RuntimeFindClass(spec.className));
                    c->Constructor();
                    window->_AddControl(spec.name, c);
                    tk::_SetProperties(*c, spec.encoded);
                    if (!spec.actionHandler.empty())
                        tk::_InstallInstanceEventHandler(
                            c, "Action", tk::RuntimeCreateDelegate(window, spec.actionHandler, "(  )"));
                }
                return {};
            });
        });
    const tk::Ref<Window1> window = tk::RuntimeCheckCast<Window1>(tk::RuntimeNew<tk::Window>(record), Window1::__Lookup());
    window->Constructor();
    return window;
}

enum class Layout { Timecode, Line, Paragraph };

// The output settings of `w`, set from code (no rule runs): one of the three layouts, and
// "Unbuffered timecode" or "Keep SCC timecode".
inline void setLayoutOf(const tk::Ref<Window1>& w, Layout layout) {
    controlOf<tk::CheckBox>(w, "TimecodeBox")->SetValue(layout == Layout::Timecode);
    controlOf<tk::CheckBox>(w, "LineBox")->SetValue(layout != Layout::Paragraph);
    controlOf<tk::CheckBox>(w, "ParagraphBox")->SetValue(layout == Layout::Paragraph);
}
inline void setUnbufferedOf(const tk::Ref<Window1>& w, bool unbuffered) {
    controlOf<tk::RadioButton>(w, unbuffered ? "RadioButton1" : "RadioButton2")->SetValue(true);
}

// Gives a window built without the control `name` (damagedWindow) that control after
// all, made and set up as the layout has it.
inline void restoreControl(const tk::Ref<Window1>& w, const std::string& name) {
    const layout::ControlLayout* spec = layout::FindControl(name);
    ASSERT_NE(spec, nullptr) << name;
    tk::Ref<tk::RectControl> c = tk::Window::__New(w, *tk::RuntimeFindClass(spec->className));
    c->Constructor();
    w->_AddControl(name, c);
    tk::_SetProperties(*c, spec->encoded);
}

// No main window at the start or the end of a test, and dialogs answered by `chooser_`,
// which the test scripts.
class ScriptedDialogs : public ::testing::Test {
protected:
    void SetUp() override { closeMainWindow(); }
    void TearDown() override { closeMainWindow(); }
    std::shared_ptr<tk::ScriptedChooser> chooser_ = std::make_shared<tk::ScriptedChooser>();
    tk::ScopedDialogChooser scope_{chooser_};
};

// The shown main window and a fresh folder of the test's own, for whole conversions.
class ConversionFixture : public ScriptedDialogs {
protected:
    void SetUp() override {
        ASSERT_TRUE(tk::RuntimeInit());
        ScriptedDialogs::SetUp();
        chooser_->SetAutoDismissMessages(true);
        dir_ = std::filesystem::temp_directory_path() /
               ("quillet-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        window_ = quillet::implicit::Window1();
        window_->Show();
        flushEvents();
    }
    void TearDown() override {
        tk::TextInputStream::FailReadsAfterForTesting(-1);
        tk::TextOutputStream::FailWritesAfterForTesting(-1);
        window_.reset();
        ScriptedDialogs::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    void setLayout(Layout layout) { setLayoutOf(window_, layout); }
    void setUnbuffered(bool unbuffered) { setUnbufferedOf(window_, unbuffered); }
    tk::Ref<tk::StaticText> status() const { return controlOf<tk::StaticText>(window_, "ProgressText"); }
    // The texts of the message boxes shown so far.
    std::vector<std::string> messages() const {
        std::vector<std::string> texts;
        for (const tk::DialogRequest& r : chooser_->Shown())
            if (r.kind == tk::DialogKind::Message)
                texts.push_back(r.message);
        return texts;
    }
    // A file of the test's own with these bytes.
    std::filesystem::path file(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    tk::Ref<Window1> window_;
    std::filesystem::path dir_;
};

}  // namespace quillet::testing
