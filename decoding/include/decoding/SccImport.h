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

// The non-empty lines of a file, in order, kept end to end in blocks of about a
// megabyte: a file of hundreds of thousands of short lines costs a few allocations
// instead of one a line, and the blocks of lines already worked can be let go while
// the rest is still being decoded.
class SccLines {
public:
    std::size_t Count() const noexcept { return lines_.size(); }
    std::string_view Line(std::size_t index) const noexcept {
        const Span& span = lines_[index];
        return std::string_view(blocks_[span.block].text).substr(span.offset, span.length);
    }
    // Appends the next line of the file through `appendLine`, which adds the line's text
    // to the string it is given; an empty line is not kept.
    template <class AppendLine>
    void Read(AppendLine&& appendLine) {
        scratch_.clear();
        appendLine(scratch_);
        if (!scratch_.empty())
            Keep();
    }
    // Lets go of the text of every line before `index`; those lines must not be read
    // again.
    void ReleaseBefore(std::size_t index) noexcept;
    void Release() noexcept;

private:
    struct Block {
        std::string text;            // lines end to end, reserved to the block's size
        std::size_t lastLine = 0;    // index of the last line in the block
    };
    struct Span {  // 16 bytes: a file of short lines holds hundreds of thousands
        std::uint32_t block;
        std::uint32_t offset;  // within a block of about a megabyte
        std::uint64_t length;
    };
    // Files the line in `scratch_` at the end of the last block, or in a block of its own.
    void Keep();

    std::vector<Block> blocks_;
    std::vector<Span> lines_;
    std::size_t released_ = 0;  // blocks before this one are let go
    std::string scratch_;       // the line being read; its room serves every line
};

// The file's lines in order without the empty ones: `appendLine` adds the next line to
// the text it is given and is called until `atEnd` says no line is left (always at least
// once), and `backgroundTask` after every read. (Turns inside a long line are
// appendLine's to give: TextInputStream::AppendLine takes a hook for them.)
SccLines readSccLines(const std::function<void(std::string&)>& appendLine, const std::function<bool()>& atEnd,
                      const std::function<void()>& backgroundTask);

// What the work on the caption lines reads and shows.
struct CaptionLineHooks {
    std::function<void(std::int32_t)> showProgress;  // sets the bar's value and redraws it
    std::function<bool()> unbuffered;                // "Unbuffered timecode" chosen, read per line
    std::function<void()> backgroundTask;            // once at the end of every caption line
    // Now and then inside the decoding of a long code field (see decodeCodeField), so
    // that one huge line leaves the event loop its turns; may be empty.
    std::function<void()> withinLine = {};
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
// timecode with an empty code field, so the two lists always stay paired. The text of
// lines already worked is let go as the work goes on.
CaptionLinesEnd decodeCaptionLines(SccLines& sccLines, tk::StringList& timeCodeArray,
                                   tk::StringList& captionArray2, const CaptionLineHooks& hooks);

}  // namespace quillet
