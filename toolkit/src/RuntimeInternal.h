#pragma once
// What the runtime's sources share and nobody else sees.
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "AsciiText.h"
#include "toolkit/Object.h"
#include "toolkit/PropertyList.h"
#include "toolkit/Runtime.h"

class QObject;

namespace tk {

class MenuBar;
class Window;

struct ObjectAccess {
    static void Stamp(Object& object, const ClassRecord* record) noexcept { object.class_ = record; }
};

namespace detail {

// Qt must never see a C++ exception unwind through its event dispatch, so every place
// where Qt calls into the toolkit runs the toolkit's code through Guarded: an escaping
// exception is reported and swallowed there. The depth also tells destructors that Qt
// is inside one of our widgets right now, so widgets must be deleted later, not now.
std::size_t& DispatchDepth() noexcept;

// RuntimeUnhandledException without the chance of throwing.
void ReportUnhandled(std::exception_ptr e) noexcept;

template <class F>
void Guarded(F&& f) noexcept {
    struct Depth {
        Depth() { ++DispatchDepth(); }
        ~Depth() { --DispatchDepth(); }
    } depth;
    try {
        std::forward<F>(f)();
    } catch (...) {
        ReportUnhandled(std::current_exception());
    }
}

// Deletes a QObject now, or on the next event-loop turn while Qt is dispatching.
void DeleteQObjectSafely(QObject* object) noexcept;

// Window bookkeeping (Window.cpp).
void WindowOpened(const Ref<Window>& window);
void WindowConstructionFailed(Window& window) noexcept;
void WindowClosed(Window& window);
void WindowReopened(Window& window);
void ReleaseWindowLists() noexcept;
// Rebuilds the Qt menus of every window showing `bar`.
void MenuBarChanged(const MenuBar& bar);
// Applies the auto-enable rule to the application's bar and every window's bar.
void RefreshAllMenus();

// Look-up caches of the class records (Runtime.cpp).
void ClearIntrospectionCaches() noexcept;

// A class record's type test for the C++ class T: every object that is a T passes.
template <class T>
std::function<bool(const Object&)> TypeTestFor() {
    return [](const Object& o) { return dynamic_cast<const T*>(&o) != nullptr; };
}

// A record whose objects are made as T and type-tested as T.
template <class T>
void DeclareConcrete(ClassRecord& r) {
    r.SetFactory([] { return std::make_unique<T>(); });
    r.SetTypeTest(TypeTestFor<T>());
}

// The layout properties a window or control was given, kept for code to read back
// (PropertyList.cpp): one entry per name, letter case ignored, holding the last value.
void StoreLayoutProperty(std::vector<PropertyEntry>& store, const PropertyEntry& entry);
const PropertyValue* FindLayoutProperty(const std::vector<PropertyEntry>& store, std::string_view name);

}  // namespace detail
}  // namespace tk
