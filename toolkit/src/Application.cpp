#include "toolkit/Application.h"

#include "RuntimeInternal.h"
#include "toolkit/Menus.h"
#include "toolkit/Runtime.h"

namespace tk {

Application::Application() { SetClassRecord(&__Lookup()); }

Application::~Application() = default;

const ClassRecord& Application::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("Application", nullptr, [](ClassRecord& r) {
        detail::DeclareConcrete<Application>(r);
        // The operations an application subclass finds first in its own table.
        r.AddMethod("NewDocument", "%%");
        r.AddMethod("OpenDocument", "%%o<FolderItem>");
        r.AddMethod("DoEvents", "%%i4");
        r.AddMethod("_AddMenuHandler", "%%so<Delegate>");
        r.AddMethod("_AddPollableObject", "%%o<Object>");
        r.AddMethod("_RemovePollableObject", "%%o<Object>");
        r.AddMethod("AddTrayItem", "%%o<Object>");
        r.AddMethod("RemoveTrayItem", "%%o<Object>");
        r.AddMethod("YieldToNextThread", "%%");
        r.AddMethod("SleepCurrentThread", "%%i4");
        r.AddMethod("_DoSingleEvent", "%%");
        r.AddMethod("_EnableMenuItems", "%%", [](Object&, Object*) -> std::any {
            detail::RefreshAllMenus();
            return {};
        });
        r.AddMethod("_CallOpen", "%%", Invoke<Application>(&Application::_CallOpen));
        r.AddMethod("_HandleMenuCommand", "%b%s");
        r.AddMethod("_LoadPictureFromBundle", "%o<Picture>%s");
        r.AddMethod("_LoadBundleSound", "%o<Object>%s");
        r.AddMethod("__DependencyList", "%A1s%");
    });
    return *record;
}

void Application::SetMenuBar(Ref<tk::MenuBar> bar) {
    menuBar_ = std::move(bar);
    if (menuBar_)
        menuBar_->RefreshEnabled();
}

void Application::_AddMenuHandler(std::string itemName, Ref<Delegate> handler) {
    if (!handler)
        throw NilObjectException("A nil menu handler cannot be installed for \"" + itemName + "\".");
    handlers_[std::move(itemName)] = std::move(handler);
    detail::RefreshAllMenus();
}

bool Application::HasMenuHandler(std::string_view itemName) const {
    return handlers_.find(itemName) != handlers_.end();
}

bool Application::_HandleMenuCommand(std::string_view itemName) {
    auto it = handlers_.find(itemName);
    if (it == handlers_.end())
        return false;
    // Held here so that a handler that replaces itself does not pull the delegate away
    // from under its own call.
    Ref<Delegate> handler = it->second;
    return handler->InvokeBoolean(nullptr);
}

void Application::_CallOpen() {
    if (opened_)
        return;
    opened_ = true;
    if (const ClassRecord* cls = Class()) {
        if (const MethodEntry* handler = cls->EventHandler("Open")) {
            if (!handler->invoke)
                throw RuntimeException("The handler of \"Open\" cannot be called.");
            handler->invoke(*this, nullptr);
        }
    }
}

}  // namespace tk
