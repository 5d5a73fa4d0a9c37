#pragma once
// The runtime's string functions. Texts are UTF-8 std::strings. Nothing here depends on
// the C or C++ locale: "." is the decimal point whatever the user's settings.
#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/StringList.h"

namespace tk {

// Every occurrence of `find`, left to right, without overlap; the inserted text is not
// searched again and goes in as given. ASCII letters match in either case ("97a1" finds
// "97A1"); every other byte, including each byte of a non-ASCII character, must match
// exactly. An empty `find` leaves the text unchanged.
std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement);

// The first occurrence only, matched as by ReplaceAll. An empty `find` leaves the text
// unchanged.
std::string Replace(std::string_view source, std::string_view find, std::string_view replacement);

// The pieces between the delimiters, in order (one more than there are delimiters).
// A delimiter that does not occur gives the whole text (an empty text gives one empty
// piece); the empty delimiter gives one element per character (code point), so an empty
// text gives an empty list. Bytes that are not valid UTF-8 are one character each, so the
// elements always join back to the original bytes.
StringList Split(std::string_view text, std::string_view delimiter);

// Length in characters (code points), not bytes. Each byte that does not belong to a
// well-formed UTF-8 sequence counts as one character.
std::int64_t Len(std::string_view text);

// The UTF-8 text of one code point; a surrogate or a code above U+10FFFF gives U+FFFD.
std::string Chr(std::uint32_t code);

// Plain decimal text with "." as the point: the shortest text that reads back to the
// same double; never exponent form, at any magnitude. Whole numbers have no ".". Zero is
// "0" whatever its sign; NaN is "NaN" and the infinities "Infinity" and "-Infinity"
// (which Val reads as 0).
std::string Str(double value);

// The leading number of a text: optional spaces, an optional sign ("-" or "+"), digits
// with an optional "." and fraction (leading zeros allowed, ".5" and "5." accepted).
// Reading stops at the first other character, so an exponent is not read ("1e5" is 1);
// 0 when there is no number. Reads back every text Str writes to the same value. Digits
// beyond the range of a double give an infinity, or 0 when they are all below the point.
double Val(std::string_view text);

// The value formatted with a pattern of "0"s and an optional "." ("0", "00", "00.00"):
// at least as many integer digits as the pattern has before its point, exactly as many
// fraction digits as after it, rounded half away from zero, no grouping. The rounding
// works on the double's exact value (1.005 is a little below 1.005 and gives "1.00").
// A "-" is written only when the rounded value is not zero. NaN and the infinities are
// written as Str writes them. Any other pattern raises UnsupportedFormatException.
std::string Format(double value, std::string_view pattern);

double Floor(double value);

// The platform's line end: "\n" on Linux.
std::string EndOfLine();

}  // namespace tk
