// Regular-expression search with the patterns the application uses.
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
}

}  // namespace
