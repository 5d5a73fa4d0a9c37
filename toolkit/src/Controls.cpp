#include "toolkit/Controls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QRadioButton>
#include <QToolButton>

#include <algorithm>

#include "QtText.h"
#include "RuntimeInternal.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Picture.h"
#include "toolkit/Runtime.h"
#include "toolkit/Window.h"

namespace tk {
namespace {

void DeclareTextStyle(ClassRecord& r) {
    r.DeclareProperty("TextFont", "s");
    r.DeclareProperty("TextSize", "i4");
    r.DeclareProperty("Bold", "b");
    r.DeclareProperty("Italic", "b");
    r.DeclareProperty("Underline", "b");
}

// The properties that check boxes and radio buttons have in common, in their order.
template <class T>
void DeclareToggleButton(ClassRecord& r) {
    detail::DeclareConcrete<T>(r);
    r.DeclareProperty("Caption", "s");
    DeclareTextStyle(r);
    r.DeclareProperty("Value", "b");
}

bool Is(const PropertyEntry& e, const char* lowerName) { return detail::EqualsIgnoringAsciiCase(e.name, lowerName); }

// Paints its picture at the top left; the rest is the background (when erased).
class CanvasWidget : public QWidget {
public:
    QImage image;

protected:
    void paintEvent(QPaintEvent*) override {
        if (image.isNull())
            return;
        QPainter painter(this);
        painter.drawImage(QPoint(0, 0), image);
    }
};

// Remembers what it last painted, so a redraw that would paint the same picture again
// can be skipped: the import redraws the bar once per caption line, and a long file has
// hundreds of thousands of lines for a bar a few hundred pixels wide.
class ProgressBarWidget : public QProgressBar {
public:
    bool ShowsCurrentState() const {
        return painted_ && paintedValue_ == value() && paintedMaximum_ == maximum() && paintedSize_ == size();
    }

protected:
    // A plain frame and fill in the palette's colours. The styles' own bars are drawn
    // with gradients and antialiased curves that cost a third of a millisecond a time;
    // this one costs a few microseconds, so redrawing it at once whenever it moves by a
    // pixel stays cheap even for a file of a million lines.
    void paintEvent(QPaintEvent* event) override {
        if (maximum() <= minimum()) {
            QProgressBar::paintEvent(event);  // the busy bar keeps the style's animation
        } else {
            QPainter painter(this);
            const QRect frame = rect().adjusted(0, 0, -1, -1);
            painter.setPen(palette().color(QPalette::Mid));
            painter.setBrush(palette().color(QPalette::Base));
            painter.drawRect(frame);
            const QRect inside = rect().adjusted(2, 2, -2, -2);
            const auto span = static_cast<std::int64_t>(maximum()) - minimum();
            const auto done = static_cast<std::int64_t>(std::clamp(value(), minimum(), maximum())) - minimum();
            const int filled = static_cast<int>(inside.width() * done / span);
            if (filled > 0)
                painter.fillRect(QRect(inside.left(), inside.top(), filled, inside.height()),
                                 palette().color(QPalette::Highlight));
        }
        painted_ = true;
        paintedValue_ = value();
        paintedMaximum_ = maximum();
        paintedSize_ = size();
    }

private:
    bool painted_ = false;
    int paintedValue_ = 0, paintedMaximum_ = 0;
    QSize paintedSize_;
};

}  // namespace

struct RectControl::QtParts {
    QPointer<QWidget> widget;
    // Context of the control's connections: they end when the control does.
    QObject guard;
    bool acceptFocus = true;
    bool tabStop = true;
    bool focusSet = false;
};

// ---------------------------------------------------------------------------------------
// RectControl

RectControl::RectControl(QWidget* widget) : qt_(new QtParts) {
    SetClassRecord(&__Lookup());
    qt_->widget = widget;
}

RectControl::~RectControl() {
    QPointer<QWidget> widget = qt_->widget;
    delete qt_;  // ends the connections before the widget can say anything more
    if (widget) {
        widget->hide();
        detail::DeleteQObjectSafely(widget.data());
    }
}

const ClassRecord& RectControl::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("RectControl", nullptr, [](ClassRecord& r) {
        r.SetTypeTest(detail::TypeTestFor<RectControl>());
        r.AddMethod("Constructor", "%%", Invoke<RectControl>(&RectControl::Constructor));
        r.AddMethod("Refresh", "%%", Invoke<RectControl>(&RectControl::Refresh));
        r.DeclareProperty("Name", "s");
        r.DeclareProperty("Index", "i4");
        for (const char* name : {"Left", "Top", "Width", "Height"})
            r.DeclareProperty(name, "i4");
        for (const char* name : {"LockLeft", "LockTop", "LockRight", "LockBottom"})
            r.DeclareProperty(name, "b");
        r.DeclareProperty("TabPanelIndex", "i4");
        r.DeclareProperty("TabIndex", "i4");
        r.DeclareProperty("TabStop", "b");
        r.DeclareProperty("InitialParent", "s");
        r.DeclareProperty("Visible", "b");
        r.DeclareProperty("HelpTag", "s");
        r.DeclareProperty("AutoDeactivate", "b");
        r.DeclareProperty("Enabled", "b");
    });
    return *record;
}

void RectControl::Constructor() {
    if (constructed_)
        throw RuntimeException("The control is constructed already.");
    constructed_ = true;
}

void RectControl::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    Place();
}

void RectControl::SetVisible(bool visible) {
    visible_ = visible;
    Place();
}

void RectControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (QWidget* w = qt_->widget)
        w->setEnabled(enabled);
}

void RectControl::Refresh() {
    if (QWidget* w = qt_->widget; w && RepaintNeeded())
        w->repaint();
}

bool RectControl::RepaintNeeded() const { return true; }

void RectControl::AdjustShownBounds(QRect&) const {}

const PropertyValue* RectControl::LayoutProperty(std::string_view name) const {
    return detail::FindLayoutProperty(layout_, name);
}

void RectControl::ApplyLayoutProperty(const PropertyEntry& e) {
    const ClassRecord* cls = Class() ? Class() : &__Lookup();
    if (!cls->FindProperty(e.name))
        throw UnsupportedFormatException("Class " + cls->Name() + " has no property \"" + e.name + "\".");
    try {
        if (!ApplyOwnProperty(e)) {
            QWidget* w = qt_->widget;
            if (Is(e, "name")) {
                // The window's name for the control wins; the list names it only while
                // no window holds it under a name.
                if (name_.empty())
                    name_ = std::get<std::string>(e.value);
            } else if (Is(e, "left")) {
                left_ = std::get<std::int32_t>(e.value);
                Place();
            } else if (Is(e, "top")) {
                top_ = std::get<std::int32_t>(e.value);
                Place();
            } else if (Is(e, "width")) {
                width_ = std::max(0, std::get<std::int32_t>(e.value));
                Place();
            } else if (Is(e, "height")) {
                height_ = std::max(0, std::get<std::int32_t>(e.value));
                Place();
            } else if (Is(e, "visible")) {
                SetVisible(std::get<bool>(e.value));
            } else if (Is(e, "enabled")) {
                SetEnabled(std::get<bool>(e.value));
            } else if (Is(e, "initialparent")) {
                SetContainer(std::get<std::string>(e.value));
            } else if (Is(e, "helptag")) {
                if (w)
                    w->setToolTip(detail::ToQt(std::get<std::string>(e.value)));
            } else if (Is(e, "textfont")) {
                textFont_ = std::get<std::string>(e.value);
                ApplyFont();
            } else if (Is(e, "textsize")) {
                textSize_ = std::get<std::int32_t>(e.value);
                ApplyFont();
            } else if (Is(e, "bold")) {
                bold_ = std::get<bool>(e.value);
                ApplyFont();
            } else if (Is(e, "italic")) {
                italic_ = std::get<bool>(e.value);
                ApplyFont();
            } else if (Is(e, "underline")) {
                underline_ = std::get<bool>(e.value);
                ApplyFont();
            } else if (Is(e, "tabstop") || Is(e, "acceptfocus")) {
                (Is(e, "tabstop") ? qt_->tabStop : qt_->acceptFocus) = std::get<bool>(e.value);
                if (w)
                    w->setFocusPolicy(!qt_->acceptFocus ? Qt::NoFocus
                                      : qt_->tabStop    ? Qt::StrongFocus
                                                        : Qt::ClickFocus);
            }
            // Everything else ("Index", the locks, "TabPanelIndex", "TabIndex",
            // "AutoDeactivate", "DataSource", "DataField", the bevel button's caption
            // and icon placement ...) is kept for code to read and has no visible effect.
        }
    } catch (const std::bad_variant_access&) {
        throw UnsupportedFormatException("Property \"" + e.name + "\" of " + cls->Name() +
                                         " was given a value of another type.");
    }
    detail::StoreLayoutProperty(layout_, e);
}

Ref<Delegate> RectControl::EventHandler(std::string_view event) const {
    auto it = handlers_.find(event);
    return it == handlers_.end() ? nullptr : it->second;
}

void RectControl::RaiseEvent(std::string_view event) {
    Ref<Delegate> handler = EventHandler(event);
    if (!handler)
        return;
    // Held for the call: a handler may close the window that holds this control.
    Ref<Object> keep = weak_from_this().lock();
    detail::Guarded([&] { handler->Invoke(this); });
}

QWidget* RectControl::Widget() const noexcept { return qt_->widget.data(); }

QObject* RectControl::ConnectionGuard() const noexcept { return &qt_->guard; }

bool RectControl::HasEvent(std::string_view) const { return false; }

bool RectControl::ApplyOwnProperty(const PropertyEntry&) { return false; }

void RectControl::ApplyFont() {
    QWidget* w = qt_->widget;
    if (!w)
        return;
    const bool system = textFont_.empty() || textFont_ == "System";
    QFont font = QApplication::font(w);
    if (!system)
        font.setFamilies({detail::ToQt(textFont_)});
    if (textSize_ > 0)
        font.setPointSize(textSize_);
    font.setBold(bold_);
    font.setItalic(italic_);
    font.setUnderline(underline_);
    w->setFont(font);
    Place();  // the text's width may have changed with the font
}

void RectControl::Place() {
    QWidget* w = qt_->widget;
    if (!w)
        return;
    // Left and Top always measure the window's client area; a control inside another
    // one is placed relative to it in Qt, so the container's place is taken off.
    int ox = 0, oy = 0;
    if (Ref<RectControl> c = container_.lock()) {
        ox = c->Left();
        oy = c->Top();
    }
    QRect bounds(left_ - ox, top_ - oy, width_, height_);
    AdjustShownBounds(bounds);
    w->setGeometry(bounds);
    // A widget without a parent would become a window of its own when shown.
    if (w->parentWidget())
        w->setVisible(visible_);
}

void RectControl::AttachTo(const Ref<tk::Window>& window) {
    window_ = window;
    if (QWidget* w = qt_->widget) {
        w->setParent(window->ClientArea());
        Place();
    }
}

void RectControl::SetContainer(const std::string& controlName) {
    Ref<tk::Window> window = window_.lock();
    if (!window)
        throw NilObjectException("Control \"" + name_ + "\" has no window to find \"" + controlName + "\" in.");
    Ref<RectControl> container;
    if (!controlName.empty()) {
        container = window->ControlByName(controlName);
        if (!container)
            throw RuntimeException("Control \"" + name_ + "\": the window has no control \"" + controlName +
                                   "\" to place it in.");
        for (Ref<RectControl> c = container; c; c = c->container_.lock())
            if (c.get() == this)
                throw RuntimeException("Control \"" + name_ + "\" cannot be placed inside itself.");
    }
    container_ = container;
    if (QWidget* w = qt_->widget) {
        QWidget* parent = container ? container->Widget() : window->ClientArea();
        if (parent)
            w->setParent(parent);
        Place();
        w->raise();
    }
}

// ---------------------------------------------------------------------------------------
// the control classes

CaptionedButton::CaptionedButton(QAbstractButton* button) : RectControl(button) {
    // clicked, not toggled: a Value set by code must not look like the user's click.
    QObject::connect(button, &QAbstractButton::clicked, ConnectionGuard(), [this] { RaiseEvent("Action"); });
}

QAbstractButton* CaptionedButton::Button() const noexcept { return static_cast<QAbstractButton*>(Widget()); }

std::string CaptionedButton::Caption() const {
    auto* b = Button();
    return b ? detail::FromQt(b->text()) : std::string();
}

void CaptionedButton::SetCaption(std::string_view caption) {
    if (auto* b = Button())
        b->setText(detail::ToQt(caption));
}

bool CaptionedButton::HasEvent(std::string_view event) const { return event == "Action"; }

bool CaptionedButton::ApplyOwnProperty(const PropertyEntry& e) {
    if (Is(e, "caption"))
        SetCaption(std::get<std::string>(e.value));
    else if (Is(e, "value"))
        SetValue(std::get<bool>(e.value));
    else
        return false;
    return true;
}

CheckBox::CheckBox() : CaptionedButton(new QCheckBox) { SetClassRecord(&__Lookup()); }

const ClassRecord& CheckBox::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("CheckBox", &RectControl::__Lookup(), [](ClassRecord& r) {
        DeclareToggleButton<CheckBox>(r);
        r.DeclareProperty("DataSource", "s");
        r.DeclareProperty("DataField", "s");
    });
    return *record;
}

bool CheckBox::Value() const {
    auto* b = Button();
    return b && b->isChecked();
}

void CheckBox::SetValue(bool checked) {
    if (auto* b = Button())
        b->setChecked(checked);
}

RadioButton::RadioButton() : CaptionedButton(new QRadioButton) { SetClassRecord(&__Lookup()); }

const ClassRecord& RadioButton::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("RadioButton", &RectControl::__Lookup(), [](ClassRecord& r) {
        DeclareToggleButton<RadioButton>(r);
    });
    return *record;
}

bool RadioButton::Value() const {
    auto* b = Button();
    return b && b->isChecked();
}

void RadioButton::SetValue(bool selected) {
    auto* b = Button();
    if (!b)
        return;
    if (selected || !b->isChecked()) {
        b->setChecked(selected);
        return;
    }
    // Qt keeps an exclusive group's only selected button selected; code may clear it.
    b->setAutoExclusive(false);
    b->setChecked(false);
    b->setAutoExclusive(true);
}

BevelButton::BevelButton() : CaptionedButton(new QToolButton) {
    SetClassRecord(&__Lookup());
    auto* b = static_cast<QToolButton*>(Widget());
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // Small "?" buttons of 17 by 16 pixels must still show their caption: no margins
    // beyond the frame.
    b->setContentsMargins(0, 0, 0, 0);
    b->setStyleSheet(QString());
}

const ClassRecord& BevelButton::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("BevelButton", &RectControl::__Lookup(), [](ClassRecord& r) {
        detail::DeclareConcrete<BevelButton>(r);
        r.DeclareProperty("Caption", "s");
        for (const char* name : {"CaptionAlign", "CaptionPlacement", "CaptionDelta", "IconAlign", "IconDX", "IconDY",
                                 "Bevel", "HasMenu"})
            r.DeclareProperty(name, "i4");
        r.DeclareProperty("Value", "b");
        r.DeclareProperty("MenuValue", "i4");
        r.DeclareProperty("ButtonType", "i4");
        r.DeclareProperty("AcceptFocus", "b");
        DeclareTextStyle(r);
    });
    return *record;
}

StaticText::StaticText() : RectControl(new QLabel) {
    SetClassRecord(&__Lookup());
    auto* label = static_cast<QLabel*>(Widget());
    label->setTextFormat(Qt::PlainText);
    SetTextAlign(0);
}

const ClassRecord& StaticText::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("StaticText", &RectControl::__Lookup(), [](ClassRecord& r) {
        detail::DeclareConcrete<StaticText>(r);
        r.DeclareProperty("Text", "s");
        r.DeclareProperty("TextAlign", "i4");
        r.DeclareProperty("TextColor", "c");
        r.DeclareProperty("Multiline", "b");
        DeclareTextStyle(r);
        r.DeclareProperty("DataSource", "s");
        r.DeclareProperty("DataField", "s");
    });
    return *record;
}

std::string StaticText::Text() const {
    auto* l = static_cast<QLabel*>(Widget());
    return l ? detail::FromQt(l->text()) : std::string();
}

void StaticText::SetText(std::string_view text) {
    if (auto* l = static_cast<QLabel*>(Widget()))
        l->setText(detail::ToQt(text));
    Place();
}

// A centred one-line label whose text is wider than the label grows evenly on both
// sides, as far as its container allows, instead of cutting the text off at both ends:
// the status line in the progress bar is narrower than "Done Writing SCC Transcripts"
// in most fonts.
void StaticText::AdjustShownBounds(QRect& bounds) const {
    const auto* l = static_cast<const QLabel*>(Widget());
    if (l == nullptr || textAlign_ != 1 || l->wordWrap())
        return;
    const int needed = l->fontMetrics().horizontalAdvance(l->text()) + 2 * l->margin() + 4;
    if (needed <= bounds.width())
        return;
    const QWidget* parent = l->parentWidget();
    const int room = parent != nullptr ? parent->width() : needed;
    const int width = std::min(needed, std::max(room, bounds.width()));
    int left = bounds.center().x() - width / 2;
    if (parent != nullptr)
        left = std::clamp(left, 0, std::max(0, room - width));
    bounds.setLeft(left);
    bounds.setWidth(width);
}

void StaticText::SetTextAlign(int align) {
    textAlign_ = align;
    auto* l = static_cast<QLabel*>(Widget());
    if (!l)
        return;
    const Qt::Alignment h = align == 1 ? Qt::AlignHCenter : align == 2 ? Qt::AlignRight : Qt::AlignLeft;
    l->setAlignment(h | Qt::AlignVCenter);
    Place();
}

void StaticText::SetTextColor(Color color) {
    textColor_ = color;
    if (QWidget* w = Widget()) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::WindowText, QColor(color.red, color.green, color.blue));
        w->setPalette(pal);
    }
}

bool StaticText::ApplyOwnProperty(const PropertyEntry& e) {
    if (Is(e, "text"))
        SetText(std::get<std::string>(e.value));
    else if (Is(e, "textalign"))
        SetTextAlign(std::get<std::int32_t>(e.value));
    else if (Is(e, "textcolor"))
        SetTextColor(std::get<Color>(e.value));
    else if (Is(e, "multiline")) {
        if (auto* l = static_cast<QLabel*>(Widget()))
            l->setWordWrap(std::get<bool>(e.value));
    } else
        return false;
    return true;
}

ProgressBar::ProgressBar() : RectControl(new ProgressBarWidget) {
    SetClassRecord(&__Lookup());
    auto* bar = static_cast<QProgressBar*>(Widget());
    bar->setTextVisible(false);
    bar->setRange(0, maximum_);
    bar->setValue(0);
}

const ClassRecord& ProgressBar::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("ProgressBar", &RectControl::__Lookup(), [](ClassRecord& r) {
        detail::DeclareConcrete<ProgressBar>(r);
        r.DeclareProperty("Value", "i4");
        r.DeclareProperty("Maximum", "i4");
    });
    return *record;
}

std::int32_t ProgressBar::Value() const { return value_; }

void ProgressBar::SetValue(std::int32_t value) {
    value_ = value;
    auto* bar = static_cast<QProgressBar*>(Widget());
    if (bar == nullptr)
        return;
    const std::int32_t shown = std::clamp(value_, 0, std::max(0, maximum_));
    const std::int32_t current = bar->value();
    if (shown == current)
        return;
    // The widget is told only of values that move the bar by a pixel or more (and of
    // both ends), so that setting it once per caption line stays cheap; the value that
    // code reads back is always the one it set.
    if (shown == 0 || shown == maximum_ || maximum_ <= 0 || FilledPixels(shown) != FilledPixels(current))
        bar->setValue(shown);
}

// As the bar paints itself: the fill inside a two-pixel border.
std::int64_t ProgressBar::FilledPixels(std::int32_t value) const {
    const QWidget* bar = Widget();
    const std::int64_t width = bar != nullptr ? std::max(0, bar->width() - 4) : 0;
    return maximum_ > 0 ? std::int64_t{value} * width / maximum_ : 0;
}

bool ProgressBar::RepaintNeeded() const {
    const auto* bar = static_cast<const ProgressBarWidget*>(Widget());
    return bar == nullptr || !bar->ShowsCurrentState();
}

std::int32_t ProgressBar::Maximum() const { return maximum_; }

void ProgressBar::SetMaximum(std::int32_t maximum) {
    maximum_ = maximum;
    if (auto* bar = static_cast<QProgressBar*>(Widget())) {
        bar->setRange(0, std::max(0, maximum_));
        bar->setValue(std::clamp(value_, 0, std::max(0, maximum_)));
    }
}

bool ProgressBar::ApplyOwnProperty(const PropertyEntry& e) {
    if (Is(e, "value"))
        SetValue(std::get<std::int32_t>(e.value));
    else if (Is(e, "maximum"))
        SetMaximum(std::get<std::int32_t>(e.value));
    else
        return false;
    return true;
}

Canvas::Canvas() : RectControl(new CanvasWidget) { SetClassRecord(&__Lookup()); }

const ClassRecord& Canvas::__Lookup() {
    static ClassRecord* record = &RuntimeRegisterClass("Canvas", &RectControl::__Lookup(), [](ClassRecord& r) {
        detail::DeclareConcrete<Canvas>(r);
        for (const char* name : {"UseFocusRing", "AcceptFocus", "AcceptTabs", "EraseBackground"})
            r.DeclareProperty(name, "b");
        r.DeclareProperty("Backdrop", "o<Picture>");
    });
    return *record;
}

void Canvas::SetBackdrop(Ref<Picture> picture) {
    backdrop_ = std::move(picture);
    if (auto* w = static_cast<CanvasWidget*>(Widget())) {
        w->image = backdrop_ ? backdrop_->Image() : QImage();
        w->update();
    }
}

bool Canvas::ApplyOwnProperty(const PropertyEntry& e) {
    if (Is(e, "erasebackground")) {
        if (QWidget* w = Widget())
            w->setAutoFillBackground(std::get<bool>(e.value));
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// free functions

void _InstallInstanceEventHandler(const Ref<RectControl>& control, std::string_view event,
                                  const Ref<Delegate>& handler) {
    if (!control)
        throw NilObjectException("An event handler cannot be installed on a nil control.");
    if (!handler)
        throw NilObjectException("A nil handler cannot be installed for \"" + std::string(event) + "\".");
    if (!control->HasEvent(event))
        throw RuntimeException("Control \"" + control->Name() + "\" has no event \"" + std::string(event) + "\".");
    control->handlers_[std::string(event)] = handler;
}

SelfAndMe RuntimeSwapSelfAndMe(Object* me) {
    auto* control = dynamic_cast<RectControl*>(me);
    if (!control)
        throw NilObjectException("An event handler was called without the control that raised the event.");
    Ref<RectControl> meRef = std::dynamic_pointer_cast<RectControl>(control->weak_from_this().lock());
    Ref<Window> window = control->Window();
    if (!meRef || !window)
        throw NilObjectException("Control \"" + control->Name() + "\" has no window.");
    return SelfAndMe{std::move(window), std::move(meRef)};
}

}  // namespace tk
