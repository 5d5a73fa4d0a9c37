// The timecode conversions on any text and any double.
//  - unbufferedTimecode (the fast road) gives exactly what unbufferedTimecodeLiteral
//    (the text steps) gives, for any timecode field and code field;
//  - returnTimecode writes H+:MM:SS.ss (hours at least two digits, minutes and seconds
//    below 60) within half a hundredth of the time, for any double at all;
//  - timecodeToSecondsSCC and timeCodeToSeconds write a number text that reads back to
//    itself.
// The input is "timecode field TAB code field" (so SCC lines serve as seeds); its last
// eight bytes, when there are that many, are also taken as a double's bits.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "decoding/Timecode.h"
#include "toolkit/Strings.h"

namespace {

// The time in seconds that a well-formed H+:MM:SS.ss names, or -1 when it is not one.
double ParseTimecode(std::string_view t) {
    const std::size_t colon = t.find(':');
    if (colon == std::string_view::npos || colon < 2 || t.size() != colon + 9) return -1;
    const auto digit = [&](std::size_t i) { return t[i] >= '0' && t[i] <= '9'; };
    for (std::size_t i = 0; i < colon; ++i)
        if (!digit(i)) return -1;
    const std::string_view rest = t.substr(colon);  // ":MM:SS.ss"
    if (rest[3] != ':' || rest[6] != '.' || !digit(colon + 1) || !digit(colon + 2) || !digit(colon + 4) ||
        !digit(colon + 5) || !digit(colon + 7) || !digit(colon + 8))
        return -1;
    const auto two = [&](std::size_t i) { return (t[i] - '0') * 10 + (t[i + 1] - '0'); };
    const int minutes = two(colon + 1), seconds = two(colon + 4), hundredths = two(colon + 7);
    if (minutes >= 60 || seconds >= 60) return -1;
    double hours = 0;
    for (std::size_t i = 0; i < colon; ++i) hours = hours * 10 + (t[i] - '0');
    return hours * 3600 + minutes * 60 + seconds + hundredths / 100.0;
}

void CheckReturnTimecode(double seconds) {
    const std::string text = quillet::returnTimecode(seconds);
    const std::string shown = "returnTimecode(" + tk::Str(seconds) + ") = " + fuzz::Shown(text);
    const double named = ParseTimecode(text);
    fuzz::Check(named >= 0, shown + " is not of the form H+:MM:SS.ss with MM and SS below 60");
    if (!(seconds >= 0)) {
        fuzz::CheckEqual(text, "00:00:00.00", "a negative or NaN time: " + shown);
    } else if (seconds > 3.6e12) {
        fuzz::CheckEqual(text, "1000000000:00:00.00", "a time beyond the largest: " + shown);
    } else {
        // Half a hundredth from the rounding, plus a few units in the last place of the
        // sum above.
        const double tolerance = 0.005 + 1e-9 + seconds * 1e-15;
        fuzz::Check(std::fabs(named - seconds) <= tolerance, shown + " is not within half a hundredth");
        const std::size_t colon = text.find(':');
        fuzz::Check(seconds >= 3600 - 0.005 || text.compare(0, colon, "00") == 0, shown + ": hours under one hour are not \"00\"");
    }
}

void CheckSecondsText(const std::string& text, const std::string& what) {
    if (text == "NaN" || text == "Infinity" || text == "-Infinity") return;
    fuzz::CheckEqual(tk::Str(tk::Val(text)), text, what + " does not read back to itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool specialsChecked = [] {
        const double specials[] = {
            0.0, -0.0, 59.994999, 59.995, 59.996, 3599.995, 3600, 86399.999, 1e9, 3.6e12, 3.6e12 + 1, 1e300,
            std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
            std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
            std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
            std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(), -1e-300, -5};
        for (double s : specials) CheckReturnTimecode(s);
        return true;
    }();
    (void)specialsChecked;

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t tab = input.find('\t');
    const std::string_view timecodeField = input.substr(0, tab);
    const std::string_view codeField = tab == std::string_view::npos ? std::string_view() : input.substr(tab + 1);

    fuzz::CheckEqual(quillet::unbufferedTimecode(timecodeField, codeField),
                     quillet::unbufferedTimecodeLiteral(timecodeField, codeField),
                     "unbufferedTimecode differs from unbufferedTimecodeLiteral for " + fuzz::Shown(timecodeField) +
                         " TAB " + fuzz::Shown(codeField));

    const std::string scc = quillet::timecodeToSecondsSCC(timecodeField);
    CheckSecondsText(scc, "timecodeToSecondsSCC(" + fuzz::Shown(timecodeField) + ") = " + fuzz::Shown(scc));
    const std::string hms = quillet::timeCodeToSeconds(input);
    CheckSecondsText(hms, "timeCodeToSeconds(" + fuzz::Shown(input) + ") = " + fuzz::Shown(hms));

    CheckReturnTimecode(tk::Val(scc));
    CheckReturnTimecode(tk::Val(input));
    if (size >= 8) {
        std::uint64_t bits;
        std::memcpy(&bits, data + size - 8, sizeof bits);
        CheckReturnTimecode(std::bit_cast<double>(bits));
    }
    return 0;
}
