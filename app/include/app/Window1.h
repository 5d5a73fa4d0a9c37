#pragma once
// The main window: its twelve controls, the output option rules, the two help buttons,
// the menu item accessors and the conversion methods. There is at most one main window
// at a time, the class's implicit instance; reach it through implicit::Window1().
#include <filesystem>
#include <string>
#include <string_view>

#include "toolkit/Controls.h"
#include "toolkit/FolderItem.h"
#include "toolkit/TextStreams.h"
#include "toolkit/Menus.h"
#include "toolkit/Runtime.h"
#include "toolkit/StringList.h"
#include "toolkit/Window.h"

namespace quillet {

class Window1 : public tk::Window {
public:
    static constexpr const char* kClassName = "Window1.Window1";

    // The class record, registered on first use.
    static const tk::ClassRecord& __Lookup();
    // Registers the class; a later call changes nothing.
    static void __ctblinit();

    // Shared by the import and the transcript writer; the window owns them for its life.
    tk::StringList captionArray2;
    tk::StringList timeCodeArray;
    std::string fileName;

    // Window events.
    void Layout();
    void CreateControls();
    void _CreateControls0();

    // Control Action handlers; `me` is the control that raised the event.
    void BevelButton1_Action(tk::Object* me);
    void TimecodeBox_Action(tk::Object* me);
    void LineBox_Action(tk::Object* me);
    void ParagraphBox_Action(tk::Object* me);
    void BevelButton3_Action(tk::Object* me);
    void BevelButton2_Action(tk::Object* me);

    // The menu bar's items, found by name through the window's menu bar.
    tk::Ref<tk::MenuItem> EditMenu();
    tk::Ref<tk::MenuItem> EditSelectAll();
    tk::Ref<tk::MenuItem> UntitledMenu0();
    tk::Ref<tk::MenuItem> EditClear();
    tk::Ref<tk::MenuItem> EditPaste();
    tk::Ref<tk::MenuItem> EditCopy();
    tk::Ref<tk::MenuItem> EditCut();
    tk::Ref<tk::MenuItem> UntitledMenu1();
    tk::Ref<tk::MenuItem> EditUndo();
    tk::Ref<tk::MenuItem> FileMenu();
    tk::Ref<tk::MenuItem> FileNewWindow();
    tk::Ref<tk::QuitMenuItem> FileQuit();
    // Leaves every item to the toolkit's auto-enable rule.
    void Event_EnableMenuItems();

    // The conversion.
    void importSCC();
    std::string timecodeToSecondsSCC(std::string_view timecode);
    std::string returnTimecode(double seconds);
    std::string convertSCC2Letters(std::string_view unit);
    std::string timeCodeToSeconds(std::string_view timecode);
    void doTranscTimecode();
    // The two stages of the transcript's text, run by doTranscTimecode: the captions
    // tidied in place, then the body laid out as the check boxes say.
    void cleanCaptions();
    std::string assembleTranscript();

    // The help texts of the two "?" buttons.
    static const char* const kUnbufferedHelp;  // BevelButton2, beside "Unbuffered timecode"
    static const char* const kKeepSccHelp;     // BevelButton3, beside "Keep SCC timecode"

private:
    void readAndDecode(tk::TextInputStream& in);
    // Gives the event loop its turn; ends the conversion when the window was closed
    // (also by Quit) during it.
    void backgroundTask();
    bool writeTranscript(const tk::Ref<tk::FolderItem>& target, const std::string& body);
    void endRequest(std::string_view status);

    tk::Ref<tk::Window> self();
    tk::Ref<tk::MenuItem> menuItem(std::string_view name);
    static void __Init(tk::Object& o);
    static void __Exit(tk::Object& o);

    bool converting_ = false;           // a conversion is running, maybe inside an event-loop turn
    std::filesystem::path sourcePath_;  // the SCC file being converted, never to be overwritten
};

namespace implicit {
// The main window, created (hidden) and constructed first when there is none. Never
// shows it.
tk::Ref<quillet::Window1> Window1();
}  // namespace implicit

}  // namespace quillet
