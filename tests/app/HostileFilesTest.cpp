// Hostile files through the real "Select SCC File" road: the window's importSCC with its
// dialogs answered by a script, each file made here by the test. Every case must end in
// the transcript worked out by hand or in exactly one clear message, within a second per
// megabyte and, where it can be measured, within three times the file's size of extra
// memory; and the window must convert a normal file right afterwards.
#include <gtest/gtest.h>

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "app/Window1.h"
#include "toolkit/Dialogs.h"
#include "toolkit/TextStreams.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUILLET_HOSTILE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLET_HOSTILE_SANITIZED 1
#endif
#endif

namespace {

namespace fs = std::filesystem;
using namespace quillet::testing;
using namespace std::string_literals;
using quillet::Window1;

#ifdef QUILLET_HOSTILE_SANITIZED
// A sanitized debug build runs several times slower and keeps its own shadow memory, so
// the big file is smaller there and the memory figures mean nothing.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif


constexpr const char* kNoTimecode = "There does not appear to be any timecode in this file.";
const std::string kFffd = "\xEF\xBF\xBD";  // U+FFFD, what the stream makes of a bad sequence

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string repeated(const std::string& unit, std::size_t count) {
    std::string text;
    text.reserve(unit.size() * count);
    for (std::size_t i = 0; i < count; ++i)
        text += unit;
    return text;
}

// Writes prefix, `count` copies of `unit` and suffix without holding the whole file: a
// megabyte of copies is made once and written as often as needed.
void writeRepeated(const fs::path& path, const std::string& prefix, const std::string& unit, std::size_t count,
                   const std::string& suffix) {
    std::ofstream out(path, std::ios::binary);
    out << prefix;
    const std::size_t perChunk = std::max<std::size_t>(1, (1u << 20) / unit.size());
    const std::string chunk = repeated(unit, perChunk);
    for (std::size_t left = count; left > 0;) {
        const std::size_t n = std::min(left, perChunk);
        out.write(chunk.data(), static_cast<std::streamsize>(n * unit.size()));
        left -= n;
    }
    out << suffix;
}

// Byte-for-byte comparison that names the first difference instead of printing
// megabytes.
::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    const std::size_t at = static_cast<std::size_t>(a - actual.begin());
    (void)e;
    const auto around = [at](const std::string& s) {
        const std::size_t from = at < 40 ? 0 : at - 40;
        std::string piece = s.substr(from, 80);
        std::string shown;
        for (const char c : piece) {
            const auto u = static_cast<unsigned char>(c);
            if (u >= 0x20 && u < 0x7F) {
                shown += c;
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", u);
                shown += hex;
            }
        }
        return shown;
    };
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at byte " << at << "\n  actual:   \""
                                         << around(actual) << "\"\n  expected: \"" << around(expected) << "\"";
}

bool validUtf8(const std::string& text) {
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// The file's lines as the import must see them, worked out here on their own: LF, CRLF
// and a lone CR end a line, a byte-order mark at the very start is skipped, and empty
// lines are dropped.
std::vector<std::string> nonEmptyLines(std::string bytes) {
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        bytes.erase(0, 3);
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\n' && c != '\r') {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        if (!line.empty())
            lines.push_back(line);
        line.clear();
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

bool hasTwoDigitsAndColon(const std::string& line) {
    for (std::size_t i = 2; i < line.size(); ++i)
        if (line[i] == ':' && std::isdigit(static_cast<unsigned char>(line[i - 1])) &&
            std::isdigit(static_cast<unsigned char>(line[i - 2])))
            return true;
    return false;
}

// HH:MM:SS.ss with at least two digits of hours.
bool isUnbufferedTimecode(const std::string& t) {
    const std::size_t colon = t.find(':');
    if (colon == std::string::npos || colon < 2 || t.size() != colon + 9)
        return false;
    const auto digits = [&](std::size_t from, std::size_t n) {
        for (std::size_t i = from; i < from + n; ++i)
            if (!std::isdigit(static_cast<unsigned char>(t[i])))
                return false;
        return true;
    };
    return digits(0, colon) && t[colon + 3] == ':' && t[colon + 6] == '.' && digits(colon + 1, 2) &&
           digits(colon + 4, 2) && digits(colon + 7, 2) && t[colon + 1] < '6' && t[colon + 4] < '6';
}

// ---- Time and memory of one import --------------------------------------------------

long long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::atoll(line.c_str() + prefix.size());
    return -1;
}

// Sets the peak resident size back to the present one; false where that is not offered.
// Memory the allocator keeps from earlier cases is handed back first, so that what an
// import reuses of it counts as growth too.
bool resetPeakResidentSize() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good() && statusKb("VmHWM") >= 0;
}

struct Row {
    std::string label, result;
    std::uint64_t bytes;
    double seconds;
    long long growthKb;  // peak growth during the import; -1: not measured
    long long keptKb;    // still held once it has returned; -1: not measured
};

std::string megabytesText(long long kb) {
    if (kb < 0)
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(kb) / 1024.0);
    return text;
}

// Bounds of one import beyond the usual second per megabyte and three times the size.
struct Limits {
    double maxSeconds = 0;           // 0: a second per megabyte, at least one second
    double sanitizedSlowdown = 1.0;  // the time bound's factor in a sanitized build
    // Room beyond three times the size: each caption line costs a timecode and a caption
    // entry of 32 bytes each and its place in the line store, whatever its length, so
    // files of very short lines need more than three times their size.
    double extraPeak = 0;
};

std::vector<Row>& rows() {
    static std::vector<Row> table;
    return table;
}

// How one import ended.
struct Outcome {
    std::string transcript;  // what was written, "" when nothing was
    bool written = false;
    bool saveShown = false;
    std::vector<std::string> messages;
};

// A writer for a FIFO that the import might wait on: if the import has not returned in
// time, opening the other end lets a blocked open go on, so the test fails on its
// result instead of hanging.
class FifoWatchdog {
public:
    FifoWatchdog(fs::path fifo, std::chrono::milliseconds limit)
        : thread_([this, fifo = std::move(fifo), limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (done_ || cv_.wait_for(lock, limit, [this] { return done_; }))
                  return;
              fired_ = true;
              lock.unlock();
              // Non-blocking: succeeds only while a reader has the FIFO open or waits in open.
              const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
              if (fd >= 0)
                  ::close(fd);
          }) {}
    ~FifoWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    bool Fired() {
        std::lock_guard<std::mutex> lock(mutex_);
        return fired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false, fired_ = false;
    std::thread thread_;
};

// A script that removes the chosen file once the open dialog has returned it, as another
// program might between the user's choice and the open.
class RemovingChooser : public tk::ScriptedChooser {
public:
    std::optional<fs::path> ChooseFile(const tk::DialogRequest& request) override {
        std::optional<fs::path> chosen = tk::ScriptedChooser::ChooseFile(request);
        if (chosen && request.kind == tk::DialogKind::Open)
            fs::remove(*chosen);
        return chosen;
    }
};

class HostileFiles : public ConversionFixture {
protected:
    static void TearDownTestSuite() {
        if (rows().empty())
            return;
        std::printf("\n%-40s %-40s %12s %9s %11s %11s\n", "case", "result", "bytes", "seconds", "peak +",
                    "kept +");
        for (const Row& r : rows())
            std::printf("%-40s %-40s %12llu %9.3f %11s %11s\n", r.label.c_str(), r.result.substr(0, 40).c_str(),
                        static_cast<unsigned long long>(r.bytes), r.seconds, megabytesText(r.growthKb).c_str(),
                        megabytesText(r.keptKb).c_str());
        std::printf("(%s build)\n\n", kSanitized ? "sanitized" : "plain");
        rows().clear();
    }

    void SetUp() override {
        ConversionFixture::SetUp();
        // Outside a run no dialog may appear: an empty script fails loudly instead of
        // showing a real one.
        chooser_->SetAutoDismissMessages(false);
    }

    void set(Layout layout, bool unbuffered) {
        setLayout(layout);
        setUnbuffered(unbuffered);
    }


    // One import of `input` with a script of its own; the save dialog is answered only
    // when `answerSave`. Times it, measures the peak memory it adds and the memory still
    // held after it where that can be measured, and holds them to their bounds.
    Outcome run(const std::string& label, const fs::path& input, bool answerSave, const Limits& limits = {},
                std::shared_ptr<tk::ScriptedChooser> chooser = nullptr) {
        if (!chooser)
            chooser = std::make_shared<tk::ScriptedChooser>();
        chooser->SetAutoDismissMessages(true);
        tk::ScopedDialogChooser scope(chooser);
        const fs::path out = dir_ / "out.txt";
        fs::remove(out);
        chooser->AnswerPath(input);
        if (answerSave)
            chooser->AnswerPath(out);

        std::error_code ec;
        const std::uint64_t bytes = fs::is_regular_file(input, ec) ? fs::file_size(input, ec) : 0;
        const bool measureMemory = !kSanitized && resetPeakResidentSize();
        const long long before = measureMemory ? statusKb("VmHWM") : -1;
        const auto start = std::chrono::steady_clock::now();
        window_->importSCC();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long long growthKb = measureMemory ? std::max(0LL, statusKb("VmHWM") - before) : -1;

        Outcome o;
        for (const tk::DialogRequest& r : chooser->Shown()) {
            if (r.kind == tk::DialogKind::Message)
                o.messages.push_back(r.message);
            if (r.kind == tk::DialogKind::Save)
                o.saveShown = true;
        }
        o.written = fs::exists(out);
        if (o.written)
            o.transcript = readBytes(out);
        EXPECT_EQ(chooser->PendingAnswers(), 0u) << label;
        EXPECT_EQ(chooser->UnexpectedCount(), 0u) << label;
        long long keptKb = -1;
        if (measureMemory) {
            resetPeakResidentSize();  // hands back what the allocator could
            keptKb = std::max(0LL, statusKb("VmRSS") - before - static_cast<long long>(o.transcript.size() / 1024));
        }

        std::string result = o.messages.empty() ? (o.written ? "transcript" : "nothing written")
                                                : "message: " + o.messages.front();
        if (o.messages.size() > 1)
            result = std::to_string(o.messages.size()) + " messages";

        const double megabytes = static_cast<double>(bytes) / 1e6;
        const double maxSeconds = (limits.maxSeconds > 0 ? limits.maxSeconds : std::max(1.0, megabytes)) *
                                  (kSanitized ? limits.sanitizedSlowdown : 1.0);
        // Three times the file's size, plus room for what any import allocates at all.
        const double maxPeak = 3.0 * static_cast<double>(bytes) + 8e6 + limits.extraPeak;
        // Once the request has ended the window keeps nothing of it but small caches.
        const double maxKept = 0.1 * static_cast<double>(bytes) + 4e6;
        const auto check = [&](const char* what, double value, double bound, const char* unit, double scale) {
            if (value > bound)
                ADD_FAILURE() << label << ": " << what << " " << value / scale << " " << unit << " over the bound of "
                              << bound / scale << " " << unit;
        };
        check("time", seconds, maxSeconds, "s", 1.0);
        if (growthKb >= 0)
            check("peak memory", growthKb * 1024.0, maxPeak, "MB", 1048576.0);
        if (keptKb >= 0)
            check("memory kept", keptKb * 1024.0, maxKept, "MB", 1048576.0);

        rows().push_back({label, result, bytes, seconds, growthKb, keptKb});
        std::printf("[ hostile  ] %-44s %9.3f s %12llu bytes  peak +%s  kept +%s\n", label.c_str(), seconds,
                    static_cast<unsigned long long>(bytes), megabytesText(growthKb).c_str(),
                    megabytesText(keptKb).c_str());
        return o;
    }

    // The import must end in exactly this transcript, without any message.
    void expectTranscript(const std::string& label, const fs::path& input, const std::string& expected,
                          const Limits& limits = {}) {
        const Outcome o = run(label, input, true, limits);
        EXPECT_TRUE(o.messages.empty()) << label << ": " << (o.messages.empty() ? "" : o.messages.front());
        ASSERT_TRUE(o.written) << label;
        EXPECT_TRUE(sameBytes(o.transcript, expected)) << label;
        EXPECT_EQ(controlOf<tk::StaticText>(window_, "ProgressText")->Text(), "Done Writing SCC Transcripts");
        EXPECT_EQ(window_->captionArray2.Count(), 0) << label;
        expectStillUsable(label);
    }
    void expectTranscript(const std::string& label, const std::string& name, const std::string& bytes,
                          const std::string& expected, const Limits& limits = {}) {
        expectTranscript(label, file(name, bytes), expected, limits);
    }

    // The import must end with exactly this one message and write nothing.
    void expectMessage(const std::string& label, const fs::path& input, const std::string& message) {
        const Outcome o = run(label, input, false);
        EXPECT_EQ(o.messages, std::vector<std::string>{message}) << label;
        EXPECT_FALSE(o.saveShown) << label;
        EXPECT_FALSE(o.written) << label;
        EXPECT_EQ(window_->captionArray2.Count(), window_->timeCodeArray.Count()) << label;
        expectStillUsable(label);
    }

    // A normal small conversion right after: the window is still fit for work.
    void expectStillUsable(const std::string& after) {
        const bool unbuffered = controlOf<tk::RadioButton>(window_, "RadioButton1")->Value();
        const bool timecode = controlOf<tk::CheckBox>(window_, "TimecodeBox")->Value();
        const bool paragraph = controlOf<tk::CheckBox>(window_, "ParagraphBox")->Value();
        set(Layout::Timecode, false);
        auto chooser = std::make_shared<tk::ScriptedChooser>();
        chooser->SetAutoDismissMessages(true);
        {
            tk::ScopedDialogChooser scope(chooser);
            chooser->AnswerPath(file("fine.scc", "Scenarist_SCC V1.0\n\n00:00:01:00\tc8e9\n"))
                .AnswerPath(dir_ / "fine.txt");
            window_->importSCC();
        }
        EXPECT_EQ(readBytes(dir_ / "fine.txt"), "Transcripts of fine.scc\n\n[00:00:01:00]\tHi\n\n\n")
            << "after " << after;
        EXPECT_EQ(chooser->Shown().size(), 2u) << "after " << after;
        EXPECT_EQ(controlOf<tk::StaticText>(window_, "ProgressText")->Text(), "Done Writing SCC Transcripts");
        fs::remove(dir_ / "fine.txt");
        setLayout(timecode ? Layout::Timecode : paragraph ? Layout::Paragraph : Layout::Line);
        setUnbuffered(unbuffered);
    }

    std::string couldNotOpen(const std::string& name, const std::string& reason) const {
        return "The file \"" + name + "\" could not be opened: " + reason + ".";
    }
};

// ---- Random bytes --------------------------------------------------------------------

// What the import must make of `bytes`: the no-timecode message when a caption line lacks
// two digits and a colon; otherwise, in the timecode layout, one entry per caption line
// whose timecode is the text before its first tab (or an unbuffered time), captions
// without line ends or bars, all of it valid UTF-8. `importIt` runs the import, answering
// the save dialog when it is told to.
void checkAgainstModel(const std::string& label, const std::string& bytes, bool unbuffered,
                       const std::function<Outcome(bool)>& importIt, const std::string& title) {
    const std::vector<std::string> lines = nonEmptyLines(bytes);
    bool allHaveTimecodes = true;
    for (std::size_t i = 1; i < lines.size(); ++i)
        allHaveTimecodes = allHaveTimecodes && hasTwoDigitsAndColon(lines[i]);
    const Outcome o = importIt(allHaveTimecodes);
    if (!allHaveTimecodes) {
        EXPECT_EQ(o.messages, std::vector<std::string>{kNoTimecode}) << label;
        EXPECT_FALSE(o.saveShown) << label;
        return;
    }
    EXPECT_TRUE(o.messages.empty()) << label;
    ASSERT_TRUE(o.written) << label;
    const std::string& t = o.transcript;
    EXPECT_TRUE(validUtf8(t)) << label;
    ASSERT_EQ(t.compare(0, title.size(), title), 0) << label;
    std::size_t at = title.size();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(t.compare(at, 1, "["), 0) << label << " line " << i;
        const std::size_t close = t.find("]\t", at);
        ASSERT_NE(close, std::string::npos) << label;
        const std::string timecode = t.substr(at + 1, close - at - 1);
        if (unbuffered)
            EXPECT_TRUE(isUnbufferedTimecode(timecode)) << label << ": " << timecode;
        else
            EXPECT_EQ(timecode, lines[i].substr(0, lines[i].find('\t'))) << label;
        const std::size_t end = t.find('\n', close);
        ASSERT_NE(end, std::string::npos) << label;
        const std::string caption = t.substr(close + 2, end - close - 2);
        EXPECT_EQ(caption.find_first_of("|\r"), std::string::npos) << label;
        ASSERT_EQ(t.compare(end, 2, "\n\n"), 0) << label;
        at = end + 2;
    }
    EXPECT_EQ(t.substr(at), "\n") << label;
}

TEST_F(HostileFiles, RandomBytesEndInATranscriptOrTheMessage) {
    std::mt19937 random(20240611);
    const auto byte = [&] { return static_cast<char>(random() & 0xFF); };
    int transcripts = 0, refusals = 0;
    // Both timecode modes on each file, against the model.
    const auto check = [&](const std::string& label, const std::string& bytes, const std::string& name) {
        const fs::path input = file(name, bytes);
        for (bool unbuffered : {false, true}) {
            set(Layout::Timecode, unbuffered);
            const std::string mode = label + (unbuffered ? ", unbuffered" : ", kept");
            checkAgainstModel(mode, bytes, unbuffered, [&](bool save) {
                Outcome o = run(mode, input, save);
                (o.written ? transcripts : refusals)++;
                return o;
            }, "Transcripts of " + name + "\n\n");
        }
    };

    // Bytes of every value, in files of a few sizes.
    for (const std::size_t size : {1u, 2u, 3u, 100u, 4096u, 65535u, 65536u, 65537u, 300000u}) {
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = byte();
        check("random bytes, " + std::to_string(size), bytes, "random.scc");
    }

    // Lines shaped like caption lines, with any byte but a line end in the code field
    // (tabs, NULs, bars, stray UTF-8 bytes), mixed line ends and empty lines.
    const std::string timecodeChars = "0123456789:;x ";
    for (int n = 0; n < 24; ++n) {
        std::string bytes = n % 3 == 0 ? "\xEF\xBB\xBF" : "";
        for (int k = static_cast<int>(random() % 20); k > 0; --k)
            bytes += static_cast<char>(' ' + random() % 90);
        const int lineCount = static_cast<int>(random() % 120);
        for (int line = 0; line < lineCount; ++line) {
            bytes += "\n\r\n\r"s.substr(random() % 3, 1 + random() % 2);
            if (random() % 200 != 0)  // now and then a line that may lack a timecode
                bytes += std::to_string(random() % 10) + std::to_string(random() % 10) + ":";
            for (int k = static_cast<int>(random() % 12); k > 0; --k)
                bytes += timecodeChars[random() % timecodeChars.size()];
            bytes += '\t';
            for (int k = static_cast<int>(random() % 64); k > 0; --k) {
                const unsigned pick = random() % 4;
                char c = pick == 0 ? byte() : "0123456789abcdefABCDEF 7f80|"[random() % 28];
                if (c == '\n' || c == '\r')
                    c = '\t';
                bytes += c;
            }
        }
        check("random lines #" + std::to_string(n), bytes, "lines.scc");
    }
    std::printf("[ hostile  ] random files: %d transcripts, %d refusals\n", transcripts, refusals);
    EXPECT_GT(transcripts, 10);
    EXPECT_GT(refusals, 10);
    expectStillUsable("random files");
}

// ---- One enormous line ---------------------------------------------------------------

TEST_F(HostileFiles, HundredMegabyteCaptionLine) {
    // "c8e9" is "Hi". n groups with spaces between them make a code field of 5n - 1
    // characters, so an offset of (5n - 1) / 150 s.
    const std::size_t groups = kSanitized ? 2'000'000 : 20'000'000;
    const std::string timecode = kSanitized ? "18:31:06.66" : "185:11:06.66";  // 66666.66 s and 666666.66 s
    const fs::path input = dir_ / "big.scc";
    writeRepeated(input, "Scenarist_SCC V1.0\n00:00:00:00\tc8e9", " c8e9", groups - 1, "\n");
    ASSERT_EQ(fs::file_size(input), 19 + 12 + 5 * groups - 1 + 1);

    set(Layout::Timecode, true);
    std::string expected = "Transcripts of big.scc\n\n[" + timecode + "]\t";
    expected.append(repeated("Hi", groups));
    expected += "\n\n\n";
    const std::string label = std::to_string(fs::file_size(input) / 1'000'000) + " MB line, unbuffered";
    expectTranscript(label, input, expected);
    expected.clear();
    expected.shrink_to_fit();

    // The same line in the paragraph layout, its time kept as the file gives it.
    set(Layout::Paragraph, false);
    expectTranscript("same line, paragraph layout", input,
                     "Transcripts of big.scc\n\n " + repeated("Hi", groups) + "\n");
}

// ---- Bytes a text file should not hold ------------------------------------------------

TEST_F(HostileFiles, NulBytesAreKeptAsCharacters) {
    // A NUL is one more character: it forms units like any other, counts for the offset,
    // and stops Val as any non-digit does.
    const std::string text = "Scenarist\0SCC V1.0\n"
                             "00:00:01:00\tc8e9 \0\0 c8e9\n"
                             "00:00:\0" "02:00\t\0c8e9\n"s;
    set(Layout::Line, false);
    expectTranscript("NUL bytes, line layout", "nul.scc", text, "Transcripts of nul.scc\n\nHi\0\0Hi\n\0c8e\n\n"s);
    set(Layout::Timecode, true);
    expectTranscript("NUL bytes, unbuffered", "nul.scc", text,
                     "Transcripts of nul.scc\n\n[00:00:01.08]\tHi\0\0Hi\n\n[00:00:00.03]\t\0c8e\n\n\n"s);
    set(Layout::Timecode, false);
    expectTranscript("NUL bytes, kept timecode", "nul.scc", text,
                     "Transcripts of nul.scc\n\n[00:00:01:00]\tHi\0\0Hi\n\n[00:00:\0" "02:00]\t\0c8e\n\n\n"s);
    // Nothing but NULs: one header line, no caption.
    expectTranscript("NUL bytes only", "nuls.scc", std::string(5000, '\0'), "Transcripts of nuls.scc\n\n\n");
}

TEST_F(HostileFiles, InvalidUtf8BecomesReplacementCharacters) {
    // f0 9f 98 is one truncated sequence, c0 and af are two bad bytes, ed a0 80 a
    // surrogate of three: six U+FFFD in all, so the code field has 11 characters (0.0733 s)
    // and cuts into "c8", "e9" and three pairs of U+FFFD.
    const std::string text = "Scenarist_SCC V1.0\n"
                             "00:00:01:00\tc8e9 \xF0\x9F\x98\xC0\xAF\xED\xA0\x80\n"
                             "00:00:02:00\xFF\t9420\n";
    const std::string six = repeated(kFffd, 6);
    set(Layout::Line, false);
    expectTranscript("invalid UTF-8, line layout", "utf8.scc", text,
                     "Transcripts of utf8.scc\n\nHi" + six + "\n  \n\n");
    set(Layout::Timecode, true);
    expectTranscript("invalid UTF-8, unbuffered", "utf8.scc", text,
                     "Transcripts of utf8.scc\n\n[00:00:01.07]\tHi" + six + "\n\n[00:00:02.03]\t  \n\n\n");
    set(Layout::Timecode, false);
    expectTranscript("invalid UTF-8, kept timecode", "utf8.scc", text,
                     "Transcripts of utf8.scc\n\n[00:00:01:00]\tHi" + six + "\n\n[00:00:02:00" + kFffd + "]\t  \n\n\n");
}

TEST_F(HostileFiles, LoneCarriageReturns) {
    set(Layout::Line, false);
    expectTranscript("CR, CRLF and LF mixed", "cr.scc", "h\r\r00:00:01:00\tc8e9\r\n\r00:00:02:00\t9420 c8e9\n\r",
                     "Transcripts of cr.scc\n\nHi\nHi\n\n");
    // Two hundred thousand caption lines ended by CR alone: no LF anywhere to find.
    const std::size_t count = 200'000;
    writeRepeated(dir_ / "crs.scc", "Scenarist_SCC V1.0\r", "00:00:01:00\tc8e9\r", count, "");
    // These shortest of caption lines (17 bytes) cost more than their own size in the
    // lists and the line store: up to 100 bytes a line are allowed beyond three times the
    // size. Nothing of it may stay once the request has ended.
    expectTranscript("200000 lines ended by CR", dir_ / "crs.scc",
                     "Transcripts of crs.scc\n\n" + repeated("Hi\n", count) + "\n",
                     {.extraPeak = 100.0 * count});
}

TEST_F(HostileFiles, ByteOrderMarks) {
    // Skipped at the start, so the empty line after it is dropped and the next line is
    // the header. Anywhere else U+FEFF is a character: here the odd last one of a code
    // field (6 characters: 0.04 s), and then the start of a timecode that Val reads as 0.
    set(Layout::Timecode, true);
    expectTranscript("BOM, then an empty line", "bom.scc",
                     "\xEF\xBB\xBF\r\n00:00:01:00\t9420\n00:00:02:00\tc8e9 \xEF\xBB\xBF\n",
                     "Transcripts of bom.scc\n\n[00:00:02.04]\tHi\n\n\n");
    expectTranscript("BOM before a timecode", "bom.scc", "h\n\xEF\xBB\xBF" "00:00:01:00\tc8e9\n",
                     "Transcripts of bom.scc\n\n[00:00:01.03]\tHi\n\n\n");
    set(Layout::Timecode, false);
    expectTranscript("BOM before a kept timecode", "bom.scc", "h\n\xEF\xBB\xBF" "00:00:01:00\tc8e9\n",
                     "Transcripts of bom.scc\n\n[\xEF\xBB\xBF" "00:00:01:00]\tHi\n\n\n");
    for (const std::string& bytes : {"\xEF\xBB\xBF"s, "\xEF\xBB"s, "\xEF\xBB\xBF\xEF\xBB\xBF"s, "\xEF\xBB\xBF\n\n"s})
        expectTranscript("BOM only (" + std::to_string(bytes.size()) + " bytes)", "bomonly.scc", bytes,
                         "Transcripts of bomonly.scc\n\n\n");
}

TEST_F(HostileFiles, MillionsOfEmptyLines) {
    // A million empty lines of each kind of line end around two caption lines.
    std::string text = "Scenarist_SCC V1.0\n";
    text += std::string(1'000'000, '\r');
    text += "00:00:01:00\tc8e9\n";
    text += std::string(1'000'000, '\n');
    text += "00:00:02:00\t9420 c8e9\n";
    text += repeated("\r\n", 1'000'000);
    const fs::path input = file("empty.scc", text);
    text.clear();
    text.shrink_to_fit();
    set(Layout::Timecode, true);
    expectTranscript("a million empty lines of each kind", input,
                     "Transcripts of empty.scc\n\n[00:00:01.03]\tHi\n\n[00:00:02.06]\tHi\n\n\n");
    // Nothing but empty lines: no header, no caption.
    writeRepeated(dir_ / "blank.scc", "", "\n", 1'000'000, "");
    expectTranscript("a million empty lines alone", dir_ / "blank.scc", "Transcripts of blank.scc\n\n\n");
}

// ---- Lines and fields out of shape ------------------------------------------------------

TEST_F(HostileFiles, CaptionLinesWithoutATab) {
    // Without a tab the whole line is the timecode and the code field is empty (offset 0,
    // caption of two spaces); Val stops at the space after "00".
    const std::string text = "h\n00:00:01:00 c8e9 c8e9\n12:\n";
    set(Layout::Timecode, false);
    expectTranscript("no tab, kept timecode", "notab.scc", text,
                     "Transcripts of notab.scc\n\n[00:00:01:00 c8e9 c8e9]\t  \n\n[12:]\t  \n\n\n");
    set(Layout::Timecode, true);
    expectTranscript("no tab, unbuffered", "notab.scc", text,
                     "Transcripts of notab.scc\n\n[00:00:01.00]\t  \n\n[12:00:00.00]\t  \n\n\n");
    // A tab first: an empty timecode, and a code field of 11 characters that is cut as
    // text ("00", ":0", "0:", "01", ":0"; the last "0" is dropped).
    expectTranscript("tab first, unbuffered", "tabfirst.scc", "h\n\t00:00:01:00\n",
                     "Transcripts of tabfirst.scc\n\n[00:00:00.07]\t00:00:01:0\n\n\n");
    // A megabyte without a tab.
    const std::size_t groups = 200'000;
    writeRepeated(dir_ / "longnotab.scc", "h\n00:00:01:00", " c8e9", groups, "\n");
    expectTranscript("1 MB line without a tab, unbuffered", dir_ / "longnotab.scc",
                     "Transcripts of longnotab.scc\n\n[00:00:01.00]\t  \n\n\n");
    set(Layout::Timecode, false);
    expectTranscript("1 MB line without a tab, kept", dir_ / "longnotab.scc",
                     "Transcripts of longnotab.scc\n\n[00:00:01:00" + repeated(" c8e9", groups) + "]\t  \n\n\n");
    // A line of spaces only, and a line without two digits and a colon: the message.
    expectMessage("line of spaces", file("spaces.scc", "h\n00:00:01:00\tc8e9\n      \n"), kNoTimecode);
    expectMessage("line without a timecode", file("none.scc", "h\n0:0:1:0\tc8e9\n"), kNoTimecode);
}

TEST_F(HostileFiles, OddTimecodes) {
    // The code field "9420" decodes to two spaces and adds 4 / 150 s (0.0267 s).
    struct Case {
        const char* timecode;
        const char* unbuffered;
    };
    const Case cases[] = {
        {"01:02", "01:02:00.03"},               // two fields: the missing ones count as 0
        {"01:02:03", "01:02:03.03"},            // three fields
        {"01:02:03:15:07", "01:02:03.53"},      // a fifth field is ignored
        {"99:99:99:99", "100:40:42.33"},        // 362442.3 s: 6040 minutes
        {"01:0x:1z:15", "01:00:01.53"},         // Val reads 0, 1 and 15 from the fields
        {"00:-5:00:00", "00:00:00.00"},         // -300 s: no time before the start
        {"00:00:00:-1", "00:00:00.00"},         // a hair before the start
        {"00:00:01.5:00", "00:00:01.53"},       // a fraction in the seconds
        {"12345678901234567890:00:00:00", "1000000000:00:00.00"},  // clamped at a billion hours
        {"00:00:00:12345678901234567890", "1000000000:00:00.00"},  // also through the frames
        {"00000000000000000001:00:00:00", "01:00:00.03"},          // leading zeros only
    };
    std::string text = "Scenarist_SCC V1.0\n";
    std::string kept = "Transcripts of tc.scc\n\n", unbuffered = kept;
    for (const Case& c : cases) {
        text += c.timecode + "\t9420\n"s;
        kept += "["s + c.timecode + "]\t  \n\n";
        unbuffered += "["s + c.unbuffered + "]\t  \n\n";
    }
    // One field, with the two digits and colon only in the code field; letters alone,
    // with them after a second tab.
    text += "5\t9420 12:34\nab:cd:ef:gh\t9420\t00:\n";
    kept += "[5]\t12:3\n\n[ab:cd:ef:gh]\t  \n\n\n";
    unbuffered += "[05:00:00.07]\t12:3\n\n[00:00:00.03]\t  \n\n\n";

    set(Layout::Timecode, false);
    expectTranscript("odd timecodes, kept", "tc.scc", text, kept);
    set(Layout::Timecode, true);
    expectTranscript("odd timecodes, unbuffered", "tc.scc", text, unbuffered);
}

TEST_F(HostileFiles, HugeDigitRunsClampAlike) {
    // 20 digits and 400 digits are both far beyond a billion hours, whichever field
    // holds them, and must come out alike.
    const std::string digits20 = "12345678901234567890";
    const std::string digits400 = "1" + std::string(399, '0');
    const std::string text = "h\n" + digits20 + ":00:00:00\t9420\n" + digits400 + ":00:00:00\t9420\n" +
                             "00:00:00:" + digits400 + "\t9420\n" + "00:" + digits400 + ":00:00\t9420\n";
    set(Layout::Timecode, false);
    expectTranscript("400-digit fields, kept", "digits.scc", text,
                     "Transcripts of digits.scc\n\n[" + digits20 + ":00:00:00]\t  \n\n[" + digits400 +
                         ":00:00:00]\t  \n\n[00:00:00:" + digits400 + "]\t  \n\n[00:" + digits400 +
                         ":00:00]\t  \n\n\n");

    set(Layout::Timecode, true);
    const Outcome o = run("20- and 400-digit fields, unbuffered", file("digits.scc", text), true);
    ASSERT_TRUE(o.messages.empty());
    expectStillUsable("400-digit fields");
    const std::string clamped = "[1000000000:00:00.00]\t  \n\n";
    const std::string expected = "Transcripts of digits.scc\n\n" + repeated(clamped, 4) + "\n";
    EXPECT_TRUE(sameBytes(o.transcript, expected));
}

TEST_F(HostileFiles, OddCodeFields) {
    const std::string text = "h\n"
                             "00:00:01:00\tC8E9 2C80\n"     // upper case: "Hi,"
                             "00:00:02:00\tc8e9 c\n"        // odd length: the last "c" forms no unit
                             "00:00:03:00\tc8e9 c8e\n"      // "c8", "e9", "c8"; "e" dropped
                             "00:00:04:00\tc8 e9 20 c8\n"   // words of two digits: "Hi H"
                             "00:00:05:00\tc8e9c8e9\n"      // no spaces: "HiHi"
                             "00:00:06:00\t\n"              // empty: two spaces
                             "00:00:07:00\t7f80 7f80 7f80\n";  // three bars: one cleaned, two spaces
    set(Layout::Line, false);
    expectTranscript("odd code fields, line layout", "codes.scc", text,
                     "Transcripts of codes.scc\n\nHi,\nHi\nHiH\nHi H\nHiHi\n  \n  \n\n");
    set(Layout::Timecode, true);  // offsets of 9, 6, 8, 11, 8, 0 and 14 characters
    expectTranscript("odd code fields, unbuffered", "codes.scc", text,
                     "Transcripts of codes.scc\n\n[00:00:01.06]\tHi,\n\n[00:00:02.04]\tHi\n\n[00:00:03.05]\tHiH\n\n"
                     "[00:00:04.07]\tHi H\n\n[00:00:05.05]\tHiHi\n\n[00:00:06.00]\t  \n\n[00:00:07.09]\t  \n\n\n");
}

TEST_F(HostileFiles, FourMegabyteCodeFields) {
    // A field of megabytes must take a fraction of a second, whatever its shape.
    const Limits quick{.maxSeconds = 0.5, .sanitizedSlowdown = 20};
    set(Layout::Line, false);
    // No spaces at all: one run of hex digits of megabytes. (A sanitized build takes a
    // quarter of it.)
    const std::size_t gluedGroups = kSanitized ? 250'000 : 1'000'000;
    writeRepeated(dir_ / "nospace.scc", "h\n00:00:01:00\t", "c8e9", gluedGroups, "\n");
    expectTranscript(std::to_string(gluedGroups * 4 / 1'000'000) + " MB field without spaces", dir_ / "nospace.scc",
                     "Transcripts of nospace.scc\n\n" + repeated("Hi", gluedGroups) + "\n\n", quick);
    // Words of two digits.
    writeRepeated(dir_ / "words.scc", "h\n00:00:01:00\t", "c8 e9 ", 700'000, "\n");
    expectTranscript("4 MB field of two-digit words", dir_ / "words.scc",
                     "Transcripts of words.scc\n\n" + repeated("Hi", 700'000) + "\n\n", quick);
    // Upper case.
    writeRepeated(dir_ / "upper.scc", "h\n00:00:01:00\t", "C8E9 ", 800'000, "\n");
    expectTranscript("4 MB field in upper case", dir_ / "upper.scc",
                     "Transcripts of upper.scc\n\n" + repeated("Hi", 800'000) + "\n\n", quick);
    // Control codes only: everything is deleted, and the empty field gives two spaces.
    writeRepeated(dir_ / "codes.scc", "h\n00:00:01:00\t", "9420 ", 800'000, "\n");
    expectTranscript("4 MB field of control codes", dir_ / "codes.scc", "Transcripts of codes.scc\n\n  \n\n", quick);
    // Bars: the clean-up deletes the first, the rest become spaces.
    writeRepeated(dir_ / "bars.scc", "h\n00:00:01:00\t", "7f80 ", 800'000, "\n");
    expectTranscript("4 MB field of bars", dir_ / "bars.scc",
                     "Transcripts of bars.scc\n\n" + std::string(799'999, ' ') + "\n\n", quick);
}

// ---- Things that are not a readable file ---------------------------------------------

TEST_F(HostileFiles, FolderFifoAndDeviceAreRefusedAtOnce) {
    fs::create_directory(dir_ / "folder.scc");
    expectMessage("folder named .scc", dir_ / "folder.scc", couldNotOpen("folder.scc", "it is a folder"));

    const fs::path fifo = dir_ / "fifo.scc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    {
        FifoWatchdog watchdog(fifo, std::chrono::seconds(3));
        expectMessage("FIFO named .scc", fifo, couldNotOpen("fifo.scc", "it is not a regular file"));
        EXPECT_FALSE(watchdog.Fired()) << "the import waited on the FIFO for a writer";
    }

    // A link to a device needs no rights of its own; /dev/null would read as empty.
    fs::create_symlink("/dev/null", dir_ / "null.scc");
    expectMessage("link to /dev/null", dir_ / "null.scc", couldNotOpen("null.scc", "it is not a regular file"));
    fs::create_symlink(dir_ / "nowhere.scc", dir_ / "dangling.scc");
    expectMessage("dangling link", dir_ / "dangling.scc", couldNotOpen("dangling.scc", "No such file or directory"));

    if (::geteuid() != 0)
        GTEST_SKIP() << "a device node of our own needs root";
    const fs::path device = dir_ / "device.scc";
    if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
        GTEST_SKIP() << "mknod refused: " << std::strerror(errno);
    expectMessage("device node named .scc", device, couldNotOpen("device.scc", "it is not a regular file"));
}

TEST_F(HostileFiles, FileRemovedBetweenTheDialogAndTheOpen) {
    const fs::path input = file("gone.scc", "h\n00:00:01:00\tc8e9\n");
    const Outcome o = run("file removed after the dialog", input, false, {}, std::make_shared<RemovingChooser>());
    EXPECT_FALSE(fs::exists(input));
    EXPECT_EQ(o.messages, std::vector<std::string>{couldNotOpen("gone.scc", "No such file or directory")});
    EXPECT_FALSE(o.saveShown);
    EXPECT_EQ(window_->fileName, "");
    EXPECT_FALSE(controlOf<tk::StaticText>(window_, "ProgressText")->Visible());
    expectStillUsable("a removed file");
}

TEST_F(HostileFiles, ReadsThatFail) {
    const std::string failed = "The file \"broken.scc\" could not be read: Input/output error.";
    std::string text = "\xEF\xBB\xBFScenarist_SCC V1.0\n";
    while (text.size() < 300'000)
        text += "00:00:01:00\t9420 c8e9\n";
    const fs::path input = file("broken.scc", text);
    const std::int64_t size = static_cast<std::int64_t>(text.size());
    // At the first byte, inside the byte-order mark, at a block's end, in the middle, and
    // at the very end, where even the read that would find the end fails.
    for (const std::int64_t after : {std::int64_t{0}, std::int64_t{2}, std::int64_t{65536}, size / 2, size}) {
        tk::TextInputStream::FailReadsAfterForTesting(after);
        const std::string label = "read fails after " + std::to_string(after) + " bytes";
        const Outcome o = run(label, input, false);
        tk::TextInputStream::FailReadsAfterForTesting(-1);
        EXPECT_EQ(o.messages, std::vector<std::string>{failed}) << label;
        EXPECT_FALSE(o.saveShown) << label;
        EXPECT_EQ(window_->captionArray2.Count(), 0) << label;
        EXPECT_EQ(window_->timeCodeArray.Count(), 0) << label;
        expectStillUsable(label);
    }
    // One byte more than the file holds: every read succeeds.
    tk::TextInputStream::FailReadsAfterForTesting(size + 1);
    set(Layout::Line, false);
    const Outcome o = run("read would fail past the end", input, true);
    tk::TextInputStream::FailReadsAfterForTesting(-1);
    EXPECT_TRUE(o.messages.empty());
    EXPECT_TRUE(sameBytes(o.transcript, "Transcripts of broken.scc\n\n" +
                                            repeated("Hi\n", nonEmptyLines(text).size() - 1) + "\n"));
}

}  // namespace
