#include "toolkit/Menus.h"

#include <QAction>
#include <QKeySequence>
#include <QObject>

#include "QtText.h"
#include "RuntimeInternal.h"
#include "toolkit/Application.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Runtime.h"

namespace tk {
namespace {

Ref<MenuItem> Root(const MenuItem& item) {
    Ref<MenuItem> top;
    for (Ref<MenuItem> p = item.Parent(); p; p = p->Parent())
        top = p;
    return top;
}

void RegisterMenuItemMethods(ClassRecord& r) {
    r.AddMethod("Constructor", "%%", Invoke<MenuItem>(&MenuItem::Constructor));
    r.AddMethod("Append", "%%o<MenuItem>");
    r.AddMethod("Child", "%o<MenuItem>%s");
    r.AddMethod("_Lookup", "%o<MenuItem>%s");
    r.AddMethod("Trigger", "%%", Invoke<MenuItem>(&MenuItem::Trigger));
    r.DeclareProperty("Name", "s");
    r.DeclareProperty("Text", "s");
    r.DeclareProperty("KeyboardShortcut", "s");
    r.DeclareProperty("AutoEnable", "b");
    r.DeclareProperty("Enabled", "b");
}

}  // namespace

MenuItem::MenuItem() : action_(new QAction()) {
    SetClassRecord(&__Lookup());
    // The action calls back into this item only while the item lives: the item deletes
    // the action, and with it the connection.
    QObject::connect(action_, &QAction::triggered, action_, [this] {
        detail::Guarded([this] {
            // Holds the item (when shared) so a command that drops the menus cannot
            // destroy it in the middle of its own call.
            std::shared_ptr<Object> keep = weak_from_this().lock();
            Trigger();
        });
    });
}

MenuItem::~MenuItem() {
    QObject::disconnect(action_, nullptr, nullptr, nullptr);
    detail::DeleteQObjectSafely(action_);
}

const ClassRecord& MenuItem::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("MenuItem", nullptr, [](ClassRecord& r) {
        detail::DeclareConcrete<MenuItem>(r);
        RegisterMenuItemMethods(r);
    });
    return *record;
}

void MenuItem::SetName(std::string name) { name_ = std::move(name); Changed(); }

void MenuItem::SetText(std::string text) {
    text_ = std::move(text);
    action_->setText(detail::ToQt(text_));
    action_->setSeparator(IsSeparator());
    Changed();
}

void MenuItem::SetKeyboardShortcut(std::string shortcut) {
    shortcut_ = std::move(shortcut);
    action_->setShortcut(QKeySequence(detail::ToQt(QtShortcutText(shortcut_))));
    Changed();
}

void MenuItem::SetAutoEnable(bool on) {
    autoEnable_ = on;
    ApplyAutoEnable();
}

bool MenuItem::Enabled() const noexcept { return enabled_; }

void MenuItem::SetEnabled(bool on) {
    enabled_ = on;
    action_->setEnabled(on);
}

void MenuItem::Append(const Ref<MenuItem>& item) {
    if (!item)
        throw NilObjectException("A nil menu item cannot be appended to \"" + name_ + "\".");
    for (const MenuItem* p = this; p; p = p->Parent().get())
        if (p == item.get())
            throw RuntimeException("Menu item \"" + item->Name() + "\" cannot be appended inside itself.");
    if (Ref<MenuItem> old = item->Parent()) {
        auto& siblings = old->children_;
        for (auto it = siblings.begin(); it != siblings.end(); ++it) {
            if (it->get() == item.get()) {
                siblings.erase(it);
                break;
            }
        }
        old->Changed();
    }
    item->parent_ = std::static_pointer_cast<MenuItem>(shared_from_this());
    children_.push_back(item);
    Changed();
    if (Ref<MenuItem> root = Root(*this)) {
        if (auto* bar = dynamic_cast<MenuBar*>(root.get()))
            bar->RefreshEnabled();
    } else if (auto* bar = dynamic_cast<MenuBar*>(this)) {
        bar->RefreshEnabled();
    }
}

Ref<MenuItem> MenuItem::Item(std::size_t index) const {
    if (index >= children_.size())
        throw OutOfBoundsException("Menu \"" + name_ + "\" has no item " + std::to_string(index) + ".");
    return children_[index];
}

Ref<MenuItem> MenuItem::Child(std::string_view name) const {
    for (const Ref<MenuItem>& c : children_)
        if (c->name_ == name)
            return c;
    return nullptr;
}

Ref<MenuItem> MenuItem::_Lookup(std::string_view name) const {
    for (const Ref<MenuItem>& c : children_) {
        if (c->name_ == name)
            return c;
        if (Ref<MenuItem> found = c->_Lookup(name))
            return found;
    }
    return nullptr;
}

void MenuItem::Trigger() {
    if (Ref<Application> app = getAppObject())
        app->_HandleMenuCommand(name_);
}

std::string MenuItem::QtShortcutText(std::string_view shortcut) {
    // Written the Mac way; on this platform the command key is Ctrl and Option is Alt.
    std::string out;
    std::size_t start = 0;
    while (start <= shortcut.size()) {
        std::size_t plus = shortcut.find('+', start);
        // A trailing "+" is the key itself ("Cmd++").
        if (plus == start && plus + 1 == shortcut.size())
            plus = std::string_view::npos;
        std::string part(shortcut.substr(start, plus == std::string_view::npos ? std::string_view::npos : plus - start));
        const std::string lower = detail::AsciiLower(part);
        if (plus != std::string_view::npos) {
            if (lower == "cmd" || lower == "command")
                part = "Ctrl";
            else if (lower == "option" || lower == "opt")
                part = "Alt";
        }
        if (!out.empty())
            out += '+';
        out += part;
        if (plus == std::string_view::npos)
            break;
        start = plus + 1;
    }
    return out;
}

void MenuItem::Changed() {
    Ref<MenuItem> root = Root(*this);
    const MenuItem* top = root ? root.get() : this;
    if (const auto* bar = dynamic_cast<const MenuBar*>(top)) {
        ++const_cast<MenuBar*>(bar)->revision_;
        detail::MenuBarChanged(*bar);
    }
}

void MenuItem::ApplyAutoEnable() {
    if (autoEnable_) {
        bool on = !children_.empty() || dynamic_cast<const QuitMenuItem*>(this) != nullptr;
        if (!on) {
            Ref<Application> app = getAppObject();
            on = app && app->HasMenuHandler(name_);
        }
        enabled_ = on;
        action_->setEnabled(on);
    }
    for (const Ref<MenuItem>& c : children_)
        c->ApplyAutoEnable();
}

QuitMenuItem::QuitMenuItem() {
    SetClassRecord(&__Lookup());
    Action()->setMenuRole(QAction::QuitRole);
    SetAutoEnable(AutoEnable());
}

const ClassRecord& QuitMenuItem::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("QuitMenuItem", &MenuItem::__Lookup(), [](ClassRecord& r) {
        detail::DeclareConcrete<QuitMenuItem>(r);
    });
    return *record;
}

void QuitMenuItem::Trigger() { RuntimeQuit(); }

MenuBar::MenuBar() { SetClassRecord(&__Lookup()); }

MenuBar::~MenuBar() = default;

const ClassRecord& MenuBar::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("MenuBar", &MenuItem::__Lookup(), [](ClassRecord& r) {
        detail::DeclareConcrete<MenuBar>(r);
    });
    return *record;
}

void MenuBar::RefreshEnabled() { ApplyAutoEnable(); }

}  // namespace tk
