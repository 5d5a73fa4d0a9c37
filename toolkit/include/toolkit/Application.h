#pragma once
// The application object: one per process, registered with the runtime. It holds the
// application's menu bar and the menu handlers bound by item name, and gets the "Open"
// event when the event loop starts. Qt-free header.
//
// "Open": bind it in the application subclass's class record, e.g.
//   r.AddMethod("Event_Open", "%%", tk::Invoke<App>(&App::Event_Open));
//   r.BindEvent("Open", "Event_Open");
// RuntimeRun raises it once for the registered object, as the first thing the event
// loop does; the main window is shown from there.
#include <map>
#include <string>
#include <string_view>

#include "toolkit/Object.h"

namespace tk {

class ClassRecord;
class Delegate;
class MenuBar;

class Application : public Object {
public:
    Application();
    ~Application() override;
    static const ClassRecord& __Lookup();

    Ref<tk::MenuBar> MenuBar() const { return menuBar_; }
    void SetMenuBar(Ref<tk::MenuBar> bar);

    // Binds the menu command of the item called `itemName` to `handler`, a delegate
    // returning Boolean (signature text "(  ) as Boolean"). A later handler for the
    // same name replaces the earlier one. A nil handler raises NilObjectException.
    void _AddMenuHandler(std::string itemName, Ref<Delegate> handler);
    bool HasMenuHandler(std::string_view itemName) const;
    // Runs the handler of that item name. Returns its Boolean result; false when there
    // is no handler. The result changes nothing else: no other handler exists to try.
    bool _HandleMenuCommand(std::string_view itemName);

    // Raises "Open" unless it was raised for this object already. RuntimeRun calls it.
    void _CallOpen();
    bool HasOpened() const noexcept { return opened_; }

private:
    Ref<tk::MenuBar> menuBar_;
    std::map<std::string, Ref<Delegate>, std::less<>> handlers_;
    bool opened_ = false;
};

// Registers the application object; from then on the runtime owns it (until
// RuntimeExit) and sends it the menu commands. Replaces an earlier one.
void RuntimeRegisterAppObject(Ref<Application> app);
// The registered application object, or nil.
Ref<Application> getAppObject();

}  // namespace tk
