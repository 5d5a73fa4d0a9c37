#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "toolkit/Exceptions.h"
#include "toolkit/StringList.h"
#include "toolkit/Strings.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kDenormMin = std::numeric_limits<double>::denorm_min();

}  // namespace

TEST(StringsReplace, LeftToRightWithoutOverlapOrRescanLettersInEitherCase) {
    const struct {
        const char *source, *find, *replacement, *all, *first;
    } rows[] = {
        {"01:00:00;00", ";", ":", "01:00:00:00", "01:00:00:00"},
        {"a;b;;c;", ";", ":", "a:b::c:", "a:b;;c;"},
        {"a,b,c", ",", "", "abc", "ab,c"},
        {"aaa", "aa", "a", "aa", "aa"},              // no overlap
        {"aaa", "a", "aa", "aaaaaa", "aaaa"},        // what goes in is not searched again
        {"9420 9420 ", "9420 ", "", "", "9420 "},   // an empty replacement deletes
        {"abc", "", "x", "abc", "abc"},             // an empty pattern changes nothing
        {"abc", "d", "x", "abc", "abc"},
        {"\xE2\x99\xAA la \xE2\x99\xAA", "\xE2\x99\xAA", "#", "# la #", "# la \xE2\x99\xAA"},
        // ASCII letters match in either case; the replacement goes in as given.
        {"Aa aA", "a", "x", "xx xx", "xa aA"},
        {"97a1 97A1 97a", "97A1", "", "  97a", " 97A1 97a"},
        {"xABabAbA", "ab", "#", "x###A", "x#abAbA"},
        {"AB1ab1aB", "ab1", "-", "--aB", "-ab1aB"},  // the pattern's digit comes last
        {"9797A", "97a", "-", "97-", "97-"},
        {"AAA", "aa", "a", "aA", "aA"},
        {"aAaA", "AA", "b", "bb", "baA"},
        {"xAy", "a", "bAb", "xbAby", "xbAby"},
        {"xAAaa", "aa", "b", "xbb", "xbaa"},
        // Only ASCII letters fold, not the bytes of "\u00C9" and "\u00E9".
        {"\xC3\x89t\xC3\xA9", "\xC3\xA9", "e", "\xC3\x89te", "\xC3\x89te"},
        {"\xC3\x89T\xC3\xA9", "\xC3\x89t", "e", "e\xC3\xA9", "e\xC3\xA9"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(tk::ReplaceAll(r.source, r.find, r.replacement), r.all) << r.source << " / " << r.find;
        EXPECT_EQ(tk::Replace(r.source, r.find, r.replacement), r.first) << r.source << " / " << r.find;
    }
    // "[" and "{", "@" and "`", "^" and "~" differ in the same bit as "A" and "a" but stay apart.
    for (const char c : std::string("[{@`^~")) {
        std::string expected = "[{ @` ^~";
        expected[expected.find(c)] = 'x';
        EXPECT_EQ(tk::ReplaceAll("[{ @` ^~", std::string(1, c), "x"), expected) << c;
    }
}

TEST(StringsSplit, SplitsAtEveryDelimiterOrIntoCharacters) {
    EXPECT_EQ(tk::Split("00:00:01:15\t9420 9420", "\t"), (tk::StringList{"00:00:01:15", "9420 9420"}));
    EXPECT_EQ(tk::Split("a:b::c", ":"), (tk::StringList{"a", "b", "", "c"}));
    EXPECT_EQ(tk::Split(":a:", ":"), (tk::StringList{"", "a", ""}));
    EXPECT_EQ(tk::Split("a, b, c", ", "), (tk::StringList{"a", "b", "c"}));
    // An absent delimiter gives the whole text; an empty text is one empty piece.
    EXPECT_EQ(tk::Split("movie.scc", ";"), (tk::StringList{"movie.scc"}));
    EXPECT_EQ(tk::Split("", ":"), (tk::StringList{""}));

    // An empty delimiter: one element per character, multi-byte ones (2, 3 and 4 bytes)
    // whole.
    EXPECT_EQ(tk::Split("ab c", ""), (tk::StringList{"a", "b", " ", "c"}));
    EXPECT_EQ(tk::Split("\xC3\xA9\xE2\x99\xAA" "a\xF0\x9D\x84\x9E", ""),
              (tk::StringList{"\xC3\xA9", "\xE2\x99\xAA", "a", "\xF0\x9D\x84\x9E"}));
    EXPECT_EQ(tk::Split("", "").UBound(), -1);
    // Bytes that are not valid UTF-8 become one element each, and nothing is lost.
    const std::string broken = "a\xFF\xE2\x99" "b\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x99\xAA";
    const tk::StringList pieces = tk::Split(broken, "");
    std::string joined;
    for (const std::string& piece : pieces.Items())
        joined += piece;
    EXPECT_EQ(joined, broken);
    EXPECT_EQ(pieces.Count(), tk::Len(broken));
    EXPECT_EQ(pieces.Get(1), "\xFF");
    EXPECT_EQ(pieces.Get(2), "\xE2");  // a truncated sequence is not a character
    EXPECT_EQ(pieces.Get(pieces.UBound()), "\xE2\x99\xAA");
}

TEST(StringsLenAndChr, CountCodePointsAndEachInvalidByteOnce) {
    const std::pair<std::string, int> lengths[] = {
        {"", 0}, {"9420 9420 94ae 94ae 9452 9452", 29}, {"\xE2\x99\xAA", 1}, {"\xF0\x9D\x84\x9E", 1},
        {std::string("a\0b", 3), 3}, {"\xFF\xFE", 2},
        {"\xE2\x99", 2}, {"\xC0\xAF", 2}, {"\xED\xA0\x80", 3}, {"\x99\xAA", 2},  // truncated, overlong, surrogate, lone
    };
    for (const auto& [text, length] : lengths)
        EXPECT_EQ(tk::Len(text), length) << text;

    EXPECT_EQ(tk::Chr(9), "\t");
    EXPECT_EQ(tk::Chr(0), std::string(1, '\0'));
    EXPECT_EQ(tk::Chr(0x266A), "\xE2\x99\xAA");
    EXPECT_EQ(tk::Chr(0x1D11E), "\xF0\x9D\x84\x9E");
    for (std::uint32_t code : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu})
        EXPECT_EQ(tk::Len(tk::Chr(code)), 1) << code;
    // Codes that are no character give the replacement character.
    EXPECT_EQ(tk::Chr(0xD800), "\xEF\xBF\xBD");
    EXPECT_EQ(tk::Chr(0x110000), "\xEF\xBF\xBD");
}

TEST(StringsStr, WritesPlainShortestDecimals) {
    const std::pair<double, const char*> rows[] = {
        {0, "0"}, {3723.5, "3723.5"}, {-3.5, "-3.5"}, {0.1, "0.1"}, {1.0 / 3.0, "0.3333333333333333"},
        {1e-7, "0.0000001"}, {123456789.125, "123456789.125"}, {1.5 + 29.0 / 5.0 / 30.0, "1.6933333333333334"},
        {1e20, "100000000000000000000"}, {-0.0, "0"}, {kNaN, "NaN"}, {kInf, "Infinity"}, {-kInf, "-Infinity"},
    };
    for (const auto& [value, text] : rows)
        EXPECT_EQ(tk::Str(value), text) << text;
    EXPECT_EQ(tk::Str(1e300).size(), 301u);
    EXPECT_EQ(tk::Str(kDenormMin).find('e'), std::string::npos);
}

TEST(StringsVal, ReadsTheLeadingNumber) {
    const std::pair<std::string, double> rows[] = {
        {"05.5", 5.5}, {"001", 1}, {"-3.5x", -3.5}, {"+7", 7}, {" 12", 12}, {".5", 0.5}, {"5.", 5}, {"12:34", 12},
        {"1e5", 1}, {"2.5E-3", 2.5},  // the exponent is not read
        {"1,5", 1},                   // "," is never a decimal point
        // No number: 0.
        {"", 0}, {"abc", 0}, {".", 0}, {"- 5", 0}, {"\t5", 0}, {"0-0.00001", 0}, {"inf", 0}, {"Infinity", 0},
        // More digits than a double holds.
        {std::string(400, '9'), kInf}, {"-" + std::string(400, '9'), -kInf}, {"0." + std::string(400, '0') + "1", 0},
        {"1" + std::string(30, '0'), 1e30},
    };
    for (const auto& [text, value] : rows)
        EXPECT_EQ(tk::Val(text), value) << text;
}

TEST(StringsFormat, PadsAndRoundsToThePatternOrRejectsIt) {
    const struct {
        double value;
        const char *pattern, *text;
    } rows[] = {
        {5, "00", "05"}, {123, "00", "123"}, {7, "0", "7"}, {100, "0", "100"}, {5.5, "00.00", "05.50"},
        {0.06, "00.00", "00.06"}, {1.693333, "00.00", "01.69"}, {59.996, "00.00", "60.00"}, {9.999, "0.00", "10.00"},
        {999.5, "0", "1000"}, {1e20, "0", "100000000000000000000"}, {3.14159, "000.000", "003.142"},
        // Exact halves round away from zero; a double just below a half rounds down.
        {2.5, "0", "3"}, {-2.5, "0", "-3"}, {0.125, "0.00", "0.13"},
        {1.005, "0.00", "1.00"},     // 1.00499999999999989...
        {59.995, "00.00", "59.99"},  // 59.99499999999999744...
        {0.005, "0.00", "0.01"},     // 0.005000000000000000104...
        // Negative values keep their sign unless they round to zero.
        {-5, "00", "-05"}, {-0.25, "00.00", "-00.25"}, {-0.001, "00.00", "00.00"}, {-0.0, "00", "00"},
        {kDenormMin, "00.00", "00.00"},
        // Values without digits are written as Str writes them.
        {kNaN, "00.00", "NaN"}, {-kInf, "0", "-Infinity"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(tk::Format(r.value, r.pattern), r.text) << r.value << " as " << r.pattern;
    for (const char* pattern : {"", "#", "0.", ".00", "00.0.0", "0,00", "#,##0.00", "00 "})
        EXPECT_THROW(tk::Format(1.5, pattern), tk::UnsupportedFormatException) << pattern;
}

TEST(StringListTest, BadIndexRaisesOutOfBoundsAndChangesNothing) {
    tk::StringList list;
    EXPECT_THROW((void)list.Get(0), tk::OutOfBoundsException);
    list = {"a", "b", "c"};
    EXPECT_THROW((void)list.Get(3), tk::OutOfBoundsException);
    EXPECT_THROW((void)list.Get(-1), tk::OutOfBoundsException);
    EXPECT_THROW(list.Set(3, "d"), tk::OutOfBoundsException);
    EXPECT_THROW(list.Set(std::numeric_limits<std::int64_t>::min(), "d"), tk::OutOfBoundsException);
    EXPECT_EQ(list, (tk::StringList{"a", "b", "c"}));  // failed sets changed nothing
    list.RemoveAll();
    EXPECT_EQ(list.UBound(), -1);
}
