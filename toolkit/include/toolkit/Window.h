#pragma once
// Windows. A Window is backed by a top-level Qt main window: its menu bar on top and,
// below it, the client area in which controls are placed by pixel ("Left", "Top",
// "Width", "Height" of a window and its controls measure that client area). Qt-free
// header.
//
// Life of a window: RuntimeNewObject (per-instance init) -> Constructor (raises
// "Layout" then "CreateControls"; the window becomes its class's implicit instance and
// joins the open windows) -> Show -> closed by the user or Close(): the toolkit forgets
// it as implicit instance and, on the next turn of the event loop, drops its own
// references; when no one else holds it, its per-instance exit runs and its Qt widgets
// are deleted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolkit/Object.h"
#include "toolkit/PropertyList.h"

class QWidget;

namespace tk {

class ClassRecord;
class MenuBar;
class RectControl;

class Window : public Object {
public:
    Window();
    ~Window() override;
    static const ClassRecord& __Lookup();

    // The runtime constructor: becomes the implicit instance of its class, raises
    // "Layout" and then "CreateControls" (through the class's event bindings), and joins
    // the open windows. If a handler raises, the window is forgotten again and the
    // exception passes to the caller. The window is shown at the end when its "Visible"
    // was set True. A second call raises RuntimeException.
    void Constructor();
    bool IsConstructed() const noexcept { return constructed_; }

    // A new control of that class for `window`, not yet constructed nor added. The class
    // must derive from RectControl (else IllegalCastException); a nil window raises
    // NilObjectException.
    static Ref<RectControl> __New(const Ref<Window>& window, const ClassRecord& controlClass);
    // The window holds the control under `name` from now on. A name in use or a
    // control of another window raises RuntimeException; nil NilObjectException.
    void _AddControl(std::string name, const Ref<RectControl>& control);
    // The control of that name (case-sensitive), or nil; hidden controls are found too.
    Ref<RectControl> ControlByName(std::string_view name) const;
    // The same without a reference of its own, for code that looks a control up on
    // every pass of a long loop; valid while the window holds the control.
    RectControl* FindControl(std::string_view name) const noexcept;
    // Every control, in the order they were added.
    std::vector<Ref<RectControl>> Controls() const;

    void Show();
    void Hide();
    // Closes the window as the user's close button does.
    void Close();
    // True while the window is on screen (shown and not closed).
    bool IsShown() const;
    // True from Constructor until the window is closed.
    bool IsOpen() const noexcept { return open_; }

    Ref<tk::MenuBar> MenuBar() const { return menuBar_; }
    // The bar shown at the top of the window; nil shows none.
    void SetMenuBar(Ref<tk::MenuBar> bar);

    // Raises "EnableMenuItems" (when the class binds it) and then applies the menus'
    // auto-enable rule. Runs whenever one of the window's menus opens.
    void EnableMenuItems();

    // Properties of the layout list, readable from code.
    const std::string& Title() const noexcept { return title_; }
    void SetTitle(std::string title);
    int Left() const noexcept { return left_; }
    int Top() const noexcept { return top_; }
    int Width() const noexcept { return width_; }    // client area
    int Height() const noexcept { return height_; }  // client area
    void SetBounds(int left, int top, int width, int height);
    bool Resizeable() const noexcept { return resizeable_; }
    bool HasCloseButton() const noexcept { return closeButton_; }
    bool HasMinimizeButton() const noexcept { return minimizeButton_; }
    bool HasMaximizeButton() const noexcept { return maximizeButton_; }
    bool MenuBarVisible() const noexcept { return menuBarVisible_; }
    // "Visible" as last set (the list's value, Show and Hide).
    bool Visible() const noexcept { return visible_; }
    void SetVisible(bool visible);
    // Any layout property by name as last set (also those without a visible effect);
    // nullptr when it was never set.
    const PropertyValue* LayoutProperty(std::string_view name) const;

    // Applies one decoded layout property (what _SetProperties does per entry). An
    // unknown name raises UnsupportedFormatException.
    void ApplyLayoutProperty(const PropertyEntry& entry);

    // Qt side (toolkit and application use): the top-level widget and the client area.
    QWidget* Widget() const noexcept;
    QWidget* ClientArea() const noexcept;

private:
    friend struct WindowAccess;
    void ApplyGeometry();
    void ApplyFlags();
    void RebuildMenuBar();

    struct QtParts;
    QtParts* qt_;
    std::vector<std::pair<std::string, Ref<RectControl>>> controls_;
    std::vector<PropertyEntry> layout_;
    Ref<tk::MenuBar> menuBar_;
    std::size_t builtRevision_ = 0;
    std::string title_;
    int left_ = 0, top_ = 0, width_ = 300, height_ = 300;
    int minWidth_ = 64, minHeight_ = 64, maxWidth_ = 32000, maxHeight_ = 32000;
    bool resizeable_ = true, closeButton_ = true, minimizeButton_ = true, maximizeButton_ = true;
    bool menuBarVisible_ = true, visible_ = true, positioned_ = false;
    bool constructed_ = false, constructing_ = false, open_ = false;
};

// The live implicit instance of the window class registered under `className`, or nil.
Ref<Window> _GetImplicitWindow(std::string_view className);

// The window's control of that name, or nil (also while hidden). A nil window raises
// NilObjectException.
Ref<RectControl> RuntimeWindowControlByName(const Ref<Window>& window, std::string_view name);
Ref<RectControl> RuntimeWindowControlByName(const Window& window, std::string_view name);

// The windows constructed and not yet closed, oldest first.
std::vector<Ref<Window>> RuntimeOpenWindows();

}  // namespace tk
