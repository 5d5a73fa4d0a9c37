#pragma once
// The application object: holds the shared menu bar, shows the main window once the
// application has opened, and answers "New Window".
#include "toolkit/Application.h"
#include "toolkit/Menus.h"
#include "toolkit/Runtime.h"

namespace quillet {

class App : public tk::Application {
public:
    static constexpr const char* kClassName = "App";

    static const tk::ClassRecord& __Lookup();
    static void __ctblinit();

    // "New Window": shows the main window, creating it first after it was closed.
    // Always returns False.
    bool _FileNewWindow_Action();
    // The application has opened: the hidden main window is shown.
    void Event_Open();
};

namespace implicit {
// The application object registered with the runtime, or nil before start-up made it.
tk::Ref<quillet::App> App();
// The "New Window" item of the application's menu bar. Raises NilObjectException when
// there is no application object or menu bar.
tk::Ref<tk::MenuItem> FileNewWindow();
}  // namespace implicit

}  // namespace quillet
