#include "decoding/Timecode.h"

#include "toolkit/StringList.h"
#include "toolkit/Strings.h"

namespace quillet {
namespace {

// A billion hours: far beyond any caption file, yet small enough that every step of
// returnTimecode stays exact on doubles (the minute count stays below 2^36 and the
// remainder keeps its hundredths), so larger times are clamped here instead of turning
// into minutes or seconds outside their ranges.
constexpr double kLargestTime = 3.6e12;

// A field that the timecode does not have counts as empty, which Val reads as 0.
std::string fieldAt(const tk::StringList& fields, std::int64_t index) {
    return index <= fields.UBound() ? fields.Get(index) : std::string();
}

}  // namespace

std::string timecodeToSecondsSCC(std::string_view timecode) {
    const tk::StringList fields = tk::Split(timecode, ":");
    const std::string hours = fieldAt(fields, 0);
    const std::string minutes = fieldAt(fields, 1);
    const std::string seconds = fieldAt(fields, 2);
    const std::string frames = fieldAt(fields, 3);

    double t = tk::Val(hours) * 3600;
    t = t + tk::Val(minutes) * 60;
    t = t + tk::Val(seconds);
    t = t + tk::Val(frames) / 30;
    return tk::Str(t);
}

std::string returnTimecode(double seconds) {
    double s = seconds;
    if (!(s >= 0))
        s = 0;  // negative times and NaN have no timecode; show the start
    if (s > kLargestTime)
        s = kLargestTime;

    std::string h = "00";
    std::string m = "00";
    std::string sec;
    if (s >= 60) {
        m = tk::Split(tk::Str(s / 60), ".").Get(0);
        m = tk::Format(tk::Val(m), "00");
        sec = tk::Str(s - tk::Val(m) * 60);
    } else {
        sec = tk::Str(s);
    }
    // When s / 60 rounded up to a whole minute the remainder is a hair below zero; the
    // "0" in front makes Val stop at its sign and read 0 seconds.
    if (tk::Val(sec) < 10)
        sec = "0" + sec;

    if (tk::Val(m) >= 60) {
        h = tk::Str(tk::Floor(tk::Val(m) / 60));
        h = tk::Format(tk::Val(h), "0");
        m = tk::Str(tk::Val(m) - tk::Val(h) * 60);
    }
    if (h != "00" && tk::Val(h) < 10)
        h = "0" + h;

    sec = tk::Format(tk::Val(sec), "00.00");
    sec = tk::Replace(sec, ",", ".");

    // The rounding to hundredths comes after the minutes are fixed, so 59.995 s or more
    // would show as 60.00 next to them; carry it instead.
    if (tk::Val(sec) >= 60) {
        sec = tk::Format(tk::Val(sec) - 60, "00.00");
        double minutes = tk::Val(m) + 1;
        if (minutes >= 60) {
            minutes -= 60;
            h = tk::Format(tk::Val(h) + 1, "00");
        }
        m = tk::Str(minutes);
    }

    m = tk::Format(tk::Val(m), "00");
    return h + ":" + m + ":" + sec;
}

std::string timeCodeToSeconds(std::string_view timecode) {
    const tk::StringList fields = tk::Split(timecode, ":");
    const std::string hours = fieldAt(fields, 0);
    const std::string minutes = fieldAt(fields, 1);
    const std::string seconds = fieldAt(fields, 2);
    return tk::Str(tk::Val(hours) * 3600 + tk::Val(minutes) * 60 + tk::Val(seconds));
}

std::string unbufferedTimecode(std::string_view timecodeField, std::string_view codeField) {
    const double offset = static_cast<double>(tk::Len(codeField)) / 5.0 / 30.0;
    const std::string timecode = tk::ReplaceAll(timecodeField, ";", ":");
    const double seconds = tk::Val(timecodeToSecondsSCC(timecode)) + offset;
    return returnTimecode(seconds);
}

}  // namespace quillet
