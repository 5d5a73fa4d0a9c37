#include "toolkit/Runtime.h"

#include <malloc.h>

#include <QApplication>
#include <QObject>
#include <QTimer>

#include <cstdlib>
#include <deque>
#include <iostream>
#include <map>
#include <new>
#include <tuple>

#include "RuntimeInternal.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/FileType.h"
#include "toolkit/FolderItem.h"
#include "toolkit/Menus.h"
#include "toolkit/Picture.h"
#include "toolkit/RegEx.h"
#include "toolkit/TextStreams.h"
#include "toolkit/Window.h"

namespace tk {

using detail::DeclareConcrete;
using detail::TypeTestFor;

namespace {

struct RuntimeState {
    // Records never move: callers keep pointers to them for the life of the process.
    std::deque<std::unique_ptr<ClassRecord>> records;
    std::map<std::string, ClassRecord*, std::less<>> byName;

    // The three introspection maps: look-up results per (class, name).
    std::map<std::pair<const ClassRecord*, std::string>, const MethodEntry*> methodCache;
    std::map<std::pair<const ClassRecord*, std::string>, const MethodEntry*> eventCache;
    std::map<std::pair<const ClassRecord*, std::string>, const PropertyDecl*> propertyCache;

    std::deque<PluginEntrypoint> entrypoints;
    PluginEntrypointsTable pluginTable;

    Ref<Application> app;
    std::size_t unhandled = 0;
    std::unique_ptr<QApplication> ownedQtApp;
    std::string initError;
};

// Never destroyed: at process exit the QApplication is gone, and nothing here may try
// to delete widgets then.
RuntimeState& State() {
    static RuntimeState* state = new RuntimeState;
    return *state;
}

void CheckClassFillable(const ClassRecord&) { detail::ClearIntrospectionCaches(); }

std::string TypeName(std::string_view code, std::size_t& pos) {
    if (pos >= code.size())
        throw RuntimeException("Signature code \"" + std::string(code) + "\" ends inside a type.");
    const char c = code[pos];
    auto take = [&](std::size_t n, const char* name) {
        pos += n;
        return std::string(name);
    };
    switch (c) {
    case 'b': return take(1, "Boolean");
    case 's': return take(1, "String");
    case 'c': return take(1, "Color");
    case 'i':
    case 'u':
    case 'f': {
        if (pos + 1 >= code.size())
            break;
        const std::string token(code.substr(pos, 2));
        static const std::map<std::string, const char*> names = {
            {"i1", "Int8"},   {"i2", "Int16"},  {"i4", "Integer"}, {"i8", "Int64"},
            {"u1", "UInt8"},  {"u2", "UInt16"}, {"u4", "UInt32"},  {"u8", "UInt64"},
            {"f4", "Single"}, {"f8", "Double"}};
        const auto it = names.find(token);
        if (it == names.end())
            break;
        return take(2, it->second);
    }
    case 'o': {
        if (pos + 1 < code.size() && code[pos + 1] == '<') {
            const std::size_t close = code.find('>', pos + 2);
            if (close == std::string_view::npos)
                break;
            std::string name(code.substr(pos + 2, close - pos - 2));
            pos = close + 1;
            return name;
        }
        return take(1, "Object");
    }
    case 'A': {
        // "A1s": a list of one dimension of the element type that follows.
        std::size_t p = pos + 1;
        while (p < code.size() && code[p] >= '0' && code[p] <= '9')
            ++p;
        if (p == pos + 1)
            break;
        pos = p;
        return TypeName(code, pos) + "()";
    }
    default:
        break;
    }
    throw RuntimeException("Signature code \"" + std::string(code) + "\" has an unknown type at " +
                           std::to_string(pos) + ".");
}

std::string KindOf(const std::exception& e) {
    if (const auto* rt = dynamic_cast<const RuntimeException*>(&e))
        return rt->Kind();
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return "OutOfMemoryException";
    return "RuntimeException";
}

void Report(const std::string& kind, const std::string& message) noexcept {
    RuntimeState& s = State();
    ++s.unhandled;
    try {
        std::cerr << "Unhandled " << kind << ": " << message << std::endl;
    } catch (...) {
    }
    try {
        MsgBox("An exception of class " + kind + " was not handled.\n\n" + message);
    } catch (...) {
        // The report is the last resort: a message box that fails must not take the
        // process down; standard error already has the report.
    }
}

struct NewObjectDeleter {
    bool initialised = false;
    void operator()(Object* object) const noexcept {
        if (initialised) {
            for (const ClassRecord* r = object->Class(); r; r = r->Parent()) {
                if (!r->Exit())
                    continue;
                try {
                    r->Exit()(*object);
                } catch (...) {
                    detail::ReportUnhandled(std::current_exception());
                }
            }
        }
        delete object;
    }
};

void RegisterToolkitClasses() {
    Application::__Lookup();
    Window::__Lookup();
    RectControl::__Lookup();
    CheckBox::__Lookup();
    RadioButton::__Lookup();
    BevelButton::__Lookup();
    StaticText::__Lookup();
    ProgressBar::__Lookup();
    Canvas::__Lookup();
    MenuItem::__Lookup();
    QuitMenuItem::__Lookup();
    MenuBar::__Lookup();
    Delegate::__Lookup();
    RuntimeInitExternalClasses();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// detail

namespace detail {

std::size_t& DispatchDepth() noexcept {
    static std::size_t depth = 0;
    return depth;
}

void ReportUnhandled(std::exception_ptr e) noexcept {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        Report(KindOf(ex), ex.what());
    } catch (...) {
        Report("RuntimeException", "An exception of unknown kind.");
    }
}

void DeleteQObjectSafely(QObject* object) noexcept {
    if (!object)
        return;
    if (DispatchDepth() > 0 || !QCoreApplication::instance())
        object->deleteLater();
    else
        delete object;
}

void ClearIntrospectionCaches() noexcept {
    RuntimeState& s = State();
    s.methodCache.clear();
    s.eventCache.clear();
    s.propertyCache.clear();
}

}  // namespace detail

// ---------------------------------------------------------------------------------------
// ClassRecord

std::optional<PropertyType> PropertyDecl::LayoutType() const {
    if (typeCode == "b")
        return PropertyType::Boolean;
    if (typeCode == "i4")
        return PropertyType::Integer;
    if (typeCode == "c")
        return PropertyType::Color;
    if (typeCode == "s")
        return PropertyType::String;
    return std::nullopt;
}

ClassRecord::ClassRecord(std::string name, const ClassRecord* parent)
    : name_(std::move(name)), parent_(parent) {
    if (parent_)
        methods_ = parent_->methods_;
}

ClassRecord& ClassRecord::SetFactory(Factory factory) {
    factory_ = std::move(factory);
    return *this;
}
ClassRecord& ClassRecord::SetInit(InstanceHook hook) {
    init_ = std::move(hook);
    return *this;
}
ClassRecord& ClassRecord::SetExit(InstanceHook hook) {
    exit_ = std::move(hook);
    return *this;
}
ClassRecord& ClassRecord::SetTypeTest(std::function<bool(const Object&)> test) {
    typeTest_ = std::move(test);
    return *this;
}

ClassRecord& ClassRecord::AddMethod(MethodEntry entry) {
    CheckClassFillable(*this);
    for (MethodEntry& m : methods_) {
        if (m.name == entry.name && m.signature == entry.signature) {
            m = std::move(entry);
            return *this;
        }
    }
    methods_.push_back(std::move(entry));
    return *this;
}

ClassRecord& ClassRecord::AddMethod(std::string name, std::string signature, Invoker invoke,
                                    bool isPublic) {
    return AddMethod(MethodEntry{std::move(name), std::move(signature), std::move(invoke), isPublic});
}

ClassRecord& ClassRecord::BindEvent(std::string event, std::string method) {
    CheckClassFillable(*this);
    for (EventBinding& b : events_) {
        if (b.event == event) {
            b.method = std::move(method);
            return *this;
        }
    }
    events_.push_back(EventBinding{std::move(event), std::move(method)});
    return *this;
}

ClassRecord& ClassRecord::DeclareProperty(std::string name, std::string typeCode, bool isPublic) {
    CheckClassFillable(*this);
    properties_.push_back(PropertyDecl{std::move(name), std::move(typeCode), isPublic});
    return *this;
}

ClassRecord& ClassRecord::DeclareMember(std::string name, std::string signature) {
    members_.push_back(MemberDecl{std::move(name), std::move(signature)});
    return *this;
}

const MethodEntry* ClassRecord::FindMethod(std::string_view name) const {
    RuntimeState& s = State();
    auto key = std::make_pair(this, std::string(name));
    if (auto it = s.methodCache.find(key); it != s.methodCache.end())
        return it->second;
    const MethodEntry* found = nullptr;
    for (const MethodEntry& m : methods_) {
        if (m.name == name) {
            found = &m;
            break;
        }
    }
    s.methodCache.emplace(std::move(key), found);
    return found;
}

const MethodEntry* ClassRecord::EventHandler(std::string_view event) const {
    RuntimeState& s = State();
    auto key = std::make_pair(this, std::string(event));
    if (auto it = s.eventCache.find(key); it != s.eventCache.end())
        return it->second;
    const MethodEntry* found = nullptr;
    for (const ClassRecord* r = this; r && !found; r = r->parent_) {
        for (const EventBinding& b : r->events_) {
            if (b.event == event) {
                // The handler is looked up in the most derived table, where an override
                // of the bound method would stand.
                found = FindMethod(b.method);
                if (!found)
                    found = r->FindMethod(b.method);
                break;
            }
        }
    }
    s.eventCache.emplace(std::move(key), found);
    return found;
}

const PropertyDecl* ClassRecord::FindProperty(std::string_view name) const {
    RuntimeState& s = State();
    const std::string lower = detail::AsciiLower(name);
    auto key = std::make_pair(this, lower);
    if (auto it = s.propertyCache.find(key); it != s.propertyCache.end())
        return it->second;
    const PropertyDecl* found = nullptr;
    for (const ClassRecord* r = this; r && !found; r = r->parent_) {
        for (const PropertyDecl& p : r->properties_) {
            if (detail::EqualsIgnoringAsciiCase(p.name, lower)) {
                found = &p;
                break;
            }
        }
    }
    s.propertyCache.emplace(std::move(key), found);
    return found;
}

const Factory& ClassRecord::NearestFactory() const {
    for (const ClassRecord* r = this; r; r = r->parent_)
        if (r->factory_)
            return r->factory_;
    return factory_;
}

bool ClassRecord::IsA(const ClassRecord& other) const noexcept {
    for (const ClassRecord* r = this; r; r = r->parent_)
        if (r == &other)
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------
// registry and objects

ClassRecord& RuntimeRegisterClass(std::string name, const ClassRecord* parent,
                                  const std::function<void(ClassRecord&)>& fill) {
    RuntimeState& s = State();
    if (auto it = s.byName.find(name); it != s.byName.end())
        return *it->second;
    if (name.empty())
        throw RuntimeException("A class cannot be registered without a name.");
    s.records.push_back(std::make_unique<ClassRecord>(name, parent));
    ClassRecord& record = *s.records.back();
    s.byName.emplace(std::move(name), &record);
    detail::ClearIntrospectionCaches();
    if (fill)
        fill(record);
    return record;
}

const ClassRecord* RuntimeFindClass(std::string_view name) {
    RuntimeState& s = State();
    auto it = s.byName.find(name);
    return it == s.byName.end() ? nullptr : it->second;
}

std::vector<const ClassRecord*> RuntimeRegisteredClasses() {
    std::vector<const ClassRecord*> out;
    for (const auto& r : State().records)
        out.push_back(r.get());
    return out;
}

Ref<Object> RuntimeNewObject(const ClassRecord& cls) {
    const Factory& factory = cls.NearestFactory();
    if (!factory)
        throw RuntimeException("Objects of class " + cls.Name() + " cannot be created.");
    std::unique_ptr<Object> made = factory();
    if (!made)
        throw RuntimeException("The factory of class " + cls.Name() + " made no object.");
    ObjectAccess::Stamp(*made, &cls);
    Ref<Object> object(made.release(), NewObjectDeleter{});
    std::vector<const ClassRecord*> chain;
    for (const ClassRecord* r = &cls; r; r = r->Parent())
        chain.push_back(r);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if ((*it)->Init())
            (*it)->Init()(*object);
    // Only an object whose initialisation completed has anything for its exits to undo.
    std::get_deleter<NewObjectDeleter>(object)->initialised = true;
    return object;
}

bool RuntimeIsA(const Object* object, const ClassRecord& cls) noexcept {
    if (!object)
        return false;
    if (const ClassRecord* own = object->Class(); own && own->IsA(cls))
        return true;
    return cls.TypeTest() && cls.TypeTest()(*object);
}

Ref<Object> RuntimeCheckCast(const Ref<Object>& object, const ClassRecord& cls) {
    if (!object)
        return nullptr;
    if (!RuntimeIsA(object.get(), cls)) {
        const ClassRecord* own = object->Class();
        throw IllegalCastException("An object of class " + (own ? own->Name() : std::string("Object")) +
                                   " is not a " + cls.Name() + ".");
    }
    return object;
}

std::any RuntimeInvokeMethod(Object& target, std::string_view method, Object* me) {
    const ClassRecord* cls = target.Class();
    if (!cls)
        throw RuntimeException("The object has no class record to find \"" + std::string(method) + "\" in.");
    const MethodEntry* entry = cls->FindMethod(method);
    if (!entry)
        throw RuntimeException("Class " + cls->Name() + " has no method \"" + std::string(method) + "\".");
    if (!entry->invoke)
        throw RuntimeException("Method " + cls->Name() + "." + entry->name + " cannot be called without arguments.");
    return entry->invoke(target, me);
}

// ---------------------------------------------------------------------------------------
// delegates

std::string SignatureTextFromCode(std::string_view code) {
    if (code.size() < 2 || code[0] != '%')
        throw RuntimeException("Signature code \"" + std::string(code) + "\" does not start with \"%\".");
    const std::size_t second = code.find('%', 1);
    if (second == std::string_view::npos)
        throw RuntimeException("Signature code \"" + std::string(code) + "\" has no second \"%\".");
    std::string params;
    std::size_t pos = second + 1;
    while (pos < code.size()) {
        if (!params.empty())
            params += ", ";
        params += TypeName(code, pos);
    }
    std::string text = params.empty() ? "(  )" : "( " + params + " )";
    std::size_t rpos = 1;
    if (second > 1) {
        const std::string_view result = code.substr(0, second);
        std::string name = TypeName(result, rpos);
        if (rpos != second)
            throw RuntimeException("Signature code \"" + std::string(code) + "\" has more than one result.");
        text += " as " + name;
    }
    return text;
}

Delegate::Delegate(std::weak_ptr<Object> target, MethodEntry method, std::string signatureText)
    : target_(std::move(target)), method_(std::move(method)), signature_(std::move(signatureText)) {
    SetClassRecord(&__Lookup());
}

const ClassRecord& Delegate::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("Delegate", nullptr, [](ClassRecord& r) {
        r.SetTypeTest(TypeTestFor<Delegate>());
    });
    return *record;
}

std::any Delegate::Invoke(Object* me) const {
    Ref<Object> target = target_.lock();
    if (!target)
        throw NilObjectException("The object of delegate " + method_.name + " is gone.");
    if (!method_.invoke)
        throw RuntimeException("Method " + method_.name + " cannot be called through a delegate.");
    return method_.invoke(*target, me);
}

bool Delegate::InvokeBoolean(Object* me) const {
    std::any result = Invoke(me);
    if (const bool* b = std::any_cast<bool>(&result))
        return *b;
    throw RuntimeException("Delegate " + method_.name + " did not return a Boolean.");
}

Ref<Delegate> RuntimeCreateDelegate(const Ref<Object>& target, const MethodEntry& method,
                                    std::string_view signatureText) {
    if (!target)
        throw NilObjectException("A delegate cannot be bound to a nil object.");
    const std::string expected = SignatureTextFromCode(method.signature);
    if (expected != signatureText)
        throw RuntimeException("Delegate signature \"" + std::string(signatureText) + "\" does not match method " +
                               method.name + ", which is \"" + expected + "\".");
    return std::make_shared<Delegate>(target, method, std::string(signatureText));
}

Ref<Delegate> RuntimeCreateDelegate(const Ref<Object>& target, std::string_view methodName,
                                    std::string_view signatureText) {
    if (!target)
        throw NilObjectException("A delegate cannot be bound to a nil object.");
    const ClassRecord* cls = target->Class();
    const MethodEntry* method = cls ? cls->FindMethod(methodName) : nullptr;
    if (!method)
        throw RuntimeException("No method \"" + std::string(methodName) + "\" in the class of the delegate's object.");
    return RuntimeCreateDelegate(target, *method, signatureText);
}

// ---------------------------------------------------------------------------------------
// plug-in entry points

PluginEntrypointsTable& RuntimeAllocatePluginEntrypointsTable(std::size_t count) {
    RuntimeState& s = State();
    s.pluginTable.assign(count, nullptr);
    return s.pluginTable;
}

const PluginEntrypoint* RuntimeLookupPluginEntrypoint(std::string_view signature) {
    RuntimeState& s = State();
    if (s.entrypoints.empty()) {
        RuntimeInitExternalClasses();
        for (const char* name : {"BevelButton", "RegEx", "RegExOptions", "RegExMatch"}) {
            const ClassRecord* cls = name == std::string_view("BevelButton") ? &BevelButton::__Lookup()
                                                                              : RuntimeFindClass(name);
            s.entrypoints.push_back(PluginEntrypoint{name, cls});
        }
    }
    for (const PluginEntrypoint& e : s.entrypoints)
        if (e.signature == signature)
            return &e;
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// the life of the process

void RuntimeInitExternalClasses() {
    RuntimeRegisterClass("FolderItem", nullptr, [](ClassRecord& r) { r.SetTypeTest(TypeTestFor<FolderItem>()); });
    RuntimeRegisterClass("TextInputStream", nullptr,
                         [](ClassRecord& r) { r.SetTypeTest(TypeTestFor<TextInputStream>()); });
    RuntimeRegisterClass("TextOutputStream", nullptr,
                         [](ClassRecord& r) { r.SetTypeTest(TypeTestFor<TextOutputStream>()); });
    RuntimeRegisterClass("FileType", nullptr, [](ClassRecord& r) { DeclareConcrete<FileType>(r); });
    RuntimeRegisterClass("Picture", nullptr, [](ClassRecord& r) { r.SetTypeTest(TypeTestFor<Picture>()); });
    RuntimeRegisterClass("RegEx", nullptr, [](ClassRecord& r) { DeclareConcrete<RegEx>(r); });
    RuntimeRegisterClass("RegExOptions", nullptr, [](ClassRecord& r) { DeclareConcrete<RegExOptions>(r); });
    RuntimeRegisterClass("RegExMatch", nullptr, [](ClassRecord& r) { r.SetTypeTest(TypeTestFor<RegExMatch>()); });
}

bool RuntimeInit(int& argc, char** argv) {
    RuntimeState& s = State();
    s.initError.clear();
    // Blocks of half a megabyte and more get pages of their own, which go back to the
    // system the moment they are freed. The allocator would otherwise start keeping them
    // once the first is freed, and a conversion that lets go of a file's lines block by
    // block, while its captions grow, would hold both.
    mallopt(M_MMAP_THRESHOLD, 512 * 1024);
    TextOutputStream::IgnoreBrokenPipeSignal();
    if (!QCoreApplication::instance()) {
        auto set = [](const char* name) {
            const char* v = std::getenv(name);
            return v && *v;
        };
        // Without a display Qt's platform plug-in aborts the process with a core dump;
        // find that out first so the caller can say so plainly.
        if (!set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
            s.initError = "no graphical display is available (neither DISPLAY nor WAYLAND_DISPLAY is set)";
            return false;
        }
        s.ownedQtApp = std::make_unique<QApplication>(argc, argv);
    } else if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        s.initError = "the running Qt application object cannot show widgets";
        return false;
    }
    RegisterToolkitClasses();
    return true;
}

bool RuntimeInit() {
    static int argc = 1;
    static char name[] = "quillet";
    static char* argv[] = {name, nullptr};
    return RuntimeInit(argc, argv);
}

const std::string& RuntimeInitError() { return State().initError; }

void RuntimeRun() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw RuntimeException("The runtime has not been started.");
    // The application opens as the first thing the loop does, so the main window is
    // shown from inside the loop that will serve it.
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        detail::Guarded([] {
            if (Ref<Application> app = getAppObject())
                app->_CallOpen();
        });
    });
    QApplication::exec();
}

void RuntimeQuit() {
    if (QCoreApplication::instance())
        QCoreApplication::quit();
}

void RuntimeUnhandledException(const std::exception& e) { Report(KindOf(e), e.what()); }

void RuntimeUnhandledException(std::exception_ptr e) {
    if (e)
        detail::ReportUnhandled(e);
}

std::size_t RuntimeUnhandledExceptionCount() noexcept { return State().unhandled; }

void RuntimeReleaseModuleObjects() {
    detail::ReleaseWindowLists();
    detail::ClearIntrospectionCaches();
}

int RuntimeExit() {
    RuntimeState& s = State();
    const int code = s.unhandled > 0 ? 1 : 0;
    RuntimeReleaseModuleObjects();
    s.app.reset();
    s.pluginTable.clear();
    if (s.ownedQtApp) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        s.ownedQtApp.reset();
    }
    s.unhandled = 0;
    return code;
}

// ---------------------------------------------------------------------------------------
// application object registration

void RuntimeRegisterAppObject(Ref<Application> app) {
    State().app = std::move(app);
    detail::RefreshAllMenus();
}

Ref<Application> getAppObject() { return State().app; }

}  // namespace tk
