#include "toolkit/TextStreams.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "TemporaryFiles.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Strings.h"

namespace tk {
namespace {

std::atomic<bool> gFailNextCommit{false};
std::atomic<std::int64_t> gFailWritesAfter{-1};

// While a write waits for a slow reader, the waiting hook is called this often.
constexpr int kWaitSliceMs = 20;

std::string SystemReason(int error) { return std::strerror(error); }

[[noreturn]] void OutputFailed(const std::filesystem::path& shown, const char* what, int error) {
    throw IOException("The file \"" + shown.string() + "\" " + what + ": " + SystemReason(error) + ".");
}

[[noreturn]] void FolderHasTheName(const std::filesystem::path& shown) {
    throw IOException("The file \"" + shown.string() + "\" cannot be created: a folder has that name.");
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A descriptor closed when it goes out of scope.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A name for the temporary file of a fixed length, so that a target whose own name is
// near the system's limit can still be written.
std::string TemporaryName() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
    std::string name = ".quillet-";
    for (int i = 0; i < 10; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    return name + ".tmp";
}

// A reader that goes away must turn a write into an error the user is told about, not a
// signal that ends the program.
void IgnoreBrokenPipes() {
    static const bool ignored = [] {
        struct sigaction action {};
        action.sa_handler = SIG_IGN;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGPIPE, &action, nullptr) == 0;
    }();
    (void)ignored;
}

// The folder part and the last name of a path, as the kernel splits it.
struct PathParts {
    std::string folder;  // "." when the path has no folder part
    std::string name;    // empty when the path ends in "/", "." or ".."
};

PathParts SplitPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t folderEnd = slash == std::string::npos ? 0 : std::max<std::size_t>(slash, 1);
    PathParts split{slash == std::string::npos ? std::string(".") : path.substr(0, folderEnd),
                    slash == std::string::npos ? path : path.substr(slash + 1)};
    if (split.name == "." || split.name == "..") split.name.clear();
    return split;
}

Fd OpenFolder(int at, const std::string& folder) {
    return Fd(::openat(at, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Where the regular file behind a link lives, so that its replacement can be made beside
// it: the chain is walked one link at a time from (`folder`, `name`). The kernel has
// already opened the file, with every protection a shell's redirection gets; this walk
// only finds its name, and the caller checks that the name still means that very file.
bool LocateThroughLinks(Fd& folder, std::string& name) {
    constexpr int kMaxLinks = 40;  // as the kernel's own limit
    std::vector<char> buffer(PATH_MAX + 1);
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat info {};
        if (::fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
        if (!S_ISLNK(info.st_mode)) return true;
        const ssize_t length = ::readlinkat(folder.Get(), name.c_str(), buffer.data(), buffer.size() - 1);
        if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size() - 1) return false;
        const std::string target(buffer.data(), static_cast<std::size_t>(length));
        PathParts next = SplitPath(target);
        if (next.name.empty()) return false;
        Fd nextFolder = OpenFolder(target.front() == '/' ? AT_FDCWD : folder.Get(), next.folder);
        if (nextFolder.Get() < 0) return false;
        folder = std::move(nextFolder);
        name = std::move(next.name);
    }
    return false;
}

// Reads an extended attribute whole; false with errno set when it cannot be read.
bool ReadAttribute(int fd, const char* name, std::vector<char>& value) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) return false;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;  // grew meanwhile: again
    }
}

bool NoAttributesHere(int error) { return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS; }

constexpr const char* kAccessAcl = "system.posix_acl_access";

}  // namespace

// ---- TextOutputStream ---------------------------------------------------------------

// How a transcript reaches its place. The place is found by the kernel's own path
// resolution, opening the name as a shell's redirection does, so every protection the
// system gives that redirection (links, FIFOs and files of others in shared folders)
// applies here too. What was opened decides the rest: a regular file is replaced by a
// temporary file beside it, renamed over it once complete, so a failure never leaves a
// half-written file where a good one was; anything else (a device, a FIFO, a file that
// has no name any more) cannot be replaced without destroying it and is written
// directly. Where nothing has the name yet, the temporary file takes it at the commit.
struct TextOutputStream::Impl {
    int fd = -1;             // what the text goes into
    bool direct = false;
    bool closed = false;
    Fd folder;               // the folder holding the target (a replacement or a new file)
    std::string name;        // the target's name in that folder
    std::string temporary;   // the temporary file's name in that folder; empty when none
    Fd original;             // the file being replaced, as opened; none for a new file
    bool createdOriginal = false;  // the original was made by this stream (through a link to nothing)
    int slot = -1;           // where the signal handlers know the temporary file
    std::int64_t failAfter = -1;  // test seam: bytes that may still be written
    std::function<void()> waiting;

    ~Impl() {
        if (fd >= 0) ::close(fd);
        DiscardTemporary();
        if (createdOriginal) RemoveCreatedOriginal();
    }

    void DiscardTemporary() noexcept {
        if (temporary.empty()) return;
        ::unlinkat(folder.Get(), temporary.c_str(), 0);
        detail::ForgetTemporaryFile(std::exchange(slot, -1));
        temporary.clear();
    }

    // An empty file made only to open a link to nothing goes again when nothing is saved,
    // provided its name still means it and it is still empty.
    void RemoveCreatedOriginal() noexcept {
        createdOriginal = false;
        struct stat opened {}, named {};
        if (original.Get() < 0 || ::fstat(original.Get(), &opened) != 0 || opened.st_size != 0) return;
        Fd at(::dup(folder.Get()));
        std::string where = name;
        if (at.Get() >= 0 && LocateThroughLinks(at, where) &&
            ::fstatat(at.Get(), where.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(opened, named))
            ::unlinkat(at.Get(), where.c_str(), 0);
    }
};

void TextOutputStream::FailNextCommitForTesting() { gFailNextCommit = true; }
void TextOutputStream::FailWritesAfterForTesting(std::int64_t bytes) { gFailWritesAfter = bytes; }
void TextOutputStream::IgnoreBrokenPipeSignal() { IgnoreBrokenPipes(); }

Ref<TextOutputStream> TextOutputStream::Create(const std::filesystem::path& path) {
    const std::string& text = path.native();
    if (text.find('\0') != std::string::npos)
        throw IOException("The file \"" + path.string() + "\" cannot be created: the name holds a NUL character.");
    if (text.empty()) OutputFailed(path, "cannot be created", ENOENT);
    IgnoreBrokenPipes();
    auto impl = std::make_unique<Impl>();
    impl->failAfter = gFailWritesAfter.load();

    const PathParts split = SplitPath(text);
    if (split.name.empty()) {
        // "…/", "…/." and "…/..": only a folder can have such a name.
        struct stat info {};
        if (::stat(text.c_str(), &info) != 0) OutputFailed(path, "cannot be created", errno);
        FolderHasTheName(path);
    }
    // Working relative to the folder keeps every name short: any path the system
    // accepts can be written, however long its folder's path is.
    impl->folder = OpenFolder(AT_FDCWD, split.folder);
    if (impl->folder.Get() < 0) OutputFailed(path, "cannot be created", errno);
    impl->name = split.name;

    struct stat named {};
    const bool exists = ::fstatat(impl->folder.Get(), impl->name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) OutputFailed(path, "cannot be created", errno);
    if (exists) {
        // Opened as a shell's redirection opens it, only without emptying it: with
        // O_CREAT, so that the protections for shared folders apply, and with O_NONBLOCK,
        // so that a FIFO nobody reads is refused at once rather than waited for.
        struct stat through {};
        const bool linkToNothing = S_ISLNK(named.st_mode) &&
                                   ::fstatat(impl->folder.Get(), impl->name.c_str(), &through, 0) != 0 &&
                                   errno == ENOENT;
        Fd fd(::openat(impl->folder.Get(), impl->name.c_str(),
                       O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
        if (fd.Get() < 0) {
            if (errno == EISDIR) FolderHasTheName(path);
            OutputFailed(path, "cannot be opened for writing", errno);
        }
        struct stat opened {};
        if (::fstat(fd.Get(), &opened) != 0) OutputFailed(path, "cannot be opened for writing", errno);
        if (!S_ISREG(opened.st_mode) || opened.st_nlink == 0) {
            // Written where it is: a device or FIFO would be destroyed by a rename, and a
            // file that has no name left (an open one reached through /proc) has no
            // name to rename over. The latter starts empty, as after a redirection.
            if (S_ISREG(opened.st_mode) && ::ftruncate(fd.Get(), 0) != 0)
                OutputFailed(path, "cannot be opened for writing", errno);
            impl->direct = true;
            impl->fd = fd.Release();
            impl->folder.Reset();
            return Ref<TextOutputStream>(new TextOutputStream(path, std::move(impl)));
        }
        impl->createdOriginal = linkToNothing;
        impl->original = std::move(fd);
        if (S_ISLNK(named.st_mode)) {
            struct stat located {};
            if (!LocateThroughLinks(impl->folder, impl->name) ||
                ::fstatat(impl->folder.Get(), impl->name.c_str(), &located, AT_SYMLINK_NOFOLLOW) != 0 ||
                !SameFile(located, opened))
                throw IOException("The file \"" + path.string() +
                                  "\" cannot be saved: the file its link names cannot be found again.");
        }
    }

    // A new file gets the permissions any new file gets (the kernel applies the umask
    // and the folder's default ACL); a replacement starts private and takes the old
    // file's owner, attributes and mode at the commit.
    const mode_t mode = impl->original.Get() >= 0 ? 0600 : 0666;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        const std::string candidate = TemporaryName();
        impl->fd = ::openat(impl->folder.Get(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                            mode);
        if (impl->fd >= 0) {
            impl->temporary = candidate;
            impl->slot = detail::RememberTemporaryFile(impl->folder.Get(), candidate.c_str());
            break;
        }
        error = errno;
    }
    if (impl->fd < 0) OutputFailed(path, "cannot be created", error);
    return Ref<TextOutputStream>(new TextOutputStream(path, std::move(impl)));
}

TextOutputStream::TextOutputStream(std::filesystem::path path, std::unique_ptr<Impl> impl)
    : path_(std::move(path)), impl_(std::move(impl)) {}

// An uncommitted stream removes its temporary file, leaving the target as it was.
TextOutputStream::~TextOutputStream() = default;

void TextOutputStream::SetWaitingHook(std::function<void()> hook) { impl_->waiting = std::move(hook); }

void TextOutputStream::Write(std::string_view text) {
    if (impl_->closed) throw IOException("The file \"" + path_.string() + "\" is already closed.");
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        std::size_t chunk = left;
        if (impl_->failAfter >= 0) {
            if (impl_->failAfter == 0) OutputFailed(path_, "could not be written", ENOSPC);
            chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(impl_->failAfter));
        }
        const ssize_t written = ::write(impl_->fd, data, chunk);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) OutputFailed(path_, "could not be written", errno);
            WaitUntilWritable();
            continue;
        }
        if (written == 0) OutputFailed(path_, "could not be written", EIO);
        if (impl_->failAfter >= 0) impl_->failAfter -= written;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

// A reader (a FIFO's, a terminal's) that is not taking the text: the hook gets its calls
// while the write waits, so the window stays live and can end the write.
void TextOutputStream::WaitUntilWritable() {
    pollfd ready{impl_->fd, POLLOUT, 0};
    const int result = ::poll(&ready, 1, impl_->waiting ? kWaitSliceMs : -1);
    if (result < 0 && errno != EINTR) OutputFailed(path_, "could not be written", errno);
    if (result <= 0 && impl_->waiting) impl_->waiting();
}

void TextOutputStream::WriteLine(std::string_view text) {
    Write(text);
    Write(EndOfLine());
}

// The replacement gets what the old file had, so that nobody gains or loses access by
// it: owner and group first (a change of owner clears set-id bits and capabilities),
// then the extended attributes and the ACL, the mode last (the writes are all done, so
// no later write clears its set-id bits again).
void TextOutputStream::CarryOverAccess() {
    const int from = impl_->original.Get();
    const int to = impl_->fd;
    struct stat old {};
    if (::fstat(from, &old) != 0) OutputFailed(path_, "could not be saved", errno);
    if (::fchown(to, old.st_uid, old.st_gid) != 0 && ::fchown(to, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // Where the system allows neither, the file stays the user's own.
    }

    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::flistxattr(from, nullptr, 0);
        if (size < 0 && NoAttributesHere(errno)) break;
        if (size < 0) OutputFailed(path_, "could not be saved", errno);
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::flistxattr(from, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) OutputFailed(path_, "could not be saved", errno);
    }
    std::vector<char> value;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* attribute = names.data() + at;
        if (std::strcmp(attribute, kAccessAcl) == 0) continue;
        // The user's own attributes must come along; the system's others (security
        // labels, trusted data) wherever the system permits.
        const bool needed = std::strncmp(attribute, "user.", 5) == 0;
        if (!ReadAttribute(from, attribute, value) || ::fsetxattr(to, attribute, value.data(), value.size(), 0) != 0) {
            if (needed && errno != ENODATA) OutputFailed(path_, "could not be saved", errno);
        }
    }

    // The ACL, or none: the temporary file may have one from the folder's default ACL.
    if (ReadAttribute(from, kAccessAcl, value)) {
        if (::fsetxattr(to, kAccessAcl, value.data(), value.size(), 0) != 0)
            OutputFailed(path_, "could not be saved with its access rights", errno);
    } else if (errno == ENODATA) {
        if (::fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA && !NoAttributesHere(errno))
            OutputFailed(path_, "could not be saved with its access rights", errno);
    } else if (!NoAttributesHere(errno)) {
        OutputFailed(path_, "could not be saved with its access rights", errno);
    }
    if (::fchmod(to, old.st_mode & 07777) != 0) OutputFailed(path_, "could not be saved with its access rights", errno);
}

// Puts the finished temporary file in the target's place. A replacement swaps the two
// names in one step and then checks that what it swapped out is the file it opened; if
// the name came to mean another file meanwhile, it swaps back and replaces nothing.
void TextOutputStream::Commit() {
    const int folder = impl_->folder.Get();
    const char* temporary = impl_->temporary.c_str();
    const char* name = impl_->name.c_str();
    if (impl_->original.Get() < 0) {
        // A new file never replaces one that appeared meanwhile.
        if (::renameat2(folder, temporary, folder, name, RENAME_NOREPLACE) == 0) return;
        if (errno != EINVAL && errno != ENOSYS) OutputFailed(path_, "could not be saved", errno);
        if (::linkat(folder, temporary, folder, name, 0) == 0) {
            ::unlinkat(folder, temporary, 0);
            return;
        }
        if (errno == EEXIST) OutputFailed(path_, "could not be saved", errno);
        // A file system without links: a plain rename is all it offers.
        if (::renameat(folder, temporary, folder, name) != 0) OutputFailed(path_, "could not be saved", errno);
        return;
    }
    struct stat opened {}, swapped {};
    if (::fstat(impl_->original.Get(), &opened) != 0) OutputFailed(path_, "could not be saved", errno);
    const auto replacedSomethingElse = [&] {
        throw IOException("The file \"" + path_.string() +
                          "\" could not be saved: another file took its name while the transcript was written.");
    };
    if (::renameat2(folder, temporary, folder, name, RENAME_EXCHANGE) == 0) {
        if (::fstatat(folder, temporary, &swapped, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(swapped, opened)) {
            ::unlinkat(folder, temporary, 0);  // the old file's name here; other names keep it
            return;
        }
        if (::renameat2(folder, temporary, folder, name, RENAME_EXCHANGE) != 0) {
            // The other file keeps the temporary name: it must not be removed as ours.
            detail::ForgetTemporaryFile(std::exchange(impl_->slot, -1));
            impl_->temporary.clear();
        }
        replacedSomethingElse();
    }
    if (errno != EINVAL && errno != ENOSYS) OutputFailed(path_, "could not be saved", errno);
    // A file system that cannot swap: the check comes just before the rename instead.
    if (::fstatat(folder, name, &swapped, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(swapped, opened))
        replacedSomethingElse();
    if (::renameat(folder, temporary, folder, name) != 0) OutputFailed(path_, "could not be saved", errno);
}

void TextOutputStream::Close() {
    if (impl_->closed) return;
    impl_->closed = true;
    if (impl_->direct) {
        if (::close(std::exchange(impl_->fd, -1)) != 0) OutputFailed(path_, "could not be written", errno);
        return;
    }
    try {
        // On disk, with the old file's access, before it takes the old file's place, so
        // a crash cannot leave an empty one and nobody's access changes by the save.
        if (impl_->original.Get() >= 0) CarryOverAccess();
        if (::fsync(impl_->fd) != 0) OutputFailed(path_, "could not be saved", errno);
        if (::close(std::exchange(impl_->fd, -1)) != 0) OutputFailed(path_, "could not be saved", errno);
        if (gFailNextCommit.exchange(false)) OutputFailed(path_, "could not be saved", ENOSPC);
        Commit();
    } catch (...) {
        // A failed commit leaves nothing behind: neither a new file nor a temporary one.
        if (impl_->fd >= 0) ::close(std::exchange(impl_->fd, -1));
        impl_->DiscardTemporary();
        if (impl_->createdOriginal) impl_->RemoveCreatedOriginal();
        throw;
    }
    detail::ForgetTemporaryFile(std::exchange(impl_->slot, -1));
    impl_->temporary.clear();
    impl_->createdOriginal = false;
    // The rename itself on disk too; a folder that cannot be synced changes nothing here.
    const Fd folder(::openat(impl_->folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0) ::fsync(folder.Get());
}

}  // namespace tk
