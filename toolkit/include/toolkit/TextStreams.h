#pragma once
// Text file streams. Input is read as UTF-8; output is written as UTF-8 and committed
// atomically.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Object.h"

namespace tk {

// Reads a text file line by line through a fixed-size buffer, so files of any size
// and lines of any length take linear time.
//  - LF, CRLF and a lone CR each end a line; ReadLine returns the line without it.
//  - The bytes are decoded as UTF-8: each maximal invalid subpart of a sequence (as the
//    Unicode standard recommends) becomes one U+FFFD, so the result is always valid
//    UTF-8. A NUL byte is kept.
//  - A byte-order mark at the very start of the file is skipped.
//  - Eof() is true once no line remains: right after the last line has been read. A
//    final line end does not start another line, so "a\nb\n" and "a\nb" both give
//    "a", "b". "\n" gives one empty line; the empty file gives none (Eof() is true at
//    once). ReadLine at the end returns the empty text.
// (The end test is spelled Eof: EOF is a macro of the C library.)
//  - Only a regular file is opened: a folder, a FIFO or a device is refused at once
//    (never waited on), since none of them is a text file to read to its end.
//  - A read that fails raises IOException naming the file and the system's reason; a
//    failure never passes for the end of the file.
class TextInputStream : public Object {
public:
    // Opens the file; nil when it cannot be opened for reading or is not a regular file.
    static Ref<TextInputStream> Open(const std::filesystem::path& path);
    // The same, telling why in `reason` (the system's words) when it gives nil.
    static Ref<TextInputStream> Open(const std::filesystem::path& path, std::string& reason);
    ~TextInputStream() override;

    std::string ReadLine();
    // Reads the next line as ReadLine does and appends it to `text`.
    void AppendLine(std::string& text);
    // The same, calling `turn` after about every 64 KB of a long line read and every
    // megabyte of it checked as UTF-8 (never for a shorter line), so that a line of any
    // length leaves the event loop its turns. When `turn` throws, the rest of the line
    // stays unread and `text` holds part of it.
    void AppendLine(std::string& text, const std::function<void()>& turn);
    bool Eof();
    // Closes the file. Afterwards Eof() is true and ReadLine returns the empty text.
    void Close() noexcept;

    // Test seams: the reads of every stream opened afterwards fail with EIO once `bytes`
    // bytes have been read (a negative value ends the failures); streams opened
    // afterwards read the file in blocks of `bytes` (0 brings back the usual size), so
    // tests can put a line end at a block's edge.
    static void FailReadsAfterForTesting(std::int64_t bytes);
    static void SetBlockSizeForTesting(std::size_t bytes);

private:
    TextInputStream(int fd, std::filesystem::path path);
    bool Fill();  // reads more bytes; false at the end of the file
    void SkipPendingLineFeed();
    [[noreturn]] void ReadFailed(int error);
    void AppendLine(std::string& text, const std::function<void()>* turn);
    // The first LF or CR in [from, stop) of the buffer, or stop.
    const char* FindLineEnd(const char* from, const char* stop);

    int fd_ = -1;
    std::filesystem::path path_;
    std::int64_t failAfter_ = -1;  // test seam: bytes that may still be read before a failure
    std::vector<char> buffer_;
    std::size_t pos_ = 0, end_ = 0;
    bool atStart_ = true;            // the byte-order mark test is still to be made
    bool pendingLineFeed_ = false;   // the last line ended with CR: an LF after it belongs to it
    bool fileDone_ = false;
    std::uint64_t blocksRead_ = 0;          // tells the remembered LF position's block
    std::uint64_t nextLineFeedBlock_ = ~std::uint64_t{0};
    std::size_t nextLineFeed_ = 0;          // index of the next LF in the buffer, or end_
};

// Writes a text file through a temporary file in the same folder. Close() commits:
// the finished file is flushed to disk and replaces any existing one in a single
// rename, so a failure never leaves a half-written file in its place. A stream
// destroyed without Close() discards what it wrote and leaves an existing file
// untouched.
//  - The name is opened by the system's own path resolution, as a shell's redirection
//    opens it (only without emptying the file): every protection that applies to a
//    shell's ">" (links, FIFOs and files of other users in shared folders) applies here,
//    and what the system refuses is refused with its reason.
//  - A replaced file keeps its mode (set-id bits included), its ACL and its user.*
//    attributes, and its owner, group and other attributes wherever the system permits.
//    An ACL that cannot be carried over refuses the save.
//  - A symbolic link is followed: the link stays and the file it names is replaced.
//    The rename replaces exactly the file that was opened: if its name came to mean
//    another file meanwhile, nothing is replaced. Other hard links keep the old text.
//  - A device, a FIFO or a file without a name left (one reached through /proc) is
//    written directly; a FIFO nobody reads is refused at once, one whose reader leaves
//    fails the write ("Broken pipe") instead of ending the program, and while one whose
//    reader stalls keeps a write waiting, the waiting hook is called every 20 ms.
//  - The temporary file's name does not grow with the target's, and names are worked
//    relative to the open folder, so any path the system accepts works.
// Errors raise IOException naming the file and the system's reason.
class TextOutputStream : public Object {
public:
    // Raises IOException naming the file when it cannot be created.
    static Ref<TextOutputStream> Create(const std::filesystem::path& path);
    ~TextOutputStream() override;

    // Writes the text (UTF-8) followed by EndOfLine(). Raises IOException when the
    // write fails or the stream is closed.
    void WriteLine(std::string_view text);
    // Writes the text without a line end.
    void Write(std::string_view text);
    // Commits the file. Raises IOException naming the file when the commit fails; the
    // existing file, if any, is then unchanged. Closing again does nothing.
    void Close();

    const std::filesystem::path& Path() const noexcept { return path_; }

    // Called every 20 ms or so while a write waits for a reader that is not reading; an
    // exception it raises ends the write (a FIFO keeps what it was given).
    void SetWaitingHook(std::function<void()> hook);

    // Test seams: the next commit of any stream fails as a full disk would; the writes of
    // every stream created afterwards fail with ENOSPC once `bytes` bytes have been
    // written (a negative value ends the failures).
    static void FailNextCommitForTesting();
    static void FailWritesAfterForTesting(std::int64_t bytes);

    // A write to a pipe whose reader has gone fails as any write does, instead of the
    // signal ending the program, whichever thread writes. Create sees to it; the runtime
    // does it at start-up.
    static void IgnoreBrokenPipeSignal();

private:
    struct Impl;
    explicit TextOutputStream(std::filesystem::path path, std::unique_ptr<Impl> impl);
    void WaitUntilWritable();
    void CarryOverAccess();
    void Commit();

    std::filesystem::path path_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tk
