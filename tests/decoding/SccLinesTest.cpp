#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoding/SccImport.h"
#include "decoding/SccLines.h"

namespace {

TEST(SccLines, SplitsAtTheFirstTabAndStopsAtTheNext) {
    const struct {
        const char *line, *timecode, *code;
    } cases[] = {
        {"00:00:01:15\t9420 9420 94ae", "00:00:01:15", "9420 9420 94ae"},
        {"00:00:01:15\t9420\tcomment\tmore", "00:00:01:15", "9420"},
        {"00:00:01:15\t", "00:00:01:15", ""},  // an empty code field, not a missing one
        {"\t\t9420", "", ""},
        {"00:00:01:15\t9420\r", "00:00:01:15", "9420\r"},  // a CR left by the line reader stays
    };
    for (const auto& c : cases) {
        const auto fields = quillet::splitCaptionLine(c.line);
        ASSERT_TRUE(fields) << c.line;
        EXPECT_EQ(fields->timecodeField, c.timecode);
        EXPECT_EQ(fields->codeField, c.code);
    }
    // A line without a tab has no fields.
    EXPECT_FALSE(quillet::splitCaptionLine("00:00:01:15 9420 9420"));
    EXPECT_FALSE(quillet::splitCaptionLine(""));
}

// The file's lines as a stream would give them, gathered by readSccLines.
quillet::SccLines linesOf(const std::vector<std::string>& file, int* reads = nullptr, int* turns = nullptr) {
    std::size_t next = 0;
    return quillet::readSccLines(
        [&](std::string& text) {
            if (reads) ++*reads;
            if (next < file.size()) text += file[next++];
        },
        [&] { return next >= file.size(); }, [&] { if (turns) ++*turns; });
}

TEST(SccImport, EmptyLinesCountForNothingNotEvenTheProgress) {
    int reads = 0, turns = 0;
    quillet::SccLines lines = linesOf({"", "header", "", "00:00:01:00\t9420 c8e9", "", "", "00:00:02:00\tc8e9",
                                       "00:00:03:00\t9420", "", "00:00:04:00 no tab"},
                                      &reads, &turns);
    EXPECT_EQ(lines.Count(), 5u);
    EXPECT_EQ(reads, 10);
    EXPECT_EQ(turns, 10);

    std::vector<std::int32_t> progress;
    int line = 0, lineTurns = 0;
    tk::StringList timecodes, captions;
    // The timecode choice is read afresh for every line: unbuffered for the first two.
    const quillet::CaptionLineHooks hooks{[&](std::int32_t value) { progress.push_back(value); },
                                          [&] { return ++line <= 2; }, [&] { ++lineTurns; }};
    EXPECT_EQ(quillet::decodeCaptionLines(lines, timecodes, captions, hooks), quillet::CaptionLinesEnd::AllDone);
    EXPECT_EQ(progress, (std::vector<std::int32_t>{16384, 32768, 49152, 65536}));
    EXPECT_EQ(lineTurns, 4);
    EXPECT_EQ(timecodes.Items(), (std::vector<std::string>{"00:00:01.06", "00:00:02.03", "00:00:03:00",
                                                           "00:00:04:00 no tab"}));
    EXPECT_EQ(captions.Items(), (std::vector<std::string>{"Hi", "Hi", "  ", "  "}));

    // An empty file is read once, and has no caption line to work.
    reads = 0;
    EXPECT_EQ(linesOf({}, &reads).Count(), 0u);
    EXPECT_EQ(reads, 1);
}

TEST(SccImport, ALineWithoutTimecodeStopsTheWorkThere) {
    quillet::SccLines lines = linesOf({"h", "00:00:01:00\tc8e9", "12:3", "   ", "00:00:04:00\tc8e9"});
    std::vector<std::int32_t> progress;
    tk::StringList timecodes, captions;
    const quillet::CaptionLineHooks hooks{[&](std::int32_t value) { progress.push_back(value); },
                                          [] { return false; }, [] {}};
    EXPECT_EQ(quillet::decodeCaptionLines(lines, timecodes, captions, hooks), quillet::CaptionLinesEnd::NoTimecode);
    // "12:3" has its two digits and a colon; the line of spaces fails. The bar is set
    // before the test, so it shows the failing line; the lines before it keep theirs.
    EXPECT_EQ(progress, (std::vector<std::int32_t>{16384, 32768, 49152}));
    EXPECT_EQ(timecodes.Items(), (std::vector<std::string>{"00:00:01:00", "12:3"}));
    EXPECT_EQ(captions.Count(), 2);
}

}  // namespace
