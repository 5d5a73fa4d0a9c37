#pragma once
// The application's only menu bar: "&File" and "&Edit". One shared instance serves the
// application object and every main window.
#include "toolkit/Menus.h"
#include "toolkit/Runtime.h"

namespace quillet {

class MenuBar1 : public tk::MenuBar {
public:
    static constexpr const char* kClassName = "MenuBar1";

    static const tk::ClassRecord& __Lookup();
    static void __ctblinit();

    // Builds both menus: Untitled0 (File), then Untitled1 (Edit).
    void Constructor() override;
    void Untitled0();
    void Untitled1();

    // The module's reference to the shared instance; nil until first asked for.
    static tk::Ref<MenuBar1> _implicitInstance;
    // Drops the shared reference (shut-down).
    static void _implicitInstance_Exit() noexcept;
};

namespace implicit {
// The shared menu bar, created and built on the first call.
tk::Ref<quillet::MenuBar1> MenuBar1();
}  // namespace implicit

}  // namespace quillet
