// Text input and output streams: line ends, UTF-8 decoding, end-of-file, atomic writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "toolkit/Exceptions.h"
#include "toolkit/FolderItem.h"
#include "toolkit/TextStreams.h"

namespace {

namespace fs = std::filesystem;

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

    std::size_t FileCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()));
    }

    QTemporaryDir dir_;
};

using V = std::vector<std::string>;

TEST_F(TextStreamTest, EveryKindOfLineEndEndsALine) {
    EXPECT_EQ(Lines("a\nb\r\nc\rd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(Lines("a\nb\n"), (V{"a", "b"}));
    EXPECT_EQ(Lines("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(Lines("x\r\r\ny"), (V{"x", "", "y"}));
    EXPECT_EQ(Lines("\n\r"), (V{"", ""}));
    EXPECT_EQ(Lines("tail  \t\n"), (V{"tail  \t"}));  // only the line end is removed
}

TEST_F(TextStreamTest, EndOfFileComesRightAfterTheLastLine) {
    EXPECT_EQ(Lines(""), V{});
    EXPECT_EQ(Lines("\n"), V{""});
    EXPECT_EQ(Lines("a"), V{"a"});
    EXPECT_EQ(Lines("a\n\n"), (V{"a", ""}));
    EXPECT_EQ(Lines("a\r"), V{"a"});

    // The import reads once before its first end test, also on an empty file.
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

TEST_F(TextStreamTest, LinesAndLineEndsAcrossBufferBoundaries) {
    // A CR as the last byte of one read block and its LF as the first of the next.
    for (std::size_t before : {65535u, 65534u, 65536u}) {
        const std::string first(before, 'x');
        EXPECT_EQ(Lines(first + "\r\nnext\r\n"), (V{first, "next"})) << before;
        EXPECT_EQ(Lines(first + "\r"), V{first}) << before;
    }
    // A line far longer than any buffer, and a multi-byte character cut by a block edge.
    const std::string longLine = std::string(65535, 'y') + "\xE2\x82\xAC" + std::string(300000, 'z');
    EXPECT_EQ(Lines(longLine + "\nend"), (V{longLine, "end"}));
    // A byte-order mark alone, or followed by a line end.
    EXPECT_EQ(Lines("\xEF\xBB\xBF"), V{});
    EXPECT_EQ(Lines("\xEF\xBB\xBF\r\nx"), (V{"", "x"}));
}

TEST_F(TextStreamTest, DecodesUtf8AndReplacesInvalidBytes) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(Lines("\xEF\xBB\xBF" "abc\n\xEF\xBB\xBFx"), (V{"abc", "\xEF\xBB\xBFx"}));  // only a leading mark
    EXPECT_EQ(Lines("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), V{"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"});
    EXPECT_EQ(Lines("caf\xE9\n"), V{"caf" + fffd});                     // Latin-1 byte
    EXPECT_EQ(Lines("a\xFF" "b"), V{"a" + fffd + "b"});
    EXPECT_EQ(Lines("\xE2\x82\nz"), (V{fffd, "z"}));                    // cut short by the line end
    EXPECT_EQ(Lines("\xC0\xAF"), V{fffd + fffd});                        // overlong form
    EXPECT_EQ(Lines("\xED\xA0\x80"), V{fffd + fffd + fffd});             // encoded surrogate
    EXPECT_EQ(Lines("\xF4\x90\x80\x80"), V{fffd + fffd + fffd + fffd});  // above U+10FFFF
    EXPECT_EQ(Lines("\xF0\x9F\x98" "A"), V{fffd + "A"});                 // one mark per maximal subpart
    EXPECT_EQ(Lines(std::string("a\0b", 3)), V{std::string("a\0b", 3)});
}

TEST_F(TextStreamTest, InvalidRunsFollowTheMaximalSubpartRule) {
    // Mixed runs of broken sequences, with the replacement that the Unicode
    // recommendation gives (the same as Python's and the browsers' UTF-8 decoders).
    const std::pair<const char*, const char*> cases[] = {
        {"\xE0\x9F\xBF\xC2\xE1\xDF\xA0\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xDF\xA0\xEF\xBF\xBD"},
        {"\xBF\xC2\x90\x90\xC2\xF0", "\xEF\xBF\xBD\xC2\x90\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xE1\x90\xBF\xDF", "\xE1\x90\xBF\xEF\xBF\xBD"},
        {"\xBF\x9F\xBF\xF0\xBF\xE1", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xE1\xED\xDF\xEF\xA0\xDF\xE1", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xBF\xEF" "a" "\xE1", "\xEF\xBF\xBD\xEF\xBF\xBD" "a" "\xEF\xBF\xBD"},
        {"\xED\xFF\xE0" "a" "\x90\xBF\xC2\xE1\xFF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "a" "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xE1\xEF\x90\xDF\x9F", "\xEF\xBF\xBD\xEF\xBF\xBD\xDF\x9F"},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(Lines(bytes), V{expected}) << bytes;

    // Whatever the bytes, the text that comes out is valid UTF-8.
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        std::string bytes;
        for (int i = 0; i < 16; ++i) bytes += static_cast<char>(random() % 256);
        for (const std::string& line : Lines(bytes)) {
            const QByteArray utf8 = QByteArray::fromStdString(line);
            EXPECT_EQ(QString::fromUtf8(utf8).toUtf8(), utf8);
        }
    }
}

TEST_F(TextStreamTest, ReadsASampleFileAndRefusesWhatIsNoFile) {
    auto sample = tk::FolderItem::FromPath(QUILLET_TEST_DATA "/ccx-popon_basic.scc");
    auto stream = sample->OpenAsTextFile();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->ReadLine(), "Scenarist_SCC V1.0");
    std::size_t lines = 1;
    while (!stream->Eof()) {
        const std::string line = stream->ReadLine();
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        ++lines;
    }
    EXPECT_GT(lines, 2u);

    EXPECT_EQ(tk::TextInputStream::Open(Dir() / "missing.txt"), nullptr);
    EXPECT_EQ(tk::TextInputStream::Open(Dir()), nullptr);  // a folder
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
}

TEST_F(TextStreamTest, AnExistingFileSurvivesAFailedOrAbandonedWrite) {
    const fs::path target = WriteBytes("keep.txt", "old transcript\n");

    auto failing = tk::TextOutputStream::Create(target);
    failing->WriteLine("new transcript that never lands");
    tk::TextOutputStream::FailNextCommitForTesting();
    try {
        failing->Close();
        ADD_FAILURE() << "a failed commit must be reported";
    } catch (const tk::IOException& e) {
        EXPECT_NE(std::string(e.what()).find("keep.txt"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadBytes(target), "old transcript\n");

    {
        auto abandoned = tk::TextOutputStream::Create(target);
        abandoned->WriteLine("dropped");
    }
    EXPECT_EQ(ReadBytes(target), "old transcript\n");
    EXPECT_EQ(FileCount(), 1u);

    auto replacing = tk::TextOutputStream::Create(target);  // the hook fired only once
    replacing->WriteLine("new");
    replacing->Close();
    EXPECT_EQ(ReadBytes(target), "new\n");
}

TEST_F(TextStreamTest, CreatingWhereNoFileCanBeRaisesAnError) {
    const fs::path missingFolder = Dir() / "no such folder" / "out.txt";
    try {
        tk::FolderItem(missingFolder).CreateTextFile();
        ADD_FAILURE() << "expected IOException";
    } catch (const tk::IOException& e) {
        EXPECT_NE(std::string(e.what()).find("out.txt"), std::string::npos) << e.what();
    }
    fs::create_directory(Dir() / "folder");
    EXPECT_THROW(tk::FolderItem(Dir() / "folder").CreateTextFile(), tk::IOException);
    EXPECT_TRUE(fs::is_directory(Dir() / "folder"));
}

TEST_F(TextStreamTest, ReadsThatFailOrMeetNoRegularFile) {
    // A failing read is an error, never the end of the file.
    tk::TextInputStream::FailReadsAfterForTesting(11);
    auto stream = tk::TextInputStream::Open(WriteBytes("in.txt", "first line\nsecond line\n"));
    tk::TextInputStream::FailReadsAfterForTesting(-1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->ReadLine(), "first line");
    try {
        stream->ReadLine();
        ADD_FAILURE() << "expected IOException";
    } catch (const tk::IOException& e) {
        EXPECT_STREQ(e.what(), "The file \"in.txt\" could not be read: Input/output error.");
    }

    // A FIFO is refused at once instead of waiting for a writer.
    const fs::path fifo = Dir() / "pipe.scc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string reason;
    EXPECT_EQ(tk::TextInputStream::Open(fifo, reason), nullptr);
    EXPECT_EQ(reason, "it is not a regular file");
    EXPECT_EQ(tk::TextInputStream::Open(Dir() / "none.txt", reason), nullptr);
    EXPECT_EQ(reason, "No such file or directory");
}

TEST_F(TextStreamTest, LineEndsAtEveryBlockEdge) {
    // Small blocks put every byte of these texts at some block's edge.
    const std::string text = "\xEF\xBB\xBF" "ab\r\ncd\r\re\n\nf\xC3\xA9g\r";
    const V expected{"ab", "cd", "", "e", "", "f\xC3\xA9g"};
    for (std::size_t block : {1u, 2u, 3u, 4u, 5u, 7u}) {
        tk::TextInputStream::SetBlockSizeForTesting(block);
        EXPECT_EQ(Lines(text), expected) << block;
    }
    tk::TextInputStream::SetBlockSizeForTesting(0);
}

TEST_F(TextStreamTest, AWriteThatFailsMidwayLeavesTheOldFile) {
    const fs::path target = WriteBytes("keep.txt", "old transcript\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    tk::TextOutputStream::FailWritesAfterForTesting(1000);
    auto stream = tk::TextOutputStream::Create(target);
    tk::TextOutputStream::FailWritesAfterForTesting(-1);
    try {
        stream->WriteLine(std::string(4000, 'x'));
        ADD_FAILURE() << "expected IOException";
    } catch (const tk::IOException& e) {
        EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
    }
    stream.reset();
    EXPECT_EQ(ReadBytes(target), "old transcript\n");
    EXPECT_EQ(FileCount(), 1u);

    // A replacement keeps the permissions of the file it replaces.
    auto replacing = tk::TextOutputStream::Create(target);
    replacing->WriteLine("new");
    replacing->Close();
    EXPECT_EQ(ReadBytes(target), "new\n");
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
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
