#include "toolkit/PropertyList.h"

#include "toolkit/Exceptions.h"

namespace tk {
namespace {

void appendInt32(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>((v >> 24) & 0xFF));
    out.push_back(static_cast<char>((v >> 16) & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
    out.push_back(static_cast<char>(v & 0xFF));
}

bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string EncodePropertyList(const std::vector<PropertyEntry>& entries) {
    std::string out;
    for (const PropertyEntry& e : entries) {
        if (e.name.empty())
            throw UnsupportedFormatException("A layout property has an empty name.");
        for (char c : e.name)
            if (!isAsciiAlnum(c))
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

}  // namespace tk
