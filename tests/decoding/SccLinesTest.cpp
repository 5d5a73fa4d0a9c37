#include <gtest/gtest.h>

#include "decoding/SccLines.h"

namespace {

using quillet::splitCaptionLine;

TEST(SccLines, SplitsAtTheFirstTabAndStopsAtTheNext) {
    auto fields = splitCaptionLine("00:00:01:15\t9420 9420 94ae");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->timecodeField, "00:00:01:15");
    EXPECT_EQ(fields->codeField, "9420 9420 94ae");

    fields = splitCaptionLine("00:00:01:15\t9420\tcomment\tmore");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->timecodeField, "00:00:01:15");
    EXPECT_EQ(fields->codeField, "9420");

    // Nothing after the tab: an empty code field, not a missing one.
    fields = splitCaptionLine("00:00:01:15\t");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->codeField, "");

    fields = splitCaptionLine("\t\t9420");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->timecodeField, "");
    EXPECT_EQ(fields->codeField, "");

    // A carriage return left by the line reader stays part of the field.
    fields = splitCaptionLine("00:00:01:15\t9420\r");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->codeField, "9420\r");
}

TEST(SccLines, LineWithoutTabHasNoFields) {
    EXPECT_FALSE(splitCaptionLine("00:00:01:15 9420 9420"));
    EXPECT_FALSE(splitCaptionLine(""));
}

}  // namespace
