#include "app/LayoutLists.h"

#include <cstdint>
#include <limits>

namespace quillet::layout {
namespace {

using tk::PropertyEntry;
using tk::PropertyType;

PropertyEntry B(const char* name, bool v) { return {name, PropertyType::Boolean, v}; }
PropertyEntry I(const char* name, std::int32_t v) { return {name, PropertyType::Integer, v}; }
PropertyEntry S(const char* name, const char* v) { return {name, PropertyType::String, std::string(v)}; }
PropertyEntry C(const char* name, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return {name, PropertyType::Color, tk::Color{r, g, b}};
}

// Controls that are not members of a control array carry the lowest Int32 as "Index".
constexpr std::int32_t kNoIndex = std::numeric_limits<std::int32_t>::min();

std::vector<PropertyEntry> windowTable() {
    return {
        I("Placement", 0),
        I("Width", 486),
        I("Height", 252),
        I("MinWidth", 64),
        I("MinHeight", 64),
        I("MaxWidth", 32000),
        I("MaxHeight", 32000),
        I("Frame", 0),
        B("Composite", false),
        B("HasBackColor", false),
        C("BackColor", 255, 255, 255),
        S("Title", "Quillet"),
        B("Visible", false),
        B("FullScreen", false),
        B("MenuBarVisible", true),
        B("CloseButton", true),
        B("Resizeable", false),
        B("LiveResize", true),
        B("MaximizeButton", false),
        B("MinimizeButton", true),
        I("MacProcID", 0),
    };
}

ControlLayout make(const char* name, const char* className, const char* actionHandler,
                   std::vector<PropertyEntry> entries) {
    std::string encoded = tk::EncodePropertyList(entries);
    return {name, className, actionHandler, std::move(entries), std::move(encoded)};
}

// The entries whose values differ from control to control in every list that has them.
struct Place {
    const char* name;
    std::int32_t left, top, width, height;
    std::int32_t tabIndex;
};

// One list per class, in the class's entry order; only the arguments differ between the
// controls of a class.

ControlLayout bevelButton(const Place& p, const char* actionHandler, const char* caption, std::int32_t bevel) {
    return make(p.name, "BevelButton", actionHandler, {
        S("Name", p.name),           I("Index", kNoIndex),      I("Left", p.left),
        I("Top", p.top),             I("Width", p.width),       I("Height", p.height),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", p.tabIndex),
        B("TabStop", true),          S("InitialParent", ""),    B("Visible", true),
        S("HelpTag", ""),            B("AutoDeactivate", true), B("Enabled", true),
        S("Caption", caption),
        I("CaptionAlign", 3),        I("CaptionPlacement", 1),  I("CaptionDelta", 0),
        I("IconAlign", 0),           I("IconDX", 0),            I("IconDY", 0),
        I("Bevel", bevel),           I("HasMenu", 0),           B("Value", false),
        I("MenuValue", 0),           I("ButtonType", 0),        B("AcceptFocus", false),
        S("TextFont", "System"),     I("TextSize", 0),          B("Bold", false),
        B("Italic", false),          B("Underline", false),
    });
}

ControlLayout checkBox(const Place& p, const char* actionHandler, const char* caption, bool value) {
    return make(p.name, "CheckBox", actionHandler, {
        S("Name", p.name),           I("Index", kNoIndex),      I("Left", p.left),
        I("Top", p.top),             I("Width", p.width),       I("Height", p.height),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", p.tabIndex),
        B("TabStop", true),          S("Caption", caption),
        B("Enabled", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        B("Value", value),           S("DataSource", ""),       S("DataField", ""),
        S("InitialParent", ""),
    });
}

ControlLayout staticText(const Place& p, const char* text, std::int32_t textAlign, bool visible = true,
                         const char* initialParent = "") {
    return make(p.name, "StaticText", "", {
        S("Name", p.name),           I("Index", kNoIndex),      I("Left", p.left),
        I("Top", p.top),             I("Width", p.width),       I("Height", p.height),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", p.tabIndex),
        S("Text", text),
        I("TextAlign", textAlign),   C("TextColor", 0, 0, 0),   B("Multiline", false),
        B("Enabled", true),          B("Visible", visible),     S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        S("DataSource", ""),         S("DataField", ""),        S("InitialParent", initialParent),
    });
}

ControlLayout radioButton(const Place& p, const char* caption, bool value) {
    return make(p.name, "RadioButton", "", {
        S("Name", p.name),           I("Index", kNoIndex),      I("Left", p.left),
        I("Top", p.top),             I("Width", p.width),       I("Height", p.height),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", p.tabIndex),
        B("TabStop", true),          S("Caption", caption),
        B("Enabled", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        B("Value", value),           S("InitialParent", ""),
    });
}

// The two classes with a single control each: their lists as they stand.

ControlLayout progressBar1() {
    return make("ProgressBar1", "ProgressBar", "", {
        S("Name", "ProgressBar1"),   I("Index", kNoIndex),      I("Left", 20),
        I("Top", 178),               I("Width", 436),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     B("Visible", true),
        S("HelpTag", ""),            B("AutoDeactivate", true), B("Enabled", true),
        I("Value", 0),               I("Maximum", 100),         S("InitialParent", ""),
    });
}

ControlLayout canvas1() {
    return make("Canvas1", "Canvas", "", {
        S("Name", "Canvas1"),        I("Index", kNoIndex),      I("Left", 20),
        I("Top", 22),                I("Width", 129),           I("Height", 130),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 10),
        B("TabStop", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   B("Enabled", true),        B("UseFocusRing", true),
        B("AcceptFocus", false),     B("AcceptTabs", false),    B("EraseBackground", true),
        S("InitialParent", ""),
    });
}

}  // namespace

const std::vector<tk::PropertyEntry>& WindowEntries() {
    static const std::vector<tk::PropertyEntry> entries = windowTable();
    return entries;
}

const std::string& WindowList() {
    static const std::string encoded = tk::EncodePropertyList(WindowEntries());
    return encoded;
}

const std::vector<ControlLayout>& Controls() {
    // {Name, Left, Top, Width, Height, TabIndex}, the "Action" handler where the control
    // has one, then the values of the class's own entries.
    static const std::vector<ControlLayout> controls = {
        bevelButton({"BevelButton1", 329, 210, 127, 22, 0}, "BevelButton1_Action", "Select SCC File", 3),
        checkBox({"TimecodeBox", 185, 77, 146, 20, 2}, "TimecodeBox_Action", "Include Timecode", true),
        checkBox({"LineBox", 185, 45, 132, 20, 3}, "LineBox_Action", "Line by line form", true),
        checkBox({"ParagraphBox", 340, 45, 127, 20, 4}, "ParagraphBox_Action", "Paragraph form", false),
        staticText({"StaticText1", 184, 12, 273, 20, 5}, "Output text file settings:", 0),
        progressBar1(),
        staticText({"ProgressText", 170, 177, 136, 20, 0}, "Reading SCC File...", 1, /*visible=*/false,
                   "ProgressBar1"),
        radioButton({"RadioButton1", 185, 114, 161, 20, 6}, "Unbuffered timecode", true),
        radioButton({"RadioButton2", 185, 146, 153, 20, 7}, "Keep SCC timecode", false),
        bevelButton({"BevelButton3", 350, 146, 18, 16, 8}, "BevelButton3_Action", "?", 0),
        bevelButton({"BevelButton2", 350, 114, 17, 16, 9}, "BevelButton2_Action", "?", 0),
        canvas1(),
    };
    return controls;
}

const ControlLayout* FindControl(const std::string& name) {
    for (const ControlLayout& c : Controls())
        if (c.name == name)
            return &c;
    return nullptr;
}

}  // namespace quillet::layout
