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

std::vector<PropertyEntry> bevelButton1() {
    return {
        S("Name", "BevelButton1"),   I("Index", kNoIndex),      I("Left", 329),
        I("Top", 210),               I("Width", 127),           I("Height", 22),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 0),
        B("TabStop", true),          S("InitialParent", ""),    B("Visible", true),
        S("HelpTag", ""),            B("AutoDeactivate", true), B("Enabled", true),
        S("Caption", "Select SCC File"),
        I("CaptionAlign", 3),        I("CaptionPlacement", 1),  I("CaptionDelta", 0),
        I("IconAlign", 0),           I("IconDX", 0),            I("IconDY", 0),
        I("Bevel", 3),               I("HasMenu", 0),           B("Value", false),
        I("MenuValue", 0),           I("ButtonType", 0),        B("AcceptFocus", false),
        S("TextFont", "System"),     I("TextSize", 0),          B("Bold", false),
        B("Italic", false),          B("Underline", false),
    };
}

std::vector<PropertyEntry> timecodeBox() {
    return {
        S("Name", "TimecodeBox"),    I("Index", kNoIndex),      I("Left", 185),
        I("Top", 77),                I("Width", 146),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 2),
        B("TabStop", true),          S("Caption", "Include Timecode"),
        B("Enabled", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        B("Value", true),            S("DataSource", ""),       S("DataField", ""),
        S("InitialParent", ""),
    };
}

std::vector<PropertyEntry> lineBox() {
    return {
        S("Name", "LineBox"),        I("Index", kNoIndex),      I("Left", 185),
        I("Top", 45),                I("Width", 132),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 3),
        B("TabStop", true),          S("Caption", "Line by line form"),
        B("Enabled", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        B("Value", true),            S("DataSource", ""),       S("DataField", ""),
        S("InitialParent", ""),
    };
}

std::vector<PropertyEntry> paragraphBox() {
    return {
        S("Name", "ParagraphBox"),   I("Index", kNoIndex),      I("Left", 340),
        I("Top", 45),                I("Width", 127),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 4),
        B("TabStop", true),          S("Caption", "Paragraph form"),
        B("Enabled", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        B("Value", false),           S("DataSource", ""),       S("DataField", ""),
        S("InitialParent", ""),
    };
}

std::vector<PropertyEntry> staticText1() {
    return {
        S("Name", "StaticText1"),    I("Index", kNoIndex),      I("Left", 184),
        I("Top", 12),                I("Width", 273),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 5),
        S("Text", "Output text file settings:"),
        I("TextAlign", 0),           C("TextColor", 0, 0, 0),   B("Multiline", false),
        B("Enabled", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        S("DataSource", ""),         S("DataField", ""),        S("InitialParent", ""),
    };
}

std::vector<PropertyEntry> progressBar1() {
    return {
        S("Name", "ProgressBar1"),   I("Index", kNoIndex),      I("Left", 20),
        I("Top", 178),               I("Width", 436),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     B("Visible", true),
        S("HelpTag", ""),            B("AutoDeactivate", true), B("Enabled", true),
        I("Value", 0),               I("Maximum", 100),         S("InitialParent", ""),
    };
}

std::vector<PropertyEntry> progressText() {
    return {
        S("Name", "ProgressText"),   I("Index", kNoIndex),      I("Left", 170),
        I("Top", 177),               I("Width", 136),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 0),
        S("Text", "Reading SCC File..."),
        I("TextAlign", 1),           C("TextColor", 0, 0, 0),   B("Multiline", false),
        B("Enabled", true),          B("Visible", false),       S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        S("DataSource", ""),         S("DataField", ""),        S("InitialParent", "ProgressBar1"),
    };
}

std::vector<PropertyEntry> radioButton1() {
    return {
        S("Name", "RadioButton1"),   I("Index", kNoIndex),      I("Left", 185),
        I("Top", 114),               I("Width", 161),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 6),
        B("TabStop", true),          S("Caption", "Unbuffered timecode"),
        B("Enabled", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        B("Value", true),            S("InitialParent", ""),
    };
}

std::vector<PropertyEntry> radioButton2() {
    return {
        S("Name", "RadioButton2"),   I("Index", kNoIndex),      I("Left", 185),
        I("Top", 146),               I("Width", 153),           I("Height", 20),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 7),
        B("TabStop", true),          S("Caption", "Keep SCC timecode"),
        B("Enabled", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   S("TextFont", "System"),   I("TextSize", 0),
        B("Bold", false),            B("Italic", false),        B("Underline", false),
        B("Value", false),           S("InitialParent", ""),
    };
}

std::vector<PropertyEntry> bevelButton3() {
    return {
        S("Name", "BevelButton3"),   I("Index", kNoIndex),      I("Left", 350),
        I("Top", 146),               I("Width", 18),            I("Height", 16),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 8),
        B("TabStop", true),          S("InitialParent", ""),    B("Visible", true),
        S("HelpTag", ""),            B("AutoDeactivate", true), B("Enabled", true),
        S("Caption", "?"),
        I("CaptionAlign", 3),        I("CaptionPlacement", 1),  I("CaptionDelta", 0),
        I("IconAlign", 0),           I("IconDX", 0),            I("IconDY", 0),
        I("Bevel", 0),               I("HasMenu", 0),           B("Value", false),
        I("MenuValue", 0),           I("ButtonType", 0),        B("AcceptFocus", false),
        S("TextFont", "System"),     I("TextSize", 0),          B("Bold", false),
        B("Italic", false),          B("Underline", false),
    };
}

std::vector<PropertyEntry> bevelButton2() {
    return {
        S("Name", "BevelButton2"),   I("Index", kNoIndex),      I("Left", 350),
        I("Top", 114),               I("Width", 17),            I("Height", 16),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 9),
        B("TabStop", true),          S("InitialParent", ""),    B("Visible", true),
        S("HelpTag", ""),            B("AutoDeactivate", true), B("Enabled", true),
        S("Caption", "?"),
        I("CaptionAlign", 3),        I("CaptionPlacement", 1),  I("CaptionDelta", 0),
        I("IconAlign", 0),           I("IconDX", 0),            I("IconDY", 0),
        I("Bevel", 0),               I("HasMenu", 0),           B("Value", false),
        I("MenuValue", 0),           I("ButtonType", 0),        B("AcceptFocus", false),
        S("TextFont", "System"),     I("TextSize", 0),          B("Bold", false),
        B("Italic", false),          B("Underline", false),
    };
}

std::vector<PropertyEntry> canvas1() {
    return {
        S("Name", "Canvas1"),        I("Index", kNoIndex),      I("Left", 20),
        I("Top", 22),                I("Width", 129),           I("Height", 130),
        B("LockLeft", false),        B("LockTop", false),       B("LockRight", false),
        B("LockBottom", false),      I("TabPanelIndex", 0),     I("TabIndex", 10),
        B("TabStop", true),          B("Visible", true),        S("HelpTag", ""),
        B("AutoDeactivate", true),   B("Enabled", true),        B("UseFocusRing", true),
        B("AcceptFocus", false),     B("AcceptTabs", false),    B("EraseBackground", true),
        S("InitialParent", ""),
    };
}

ControlLayout make(const char* name, const char* className, const char* actionHandler,
                   std::vector<PropertyEntry> entries) {
    std::string encoded = tk::EncodePropertyList(entries);
    return {name, className, actionHandler, std::move(entries), std::move(encoded)};
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
    static const std::vector<ControlLayout> controls = {
        make("BevelButton1", "BevelButton", "BevelButton1_Action", bevelButton1()),
        make("TimecodeBox", "CheckBox", "TimecodeBox_Action", timecodeBox()),
        make("LineBox", "CheckBox", "LineBox_Action", lineBox()),
        make("ParagraphBox", "CheckBox", "ParagraphBox_Action", paragraphBox()),
        make("StaticText1", "StaticText", "", staticText1()),
        make("ProgressBar1", "ProgressBar", "", progressBar1()),
        make("ProgressText", "StaticText", "", progressText()),
        make("RadioButton1", "RadioButton", "", radioButton1()),
        make("RadioButton2", "RadioButton", "", radioButton2()),
        make("BevelButton3", "BevelButton", "BevelButton3_Action", bevelButton3()),
        make("BevelButton2", "BevelButton", "BevelButton2_Action", bevelButton2()),
        make("Canvas1", "Canvas", "", canvas1()),
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
