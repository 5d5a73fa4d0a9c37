// A line of megabytes read with turns of the event loop is checked as UTF-8 a megabyte
// at a time and grown a megabyte at a time: a character that a megabyte's edge cuts in
// two must come through whole, and an unfinished one must still become U+FFFD.
#include <gtest/gtest.h>

#include <algorithm>

#include "StreamTestSupport.h"

namespace {

TEST_F(TextStreamTest, LongLinesKeepEveryCharacterThatAMegabyteEdgeCuts) {
    const std::size_t edge = std::size_t{1} << 20;
    const std::string e = "\xC3\xA9", note = "\xE2\x99\xAA", clef = "\xF0\x9D\x84\x9E", fffd = "\xEF\xBF\xBD";
    struct Placed {
        std::size_t at;
        std::string bytes, reads;
    };
    struct Line {
        std::size_t length;
        std::vector<Placed> placed;  // in order
    };
    std::vector<Line> lines;
    // Characters of two, three and four bytes at every place from just before the first
    // megabyte's edge to just after it.
    for (const std::string& character : {e, note, clef})
        for (std::size_t at = edge - character.size(); at <= edge; ++at)
            lines.push_back({edge + 4096, {{at, character, character}}});
    // Past a character cut by the first edge the second comes as many bytes later.
    lines.push_back({2 * edge + 4096, {{edge - 1, note, note}, {2 * edge, clef, clef}}});
    lines.push_back({2 * edge + 4096, {{2 * edge - 2, clef, clef}}});
    // Unfinished at the edge: a character's first bytes, a lone continuation byte.
    lines.push_back({edge + 4096, {{edge - 2, "\xE2\x99", fffd}}});
    lines.push_back({edge + 4096, {{edge - 1, "\xF0\x9D\x84", fffd}}});
    lines.push_back({edge + 4096, {{edge, "\xA9", fffd}}});

    std::string file;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::string line(lines[n].length, static_cast<char>('a' + n % 26));
        for (const Placed& p : lines[n].placed) line.replace(p.at, p.bytes.size(), p.bytes);
        file += line + (n % 2 ? "\r\n" : "\n");
    }
    auto stream = tk::TextInputStream::Open(WriteBytes("long.scc", file));
    ASSERT_NE(stream, nullptr);
    file.clear();
    std::size_t turns = 0;
    const std::function<void()> turn = [&] { ++turns; };
    for (std::size_t n = 0; n < lines.size(); ++n) {
        std::string expected(lines[n].length, static_cast<char>('a' + n % 26));
        for (auto p = lines[n].placed.rbegin(); p != lines[n].placed.rend(); ++p)  // the last first: places stay put
            expected.replace(p->at, p->bytes.size(), p->reads);
        std::string text;
        stream->AppendLine(text, turn);
        const auto at = std::mismatch(text.begin(), text.begin() + std::min(text.size(), expected.size()), expected.begin());
        EXPECT_TRUE(text == expected) << "line " << n << " of " << text.size() << " bytes differs at "
                                      << at.first - text.begin();
    }
    EXPECT_TRUE(stream->Eof());
    EXPECT_GE(turns, lines.size() * 16);  // a turn per 64 KB read
}

}  // namespace
