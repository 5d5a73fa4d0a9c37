#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "decoding/CodeTables.h"

namespace {

using quillet::codeSubstitutionTable;
using quillet::pairCharacterTable;

// Row numbers in these tests count from 1, as the rows are usually talked about.
const quillet::CodeRow& codeRow(std::size_t number) { return codeSubstitutionTable()[number - 1]; }

// What every row decodes to is pinned through the decoder (CaptionDecoderTest); these are
// the shapes the fast decoder's passes are built on.
TEST(CodeTables, ShapesTheDecoderRelies) {
    EXPECT_EQ(codeSubstitutionTable().size(), 568U);
    EXPECT_EQ(pairCharacterTable().size(), 98U);
    for (const auto& row : pairCharacterTable()) EXPECT_EQ(row.pattern.size(), 2U) << row.pattern;
    // It sizes its buffers on no row lengthening the text.
    for (const auto table : {codeSubstitutionTable(), pairCharacterTable()})
        for (const auto& row : table) {
            EXPECT_FALSE(row.pattern.empty());
            EXPECT_LE(row.replacement.size(), row.pattern.size()) << row.pattern;
        }
    // Everything before the space removal is a four-digit lower-case group; the only
    // upper-case patterns are rows 492 to 494.
    EXPECT_EQ(quillet::kSpaceRemovalRow, 466U);
    for (std::size_t number = 1; number <= 568; ++number) {
        const std::string_view pattern = codeRow(number).pattern;
        const bool lowerGroup = pattern.size() == 4 && pattern.find_first_not_of("0123456789abcdef") == pattern.npos;
        EXPECT_TRUE(lowerGroup || number > 466) << "row " << number;
        EXPECT_EQ(pattern.find_first_of("ABCDEF") != std::string_view::npos, number >= 492 && number <= 494)
            << "row " << number;
    }
    // The rows the passes are cut at, and the bar rows the clean-up relies on.
    const std::tuple<std::size_t, const char*, const char*> rows[] = {
        {1, "1329", "{ "}, {30, "91d0", "20"}, {449, "947f", "20"}, {450, "92d0", "| "}, {467, " ", ""},
        {468, "| |", "|"}, {565, "| |", "|"}, {469, "||", "| "}, {470, "||", "| "}, {566, "||", "| "},
        {567, "||", "| "}, {568, "||", "| "}, {495, "9137", "\u266A "}, {564, "1338", "\u00C5 "},
    };
    for (const auto& [number, pattern, replacement] : rows) {
        EXPECT_EQ(codeRow(number).pattern, pattern) << "row " << number;
        EXPECT_EQ(codeRow(number).replacement, replacement) << "row " << number;
    }
    EXPECT_EQ(pairCharacterTable()[97].pattern, "  ");
    EXPECT_EQ(pairCharacterTable()[97].replacement, "");
}

}  // namespace
