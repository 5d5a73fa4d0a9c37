// Regular-expression search.
#include <gtest/gtest.h>

#include <vector>

#include "toolkit/RegEx.h"

namespace {

bool Finds(tk::RegEx& re, std::string_view text) { return re.Search(text) != nullptr; }

TEST(RegExTest, FileNameTimecodeAndCleanUpPatterns) {
    // Letter case is ignored by default; "." is any one character before the letters.
    const struct {
        const char* pattern;
        std::vector<const char*> found, notFound;
    } cases[] = {
        {".scc", {"show.scc", "SHOW.SCC", "show.scc.txt", "xscc"}, {"scc", "show.txt", ""}},
        // Digits of other scripts are not \d.
        {"\\d\\d\\:", {"00:00:01:15\t9420 9420", "header\t9420 trailing 12:"}, {"0:0:1;15\t9420", "   ", "\xD9\xA1\xD9\xA2:"}},
        {"[^|]", {"|a", "  "}, {"|", "||", ""}},
        {"[^ *]", {"|", "\xC3\xA9"}, {" * "}},
    };
    tk::RegEx re;
    EXPECT_TRUE(Finds(re, "anything"));  // no pattern yet: the empty pattern matches
    for (const auto& c : cases) {
        re.SetSearchPattern(c.pattern);
        for (const char* text : c.found)
            EXPECT_TRUE(Finds(re, text)) << c.pattern << " in " << text;
        for (const char* text : c.notFound)
            EXPECT_FALSE(Finds(re, text)) << c.pattern << " in " << text;
    }
    re.Options()->CaseSensitive = true;
    re.SetSearchPattern(".scc");
    EXPECT_FALSE(Finds(re, "SHOW.SCC"));
    re.Options()->CaseSensitive = false;  // applies from the next search
    EXPECT_TRUE(Finds(re, "SHOW.SCC"));
}

TEST(RegExTest, MatchDetails) {
    tk::RegEx re;
    re.SetSearchPattern("(\\d+):(x)?(\\d+)");
    auto match = re.Search("caf\xC3\xA9 12:34");
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(match->MatchedText(), "12:34");
    EXPECT_EQ(match->SubExpressionCount(), 4);
    EXPECT_EQ(match->SubExpressionStartB(0), 6);  // bytes, the two of the accented letter counted
    EXPECT_EQ(match->SubExpressionString(1), "12");
    EXPECT_EQ(match->SubExpressionString(2), "");
    EXPECT_EQ(match->SubExpressionStartB(2), -1);
    EXPECT_EQ(match->SubExpressionStartB(3), 9);
    EXPECT_THROW(match->SubExpressionString(4), tk::OutOfBoundsException);
    EXPECT_THROW(match->SubExpressionStartB(-1), tk::OutOfBoundsException);

    // Invalid UTF-8 in the text is searched, and positions and texts stay those of the
    // bytes searched: a stray byte is one character, a four-byte one two UTF-16 units.
    re.SetSearchPattern("b(.)");
    match = re.Search("a\xFF\xF0\x9F\x98\x80\xE2\x82" "bc");
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(match->SubExpressionStartB(0), 8);
    EXPECT_EQ(match->MatchedText(), "bc");
    re.SetSearchPattern(".(b)");
    match = re.Search("\xFF" "b");
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(match->MatchedText(), "\xFF" "b");
    EXPECT_EQ(match->SubExpressionStartB(1), 1);
}

TEST(RegExTest, AnInvalidPatternRaisesAndKeepsThePreviousOne) {
    auto re = std::make_shared<tk::RegEx>();
    re->SetSearchPattern("a+");
    for (const char* bad : {"(", "[a-", "a{2,1}", "\\"}) {
        try {
            re->SetSearchPattern(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const tk::RegExException& e) {
            EXPECT_EQ(e.Kind(), "RegExException");
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(re->SearchPattern(), "a+");
    EXPECT_TRUE(Finds(*re, "baab"));
    EXPECT_THROW(re->SetSearchPattern("("), tk::RuntimeException);  // catchable as the base kind
}

}  // namespace
