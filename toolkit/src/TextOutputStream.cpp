#include "toolkit/TextStreams.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include "toolkit/Exceptions.h"
#include "toolkit/Strings.h"

namespace tk {
namespace {

std::atomic<bool> gFailNextCommit{false};

std::string SystemReason(int error) { return std::strerror(error); }

}  // namespace

// ---- TextOutputStream ---------------------------------------------------------------

// How a transcript reaches its place. A regular file (or none yet) is written to a
// temporary file beside it and renamed over it once complete, so a failure never leaves
// a half-written file where a good one was. A symbolic link is followed, so the link
// stays and what it points at gets the text. Anything else that exists there (a
// device, a FIFO) cannot be replaced by a rename without destroying it, so it is
// written directly.
struct TextOutputStream::Impl {
    int fd = -1;
    bool direct = false;
    bool closed = false;
    std::filesystem::path target;     // the file the text is for, links followed
    std::filesystem::path temporary;  // empty when writing directly
    std::int64_t failAfter = -1;      // test seam: bytes that may still be written

    ~Impl() {
        if (fd >= 0) ::close(fd);
        if (!temporary.empty()) ::unlink(temporary.c_str());
    }
};

namespace {

std::atomic<std::int64_t> gFailWritesAfter{-1};

[[noreturn]] void OutputFailed(const std::filesystem::path& shown, const char* what, int error) {
    throw IOException("The file \"" + shown.string() + "\" " + what + ": " + SystemReason(error) + ".");
}

struct Target {
    std::filesystem::path path;
    bool exists = false;
};

// Where the text goes: links followed one at a time, so that a link stays a link. Only
// "does not exist" lets a name be created; anything else that goes wrong on the way (a
// loop of links, a folder that cannot be searched) is the user's to hear about, since
// writing a new file there would replace the link itself.
Target ResolveLinks(const std::filesystem::path& path) {
    constexpr int kMaxLinks = 40;  // as the kernel's own limit
    std::filesystem::path at = path;
    for (int links = 0;; ++links) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0) {
            if (errno == ENOENT) return {at, false};
            OutputFailed(path, "cannot be created", errno);
        }
        if (!S_ISLNK(info.st_mode)) return {at, true};
        if (links == kMaxLinks) OutputFailed(path, "cannot be created", ELOOP);
        std::error_code error;
        const std::filesystem::path next = std::filesystem::read_symlink(at, error);
        if (error) OutputFailed(path, "cannot be created", error.value());
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
}

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

}  // namespace

void TextOutputStream::FailNextCommitForTesting() { gFailNextCommit = true; }
void TextOutputStream::FailWritesAfterForTesting(std::int64_t bytes) { gFailWritesAfter = bytes; }
void TextOutputStream::IgnoreBrokenPipeSignal() { IgnoreBrokenPipes(); }

Ref<TextOutputStream> TextOutputStream::Create(const std::filesystem::path& path) {
    if (path.native().find('\0') != std::string::npos)
        throw IOException("The file \"" + path.string() + "\" cannot be created: the name holds a NUL character.");
    IgnoreBrokenPipes();
    auto impl = std::make_unique<Impl>();
    impl->failAfter = gFailWritesAfter.load();
    Target target = ResolveLinks(path);
    impl->target = target.path;

    // An existing target is opened as a shell's redirection would open it: what may not
    // be written is refused with the system's reason, and what the name turns out to be
    // is decided on the file actually opened, not on an earlier look at the name.
    struct stat existing {};
    if (target.exists) {
        const int fd = ::open(impl->target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
        if (fd < 0) {
            const int error = errno;
            if (error == EISDIR)
                throw IOException("The file \"" + path.string() + "\" cannot be created: a folder has that name.");
            // A FIFO without a reader gives ENXIO at once rather than blocking.
            if (error != ENOENT) OutputFailed(path, "cannot be opened for writing", error);
            target.exists = false;  // gone meanwhile: made anew
        } else if (::fstat(fd, &existing) != 0) {
            const int error = errno;
            ::close(fd);
            OutputFailed(path, "cannot be opened for writing", error);
        } else if (!S_ISREG(existing.st_mode)) {
            impl->direct = true;
            impl->fd = fd;
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            return Ref<TextOutputStream>(new TextOutputStream(path, std::move(impl)));
        } else {
            ::close(fd);
        }
    }

    const std::filesystem::path folder = impl->target.has_parent_path() ? impl->target.parent_path() : ".";
    // A new file gets the permissions any new file gets (the kernel applies the umask);
    // a replacement starts private and takes the old file's owner and mode below.
    const mode_t mode = target.exists ? 0600 : 0666;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        const std::filesystem::path candidate = folder / TemporaryName();
        impl->fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (impl->fd >= 0) {
            impl->temporary = candidate;
            break;
        }
        error = errno;
    }
    if (impl->fd < 0) OutputFailed(path, "cannot be created", error);
    if (target.exists) {
        // The owner first: a change of owner clears the set-id bits that the mode restores.
        // Where the system allows only the group (an ordinary user in that group), that.
        if (::fchown(impl->fd, existing.st_uid, existing.st_gid) != 0 &&
            ::fchown(impl->fd, static_cast<uid_t>(-1), existing.st_gid) != 0) {
            // The file stays the user's own: all the system permits.
        }
        ::fchmod(impl->fd, existing.st_mode & 07777);
    }
    return Ref<TextOutputStream>(new TextOutputStream(path, std::move(impl)));
}

TextOutputStream::TextOutputStream(std::filesystem::path path, std::unique_ptr<Impl> impl)
    : path_(std::move(path)), impl_(std::move(impl)) {}

// An uncommitted stream removes its temporary file, leaving the target as it was.
TextOutputStream::~TextOutputStream() = default;

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
            OutputFailed(path_, "could not be written", errno);
        }
        if (written == 0) OutputFailed(path_, "could not be written", EIO);
        if (impl_->failAfter >= 0) impl_->failAfter -= written;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

void TextOutputStream::WriteLine(std::string_view text) {
    Write(text);
    Write(EndOfLine());
}

void TextOutputStream::Close() {
    if (impl_->closed) return;
    impl_->closed = true;
    const int fd = std::exchange(impl_->fd, -1);
    if (impl_->direct) {
        if (::close(fd) != 0) OutputFailed(path_, "could not be written", errno);
        return;
    }
    // A failed commit leaves nothing behind: neither a new file nor a temporary one.
    const auto fail = [&](int error) {
        ::unlink(impl_->temporary.c_str());
        impl_->temporary.clear();
        OutputFailed(path_, "could not be saved", error);
    };
    // On disk before it takes the old file's place, so a crash cannot leave an empty one.
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        fail(error);
    }
    if (::close(fd) != 0) fail(errno);
    if (gFailNextCommit.exchange(false)) fail(ENOSPC);
    if (::rename(impl_->temporary.c_str(), impl_->target.c_str()) != 0) fail(errno);
    impl_->temporary.clear();
    // The rename itself on disk too; a folder that cannot be synced changes nothing here.
    const std::filesystem::path folder = impl_->target.has_parent_path() ? impl_->target.parent_path() : ".";
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
}

}  // namespace tk
