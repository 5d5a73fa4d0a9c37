#include "toolkit/Strings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>
#include <vector>

#include "AsciiText.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Utf8.h"

namespace tk {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Text for the values that have no digits. Val reads none of these back (it reads
// numbers only), so a non-finite value that passes through text comes back as 0.
const char* nonFiniteText(double value) {
    if (std::isnan(value))
        return "NaN";
    return value > 0 ? "Infinity" : "-Infinity";
}

struct Pattern {
    std::size_t integerZeros = 0;
    std::size_t fractionZeros = 0;
};

Pattern parsePattern(std::string_view pattern) {
    Pattern p;
    std::size_t i = 0;
    while (i < pattern.size() && pattern[i] == '0')
        ++i;
    p.integerZeros = i;
    bool ok = p.integerZeros > 0;
    if (ok && i < pattern.size()) {
        ok = pattern[i] == '.';
        ++i;
        const std::size_t fractionStart = i;
        while (i < pattern.size() && pattern[i] == '0')
            ++i;
        p.fractionZeros = i - fractionStart;
        ok = ok && p.fractionZeros > 0 && i == pattern.size();
    }
    if (!ok)
        throw UnsupportedFormatException("The number format \"" + std::string(pattern) +
                                         "\" is not supported; use zeros with an optional "
                                         "point and more zeros, such as \"00.00\".");
    return p;
}

// Adds one unit in the last place to a string of decimal digits; may grow it by a digit.
void incrementDigits(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

}  // namespace

namespace {

// ASCII letters compare without regard to case; every other byte, UTF-8 lead and
// continuation bytes included, compares exactly. So "[" stays apart from "{" and "É"
// from "é".
using detail::AsciiLowerChar;

bool isAsciiLetter(char c) { return AsciiLowerChar(c) >= 'a' && AsciiLowerChar(c) <= 'z'; }

// Finds `find` in a text, ASCII letters matched in either case. A pattern without letters
// takes the library's exact search. Otherwise the scan looks with memchr for the
// pattern's first byte that is not a letter (a digit, in the caption codes this mostly
// serves), whose one spelling it can find at memory speed, and then compares the whole
// pattern around it. A pattern of letters only, or a short stretch of text where calling
// memchr costs more than it saves, is compared at every position, the anchor byte first.
class Finder {
public:
    explicit Finder(std::string_view find) : find_(find) {
        for (std::size_t i = 0; i < find_.size(); ++i) {
            const bool letter = isAsciiLetter(find_[i]);
            folding_ = folding_ || letter;
            if (!letter && anchor_ == std::string_view::npos)
                anchor_ = i;
        }
    }

    // The first match that starts at `from` or later, or npos.
    std::size_t next(std::string_view source, std::size_t from) const {
        if (!folding_)
            return source.find(find_, from);
        if (source.size() < find_.size() || from > source.size() - find_.size())
            return std::string_view::npos;
        const std::size_t last = source.size() - find_.size();  // the last possible start
        constexpr std::size_t kShortStretch = 16;
        if (anchor_ == std::string_view::npos || last - from < kShortStretch) {
            const std::size_t probe = anchor_ == std::string_view::npos ? 0 : anchor_;
            const char folded = AsciiLowerChar(find_[probe]);
            for (std::size_t pos = from; pos <= last; ++pos)
                if (AsciiLowerChar(source[pos + probe]) == folded && matchesAt(source, pos))
                    return pos;
            return std::string_view::npos;
        }
        const char anchor = find_[anchor_];
        for (std::size_t pos = from; pos <= last;) {
            const void* hit = std::memchr(source.data() + pos + anchor_, anchor, last - pos + 1);
            if (hit == nullptr)
                return std::string_view::npos;
            pos = static_cast<std::size_t>(static_cast<const char*>(hit) - source.data()) - anchor_;
            if (matchesAt(source, pos))
                return pos;
            ++pos;
        }
        return std::string_view::npos;
    }

private:
    bool matchesAt(std::string_view source, std::size_t pos) const {
        for (std::size_t i = 0; i < find_.size(); ++i)
            if (AsciiLowerChar(source[pos + i]) != AsciiLowerChar(find_[i]))
                return false;
        return true;
    }

    std::string_view find_;
    bool folding_ = false;                         // the pattern has a letter
    std::size_t anchor_ = std::string_view::npos;  // its first byte that is not a letter
};

// Every match left to right without overlap, or only the first. Most calls find nothing
// (the decoder's reference makes hundreds per line), so that way is kept short.
template <bool FirstOnly>
std::string replaceMatches(std::string_view source, std::string_view find, std::string_view replacement) {
    if (find.empty() || find.size() > source.size())
        return std::string(source);
    const Finder finder(find);
    std::size_t hit = finder.next(source, 0);
    if (hit == std::string_view::npos)
        return std::string(source);

    std::string out;
    out.reserve(source.size() - find.size() + replacement.size());
    std::size_t from = 0;
    do {
        out.append(source.substr(from, hit - from));
        out.append(replacement);
        from = hit + find.size();
    } while (!FirstOnly && (hit = finder.next(source, from)) != std::string_view::npos);
    out.append(source.substr(from));
    return out;
}

}  // namespace

std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement) {
    return replaceMatches<false>(source, find, replacement);
}

std::string Replace(std::string_view source, std::string_view find, std::string_view replacement) {
    return replaceMatches<true>(source, find, replacement);
}

StringList Split(std::string_view text, std::string_view delimiter) {
    std::vector<std::string> pieces;
    if (delimiter.empty()) {
        for (std::size_t pos = 0; pos < text.size();) {
            const std::size_t length = Utf8CharacterLength(text, pos);
            pieces.emplace_back(text.substr(pos, length));
            pos += length;
        }
        return StringList(std::move(pieces));
    }

    std::size_t from = 0;
    for (std::size_t hit = text.find(delimiter); hit != std::string_view::npos;
         hit = text.find(delimiter, from)) {
        pieces.emplace_back(text.substr(from, hit - from));
        from = hit + delimiter.size();
    }
    pieces.emplace_back(text.substr(from));
    return StringList(std::move(pieces));
}

std::int64_t Len(std::string_view text) {
    std::int64_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += Utf8CharacterLength(text, pos))
        ++count;
    return count;
}

std::string Chr(std::uint32_t code) {
    if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        code = 0xFFFD;
    std::string out;
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    return out;
}

std::string Str(double value) {
    if (!std::isfinite(value))
        return nonFiniteText(value);
    if (value == 0)
        return "0";  // also for -0: a time or count never shows a sign on nothing
    // The longest shortest-fixed text of a double is a subnormal: "-0." and 323 zeros
    // before its 17 significant digits, well inside this buffer.
    std::array<char, 400> buffer{};
    const auto [end, ec] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
    if (ec != std::errc())
        throw RuntimeException("A number could not be converted to text.");
    return std::string(buffer.data(), end);
}

double Val(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }

    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    const std::size_t integerEnd = i;
    std::size_t end = integerEnd;
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1;
        while (j < text.size() && isDigit(text[j]))
            ++j;
        if (j > i + 1)
            end = j;  // a point counts only with digits behind it
    }
    if (end == start)
        return 0.0;

    double value = 0.0;
    const auto [ptr, ec] =
        std::from_chars(text.data() + start, text.data() + end, value, std::chars_format::fixed);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Too many digits for a double: a large magnitude saturates to infinity, a tiny
        // one (only zeros before the point) becomes zero.
        const bool large = std::any_of(text.begin() + static_cast<std::ptrdiff_t>(start),
                                       text.begin() + static_cast<std::ptrdiff_t>(integerEnd),
                                       [](char c) { return c != '0'; });
        value = large ? HUGE_VAL : 0.0;
    } else if (ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

std::string Format(double value, std::string_view pattern) {
    const Pattern p = parsePattern(pattern);
    if (!std::isfinite(value))
        return nonFiniteText(value);

    // Exact decimal expansion of the double, so that the rounding below sees its true
    // value: a double with binary exponent e needs at most 53 - e fraction digits.
    int exponent = 0;
    std::frexp(value, &exponent);
    const std::size_t exactDigits = exponent < 53 ? static_cast<std::size_t>(53 - exponent) : 0;
    const std::size_t precision = std::max(exactDigits, p.fractionZeros + 1);
    std::string buffer(precision + 320, '\0');
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(value),
                                         std::chars_format::fixed, static_cast<int>(precision));
    if (ec != std::errc())
        throw RuntimeException("A number could not be formatted.");
    const std::string_view expansion(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    const std::size_t point = expansion.find('.');
    const std::string_view integerPart = expansion.substr(0, point);
    const std::string_view fraction = expansion.substr(point + 1);

    // Round half away from zero on the kept digits. The expansion is exact, so a first
    // dropped digit of 5 or more means at least half a unit is dropped.
    std::string digits(integerPart);
    digits.append(fraction.substr(0, p.fractionZeros));
    if (fraction[p.fractionZeros] >= '5')
        incrementDigits(digits);

    std::string integerDigits = digits.substr(0, digits.size() - p.fractionZeros);
    const std::string fractionDigits = digits.substr(digits.size() - p.fractionZeros);
    const std::size_t firstNonZero = integerDigits.find_first_not_of('0');
    integerDigits.erase(0, firstNonZero == std::string::npos ? integerDigits.size() : firstNonZero);
    if (integerDigits.size() < p.integerZeros)
        integerDigits.insert(0, p.integerZeros - integerDigits.size(), '0');

    // A value that rounds to nothing is written without a sign.
    const bool allZero = digits.find_first_not_of('0') == std::string::npos;
    std::string out;
    out.reserve(integerDigits.size() + fractionDigits.size() + 2);
    if (value < 0 && !allZero)
        out.push_back('-');
    out += integerDigits;
    if (p.fractionZeros > 0) {
        out.push_back('.');
        out += fractionDigits;
    }
    return out;
}

double Floor(double value) { return std::floor(value); }

std::string EndOfLine() { return "\n"; }

}  // namespace tk
