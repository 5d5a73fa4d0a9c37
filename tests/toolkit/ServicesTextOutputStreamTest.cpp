// The transcript's output stream: atomic replacement, links, devices and FIFOs, owners
// and permissions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "StreamTestSupport.h"
#include "toolkit/FolderItem.h"

namespace {

using ::testing::HasSubstr;

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

TEST_F(TextStreamTest, AFifoWhoseReaderLeavesFailsTheWriteAndTheProgramGoesOn) {
    const fs::path fifo = Dir() / "out.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    auto stream = tk::TextOutputStream::Create(fifo);
    ::close(reader);
    EXPECT_THAT(IOErrorOf([&] { stream->WriteLine(std::string(1 << 20, 'x')); }),
                HasSubstr("could not be written: Broken pipe."));
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(TextStreamTest, AFileTheUserMayNotWriteIsRefusedAndKeepsEveryByte) {
    const fs::path notes = WriteBytes("notes.txt", "the user's notes\n");
    fs::permissions(notes, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto refusal = [&] {
        const std::string error = IOErrorOf([&] { WriteWhole(notes, "transcript"); });
        return error.find("Permission denied") != std::string::npos ? 0 : 1;
    };
    if (::geteuid() == 0) {
        // Root may write anything, as its shell may: the case is an ordinary user's.
        ASSERT_EQ(::chown(Dir().c_str(), kNobody, kNogroup), 0);
        ASSERT_EQ(::chown(notes.c_str(), kNobody, kNogroup), 0);
        ASSERT_EQ(AsNobody(refusal), 0);
    } else {
        EXPECT_EQ(refusal(), 0);
    }
    EXPECT_EQ(ReadBytes(notes), "the user's notes\n");
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(TextStreamTest, AReplacedFileKeepsItsOwnerGroupAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
    const fs::path theirs = WriteBytes("theirs.txt", "old\n");
    ASSERT_EQ(::chown(theirs.c_str(), kNobody, kNogroup), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0640), 0);
    WriteWhole(theirs, "new\n");
    struct stat info {};
    ASSERT_EQ(::stat(theirs.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kNobody);
    EXPECT_EQ(info.st_gid, kNogroup);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(theirs), "new\n");
}

TEST_F(TextStreamTest, NamesUpToTheSystemsLimitAndNewFilesUnderTheUmask) {
    std::string cjk;
    for (int i = 0; i < 83; ++i) cjk += "\xE5\xAD\x97";  // three bytes each
    const mode_t previous = ::umask(027);
    for (const std::string& name : {std::string(251, 'a') + ".txt", cjk + ".txt"}) {
        WriteWhole(Dir() / name, "text\n");
        EXPECT_EQ(ReadBytes(Dir() / name), "text\n") << name.size();
        EXPECT_EQ(fs::status(Dir() / name).permissions(), fs::perms(0640)) << name.size();
    }
    ::umask(previous);
    EXPECT_EQ(FileCount(), 2u);
}

TEST_F(TextStreamTest, ALoopOfLinksIsReportedAndStaysALoop) {
    fs::create_symlink("b", Dir() / "a");
    fs::create_symlink("a", Dir() / "b");
    for (const fs::path& name : {Dir() / "a", Dir() / "a" / "x.txt"})
        EXPECT_THAT(IOErrorOf([&] { WriteWhole(name, "text"); }), HasSubstr("Too many levels of symbolic links"));
    EXPECT_TRUE(fs::is_symlink(Dir() / "a"));
    EXPECT_TRUE(fs::is_symlink(Dir() / "b"));
    EXPECT_EQ(FileCount(), 2u);
}

}  // namespace
