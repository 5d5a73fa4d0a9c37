#include <gtest/gtest.h>

#include <bit>
#include <set>
#include <string>

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

// A null pattern or replacement is not checked.
void expectRow(const quillet::CodeRow& row, const char* pattern, const char* replacement, std::size_t number) {
    if (pattern) {
        EXPECT_EQ(row.pattern, pattern) << "row " << number;
    }
    if (replacement) {
        EXPECT_EQ(row.replacement, replacement) << "row " << number;
    }
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

    struct Row {
        std::size_t number;
        const char* pattern;  // nullptr: not checked
        const char* replacement;
    };
    const Row code[] = {
        {1, "1329", "{ "}, {4, nullptr, " \u00D8"}, {5, nullptr, " \u00F8"}, {456, "94f8", nullptr},
        {463, "94f8", nullptr}, {467, " ", ""}, {468, "| |", "|"}, {565, "| |", "|"}, {469, "||", "| "},
        {470, "||", "| "}, {566, "||", "| "}, {567, "||", "| "}, {568, "||", "| "}, {474, "9420", nullptr},
        {482, "80", nullptr}, {492, "97A1", nullptr}, {494, "97A3", nullptr},
        {495, "9137", "\u266A "}, {496, "1937", "\u266A "}, {501, nullptr, "\u2122 "}, {511, "9220", nullptr},
        {517, nullptr, "\u2018 "}, {519, nullptr, "* "}, {520, nullptr, "\u2019 "}, {521, nullptr, "\u2014 "},
        {523, nullptr, "\u2120 "}, {524, nullptr, "\u2022 "}, {525, nullptr, "\u201C "}, {526, nullptr, "\u201D "},
        {542, "92bf", nullptr}, {552, nullptr, "\\ "}, {555, nullptr, "\u00A6 "}, {563, nullptr, "\u00A4 "},
        {564, "1338", nullptr},
    };
    for (const Row& r : code) expectRow(codeRow(r.number), r.pattern, r.replacement, r.number);
    const Row pair[] = {{53, nullptr, "\u00F1"}, {63, nullptr, "|"}, {64, "20", " "}, {66, nullptr, "\""},
                        {74, nullptr, "\u00E1"}, {96, nullptr, "@"}, {97, "a8", "("}, {98, "  ", ""}};
    for (const Row& r : pair) expectRow(pairRow(r.number), r.pattern, r.replacement, r.number);
}

}  // namespace
