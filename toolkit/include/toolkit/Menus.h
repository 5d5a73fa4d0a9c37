#pragma once
// Menus: a MenuBar is a tree of MenuItems. Each item owns one Qt action, so one MenuBar
// object can serve the application and every window at once (each window builds its
// own Qt menu bar from the same tree and the same actions). Qt-free header.
//
// Choosing an item sends its Name to the application object's menu handlers
// (Application::_AddMenuHandler); a QuitMenuItem quits the application instead.
//
// Auto-enable rule (items whose AutoEnable is True): a menu (an item with children) is
// enabled, the quit item is enabled, and any other item is enabled exactly when the
// application object has a handler for its name. Items whose AutoEnable is False keep
// the state set with SetEnabled. The rule is applied when a menu opens (after the
// window's "EnableMenuItems" event) and whenever handlers or the tree change, so
// keyboard shortcuts follow it too.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Object.h"

class QAction;

namespace tk {

class ClassRecord;
class MenuBar;

class MenuItem : public Object {
public:
    MenuItem();
    ~MenuItem() override;
    static const ClassRecord& __Lookup();

    // The argument-less constructor of the runtime; the C++ constructor has done the work.
    virtual void Constructor() {}

    // The key by which code finds the item.
    const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name);
    // The visible text; "&" marks the mnemonic letter, "-" makes a separator.
    const std::string& Text() const noexcept { return text_; }
    void SetText(std::string text);
    bool IsSeparator() const noexcept { return text_ == "-"; }
    // Written like "Cmd+Q"; "Cmd" means Ctrl on this platform. Empty: no shortcut.
    const std::string& KeyboardShortcut() const noexcept { return shortcut_; }
    void SetKeyboardShortcut(std::string shortcut);
    bool AutoEnable() const noexcept { return autoEnable_; }
    void SetAutoEnable(bool on);
    // Under AutoEnable, the state the rule gave last; otherwise the state set here.
    bool Enabled() const noexcept;
    void SetEnabled(bool on);

    // Adds `item` at the end of this item's children; nil raises NilObjectException.
    // An item that belongs elsewhere moves here.
    void Append(const Ref<MenuItem>& item);
    std::size_t Count() const noexcept { return children_.size(); }
    // The child at `index`; outside 0..Count()-1 raises OutOfBoundsException.
    Ref<MenuItem> Item(std::size_t index) const;
    // The direct child of that name, or nil.
    Ref<MenuItem> Child(std::string_view name) const;
    // The item of that name anywhere below this one (depth first, in order), or nil.
    Ref<MenuItem> _Lookup(std::string_view name) const;
    // The item this one was appended to, or nil.
    Ref<MenuItem> Parent() const { return parent_.lock(); }

    // Carries out the item's command as if the user chose it.
    virtual void Trigger();

    // The Qt shortcut text of a shortcut as written here: "Cmd+Q" gives "Ctrl+Q".
    static std::string QtShortcutText(std::string_view shortcut);

    // The Qt action of this item (toolkit use).
    QAction* Action() const noexcept { return action_; }

protected:
    // Something visible changed: the bar that holds this item rebuilds its Qt menus.
    void Changed();

private:
    friend class MenuBar;
    void ApplyAutoEnable();

    std::string name_, text_, shortcut_;
    bool autoEnable_ = true;
    bool enabled_ = true;
    std::weak_ptr<MenuItem> parent_;
    std::vector<Ref<MenuItem>> children_;
    QAction* action_;
};

// The toolkit's own quit item: its command quits the application.
class QuitMenuItem : public MenuItem {
public:
    QuitMenuItem();
    static const ClassRecord& __Lookup();
    void Trigger() override;
};

// The root of a menu tree: its children are the menus shown on the bar.
class MenuBar : public MenuItem {
public:
    MenuBar();
    ~MenuBar() override;
    static const ClassRecord& __Lookup();

    // Changes whenever the tree or an item's text or shortcut does; windows showing the
    // bar rebuild their Qt menus then.
    std::size_t Revision() const noexcept { return revision_; }
    // Applies the auto-enable rule to every item of the bar.
    void RefreshEnabled();

private:
    friend class MenuItem;
    std::size_t revision_ = 0;
};

}  // namespace tk
