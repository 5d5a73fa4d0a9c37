#pragma once
// The fields of one caption line of an SCC file (a line after the header): a timecode, a
// tab, then the code groups. Qt-free, like the rest of the decoding library's interface.
#include <functional>
#include <optional>
#include <string_view>

namespace quillet {

struct CaptionLineFields {
    std::string_view timecodeField;  // the text before the first tab
    std::string_view codeField;      // from the first tab up to the next tab or the line's end
};

// The fields of `line`, viewing into it; anything after a second tab is ignored. A line
// without a tab has no code field and gives nothing, so each caller decides what such a
// line means. `turn`, when given, is called between megabytes of a huge line's search
// for its second tab.
std::optional<CaptionLineFields> splitCaptionLine(std::string_view line,
                                                  const std::function<void()>* turn = nullptr);

}  // namespace quillet
