#include "decoding/Timecode.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "toolkit/StringList.h"
#include "toolkit/Strings.h"
#include "toolkit/Utf8.h"

namespace quillet {
namespace {

// A billion hours: far beyond any caption file, yet small enough that every step of
// returnTimecode stays exact on doubles (the minute count stays below 2^36 and the
// remainder keeps its hundredths), so larger times are clamped here instead of turning
// into minutes or seconds outside their ranges.
constexpr double kLargestTime = 3.6e12;

// A seconds text must never be "Infinity": Val would read it back as 0, and a timecode
// of 400 digits would come out at the start instead of at the end like one of 20. Times
// past the largest are written as the largest (returnTimecode clamps there anyway).
double withinLargestTime(double t) { return t > kLargestTime ? kLargestTime : t; }

// A field that the timecode does not have counts as empty, which Val reads as 0.
std::string fieldAt(const tk::StringList& fields, std::int64_t index) {
    return index <= fields.UBound() ? fields.Get(index) : std::string();
}

// ---------------------------------------------------------------------------------------
// The fast road of unbufferedTimecode. It makes the same doubles as the text steps and
// writes the same text, without building any intermediate text. Why each shortcut gives
// exactly what the text steps give:
//
// - Str writes the shortest text that Val reads back to the same double, so Val(Str(x))
//   is x for every normal x, and 0 for either zero. NaN, the infinities and subnormals
//   are rare enough to take the text road itself (secondsThroughText).
// - ReplaceAll(";", ":") then Split(":") cuts the field at every ":" and ";" byte; neither
//   can occur inside a multi-byte UTF-8 character, so cutting bytes is cutting characters.
//   A field of digits only is read as the integer it spells; any other field goes to Val
//   itself, as a view of the same bytes, so signs, spaces, points and huge digit runs are
//   read by the very code the text steps use.
// - The whole minutes, Split(Str(s / 60), ".")(0): for 1 <= q = s / 60 < 2^36 the text
//   Str(q) reads back to q, so its value lies strictly between the doubles trunc(q) and
//   trunc(q) + 1 (neither of which reads back to q unless q is one of them); its integer
//   part is therefore trunc(q). Format(.., "00") and Val keep that whole number exactly.
// - The remainder s - 60 * minutes is exact (the two are within a factor of two) and a
//   multiple of the unit in the last place of s, so it is never subnormal. When it is
//   negative, "0" + "-0.00..." reads as 0; otherwise the "0" in front changes nothing.
//   (With this Str it is never negative: for s / 60 to round up to a whole number N, s
//   would have to lie within 30 gaps between neighbouring doubles near N below 60 * N,
//   yet the gap between s and its neighbours is at least 32 of those. Clamping at 0 costs
//   nothing and keeps the fast road equal to the steps whatever the rounding.)
// - Format(x, "00.00") rounds the exact value of x half away from zero; for 0 <= x < 60
//   that is floor(x * 100 + 1/2) worked out exactly on the bits of x (roundedHundredths).
// - The hours are floor(minutes / 60) with the rest as minutes, and the carry of 60.00
//   seconds adds one minute before that split, which gives the same hours and minutes as
//   the mend's step by step carry. The hours text is always at least two digits: "00"
//   under an hour, "0" + one digit, all digits from 10 on, and "00" formatting on carry.
//
// Both roads round every product and sum by itself. On the usual HH:MM:SS:FF lines every
// product and sum but the last is a whole number and exact, so this holds even under a
// compiler that fuses multiply-adds; only fields with fractions would then depend on it.
// ---------------------------------------------------------------------------------------

// True when no byte has its top bit set, so that every byte is one character.
bool isAscii(std::string_view text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::uint64_t bits = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, sizeof word);
        bits |= word;
    }
    for (; i < n; ++i)
        bits |= static_cast<unsigned char>(p[i]);
    return (bits & 0x8080808080808080ULL) == 0;
}

// Len's count, a megabyte at a time with a turn between when `turn` is given: even
// this pass over a field of a hundred megabytes holds up the event loop for too long.
std::uint64_t characterCount(std::string_view text, const std::function<void()>* turn) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    if (turn == nullptr || text.size() <= kPiece)
        return isAscii(text) ? text.size() : static_cast<std::uint64_t>(tk::Len(text));
    std::uint64_t count = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.size(), pos + kPiece);
        if (isAscii(text.substr(pos, end - pos))) {
            count += end - pos;
            pos = end;
        } else {
            // Character by character as Len steps, from a place where Len stands too.
            for (; pos < end; pos += tk::Utf8CharacterLength(text, pos)) ++count;
        }
        if (pos < text.size()) (*turn)();
    }
    return count;
}

// What Val reads from one field of the timecode.
double fieldValue(std::string_view field) {
    if (field.empty())
        return 0.0;
    if (field.size() <= 15) {  // below 10^15 < 2^53: the integer is exactly a double
        std::uint64_t value = 0;
        bool digitsOnly = true;
        for (const char c : field) {
            const unsigned digit = static_cast<unsigned char>(c) - static_cast<unsigned>('0');
            if (digit > 9) {
                digitsOnly = false;
                break;
            }
            value = value * 10 + digit;
        }
        if (digitsOnly)
            return static_cast<double>(value);
    }
    return tk::Val(field);
}

// Val(Str(t)): the seconds as they come back from their text.
double secondsThroughText(double t) {
    t = withinLargestTime(t);
    if (std::isnormal(t))
        return t;
    if (t == 0)
        return 0.0;  // Str writes "0" for -0 as well
    return tk::Val(tk::Str(t));  // NaN and the infinities read as 0; subnormals as Val reads them
}

// Format(x, "00.00")'s rounding as a count of hundredths, for 0 <= x < 64: x is
// mantissa * 2^-shift, and floor(x * 100 + 1/2) is (mantissa * 100 + 2^(shift-1)) >> shift,
// which fits in 64 bits since mantissa * 100 < 2^60 and shift - 1 <= 62.
std::uint64_t roundedHundredths(double x) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    const int biasedExponent = static_cast<int>(bits >> 52);
    if (biasedExponent == 0)
        return 0;  // zero or subnormal
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int shift = 1075 - biasedExponent;  // >= 47 below 64
    if (shift >= 64)
        return 0;  // x < 2^-11, far below half a hundredth
    return (mantissa * 100 + (std::uint64_t{1} << (shift - 1))) >> shift;
}

char* writeTwoDigits(char* out, unsigned value) {
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

// returnTimecode(s) without its texts.
std::string writeUnbuffered(double s) {
    if (!(s > 0))
        s = 0;  // negative, -0 and NaN all write as the start
    if (s > kLargestTime)
        s = kLargestTime;

    std::uint64_t minutes = 0;
    double rest = s;
    if (s >= 60) {
        minutes = static_cast<std::uint64_t>(s / 60);
        rest = s - static_cast<double>(minutes) * 60;
        if (rest < 0)
            rest = 0;
    }
    std::uint64_t hundredths = roundedHundredths(rest);
    if (hundredths >= 6000) {  // 60.00 seconds carry into the minutes
        hundredths -= 6000;
        ++minutes;
    }
    std::uint64_t hours = minutes / 60;
    minutes %= 60;

    char buffer[32];
    char* out = buffer;
    if (hours < 100) {
        out = writeTwoDigits(out, static_cast<unsigned>(hours));
    } else {
        char digits[20];
        int count = 0;
        while (hours > 0) {
            digits[count++] = static_cast<char>('0' + hours % 10);
            hours /= 10;
        }
        while (count > 0)
            *out++ = digits[--count];
    }
    *out++ = ':';
    out = writeTwoDigits(out, static_cast<unsigned>(minutes));
    *out++ = ':';
    out = writeTwoDigits(out, static_cast<unsigned>(hundredths / 100));
    *out++ = '.';
    out = writeTwoDigits(out, static_cast<unsigned>(hundredths % 100));
    return std::string(buffer, out);
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
    return tk::Str(withinLargestTime(t));
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
    return tk::Str(withinLargestTime(tk::Val(hours) * 3600 + tk::Val(minutes) * 60 + tk::Val(seconds)));
}

std::string unbufferedTimecodeLiteral(std::string_view timecodeField, std::string_view codeField) {
    const double offset = static_cast<double>(tk::Len(codeField)) / 5.0 / 30.0;
    const std::string timecode = tk::ReplaceAll(timecodeField, ";", ":");
    const double seconds = tk::Val(timecodeToSecondsSCC(timecode)) + offset;
    return returnTimecode(seconds);
}

std::string unbufferedTimecode(std::string_view timecodeField, std::string_view codeField) {
    return unbufferedTimecodeWithTurns(timecodeField, codeField, nullptr);
}

std::string unbufferedTimecodeWithTurns(std::string_view timecodeField, std::string_view codeField,
                                        const std::function<void()>* turn) {
    const double offset = static_cast<double>(characterCount(codeField, turn)) / 5.0 / 30.0;

    // The shape of nearly every line, HH:MM:SS:FF with either separator, read in one go.
    // Its time is a finite, non-negative double, which Str and Val carry over unchanged.
    if (timecodeField.size() == 11) {
        const char* p = timecodeField.data();
        const auto digit = [p](int i) { return static_cast<unsigned>(static_cast<unsigned char>(p[i])) - '0'; };
        const auto separator = [p](int i) { return p[i] == ':' || p[i] == ';'; };
        if (digit(0) < 10 && digit(1) < 10 && separator(2) && digit(3) < 10 && digit(4) < 10 && separator(5) &&
            digit(6) < 10 && digit(7) < 10 && separator(8) && digit(9) < 10 && digit(10) < 10) {
            double t = static_cast<double>(digit(0) * 10 + digit(1)) * 3600;
            t = t + static_cast<double>(digit(3) * 10 + digit(4)) * 60;
            t = t + static_cast<double>(digit(6) * 10 + digit(7));
            t = t + static_cast<double>(digit(9) * 10 + digit(10)) / 30;
            return writeUnbuffered(t + offset);
        }
    }

    // The first four pieces between ":" and ";"; the ones the field lacks stay empty.
    std::string_view fields[4];
    std::size_t count = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i < timecodeField.size() && count < 4; ++i) {
        const char c = timecodeField[i];
        if (c == ':' || c == ';') {
            fields[count++] = timecodeField.substr(from, i - from);
            from = i + 1;
        }
    }
    if (count < 4)
        fields[count] = timecodeField.substr(from);

    // The same double operations, in the same order, as timecodeToSecondsSCC.
    double t = fieldValue(fields[0]) * 3600;
    t = t + fieldValue(fields[1]) * 60;
    t = t + fieldValue(fields[2]);
    t = t + fieldValue(fields[3]) / 30;
    return writeUnbuffered(secondsThroughText(t) + offset);
}

}  // namespace quillet
