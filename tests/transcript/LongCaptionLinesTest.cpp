// Caption lines of megabytes, from the import's work on each line to the timecode
// layout. The unbuffered timecode moves a caption later by its code field's length in
// characters (1/150 s each), and that length is counted a megabyte at a time: a
// character cut by a megabyte's edge must count once, whatever bytes it has and
// wherever the edge cuts it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decoding/CaptionDecoder.h"
#include "decoding/SccImport.h"
#include "decoding/SccLines.h"
#include "toolkit/Strings.h"
#include "transcript/Transcript.h"

namespace quillet {
namespace {

constexpr std::size_t kMegabyte = std::size_t{1} << 20;

struct LongLine {
    std::int64_t characters;  // a multiple of three, so one more or less changes the hundredths
    std::vector<std::pair<std::size_t, std::string>> placed;  // characters at these bytes
    const char* timecode;  // 00:00:01:00 moved later by characters / 150 s
};

// "c8e9 " over and over, `line.characters` characters in all, with the given ones in place.
std::string codeField(const LongLine& line) {
    std::size_t bytes = static_cast<std::size_t>(line.characters);
    for (const auto& [at, character] : line.placed) bytes += character.size() - 1;
    std::string field;
    field.reserve(bytes);
    while (field.size() < bytes) field += "c8e9                ";
    field.resize(bytes);
    for (const auto& [at, character] : line.placed) field.replace(at, character.size(), character);
    return field;
}

TEST(LongCaptionLines, UnbufferedTimecodesCountEveryCharacterCutByAMegabyteEdge) {
    const std::size_t edge = kMegabyte;
    const std::string e = "\xC3\xA9", note = "\xE2\x99\xAA";  // é, ♪
    const std::int64_t justOver = 1048578, twiceOver = 2097153;
    const LongLine lines[] = {
        {justOver, {}, "01:56:31.52"},
        {justOver, {{edge - 2, e}}, "01:56:31.52"},
        {justOver, {{edge - 1, e}}, "01:56:31.52"},
        {justOver, {{edge, e}}, "01:56:31.52"},
        {justOver, {{edge - 3, note}}, "01:56:31.52"},
        {justOver, {{edge - 2, note}}, "01:56:31.52"},
        {justOver, {{edge - 1, note}}, "01:56:31.52"},
        {justOver, {{edge, note}}, "01:56:31.52"},
        {justOver, {{edge - 1, "\xC3"}, {edge + 1, "\xA9"}}, "01:56:31.52"},  // stray bytes, a character each
        {twiceOver, {}, "03:53:02.02"},
        {twiceOver, {{2 * edge - 1, e}}, "03:53:02.02"},
        // The first megabyte's last character ends two bytes into the second, so the
        // second ends two bytes later too.
        {twiceOver, {{edge - 1, note}, {2 * edge + 1, e}}, "03:53:02.02"},
    };

    std::vector<std::string> file{"Scenarist_SCC V1.0"};
    tk::StringList expectedCaptions;
    for (const LongLine& line : lines) {
        const std::string field = codeField(line);
        ASSERT_EQ(tk::Len(field), line.characters) << file.size();
        file.push_back("00:00:01:00\t" + field);
        expectedCaptions.Append(decodeCodeField(field));
    }
    std::size_t next = 0, turns = 0;
    SccLines sccLines = readSccLines([&](std::string& text) { text += file[next++]; },
                                     [&] { return next == file.size(); }, [] {});
    tk::StringList timecodes, captions;
    const CaptionLineHooks hooks{[](std::int32_t) {}, [] { return true; }, [] {}, [&] { ++turns; }};
    ASSERT_EQ(decodeCaptionLines(sccLines, timecodes, captions, hooks), CaptionLinesEnd::AllDone);
    EXPECT_GE(turns, std::size(lines));

    cleanCaptions(captions, {});
    cleanCaptions(expectedCaptions, {});
    const std::string body = assembleTranscript(captions, timecodes, {[] { return true; }, {}, {}});
    std::size_t at = 0;
    for (std::size_t i = 0; i < std::size(lines); ++i) {
        // Entry by entry, so that a failure names the line and shows its timecode.
        std::string entry = std::string(1, '[') + lines[i].timecode;
        entry += "]\t" + expectedCaptions.Get(static_cast<std::int64_t>(i)) + tk::EndOfLine() + tk::EndOfLine();
        EXPECT_TRUE(body.compare(at, entry.size(), entry) == 0)
            << "line " << i + 1 << ": " << body.substr(at, 15) << " instead of " << entry.substr(0, 15);
        at += entry.size();
    }
    EXPECT_EQ(body.size(), at);
}

}  // namespace
}  // namespace quillet
