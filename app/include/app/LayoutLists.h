#pragma once
// The design-time properties of the main window and of its twelve controls, as layout
// property lists. Each list is kept as a readable table and encoded once, on first use;
// every window applies the same bytes.
#include <string>
#include <vector>

#include "toolkit/PropertyList.h"

namespace quillet::layout {

struct ControlLayout {
    std::string name;       // the name the window holds the control under
    std::string className;  // the toolkit class it is created from
    std::string actionHandler;  // the window method bound to its "Action" event, or ""
    std::vector<tk::PropertyEntry> entries;
    std::string encoded;    // EncodePropertyList(entries)
};

// The main window's own list (21 entries).
const std::vector<tk::PropertyEntry>& WindowEntries();
const std::string& WindowList();

// The twelve controls in creation order.
const std::vector<ControlLayout>& Controls();

// The control of that name, or nullptr.
const ControlLayout* FindControl(const std::string& name);

}  // namespace quillet::layout
