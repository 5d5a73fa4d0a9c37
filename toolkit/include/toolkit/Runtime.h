#pragma once
// The runtime: class records and their registry, object creation, type-tested casts,
// delegates, plug-in entry points, and the life of the process (start, event loop,
// last-resort exception report, exit code). Qt-free: Qt stays behind the sources.
//
// How a window subclass uses it (the application's main window does exactly this):
//
//   class MyWindow : public tk::Window {
//   public:
//       tk::StringList lines;                       // a field that __Init would reset
//       void Layout();                              // handler of "Layout"
//       void CreateControls();                      // handler of "CreateControls"
//       void OkButton_Action();                     // handler of a control's Action
//   };
//
//   static tk::ClassRecord* gMyWindowRecord = nullptr;
//   const tk::ClassRecord& MyWindow__Lookup() {
//       if (gMyWindowRecord) return *gMyWindowRecord;
//       tk::RuntimeRegisterClass("MyWindow.MyWindow", &tk::Window::__Lookup(),
//           [](tk::ClassRecord& r) {
//               gMyWindowRecord = &r;               // stored before it is filled
//               r.SetFactory([] { return std::make_unique<MyWindow>(); });
//               r.SetInit([](tk::Object& o) { static_cast<MyWindow&>(o).lines.RemoveAll(); });
//               // The table starts as a copy of the parent's; own operations follow.
//               r.AddMethod("Layout", "%%", tk::Invoke<MyWindow>(&MyWindow::Layout));
//               r.AddMethod("CreateControls", "%%", tk::Invoke<MyWindow>(&MyWindow::CreateControls));
//               r.AddMethod("OkButton_Action", "%%", tk::Invoke<MyWindow>(&MyWindow::OkButton_Action));
//               r.BindEvent("Layout", "Layout");
//               r.BindEvent("CreateControls", "CreateControls");
//               r.DeclareProperty("lines", "A1s");
//               r.DeclareMember("OkButton", "%o<BevelButton>%s");
//           });
//       return *gMyWindowRecord;
//   }
//
//   // The implicit-instance accessor: the live window, or a new one built now.
//   tk::Ref<MyWindow> MyWindowInstance() {
//       tk::Ref<tk::Window> w = tk::_GetImplicitWindow("MyWindow.MyWindow");
//       if (!w) {
//           auto fresh = tk::RuntimeNew<tk::Window>(MyWindow__Lookup());   // __Init runs
//           fresh->Constructor();   // raises Layout, CreateControls; becomes the instance
//           w = fresh;
//       }
//       return tk::RuntimeCheckCast<MyWindow>(w, MyWindow__Lookup());
//   }
//
//   // Inside CreateControls: a control, its list, and its Action handler.
//   void MyWindow::CreateControls() {
//       auto self = std::static_pointer_cast<tk::Window>(shared_from_this());
//       auto c = tk::Window::__New(self, tk::BevelButton::__Lookup());
//       c->Constructor();
//       _AddControl("OkButton", c);
//       tk::_SetProperties(*c, kOkButtonList);
//       tk::_InstallInstanceEventHandler(c, "Action",
//           tk::RuntimeCreateDelegate(self, "OkButton_Action", "(  )"));
//   }
//   void MyWindow::OkButton_Action() { ... }
//
// A handler that needs the control that raised the event takes the invoker's `me`
// (see Invoker and RuntimeSwapSelfAndMe in Controls.h).
#include <any>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "toolkit/Exceptions.h"
#include "toolkit/Object.h"
#include "toolkit/PropertyList.h"

namespace tk {

// Calls an argument-less method on `self`. `me` is the object that raised the event the
// call answers (a control for an Action handler), or nullptr for a plain call. The
// result is empty for methods without one, a bool for "%b%" methods, a Ref<...> for
// object results.
using Invoker = std::function<std::any(Object& self, Object* me)>;

// An invoker for a member function of T without arguments: `void f()`, `bool f()`,
// `R f()` (the result is returned in the std::any), or `f(Object* me)`.
template <class T, class R>
Invoker Invoke(R (T::*method)()) {
    return [method](Object& self, Object*) -> std::any {
        T& target = dynamic_cast<T&>(self);
        if constexpr (std::is_void_v<R>) {
            (target.*method)();
            return {};
        } else {
            return std::any((target.*method)());
        }
    };
}
template <class T, class R>
Invoker Invoke(R (T::*method)(Object* me)) {
    return [method](Object& self, Object* me) -> std::any {
        T& target = dynamic_cast<T&>(self);
        if constexpr (std::is_void_v<R>) {
            (target.*method)(me);
            return {};
        } else {
            return std::any((target.*method)(me));
        }
    };
}

// One row of a class's method table. `signature` is the code: the result between the
// first two "%", the parameters after the second ("%%", "%b%", "%s%s",
// "%o<MenuItem>%"). Only argument-less methods need an invoker; a row without one can
// be listed and found but not called.
struct MethodEntry {
    std::string name;
    std::string signature;
    Invoker invoke;
    bool isPublic = true;
};

// A declared property: "A1s" a list of strings, "s" a string, "b" a Boolean, "i4" an
// Integer, "c" a Color, "o<Class>" an object.
struct PropertyDecl {
    std::string name;
    std::string typeCode;
    bool isPublic = true;
    // The layout property type for "b", "i4", "c" and "s"; nothing for other codes.
    std::optional<PropertyType> LayoutType() const;
};

// A declared member that is not in the method table (a window's control members:
// name and signature such as "%o<CheckBox>%s").
struct MemberDecl {
    std::string name;
    std::string signature;
};

struct EventBinding {
    std::string event;
    std::string method;
};

// Makes the C++ object of a class without running any runtime constructor.
using Factory = std::function<std::unique_ptr<Object>()>;
// Per-instance initialisation (after creation) and exit (when the last reference goes).
using InstanceHook = std::function<void(Object&)>;

// What the runtime knows of one class. Records live for the whole process at a fixed
// address; the registry owns them.
class ClassRecord {
public:
    ClassRecord(std::string name, const ClassRecord* parent);
    ClassRecord(const ClassRecord&) = delete;
    ClassRecord& operator=(const ClassRecord&) = delete;

    const std::string& Name() const noexcept { return name_; }
    const ClassRecord* Parent() const noexcept { return parent_; }

    // --- filling, while the class is registered ---
    ClassRecord& SetFactory(Factory factory);
    ClassRecord& SetInit(InstanceHook hook);
    ClassRecord& SetExit(InstanceHook hook);
    // Appends a row, or replaces in place the row of that name and signature (an
    // override keeps its parent's place in the table).
    ClassRecord& AddMethod(MethodEntry entry);
    ClassRecord& AddMethod(std::string name, std::string signature, Invoker invoke = {},
                           bool isPublic = true);
    ClassRecord& BindEvent(std::string event, std::string method);
    ClassRecord& DeclareProperty(std::string name, std::string typeCode, bool isPublic = true);
    ClassRecord& DeclareMember(std::string name, std::string signature);
    // A C++ type test for objects that were made without RuntimeNewObject (and so carry
    // no record): RuntimeIsA accepts an object without a record when this says yes.
    ClassRecord& SetTypeTest(std::function<bool(const Object&)> test);

    // --- what the runtime and its callers observe ---
    // The method table in order: a copy of the parent's at registration, then own rows.
    const std::vector<MethodEntry>& Methods() const noexcept { return methods_; }
    // The first row of that name (case-sensitive), or nullptr.
    const MethodEntry* FindMethod(std::string_view name) const;
    const std::vector<EventBinding>& EventBindings() const noexcept { return events_; }
    // The method bound to the event here or, failing that, in the nearest ancestor.
    const MethodEntry* EventHandler(std::string_view event) const;
    const std::vector<PropertyDecl>& Properties() const noexcept { return properties_; }
    // The property of that name here or in an ancestor; the name's letter case does not
    // matter ("MacProcID" finds a declared "MacProcId").
    const PropertyDecl* FindProperty(std::string_view name) const;
    const std::vector<MemberDecl>& Members() const noexcept { return members_; }
    // The nearest factory up the parent chain, or an empty one.
    const Factory& NearestFactory() const;
    const InstanceHook& Init() const noexcept { return init_; }
    const InstanceHook& Exit() const noexcept { return exit_; }
    // True when this is `other` or derives from it.
    bool IsA(const ClassRecord& other) const noexcept;
    const std::function<bool(const Object&)>& TypeTest() const noexcept { return typeTest_; }

private:
    std::string name_;
    const ClassRecord* parent_;
    std::vector<MethodEntry> methods_;
    std::vector<EventBinding> events_;
    std::vector<PropertyDecl> properties_;
    std::vector<MemberDecl> members_;
    Factory factory_;
    InstanceHook init_, exit_;
    std::function<bool(const Object&)> typeTest_;
};

// --- registry ---

// Registers a class and runs `fill` on its new record (the record is already findable
// while `fill` runs). A name that is registered already returns the existing record
// unchanged; `fill` does not run and `parent` is ignored.
ClassRecord& RuntimeRegisterClass(std::string name, const ClassRecord* parent,
                                  const std::function<void(ClassRecord&)>& fill = {});
// The record of that name, or nullptr.
const ClassRecord* RuntimeFindClass(std::string_view name);
// Every registered record, in registration order.
std::vector<const ClassRecord*> RuntimeRegisteredClasses();

// --- objects ---

// A new object of the class: the nearest factory makes it, the record is stamped on it,
// and the per-instance initialisations run, ancestors first. No constructor runs. When
// the last reference goes, the per-instance exits run, the class's own first.
// Throws RuntimeException when no class in the chain has a factory.
Ref<Object> RuntimeNewObject(const ClassRecord& cls);
template <class T>
Ref<T> RuntimeNew(const ClassRecord& cls) {
    Ref<T> typed = std::dynamic_pointer_cast<T>(RuntimeNewObject(cls));
    if (!typed)
        throw IllegalCastException("A new " + cls.Name() + " is not of the expected kind.");
    return typed;
}

// True when the object belongs to the class or a subclass; false for nil.
bool RuntimeIsA(const Object* object, const ClassRecord& cls) noexcept;
// The type-tested cast: nil stays nil; an object of another class raises
// IllegalCastException.
Ref<Object> RuntimeCheckCast(const Ref<Object>& object, const ClassRecord& cls);
template <class T, class U>
Ref<T> RuntimeCheckCast(const Ref<U>& object, const ClassRecord& cls) {
    Ref<Object> checked = RuntimeCheckCast(std::static_pointer_cast<Object>(object), cls);
    if (!checked)
        return nullptr;
    Ref<T> typed = std::dynamic_pointer_cast<T>(checked);
    if (!typed)
        throw IllegalCastException("The object is a " + cls.Name() + " but not of the expected kind.");
    return typed;
}

// Throws NilObjectException when `object` is nil; otherwise returns it.
template <class T>
const Ref<T>& RuntimeNotNil(const Ref<T>& object, std::string_view what = {}) {
    if (!object)
        throw NilObjectException(what.empty() ? std::string("A nil object was used.")
                                              : std::string(what) + " is nil.");
    return object;
}

// Calls an argument-less method of the target's class by name, through its method
// table. Nil target: NilObjectException; no such method or no invoker: RuntimeException.
std::any RuntimeInvokeMethod(Object& target, std::string_view method, Object* me = nullptr);

// --- delegates ---

// The signature text that a method's code reads as: "%%" is "(  )" (two spaces),
// "%b%" is "(  ) as Boolean". Parameters are listed inside "( ... )" by type name.
std::string SignatureTextFromCode(std::string_view code);

// A method bound to an object. The delegate does not keep its target alive: a call
// after the target is gone raises NilObjectException.
class Delegate : public Object {
public:
    Delegate(std::weak_ptr<Object> target, MethodEntry method, std::string signatureText);
    static const ClassRecord& __Lookup();

    const MethodEntry& Method() const noexcept { return method_; }
    const std::string& SignatureText() const noexcept { return signature_; }
    // The target, or nil when it is gone.
    Ref<Object> Target() const { return target_.lock(); }

    std::any Invoke(Object* me = nullptr) const;
    // For "as Boolean" delegates; a result that is not a bool raises RuntimeException.
    bool InvokeBoolean(Object* me = nullptr) const;

private:
    std::weak_ptr<Object> target_;
    MethodEntry method_;
    std::string signature_;
};

// Makes a delegate of `method` bound to `target`. The signature text must be the
// method's code read as text (SignatureTextFromCode); otherwise RuntimeException.
// A nil target raises NilObjectException.
Ref<Delegate> RuntimeCreateDelegate(const Ref<Object>& target, const MethodEntry& method,
                                    std::string_view signatureText);
// The same, finding the method by name in the target's own method table (missing:
// RuntimeException).
Ref<Delegate> RuntimeCreateDelegate(const Ref<Object>& target, std::string_view methodName,
                                    std::string_view signatureText);

// --- plug-in entry points ---

// An entry point is known by its signature text, the name of the class it reaches:
// "BevelButton", "RegEx", "RegExOptions", "RegExMatch". It gives that class's record,
// through which objects of it are made (RuntimeNewObject).
struct PluginEntrypoint {
    std::string signature;
    const ClassRecord* classRecord = nullptr;
};
using PluginEntrypointsTable = std::vector<const PluginEntrypoint*>;

// The runtime's table of `count` empty slots (replacing any earlier table).
PluginEntrypointsTable& RuntimeAllocatePluginEntrypointsTable(std::size_t count);
// The entry point of that signature text, or nullptr when the toolkit has none (the
// placard, disclosure-triangle and image-well controls do not exist here).
const PluginEntrypoint* RuntimeLookupPluginEntrypoint(std::string_view signature);

// --- the life of the process ---

// Starts the runtime: creates the QApplication unless one exists, registers the
// toolkit's classes. Returns false, creating nothing, when there is no graphical
// display to use (no QT_QPA_PLATFORM and neither DISPLAY nor WAYLAND_DISPLAY set);
// RuntimeInitError() then says why in one line. argc/argv must outlive the runtime.
bool RuntimeInit(int& argc, char** argv);
bool RuntimeInit();
const std::string& RuntimeInitError();

// Registers the class records of the toolkit's external classes (files, streams, file
// types, pictures, regular expressions). Safe to call more than once.
void RuntimeInitExternalClasses();

// Runs the event loop until the application quits. When it starts, the registered
// application object gets its "Open" event (once per object).
void RuntimeRun();
// Ends the event loop; RuntimeRun returns.
void RuntimeQuit();

// From here on SIGTERM, SIGHUP and SIGINT (a logout, a closed terminal, Ctrl-C) quit the
// program as RuntimeQuit does, from the event loop; RuntimeTerminationRequested() then
// tells long work to stop at its next turn. A second such signal before the program has
// ended removes the transcripts' temporary files and ends the process at once. Needs
// the runtime started; signals ignored at start-up stay ignored.
void RuntimeQuitOnTerminationSignals();
bool RuntimeTerminationRequested() noexcept;
// Test seam: forgets that a termination was requested.
void ClearTerminationRequestForTesting() noexcept;

// The last-resort report: shows the exception's kind and message once, in a message box
// and on standard error, then returns. Marks the run as failed for RuntimeExit.
void RuntimeUnhandledException(const std::exception& e);
void RuntimeUnhandledException(std::exception_ptr e);
// How many reports have been made since the runtime started (or since RuntimeExit).
std::size_t RuntimeUnhandledExceptionCount() noexcept;

// Releases the toolkit's list of implicit window instances, its two window lists (open
// windows and closed windows awaiting release) and its three introspection maps (the
// method, event-handler and property look-up caches). Windows no one else holds are
// released now, their per-instance exits running.
void RuntimeReleaseModuleObjects();

// Ends the runtime: releases the application object and whatever RuntimeRelease-
// ModuleObjects releases, destroys the QApplication if RuntimeInit made it, and returns
// the exit code: 0 after a normal run, 1 when an unhandled exception was reported.
// The runtime may be started again afterwards.
int RuntimeExit();

}  // namespace tk
