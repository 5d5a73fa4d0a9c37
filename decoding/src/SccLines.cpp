#include "decoding/SccLines.h"

namespace quillet {

std::optional<CaptionLineFields> splitCaptionLine(std::string_view line) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    const std::size_t next = line.find('\t', tab + 1);
    const std::size_t codeEnd = next == std::string_view::npos ? line.size() : next;
    return CaptionLineFields{line.substr(0, tab), line.substr(tab + 1, codeEnd - tab - 1)};
}

}  // namespace quillet
