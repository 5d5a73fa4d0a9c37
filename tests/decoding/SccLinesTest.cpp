#include <gtest/gtest.h>

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

}  // namespace
