#include "app/Window1.h"

#include "app/LayoutLists.h"
#include "app/MenuBar1.h"
#include "app/ProjectPicture.h"
#include <functional>
#include <new>
#include <system_error>
#include <vector>

#include "decoding/CaptionDecoder.h"
#include "decoding/SccImport.h"
#include "decoding/Timecode.h"
#include "toolkit/BackgroundTask.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Exceptions.h"
#include "toolkit/RegEx.h"
#include "toolkit/Runtime.h"
#include "transcript/Transcript.h"

namespace quillet {

const char* const Window1::kUnbufferedHelp =
    "This option gives you the more accurate start time since the SCC format builds in a "
    "buffer time of about 1 frame per 4-digit code prior to the caption's actual start time. "
    "The timecode will be displayed in hundredths of a second.";
const char* const Window1::kKeepSccHelp =
    "This option will leave the SCC timecode the way it is in frames. You may want to use "
    "this if you are attempting to troubleshoot an SCC file that has errors, for example.";

namespace {

tk::ClassRecord* g_record = nullptr;

const tk::ClassRecord& controlClass(const std::string& className) {
    if (className == "BevelButton") return tk::BevelButton::__Lookup();
    if (className == "CheckBox") return tk::CheckBox::__Lookup();
    if (className == "StaticText") return tk::StaticText::__Lookup();
    if (className == "ProgressBar") return tk::ProgressBar::__Lookup();
    if (className == "RadioButton") return tk::RadioButton::__Lookup();
    if (className == "Canvas") return tk::Canvas::__Lookup();
    throw tk::RuntimeException("Unknown control class " + className + ".");
}

// The window's control of that name, type-tested against its class. The conversion
// looks its controls up on every caption line, so the lookup stays free of allocations.
template <class T>
tk::Ref<T> control(const tk::Ref<tk::Window>& window, std::string_view name, const tk::ClassRecord& cls) {
    tk::Ref<T> found = tk::RuntimeCheckCast<T>(tk::RuntimeWindowControlByName(window, name), cls);
    if (!found)
        throw tk::NilObjectException("Control " + std::string(name) + " is nil.");
    return found;
}

tk::Ref<tk::CheckBox> checkBox(const tk::Ref<tk::Window>& window, std::string_view name) {
    return control<tk::CheckBox>(window, name, tk::CheckBox::__Lookup());
}

// The same for the lookups made on every caption line and every caption: no reference
// is taken, since the control is used at once and never kept across a turn of the event
// loop.
template <class T>
T& controlOnce(const tk::Window& window, std::string_view name, const tk::ClassRecord& cls) {
    tk::RectControl* found = window.FindControl(name);
    if (!found)
        throw tk::NilObjectException("Control " + std::string(name) + " is nil.");
    T* typed = tk::RuntimeIsA(found, cls) ? dynamic_cast<T*>(found) : nullptr;
    if (!typed)
        throw tk::IllegalCastException("Control " + std::string(name) + " is not a " + cls.Name() + ".");
    return *typed;
}

tk::ProgressBar& progressBar(const tk::Window& window) {
    return controlOnce<tk::ProgressBar>(window, "ProgressBar1", tk::ProgressBar::__Lookup());
}

tk::StaticText& progressText(const tk::Window& window) {
    return controlOnce<tk::StaticText>(window, "ProgressText", tk::StaticText::__Lookup());
}

// Raised from an event-loop turn when the window was closed (or the application quit)
// while its conversion ran: the conversion ends there, writing nothing.
struct ConversionAbandoned {};

constexpr std::string_view kDoneWriting = "Done Writing SCC Transcripts";
constexpr std::string_view kNotWritten = "Transcript not written";

std::string inQuotes(std::string_view name) {
    std::string text;
    text.reserve(name.size() + 2);
    text.append(1, '"').append(name).append(1, '"');
    return text;
}

// The check box that raised an Action, and the window it works on.
struct BoxEvent {
    tk::Ref<tk::Window> window;
    bool checked;
};
BoxEvent boxEvent(tk::Object* me) {
    tk::SelfAndMe sm = tk::RuntimeSwapSelfAndMe(me);
    tk::Ref<tk::CheckBox> box = tk::RuntimeNotNil(
        tk::RuntimeCheckCast<tk::CheckBox>(sm.me, tk::CheckBox::__Lookup()), "The check box");
    return {sm.self, box->Value()};
}

}  // namespace

void Window1::__ctblinit() {
    if (g_record)
        return;
    tk::RuntimeRegisterClass(kClassName, &tk::Window::__Lookup(), [](tk::ClassRecord& r) {
        g_record = &r;  // stored before it is filled, so look-ups while filling find it
        r.SetFactory([] { return std::make_unique<Window1>(); });
        r.SetInit(&Window1::__Init);
        r.SetExit(&Window1::__Exit);

        using W = Window1;
        r.AddMethod("Layout", "%%", tk::Invoke<W>(&W::Layout));
        r.AddMethod("CreateControls", "%%", tk::Invoke<W>(&W::CreateControls));
        r.AddMethod("_CreateControls0", "%%", tk::Invoke<W>(&W::_CreateControls0));
        r.AddMethod("BevelButton1_Action", "%%", tk::Invoke<W>(&W::BevelButton1_Action));
        r.AddMethod("TimecodeBox_Action", "%%", tk::Invoke<W>(&W::TimecodeBox_Action));
        r.AddMethod("LineBox_Action", "%%", tk::Invoke<W>(&W::LineBox_Action));
        r.AddMethod("ParagraphBox_Action", "%%", tk::Invoke<W>(&W::ParagraphBox_Action));
        r.AddMethod("BevelButton3_Action", "%%", tk::Invoke<W>(&W::BevelButton3_Action));
        r.AddMethod("BevelButton2_Action", "%%", tk::Invoke<W>(&W::BevelButton2_Action));
        r.AddMethod("EditMenu", "%o<MenuItem>%", tk::Invoke<W>(&W::EditMenu));
        r.AddMethod("EditSelectAll", "%o<MenuItem>%", tk::Invoke<W>(&W::EditSelectAll));
        r.AddMethod("UntitledMenu0", "%o<MenuItem>%", tk::Invoke<W>(&W::UntitledMenu0));
        r.AddMethod("EditClear", "%o<MenuItem>%", tk::Invoke<W>(&W::EditClear));
        r.AddMethod("EditPaste", "%o<MenuItem>%", tk::Invoke<W>(&W::EditPaste));
        r.AddMethod("EditCopy", "%o<MenuItem>%", tk::Invoke<W>(&W::EditCopy));
        r.AddMethod("EditCut", "%o<MenuItem>%", tk::Invoke<W>(&W::EditCut));
        r.AddMethod("UntitledMenu1", "%o<MenuItem>%", tk::Invoke<W>(&W::UntitledMenu1));
        r.AddMethod("EditUndo", "%o<MenuItem>%", tk::Invoke<W>(&W::EditUndo));
        r.AddMethod("FileMenu", "%o<MenuItem>%", tk::Invoke<W>(&W::FileMenu));
        r.AddMethod("FileNewWindow", "%o<MenuItem>%", tk::Invoke<W>(&W::FileNewWindow));
        r.AddMethod("FileQuit", "%o<QuitMenuItem>%", tk::Invoke<W>(&W::FileQuit));
        r.AddMethod("Event_EnableMenuItems", "%%", tk::Invoke<W>(&W::Event_EnableMenuItems));
        r.AddMethod("importSCC", "%%", tk::Invoke<W>(&W::importSCC));
        // Methods with parameters are listed for introspection; they are called directly.
        r.AddMethod("timecodeToSecondsSCC", "%s%s");
        r.AddMethod("returnTimecode", "%s%f8");
        r.AddMethod("convertSCC2Letters", "%s%s");
        r.AddMethod("timeCodeToSeconds", "%s%s");
        r.AddMethod("doTranscTimecode", "%%", tk::Invoke<W>(&W::doTranscTimecode));

        r.BindEvent("Layout", "Layout");
        r.BindEvent("CreateControls", "CreateControls");
        r.BindEvent("EnableMenuItems", "Event_EnableMenuItems");

        r.DeclareProperty("captionArray2", "A1s");
        r.DeclareProperty("timeCodeArray", "A1s");
        r.DeclareProperty("fileName", "s");

        r.DeclareMember("BevelButton1", "%o<BevelButton>%s");
        r.DeclareMember("TimecodeBox", "%o<CheckBox>%s");
        r.DeclareMember("LineBox", "%o<CheckBox>%s");
        r.DeclareMember("ParagraphBox", "%o<CheckBox>%s");
        r.DeclareMember("StaticText1", "%o<StaticText>%s");
        r.DeclareMember("ProgressBar1", "%o<ProgressBar>%s");
        r.DeclareMember("ProgressText", "%o<StaticText>%s");
        r.DeclareMember("RadioButton1", "%o<RadioButton>%s");
        r.DeclareMember("RadioButton2", "%o<RadioButton>%s");
        r.DeclareMember("BevelButton3", "%o<BevelButton>%s");
        r.DeclareMember("BevelButton2", "%o<BevelButton>%s");
        r.DeclareMember("Canvas1", "%o<Canvas>%s");
    });
}

const tk::ClassRecord& Window1::__Lookup() {
    if (!g_record)
        __ctblinit();
    return *g_record;
}

void Window1::__Init(tk::Object& o) {
    auto& w = static_cast<Window1&>(o);
    w.captionArray2 = tk::StringList();
    w.timeCodeArray = tk::StringList();
}

void Window1::__Exit(tk::Object& o) {
    auto& w = static_cast<Window1&>(o);
    w.captionArray2 = tk::StringList();
    w.timeCodeArray = tk::StringList();
    w.fileName.clear();
}

tk::Ref<tk::Window> Window1::self() {
    return std::static_pointer_cast<tk::Window>(shared_from_this());
}

void Window1::Layout() {
    SetMenuBar(tk::RuntimeNotNil(implicit::MenuBar1(), "The menu bar"));
    tk::_SetProperties(*this, layout::WindowList());
}

void Window1::CreateControls() { tk::RuntimeInvokeMethod(*this, "_CreateControls0"); }

void Window1::_CreateControls0() {
    const tk::Ref<tk::Window> window = self();
    for (const layout::ControlLayout& spec : layout::Controls()) {
        const tk::ClassRecord& cls = controlClass(spec.className);
        {
            tk::Ref<tk::RectControl> fresh = tk::Window::__New(window, cls);
            fresh->Constructor();
            _AddControl(spec.name, fresh);
        }
        if (spec.name == "Canvas1") {
            // The picture goes on before the canvas's own properties, its size included.
            control<tk::Canvas>(window, spec.name, cls)->SetBackdrop(_x_Quillet::Quillet());
        }
        tk::_SetProperties(*control<tk::RectControl>(window, spec.name, cls), spec.encoded);

        if (!spec.actionHandler.empty()) {
            tk::Ref<tk::RectControl> target = control<tk::RectControl>(window, spec.name, cls);
            tk::_InstallInstanceEventHandler(
                target, "Action", tk::RuntimeCreateDelegate(window, spec.actionHandler, "(  )"));
        }
    }
}

void Window1::BevelButton1_Action(tk::Object* me) {
    tk::SelfAndMe sm = tk::RuntimeSwapSelfAndMe(me);
    tk::RuntimeInvokeMethod(*tk::RuntimeNotNil(sm.self, "The window"), "importSCC");
}

// The three boxes always stand as: "Include Timecode" and "Line by line form", only
// "Line by line form", or only "Paragraph form". A box is set whatever its present value.
void Window1::TimecodeBox_Action(tk::Object* me) {
    BoxEvent e = boxEvent(me);
    if (e.checked) {
        checkBox(e.window, "ParagraphBox")->SetValue(false);
        checkBox(e.window, "LineBox")->SetValue(true);
    }
}

void Window1::LineBox_Action(tk::Object* me) {
    BoxEvent e = boxEvent(me);
    if (e.checked) {
        checkBox(e.window, "ParagraphBox")->SetValue(false);
        checkBox(e.window, "TimecodeBox")->SetValue(true);
    } else {
        checkBox(e.window, "ParagraphBox")->SetValue(true);
        checkBox(e.window, "TimecodeBox")->SetValue(false);
    }
}

void Window1::ParagraphBox_Action(tk::Object* me) {
    BoxEvent e = boxEvent(me);
    if (e.checked) {
        checkBox(e.window, "LineBox")->SetValue(false);
        checkBox(e.window, "TimecodeBox")->SetValue(false);
    } else {
        checkBox(e.window, "LineBox")->SetValue(true);
    }
}

void Window1::BevelButton3_Action(tk::Object* me) {
    tk::RuntimeSwapSelfAndMe(me);
    tk::MsgBox(kKeepSccHelp);
}

void Window1::BevelButton2_Action(tk::Object* me) {
    tk::RuntimeSwapSelfAndMe(me);
    tk::MsgBox(kUnbufferedHelp);
}

tk::Ref<tk::MenuItem> Window1::menuItem(std::string_view name) {
    tk::Ref<tk::MenuBar> bar = tk::RuntimeNotNil(MenuBar(), "The window's menu bar");
    return tk::RuntimeCheckCast<tk::MenuItem>(bar->_Lookup(name), tk::MenuItem::__Lookup());
}

tk::Ref<tk::MenuItem> Window1::EditMenu() { return menuItem("EditMenu"); }
tk::Ref<tk::MenuItem> Window1::EditSelectAll() { return menuItem("EditSelectAll"); }
tk::Ref<tk::MenuItem> Window1::UntitledMenu0() { return menuItem("UntitledMenu0"); }
tk::Ref<tk::MenuItem> Window1::EditClear() { return menuItem("EditClear"); }
tk::Ref<tk::MenuItem> Window1::EditPaste() { return menuItem("EditPaste"); }
tk::Ref<tk::MenuItem> Window1::EditCopy() { return menuItem("EditCopy"); }
tk::Ref<tk::MenuItem> Window1::EditCut() { return menuItem("EditCut"); }
tk::Ref<tk::MenuItem> Window1::UntitledMenu1() { return menuItem("UntitledMenu1"); }
tk::Ref<tk::MenuItem> Window1::EditUndo() { return menuItem("EditUndo"); }
tk::Ref<tk::MenuItem> Window1::FileMenu() { return menuItem("FileMenu"); }
tk::Ref<tk::MenuItem> Window1::FileNewWindow() { return menuItem("FileNewWindow"); }

tk::Ref<tk::QuitMenuItem> Window1::FileQuit() {
    tk::Ref<tk::MenuBar> bar = tk::RuntimeNotNil(MenuBar(), "The window's menu bar");
    return tk::RuntimeCheckCast<tk::QuitMenuItem>(bar->_Lookup("FileQuit"), tk::QuitMenuItem::__Lookup());
}

void Window1::Event_EnableMenuItems() {}

void Window1::importSCC() {
    // During the conversion's own turns of the event loop the button can be pressed
    // again; a second conversion would empty the lists under the first.
    if (converting_)
        return;
    converting_ = true;
    struct EndConversion {
        Window1& w;
        ~EndConversion() {
            w.converting_ = false;
            w.sourcePath_.clear();
        }
    } end{*this};
    // Held to the end: closing the window during a turn must not release it under us.
    const tk::Ref<tk::Window> window = self();

    // The file the failure messages name: the one chosen, also when the failure comes
    // before it is open and `fileName` still holds the previous file's name.
    std::string chosen;
    try {
        tk::Ref<tk::RegEx> rg = std::make_shared<tk::RegEx>();
        captionArray2.RemoveAll();
        timeCodeArray.RemoveAll();
        rg->SetSearchPattern(".scc");

        const tk::Ref<tk::FolderItem> f = tk::GetOpenFolderItem("text/scc");
        if (!f)
            return;
        chosen = f->Name();
        if (!rg->Search(f->Name())) {
            tk::MsgBox("This file does not have the .scc extension.");
            return;
        }
        std::string reason;
        tk::Ref<tk::TextInputStream> in = f->OpenAsTextFile(reason);
        if (!in) {
            tk::MsgBox("The file " + inQuotes(f->Name()) + " could not be opened: " + reason + ".");
            return;
        }

        fileName = f->Name();
        sourcePath_ = f->Path();
        progressText(*window).SetVisible(true);
        progressText(*window).SetText("Reading SCC File...");
        progressBar(*window).SetValue(0);
        progressBar(*window).SetMaximum(kProgressMaximum);

        readAndDecode(*in);
    } catch (const ConversionAbandoned&) {
        // The window is gone; there is no one left to tell.
    } catch (const std::bad_alloc&) {
        tk::MsgBox(chosen.empty() ? std::string("There is not enough memory to choose a file.")
                                  : "There is not enough memory to convert " + inQuotes(chosen) + ".");
    } catch (const tk::IOException& e) {
        tk::MsgBox(e.what());
    } catch (const std::exception& e) {
        tk::MsgBox(chosen.empty() ? std::string("The file could not be chosen: ") + e.what()
                                  : "The conversion of " + inQuotes(chosen) + " stopped: " + e.what());
    }
}

void Window1::readAndDecode(tk::TextInputStream& in) {
    // Besides the turn after every line read and every caption line worked, one now and
    // then inside a huge line, so that the window stays live whatever the lines' lengths.
    const std::function<void()> withinLine = [this] { backgroundTask(); };
    SccLines sccLines = readSccLines([&](std::string& text) { in.AppendLine(text, withinLine); },
                                     [&] { return in.Eof(); }, [this] { backgroundTask(); });
    const CaptionLineHooks hooks{
        [this](std::int32_t value) {
            progressBar(*this).SetValue(value);
            progressBar(*this).Refresh();
        },
        [this] { return controlOnce<tk::RadioButton>(*this, "RadioButton1", tk::RadioButton::__Lookup()).Value(); },
        [this] { backgroundTask(); },
        withinLine,
    };
    if (decodeCaptionLines(sccLines, timeCodeArray, captionArray2, hooks) == CaptionLinesEnd::NoTimecode) {
        tk::MsgBox("There does not appear to be any timecode in this file.");
        return;
    }
    in.Close();
    // Every line has been worked; the transcript needs the memory more.
    sccLines.Release();
    doTranscTimecode();
}

void Window1::backgroundTask() {
    tk::RuntimeBackgroundTask();
    // Quit closes the windows first, so a closed window covers both; the system's
    // request to end is heard at once, before the windows have closed.
    if (!IsOpen() || tk::RuntimeTerminationRequested())
        throw ConversionAbandoned{};
}

std::string Window1::timecodeToSecondsSCC(std::string_view timecode) {
    return quillet::timecodeToSecondsSCC(timecode);
}

std::string Window1::returnTimecode(double seconds) { return quillet::returnTimecode(seconds); }

std::string Window1::convertSCC2Letters(std::string_view unit) { return quillet::convertSCC2Letters(unit); }

std::string Window1::timeCodeToSeconds(std::string_view timecode) {
    return quillet::timeCodeToSeconds(timecode);
}

void Window1::doTranscTimecode() {
    cleanCaptions();
    const std::string body = assembleTranscript();

    const std::string proposed = proposedTranscriptName(fileName);
    const tk::Ref<tk::FolderItem> target = tk::GetSaveFolderItem("TEXT", proposed);
    if (tk::RuntimeTerminationRequested())
        throw ConversionAbandoned{};
    if (target && !writeTranscript(target, body)) {
        endRequest(kNotWritten);
        return;
    }
    endRequest(kDoneWriting);
}

bool Window1::writeTranscript(const tk::Ref<tk::FolderItem>& target, const std::string& body) {
    std::error_code error;
    if (!sourcePath_.empty() && std::filesystem::equivalent(target->Path(), sourcePath_, error)) {
        tk::MsgBox("The transcript cannot replace " + inQuotes(fileName) +
                   ", the SCC file it is made from. Please choose another name for it.");
        return false;
    }
    // Once begun, a file is finished even if the window closes meanwhile; but when the
    // system asks the program to end (a logout), there may be no time for that, so the
    // file is abandoned and the old one keeps every byte.
    const auto turn = [] {
        tk::RuntimeBackgroundTask();
        if (tk::RuntimeTerminationRequested())
            throw ConversionAbandoned{};
    };
    try {
        const tk::Ref<tk::TextOutputStream> out = target->CreateTextFile();
        // A reader that stops reading (a FIFO's) holds the write up: the window stays
        // live meanwhile, and closing it ends the write where it stands.
        out->SetWaitingHook([this] { backgroundTask(); });
        out->WriteLine(transcriptTitle(fileName));
        out->WriteLine("");
        // The body's line, a megabyte at a time with a turn of the event loop between:
        // the window stays live while a long transcript goes to disk.
        constexpr std::size_t kPiece = std::size_t{1} << 20;
        for (std::size_t at = 0; at < body.size(); at += kPiece) {
            out->Write(std::string_view(body).substr(at, kPiece));
            turn();
        }
        out->WriteLine("");
        turn();
        out->Close();
        tk::RuntimeBackgroundTask();
    } catch (const tk::IOException& e) {
        tk::MsgBox(e.what());
        return false;
    }
    return true;
}

void Window1::endRequest(std::string_view status) {
    progressText(*this).SetText(status);
    progressBar(*this).SetValue(0);
    captionArray2.RemoveAll();
    tk::RuntimeBackgroundTask();  // letting go of a large file's captions takes a while
    timeCodeArray.RemoveAll();
}

void Window1::cleanCaptions() { quillet::cleanCaptions(captionArray2, [this] { backgroundTask(); }); }

std::string Window1::assembleTranscript() {
    const LayoutSettings settings{
        [this] { return controlOnce<tk::CheckBox>(*this, "TimecodeBox", tk::CheckBox::__Lookup()).Value(); },
        [this] { return controlOnce<tk::CheckBox>(*this, "ParagraphBox", tk::CheckBox::__Lookup()).Value(); },
        [this] { backgroundTask(); },
    };
    return quillet::assembleTranscript(captionArray2, timeCodeArray, settings);
}

namespace implicit {

tk::Ref<quillet::Window1> Window1() {
    const tk::ClassRecord& cls = quillet::Window1::__Lookup();
    tk::Ref<tk::Window> w = tk::_GetImplicitWindow(quillet::Window1::kClassName);
    if (!w) {
        tk::Ref<tk::Window> fresh = tk::RuntimeNew<tk::Window>(cls);
        fresh->Constructor();  // raises Layout and CreateControls; becomes the implicit instance
        w = std::move(fresh);
    }
    return tk::RuntimeCheckCast<quillet::Window1>(w, cls);
}

}  // namespace implicit
}  // namespace quillet
