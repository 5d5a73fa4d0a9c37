#pragma once
// The line level of an SCC import: the lines of the file kept for decoding, the test that
// a caption line carries a timecode, the progress scale, and the work on each caption
// line that fills the window's timecode and caption lists. Plain functions; what they
// read of the window (the timecode choice), what they show (the progress bar) and the
// event loop's turn reach them as callbacks, so they run without a display.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/StringList.h"

namespace quillet {

// The progress bar's scale while caption lines are worked.
inline constexpr std::int32_t kProgressMaximum = 65536;

// True when two ASCII digits followed by ":" stand anywhere in the line: all the import
// asks of a caption line before it takes its timecode.
bool hasTimecode(std::string_view line) noexcept;

// The bar's value for caption line `line` of `lastLine` (both counted from 1): the
// line's place scaled to kProgressMaximum, truncated. The last line gives the maximum.
std::int32_t progressValue(std::int64_t line, std::int64_t lastLine) noexcept;

// The file's lines in order without the empty ones: `readLine` is called until `atEnd`
// says no line is left (always at least once), and `backgroundTask` after every read.
std::vector<std::string> readSccLines(const std::function<std::string()>& readLine,
                                      const std::function<bool()>& atEnd,
                                      const std::function<void()>& backgroundTask);

// What the work on the caption lines reads and shows.
struct CaptionLineHooks {
    std::function<void(std::int32_t)> showProgress;  // sets the bar's value and redraws it
    std::function<bool()> unbuffered;                // "Unbuffered timecode" chosen, read per line
    std::function<void()> backgroundTask;            // once at the end of every caption line
};

enum class CaptionLinesEnd {
    AllDone,     // every caption line gave a timecode and a caption
    NoTimecode,  // a caption line without a timecode ended the work there
};

// Works caption lines 1 to the last of `sccLines` (line 0 is the header and is never
// looked at). Per line: the progress is shown, the timecode test made (a line without
// one ends the work, leaving the entries of the lines before it), then its timecode
// (as the file gives it, or unbuffered) is appended to `timeCodeArray` and the caption
// decoded from its code field to `captionArray2`. A line without a tab is taken as a
// timecode with an empty code field, so the two lists always stay paired. Each line's
// text is released once it is worked, since nothing reads it again.
CaptionLinesEnd decodeCaptionLines(std::vector<std::string>& sccLines, tk::StringList& timeCodeArray,
                                   tk::StringList& captionArray2, const CaptionLineHooks& hooks);

}  // namespace quillet
