#include "toolkit/PropertyList.h"

#include <algorithm>

#include "RuntimeInternal.h"
#include "toolkit/Controls.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Runtime.h"
#include "toolkit/Window.h"

namespace tk {
namespace {

void appendInt32(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>((v >> 24) & 0xFF));
    out.push_back(static_cast<char>((v >> 16) & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
    out.push_back(static_cast<char>(v & 0xFF));
}

// A name as it may be quoted in a message: bytes that are not printable ASCII become "?",
// and a long run is cut, so a corrupt list cannot fill the report with binary junk.
std::string Printable(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < 40; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    if (bytes.size() > 40)
        out += "...";
    return out;
}

std::uint32_t ReadUInt32(std::string_view bytes, std::size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

[[noreturn]] void Fail(const ClassRecord& cls, const std::string& what) {
    throw UnsupportedFormatException("Layout property list for " + cls.Name() + ": " + what);
}

}  // namespace

std::string EncodePropertyList(const std::vector<PropertyEntry>& entries) {
    std::string out;
    for (const PropertyEntry& e : entries) {
        if (e.name.empty())
            throw UnsupportedFormatException("A layout property has an empty name.");
        for (char c : e.name)
            if (!detail::IsAsciiAlnum(c))
                throw UnsupportedFormatException("Layout property name \"" + e.name +
                                                 "\" is not made of ASCII letters and digits.");
        out += e.name;
        out.push_back(' ');
        const bool matches = (e.type == PropertyType::Boolean && std::holds_alternative<bool>(e.value)) ||
                             (e.type == PropertyType::Integer && std::holds_alternative<std::int32_t>(e.value)) ||
                             (e.type == PropertyType::Color && std::holds_alternative<Color>(e.value)) ||
                             (e.type == PropertyType::String && std::holds_alternative<std::string>(e.value));
        if (!matches)
            throw UnsupportedFormatException("Layout property \"" + e.name + "\" has a value of another type.");
        switch (e.type) {
        case PropertyType::Boolean:
            out.push_back(std::get<bool>(e.value) ? '\x01' : '\x00');
            break;
        case PropertyType::Integer:
            appendInt32(out, static_cast<std::uint32_t>(std::get<std::int32_t>(e.value)));
            break;
        case PropertyType::Color: {
            const Color& c = std::get<Color>(e.value);
            out.push_back(static_cast<char>(c.red));
            out.push_back(static_cast<char>(c.green));
            out.push_back(static_cast<char>(c.blue));
            break;
        }
        case PropertyType::String: {
            const std::string& s = std::get<std::string>(e.value);
            appendInt32(out, static_cast<std::uint32_t>(s.size()));
            out += s;
            break;
        }
        }
    }
    return out;
}

std::vector<PropertyEntry> DecodePropertyList(std::string_view bytes, const ClassRecord& cls) {
    std::vector<PropertyEntry> entries;
    std::size_t pos = 0;
    const std::size_t size = bytes.size();
    std::string previous;  // the last entry read, to place an error that has no name
    while (pos < size) {
        const std::size_t nameStart = pos;
        const std::size_t space = bytes.find(' ', pos);
        if (space == std::string_view::npos) {
            Fail(cls, std::to_string(size - nameStart) + " trailing byte(s) \"" + Printable(bytes.substr(nameStart)) +
                          "\" at byte offset " + std::to_string(nameStart) + (previous.empty() ? std::string() : " after property \"" + previous + "\"") +
                          " form no entry: the space after a property name is missing");
        }
        const std::string_view name = bytes.substr(nameStart, space - nameStart);
        if (name.empty())
            Fail(cls, "empty property name at byte offset " + std::to_string(nameStart));
        if (!std::all_of(name.begin(), name.end(), detail::IsAsciiAlnum))
            Fail(cls, "property name \"" + Printable(name) + "\" at byte offset " + std::to_string(nameStart) +
                          " is not made of ASCII letters and digits");
        const PropertyDecl* decl = cls.FindProperty(name);
        if (!decl)
            Fail(cls, "unknown property \"" + std::string(name) + "\" at byte offset " + std::to_string(nameStart));
        const std::optional<PropertyType> type = decl->LayoutType();
        if (!type)
            Fail(cls, "property \"" + std::string(name) + "\" at byte offset " + std::to_string(nameStart) +
                          " (type \"" + decl->typeCode + "\") cannot be set from a layout list");

        std::size_t at = space + 1;
        auto need = [&](std::size_t n, const char* what) {
            if (size - at < n)
                Fail(cls, std::string("the ") + what + " of property \"" + std::string(name) + "\" at byte offset " +
                              std::to_string(at) + " runs past the end of the list (needs " + std::to_string(n) +
                              " byte(s), " + std::to_string(size - at) + " left)");
        };
        PropertyEntry entry{std::string(name), *type, false};
        switch (*type) {
        case PropertyType::Boolean: {
            need(1, "value");
            const unsigned char b = static_cast<unsigned char>(bytes[at]);
            if (b > 1)
                Fail(cls, "the Boolean value of property \"" + std::string(name) + "\" at byte offset " +
                              std::to_string(at) + " is neither 00 nor 01");
            entry.value = b == 1;
            at += 1;
            break;
        }
        case PropertyType::Integer:
            need(4, "value");
            entry.value = static_cast<std::int32_t>(ReadUInt32(bytes, at));
            at += 4;
            break;
        case PropertyType::Color:
            need(3, "value");
            entry.value = Color{static_cast<std::uint8_t>(bytes[at]), static_cast<std::uint8_t>(bytes[at + 1]),
                                static_cast<std::uint8_t>(bytes[at + 2])};
            at += 3;
            break;
        case PropertyType::String: {
            need(4, "byte count");
            const std::uint32_t count = ReadUInt32(bytes, at);
            at += 4;
            need(count, "text");
            entry.value = std::string(bytes.substr(at, count));
            at += count;
            break;
        }
        }
        previous = entry.name;
        entries.push_back(std::move(entry));
        pos = at;
    }
    return entries;
}

void _SetProperties(Object& target, std::string_view bytes) {
    const ClassRecord* cls = target.Class();
    if (!cls)
        throw UnsupportedFormatException("Layout properties cannot be set on an object without a class record.");
    auto* window = dynamic_cast<Window*>(&target);
    auto* control = dynamic_cast<RectControl*>(&target);
    if (!window && !control)
        throw UnsupportedFormatException("Layout properties can be set only on a window or a control, not on a " +
                                         cls->Name() + ".");
    const std::vector<PropertyEntry> entries = DecodePropertyList(bytes, *cls);
    for (const PropertyEntry& e : entries) {
        if (window)
            window->ApplyLayoutProperty(e);
        else
            control->ApplyLayoutProperty(e);
    }
}

namespace detail {

void StoreLayoutProperty(std::vector<PropertyEntry>& store, const PropertyEntry& entry) {
    for (PropertyEntry& p : store) {
        if (EqualsIgnoringAsciiCase(p.name, entry.name)) {
            p = entry;
            return;
        }
    }
    store.push_back(entry);
}

const PropertyValue* FindLayoutProperty(const std::vector<PropertyEntry>& store, std::string_view name) {
    for (const PropertyEntry& p : store)
        if (EqualsIgnoringAsciiCase(p.name, name))
            return &p.value;
    return nullptr;
}

}  // namespace detail
}  // namespace tk
