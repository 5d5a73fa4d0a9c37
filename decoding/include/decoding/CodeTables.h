#pragma once
// The two constant tables that turn a caption line's code groups into text. Their row
// order is part of the output: every row rewrites what the rows before it left, so a
// row moved or dropped changes transcripts that users compare line by line.
#include <cstddef>
#include <span>
#include <string_view>

namespace quillet {

struct CodeRow {
    std::string_view pattern;
    std::string_view replacement;
};

// 568 rows, applied first to last to a whole code field.
std::span<const CodeRow> codeSubstitutionTable();

// 98 rows, applied first to last to one two-character unit.
std::span<const CodeRow> pairCharacterTable();

// Landmarks of codeSubstitutionTable (zero-based indices), for code that has to know
// where the groups of the field stop being separated by spaces.
inline constexpr std::size_t kCodeSubstitutionRows = 568;
inline constexpr std::size_t kPairCharacterRows = 98;
inline constexpr std::size_t kFirstPreambleRow = 29;     // 420 preamble address codes start here
inline constexpr std::size_t kPreambleRowCount = 420;
inline constexpr std::size_t kSpaceRemovalRow = 466;     // the row that deletes every space

}  // namespace quillet
