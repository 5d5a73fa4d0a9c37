#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "CommaLocale.h"
#include "toolkit/Exceptions.h"
#include "toolkit/StringList.h"
#include "toolkit/Strings.h"

namespace {

std::string Joined(const tk::StringList& list) {
    std::string out;
    for (const std::string& item : list.Items())
        out += item;
    return out;
}

}  // namespace

TEST(StringsReplace, ReplaceAllChangesEveryOccurrenceWithoutOverlapOrRescan) {
    EXPECT_EQ(tk::ReplaceAll("01:00:00;00", ";", ":"), "01:00:00:00");
    EXPECT_EQ(tk::ReplaceAll("a;b;;c;", ";", ":"), "a:b::c:");
    // Matches are taken left to right and do not overlap.
    EXPECT_EQ(tk::ReplaceAll("aaa", "aa", "a"), "aa");
    // What is inserted is not searched again, even when it holds the pattern.
    EXPECT_EQ(tk::ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(tk::ReplaceAll("xay", "a", "bab"), "xbaby");
    // An empty replacement deletes; an empty pattern changes nothing.
    EXPECT_EQ(tk::ReplaceAll("9420 9420 ", "9420 ", ""), "");
    EXPECT_EQ(tk::ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(tk::ReplaceAll("abc", "d", "x"), "abc");
    EXPECT_EQ(tk::ReplaceAll("\xE2\x99\xAA la \xE2\x99\xAA", "\xE2\x99\xAA", "#"), "# la #");
}

TEST(StringsReplace, ReplaceChangesTheFirstOccurrenceOnly) {
    EXPECT_EQ(tk::Replace("05,50", ",", "."), "05.50");
    EXPECT_EQ(tk::Replace("a,b,c", ",", ""), "ab,c");
    EXPECT_EQ(tk::Replace("aaa", "aa", "b"), "ba");
    EXPECT_EQ(tk::Replace("abc", "x", "y"), "abc");
    EXPECT_EQ(tk::Replace("abc", "", "y"), "abc");
    EXPECT_EQ(tk::Replace("xAAaa", "aa", "b"), "xbaa");
    EXPECT_EQ(tk::Replace("\xC3\x89 \xC3\xA9", "\xC3\xA9", "e"), "\xC3\x89 e");
}

TEST(StringsReplace, LettersMatchInEitherCase) {
    EXPECT_EQ(tk::ReplaceAll("Aa aA", "a", "x"), "xx xx");
    EXPECT_EQ(tk::ReplaceAll("97a1 97A1 97a", "97A1", ""), "  97a");
    EXPECT_EQ(tk::ReplaceAll("xABabAbA", "ab", "#"), "x###A");
    EXPECT_EQ(tk::ReplaceAll("AB1ab1aB", "ab1", "-"), "--aB");  // the pattern's digit comes last
    EXPECT_EQ(tk::ReplaceAll("9797A", "97a", "-"), "97-");
    // Left to right without overlap, adjacent matches all taken, the replacement going in
    // as given and not searched again.
    EXPECT_EQ(tk::ReplaceAll("AAA", "aa", "a"), "aA");
    EXPECT_EQ(tk::ReplaceAll("aAaA", "AA", "b"), "bb");
    EXPECT_EQ(tk::ReplaceAll("xAy", "a", "bAb"), "xbAby");
    // Only ASCII letters fold. "[" and "{", "@" and "`", "^" and "~" differ in the same
    // bit as "A" and "a" but stay apart, and so do the bytes of other characters
    // ("\xC3\x89" is \u00C9, "\xC3\xA9" is \u00E9).
    EXPECT_EQ(tk::ReplaceAll("[{ @` ^~", "[", "x"), "x{ @` ^~");
    EXPECT_EQ(tk::ReplaceAll("[{ @` ^~", "{", "x"), "[x @` ^~");
    EXPECT_EQ(tk::ReplaceAll("[{ @` ^~", "`", "x"), "[{ @x ^~");
    EXPECT_EQ(tk::ReplaceAll("[{ @` ^~", "~", "x"), "[{ @` ^x");
    EXPECT_EQ(tk::ReplaceAll("\xC3\x89t\xC3\xA9", "\xC3\xA9", "e"), "\xC3\x89te");
    EXPECT_EQ(tk::ReplaceAll("\xC3\x89T\xC3\xA9", "\xC3\xA9t", "e"), "\xC3\x89T\xC3\xA9");
    EXPECT_EQ(tk::ReplaceAll("\xC3\x89T\xC3\xA9", "\xC3\x89t", "e"), "e\xC3\xA9");
}

// A plain model of the rule: fold both texts' ASCII letters, search the folded copies,
// splice the original. Random texts from a small alphabet meet many near misses.
TEST(StringsReplace, AgreesWithFoldedSearchOnRandomTexts) {
    const auto folded = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return text;
    };
    const auto model = [&](const std::string& source, const std::string& find, const std::string& replacement,
                           bool firstOnly) {
        const std::string haystack = folded(source);
        const std::string needle = folded(find);
        std::string out;
        std::size_t from = 0;
        for (std::size_t hit = haystack.find(needle); !needle.empty() && hit != std::string::npos;
             hit = haystack.find(needle, from)) {
            out += source.substr(from, hit - from) + replacement;
            from = hit + needle.size();
            if (firstOnly)
                break;
        }
        return out + source.substr(from);
    };
    static const char alphabet[] = {'a', 'A', 'b', 'B', '9', '[', '{', ' ', '\xC3', '\xA9', '\x89'};
    std::mt19937 random(5);
    const auto text = [&](std::size_t maxLength) {
        std::string t(random() % (maxLength + 1), ' ');
        for (char& c : t)
            c = alphabet[random() % sizeof alphabet];
        return t;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string source = text(24);
        const std::string find = text(4);
        const std::string replacement = text(3);
        ASSERT_EQ(tk::ReplaceAll(source, find, replacement), model(source, find, replacement, false))
            << "\"" << source << "\" \"" << find << "\"";
        ASSERT_EQ(tk::Replace(source, find, replacement), model(source, find, replacement, true))
            << "\"" << source << "\" \"" << find << "\"";
    }
}

TEST(StringsSplit, SplitsAtEveryDelimiter) {
    EXPECT_EQ(tk::Split("00:00:01:15\t9420 9420", "\t"), (tk::StringList{"00:00:01:15", "9420 9420"}));
    EXPECT_EQ(tk::Split("a:b::c", ":"), (tk::StringList{"a", "b", "", "c"}));
    EXPECT_EQ(tk::Split(":a:", ":"), (tk::StringList{"", "a", ""}));
    EXPECT_EQ(tk::Split("a, b, c", ", "), (tk::StringList{"a", "b", "c"}));
    // An absent delimiter gives the whole text; an empty text is one empty piece.
    EXPECT_EQ(tk::Split("movie.scc", ";"), (tk::StringList{"movie.scc"}));
    EXPECT_EQ(tk::Split("", ":"), (tk::StringList{""}));
    EXPECT_EQ(tk::Split("12.5", ".").Get(0), "12");
}

TEST(StringsSplit, EmptyDelimiterGivesOneElementPerCharacter) {
    EXPECT_EQ(tk::Split("ab c", ""), (tk::StringList{"a", "b", " ", "c"}));
    // Multi-byte characters stay whole: 2, 3 and 4 bytes.
    EXPECT_EQ(tk::Split("\xC3\xA9\xE2\x99\xAA" "a\xF0\x9D\x84\x9E", ""),
              (tk::StringList{"\xC3\xA9", "\xE2\x99\xAA", "a", "\xF0\x9D\x84\x9E"}));
    EXPECT_EQ(tk::Split("", "").UBound(), -1);

    // Bytes that are not valid UTF-8 become one element each, and nothing is lost.
    const std::string broken = "a\xFF\xE2\x99" "b\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x99\xAA";
    const tk::StringList pieces = tk::Split(broken, "");
    EXPECT_EQ(Joined(pieces), broken);
    EXPECT_EQ(pieces.Count(), tk::Len(broken));
    EXPECT_EQ(pieces.Get(1), "\xFF");
    EXPECT_EQ(pieces.Get(2), "\xE2");  // a truncated sequence is not a character
    EXPECT_EQ(pieces.Get(pieces.UBound()), "\xE2\x99\xAA");
}

TEST(StringsLen, CountsCodePointsAndEachInvalidByteOnce) {
    EXPECT_EQ(tk::Len(""), 0);
    EXPECT_EQ(tk::Len("9420 9420 94ae 94ae 9452 9452"), 29);
    EXPECT_EQ(tk::Len("\xE2\x99\xAA"), 1);
    EXPECT_EQ(tk::Len("\xF0\x9D\x84\x9E"), 1);
    EXPECT_EQ(tk::Len(std::string("a\0b", 3)), 3);
    EXPECT_EQ(tk::Len("\xFF\xFE"), 2);
    EXPECT_EQ(tk::Len("\xE2\x99"), 2);          // truncated
    EXPECT_EQ(tk::Len("\xC0\xAF"), 2);          // overlong
    EXPECT_EQ(tk::Len("\xED\xA0\x80"), 3);      // surrogate
    EXPECT_EQ(tk::Len("\x99\xAA"), 2);          // lone continuation bytes
}

TEST(StringsChr, EncodesOneCodePoint) {
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
    EXPECT_EQ(tk::Str(0), "0");
    EXPECT_EQ(tk::Str(3723.5), "3723.5");
    EXPECT_EQ(tk::Str(-3.5), "-3.5");
    EXPECT_EQ(tk::Str(0.1), "0.1");
    EXPECT_EQ(tk::Str(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(tk::Str(1e-7), "0.0000001");
    EXPECT_EQ(tk::Str(123456789.125), "123456789.125");
    EXPECT_EQ(tk::Str(1.5 + 29.0 / 5.0 / 30.0), "1.6933333333333334");
    EXPECT_EQ(tk::Str(1e20), "100000000000000000000");
    EXPECT_EQ(tk::Str(1e300).size(), 301u);
    EXPECT_EQ(tk::Str(std::numeric_limits<double>::denorm_min()).find('e'), std::string::npos);
    // Values without digits.
    EXPECT_EQ(tk::Str(-0.0), "0");
    EXPECT_EQ(tk::Str(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(tk::Str(std::numeric_limits<double>::infinity()), "Infinity");
    EXPECT_EQ(tk::Str(-std::numeric_limits<double>::infinity()), "-Infinity");
}

TEST(StringsStr, ValReadsBackEveryTextStrWrites) {
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> times(0.0, 1e6);
    std::uniform_int_distribution<std::uint64_t> bits;
    const auto expectRoundTrip = [](double x) {
        const std::string text = tk::Str(x);
        ASSERT_EQ(text.find_first_of("eE,"), std::string::npos) << text;
        ASSERT_EQ(tk::Val(text), x) << text;
        if (x >= 0) {  // a "0" put in front changes nothing
            ASSERT_EQ(tk::Val("0" + text), x) << text;
        }
    };
    for (double x : {0.1, 1.0 / 3.0, 1e-7, 123456789.125, 0.06, 3599.9666666666667, 59.995,
                     std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                     std::numeric_limits<double>::denorm_min(), 9007199254740993.0, -2.5e-300})
        expectRoundTrip(x);
    for (int i = 0; i < 100000; ++i)
        expectRoundTrip(times(random));
    for (int i = 0; i < 20000; ++i) {
        // Any finite double, over all magnitudes.
        const std::uint64_t pattern = bits(random);
        double x = 0;
        std::memcpy(&x, &pattern, sizeof x);
        if (std::isfinite(x))
            expectRoundTrip(x);
    }
}

TEST(StringsVal, ReadsTheLeadingNumber) {
    EXPECT_EQ(tk::Val("05.5"), 5.5);
    EXPECT_EQ(tk::Val("001"), 1);
    EXPECT_EQ(tk::Val("-3.5x"), -3.5);
    EXPECT_EQ(tk::Val("+7"), 7);
    EXPECT_EQ(tk::Val(" 12"), 12);
    EXPECT_EQ(tk::Val(".5"), 0.5);
    EXPECT_EQ(tk::Val("5."), 5);
    EXPECT_EQ(tk::Val("12:34"), 12);
    // The exponent is not read: the number ends at the "e".
    EXPECT_EQ(tk::Val("1e5"), 1);
    EXPECT_EQ(tk::Val("2.5E-3"), 2.5);
    // "," is never a decimal point.
    EXPECT_EQ(tk::Val("1,5"), 1);
    // No number: 0.
    EXPECT_EQ(tk::Val(""), 0);
    EXPECT_EQ(tk::Val("abc"), 0);
    EXPECT_EQ(tk::Val("."), 0);
    EXPECT_EQ(tk::Val("- 5"), 0);
    EXPECT_EQ(tk::Val("\t5"), 0);
    EXPECT_EQ(tk::Val("0-0.00001"), 0);
    EXPECT_EQ(tk::Val("inf"), 0);
    EXPECT_EQ(tk::Val("Infinity"), 0);
    // More digits than a double holds.
    EXPECT_EQ(tk::Val(std::string(400, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(tk::Val("-" + std::string(400, '9')), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(tk::Val("0." + std::string(400, '0') + "1"), 0);
    EXPECT_EQ(tk::Val("1" + std::string(30, '0')), 1e30);
}

TEST(StringsFormat, PadsAndRoundsToThePattern) {
    EXPECT_EQ(tk::Format(5, "00"), "05");
    EXPECT_EQ(tk::Format(123, "00"), "123");
    EXPECT_EQ(tk::Format(7, "0"), "7");
    EXPECT_EQ(tk::Format(100, "0"), "100");
    EXPECT_EQ(tk::Format(5.5, "00.00"), "05.50");
    EXPECT_EQ(tk::Format(0.06, "00.00"), "00.06");
    EXPECT_EQ(tk::Format(1.693333, "00.00"), "01.69");
    EXPECT_EQ(tk::Format(59.996, "00.00"), "60.00");
    EXPECT_EQ(tk::Format(9.999, "0.00"), "10.00");
    EXPECT_EQ(tk::Format(999.5, "0"), "1000");
    EXPECT_EQ(tk::Format(1e20, "0"), "100000000000000000000");
    EXPECT_EQ(tk::Format(3.14159, "000.000"), "003.142");
    // Exact halves round away from zero; a double just below a half rounds down.
    EXPECT_EQ(tk::Format(2.5, "0"), "3");
    EXPECT_EQ(tk::Format(-2.5, "0"), "-3");
    EXPECT_EQ(tk::Format(0.125, "0.00"), "0.13");
    EXPECT_EQ(tk::Format(1.005, "0.00"), "1.00");    // 1.00499999999999989...
    EXPECT_EQ(tk::Format(59.995, "00.00"), "59.99");  // 59.99499999999999744...
    // Negative values keep their sign unless they round to zero.
    EXPECT_EQ(tk::Format(-5, "00"), "-05");
    EXPECT_EQ(tk::Format(-0.25, "00.00"), "-00.25");
    EXPECT_EQ(tk::Format(-0.001, "00.00"), "00.00");
    EXPECT_EQ(tk::Format(-0.0, "00"), "00");
    // Tiny values.
    EXPECT_EQ(tk::Format(std::numeric_limits<double>::denorm_min(), "00.00"), "00.00");
    EXPECT_EQ(tk::Format(0.005, "0.00"), "0.01");  // 0.005000000000000000104...
    // Values without digits are written as Str writes them.
    EXPECT_EQ(tk::Format(std::numeric_limits<double>::quiet_NaN(), "00.00"), "NaN");
    EXPECT_EQ(tk::Format(-std::numeric_limits<double>::infinity(), "0"), "-Infinity");
}

TEST(StringsFormat, RejectsPatternsItDoesNotKnow) {
    for (const char* pattern : {"", "#", "0.", ".00", "00.0.0", "0,00", "#,##0.00", "00 "})
        EXPECT_THROW(tk::Format(1.5, pattern), tk::UnsupportedFormatException) << pattern;
}

TEST(StringsMisc, FloorAndEndOfLine) {
    EXPECT_EQ(tk::Floor(2.7), 2);
    EXPECT_EQ(tk::Floor(-2.5), -3);
    EXPECT_EQ(tk::EndOfLine(), "\n");
}

TEST(StringsLocale, CommaDecimalLocaleChangesNothing) {
    quillet_test::CommaLocale comma;
    // The test is only meaningful if the locale really took effect.
    std::ostringstream probe;
    probe << 1.5;
    ASSERT_EQ(probe.str(), "1,5");
    if (comma.CLocaleChanged()) {
        char cText[16];
        std::snprintf(cText, sizeof cText, "%.1f", 1.5);
        ASSERT_STREQ(cText, "1,5");
    } else {
        std::cout << "[ note ] no C locale with a \",\" decimal separator is installed; "
                     "only the C++ global locale was changed\n";
    }

    EXPECT_EQ(tk::Str(75.25), "75.25");
    EXPECT_EQ(tk::Str(1234567.5), "1234567.5");
    EXPECT_EQ(tk::Val("75.25"), 75.25);
    EXPECT_EQ(tk::Val("1,5"), 1);
    EXPECT_EQ(tk::Format(5.5, "00.00"), "05.50");
    EXPECT_EQ(tk::Format(1234567.5, "0.0"), "1234567.5");
    for (double x : {0.1, 1.0 / 3.0, 3599.9666666666667})
        EXPECT_EQ(tk::Val(tk::Str(x)), x);
}

TEST(StringsPerformance, LongTextsAreHandledInOnePass) {
    // A quadratic ReplaceAll or Split would take minutes on this; a linear one, milliseconds.
    std::string text;
    for (int i = 0; i < 500000; ++i)
        text += "ab;";
    const std::string replaced = tk::ReplaceAll(text, ";", "::");
    EXPECT_EQ(replaced.size(), text.size() + 500000);
    EXPECT_EQ(tk::ReplaceAll(text, "aB;", ""), "");
    EXPECT_EQ(tk::ReplaceAll(text, "Ba", "x"), text);
    EXPECT_EQ(tk::Split(text, ";").Count(), 500001);
    EXPECT_EQ(tk::Split(text, "").Count(), 1500000);
    EXPECT_EQ(tk::Len(text), 1500000);
}

TEST(StringListTest, BadIndexRaisesOutOfBounds) {
    tk::StringList list;
    EXPECT_EQ(list.UBound(), -1);
    try {
        (void)list.Get(0);
        FAIL() << "Get on an empty list returned";
    } catch (const tk::OutOfBoundsException& e) {
        EXPECT_EQ(e.Kind(), "OutOfBoundsException");
        EXPECT_NE(std::string(e.what()).find("Index 0"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("-1"), std::string::npos) << e.what();
    }

    list.Append("a");
    list.Append("b");
    list.Append("c");
    EXPECT_EQ(list.UBound(), 2);
    list.Set(1, "B");
    EXPECT_EQ(list.Get(1), "B");
    EXPECT_EQ(list.Get(2), "c");
    EXPECT_THROW((void)list.Get(3), tk::OutOfBoundsException);
    EXPECT_THROW((void)list.Get(-1), tk::OutOfBoundsException);
    EXPECT_THROW(list.Set(3, "d"), tk::OutOfBoundsException);
    EXPECT_THROW(list.Set(std::numeric_limits<std::int64_t>::min(), "d"), tk::OutOfBoundsException);
    EXPECT_EQ(list, (tk::StringList{"a", "B", "c"}));  // failed sets changed nothing
    try {
        list.Set(7, "x");
        FAIL() << "Set past the end returned";
    } catch (const tk::RuntimeException& e) {
        EXPECT_NE(std::string(e.what()).find("7"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("2"), std::string::npos) << e.what();
    }

    list.RemoveAll();
    EXPECT_EQ(list.UBound(), -1);
    EXPECT_THROW((void)list.Get(0), tk::OutOfBoundsException);
}
