// Layout property lists on any bytes. The input's first byte picks the class whose
// declared property types the list is read by; the rest is the list. DecodePropertyList
// must never crash nor read past the end; it either raises UnsupportedFormatException
// naming a byte offset inside the list, or gives entries that the class declares with
// those types and that EncodePropertyList turns back into the very same bytes (nothing in
// the format is optional or has two spellings, and names keep their letter case).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Menus.h"
#include "toolkit/PropertyList.h"
#include "toolkit/Runtime.h"
#include "toolkit/Strings.h"
#include "toolkit/Window.h"

namespace {

const std::vector<const tk::ClassRecord*>& Classes() {
    static const std::vector<const tk::ClassRecord*> classes = {
        &tk::Window::__Lookup(),     &tk::CheckBox::__Lookup(),   &tk::RadioButton::__Lookup(),
        &tk::BevelButton::__Lookup(), &tk::StaticText::__Lookup(), &tk::ProgressBar::__Lookup(),
        &tk::Canvas::__Lookup(),     &tk::RectControl::__Lookup(), &tk::MenuItem::__Lookup(),
        &tk::MenuBar::__Lookup(),    &tk::Application::__Lookup()};
    return classes;
}

// Every "byte offset N" in the message names a place inside the list.
void CheckOffsets(const std::string& message, std::string_view list) {
    const std::string_view marker = "byte offset ";
    std::size_t at = message.find(marker);
    fuzz::Check(at != std::string::npos, "the message names no byte offset: " + message);
    for (; at != std::string::npos; at = message.find(marker, at + 1)) {
        const std::size_t digits = at + marker.size();
        const std::size_t end = std::min(message.find_first_not_of("0123456789", digits), message.size());
        fuzz::Check(end > digits && end - digits < 12 && tk::Val(message.substr(digits, end - digits)) <= double(list.size()),
                    "the message names an offset outside the list: " + message + "\n  list: " + fuzz::Shown(list));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const tk::ClassRecord& cls = *Classes()[data[0] % Classes().size()];
    // The list gets a heap block of its own size, so that AddressSanitizer catches a read
    // even one byte past its end.
    const std::string list(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::vector<tk::PropertyEntry> entries;
    try {
        entries = tk::DecodePropertyList(list, cls);
    } catch (const tk::UnsupportedFormatException& e) {
        CheckOffsets(e.what(), list);
        return 0;
    } catch (const std::exception& e) {
        fuzz::Fail(std::string("DecodePropertyList raised something other than UnsupportedFormatException: ") + e.what());
    }

    for (const tk::PropertyEntry& entry : entries) {
        const tk::PropertyDecl* decl = cls.FindProperty(entry.name);
        fuzz::Check(decl != nullptr, "a decoded entry \"" + entry.name + "\" that " + cls.Name() + " does not declare");
        fuzz::Check(decl->LayoutType() == entry.type, "the entry \"" + entry.name + "\" has another type than declared");
    }
    std::string encoded;
    try {
        encoded = tk::EncodePropertyList(entries);
    } catch (const std::exception& e) {
        fuzz::Fail(std::string("a decoded list does not encode: ") + e.what());
    }
    fuzz::CheckEqual(encoded, list, "the decoded list of " + cls.Name() + " encodes to other bytes");
    return 0;
}
