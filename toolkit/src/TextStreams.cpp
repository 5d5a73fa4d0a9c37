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
// How much of one long line may be read, or checked as UTF-8 or copied, between two turns
// of the caller's event loop.
constexpr std::size_t kReadPerTurn = std::size_t{1} << 16;
constexpr std::size_t kBytesPerTurn = std::size_t{1} << 20;
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

// Makes room in `text` for `more` bytes. A long line grows as std::string would, but is
// copied into its larger buffer a megabyte at a time with a turn between: copying tens
// of megabytes into fresh pages takes longer than a turn may wait.
void Reserve(std::string& text, std::size_t more, const std::function<void()>* turn) {
    if (turn == nullptr || text.capacity() - text.size() >= more || text.size() < kBytesPerTurn) return;
    std::string grown;
    grown.reserve(std::max(text.size() + more, 2 * text.capacity()));
    for (std::size_t at = 0; at < text.size(); at += kBytesPerTurn) {
        grown.append(text, at, kBytesPerTurn);
        (*turn)();
    }
    text.swap(grown);
}

// Replaces every invalid sequence in text[from..]; valid text is left as it is. `turn`
// (may be null) is called between megabytes of a long text.
void MakeValidUtf8(std::string& text, std::size_t from, const std::function<void()>* turn) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = from;
    std::size_t subpart = 0;
    bool invalid = false;
    // Most lines are plain ASCII or valid: only copy once something needs replacing.
    while (i < size && !invalid) {
        const std::size_t stop = turn && size - i > kBytesPerTurn ? i + kBytesPerTurn : size;
        i += AsciiPrefix(bytes + i, stop - i);
        while (i < stop) {
            const std::size_t n = SequenceLength(bytes + i, size - i, &subpart);
            if (n == 0) {
                invalid = true;
                break;
            }
            i += n;
        }
        if (!invalid && i < size) (*turn)();
    }
    if (!invalid) return;

    const std::size_t firstInvalid = i;
    std::string out;
    out.reserve(size - i + 16);
    std::size_t nextTurn = i + kBytesPerTurn;
    while (i < size) {
        const std::size_t n = SequenceLength(bytes + i, size - i, &subpart);
        if (n == 0) {
            out.append(kReplacement, 3);
            i += subpart;
        } else {
            out.append(text, i, n);
            i += n;
        }
        if (turn && i >= nextTurn) {
            (*turn)();
            nextTurn = i + kBytesPerTurn;
        }
    }
    text.resize(firstInvalid);
    text.append(out);
}

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

void TextInputStream::AppendLine(std::string& text) { AppendLine(text, nullptr); }

void TextInputStream::AppendLine(std::string& text, const std::function<void()>& turn) {
    AppendLine(text, turn ? &turn : nullptr);
}

void TextInputStream::AppendLine(std::string& text, const std::function<void()>* turn) {
    SkipPendingLineFeed();
    const std::size_t start = text.size();
    std::size_t nextTurn = start + kReadPerTurn;
    while (pos_ < end_ || Fill()) {
        const char* begin = buffer_.data() + pos_;
        const char* stop = buffer_.data() + end_;
        const char* p = FindLineEnd(begin, stop);
        Reserve(text, static_cast<std::size_t>(p - begin), turn);
        text.append(begin, p);
        if (p == stop) {
            pos_ = end_;
            if (turn && text.size() >= nextTurn) {
                (*turn)();
                nextTurn = text.size() + kReadPerTurn;
            }
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
    MakeValidUtf8(text, start, turn);
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

}  // namespace tk
