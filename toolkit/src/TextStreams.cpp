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

constexpr std::size_t kBufferSize = 1 << 16;
constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at `p`, or 0 when it is invalid; in that case
// `*subpart` is the length of its maximal invalid subpart (at least 1), which becomes a
// single U+FFFD.
std::size_t SequenceLength(const unsigned char* p, std::size_t available, std::size_t* subpart) {
    const unsigned char lead = p[0];
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;        // no overlong forms
        else if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;        // no overlong forms
        else if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        *subpart = 1;
        return 0;
    }
    std::size_t i = 1;
    for (; i < length && i < available; ++i) {
        const unsigned char c = p[i];
        const unsigned char lo = i == 1 ? low : 0x80;
        const unsigned char hi = i == 1 ? high : 0xBF;
        if (c < lo || c > hi) break;
    }
    if (i == length) return length;
    *subpart = i;
    return 0;
}

// The length of the leading run of ASCII bytes, eight at a time: caption files are
// almost entirely ASCII, and only the rest needs the sequence-by-sequence check.
std::size_t AsciiPrefix(const unsigned char* bytes, std::size_t size) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (word & 0x8080808080808080ULL) break;
    }
    while (i < size && bytes[i] < 0x80) ++i;
    return i;
}

// Replaces every invalid sequence in text[from..]; valid text is left as it is.
void MakeValidUtf8(std::string& text, std::size_t from) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = from + AsciiPrefix(bytes + from, size - from);
    std::size_t subpart = 0;
    // Most lines are plain ASCII or valid: only copy once something needs replacing.
    while (i < size) {
        const std::size_t n = SequenceLength(bytes + i, size - i, &subpart);
        if (n == 0) break;
        i += n;
    }
    if (i == size) return;

    const std::size_t firstInvalid = i;
    std::string out;
    out.reserve(size - i + 16);
    while (i < size) {
        const std::size_t n = SequenceLength(bytes + i, size - i, &subpart);
        if (n == 0) {
            out.append(kReplacement, 3);
            i += subpart;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    text.resize(firstInvalid);
    text.append(out);
}

std::atomic<bool> gFailNextCommit{false};
std::atomic<std::int64_t> gFailReadsAfter{-1};
std::atomic<std::size_t> gBlockSize{0};

std::string SystemReason(int error) { return std::strerror(error); }

}  // namespace

// ---- TextInputStream ----------------------------------------------------------------

Ref<TextInputStream> TextInputStream::Open(const std::filesystem::path& path) {
    std::string reason;
    return Open(path, reason);
}

Ref<TextInputStream> TextInputStream::Open(const std::filesystem::path& path, std::string& reason) {
    if (path.native().find('\0') != std::string::npos) {
        reason = "the name holds a NUL character";
        return nullptr;
    }
    // Without O_NONBLOCK opening a FIFO would wait for a writer; the file type is known
    // only once it is open, and anything but a regular file is refused right then.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = SystemReason(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        reason = SystemReason(errno);
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        reason = S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file";
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return Ref<TextInputStream>(new TextInputStream(fd, path));
}

void TextInputStream::FailReadsAfterForTesting(std::int64_t bytes) { gFailReadsAfter = bytes; }
void TextInputStream::SetBlockSizeForTesting(std::size_t bytes) { gBlockSize = bytes; }

TextInputStream::TextInputStream(int fd, std::filesystem::path path)
    : fd_(fd), path_(std::move(path)), failAfter_(gFailReadsAfter.load()),
      // At least four bytes: the byte-order mark test reads three before it looks.
      buffer_(gBlockSize.load() > 0 ? std::max<std::size_t>(gBlockSize.load(), 4) : kBufferSize) {}

TextInputStream::~TextInputStream() { Close(); }

void TextInputStream::Close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fileDone_ = true;
    pos_ = end_ = 0;
    pendingLineFeed_ = false;
}

bool TextInputStream::Fill() {
    pos_ = end_ = 0;
    if (fileDone_ || fd_ < 0) return false;
    do {
        std::size_t want = buffer_.size() - end_;
        if (failAfter_ >= 0) {
            if (failAfter_ == 0) ReadFailed(EIO);
            want = std::min<std::size_t>(want, static_cast<std::size_t>(failAfter_));
        }
        const ssize_t got = ::read(fd_, buffer_.data() + end_, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            ReadFailed(errno);
        }
        if (got == 0) {
            fileDone_ = true;
            break;
        }
        if (failAfter_ >= 0) failAfter_ -= got;
        end_ += static_cast<std::size_t>(got);
        ++blocksRead_;
    } while (atStart_ && end_ < 3);  // the byte-order mark test needs three bytes
    if (atStart_) {
        atStart_ = false;
        if (end_ >= 3 && std::memcmp(buffer_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
        if (pos_ == end_ && !fileDone_) return Fill();
    }
    return pos_ < end_;
}

void TextInputStream::ReadFailed(int error) {
    const std::string reason = SystemReason(error);
    Close();
    throw IOException("The file \"" + path_.filename().string() + "\" could not be read: " + reason + ".");
}

void TextInputStream::SkipPendingLineFeed() {
    if (!pendingLineFeed_) return;
    if (pos_ < end_ || Fill()) {
        if (buffer_[pos_] == '\n') ++pos_;
        pendingLineFeed_ = false;
    } else {
        pendingLineFeed_ = false;
    }
}

std::string TextInputStream::ReadLine() {
    std::string line;
    AppendLine(line);
    return line;
}

void TextInputStream::AppendLine(std::string& text) {
    SkipPendingLineFeed();
    const std::size_t start = text.size();
    while (pos_ < end_ || Fill()) {
        const char* begin = buffer_.data() + pos_;
        const char* stop = buffer_.data() + end_;
        const char* p = FindLineEnd(begin, stop);
        text.append(begin, p);
        if (p == stop) {
            pos_ = end_;
            continue;
        }
        pos_ = static_cast<std::size_t>(p - buffer_.data()) + 1;
        if (*p == '\r') {
            if (pos_ < end_) {
                if (buffer_[pos_] == '\n') ++pos_;
            } else {
                pendingLineFeed_ = true;  // the LF of a CRLF may lie in the next block
            }
        }
        break;
    }
    MakeValidUtf8(text, start);
}

const char* TextInputStream::FindLineEnd(const char* from, const char* stop) {
    // The next LF is remembered per block: in a file whose lines end with a lone CR
    // there is none, and looking for it again on every line would scan the whole
    // block each time.
    const std::size_t at = static_cast<std::size_t>(from - buffer_.data());
    if (nextLineFeed_ < at || nextLineFeedBlock_ != blocksRead_) {
        const void* lf = std::memchr(from, '\n', static_cast<std::size_t>(stop - from));
        nextLineFeed_ = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_.data()) : end_;
        nextLineFeedBlock_ = blocksRead_;
    }
    const char* lineFeed = buffer_.data() + nextLineFeed_;
    const void* cr = std::memchr(from, '\r', static_cast<std::size_t>(lineFeed - from));
    return cr ? static_cast<const char*>(cr) : lineFeed;
}

bool TextInputStream::Eof() {
    SkipPendingLineFeed();
    return !(pos_ < end_ || Fill());
}

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
