#include "decoding/SccLines.h"

#include <algorithm>
#include <cstring>

namespace quillet {
namespace {

// The first tab in line[from..]; with `turn`, searched a megabyte at a time with a turn
// between, since the search alone through a line of a hundred megabytes takes some 10 ms.
std::size_t findTab(std::string_view line, std::size_t from, const std::function<void()>* turn) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    if (turn == nullptr) return line.find('\t', from);
    while (from < line.size()) {
        const std::size_t end = std::min(line.size(), from + kPiece);
        if (const void* tab = std::memchr(line.data() + from, '\t', end - from))
            return static_cast<std::size_t>(static_cast<const char*>(tab) - line.data());
        from = end;
        if (from < line.size()) (*turn)();
    }
    return std::string_view::npos;
}

}  // namespace

std::optional<CaptionLineFields> splitCaptionLine(std::string_view line, const std::function<void()>* turn) {
    const std::size_t tab = findTab(line, 0, turn);
    if (tab == std::string_view::npos) return std::nullopt;
    const std::size_t next = findTab(line, tab + 1, turn);
    const std::size_t codeEnd = next == std::string_view::npos ? line.size() : next;
    return CaptionLineFields{line.substr(0, tab), line.substr(tab + 1, codeEnd - tab - 1)};
}

}  // namespace quillet
