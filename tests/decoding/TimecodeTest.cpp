#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "../toolkit/CommaLocale.h"
#include "decoding/Timecode.h"
#include "toolkit/Strings.h"

using quillet::returnTimecode;
using quillet::timeCodeToSeconds;
using quillet::timecodeToSecondsSCC;
using quillet::unbufferedTimecode;

namespace {

// A code field of `length` characters made of four-digit groups and single spaces.
std::string CodeField(std::size_t length) {
    std::string field;
    while (field.size() < length)
        field += "9420 ";
    field.resize(length);
    return field;
}

// Checks that a timecode text has the form H:MM:SS.ss (hours at least two digits, minutes
// and seconds below 60) and returns its time in seconds, or -1 when it has not.
double ParseTimecode(const std::string& text) {
    const std::size_t first = text.find(':');
    const std::size_t second = text.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos || first < 2 ||
        second != first + 3 || text.size() != second + 6 || text[second + 3] != '.')
        return -1;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != first && i != second && i != second + 3 && (text[i] < '0' || text[i] > '9'))
            return -1;
    const double hours = tk::Val(text.substr(0, first));
    const double minutes = tk::Val(text.substr(first + 1, 2));
    const double seconds = tk::Val(text.substr(second + 1));
    if (minutes >= 60 || seconds >= 60)
        return -1;
    return hours * 3600 + minutes * 60 + seconds;
}

}  // namespace

TEST(ReturnTimecode, WritesHoursMinutesAndHundredths) {
    const struct {
        double seconds;
        const char* expected;
    } rows[] = {
        {0, "00:00:00.00"},        {5, "00:00:05.00"},          {59.5, "00:00:59.50"},
        {60, "00:01:00.00"},       {75.25, "00:01:15.25"},      {3599.5, "00:59:59.50"},
        {3600, "01:00:00.00"},     {3725.5, "01:02:05.50"},     {7384.5, "02:03:04.50"},
        {32400, "09:00:00.00"},    {36000, "10:00:00.00"},      {86400, "24:00:00.00"},
        {360000.5, "100:00:00.50"}, {119.5, "00:01:59.50"},     {0.06, "00:00:00.06"},
        {10.004, "00:00:10.00"},   {9.995, "00:00:09.99"},      {120.125, "00:02:00.13"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(returnTimecode(row.seconds), row.expected) << row.seconds;
}

TEST(ReturnTimecode, CarriesSecondsThatRoundToSixty) {
    EXPECT_EQ(returnTimecode(59.996), "00:01:00.00");
    EXPECT_EQ(returnTimecode(119.999), "00:02:00.00");
    EXPECT_EQ(returnTimecode(3599.996), "01:00:00.00");
    EXPECT_EQ(returnTimecode(35999.999), "10:00:00.00");
    EXPECT_EQ(returnTimecode(86399.999), "24:00:00.00");
    EXPECT_EQ(returnTimecode(359999.996), "100:00:00.00");
    EXPECT_EQ(returnTimecode(3659.999), "01:01:00.00");
    // s / 60 lands a hair below a whole minute and its quotient rounds up to it.
    EXPECT_EQ(returnTimecode(std::nextafter(120.0, 0.0)), "00:02:00.00");
    EXPECT_EQ(returnTimecode(std::nextafter(3600.0, 0.0)), "01:00:00.00");
}

TEST(ReturnTimecode, OutOfRangeTimesStayWellFormed) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(returnTimecode(-1), "00:00:00.00");
    EXPECT_EQ(returnTimecode(-0.0), "00:00:00.00");
    EXPECT_EQ(returnTimecode(-inf), "00:00:00.00");
    EXPECT_EQ(returnTimecode(std::numeric_limits<double>::quiet_NaN()), "00:00:00.00");
    // Hours grow up to a billion; later times stop there.
    EXPECT_EQ(returnTimecode(3.6e9 + 61.5), "1000000:01:01.50");
    EXPECT_EQ(returnTimecode(3.6e12), "1000000000:00:00.00");
    EXPECT_EQ(returnTimecode(1e20), "1000000000:00:00.00");
    EXPECT_EQ(returnTimecode(std::numeric_limits<double>::max()), "1000000000:00:00.00");
    EXPECT_EQ(returnTimecode(inf), "1000000000:00:00.00");
}

TEST(ReturnTimecode, AnyTimeGivesMinutesAndSecondsInRangeNearTheTime) {
    std::mt19937_64 random(1103);
    std::uniform_real_distribution<double> shortTimes(0.0, 400000.0);
    std::uniform_real_distribution<double> magnitudes(-3.0, 12.5);
    for (int i = 0; i < 40000; ++i) {
        const double s = i % 2 ? shortTimes(random) : std::pow(10.0, magnitudes(random));
        const std::string text = returnTimecode(s);
        const double back = ParseTimecode(text);
        ASSERT_GE(back, 0) << s << " gave " << text;
        ASSERT_LE(std::fabs(back - s), 0.005 + s * 1e-15) << s << " gave " << text;
    }
}

TEST(TimecodeToSecondsSCC, ReadsFieldsAsHoursMinutesSecondsFrames) {
    EXPECT_EQ(timecodeToSecondsSCC("00:00:05:15"), tk::Str(5.5));
    EXPECT_EQ(timecodeToSecondsSCC("00:00:00:45"), tk::Str(1.5));  // frames beyond 29
    EXPECT_EQ(timecodeToSecondsSCC("01:02:03:15:07"), tk::Str(3723.5));  // fifth field ignored
    EXPECT_EQ(timecodeToSecondsSCC("1:2:3:4"), tk::Str(3723 + 4.0 / 30));
    EXPECT_EQ(timecodeToSecondsSCC("00:00:59:29"), tk::Str(59 + 29.0 / 30));
    // Fields without a number count as what Val reads.
    EXPECT_EQ(timecodeToSecondsSCC("xx:00:05:00"), "5");
    EXPECT_EQ(timecodeToSecondsSCC(" 00:00: 05:00"), "5");
}

TEST(TimecodeToSecondsSCC, MissingFieldsCountAsZero) {
    EXPECT_EQ(timecodeToSecondsSCC(""), "0");
    EXPECT_EQ(timecodeToSecondsSCC("12"), "43200");
    EXPECT_EQ(timecodeToSecondsSCC("00:01"), "60");
    EXPECT_EQ(timecodeToSecondsSCC("00:00:05"), "5");
    EXPECT_EQ(timecodeToSecondsSCC("00:00:05;15"), "5");  // without the caller's replacement
    EXPECT_EQ(timeCodeToSeconds(""), "0");
    EXPECT_EQ(timeCodeToSeconds("01"), "3600");
    EXPECT_EQ(timeCodeToSeconds("01:30"), "5400");
}

TEST(TimeCodeToSeconds, ReadsHoursMinutesSecondsAndIgnoresFrames) {
    EXPECT_EQ(timeCodeToSeconds("01:02:03"), "3723");
    EXPECT_EQ(timeCodeToSeconds("01:02:03:15"), "3723");
    EXPECT_EQ(timeCodeToSeconds("00:00:01.5"), "1.5");
}

TEST(UnbufferedTimecode, AddsTheCodeFieldOffset) {
    const struct {
        const char* timecode;
        std::size_t codeLength;
        const char* expected;
    } rows[] = {
        {"00:00:01:15", 29, "00:00:01.69"},
        {"00:00:05:15", 19, "00:00:05.63"},
        {"01:00:00;00", 44, "01:00:00.29"},
        {"00:59:59:29", 14, "01:00:00.06"},
        {"00:00:00:00", 9, "00:00:00.06"},
        {"00:00:00:00", 0, "00:00:00.00"},
        {"02:59:59:29", 4, "02:59:59.99"},
        {"00:00:59;29", 4, "00:00:59.99"},
        {"00:00:59:29", 9, "00:01:00.03"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(unbufferedTimecode(row.timecode, CodeField(row.codeLength)), row.expected)
            << row.timecode << " with " << row.codeLength;

    // The offset counts characters, not bytes.
    EXPECT_EQ(unbufferedTimecode("00:00:00:00", "\xE2\x99\xAA\xE2\x99\xAA\xE2\x99\xAA"),
              unbufferedTimecode("00:00:00:00", "abc"));
    // A carriage return left at the line's end counts as a character too.
    EXPECT_EQ(unbufferedTimecode("00:00:00:00", CodeField(14) + "\r"), "00:00:00.10");
}

TEST(UnbufferedTimecode, MatchesExactArithmeticForWholeFieldTimecodes) {
    // Import times are whole multiples of 1/150 s; in those units the expected hundredths
    // are round(units * 2 / 3), which never lies on a half.
    std::mt19937_64 random(42);
    std::uniform_int_distribution<int> hours(0, 120), sixty(0, 59), frames(0, 29), length(0, 400);
    for (int i = 0; i < 20000; ++i) {
        const int h = hours(random), m = sixty(random), s = sixty(random), f = frames(random);
        const int codeLength = length(random);
        const long long units = ((h * 3600LL + m * 60 + s) * 30 + f) * 5 + codeLength;
        const long long hundredths = (4 * units + 3) / 6;
        char expected[40];
        std::snprintf(expected, sizeof expected, "%02lld:%02lld:%02lld.%02lld", hundredths / 360000,
                      hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
        char timecode[40];
        std::snprintf(timecode, sizeof timecode, i % 3 ? "%02d:%02d:%02d:%02d" : "%02d:%02d:%02d;%02d",
                      h, m, s, f);
        ASSERT_EQ(unbufferedTimecode(timecode, CodeField(static_cast<std::size_t>(codeLength))), expected)
            << timecode << " with " << codeLength;
    }
}

TEST(UnbufferedTimecode, BadTimecodesGiveWellFormedTexts) {
    EXPECT_EQ(unbufferedTimecode("", ""), "00:00:00.00");
    EXPECT_EQ(unbufferedTimecode("no timecode", CodeField(9)), "00:00:00.06");
    EXPECT_EQ(unbufferedTimecode("-01:00:00:00", ""), "00:00:00.00");
    EXPECT_EQ(unbufferedTimecode("-00:00:05:00", ""), "00:00:05.00");
    EXPECT_EQ(unbufferedTimecode("99999999999999999999:00:00:00", ""), "1000000000:00:00.00");
    EXPECT_EQ(unbufferedTimecode(std::string(400, '9') + ":00:00:00", ""), "00:00:00.00");
}

TEST(TimecodeLocale, CommaDecimalLocaleStillWritesPoints) {
    quillet_test::CommaLocale comma;
    EXPECT_EQ(returnTimecode(75.25), "00:01:15.25");
    EXPECT_EQ(returnTimecode(119.5), "00:01:59.50");
    EXPECT_EQ(timecodeToSecondsSCC("00:00:05:15"), "5.5");
    EXPECT_EQ(unbufferedTimecode("00:00:01:15", CodeField(29)), "00:00:01.69");
}
