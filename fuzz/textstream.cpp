// tk::TextInputStream on any bytes, held to the reference splitter of FuzzSupport.h: the
// same lines (LF, CRLF and a lone CR end a line, a final line end adds none, a leading
// byte-order mark is skipped, ill-formed UTF-8 becomes U+FFFD per maximal subpart), every
// line valid UTF-8, and an ASCII file's lines exactly its own bytes.
//
// The stream reads through a 64 KB buffer, so where a block ends matters (a CRLF or a
// UTF-8 sequence cut in two, a byte-order mark split). The input's last two bytes choose
// that place: the file is written with a filler line in front that ends that many bytes
// into the input; or the stream reads in blocks of a few bytes (SetBlockSizeForTesting).
// Now and then a read is made to fail part-way: the stream must raise
// IOException and, before that, give only complete lines of the file.
//
// The file lives in memory (memfd), opened through /proc/self/fd: no disk traffic.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "toolkit/Exceptions.h"
#include "toolkit/TextStreams.h"

namespace {

constexpr std::size_t kStreamBuffer = 1 << 16;

class MemoryFile {
public:
    MemoryFile() {
        fd_ = ::memfd_create("fuzz_textstream", MFD_CLOEXEC);
        if (fd_ < 0) {
            // No memfd: one file per process in /tmp, reused.
            path_ = "/tmp/quillet_fuzz_textstream_" + std::to_string(::getpid());
            fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd_ < 0) fuzz::Fail("cannot create " + path_);
        } else {
            path_ = "/proc/self/fd/" + std::to_string(fd_);
        }
    }
    ~MemoryFile() {
        ::close(fd_);
        if (path_.rfind("/tmp/", 0) == 0) ::unlink(path_.c_str());
    }
    void Write(std::string_view bytes) {
        if (::ftruncate(fd_, 0) != 0) fuzz::Fail("ftruncate failed");
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (n <= 0) fuzz::Fail("pwrite failed");
            done += static_cast<std::size_t>(n);
        }
    }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

MemoryFile& File() {
    static MemoryFile file;
    return file;
}

FUZZ_NO_COVERAGE bool IsAscii(std::string_view bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Reads the file with the stream, line by line, interleaving Eof() and both read calls.
std::vector<std::string> StreamLines(const std::string& path, std::size_t limit, bool& threw) {
    threw = false;
    std::vector<std::string> lines;
    const tk::Ref<tk::TextInputStream> stream = tk::TextInputStream::Open(path);
    if (!stream) fuzz::Fail("TextInputStream::Open refused the fuzz file");
    try {
        while (!stream->Eof()) {
            if (lines.size() % 2 == 0) {
                lines.push_back(stream->ReadLine());
            } else {
                std::string text = "prefix";
                stream->AppendLine(text);
                fuzz::Check(text.rfind("prefix", 0) == 0, "AppendLine changed the text before the line");
                lines.push_back(text.substr(6));
            }
            if (lines.size() > limit) fuzz::Fail("the stream gives more lines than the file has");
        }
        fuzz::Check(stream->ReadLine().empty(), "ReadLine after the end gave text");
        fuzz::Check(stream->Eof(), "Eof() turned false after the end");
    } catch (const tk::IOException&) {
        threw = true;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Control bytes at the end: where the block ends, the block size, a read failure.
    std::uint16_t control = 0;
    if (size >= 2) {
        control = static_cast<std::uint16_t>(data[size - 2] | data[size - 1] << 8);
        size -= 2;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Low bit clear: the input alone (so a leading byte-order mark is at the file's start).
    // Set: a filler line in front, so that the block boundary falls `cut` bytes into the
    // input.
    std::string file;
    std::vector<std::string> expected;
    if (control & 1) {
        const std::size_t cut = (control >> 1) % (size + 1);
        const char lineEnd = (control & 0x8000) ? '\r' : '\n';
        file.assign(kStreamBuffer - cut - 1, 'x');
        // The filler is a line of its own (the reference need not read it byte by byte);
        // a CR that ends it takes an LF that starts the input along.
        expected.push_back(file);
        file.push_back(lineEnd);
        file.append(bytes);
        const bool crlf = lineEnd == '\r' && !bytes.empty() && bytes[0] == '\n';
        for (std::string& line : fuzz::ReferenceLines(bytes.substr(crlf ? 1 : 0), false))
            expected.push_back(std::move(line));
    } else {
        file.assign(bytes);
        expected = fuzz::ReferenceLines(file);
    }
    File().Write(file);
    // Small blocks: every few bytes a block edge, wherever the filler put the big one.
    const bool smallBlocks = (control & 3) == 2;
    if (smallBlocks) tk::TextInputStream::SetBlockSizeForTesting(1 + (control >> 4) % 19);

    // Now and then a read fails part-way instead.
    const bool failing = (control & 0x0C) == 0x0C;
    const std::size_t failAfter = failing ? (control >> 6) % (file.size() + 2) : 0;
    if (failing) tk::TextInputStream::FailReadsAfterForTesting(static_cast<std::int64_t>(failAfter));

    bool threw = false;
    const std::vector<std::string> lines = StreamLines(File().Path(), expected.size(), threw);
    if (failing) tk::TextInputStream::FailReadsAfterForTesting(-1);
    if (smallBlocks) tk::TextInputStream::SetBlockSizeForTesting(0);

    for (const std::string& line : lines) fuzz::Check(fuzz::IsValidUtf8(line), "a line is not valid UTF-8: " + fuzz::Shown(line));
    if (failing) {
        // Reads of up to the file's size that fail once it is used up: the end can never
        // be seen, so the failure must surface; only complete lines may come before it.
        const bool mustThrow = failAfter <= file.size();
        fuzz::Check(threw == mustThrow, std::string(threw ? "IOException" : "no IOException") + " with reads failing after " +
                                            std::to_string(failAfter) + " of " + std::to_string(file.size()) + " bytes");
        fuzz::Check(lines.size() <= expected.size(), "more lines than the file has before a read failure");
        for (std::size_t i = 0; i < lines.size(); ++i)
            fuzz::CheckEqual(lines[i], expected[i], "line " + std::to_string(i) + " before a read failure");
        if (!threw) fuzz::Check(lines.size() == expected.size(), "lines lost without a read failure");
        return 0;
    }
    fuzz::Check(!threw, "IOException reading an ordinary file");
    fuzz::Check(lines.size() == expected.size(), "the stream gave " + std::to_string(lines.size()) + " lines, the reference " +
                                                     std::to_string(expected.size()) + " for " + fuzz::Shown(file.substr(file.size() - size)));
    for (std::size_t i = 0; i < lines.size(); ++i)
        fuzz::CheckEqual(lines[i], expected[i], "line " + std::to_string(i) + " of " + fuzz::Shown(bytes));

    if (IsAscii(bytes)) {
        // An ASCII file's lines joined with its own line ends give the file back.
        std::string joined;
        std::size_t at = 0;
        for (const std::string& line : lines) {
            fuzz::Check(file.compare(at, line.size(), line) == 0, "an ASCII line is not the file's own bytes");
            at += line.size();
            if (at < file.size()) at += file.compare(at, 2, "\r\n") == 0 ? 2 : 1;
        }
        fuzz::Check(at == file.size(), "the ASCII lines do not cover the file");
    }
    return 0;
}
