#include "toolkit/TextStreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
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

// Where a link leads, link after link; the path itself when it is no link. A name that
// does not exist yet is its own target.
std::filesystem::path FollowLinks(const std::filesystem::path& path) {
    std::filesystem::path at = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!std::filesystem::is_symlink(at, error)) return at;
        const std::filesystem::path next = std::filesystem::read_symlink(at, error);
        if (error) return at;
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return at;
}

}  // namespace

void TextOutputStream::FailNextCommitForTesting() { gFailNextCommit = true; }
void TextOutputStream::FailWritesAfterForTesting(std::int64_t bytes) { gFailWritesAfter = bytes; }

Ref<TextOutputStream> TextOutputStream::Create(const std::filesystem::path& path) {
    if (path.native().find('\0') != std::string::npos)
        throw IOException("The file \"" + path.string() + "\" cannot be created: the name holds a NUL character.");
    auto impl = std::make_unique<Impl>();
    impl->target = FollowLinks(path);
    impl->failAfter = gFailWritesAfter.load();

    struct stat info {};
    const bool exists = ::stat(impl->target.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode))
        throw IOException("The file \"" + path.string() + "\" cannot be created: a folder has that name.");
    if (exists && !S_ISREG(info.st_mode)) {
        // A FIFO without a reader would block the open: fail at once instead.
        impl->direct = true;
        impl->fd = ::open(impl->target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (impl->fd < 0) OutputFailed(path, "cannot be opened for writing", errno);
        const int flags = ::fcntl(impl->fd, F_GETFL);
        if (flags >= 0) ::fcntl(impl->fd, F_SETFL, flags & ~O_NONBLOCK);
    } else {
        const std::filesystem::path folder = impl->target.has_parent_path() ? impl->target.parent_path() : ".";
        std::string hiddenName = impl->target.filename().string();
        hiddenName.insert(hiddenName.begin(), '.');
        hiddenName += ".XXXXXX";
        std::string pattern = (folder / hiddenName).string();
        impl->fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (impl->fd < 0) OutputFailed(path, "cannot be created", errno);
        impl->temporary = pattern;
        // The finished file keeps the mode of the one it replaces, or gets a new file's.
        mode_t mode = 0;
        if (exists) {
            mode = info.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(impl->fd, mode);
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
}

}  // namespace tk
