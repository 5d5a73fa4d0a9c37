#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "../toolkit/CommaLocale.h"
#include "decoding/Timecode.h"
#include "toolkit/Strings.h"

using quillet::returnTimecode;
using quillet::timeCodeToSeconds;
using quillet::timecodeToSecondsSCC;
using quillet::unbufferedTimecode;

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
        {"23:59:59;29", 0, "23:59:59.97"},  {"10:00:00:01", 1, "10:00:00.04"},  {"99:59:59:29", 5, "100:00:00.00"},
        {"00:00:59.996:00", 0, "00:01:00.00"}, {"00:00:0.125:00", 0, "00:00:00.13"}, {"00:00:59.995:00", 0, "00:00:59.99"},
        // Bad timecodes give well-formed texts; digits past a double's range clamp like any
        // other huge time, not back to the start.
        {"", 0, "00:00:00.00"}, {"no timecode", 9, "00:00:00.06"}, {"-01:00:00:00", 0, "00:00:00.00"},
        {"-00:00:05:00", 0, "00:00:05.00"}, {"99999999999999999999:00:00:00", 0, "1000000000:00:00.00"},
    };
    // Both roads: that they agree on every input is the timecode fuzz target's to show, on
    // its seeds in every test run; these pin what they agree on.
    for (const auto& row : rows) {
        EXPECT_EQ(unbufferedTimecode(row.timecode, CodeField(row.codeLength)), row.expected) << row.timecode;
        EXPECT_EQ(quillet::unbufferedTimecodeLiteral(row.timecode, CodeField(row.codeLength)), row.expected)
            << row.timecode << " with " << row.codeLength;
    }
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
