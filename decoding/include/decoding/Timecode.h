#pragma once
// Conversions between caption timecode texts and times in seconds. Times cross these
// functions as text (tk::Str out, tk::Val back), so the results are those of the toolkit's
// locale-free number texts: "." is always the decimal point.
#include <functional>
#include <string>
#include <string_view>

namespace quillet {

// The seconds text of an SCC timecode HH:MM:SS:FF (fields separated by ":", frames at 30
// a second, no drop-frame correction). Each field counts as the number Val reads from it,
// whatever its width, so frames of 30 or more simply add more than a second. Fields after
// the fourth are ignored; missing fields count as 0.
std::string timecodeToSecondsSCC(std::string_view timecode);

// The unbuffered timecode HH:MM:SS.ss of a time in seconds. Hours are "00" under one
// hour, otherwise at least two digits, and never wrap at 24. Seconds that round to 60.00
// are carried into the minutes (and 60 minutes into the hours). A negative or NaN time
// gives 00:00:00.00; a time beyond a billion hours (or +infinity) gives
// 1000000000:00:00.00, the largest time this function writes.
std::string returnTimecode(double seconds);

// The seconds text of a timecode H:M:S. A fourth field (frames) is ignored; missing fields
// count as 0.
std::string timeCodeToSeconds(std::string_view timecode);

// The unbuffered timecode of one caption line: its timecode field (every ";" read as ":")
// moved later by Len(codeField) / 5 / 30 seconds, about one frame per code group. This
// does the steps literally: ReplaceAll, timecodeToSecondsSCC, Val, then returnTimecode.
std::string unbufferedTimecodeLiteral(std::string_view timecodeField, std::string_view codeField);

// The same text as unbufferedTimecodeLiteral for every input, worked out on the numbers
// without the texts in between: tens of nanoseconds a line instead of about a
// microsecond. Unusual fields (anything but digits) are read by Val itself, and NaN,
// infinite or subnormal seconds take the text steps.
std::string unbufferedTimecode(std::string_view timecodeField, std::string_view codeField);

// The same, calling `turn` (unless null) between megabytes of a huge code field's
// character count, which alone takes some 15 ms on a hundred megabytes.
std::string unbufferedTimecodeWithTurns(std::string_view timecodeField, std::string_view codeField,
                                        const std::function<void()>* turn);

}  // namespace quillet
