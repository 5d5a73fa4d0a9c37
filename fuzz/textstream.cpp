// tk::TextInputStream on any bytes, held to the reference splitter of FuzzSupport.h: the
// same lines (LF, CRLF and a lone CR end a line, a final line end adds none, a leading
// byte-order mark is skipped, ill-formed UTF-8 becomes U+FFFD per maximal subpart).
//
// The stream reads through a 64 KB buffer, so where a block ends matters (a CRLF or a
// UTF-8 sequence cut in two, a byte-order mark split). The input's last two bytes choose
// that place: the file is written with a filler line in front that ends that many bytes
// into the input; or the stream reads in blocks of a few bytes (SetBlockSizeForTesting).
// Now and then a read is made to fail part-way: the stream must raise
// IOException and, before that, give only complete lines of the file.
//
// Lines are read in turn by ReadLine and by AppendLine with and without a turn hook
// (which counts its turns). With it a line of megabytes is checked as UTF-8 and copied
// into more room a megabyte at a time; with bits 0 and 14 both set, the filler is two
// megabytes glued to the front of the first line, so that the second one's edge falls
// where the block's would.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "toolkit/Exceptions.h"
#include "toolkit/TextStreams.h"

namespace {

constexpr std::size_t kStreamBuffer = 1 << 16;
constexpr std::size_t kMegabyte = 1 << 20;

// The file lives in memory, written afresh for every input.
const std::string& WriteFile(std::string_view bytes) {
    static const int fd = ::memfd_create("fuzz_textstream", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    fuzz::Check(fd >= 0 && ::ftruncate(fd, 0) == 0, "no memory file");
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        fuzz::Check(n > 0, "pwrite failed");
        done += static_cast<std::size_t>(n);
    }
    return path;
}

// Reads the file with the stream, line by line, interleaving Eof() and both read calls.
std::vector<std::string> StreamLines(const std::string& path, std::size_t limit, bool& threw) {
    std::vector<std::string> lines;
    const tk::Ref<tk::TextInputStream> stream = tk::TextInputStream::Open(path);
    if (!stream) fuzz::Fail("TextInputStream::Open refused the fuzz file");
    try {
        while (!stream->Eof()) {
            std::size_t turns = 0;
            const std::function<void()> turn = [&turns] { ++turns; };
            if (lines.size() % 4 == 1) {
                lines.push_back(stream->ReadLine());
            } else {
                // Empty, or with text before the line.
                std::string text = lines.size() % 4 == 2 ? "" : "prefix";
                const std::size_t before = text.size();
                if (lines.size() % 4 == 3) stream->AppendLine(text);
                else stream->AppendLine(text, turn);
                fuzz::Check(text.compare(0, before, "prefix", before) == 0, "AppendLine changed the text before the line");
                lines.push_back(text.substr(before));
                // A line of under 64 KB gives none (making it valid UTF-8 never shortens it).
                fuzz::Check(turns == 0 || lines.back().size() >= kStreamBuffer,
                            std::to_string(turns) + " turns within a line of " + std::to_string(lines.back().size()) + " bytes");
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
    const std::uint16_t control = size >= 2 ? static_cast<std::uint16_t>(data[size - 2] | data[size - 1] << 8) : 0;
    if (size >= 2) size -= 2;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Low bit set: a filler line in front, so that the block boundary falls `cut` bytes
    // into the input (and a leading byte-order mark is no mark).
    std::string file;
    std::vector<std::string> expected;
    if ((control & 0x4001) == 0x4001) {
        // The second megabyte's edge falls `cut` bytes into the input (and so does a block's).
        file.assign(2 * kMegabyte - (control >> 1) % (size + 1), 'x');
        file.append(bytes);
        expected = fuzz::ReferenceLines(file);
    } else if (control & 1) {
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
    // Small blocks: every few bytes a block edge, wherever the filler put the big one. Or,
    // now and then, a read fails part-way.
    tk::TextInputStream::SetBlockSizeForTesting((control & 3) == 2 ? 1 + (control >> 4) % 19 : 0);
    const bool failing = (control & 0x0C) == 0x0C;
    const std::size_t failAfter = failing ? (control >> 6) % (file.size() + 2) : 0;
    tk::TextInputStream::FailReadsAfterForTesting(failing ? static_cast<std::int64_t>(failAfter) : -1);
    bool threw = false;
    const std::vector<std::string> lines = StreamLines(WriteFile(file), expected.size(), threw);
    tk::TextInputStream::FailReadsAfterForTesting(-1);
    tk::TextInputStream::SetBlockSizeForTesting(0);

    // Reads that fail within the file's size: the end can never be seen, so the failure
    // must surface; only complete lines of the file may come before it.
    const bool mustThrow = failing && failAfter <= file.size();
    fuzz::Check(threw == mustThrow, std::string(threw ? "IOException" : "no IOException") + " with reads failing after " +
                                        std::to_string(failing ? failAfter : file.size() + 1) + " of " +
                                        std::to_string(file.size()) + " bytes");
    fuzz::Check(threw || lines.size() == expected.size(), "the stream gave " + std::to_string(lines.size()) +
                                                              " lines, the reference " + std::to_string(expected.size()));
    for (std::size_t i = 0; i < lines.size(); ++i)
        fuzz::CheckEqual(lines[i], expected[i], "line " + std::to_string(i) + " of " + fuzz::Shown(bytes));
    return 0;
}
