#pragma once
// The runtime's string functions. Texts are UTF-8 std::strings. Nothing here depends on
// the C or C++ locale: "." is the decimal point whatever the user's settings.
#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/StringList.h"

namespace tk {

// Every occurrence of `find`, left to right, without overlap; the inserted text is not
// searched again. Matching is case-sensitive. An empty `find` leaves the text unchanged.
std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement);

// The first occurrence only.
std::string Replace(std::string_view source, std::string_view find, std::string_view replacement);

// The pieces between the delimiters, in order (one more than there are delimiters).
// A delimiter that does not occur gives the whole text; the empty delimiter gives one
// element per character (code point).
StringList Split(std::string_view text, std::string_view delimiter);

// Length in characters (code points), not bytes.
std::int64_t Len(std::string_view text);

// The UTF-8 text of one code point.
std::string Chr(std::uint32_t code);

// Plain decimal text with "." as the point: the shortest text that reads back to the
// same double; no exponent form for magnitudes below 1e15. Whole numbers have no ".".
std::string Str(double value);

// The leading number of a text: optional spaces, an optional sign, digits with an
// optional "." and fraction. Reading stops at the first other character; 0 when there
// is no number.
double Val(std::string_view text);

// The value formatted with a pattern of "0"s and an optional "." ("0", "00", "00.00"):
// at least as many integer digits as the pattern has before its point, exactly as many
// fraction digits as after it, rounded half away from zero, no grouping.
std::string Format(double value, std::string_view pattern);

double Floor(double value);

// The platform's line end: "\n" on Linux.
std::string EndOfLine();

}  // namespace tk
