// Huge lines and fields are worked in pieces with a turn of the event loop between
// them: the timecode test and the tab search a megabyte at a time, the decoder 64 KB
// at a time. What each looks for is put across a piece's edge at every offset, where
// an edge one byte off would lose it or count it twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "decoding/CaptionDecoder.h"
#include "decoding/SccImport.h"
#include "decoding/SccLines.h"

namespace {

constexpr std::size_t kMegabyte = std::size_t{1} << 20;
constexpr std::size_t kStretch = std::size_t{1} << 16;  // the decoder's work between turns

std::string repeated(std::string_view piece, std::size_t bytes) {
    std::string text;
    text.reserve(bytes + piece.size());
    while (text.size() < bytes) text += piece;
    return text;
}

// Where two long texts first differ, with a few bytes of each from there (megabytes
// are not printed).
std::string difference(const std::string& got, const std::string& expected) {
    const auto at = static_cast<std::size_t>(
        std::mismatch(got.begin(), got.begin() + std::min(got.size(), expected.size()), expected.begin()).first -
        got.begin());
    return "sizes " + std::to_string(got.size()) + " and " + std::to_string(expected.size()) + ", first difference at " +
           std::to_string(at) + ": \"" + got.substr(at, 12) + "\" instead of \"" + expected.substr(at, 12) + "\"";
}

// The work on a file of a header and this one caption line, with turns inside the line.
quillet::CaptionLinesEnd workOneLine(const std::string& line) {
    std::size_t next = 0;
    quillet::SccLines lines = quillet::readSccLines([&](std::string& text) { text += next++ == 0 ? "header" : line; },
                                                    [&] { return next == 2; }, [] {});
    tk::StringList timecodes, captions;
    const quillet::CaptionLineHooks hooks{[](std::int32_t) {}, [] { return false; }, [] {}, [] {}};
    return quillet::decodeCaptionLines(lines, timecodes, captions, hooks);
}

TEST(LineEdges, TheTimecodeTestSeesTwoDigitsAndAColonAcrossEveryMegabyteEdge) {
    // Lines of megabytes that hold nothing like a timecode but this one, with its colon at
    // every place around the first and the second megabyte; and a lone digit before a
    // colon, which is no timecode wherever it stands. (The two tabs in front leave the
    // code field empty: only the test sees the megabytes.)
    std::string line = "\t\t" + std::string(2 * kMegabyte + 8, 'b');
    for (const std::size_t edge : {kMegabyte, 2 * kMegabyte})
        for (std::size_t colon = edge - 3; colon <= edge + 3; ++colon)
            for (const std::string mark : {"12:", "b2:"}) {
                line.replace(colon - 2, 3, mark);
                EXPECT_EQ(workOneLine(line),
                          mark[0] == '1' ? quillet::CaptionLinesEnd::AllDone : quillet::CaptionLinesEnd::NoTimecode)
                    << mark << " with its colon at " << colon;
                line.replace(colon - 2, 3, "bbb");
            }
}

TEST(LineEdges, TheSplitFindsEachTabAcrossEveryMegabyteEdge) {
    // The first tab around the first and the second megabyte of the line; the second one
    // around a megabyte after the first, or nowhere.
    std::string line(3 * kMegabyte + 8, 'b');
    const std::function<void()> turn = [] {};
    for (const std::size_t edge : {kMegabyte, 2 * kMegabyte})
        for (std::size_t first = edge - 2; first <= edge + 2; ++first) {
            line[first] = '\t';
            for (std::size_t second = first + kMegabyte - 1; second <= first + kMegabyte + 3; ++second) {
                const bool none = second == first + kMegabyte + 3;
                if (!none) line[second] = '\t';
                const auto fields = quillet::splitCaptionLine(line, &turn);
                ASSERT_TRUE(fields) << "first tab at " << first;
                EXPECT_EQ(fields->timecodeField.size(), first);
                EXPECT_EQ(fields->codeField.data(), line.data() + first + 1);
                EXPECT_EQ(fields->codeField.size(), (none ? line.size() : second) - first - 1)
                    << "tabs at " << first << " and " << second;
                line[second] = 'b';
            }
            line[first] = 'b';
        }
    EXPECT_FALSE(quillet::splitCaptionLine(line, &turn));
}

// The field decoded in stretches (and at once) must be what the literal passes make of
// it, byte for byte.
void expectReference(const std::string& field, const std::string& what) {
    std::size_t turns = 0;
    const std::function<void()> turn = [&] { ++turns; };
    const std::string reference = quillet::decodeCodeFieldReference(field);
    const std::string stretched = quillet::decodeCodeField(field, &turn);
    EXPECT_TRUE(stretched == reference) << what << ": " << difference(stretched, reference);
    EXPECT_GT(turns, 0u) << what;
    const std::string whole = quillet::decodeCodeField(field);
    EXPECT_TRUE(whole == reference) << what << " (without turns): " << difference(whole, reference);
}

TEST(StretchEdges, CodesAcrossTheEdgeDecodeAsTheLiteralPasses) {
    // Spaces up to the codes, which the passes drop at once (so the reference stays quick),
    // then the codes with the edge before each of their bytes: a match across two groups,
    // a code that forms once the spaces are gone among letters of both cases, a glued run
    // with a match inside, and a stray byte that a deleted "80" joins to the next.
    for (const std::string codes : {"c8e9 2520", "C1c2 97 A1c4", "c8e92520c1c2", "\xC3" "80\xA9 c1"})
        for (std::size_t before = 0; before <= codes.size() + 1; ++before)
            expectReference(std::string(kStretch - before, ' ') + codes + " 9137 c1c2",
                            "\"" + codes + "\" from " + std::to_string(before) + " bytes before the edge");
}

TEST(StretchEdges, UnitsAcrossTheEdgeConvertAsTheLiteralPasses) {
    // The units are cut from the rewritten field in stretches too. Characters of four
    // bytes, which no row touches, fill it up to "z♪é🎵c1"; four "z" in place of one of
    // them shift the pairs by a character. Each row says which unit the edge cuts where.
    const std::string note = "\xF0\x9F\x8E\xB5";
    const struct {
        std::size_t before;  // bytes of "z♪é🎵c1" before the edge
        bool shifted;
    } cases[] = {
        {0, false},  // none: it falls between two units
        {0, true},   // "zz" between its characters
        {2, false},  // "♪é" after the first byte of ♪
        {3, true},   // "♪é" after the second byte of ♪
        {2, true},   // "z♪" after the first byte of ♪
        {5, true},   // "é🎵" inside é
        {7, true},   // "é🎵" after the first byte of 🎵
        {9, true},   // "🎵c" after the third byte of 🎵
    };
    for (const auto& c : cases) {
        const std::size_t fill = kStretch - c.before, zs = fill % 4 + (c.shifted ? 4 : 0);
        expectReference(repeated(note, fill - zs) + std::string(zs, 'z') + "z\xE2\x99\xAA\xC3\xA9" + note + "c1",
                        std::to_string(c.before) + " bytes before the edge" + (c.shifted ? ", shifted" : ""));
    }
}

TEST(StretchEdges, LongRunsAcrossTheEdgeDecodeAsTheLiteralPasses) {
    // Glued groups of many codes (streamed through the rows), a run of a few digits in
    // endless combinations, and one whose "9458" forms only where "94f8" is deleted, a
    // dozen digits from the next (both rewritten by the few rows that can match); each
    // starts well before the edge, just before it or at it.
    std::string glued, soup(4100, '9');
    while (glued.size() < 4100) glued += "9420c8e92520913794ae4980" + std::to_string(glued.size());
    for (std::size_t i = 0; i < soup.size(); ++i) soup[i] = "914"[(i * i + i / 7) % 3];
    for (const std::string& run : {glued, soup, repeated("111111194594f88", 4100)})
        for (const std::size_t before : {std::size_t{0}, std::size_t{1}, std::size_t{2050}, run.size()})
            expectReference(std::string(kStretch - before, ' ') + run + " c1c2",
                            run.substr(0, 8) + "... from " + std::to_string(before) + " bytes before the edge");
}

}  // namespace
