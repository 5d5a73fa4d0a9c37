// Where the transcript's output stream puts its text, held to what a shell's ">" does:
// the system finds the place and applies its protections, access rights stay whole, the
// commit replaces only the file that was opened, and a stalled reader never blocks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>

#include "StreamTestSupport.h"
#include "toolkit/Runtime.h"

namespace {

using ::testing::HasSubstr;

constexpr const char* kNoError = "(no IOException)";

std::string ReadFd(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

// A POSIX ACL as the kernel stores it in system.posix_acl_access / _default.
enum AclTag : std::uint16_t { kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20 };
struct AclEntry {
    std::uint16_t tag, perm;
    std::uint32_t id = UINT32_MAX;
};
std::string Acl(std::initializer_list<AclEntry> entries) {
    std::string blob;
    const auto put = [&](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) blob += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(2, 4);  // version
    for (const AclEntry& e : entries) {
        put(e.tag, 2);
        put(e.perm, 2);
        put(e.id, 4);
    }
    return blob;
}

// The attribute's value, or "(none)".
std::string Attribute(const fs::path& path, const char* name) {
    char value[512];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? "(none)" : std::string(value, static_cast<std::size_t>(size));
}

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A kernel protection switched on for the test's length, and put back as it was.
class Protection {
public:
    explicit Protection(const std::string& name) : path_("/proc/sys/fs/" + name) {
        std::ifstream(path_) >> old_;
        if (old_ == 0) std::ofstream(path_) << 1;
        int now = 0;
        std::ifstream(path_) >> now;
        on_ = now != 0;
    }
    ~Protection() {
        if (old_ == 0) std::ofstream(path_) << 0;
    }
    bool On() const { return on_; }

private:
    std::string path_;
    int old_ = -1;
    bool on_ = false;
};

TEST_F(TextStreamTest, TheSystemFindsThePlaceAsForAShell) {
    // An open file that has lost its name, reached through /proc: it gets the text, as
    // after "> /proc/self/fd/N"; no file named "… (deleted)" appears.
    const fs::path gone = WriteBytes("gone.txt", "an older and longer text\n");
    const int held = ::open(gone.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    fs::remove(gone);
    EXPECT_EQ(IOErrorOf([&] { WriteWhole("/proc/self/fd/" + std::to_string(held), "new\n"); }), kNoError);
    ::lseek(held, 0, SEEK_SET);
    EXPECT_EQ(ReadFd(held), "new\n");
    ::close(held);
    EXPECT_EQ(FileCount(), 0u);

    // Standard output that is a pipe, named /dev/stdout.
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    const int savedOut = ::dup(1);
    ::dup2(pipe[1], 1);
    ::close(pipe[1]);
    const std::string error = IOErrorOf([&] { WriteWhole("/dev/stdout", "to the pipe\n"); });
    ::dup2(savedOut, 1);
    ::close(savedOut);
    EXPECT_EQ(error, kNoError);
    EXPECT_EQ(ReadFd(pipe[0]), "to the pipe\n");
    ::close(pipe[0]);

    // A path as long as the system takes, in a folder whose own path leaves no room for
    // a longer name: made new, then replaced.
    const std::size_t folderLength = PATH_MAX - 16;
    fs::path folder = Dir();
    while (folderLength - folder.native().size() > 402) folder /= std::string(200, 'd');
    const std::size_t rest = folderLength - folder.native().size() - 2;
    folder = folder / std::string(rest / 2, 'e') / std::string(rest - rest / 2, 'f');
    ASSERT_EQ(folder.native().size(), folderLength);
    fs::create_directories(folder);
    const fs::path deep = folder / "transcript.txt";
    ASSERT_EQ(deep.native().size(), static_cast<std::size_t>(PATH_MAX - 1));
    for (const std::string text : {"first\n", "second\n"}) {
        EXPECT_EQ(IOErrorOf([&] { WriteWhole(deep, text); }), kNoError);
        EXPECT_EQ(ReadBytes(deep), text);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(TextStreamTest, SharedFoldersProtectOtherUsersThingsAsForAShell) {
    if (::geteuid() != 0) GTEST_SKIP() << "planting another user's link needs root";
    const Protection links("protected_symlinks"), regular("protected_regular"), fifos("protected_fifos");
    if (!links.On() || !regular.On() || !fifos.On())
        GTEST_SKIP() << "this machine's link and file protections are off and cannot be turned on";

    // A sticky folder anyone may write in, where another user plants a link to root's
    // file, a file of their own and a FIFO of their own.
    ASSERT_EQ(::chmod(Dir().c_str(), 0711), 0);
    const fs::path precious = WriteBytes("settings.conf", "root's settings\n");
    const fs::path shared = Dir() / "shared";
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(AsNobody([&] {
                  const int ok = ::symlink(precious.c_str(), (shared / "link.txt").c_str()) == 0 &&
                                 ::mkfifo((shared / "their.fifo").c_str(), 0666) == 0;
                  std::ofstream(shared / "theirs.txt") << "their text\n";
                  return ok && ::chmod((shared / "theirs.txt").c_str(), 0666) == 0 ? 0 : 1;
              }),
              0);
    const int reader = ::open((shared / "their.fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    for (const char* name : {"link.txt", "theirs.txt", "their.fifo"})
        EXPECT_THAT(IOErrorOf([&] { WriteWhole(shared / name, "transcript\n"); }), HasSubstr("Permission denied"))
            << name;
    EXPECT_EQ(ReadBytes(precious), "root's settings\n");
    EXPECT_EQ(ReadBytes(shared / "theirs.txt"), "their text\n");
    EXPECT_EQ(ReadFd(reader), "");
    EXPECT_TRUE(fs::is_symlink(shared / "link.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(shared), fs::directory_iterator()), 3);
    ::close(reader);
}

TEST_F(TextStreamTest, AReplacementKeepsEveryAccessRightAndAttribute) {
    // An ACL that lets nobody write, with the group kept to reading; and an attribute.
    const fs::path shared = WriteBytes("shared.txt", "old\n");
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    const std::string acl = Acl({{kUserObj, 6}, {kUser, 6, kNobody}, {kGroupObj, 4}, {kMask, 6}, {kOther, 0}});
    if (::setxattr(shared.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "this file system keeps no ACLs: " << std::strerror(errno);
    // Some file systems (tmpfs before Linux 6.6) keep ACLs but no user attributes.
    const bool userAttributes = ::setxattr(shared.c_str(), "user.origin", "camera 2", 8, 0) == 0;
    const mode_t mode = ModeOf(shared);
    WriteWhole(shared, "new\n");
    EXPECT_EQ(Attribute(shared, "system.posix_acl_access"), acl);
    if (userAttributes) {
        EXPECT_EQ(Attribute(shared, "user.origin"), "camera 2");
    }
    EXPECT_EQ(ModeOf(shared), mode);

    // A file without an ACL, in a folder whose default ACL would give one to new files:
    // its replacement gains none.
    const fs::path folder = Dir() / "inheriting";
    fs::create_directory(folder);
    const std::string inherited = Acl({{kUserObj, 7}, {kUser, 7, kNobody}, {kGroupObj, 5}, {kMask, 7}, {kOther, 0}});
    ASSERT_EQ(::setxattr(folder.c_str(), "system.posix_acl_default", inherited.data(), inherited.size(), 0), 0);
    const fs::path plain = WriteBytes("plain.txt", "old\n");
    ASSERT_EQ(::chmod(plain.c_str(), 0644), 0);
    fs::rename(plain, folder / "plain.txt");
    WriteWhole(folder / "plain.txt", "new\n");
    EXPECT_EQ(Attribute(folder / "plain.txt", "system.posix_acl_access"), "(none)");
    EXPECT_EQ(ModeOf(folder / "plain.txt"), 0644u);
    EXPECT_EQ(ReadBytes(folder / "plain.txt"), "new\n");
}

TEST_F(TextStreamTest, SetIdBitsStandWhenTheOwnerReplacesTheFile) {
    const auto replaceBoth = [&] {
        int lost = 0;
        for (const mode_t mode : {04755, 02755}) {
            const fs::path tool = WriteBytes("tool-" + std::to_string(mode), "old\n");
            if (::chmod(tool.c_str(), mode) != 0) return 2;
            WriteWhole(tool, "new\n");
            lost += ModeOf(tool) != mode || ReadBytes(tool) != "new\n";
        }
        return lost;
    };
    // The kernel clears set-id bits on writes by anyone but root, so the case is an
    // ordinary owner's.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(Dir().c_str(), kNobody, kNogroup), 0);
        EXPECT_EQ(AsNobody(replaceBoth), 0);
    } else {
        EXPECT_EQ(replaceBoth(), 0);
    }
}

TEST_F(TextStreamTest, TheCommitReplacesOnlyTheFileThatWasOpened) {
    // Other names of the replaced file keep the old text.
    const fs::path first = WriteBytes("first.txt", "old\n");
    fs::create_hard_link(first, Dir() / "other name.txt");
    WriteWhole(first, "new\n");
    EXPECT_EQ(ReadBytes(first), "new\n");
    EXPECT_EQ(ReadBytes(Dir() / "other name.txt"), "old\n");

    // A name that comes to mean another file while the text is written, and a new name
    // that another program takes meanwhile: that file stays, nothing is left behind.
    const fs::path target = WriteBytes("target.txt", "old\n");
    for (const fs::path& name : {target, Dir() / "fresh.txt"}) {
        auto stream = tk::TextOutputStream::Create(name);
        stream->Write("transcript\n");
        fs::rename(WriteBytes("theirs.txt", "someone else's\n"), name);
        EXPECT_THAT(IOErrorOf([&] { stream->Close(); }), HasSubstr(name.filename().string()));
        EXPECT_EQ(ReadBytes(name), "someone else's\n");
    }

    // A link to nothing whose save fails: the file made to open it goes again.
    fs::create_symlink("made.txt", Dir() / "to nothing.txt");
    auto failing = tk::TextOutputStream::Create(Dir() / "to nothing.txt");
    failing->Write("transcript\n");
    tk::TextOutputStream::FailNextCommitForTesting();
    EXPECT_THROW(failing->Close(), tk::IOException);
    EXPECT_FALSE(fs::exists(Dir() / "made.txt"));
    EXPECT_EQ(FileCount(), 5u);
}

TEST_F(TextStreamTest, AStalledReaderKeepsTheWaitingHookCalled) {
    const fs::path fifo = Dir() / "out.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    // The reader takes the text only now and then, from the hook: the write waits the
    // rest of the time, and finishes whole.
    std::string text;
    for (int i = 0; text.size() < (std::size_t{1} << 18); ++i) text += std::to_string(i) + ' ';
    auto stream = tk::TextOutputStream::Create(fifo);
    std::string received;
    int calls = 0;
    stream->SetWaitingHook([&] {
        if (++calls % 2 == 0) received += ReadFd(reader);
    });
    stream->Write(text);
    stream->Close();
    received += ReadFd(reader);
    EXPECT_EQ(received, text);
    EXPECT_GE(calls, 4);  // at least two pipefuls waited for

    // A hook that raises (the window closed) ends the write where it stands.
    auto abandoned = tk::TextOutputStream::Create(fifo);
    abandoned->SetWaitingHook([] { throw std::runtime_error("window closed"); });
    EXPECT_THROW(abandoned->Write(text), std::runtime_error);
    EXPECT_FALSE(ReadFd(reader).empty());
    EXPECT_TRUE(fs::is_fifo(fifo));
    ::close(reader);
}

TEST_F(TextStreamTest, ASecondSignalToEndLeavesNoTemporaryFile) {
    // The first request is served from the event loop, which this child never runs; the
    // second ends the process at once, taking the temporary file along.
    const fs::path target = WriteBytes("kept.txt", "old\n");
    const pid_t child = ::fork();
    if (child == 0) {
        tk::RuntimeQuitOnTerminationSignals();
        auto stream = tk::TextOutputStream::Create(target);
        stream->Write("half a transcript");
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(ReadBytes(target), "old\n");
    EXPECT_EQ(FileCount(), 1u);
}

}  // namespace
