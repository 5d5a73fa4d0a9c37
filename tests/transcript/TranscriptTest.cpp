#include "transcript/Transcript.h"

#include <gtest/gtest.h>

#include <vector>

#include "toolkit/Exceptions.h"
#include "toolkit/Strings.h"

namespace quillet {
namespace {

const std::string LE = tk::EndOfLine();

std::string joined(const tk::StringList& list) {
    std::string all;
    for (const std::string& item : list.Items())
        all += "<" + item + ">";
    return all;
}

LayoutSettings boxes(bool timecode, bool paragraph) {
    return {[=] { return timecode; }, [=] { return paragraph; }, {}};
}

TEST(CleanCaptions, EachCaptionLosesAtMostItsFirstTwoBarsAndALoneSpace) {
    // caption, after clean-up, its line in the line layout
    const std::vector<std::vector<std::string>> cases = {
        {"", "", ""}, {" ", "", ""}, {"|", "", ""}, {"||", "|", " "}, {"| ", "", ""},
        {" |", "", ""}, {"|*", "*", "*"}, {"*|", "*", "*"}, {"  ", "  ", "  "},
        {"a|b|c|d", "abc|d", "abc d"}, {"a|b|c| d", "abc| d", "abc  d"},
        {"|| ", "", ""}, {" ||", "", ""},  // a lone space left by the second pass
        {"|\xC3\xA9|", "\xC3\xA9", "\xC3\xA9"},
    };
    for (const auto& c : cases) {
        tk::StringList captions{c[0]}, timecodes{"00:00:00:00"};
        cleanCaptions(captions, {});
        EXPECT_EQ(captions.Get(0), c[1]) << "caption \"" << c[0] << "\"";
        EXPECT_EQ(assembleTranscript(captions, timecodes, boxes(false, false)), c[2] + LE) << c[0];
    }
}

TEST(CleanCaptions, FinishesTheFirstPassOverTheWholeListBeforeTheSecond) {
    // Bars alone are left by the first pass only, which also shows the passes' order.
    tk::StringList captions{"||", "a||", "| "};
    std::vector<std::string> seen;  // the list at each background-task call
    cleanCaptions(captions, [&] { seen.push_back(joined(captions)); });
    EXPECT_EQ(seen, (std::vector<std::string>{"<||><a||><| >", "<||><a|><| >", "<||><a|><>",
                                              "<|><a|><>", "<|><a><>", "<|><a><>"}));

    tk::StringList shrinking{"a|", "b|", "c|"};
    int calls = 0;
    cleanCaptions(shrinking, [&] {
        ++calls;
        shrinking.RemoveAll();
    });
    EXPECT_EQ(calls, 1);  // the loops follow the list's end as it moves
}

TEST(AssembleTranscript, LaysCaptionsOutInTheCheckedLayout) {
    const tk::StringList captions{"A|1", ""};
    const auto body = [&](bool timecode, bool paragraph) {
        tk::StringList timecodes{"00:00:01,50", "00:00:02:03"};
        return assembleTranscript(captions, timecodes, boxes(timecode, paragraph));
    };
    const std::string timecoded = "[00:00:01.50]\tA 1" + LE + LE + "[00:00:02:03]\t" + LE + LE;
    EXPECT_EQ(body(true, false), timecoded);
    EXPECT_EQ(body(true, true), timecoded);
    EXPECT_EQ(body(false, true), " A 1 ");
    EXPECT_EQ(body(false, false), "A 1" + LE + LE);

    for (const bool timecode : {false, true})
        for (const bool paragraph : {false, true}) {
            tk::StringList none, timecodes{"00:00:00,00"};
            EXPECT_EQ(assembleTranscript(none, timecodes, boxes(timecode, paragraph)), "");
            EXPECT_EQ(timecodes.Get(0), "00:00:00,00");
        }
}

TEST(AssembleTranscript, FixesTheFirstCommaOfEveryTimecodeInEveryLayout) {
    tk::StringList captions{"a", "b", "c"}, timecodes{"1,5", "1,5,7", "1.5"};
    EXPECT_EQ(assembleTranscript(captions, timecodes, boxes(false, true)), " a b c");
    EXPECT_EQ(joined(timecodes), "<1.5><1.5,7><1.5>");

    tk::StringList shortList{"1,5"};
    EXPECT_THROW(assembleTranscript(captions, shortList, {}), tk::OutOfBoundsException);
}

TEST(AssembleTranscript, ReadsTheBoxesAfreshForEveryCaption) {
    int timecodeReads = 0, paragraphReads = 0, tasks = 0;
    LayoutSettings settings{[&] { return ++timecodeReads == 1; },  // checked for the first only
                            [&] { return ++paragraphReads == 1; },
                            [&] { ++tasks; }};
    tk::StringList captions{"A", "B", "C"}, timecodes{"t", "u", "v"};
    EXPECT_EQ(assembleTranscript(captions, timecodes, settings), "[t]\tA" + LE + LE + " BC" + LE);
    EXPECT_EQ(timecodeReads, 3);
    EXPECT_EQ(paragraphReads, 2);  // never while "Include Timecode" was checked
    EXPECT_EQ(tasks, 3);
}

}  // namespace
}  // namespace quillet
