#include "decoding/CodeTables.h"

#include <array>

namespace quillet {
namespace {

// ---- Preamble address codes -------------------------------------------------------
// 28 attribute values times 15 screen rows, every one rewritten to a space placeholder.
// Writing 420 four-digit codes out by hand invites typos, so they are derived from the
// line-21 layout: first byte and base of the second byte per screen row, plus the
// attribute in the low bits of the second byte, each byte with its odd-parity bit.

constexpr std::array<unsigned, 28> kPreambleAttributes = {
    0x10, 0x11, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
    0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};

struct ScreenRow {
    unsigned first;
    unsigned secondBase;
};

constexpr std::array<ScreenRow, 15> kScreenRows = {{{0x11, 0x40},
                                                    {0x11, 0x60},
                                                    {0x12, 0x40},
                                                    {0x12, 0x60},
                                                    {0x15, 0x40},
                                                    {0x15, 0x60},
                                                    {0x16, 0x40},
                                                    {0x16, 0x60},
                                                    {0x17, 0x40},
                                                    {0x17, 0x60},
                                                    {0x10, 0x40},
                                                    {0x13, 0x40},
                                                    {0x13, 0x60},
                                                    {0x14, 0x40},
                                                    {0x14, 0x60}}};

constexpr unsigned withOddParity(unsigned byte) {
    unsigned ones = 0;
    for (unsigned b = byte & 0x7F; b != 0; b >>= 1) ones += b & 1U;
    return (ones % 2 == 0) ? (byte | 0x80U) : (byte & 0x7FU);
}

using PreambleCodes = std::array<std::array<char, 4>, kPreambleRowCount>;

constexpr PreambleCodes makePreambleCodes() {
    constexpr char digits[] = "0123456789abcdef";
    PreambleCodes codes{};
    std::size_t i = 0;
    for (unsigned attribute : kPreambleAttributes) {
        for (const ScreenRow& row : kScreenRows) {
            const unsigned first = withOddParity(row.first);
            const unsigned second = withOddParity(row.secondBase + attribute);
            codes[i][0] = digits[first >> 4];
            codes[i][1] = digits[first & 0xF];
            codes[i][2] = digits[second >> 4];
            codes[i][3] = digits[second & 0xF];
            ++i;
        }
    }
    return codes;
}

constexpr PreambleCodes kPreambleCodes = makePreambleCodes();

// ---- Rows before the preamble address codes ---------------------------------------
constexpr std::array<CodeRow, kFirstPreambleRow> kLeadingRows = {{
    // Second extended set characters that must be handled before anything else; the
    // space they carry is removed again later with all the others.
    {"1329", "{ "},
    {"132a", "} "},
    {"13b9", "å "},
    {"13ba", " Ø"},
    {"133b", " ø"},
    // Italics preamble codes that mark the caption with a dash pair.
    {"136e", "--"},
    {"0100", "--"},
    {"91ce", "--"},
    // Italics codes that become the row-1 preamble code, which the next block turns
    // into a space: they must stay ahead of it.
    {"92ce", "91d0"},
    {"91ae", "91d0"},
    {"916e", "91d0"},
    {"946e", "91d0"},
    {"94ce", "91d0"},
    // Mid-row style changes.
    {"9120", "--"},
    {"91a1", "--"},
    {"91a2", "--"},
    {"9123", "--"},
    {"91a4", "--"},
    {"9125", "--"},
    {"9126", "--"},
    {"91a7", "--"},
    {"91a8", "--"},
    {"9129", "--"},
    {"912a", "--"},
    {"91ab", "--"},
    {"912c", "--"},
    {"91ad", "--"},
    {"912f", "--"},
    // Flash on.
    {"94a8", "--"},
}};

// ---- Rows after the preamble address codes ----------------------------------------
constexpr std::size_t kTrailingRowCount = kCodeSubstitutionRows - kFirstPreambleRow - kPreambleRowCount;

constexpr std::array<CodeRow, kTrailingRowCount> kTrailingRows = {{
    // Still applied group by group (the spaces between groups are in place).
    {"92d0", "| "},
    {"9440", "20"},
    {"942c", "20"},
    {"942f", "20"},
    {"94e0", "20"},
    {"13e0", "20"},
    {"94f8", ""},
    {"9458", ""},
    {"94d6", ""},
    {"97a1", ""},
    {"97a2", ""},
    {"9723", ""},
    {"94f4", "| "},
    {"94f8", ""},
    {"94f2", "| "},
    {"94d0", ""},
    {"9452", ""},
    // From here on the field is one run of characters.
    {" ", ""},
    {"| |", "|"},
    {"||", "| "},
    {"||", "| "},
    {"9426", ""},
    {"94d6", ""},
    {"94ad", ""},
    {"9420", ""},
    {"94ae", ""},
    {"942f", ""},
    {"9252", "| "},
    {"9254", "| "},
    {"91f2", "| "},
    {"91b9", "20"},
    {"91f4", "| "},
    {"80", ""},
    {"9476", "| "},
    {"9454", ""},
    {"942c", ""},
    {"13f2", ""},
    {"13f4", ""},
    {"9154", ""},
    {"9152", ""},
    {"9723", ""},
    {"9753", ""},
    {"97A1", ""},
    {"97A2", ""},
    {"97A3", ""},
    // Special characters, each followed by a space.
    {"9137", "\u266A "},
    {"1937", "\u266A "},
    {"91b0", "\u00AE "},
    {"9131", "\u00B0 "},
    {"9132", "\u00BD "},
    {"91b3", "\u00BF "},
    {"9134", "\u2122 "},
    {"91b5", "\u00A2 "},
    {"91b6", "\u00A3 "},
    {"9138", "\u00E0 "},
    {"91ba", "\u00E8 "},
    {"913b", "\u00E2 "},
    {"91bc", "\u00EA "},
    {"913d", "\u00EE "},
    {"913e", "\u00F4 "},
    {"91bf", "\u00FB "},
    // First extended set, in code order.
    {"9220", "\u00C1 "},
    {"92a1", "\u00C9 "},
    {"92a2", "\u00D3 "},
    {"9223", "\u00DA "},
    {"92a4", "\u00DC "},
    {"9225", "\u00FC "},
    {"9226", "\u2018 "},
    {"92a7", "\u00A1 "},
    {"92a8", "* "},
    {"9229", "\u2019 "},
    {"922a", "\u2014 "},
    {"92ab", "\u00A9 "},
    {"922c", "\u2120 "},
    {"92ad", "\u2022 "},
    {"92ae", "\u201C "},
    {"922f", "\u201D "},
    {"92b0", "\u00C0 "},
    {"9231", "\u00C2 "},
    {"9232", "\u00C7 "},
    {"92b3", "\u00C8 "},
    {"9234", "\u00CA "},
    {"92b5", "\u00CB "},
    {"92b6", "\u00EB "},
    {"9237", "\u00CE "},
    {"9238", "\u00CF "},
    {"92b9", "\u00EF "},
    {"92ba", "\u00D4 "},
    {"923b", "\u00D9 "},
    {"92bc", "\u00F9 "},
    {"923d", "\u00DB "},
    {"923e", "\u00AB "},
    {"92bf", "\u00BB "},
    // Second extended set (the five codes that have to come first are at the top).
    {"1320", "\u00C3 "},
    {"13a1", "\u00E3 "},
    {"13a2", "\u00CD "},
    {"1323", "\u00CC "},
    {"13a4", "\u00EC "},
    {"1325", "\u00D2 "},
    {"1326", "\u00F2 "},
    {"13a7", "\u00D5 "},
    {"13a8", "\u00F5 "},
    {"13ab", "\\ "},
    {"132c", "^ "},
    {"13ad", "_ "},
    {"13ae", "\u00A6 "},
    {"132f", "~ "},
    {"13b0", "\u00C4 "},
    {"1331", "\u00E4 "},
    {"1332", "\u00D6 "},
    {"13b3", "\u00F6 "},
    {"1334", "\u00DF "},
    {"13b5", "\u00A5 "},
    {"13b6", "\u00A4 "},
    {"1338", "\u00C5 "},
    // Bars that the rows above have put side by side.
    {"| |", "|"},
    {"||", "| "},
    {"||", "| "},
    {"||", "| "},
}};

using SubstitutionTable = std::array<CodeRow, kCodeSubstitutionRows>;

constexpr SubstitutionTable makeSubstitutionTable() {
    SubstitutionTable table{};
    std::size_t i = 0;
    for (const CodeRow& row : kLeadingRows) table[i++] = row;
    for (const auto& code : kPreambleCodes) table[i++] = {std::string_view(code.data(), code.size()), "20"};
    for (const CodeRow& row : kTrailingRows) table[i++] = row;
    return table;
}

constexpr SubstitutionTable kSubstitutionTable = makeSubstitutionTable();

constexpr std::array<CodeRow, kPairCharacterRows> kPairTable = {{
    {"c1", "A"},  {"c2", "B"},  {"43", "C"},  {"c4", "D"},  {"45", "E"},  {"46", "F"},
    {"c7", "G"},  {"c8", "H"},  {"49", "I"},  {"4a", "J"},  {"cb", "K"},  {"4c", "L"},
    {"cd", "M"},  {"ce", "N"},  {"4f", "O"},  {"d0", "P"},  {"51", "Q"},  {"52", "R"},
    {"d3", "S"},  {"54", "T"},  {"d5", "U"},  {"d6", "V"},  {"57", "W"},  {"58", "X"},
    {"d9", "Y"},  {"da", "Z"},  {"61", "a"},  {"62", "b"},  {"e3", "c"},  {"64", "d"},
    {"e5", "e"},  {"e6", "f"},  {"67", "g"},  {"68", "h"},  {"e9", "i"},  {"ea", "j"},
    {"6b", "k"},  {"ec", "l"},  {"6d", "m"},  {"6e", "n"},  {"ef", "o"},  {"70", "p"},
    {"f1", "q"},  {"f2", "r"},  {"73", "s"},  {"f4", "t"},  {"75", "u"},  {"76", "v"},
    {"f7", "w"},  {"f8", "x"},  {"79", "y"},  {"7a", "z"},  {"fe", "\u00F1"},
    {"5b", "["},  {"dc", "\u00E9"},  {"5d", "]"},  {"5e", "\u00ED"},  {"df", "\u00F3"},
    {"e0", "\u00FA"},  {"fb", "\u00E7"},  {"7c", "\u00F7"},  {"fd", "\u00D1"},
    {"7f", "|"},  {"20", " "},  {"a1", "!"},  {"a2", "\""},  {"a3", "#"},  {"a4", "$"},
    {"25", "%"},  {"26", "&"},  {"a7", "'"},  {"28", "("},  {"29", ")"},  {"2a", "\u00E1"},
    {"ab", "+"},  {"2c", ","},  {"ad", "-"},  {"ae", "."},  {"2f", "/"},  {"b0", "0"},
    {"31", "1"},  {"32", "2"},  {"b3", "3"},  {"34", "4"},  {"b5", "5"},  {"b6", "6"},
    {"37", "7"},  {"38", "8"},  {"b9", "9"},  {"ba", ":"},  {"3b", ";"},  {"bc", "<"},
    {"3d", "="},  {"3e", ">"},  {"bf", "?"},  {"40", "@"},  {"a8", "("},  {"  ", ""},
}};

constexpr bool everyPatternFilled(std::span<const CodeRow> rows) {
    for (const CodeRow& row : rows)
        if (row.pattern.empty()) return false;
    return true;
}
// std::array quietly value-initialises rows that an initialiser list leaves out.
static_assert(everyPatternFilled(kSubstitutionTable), "a substitution row is missing");
static_assert(everyPatternFilled(kPairTable), "a pair row is missing");

}  // namespace

std::span<const CodeRow> codeSubstitutionTable() { return kSubstitutionTable; }

std::span<const CodeRow> pairCharacterTable() { return kPairTable; }

}  // namespace quillet
