#pragma once
// Layout property lists: the packed design-time properties of a window or a control.
// Each entry is the property name, one space, then the value encoded by the property's
// declared type (Boolean 1 byte; Integer 4 bytes signed big-endian; Color 3 bytes r,g,b;
// String a 4-byte big-endian byte count then the UTF-8 bytes). Nothing in the bytes
// names the type: the reader takes it from the target's class.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tk {

class ClassRecord;
class Object;

enum class PropertyType { Boolean, Integer, Color, String };

struct Color {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Color&) const = default;
};

using PropertyValue = std::variant<bool, std::int32_t, Color, std::string>;

struct PropertyEntry {
    std::string name;
    PropertyType type;
    PropertyValue value;
};

// Encodes the entries in order. Throws UnsupportedFormatException when a value does not
// match its entry's type or a name is not made of ASCII letters and digits.
std::string EncodePropertyList(const std::vector<PropertyEntry>& entries);

// Decodes a whole list by the property types declared in `cls` and its ancestors (the
// name's letter case does not matter). The list must be consumed to its last byte: a
// name without its space, an empty name, an unknown property, a property without a
// layout type, a value running past the end, or bytes left over raise
// UnsupportedFormatException naming the property and the byte offset. Nothing is ever
// read past the end.
std::vector<PropertyEntry> DecodePropertyList(std::string_view bytes, const ClassRecord& cls);

// Decodes the list by the target's class and applies every property to it, in order.
// The target must be a Window or a control. The whole list is decoded before any
// property is applied, so a bad list changes nothing.
void _SetProperties(Object& target, std::string_view bytes);

}  // namespace tk
