// Text input streams: line ends, UTF-8 decoding, end-of-file, failing reads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StreamTestSupport.h"

namespace {

using ::testing::HasSubstr;

using V = std::vector<std::string>;

TEST_F(TextStreamTest, LineEndsEndOfFileAndUtf8) {
    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::string, V> cases[] = {
        // LF, CRLF and a lone CR end a line; only the line end is removed; the end of
        // the file comes right after the last line.
        {"a\nb\r\nc\rd", {"a", "b", "c", "d"}}, {"a\nb\n", {"a", "b"}}, {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"x\r\r\ny", {"x", "", "y"}}, {"\n\r", {"", ""}}, {"tail  \t\n", {"tail  \t"}}, {"", {}}, {"\n", {""}},
        {"a", {"a"}}, {"a\n\n", {"a", ""}}, {"a\r", {"a"}},
        // Only a leading byte-order mark is skipped.
        {"\xEF\xBB\xBF", {}}, {"\xEF\xBB\xBF\r\nx", {"", "x"}}, {"\xEF\xBB\xBF" "abc\n\xEF\xBB\xBFx", {"abc", "\xEF\xBB\xBFx"}},
        // UTF-8 passes; each maximal invalid subpart becomes one U+FFFD (as Python's and
        // the browsers' decoders do); a NUL is kept.
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"}},
        {"caf\xE9\n", {"caf" + fffd}}, {"a\xFF" "b", {"a" + fffd + "b"}}, {"\xE2\x82\nz", {fffd, "z"}},
        {"\xC0\xAF", {fffd + fffd}}, {"\xED\xA0\x80", {fffd + fffd + fffd}}, {"\xF4\x90\x80\x80", {fffd + fffd + fffd + fffd}},
        {"\xF0\x9F\x98" "A", {fffd + "A"}}, {std::string("a\0b", 3), {std::string("a\0b", 3)}},
        {"\xE0\x9F\xBF\xC2\xE1\xDF\xA0\xBF", {fffd + fffd + fffd + fffd + fffd + "\xDF\xA0" + fffd}},
        {"\xBF\xC2\x90\x90\xC2\xF0", {fffd + "\xC2\x90" + fffd + fffd + fffd}},
        {"\xE1\x90\xBF\xDF", {"\xE1\x90\xBF" + fffd}},
        {"\xBF\x9F\xBF\xF0\xBF\xE1", {fffd + fffd + fffd + fffd + fffd}},
        {"\xE1\xED\xDF\xEF\xA0\xDF\xE1", {fffd + fffd + fffd + fffd + fffd + fffd}},
        {"\xBF\xEF" "a" "\xE1", {fffd + fffd + "a" + fffd}},
        {"\xED\xFF\xE0" "a" "\x90\xBF\xC2\xE1\xFF", {fffd + fffd + fffd + "a" + fffd + fffd + fffd + fffd + fffd}},
        {"\xE1\xEF\x90\xDF\x9F", {fffd + fffd + "\xDF\x9F"}},
    };
    for (const auto& [bytes, lines] : cases)
        EXPECT_EQ(Lines(bytes), lines) << ::testing::PrintToString(bytes);

    // The import reads once before its first end test, also on an empty file; a closed
    // stream is at its end.
    auto stream = tk::TextInputStream::Open(WriteBytes("empty.txt", ""));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->ReadLine(), "");
    EXPECT_TRUE(stream->Eof());
    stream = tk::TextInputStream::Open(WriteBytes("two.txt", "one\ntwo"));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->ReadLine(), "one");
    stream->Close();
    EXPECT_TRUE(stream->Eof());
    EXPECT_EQ(stream->ReadLine(), "");
}

TEST_F(TextStreamTest, LinesAndLineEndsAcrossBlockEdges) {
    // A CR as the last byte of one read block and its LF as the first of the next.
    for (std::size_t before : {65535u, 65534u, 65536u}) {
        const std::string first(before, 'x');
        EXPECT_EQ(Lines(first + "\r\nnext\r\n"), (V{first, "next"})) << before;
        EXPECT_EQ(Lines(first + "\r"), V{first}) << before;
    }
    // A line far longer than any buffer, and a multi-byte character cut by a block edge.
    const std::string longLine = std::string(65535, 'y') + "\xE2\x82\xAC" + std::string(300000, 'z');
    EXPECT_EQ(Lines(longLine + "\nend"), (V{longLine, "end"}));
    // Small blocks put every byte of this text at some block's edge.
    for (std::size_t block : {1u, 2u, 3u, 4u, 5u, 7u}) {
        tk::TextInputStream::SetBlockSizeForTesting(block);
        EXPECT_EQ(Lines("\xEF\xBB\xBF" "ab\r\ncd\r\re\n\nf\xC3\xA9g\r"), (V{"ab", "cd", "", "e", "", "f\xC3\xA9g"})) << block;
    }
    tk::TextInputStream::SetBlockSizeForTesting(0);
}

TEST_F(TextStreamTest, ALongLineGivesTurnsWhileItIsReadAndChecked) {
    // Megabytes with a character cut at a block's edge and an invalid byte (the replacing
    // road): a turn per block read and per megabyte checked (once every byte is read).
    std::string line = std::string(65535, 'y') + "\xE2\x82\xAC";
    while (line.size() < (3u << 20)) line += "9420 c8e9 \xC3\xA9 ";
    auto stream = tk::TextInputStream::Open(WriteBytes("long.scc", line + "\xFF" + line + "\r\nshort\n"));
    ASSERT_NE(stream, nullptr);
    std::string text = "kept";
    std::size_t turns = 0, checking = 0;
    const std::function<void()> turn = [&] { ++turns; checking += text.size() == 5 + 2 * line.size(); };
    stream->AppendLine(text, turn);
    EXPECT_TRUE(text == "kept" + line + "\xEF\xBF\xBD" + line);  // megabytes are not printed
    EXPECT_GE(turns, 2 * line.size() / 65536);
    EXPECT_GE(checking, 2 * line.size() / (1 << 20));
    const std::size_t before = turns;  // a short line gives none
    text.clear();
    stream->AppendLine(text, turn);
    EXPECT_EQ(text, "short");
    EXPECT_EQ(turns, before);
}

TEST_F(TextStreamTest, ReadsThatFailOrMeetNoRegularFile) {
    // A failing read is an error, never the end of the file.
    tk::TextInputStream::FailReadsAfterForTesting(11);
    auto stream = tk::TextInputStream::Open(WriteBytes("in.txt", "first line\nsecond line\n"));
    tk::TextInputStream::FailReadsAfterForTesting(-1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->ReadLine(), "first line");
    EXPECT_EQ(IOErrorOf([&] { stream->ReadLine(); }), "The file \"in.txt\" could not be read: Input/output error.");

    // A folder, a missing file, and a FIFO, which is refused at once instead of waiting
    // for a writer.
    const fs::path fifo = Dir() / "pipe.scc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string reason;
    EXPECT_EQ(tk::TextInputStream::Open(fifo, reason), nullptr);
    EXPECT_EQ(reason, "it is not a regular file");
    EXPECT_EQ(tk::TextInputStream::Open(Dir() / "none.txt", reason), nullptr);
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_EQ(tk::TextInputStream::Open(Dir()), nullptr);
}

}  // namespace
