#include "toolkit/Window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "QtText.h"
#include "RuntimeInternal.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Menus.h"
#include "toolkit/Runtime.h"

namespace tk {

struct WindowAccess {
    static void Closed(Window& w) { detail::WindowClosed(w); }
    static void SetOpen(Window& w, bool open) { w.open_ = open; }
    static void Rebuild(Window& w) { w.RebuildMenuBar(); }
};

namespace {

class WindowWidget : public QMainWindow {
public:
    Window* owner = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override {
        event->accept();
        if (Window* w = owner)
            detail::Guarded([w] { WindowAccess::Closed(*w); });
    }
};

struct WindowLists {
    std::map<std::string, Ref<Window>, std::less<>> implicit;
    std::vector<Ref<Window>> open;
    std::vector<Ref<Window>> closed;
    std::set<Window*> live;  // every Window object, for menu bar changes
    bool releaseScheduled = false;
};

// Never destroyed, like the rest of the runtime's state (see Runtime.cpp).
WindowLists& Lists() {
    static WindowLists* lists = new WindowLists;
    return *lists;
}

std::string ClassNameOf(const Window& w) {
    const ClassRecord* cls = w.Class();
    return cls ? cls->Name() : Window::__Lookup().Name();
}

void ReleaseClosedWindows() {
    WindowLists& l = Lists();
    l.releaseScheduled = false;
    std::vector<Ref<Window>> closing;
    closing.swap(l.closed);
    // `closing` goes out of scope here: windows nobody else holds are released now.
}

}  // namespace

struct Window::QtParts {
    QPointer<WindowWidget> widget;
    QWidget* client = nullptr;
    std::vector<QPointer<QMenu>> menus;
    // Context of every connection made for this window: destroyed with the Window, so
    // no Qt signal can reach a Window that is gone.
    QObject guard;
    bool fullScreen = false;
    bool hasBackColor = false;
    Color backColor{255, 255, 255};
};

// ---------------------------------------------------------------------------------------
// bookkeeping

namespace detail {

void WindowOpened(const Ref<Window>& window) {
    WindowLists& l = Lists();
    l.implicit[ClassNameOf(*window)] = window;
    if (std::find(l.open.begin(), l.open.end(), window) == l.open.end())
        l.open.push_back(window);
}

void WindowConstructionFailed(Window& window) noexcept {
    WindowLists& l = Lists();
    auto it = l.implicit.find(ClassNameOf(window));
    if (it != l.implicit.end() && it->second.get() == &window)
        l.implicit.erase(it);
    std::erase_if(l.open, [&](const Ref<Window>& w) { return w.get() == &window; });
}

void WindowClosed(Window& window) {
    if (!window.IsOpen())
        return;
    WindowLists& l = Lists();
    Ref<Window> keep = std::dynamic_pointer_cast<Window>(window.weak_from_this().lock());
    // Closed means closed for every caller, also for code that still holds the window and
    // for a later Show, which must list it again.
    WindowAccess::SetOpen(window, false);
    WindowConstructionFailed(window);  // forgets it as implicit instance and open window
    if (keep) {
        l.closed.push_back(std::move(keep));
        // Released on the next turn of the event loop, never inside the close event of
        // its own widget.
        if (!l.releaseScheduled && QCoreApplication::instance()) {
            l.releaseScheduled = true;
            QTimer::singleShot(0, QCoreApplication::instance(), [] { ReleaseClosedWindows(); });
        }
    }
}

void WindowReopened(Window& window) {
    WindowLists& l = Lists();
    Ref<Window> keep = std::dynamic_pointer_cast<Window>(window.weak_from_this().lock());
    if (!keep)
        return;
    std::erase_if(l.closed, [&](const Ref<Window>& w) { return w.get() == &window; });
    if (std::find(l.open.begin(), l.open.end(), keep) == l.open.end())
        l.open.push_back(keep);
}

void ReleaseWindowLists() noexcept {
    WindowLists& l = Lists();
    // Moved out first: a window's exit may look at the lists while it is released.
    auto implicit = std::move(l.implicit);
    auto open = std::move(l.open);
    auto closed = std::move(l.closed);
    l.implicit.clear();
    l.open.clear();
    l.closed.clear();
    implicit.clear();
    open.clear();
    closed.clear();
}

void MenuBarChanged(const MenuBar& bar) {
    for (Window* w : std::vector<Window*>(Lists().live.begin(), Lists().live.end()))
        if (w->MenuBar().get() == &bar)
            WindowAccess::Rebuild(*w);
}

void RefreshAllMenus() {
    if (Ref<Application> app = getAppObject())
        if (Ref<MenuBar> bar = app->MenuBar())
            bar->RefreshEnabled();
    for (Window* w : std::vector<Window*>(Lists().live.begin(), Lists().live.end()))
        if (Ref<MenuBar> bar = w->MenuBar())
            bar->RefreshEnabled();
}

}  // namespace detail

// ---------------------------------------------------------------------------------------
// Window

Window::Window() : qt_(new QtParts) {
    SetClassRecord(&__Lookup());
    qt_->widget = new WindowWidget;
    qt_->widget->owner = this;
    qt_->client = new QWidget;
    qt_->widget->setCentralWidget(qt_->client);
    qt_->widget->menuBar()->setVisible(false);
    ApplyFlags();
    ApplyGeometry();
    Lists().live.insert(this);
}

Window::~Window() {
    Lists().live.erase(this);
    if (qt_->widget)
        qt_->widget->owner = nullptr;
    controls_.clear();
    for (QPointer<QMenu>& m : qt_->menus)
        if (m)
            m->deleteLater();
    if (qt_->widget) {
        qt_->widget->hide();
        detail::DeleteQObjectSafely(qt_->widget.data());
    }
    delete qt_;
}

const ClassRecord& Window::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("Window", nullptr, [](ClassRecord& r) {
        detail::DeclareConcrete<Window>(r);
        r.AddMethod("Constructor", "%%", Invoke<Window>(&Window::Constructor));
        r.AddMethod("Show", "%%", Invoke<Window>(&Window::Show));
        r.AddMethod("Hide", "%%", Invoke<Window>(&Window::Hide));
        r.AddMethod("Close", "%%", Invoke<Window>(&Window::Close));
        r.AddMethod("__New", "%o<RectControl>%o<ClassRecord>");
        r.AddMethod("_AddControl", "%%so<RectControl>");
        r.AddMethod("MenuBar.Get", "%o<MenuBar>%");
        r.AddMethod("MenuBar.Set", "%%o<MenuBar>");
        for (const char* name : {"Placement", "Width", "Height", "MinWidth", "MinHeight", "MaxWidth", "MaxHeight",
                                 "Frame", "Left", "Top", "MacProcId"})
            r.DeclareProperty(name, "i4");
        for (const char* name : {"Composite", "HasBackColor", "Visible", "FullScreen", "MenuBarVisible",
                                 "CloseButton", "Resizeable", "LiveResize", "MaximizeButton", "MinimizeButton"})
            r.DeclareProperty(name, "b");
        r.DeclareProperty("BackColor", "c");
        r.DeclareProperty("Title", "s");
    });
    return *record;
}

void Window::Constructor() {
    if (constructed_ || constructing_)
        throw RuntimeException("The window is constructed already.");
    Ref<Window> self = std::dynamic_pointer_cast<Window>(weak_from_this().lock());
    if (!self)
        throw RuntimeException("A window must be held by a reference to be constructed.");
    constructing_ = true;
    open_ = true;
    // It becomes the implicit instance before its handlers run, so code in them that
    // asks for the instance finds this window instead of building another one.
    detail::WindowOpened(self);
    try {
        for (const char* event : {"Layout", "CreateControls"}) {
            if (const MethodEntry* handler = Class()->EventHandler(event)) {
                if (!handler->invoke)
                    throw RuntimeException(std::string("The handler of \"") + event + "\" cannot be called.");
                handler->invoke(*this, nullptr);
            }
        }
    } catch (...) {
        constructing_ = false;
        open_ = false;
        detail::WindowConstructionFailed(*this);
        throw;
    }
    constructing_ = false;
    constructed_ = true;
    if (visible_)
        Show();
}

Ref<RectControl> Window::__New(const Ref<Window>& window, const ClassRecord& controlClass) {
    if (!window)
        throw NilObjectException("A control cannot be created for a nil window.");
    if (!controlClass.IsA(RectControl::__Lookup()))
        throw IllegalCastException("Class " + controlClass.Name() + " is not a control.");
    Ref<RectControl> control = std::dynamic_pointer_cast<RectControl>(RuntimeNewObject(controlClass));
    if (!control)
        throw IllegalCastException("A new " + controlClass.Name() + " is not a control.");
    control->AttachTo(window);
    return control;
}

void Window::_AddControl(std::string name, const Ref<RectControl>& control) {
    if (!control)
        throw NilObjectException("A nil control cannot be added as \"" + name + "\".");
    if (ControlByName(name))
        throw RuntimeException("The window holds a control named \"" + name + "\" already.");
    Ref<Window> holder = control->Window();
    if (holder && holder.get() != this)
        throw RuntimeException("Control \"" + name + "\" belongs to another window.");
    if (!holder) {
        Ref<Window> self = std::dynamic_pointer_cast<Window>(weak_from_this().lock());
        if (!self)
            throw RuntimeException("A window must be held by a reference to hold controls.");
        control->AttachTo(self);
    }
    control->name_ = name;
    controls_.emplace_back(std::move(name), control);
}

Ref<RectControl> Window::ControlByName(std::string_view name) const {
    for (const auto& [key, control] : controls_)
        if (key == name)
            return control;
    return nullptr;
}

RectControl* Window::FindControl(std::string_view name) const noexcept {
    // Control names of one window mostly differ in length or at either end, so those are
    // compared before the whole text.
    for (const auto& [key, control] : controls_)
        if (key.size() == name.size() && (name.empty() || (key.front() == name.front() && key.back() == name.back())) &&
            std::string_view(key) == name)
            return control.get();
    return nullptr;
}

std::vector<Ref<RectControl>> Window::Controls() const {
    std::vector<Ref<RectControl>> out;
    for (const auto& entry : controls_)
        out.push_back(entry.second);
    return out;
}

void Window::Show() {
    visible_ = true;
    if (constructing_)
        return;  // shown when construction ends
    if (constructed_ && !open_) {
        open_ = true;
        detail::WindowReopened(*this);
    }
    if (!qt_->widget)
        return;
    if (menuBar_ && builtRevision_ != menuBar_->Revision())
        RebuildMenuBar();
    if (qt_->fullScreen)
        qt_->widget->showFullScreen();
    else
        qt_->widget->show();
    qt_->widget->raise();
    qt_->widget->activateWindow();
}

void Window::Hide() {
    visible_ = false;
    if (qt_->widget)
        qt_->widget->hide();
}

void Window::Close() {
    if (qt_->widget)
        qt_->widget->close();
    // A hidden window may not get a close event from Qt; it is closed all the same.
    detail::WindowClosed(*this);
}

bool Window::IsShown() const { return qt_->widget && qt_->widget->isVisible(); }

void Window::SetMenuBar(Ref<tk::MenuBar> bar) {
    menuBar_ = std::move(bar);
    RebuildMenuBar();
    if (menuBar_)
        menuBar_->RefreshEnabled();
}

void Window::EnableMenuItems() {
    if (const ClassRecord* cls = Class()) {
        if (const MethodEntry* handler = cls->EventHandler("EnableMenuItems"); handler && handler->invoke)
            handler->invoke(*this, nullptr);
    }
    if (menuBar_)
        menuBar_->RefreshEnabled();
}

void Window::SetTitle(std::string title) {
    title_ = std::move(title);
    if (qt_->widget)
        qt_->widget->setWindowTitle(detail::ToQt(title_));
}

void Window::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    positioned_ = true;
    ApplyGeometry();
}

void Window::SetVisible(bool visible) {
    if (visible)
        Show();
    else
        Hide();
}

const PropertyValue* Window::LayoutProperty(std::string_view name) const {
    return detail::FindLayoutProperty(layout_, name);
}

void Window::ApplyLayoutProperty(const PropertyEntry& e) {
    const std::string n = detail::AsciiLower(e.name);
    auto asInt = [&] { return std::get<std::int32_t>(e.value); };
    auto asBool = [&] { return std::get<bool>(e.value); };
    if (!detail::FindLayoutProperty(layout_, e.name) && !(Class() ? Class() : &__Lookup())->FindProperty(e.name))
        throw UnsupportedFormatException("Windows have no property \"" + e.name + "\".");
    try {
        if (n == "left") {
            left_ = asInt();
            positioned_ = true;
            ApplyGeometry();
        } else if (n == "top") {
            top_ = asInt();
            positioned_ = true;
            ApplyGeometry();
        } else if (n == "width") {
            width_ = std::max(0, asInt());
            ApplyGeometry();
        } else if (n == "height") {
            height_ = std::max(0, asInt());
            ApplyGeometry();
        } else if (n == "minwidth") {
            minWidth_ = std::max(0, asInt());
            ApplyGeometry();
        } else if (n == "minheight") {
            minHeight_ = std::max(0, asInt());
            ApplyGeometry();
        } else if (n == "maxwidth") {
            maxWidth_ = std::max(0, asInt());
            ApplyGeometry();
        } else if (n == "maxheight") {
            maxHeight_ = std::max(0, asInt());
            ApplyGeometry();
        } else if (n == "title") {
            SetTitle(std::get<std::string>(e.value));
        } else if (n == "visible") {
            SetVisible(asBool());
        } else if (n == "resizeable") {
            resizeable_ = asBool();
            ApplyFlags();
            ApplyGeometry();
        } else if (n == "closebutton") {
            closeButton_ = asBool();
            ApplyFlags();
        } else if (n == "minimizebutton") {
            minimizeButton_ = asBool();
            ApplyFlags();
        } else if (n == "maximizebutton") {
            maximizeButton_ = asBool();
            ApplyFlags();
        } else if (n == "menubarvisible") {
            menuBarVisible_ = asBool();
            RebuildMenuBar();
            ApplyGeometry();
        } else if (n == "fullscreen") {
            qt_->fullScreen = asBool();
        } else if (n == "hasbackcolor" || n == "backcolor") {
            if (n == "hasbackcolor")
                qt_->hasBackColor = asBool();
            else
                qt_->backColor = std::get<Color>(e.value);
            if (qt_->client) {
                qt_->client->setAutoFillBackground(qt_->hasBackColor);
                if (qt_->hasBackColor) {
                    QPalette pal = qt_->client->palette();
                    pal.setColor(QPalette::Window, QColor(qt_->backColor.red, qt_->backColor.green, qt_->backColor.blue));
                    qt_->client->setPalette(pal);
                }
            }
        }
        // "Placement" (0: where the platform puts new windows), "Frame", "Composite",
        // "LiveResize" and "MacProcId" are kept for code to read; they change nothing here.
    } catch (const std::bad_variant_access&) {
        throw UnsupportedFormatException("Window property \"" + e.name + "\" was given a value of another type.");
    }
    detail::StoreLayoutProperty(layout_, e);
}

QWidget* Window::Widget() const noexcept { return qt_->widget.data(); }

QWidget* Window::ClientArea() const noexcept { return qt_->client; }

void Window::ApplyGeometry() {
    WindowWidget* w = qt_->widget.data();
    if (!w)
        return;
    QWidget* client = qt_->client;
    if (!resizeable_) {
        client->setFixedSize(width_, height_);
        w->layout()->setSizeConstraint(QLayout::SetFixedSize);
    } else {
        w->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
        client->setMinimumSize(std::min(minWidth_, width_), std::min(minHeight_, height_));
        client->setMaximumSize(std::max(maxWidth_, width_), std::max(maxHeight_, height_));
        const int bar = (menuBar_ && menuBarVisible_) ? w->menuBar()->sizeHint().height() : 0;
        client->resize(width_, height_);
        w->resize(width_, height_ + bar);
    }
    if (positioned_)
        w->move(left_, top_);
}

void Window::ApplyFlags() {
    WindowWidget* w = qt_->widget.data();
    if (!w)
        return;
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
    if (closeButton_)
        flags |= Qt::WindowCloseButtonHint;
    if (minimizeButton_)
        flags |= Qt::WindowMinimizeButtonHint;
    if (maximizeButton_ && resizeable_)
        flags |= Qt::WindowMaximizeButtonHint;
    if (w->windowFlags() == flags)
        return;
    const bool wasVisible = w->isVisible();
    w->setWindowFlags(flags);  // hides the window; shown again below
    if (wasVisible)
        w->show();
}

void Window::RebuildMenuBar() {
    WindowWidget* w = qt_->widget.data();
    if (!w)
        return;
    QMenuBar* bar = w->menuBar();
    bar->clear();
    // Old menus may be the ones whose command is running right now.
    for (QPointer<QMenu>& m : qt_->menus)
        if (m)
            m->deleteLater();
    qt_->menus.clear();
    if (!menuBar_) {
        bar->setVisible(false);
        builtRevision_ = 0;
        return;
    }
    std::function<QMenu*(QWidget*, const Ref<MenuItem>&)> build = [&](QWidget* parent, const Ref<MenuItem>& item) {
        auto* menu = new QMenu(detail::ToQt(item->Text()), parent);
        qt_->menus.emplace_back(menu);
        QObject::connect(menu, &QMenu::aboutToShow, &qt_->guard, [this] {
            detail::Guarded([this] { EnableMenuItems(); });
        });
        for (std::size_t i = 0; i < item->Count(); ++i) {
            Ref<MenuItem> child = item->Item(i);
            if (child->Count() > 0)
                menu->addMenu(build(menu, child));
            else
                menu->addAction(child->Action());
        }
        return menu;
    };
    for (std::size_t i = 0; i < menuBar_->Count(); ++i)
        bar->addMenu(build(bar, menuBar_->Item(i)));
    bar->setVisible(menuBarVisible_);
    builtRevision_ = menuBar_->Revision();
}

// ---------------------------------------------------------------------------------------
// free functions

Ref<Window> _GetImplicitWindow(std::string_view className) {
    WindowLists& l = Lists();
    auto it = l.implicit.find(className);
    return it == l.implicit.end() ? nullptr : it->second;
}

Ref<RectControl> RuntimeWindowControlByName(const Ref<Window>& window, std::string_view name) {
    if (!window)
        throw NilObjectException("Control \"" + std::string(name) + "\" was looked up on a nil window.");
    return window->ControlByName(name);
}

Ref<RectControl> RuntimeWindowControlByName(const Window& window, std::string_view name) {
    return window.ControlByName(name);
}

std::vector<Ref<Window>> RuntimeOpenWindows() { return Lists().open; }

}  // namespace tk
