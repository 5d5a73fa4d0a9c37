// Text input and output streams: line ends, UTF-8 decoding, end-of-file, atomic writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "toolkit/Exceptions.h"
#include "toolkit/FolderItem.h"
#include "toolkit/TextStreams.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class TextStreamTest : public ::testing::Test {
protected:
    fs::path Dir() const { return fs::path(dir_.path().toStdString()); }

    fs::path WriteBytes(const std::string& name, const std::string& bytes) const {
        const fs::path path = Dir() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static std::string ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    // Every line of the file, reading until Eof() as the import does.
    std::vector<std::string> Lines(const std::string& bytes) const {
        auto stream = tk::TextInputStream::Open(WriteBytes("in.txt", bytes));
        EXPECT_NE(stream, nullptr);
        std::vector<std::string> lines;
        if (!stream) return lines;
        while (!stream->Eof()) lines.push_back(stream->ReadLine());
        EXPECT_EQ(stream->ReadLine(), "");  // reading past the end gives nothing
        stream->Close();
        return lines;
    }

    // The text of the IOException that `f` raises.
    static std::string IOErrorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const tk::IOException& e) {
            return e.what();
        }
        return "(no IOException)";
    }

    std::size_t FileCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()));
    }

    QTemporaryDir dir_;
};

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

TEST_F(TextStreamTest, OutputIsUtf8WithLineEndsAndAppearsOnlyWhenClosed) {
    const fs::path target = Dir() / "out.txt";
    auto stream = tk::FolderItem(target).CreateTextFile();
    ASSERT_NE(stream, nullptr);
    stream->WriteLine("Transcripts of caf\xC3\xA9.scc");
    stream->WriteLine("");
    stream->WriteLine("[00:00:01.50]\tHELLO");
    EXPECT_FALSE(fs::exists(target));  // nothing in place until the commit
    stream->Close();
    EXPECT_EQ(ReadBytes(target), "Transcripts of caf\xC3\xA9.scc\n\n[00:00:01.50]\tHELLO\n");
    EXPECT_NO_THROW(stream->Close());  // a second close does nothing
    EXPECT_THROW(stream->WriteLine("late"), tk::IOException);
    EXPECT_EQ(FileCount(), 1u);  // no temporary file left behind

    // Where no file can be made, the error names it, and a folder stays a folder.
    EXPECT_THAT(IOErrorOf([&] { tk::FolderItem(Dir() / "no such folder" / "new.txt").CreateTextFile(); }),
                HasSubstr("new.txt"));
    fs::create_directory(Dir() / "folder");
    EXPECT_THROW(tk::FolderItem(Dir() / "folder").CreateTextFile(), tk::IOException);
    EXPECT_TRUE(fs::is_directory(Dir() / "folder"));
}

TEST_F(TextStreamTest, AnExistingFileSurvivesAFailedOrAbandonedWrite) {
    const fs::path target = WriteBytes("keep.txt", "old transcript\n");
    const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(target, perms);

    // A commit that fails, a write that fails midway, a stream dropped without a close.
    auto failing = tk::TextOutputStream::Create(target);
    failing->WriteLine("new transcript that never lands");
    tk::TextOutputStream::FailNextCommitForTesting();
    EXPECT_THAT(IOErrorOf([&] { failing->Close(); }), HasSubstr("keep.txt"));
    tk::TextOutputStream::FailWritesAfterForTesting(1000);
    auto full = tk::TextOutputStream::Create(target);
    tk::TextOutputStream::FailWritesAfterForTesting(-1);
    EXPECT_THAT(IOErrorOf([&] { full->WriteLine(std::string(4000, 'x')); }), HasSubstr("No space left on device"));
    full.reset();
    tk::TextOutputStream::Create(target)->WriteLine("dropped");
    EXPECT_EQ(ReadBytes(target), "old transcript\n");
    EXPECT_EQ(FileCount(), 1u);

    // The hooks fired only once; a replacement keeps the permissions of the file it replaces.
    auto replacing = tk::TextOutputStream::Create(target);
    replacing->WriteLine("new");
    replacing->Close();
    EXPECT_EQ(ReadBytes(target), "new\n");
    EXPECT_EQ(fs::status(target).permissions(), perms);
}

TEST_F(TextStreamTest, LinksAreFollowedAndDevicesWrittenInPlace) {
    // A link stays a link; the file it points at gets the text.
    const fs::path real = WriteBytes("real.txt", "old\n");
    const fs::path link = Dir() / "link.txt";
    fs::create_symlink("real.txt", link);
    auto viaLink = tk::TextOutputStream::Create(link);
    viaLink->WriteLine("through the link");
    viaLink->Close();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), "through the link\n");

    // A FIFO that nobody reads is refused at once, and stays a FIFO.
    const fs::path fifo = Dir() / "pipe.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(tk::TextOutputStream::Create(fifo), tk::IOException);
    EXPECT_TRUE(fs::is_fifo(fifo));

    // A device node of the test's own (as /dev/full: every write fails) is written in
    // place, and its failure is reported; it is never turned into a plain file.
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a device node needs root";
    const fs::path full = Dir() / "full.txt";
    ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, ::makedev(1, 7)), 0);
    auto device = tk::TextOutputStream::Create(full);
    EXPECT_THROW(
        {
            device->WriteLine("text");
            device->Close();
        },
        tk::IOException);
    EXPECT_TRUE(fs::is_character_file(full));
}

}  // namespace
