// The timecode conversions on any text and any double.
//  - unbufferedTimecode (the fast road) gives exactly what unbufferedTimecodeLiteral
//    (the text steps) gives, for any timecode field and code field;
//  - returnTimecode writes H+:MM:SS.ss (hours at least two digits, minutes and seconds
//    below 60) within half a hundredth of the time, for any double at all;
//  - timecodeToSecondsSCC and timeCodeToSeconds write a number text that reads back to
//    itself.
// The input is lines of "timecode field TAB code field" (so SCC files serve as seeds, and
// one seed holds a whole sweep of cases); its last eight bytes, when there are that many,
// are also taken as a double's bits.
//
// The code field of a huge line is counted a megabyte at a time with a turn of the event
// loop between (unbufferedTimecodeWithTurns, given a hook that does nothing here). An
// input that starts with byte 1 pads its first line's code field with spaces in front to
// over a megabyte (two with bit 7 of the next byte set), so that the edge falls inside the
// field as written: the next byte's low seven bits, modulo the field's length plus 2, are
// how many of its bytes lie before the edge. The lines follow those two bytes.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "decoding/Timecode.h"
#include "toolkit/Strings.h"

namespace {

// The time in seconds that a well-formed H+:MM:SS.ss names, or -1 when it is not one.
double ParseTimecode(std::string_view t) {
    const std::size_t colon = t.find(':');
    if (colon == std::string_view::npos || colon < 2 || t.size() != colon + 9 || t[colon + 3] != ':' || t[colon + 6] != '.')
        return -1;
    double hours = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (i == colon || i == colon + 3 || i == colon + 6) continue;
        if (t[i] < '0' || t[i] > '9') return -1;
        if (i < colon) hours = hours * 10 + (t[i] - '0');
    }
    const auto two = [&](std::size_t i) { return (t[i] - '0') * 10 + (t[i + 1] - '0'); };
    const int minutes = two(colon + 1), seconds = two(colon + 4), hundredths = two(colon + 7);
    return minutes < 60 && seconds < 60 ? hours * 3600 + minutes * 60 + seconds + hundredths / 100.0 : -1;
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
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const bool padded = size >= 2 && data[0] == 1;
    const std::function<void()> turn = [] {};
    for (std::size_t start = padded ? 2 : 0; start <= size;) {
        const bool first = padded && start == 2;
        const std::size_t end = std::min(input.find('\n', start), size);
        const std::string_view line = input.substr(start, end - start);
        start = end + 1;
        const std::size_t tab = line.find('\t');
        const std::string_view timecodeField = line.substr(0, tab);
        const std::string_view codeField = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);

        const std::string literal = quillet::unbufferedTimecodeLiteral(timecodeField, codeField);
        const std::string shown = fuzz::Shown(timecodeField) + " TAB " + fuzz::Shown(codeField);
        fuzz::CheckEqual(quillet::unbufferedTimecode(timecodeField, codeField), literal,
                         "unbufferedTimecode differs from unbufferedTimecodeLiteral for " + shown);
        fuzz::CheckEqual(quillet::unbufferedTimecodeWithTurns(timecodeField, codeField, &turn), literal,
                         "unbufferedTimecodeWithTurns differs from unbufferedTimecodeLiteral for " + shown);
        if (first) {
            const std::size_t edge = std::size_t{1} << (data[1] & 0x80 ? 21 : 20);
            const std::string longField = std::string(edge - (data[1] & 0x7F) % (codeField.size() + 2), ' ').append(codeField);
            fuzz::CheckEqual(quillet::unbufferedTimecodeWithTurns(timecodeField, longField, &turn),
                             quillet::unbufferedTimecodeLiteral(timecodeField, longField),
                             "unbufferedTimecodeWithTurns differs from unbufferedTimecodeLiteral for " + shown +
                                 " behind " + std::to_string(longField.size() - codeField.size()) + " spaces");
        }
        const std::string scc = quillet::timecodeToSecondsSCC(timecodeField);
        CheckSecondsText(scc, "timecodeToSecondsSCC(" + fuzz::Shown(timecodeField) + ") = " + fuzz::Shown(scc));
        const std::string hms = quillet::timeCodeToSeconds(line);
        CheckSecondsText(hms, "timeCodeToSeconds(" + fuzz::Shown(line) + ") = " + fuzz::Shown(hms));
        CheckReturnTimecode(tk::Val(scc));
        CheckReturnTimecode(tk::Val(line));
    }
    if (size >= 8) {
        std::uint64_t bits;
        std::memcpy(&bits, data + size - 8, sizeof bits);
        CheckReturnTimecode(std::bit_cast<double>(bits));
    }
    return 0;
}
