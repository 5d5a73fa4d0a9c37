#include <gtest/gtest.h>

#include <bit>
#include <set>
#include <string>
#include <tuple>

#include "decoding/CodeTables.h"

namespace {

using quillet::codeSubstitutionTable;
using quillet::pairCharacterTable;

// Row numbers in these tests count from 1, as the rows are usually talked about.
const quillet::CodeRow& codeRow(std::size_t number) { return codeSubstitutionTable()[number - 1]; }
const quillet::CodeRow& pairRow(std::size_t number) { return pairCharacterTable()[number - 1]; }

bool isLowerHexGroup(std::string_view pattern) {
    return pattern.size() == 4 && pattern.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

TEST(CodeTables, SizesAndNoRowLengthensTheText) {
    EXPECT_EQ(codeSubstitutionTable().size(), 568U);
    EXPECT_EQ(pairCharacterTable().size(), 98U);
    for (const auto& row : pairCharacterTable()) EXPECT_EQ(row.pattern.size(), 2U) << row.pattern;
    // The decoder sizes its buffers on this.
    for (const auto table : {codeSubstitutionTable(), pairCharacterTable()})
        for (const auto& row : table) {
            EXPECT_FALSE(row.pattern.empty());
            EXPECT_LE(row.replacement.size(), row.pattern.size()) << row.pattern;
        }
}

TEST(CodeTables, PreambleAddressRows) {
    // 420 distinct line-21 codes, each byte with odd parity, all turned into a space.
    std::set<std::string_view> seen;
    for (std::size_t number = 30; number <= 449; ++number) {
        const auto& row = codeRow(number);
        ASSERT_TRUE(isLowerHexGroup(row.pattern)) << "row " << number;
        for (std::size_t i = 0; i < 4; i += 2) {
            const unsigned byte = std::stoul(std::string(row.pattern.substr(i, 2)), nullptr, 16);
            EXPECT_EQ(std::popcount(byte) % 2, 1) << "row " << number;
        }
        EXPECT_EQ(row.replacement, "20") << "row " << number;
        seen.insert(row.pattern);
    }
    EXPECT_EQ(seen.size(), 420U);
    EXPECT_NE(codeRow(450).replacement, "20");
    // Screen rows change fastest, attributes slowest.
    EXPECT_EQ(codeRow(30).pattern, "91d0");
    EXPECT_EQ(codeRow(44).pattern, "9470");
    EXPECT_EQ(codeRow(45).pattern, "9151");
    EXPECT_EQ(codeRow(449).pattern, "947f");
}

TEST(CodeTables, RowsAtTheSeamsAndTheCharacters) {
    // Everything before the space removal is a four-digit lower-case group; the space
    // removal sits between the group rows and the joined-field rows.
    for (std::size_t number = 1; number <= 466; ++number)
        EXPECT_TRUE(isLowerHexGroup(codeRow(number).pattern)) << "row " << number;
    EXPECT_EQ(quillet::kSpaceRemovalRow, 466U);
    // The italics codes become the row-1 preamble code, which a later row turns into a space.
    for (std::size_t number = 9; number <= 13; ++number) EXPECT_EQ(codeRow(number).replacement, "91d0");
    // The only upper-case patterns are rows 492 to 494.
    for (std::size_t number = 1; number <= 568; ++number)
        EXPECT_EQ(codeRow(number).pattern.find_first_of("ABCDEF") != std::string_view::npos,
                  number >= 492 && number <= 494) << "row " << number;
    // Rows 495-564: one character followed by one space.
    for (std::size_t number = 495; number <= 564; ++number) {
        ASSERT_GE(codeRow(number).replacement.size(), 2U);
        EXPECT_EQ(codeRow(number).replacement.back(), ' ') << "row " << number;
    }

    // The rows the decoder's passes are cut at, and the bar rows the clean-up relies on.
    const std::tuple<std::size_t, const char*, const char*> rows[] = {
        {1, "1329", "{ "}, {467, " ", ""}, {468, "| |", "|"}, {565, "| |", "|"}, {469, "||", "| "}, {470, "||", "| "},
        {566, "||", "| "}, {567, "||", "| "}, {568, "||", "| "}, {495, "9137", "\u266A "}, {496, "1937", "\u266A "},
    };
    for (const auto& [number, pattern, replacement] : rows) {
        EXPECT_EQ(codeRow(number).pattern, pattern) << "row " << number;
        EXPECT_EQ(codeRow(number).replacement, replacement) << "row " << number;
    }
    EXPECT_EQ(pairRow(64).replacement, " ");
    EXPECT_EQ(pairRow(98).pattern, "  ");
    EXPECT_EQ(pairRow(98).replacement, "");
}

}  // namespace
