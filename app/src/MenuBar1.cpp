#include "app/MenuBar1.h"

#include <string_view>

#include "toolkit/Exceptions.h"

namespace quillet {

tk::Ref<MenuBar1> MenuBar1::_implicitInstance;

namespace {

tk::ClassRecord* g_record = nullptr;

struct MenuRow {
    std::string_view name;
    bool quitItem;
    std::string_view text;
    std::string_view shortcut;  // empty: none
    std::string_view menu;      // the menu it goes in; empty: the bar itself
};

// Creation order is display order: File before Edit, each menu's items top to bottom.
constexpr MenuRow kFileMenu[] = {
    {"FileMenu", false, "&File", "", ""},
    {"FileQuit", true, "&Quit", "Cmd+Q", "FileMenu"},
    {"FileNewWindow", false, "New Window", "Cmd+N", "FileMenu"},
};
constexpr MenuRow kEditMenu[] = {
    {"EditMenu", false, "&Edit", "", ""},
    {"EditUndo", false, "&Undo", "Cmd+Z", "EditMenu"},
    {"UntitledMenu1", false, "-", "", "EditMenu"},
    {"EditCut", false, "Cu&t", "Cmd+X", "EditMenu"},
    {"EditCopy", false, "&Copy", "Cmd+C", "EditMenu"},
    {"EditPaste", false, "&Paste", "Cmd+V", "EditMenu"},
    {"EditClear", false, "&Delete", "", "EditMenu"},
    {"UntitledMenu0", false, "-", "", "EditMenu"},
    {"EditSelectAll", false, "Select &All", "Cmd+A", "EditMenu"},
};

template <std::size_t N>
void buildMenu(MenuBar1& bar, const MenuRow (&rows)[N]) {
    for (const MenuRow& row : rows) {
        const tk::ClassRecord& cls = row.quitItem ? tk::QuitMenuItem::__Lookup() : tk::MenuItem::__Lookup();
        tk::Ref<tk::MenuItem> item = tk::RuntimeNew<tk::MenuItem>(cls);
        item->Constructor();
        item->SetName(std::string(row.name));
        item->SetAutoEnable(true);
        item->SetText(std::string(row.text));
        if (!row.shortcut.empty())
            item->SetKeyboardShortcut(std::string(row.shortcut));
        if (row.menu.empty()) {
            bar.Append(item);
        } else {
            tk::Ref<tk::MenuItem> menu = bar.Child(row.menu);
            tk::RuntimeNotNil(menu, "Menu " + std::string(row.menu))->Append(item);
        }
    }
}

}  // namespace

void MenuBar1::__ctblinit() {
    if (g_record)
        return;
    tk::RuntimeRegisterClass(kClassName, &tk::MenuBar::__Lookup(), [](tk::ClassRecord& r) {
        g_record = &r;
        r.SetFactory([] { return std::make_unique<MenuBar1>(); });
        // Takes the place of the base's argument-less constructor in the table.
        r.AddMethod("Constructor", "%%", tk::Invoke<MenuBar1>(&MenuBar1::Constructor));
        r.AddMethod("Untitled0", "%%", tk::Invoke<MenuBar1>(&MenuBar1::Untitled0));
        r.AddMethod("Untitled1", "%%", tk::Invoke<MenuBar1>(&MenuBar1::Untitled1));
    });
}

const tk::ClassRecord& MenuBar1::__Lookup() {
    if (!g_record)
        __ctblinit();
    return *g_record;
}

void MenuBar1::Constructor() {
    Untitled0();
    Untitled1();
}

void MenuBar1::Untitled0() { buildMenu(*this, kFileMenu); }
void MenuBar1::Untitled1() { buildMenu(*this, kEditMenu); }

void MenuBar1::_implicitInstance_Exit() noexcept { _implicitInstance.reset(); }

namespace implicit {

tk::Ref<quillet::MenuBar1> MenuBar1() {
    if (!quillet::MenuBar1::_implicitInstance) {
        auto bar = tk::RuntimeNew<quillet::MenuBar1>(quillet::MenuBar1::__Lookup());
        bar->Constructor();
        // Stored only once both menus stand, so a failed build leaves no half bar behind.
        quillet::MenuBar1::_implicitInstance = std::move(bar);
    }
    return quillet::MenuBar1::_implicitInstance;
}

}  // namespace implicit
}  // namespace quillet
