#pragma once
// Controls: each toolkit control owns the Qt widget that backs it.
//   CheckBox    -> QCheckBox          RadioButton -> QRadioButton
//   BevelButton -> QToolButton        StaticText  -> QLabel
//   ProgressBar -> QProgressBar       Canvas      -> a QWidget that paints its Backdrop
// Qt-free header.
//
// Action: raised when the user clicks a button, check box or radio button, never when
// code sets a Value. Its handler (installed with _InstallInstanceEventHandler) is a
// delegate bound to the window; it is called with the control as `me`. An exception
// that escapes a handler goes to RuntimeUnhandledException, and the window stays usable.
//
// Radio buttons placed in the same window (or inside the same control) act as one
// choice: selecting one clears the others.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Object.h"
#include "toolkit/PropertyList.h"

class QAbstractButton;
class QObject;
class QRect;
class QWidget;

namespace tk {

class ClassRecord;
class Delegate;
class Picture;
class Window;

class RectControl : public Object {
public:
    ~RectControl() override;
    static const ClassRecord& __Lookup();

    // The runtime constructor of every control class. A second call raises
    // RuntimeException.
    void Constructor();
    bool IsConstructed() const noexcept { return constructed_; }

    // The window that holds the control, or nil when it is gone.
    Ref<tk::Window> Window() const { return window_.lock(); }
    // The name the window holds it by (set by _AddControl, or "Name" of its list).
    const std::string& Name() const noexcept { return name_; }

    // Position and size in pixels of the window's client area, also for a control
    // placed inside another one.
    int Left() const noexcept { return left_; }
    int Top() const noexcept { return top_; }
    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    void SetBounds(int left, int top, int width, int height);

    bool Visible() const noexcept { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool enabled);
    // Repaints the control at once, not on a later turn of the event loop; nothing is
    // done when what is on screen already shows the control's present state.
    void Refresh();

    // The control this one lies in ("InitialParent"), or nil.
    Ref<RectControl> ContainingControl() const { return container_.lock(); }

    // Text style ("System" with size 0 is the platform's default font).
    const std::string& TextFont() const noexcept { return textFont_; }
    int TextSize() const noexcept { return textSize_; }

    // Any layout property by name as last set; nullptr when never set.
    const PropertyValue* LayoutProperty(std::string_view name) const;
    // Applies one decoded layout property. An unknown name raises
    // UnsupportedFormatException.
    void ApplyLayoutProperty(const PropertyEntry& entry);

    // The handler installed for that event, or nil.
    Ref<Delegate> EventHandler(std::string_view event) const;
    // Raises the event: calls its handler with this control as `me`. An exception
    // escaping the handler is reported (RuntimeUnhandledException), not thrown.
    void RaiseEvent(std::string_view event);

    // Qt side (toolkit and application use).
    QWidget* Widget() const noexcept;

protected:
    explicit RectControl(QWidget* widget);
    // The events this kind of control raises.
    virtual bool HasEvent(std::string_view event) const;
    // False when a repaint would paint exactly what the screen shows already.
    virtual bool RepaintNeeded() const;
    // Where the widget is shown, in its Qt parent's coordinates; by default the control's
    // own bounds.
    virtual void AdjustShownBounds(QRect& bounds) const;
    // Class-specific properties; return false for a name the class does not know.
    virtual bool ApplyOwnProperty(const PropertyEntry& entry);
    void ApplyFont();
    void Place();
    // Context for the control's Qt connections; they end when the control does.
    QObject* ConnectionGuard() const noexcept;

private:
    friend class tk::Window;
    friend void _InstallInstanceEventHandler(const Ref<RectControl>&, std::string_view,
                                             const Ref<Delegate>&);
    void AttachTo(const Ref<tk::Window>& window);
    void SetContainer(const std::string& controlName);

    struct QtParts;
    QtParts* qt_;
    std::weak_ptr<tk::Window> window_;
    std::weak_ptr<RectControl> container_;
    std::string name_;
    std::vector<PropertyEntry> layout_;
    std::map<std::string, Ref<Delegate>, std::less<>> handlers_;
    int left_ = 0, top_ = 0, width_ = 80, height_ = 20;
    bool visible_ = true, enabled_ = true, constructed_ = false;
    std::string textFont_ = "System";
    int textSize_ = 0;
    bool bold_ = false, italic_ = false, underline_ = false;
};

// What check boxes, radio buttons and bevel buttons share: a caption, the Action raised
// by the user's click, and the "Caption" and "Value" layout properties. Not a runtime
// class of its own: each subclass registers its own class record under RectControl.
class CaptionedButton : public RectControl {
public:
    std::string Caption() const;
    void SetCaption(std::string_view caption);
    virtual bool Value() const = 0;
    // Raises no Action.
    virtual void SetValue(bool value) = 0;

protected:
    explicit CaptionedButton(QAbstractButton* button);
    QAbstractButton* Button() const noexcept;
    bool HasEvent(std::string_view event) const override;
    bool ApplyOwnProperty(const PropertyEntry& entry) override;
};

class CheckBox : public CaptionedButton {
public:
    CheckBox();
    static const ClassRecord& __Lookup();
    // True when checked. Setting it raises no Action.
    bool Value() const override;
    void SetValue(bool checked) override;
};

class RadioButton : public CaptionedButton {
public:
    RadioButton();
    static const ClassRecord& __Lookup();
    // True when selected. Setting True clears the other radio buttons of the group;
    // setting False leaves none selected. Raises no Action.
    bool Value() const override;
    void SetValue(bool selected) override;
};

class BevelButton : public CaptionedButton {
public:
    BevelButton();
    static const ClassRecord& __Lookup();
    // The button's stored Value (a push button does not stay down).
    bool Value() const noexcept override { return value_; }
    void SetValue(bool value) noexcept override { value_ = value; }

private:
    bool value_ = false;
};

class StaticText : public RectControl {
public:
    StaticText();
    static const ClassRecord& __Lookup();
    std::string Text() const;
    void SetText(std::string_view text);
    // 0 left, 1 centre, 2 right.
    int TextAlign() const noexcept { return textAlign_; }
    void SetTextAlign(int align);
    Color TextColor() const noexcept { return textColor_; }
    void SetTextColor(Color color);

protected:
    bool ApplyOwnProperty(const PropertyEntry& entry) override;
    void AdjustShownBounds(QRect& bounds) const override;

private:
    int textAlign_ = 0;
    Color textColor_{};
};

class ProgressBar : public RectControl {
public:
    ProgressBar();
    static const ClassRecord& __Lookup();
    // The bar shows Value of Maximum (a Value outside 0..Maximum shows as the nearest
    // end, but reads back as set). Maximum 0 shows a busy bar.
    std::int32_t Value() const;
    void SetValue(std::int32_t value);
    std::int32_t Maximum() const;
    void SetMaximum(std::int32_t maximum);

protected:
    bool ApplyOwnProperty(const PropertyEntry& entry) override;
    bool RepaintNeeded() const override;

private:
    // How many pixels of the bar's width `value` fills.
    std::int64_t FilledPixels(std::int32_t value) const;
    std::int32_t value_ = 0, maximum_ = 100;
};

class Canvas : public RectControl {
public:
    Canvas();
    static const ClassRecord& __Lookup();
    // The picture painted at the canvas's top left, behind its content; nil paints none.
    Ref<Picture> Backdrop() const { return backdrop_; }
    void SetBackdrop(Ref<Picture> picture);

protected:
    bool ApplyOwnProperty(const PropertyEntry& entry) override;

private:
    Ref<Picture> backdrop_;
};

// Installs `handler` for the control's event of that name ("Action"), replacing an
// earlier one. A nil control or handler raises NilObjectException; an event the
// control does not raise raises RuntimeException.
void _InstallInstanceEventHandler(const Ref<RectControl>& control, std::string_view event,
                                  const Ref<Delegate>& handler);

// Inside a control's event handler: the control that raised the event (`me`) and the
// window that holds it, on which the handler works. A nil or windowless `me` raises
// NilObjectException.
struct SelfAndMe {
    Ref<tk::Window> self;
    Ref<RectControl> me;
};
SelfAndMe RuntimeSwapSelfAndMe(Object* me);

}  // namespace tk
