#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "../toolkit/CommaLocale.h"
#include "decoding/Timecode.h"
#include "toolkit/Strings.h"

using quillet::returnTimecode;
using quillet::timeCodeToSeconds;
using quillet::timecodeToSecondsSCC;
using quillet::unbufferedTimecode;
using quillet::unbufferedTimecodeLiteral;

namespace {

const double kInf = std::numeric_limits<double>::infinity();

// A code field of `length` characters made of four-digit groups and single spaces.
std::string CodeField(std::size_t length) {
    std::string field;
    while (field.size() < length)
        field += "9420 ";
    field.resize(length);
    return field;
}

// The fast road and the literal steps write the same text for this line.
::testing::AssertionResult SameAsLiteral(std::string_view timecode, std::string_view codeField) {
    const std::string fast = unbufferedTimecode(timecode, codeField);
    const std::string literal = unbufferedTimecodeLiteral(timecode, codeField);
    if (fast == literal)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << ::testing::PrintToString(std::string(timecode).substr(0, 80))
                                         << " with code field "
                                         << ::testing::PrintToString(std::string(codeField).substr(0, 80))
                                         << ": fast " << fast << ", literal " << literal;
}

// A timecode whose seconds field is the text of x, so that the time is exactly x.
std::string SecondsTimecode(double x) { return "00:00:" + tk::Str(x) + ":00"; }

}  // namespace

TEST(ReturnTimecode, WritesHoursMinutesAndHundredthsCarriesAndClamps) {
    const struct {
        double seconds;
        const char* expected;
    } rows[] = {
        {0, "00:00:00.00"}, {5, "00:00:05.00"}, {59.5, "00:00:59.50"}, {60, "00:01:00.00"},
        {75.25, "00:01:15.25"}, {3599.5, "00:59:59.50"}, {3600, "01:00:00.00"}, {7384.5, "02:03:04.50"},
        {32400, "09:00:00.00"}, {36000, "10:00:00.00"}, {86400, "24:00:00.00"}, {360000.5, "100:00:00.50"},
        {0.06, "00:00:00.06"}, {10.004, "00:00:10.00"}, {9.995, "00:00:09.99"}, {120.125, "00:02:00.13"},
        // Seconds that round to 60 are carried, into the hours too.
        {59.996, "00:01:00.00"}, {119.999, "00:02:00.00"}, {3599.996, "01:00:00.00"},
        {35999.999, "10:00:00.00"}, {86399.999, "24:00:00.00"}, {359999.996, "100:00:00.00"},
        {3659.999, "01:01:00.00"},
        // s / 60 lands a hair below a whole minute and its quotient rounds up to it.
        {std::nextafter(120.0, 0.0), "00:02:00.00"}, {std::nextafter(3600.0, 0.0), "01:00:00.00"},
        // No time before the start; hours grow up to a billion, and later times stop there.
        {-1, "00:00:00.00"}, {-0.0, "00:00:00.00"}, {-kInf, "00:00:00.00"},
        {std::numeric_limits<double>::quiet_NaN(), "00:00:00.00"}, {3.6e9 + 61.5, "1000000:01:01.50"},
        {3.6e12, "1000000000:00:00.00"}, {1e20, "1000000000:00:00.00"},
        {std::numeric_limits<double>::max(), "1000000000:00:00.00"}, {kInf, "1000000000:00:00.00"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(returnTimecode(row.seconds), row.expected) << row.seconds;
}

TEST(ReturnTimecode, AnyTimeGivesMinutesAndSecondsInRangeNearTheTime) {
    std::mt19937_64 random(1103);
    std::uniform_real_distribution<double> shortTimes(0.0, 400000.0), magnitudes(-3.0, 12.5);
    const std::regex shape("(\\d{2,}):([0-5]\\d):([0-5]\\d\\.\\d\\d)");  // hours at least two digits
    for (int i = 0; i < 40000; ++i) {
        const double s = i % 2 ? shortTimes(random) : std::pow(10.0, magnitudes(random));
        const std::string text = returnTimecode(s);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m, shape)) << s << " gave " << text;
        const double back = std::stod(m[1]) * 3600 + std::stod(m[2]) * 60 + std::stod(m[3]);
        ASSERT_LE(std::fabs(back - s), 0.005 + s * 1e-15) << s << " gave " << text;
    }
}

TEST(TimecodeToSeconds, ReadsFieldsAsValReadsThemMissingOnesAsZero) {
    const std::pair<const char*, std::string> scc[] = {
        {"00:00:05:15", tk::Str(5.5)}, {"00:00:00:45", tk::Str(1.5)},  // frames beyond 29
        {"01:02:03:15:07", tk::Str(3723.5)},                         // fifth field ignored
        {"1:2:3:4", tk::Str(3723 + 4.0 / 30)}, {"00:00:59:29", tk::Str(59 + 29.0 / 30)},
        {"xx:00:05:00", "5"}, {" 00:00: 05:00", "5"},  // fields without a number
        {"", "0"}, {"12", "43200"}, {"00:01", "60"}, {"00:00:05", "5"},
        {"00:00:05;15", "5"},  // without the caller's replacement
    };
    for (const auto& [timecode, seconds] : scc)
        EXPECT_EQ(timecodeToSecondsSCC(timecode), seconds) << timecode;
    const std::pair<const char*, const char*> hms[] = {{"", "0"},         {"01", "3600"},        {"01:30", "5400"},
                                                       {"01:02:03", "3723"}, {"01:02:03:15", "3723"}, {"00:00:01.5", "1.5"}};
    for (const auto& [timecode, seconds] : hms)
        EXPECT_EQ(timeCodeToSeconds(timecode), seconds) << timecode;
}

TEST(UnbufferedTimecode, AddsTheCodeFieldOffset) {
    const struct {
        const char* timecode;
        std::size_t codeLength;
        const char* expected;
    } rows[] = {
        {"00:00:01:15", 29, "00:00:01.69"}, {"00:00:05:15", 19, "00:00:05.63"}, {"01:00:00;00", 44, "01:00:00.29"},
        {"00:59:59:29", 14, "01:00:00.06"}, {"00:00:00:00", 9, "00:00:00.06"},  {"00:00:00:00", 0, "00:00:00.00"},
        {"02:59:59:29", 4, "02:59:59.99"},  {"00:00:59;29", 4, "00:00:59.99"},  {"00:00:59:29", 9, "00:01:00.03"},
        // Bad timecodes give well-formed texts; digits past a double's range clamp like any
        // other huge time, not back to the start.
        {"", 0, "00:00:00.00"}, {"no timecode", 9, "00:00:00.06"}, {"-01:00:00:00", 0, "00:00:00.00"},
        {"-00:00:05:00", 0, "00:00:05.00"}, {"99999999999999999999:00:00:00", 0, "1000000000:00:00.00"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(unbufferedTimecode(row.timecode, CodeField(row.codeLength)), row.expected)
            << row.timecode << " with " << row.codeLength;
    EXPECT_EQ(unbufferedTimecode(std::string(400, '9') + ":00:00:00", ""), "1000000000:00:00.00");
    EXPECT_EQ(timecodeToSecondsSCC("00:00:00:" + std::string(400, '9')), "3600000000000");

    // The offset counts characters, not bytes; a carriage return left at the line's end
    // counts as one too.
    EXPECT_EQ(unbufferedTimecode("00:00:00:00", "\xE2\x99\xAA\xE2\x99\xAA\xE2\x99\xAA"),
              unbufferedTimecode("00:00:00:00", "abc"));
    EXPECT_EQ(unbufferedTimecode("00:00:00:00", CodeField(14) + "\r"), "00:00:00.10");
}

TEST(TimecodeLocale, CommaDecimalLocaleStillWritesPoints) {
    quillet_test::CommaLocale comma;
    EXPECT_EQ(returnTimecode(75.25), "00:01:15.25");
    EXPECT_EQ(timecodeToSecondsSCC("00:00:05:15"), "5.5");
    EXPECT_EQ(unbufferedTimecode("00:00:01:15", CodeField(29)), "00:00:01.69");
}

// The fast road must write exactly what the literal steps write, for every input.

TEST(UnbufferedFastRoad, EveryFrameOfTwoHoursAndAroundLaterHours) {
    // Code-field lengths cycle through every length up to 400 as the frames go by, three at
    // a frame; the separators cycle through all eight ":" and ";" forms. Both roads must
    // also give the exact time: import times are whole multiples of 1/150 s, and in those
    // units the hundredths are round(units * 2 / 3), which never lies on a half.
    const auto check = [](long long frame) {
        const char seps[2] = {':', ';'};
        char timecode[48], exact[48];
        std::snprintf(timecode, sizeof timecode, "%02lld%c%02lld%c%02lld%c%02lld", frame / 108000, seps[frame & 1],
                      frame / 1800 % 60, seps[(frame >> 1) & 1], frame / 30 % 60, seps[(frame >> 2) & 1], frame % 30);
        for (const long long length : {frame % 401, (frame * 7 + 3) % 150, 4 + (frame / 3 % 60) * 5}) {
            const std::string code = CodeField(static_cast<std::size_t>(length));
            const long long hundredths = std::min((4 * (frame * 5 + length) + 3) / 6, 360'000'000'000'000LL);
            std::snprintf(exact, sizeof exact, "%02lld:%02lld:%02lld.%02lld", hundredths / 360000,
                          hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
            const std::string fast = unbufferedTimecode(timecode, code), literal = unbufferedTimecodeLiteral(timecode, code);
            if (fast != exact || literal != exact)
                return ::testing::AssertionFailure() << timecode << " with " << length << " characters: fast " << fast
                                                     << ", literal " << literal << ", exact " << exact;
        }
        return ::testing::AssertionSuccess();
    };
    for (long long frame = 0; frame < 2 * 108000; ++frame)
        ASSERT_TRUE(check(frame));
    // Two minutes around each of these hours: hour digits widen, and the hours never wrap
    // (a billion hours and after is the largest time).
    for (const long long hour : {9LL, 10LL, 24LL, 100LL, 1000LL, 999999LL, 1000000000LL})
        for (long long frame = hour * 108000 - 1800; frame < hour * 108000 + 1800; ++frame)
            ASSERT_TRUE(check(frame));
}

TEST(UnbufferedFastRoad, TimesOnAndAroundEveryRoundingEdge) {
    // The doubles next to x, a few steps down and up, as the whole time and as a sum with
    // a code-field offset.
    const auto around = [](double x, int steps, bool withOffset) {
        double below = x, above = x;
        for (int step = 0; step < steps; ++step) {
            for (const double t : {below, above}) {
                const double length = 1 + step * 7;
                ::testing::AssertionResult same = SameAsLiteral(SecondsTimecode(t), "");
                if (same && withOffset)
                    same = SameAsLiteral(SecondsTimecode(t - length / 5.0 / 30.0),
                                         CodeField(static_cast<std::size_t>(length)));
                if (!same)
                    return same;
            }
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, 1e300);
        }
        return ::testing::AssertionSuccess();
    };
    // Whole minutes, 5 ms either side of them and 10 ms below, over every magnitude;
    // beyond the largest time everything is clamped.
    std::vector<double> minutes;
    for (double n = 1; n <= 130; ++n)
        minutes.push_back(n);
    for (const double hours : {1.0, 2.0, 9.0, 10.0, 24.0, 100.0, 1e3, 1e4, 1e6, 1e8, 999999999.0, 1e9})
        for (double d = -2; d <= 2; ++d)
            minutes.push_back(hours * 60 + d);
    std::mt19937_64 random(60);
    std::uniform_int_distribution<long long> anyMinutes(1, 60000000000LL);
    for (int i = 0; i < 300; ++i)
        minutes.push_back(static_cast<double>(anyMinutes(random)));
    for (const double n : minutes) {
        for (const double edge : {60 * n, 60 * n - 0.005, 60 * n + 0.005, 60 * n - 0.01})
            ASSERT_TRUE(around(edge, 5, true));
        ASSERT_TRUE(SameAsLiteral(SecondsTimecode(n * 60e9), ""));
    }
    // Hundredths on their halves (exact ones such as x.125, and the doubles nearest the
    // inexact ones) through the first minute after a few times.
    for (const double base : {0.0, 60.0, 3540.0, 3600.0, 86340.0, 3.6e9, 3.6e12 - 60})
        for (int hundredths = 0; hundredths < 6000; ++hundredths)
            ASSERT_TRUE(around(base + (hundredths + 0.5) / 100, 3, false));
    EXPECT_EQ(unbufferedTimecode(SecondsTimecode(0.125), ""), "00:00:00.13");
    EXPECT_EQ(unbufferedTimecode(SecondsTimecode(59.375), ""), "00:00:59.38");
    EXPECT_EQ(unbufferedTimecode(SecondsTimecode(59.995), ""), "00:00:59.99");  // just below the half
    // Times of every magnitude, negative ones among them, and the special doubles.
    std::uniform_real_distribution<double> magnitudes(-12.0, 13.0);
    std::uniform_int_distribution<int> length(0, 500);
    for (int i = 0; i < 30000; ++i) {
        const double x = std::pow(10.0, magnitudes(random));
        ASSERT_TRUE(SameAsLiteral(SecondsTimecode(i % 5 ? x : -x), CodeField(static_cast<std::size_t>(length(random)))));
    }
    for (const double x : {0.0, -0.0, 5e-324, 2.2250738585072014e-308, 2.2e-308, 1e-300, 3.6e12,
                           std::nextafter(3.6e12, 0.0), std::nextafter(3.6e12, kInf), 1.7976931348623157e308})
        for (const std::size_t codeLength : {0, 1, 9})
            EXPECT_TRUE(SameAsLiteral(SecondsTimecode(x), CodeField(codeLength)));
}

TEST(UnbufferedFastRoad, HostileTimecodeFields) {
    const std::string nines20(20, '9'), nines400(400, '9');
    const std::string subnormal = "0." + std::string(320, '0') + "5";
    const std::vector<std::string> fields = {
        "", ";", ";;;;", ":::", "::::::", "99:99:99:99", "00:00:00:00:00:00", "1:2:3", "1:2", "1",
        "00:01:02:15 extra", " 01:02:03:04", "01 :02 :03 :04", "+01:-02:+03:-04", "-00:00:05:00",
        "-01:00:00:00", "01.5:00:00:00", "00:00:05.:15", "00:00:.5:15", "00:00:5e3:00", "0x10:00:00:00",
        "ab:cd:ef:gh", "00:00:00:00\r", "\t00:00:00:00", "\xEF\xBC\x91\xEF\xBC\x92:00:00:00",
        "00:00:59:29.999", "00:00:59;29;99", "- 1:00:00:00", "--1:00:00:00", "1-:00:00:00",
        "999999999999999:00:00:00", "9999999999999999:00:00:00", "00:00:00:999999999999999",
        nines20 + ":00:00:00", "00:" + nines20 + ":00:00", "00:00:" + nines20 + ":00", "00:00:00:" + nines20,
        nines400 + ":00:00:00", "00:00:" + nines400 + ":00", "-" + nines400 + ":00:00:00",
        nines400 + ":-" + nines400 + ":00:00",  // infinity minus infinity
        "0." + nines400 + ":00:00:00", "00:00:" + subnormal + ":00", "-0:-0:-0:-0",
        "00:00:00:" + subnormal, "1" + std::string(308, '0') + ":00:00:00",
    };
    for (const auto& field : fields)
        for (const std::size_t codeLength : {0, 4, 44})
            EXPECT_TRUE(SameAsLiteral(field, CodeField(codeLength)));

    // Lines of the usual eleven characters with any one of them changed.
    const std::string usual = "12:34:56;17";
    for (std::size_t at = 0; at < usual.size(); ++at)
        for (const char c : {'0', '9', ':', ';', '/', '.', ' ', '-', '+', 'a', '\x80', '\0'}) {
            std::string field = usual;
            field[at] = c;
            for (const std::size_t codeLength : {0, 29})
                EXPECT_TRUE(SameAsLiteral(field, CodeField(codeLength)));
        }

    // Random texts from digits, both separators and everything Val treats specially; and
    // well-formed shapes with fields of any width, fractions and junk in a few places.
    const std::string alphabet = "0123456789012345678901234567890123456789::::;;;  --++..ae\t\x80\xC3\xA9";
    const char* junk[] = {"", "", "", "", " ", "-", "+", ".", "5", "x", ".25", "0"};
    std::mt19937_64 random(7);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), size(0, 24), length(0, 200),
        junkPick(0, std::size(junk) - 1), digits(0, 22);
    for (int i = 0; i < 30000; ++i) {
        std::string field(size(random), ' ');
        for (char& c : field)
            c = alphabet[pick(random)];
        ASSERT_TRUE(SameAsLiteral(field, CodeField(length(random))));
        field.clear();
        for (int f = 0; f < 4; ++f) {
            if (f > 0)
                field += i % 3 == f - 1 ? ';' : ':';
            field += junk[junkPick(random)];
            for (std::size_t d = digits(random) % (i % 4 ? 3 : 23); d > 0; --d)
                field += static_cast<char>('0' + random() % 10);
            field += junk[junkPick(random)];
        }
        ASSERT_TRUE(SameAsLiteral(field, CodeField(length(random))));
    }
}

TEST(UnbufferedFastRoad, CodeFieldLengthCountsCharacters) {
    // Two timecodes 5 ms apart: between them, code fields one character apart always give
    // different texts, so a miscounted length cannot hide behind the rounding.
    const char* timecodes[] = {"00:00:00:00", "00:00:00.005:00"};
    for (const char* piece : {"\xE2\x99\xAA", "\xC3\xA9", "\xF0\x9F\x8E\xB5", "\x80", "\xFF", "\xE2\x99", "\xC0\xAF",
                              "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xEF\xBF\xBD", "\xF0\x9F\x8E", "\xC3", "\x7F"})
        for (std::size_t before = 0; before < 20; ++before)
            for (const std::size_t after : {0, 1, 7, 8, 30})
                for (const char* timecode : timecodes)
                    ASSERT_TRUE(SameAsLiteral(timecode, CodeField(before) + piece + CodeField(after)));
    std::mt19937_64 random(8);
    std::uniform_int_distribution<int> byte(0, 255), size(0, 70);
    for (int i = 0; i < 20000; ++i) {
        std::string code(static_cast<std::size_t>(size(random)), ' ');
        for (char& c : code)
            c = static_cast<char>(i % 2 ? byte(random) : (byte(random) & 0x3F) | (byte(random) & 0xC0));
        ASSERT_TRUE(SameAsLiteral(timecodes[i % 2], code));
    }
}
