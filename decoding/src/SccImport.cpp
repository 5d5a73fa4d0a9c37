#include "decoding/SccImport.h"

#include <algorithm>

#include "decoding/CaptionDecoder.h"
#include "decoding/SccLines.h"
#include "decoding/Timecode.h"

namespace quillet {

bool hasTimecode(std::string_view line) noexcept {
    // A colon with two ASCII digits right before it. Searching for the colons first
    // skips the hex groups, which never hold one.
    for (std::size_t colon = line.find(':', 2); colon != std::string_view::npos; colon = line.find(':', colon + 1)) {
        const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        if (isDigit(line[colon - 1]) && isDigit(line[colon - 2]))
            return true;
    }
    return false;
}

std::int32_t progressValue(std::int64_t line, std::int64_t lastLine) noexcept {
    const double value = static_cast<double>(line) / static_cast<double>(lastLine) * 65536.0;
    if (!(value >= 0))
        return 0;
    if (value >= kProgressMaximum)
        return kProgressMaximum;
    return static_cast<std::int32_t>(value);
}

namespace {
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// hasTimecode with a turn between megabytes of a huge line (given `turn`). The pieces
// overlap by two bytes, so a timecode across their edge is found as well.
bool hasTimecodeWithTurns(std::string_view line, const std::function<void()>* turn) {
    if (turn == nullptr) return hasTimecode(line);
    for (std::size_t from = 0;;) {
        const std::size_t end = std::min(line.size(), from + kBlockSize);
        if (hasTimecode(line.substr(from, end - from))) return true;
        if (end == line.size()) return false;
        from = end - 2;
        (*turn)();
    }
}
}  // namespace

void SccLines::Keep() {
    const std::size_t length = scratch_.size();
    if (length >= kBlockSize / 4) {
        // A long line becomes a block of its own as it stands, never copied.
        Block block;
        block.text = std::move(scratch_);
        scratch_ = std::string();
        blocks_.push_back(std::move(block));
        lines_.push_back(Span{static_cast<std::uint32_t>(blocks_.size() - 1), 0, length});
    } else {
        if (blocks_.empty() || blocks_.back().text.capacity() - blocks_.back().text.size() < length ||
            blocks_.back().text.size() >= kBlockSize) {
            Block block;
            block.text.reserve(kBlockSize);
            blocks_.push_back(std::move(block));
        }
        std::string& text = blocks_.back().text;
        lines_.push_back(Span{static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(text.size()),
                              length});
        text.append(scratch_);
    }
    blocks_.back().lastLine = lines_.size() - 1;
}

void SccLines::ReleaseBefore(std::size_t index) noexcept {
    while (released_ < blocks_.size() && blocks_[released_].lastLine < index &&
           !blocks_[released_].text.empty()) {
        std::string().swap(blocks_[released_].text);
        ++released_;
    }
}

void SccLines::Release() noexcept {
    std::vector<Block>().swap(blocks_);
    std::vector<Span>().swap(lines_);
    std::string().swap(scratch_);
    released_ = 0;
}

SccLines readSccLines(const std::function<void(std::string&)>& appendLine, const std::function<bool()>& atEnd,
                      const std::function<void()>& backgroundTask) {
    SccLines lines;
    do {
        lines.Read(appendLine);
        backgroundTask();
    } while (!atEnd());
    return lines;
}

CaptionLinesEnd decodeCaptionLines(SccLines& sccLines, tk::StringList& timeCodeArray,
                                   tk::StringList& captionArray2, const CaptionLineHooks& hooks) {
    const auto lastLine = static_cast<std::int64_t>(sccLines.Count()) - 1;
    const std::function<void()>* withinLine = hooks.withinLine ? &hooks.withinLine : nullptr;
    if (lastLine > 0) {
        timeCodeArray.Reserve(timeCodeArray.Count() + lastLine);
        captionArray2.Reserve(captionArray2.Count() + lastLine);
    }
    for (std::int64_t i = 1; i <= lastLine; ++i) {
        hooks.showProgress(progressValue(i, lastLine));
        const std::string_view line = sccLines.Line(static_cast<std::size_t>(i));
        if (!hasTimecodeWithTurns(line, withinLine))
            return CaptionLinesEnd::NoTimecode;

        CaptionLineFields fields{line, {}};
        if (const auto split = splitCaptionLine(line, withinLine))
            fields = *split;
        if (hooks.unbuffered())
            timeCodeArray.Append(unbufferedTimecodeWithTurns(fields.timecodeField, fields.codeField, withinLine));
        else
            timeCodeArray.Append(std::string(fields.timecodeField));
        captionArray2.Append(decodeCodeField(fields.codeField, withinLine));
        sccLines.ReleaseBefore(static_cast<std::size_t>(i));
        hooks.backgroundTask();
    }
    return CaptionLinesEnd::AllDone;
}

}  // namespace quillet
