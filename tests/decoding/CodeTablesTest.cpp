#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <string>

#include "decoding/CodeTables.h"

namespace {

using quillet::codeSubstitutionTable;
using quillet::pairCharacterTable;

// Row numbers in these tests count from 1, as the rows are usually talked about.
const quillet::CodeRow& codeRow(std::size_t number) { return codeSubstitutionTable()[number - 1]; }
const quillet::CodeRow& pairRow(std::size_t number) { return pairCharacterTable()[number - 1]; }

std::string hexByteWithParity(unsigned byte) {
    if (std::popcount(byte & 0x7FU) % 2 == 0) byte |= 0x80U;
    char text[3];
    std::snprintf(text, sizeof text, "%02x", byte);
    return text;
}

TEST(CodeTables, HaveTheirRowCounts) {
    EXPECT_EQ(codeSubstitutionTable().size(), 568U);
    EXPECT_EQ(pairCharacterTable().size(), 98U);
    for (const auto& row : codeSubstitutionTable()) EXPECT_FALSE(row.pattern.empty());
    for (const auto& row : pairCharacterTable()) EXPECT_EQ(row.pattern.size(), 2U) << row.pattern;
}

TEST(CodeTables, PreambleAddressRowsFollowTheLine21Layout) {
    const unsigned attributes[] = {0x10, 0x11, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                                   0x0A, 0x0B, 0x0C, 0x0D, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                                   0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
    const unsigned screenRows[15][2] = {{0x11, 0x40}, {0x11, 0x60}, {0x12, 0x40}, {0x12, 0x60}, {0x15, 0x40},
                                        {0x15, 0x60}, {0x16, 0x40}, {0x16, 0x60}, {0x17, 0x40}, {0x17, 0x60},
                                        {0x10, 0x40}, {0x13, 0x40}, {0x13, 0x60}, {0x14, 0x40}, {0x14, 0x60}};
    std::size_t number = 30;
    for (unsigned attribute : attributes) {
        for (const auto& screenRow : screenRows) {
            const std::string expected = hexByteWithParity(screenRow[0]) + hexByteWithParity(screenRow[1] + attribute);
            EXPECT_EQ(codeRow(number).pattern, expected) << "row " << number;
            EXPECT_EQ(codeRow(number).replacement, "20") << "row " << number;
            ++number;
        }
    }
    EXPECT_EQ(number, 450U);
    // Spot checks written out by hand, independent of the helper above.
    EXPECT_EQ(codeRow(30).pattern, "91d0");
    EXPECT_EQ(codeRow(44).pattern, "9470");
    EXPECT_EQ(codeRow(45).pattern, "9151");
    EXPECT_EQ(codeRow(449).pattern, "947f");
}

TEST(CodeTables, RowOrderAtTheSeams) {
    // The italics codes become the row-1 preamble code, which a later row turns into a space.
    for (std::size_t number = 9; number <= 13; ++number) EXPECT_EQ(codeRow(number).replacement, "91d0");
    EXPECT_EQ(codeRow(30).pattern, "91d0");
    // Everything before the space removal is a four-digit lower-case group; the space
    // removal sits between the group rows and the joined-field rows.
    for (std::size_t number = 1; number <= 466; ++number) {
        const auto pattern = codeRow(number).pattern;
        EXPECT_EQ(pattern.size(), 4U) << "row " << number;
        EXPECT_EQ(pattern.find_first_not_of("0123456789abcdef"), std::string_view::npos) << "row " << number;
    }
    EXPECT_EQ(codeRow(467).pattern, " ");
    EXPECT_EQ(codeRow(467).replacement, "");
    EXPECT_EQ(quillet::kSpaceRemovalRow, 466U);
    // Rows 4 and 5 put their space first.
    EXPECT_EQ(codeRow(1).replacement, "{ ");
    EXPECT_EQ(codeRow(4).replacement, " \u00D8");
    EXPECT_EQ(codeRow(5).replacement, " \u00F8");
    // Repeated rows.
    EXPECT_EQ(codeRow(456).pattern, "94f8");
    EXPECT_EQ(codeRow(463).pattern, "94f8");
    for (std::size_t number : {468U, 565U}) {
        EXPECT_EQ(codeRow(number).pattern, "| |");
        EXPECT_EQ(codeRow(number).replacement, "|");
    }
    for (std::size_t number : {469U, 470U, 566U, 567U, 568U}) {
        EXPECT_EQ(codeRow(number).pattern, "||");
        EXPECT_EQ(codeRow(number).replacement, "| ");
    }
    EXPECT_EQ(codeRow(474).pattern, "9420");
    EXPECT_EQ(codeRow(482).pattern, "80");
    // The only upper-case patterns.
    EXPECT_EQ(codeRow(492).pattern, "97A1");
    EXPECT_EQ(codeRow(493).pattern, "97A2");
    EXPECT_EQ(codeRow(494).pattern, "97A3");
    for (std::size_t number = 1; number <= 568; ++number) {
        if (number >= 492 && number <= 494) continue;
        EXPECT_EQ(codeRow(number).pattern.find_first_of("ABCDEF"), std::string_view::npos) << "row " << number;
    }
}

TEST(CodeTables, CharacterRowsCarryTheExactCharacters) {
    // Rows 495-564: one character followed by one space.
    for (std::size_t number = 495; number <= 564; ++number) {
        const auto replacement = codeRow(number).replacement;
        ASSERT_GE(replacement.size(), 2U);
        EXPECT_EQ(replacement.back(), ' ') << "row " << number;
    }
    EXPECT_EQ(codeRow(495).pattern, "9137");
    EXPECT_EQ(codeRow(495).replacement, "\xE2\x99\xAA ");  // U+266A
    EXPECT_EQ(codeRow(496).pattern, "1937");
    EXPECT_EQ(codeRow(496).replacement, "\xE2\x99\xAA ");
    EXPECT_EQ(codeRow(501).replacement, "\xE2\x84\xA2 ");  // U+2122
    EXPECT_EQ(codeRow(511).pattern, "9220");
    EXPECT_EQ(codeRow(517).replacement, "\xE2\x80\x98 ");  // U+2018
    EXPECT_EQ(codeRow(519).replacement, "* ");
    EXPECT_EQ(codeRow(520).replacement, "\xE2\x80\x99 ");  // U+2019
    EXPECT_EQ(codeRow(521).replacement, "\xE2\x80\x94 ");  // U+2014
    EXPECT_EQ(codeRow(523).replacement, "\xE2\x84\xA0 ");  // U+2120
    EXPECT_EQ(codeRow(524).replacement, "\xE2\x80\xA2 ");  // U+2022
    EXPECT_EQ(codeRow(525).replacement, "\xE2\x80\x9C ");  // U+201C
    EXPECT_EQ(codeRow(526).replacement, "\xE2\x80\x9D ");  // U+201D
    EXPECT_EQ(codeRow(542).pattern, "92bf");
    EXPECT_EQ(codeRow(552).replacement, "\\ ");
    EXPECT_EQ(codeRow(555).replacement, "\xC2\xA6 ");  // U+00A6
    EXPECT_EQ(codeRow(563).replacement, "\xC2\xA4 ");  // U+00A4
    EXPECT_EQ(codeRow(564).pattern, "1338");

    EXPECT_EQ(pairRow(53).replacement, "\xC3\xB1");  // ñ
    EXPECT_EQ(pairRow(63).replacement, "|");
    EXPECT_EQ(pairRow(64).pattern, "20");
    EXPECT_EQ(pairRow(64).replacement, " ");
    EXPECT_EQ(pairRow(66).replacement, "\"");
    EXPECT_EQ(pairRow(74).replacement, "\xC3\xA1");  // á
    EXPECT_EQ(pairRow(96).replacement, "@");
    EXPECT_EQ(pairRow(97).pattern, "a8");
    EXPECT_EQ(pairRow(97).replacement, "(");
    EXPECT_EQ(pairRow(98).pattern, "  ");
    EXPECT_EQ(pairRow(98).replacement, "");
}

TEST(CodeTables, NoRowLengthensTheText) {
    // The decoder sizes its buffers on this.
    for (const auto table : {codeSubstitutionTable(), pairCharacterTable()})
        for (const auto& row : table) EXPECT_LE(row.replacement.size(), row.pattern.size()) << row.pattern;
}

}  // namespace
