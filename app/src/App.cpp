#include "app/App.h"

#include "app/Window1.h"
#include "toolkit/Exceptions.h"

namespace quillet {
namespace {
tk::ClassRecord* g_record = nullptr;
}

void App::__ctblinit() {
    if (g_record)
        return;
    tk::RuntimeRegisterClass(kClassName, &tk::Application::__Lookup(), [](tk::ClassRecord& r) {
        g_record = &r;
        r.SetFactory([] { return std::make_unique<App>(); });
        r.AddMethod("_FileNewWindow_Action", "%b%", tk::Invoke<App>(&App::_FileNewWindow_Action));
        // The toolkit reports "the application has opened" through this event.
        r.AddMethod("Event_Open", "%%", tk::Invoke<App>(&App::Event_Open));
        r.BindEvent("Open", "Event_Open");
    });
}

const tk::ClassRecord& App::__Lookup() {
    if (!g_record)
        __ctblinit();
    return *g_record;
}

bool App::_FileNewWindow_Action() {
    tk::Ref<Window1> window = tk::RuntimeNotNil(implicit::Window1(), "The main window");
    window->Show();
    return false;
}

void App::Event_Open() { tk::RuntimeNotNil(implicit::Window1(), "The main window")->Show(); }

namespace implicit {

tk::Ref<quillet::App> App() {
    return tk::RuntimeCheckCast<quillet::App>(tk::getAppObject(), quillet::App::__Lookup());
}

tk::Ref<tk::MenuItem> FileNewWindow() {
    tk::Ref<quillet::App> app = tk::RuntimeNotNil(App(), "The application object");
    tk::Ref<tk::MenuBar> bar = tk::RuntimeNotNil(app->MenuBar(), "The application's menu bar");
    return tk::RuntimeCheckCast<tk::MenuItem>(bar->_Lookup("FileNewWindow"), tk::MenuItem::__Lookup());
}

}  // namespace implicit
}  // namespace quillet
