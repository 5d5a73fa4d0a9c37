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
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <stop_token>
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

// A sanitized build runs several times slower and keeps its own shadow memory, so the
// big file is smaller there and the memory figures mean nothing.
#ifdef QUILLET_HOSTILE_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const std::string kFffd = "\xEF\xBF\xBD";  // U+FFFD, what the stream makes of a bad sequence

std::string repeated(const std::string& unit, std::size_t count) {
    std::string text;
    text.reserve(unit.size() * count);
    while (count-- > 0)
        text += unit;
    return text;
}

// Names the first difference instead of printing megabytes.
::testing::AssertionResult sameBytes(std::string_view actual, std::string_view expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    const std::size_t at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
                           actual.begin();
    const std::size_t from = at < 40 ? 0 : at - 40;
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at byte " << at << "\n  actual:   "
                                         << ::testing::PrintToString(std::string(actual.substr(from, 80))) << "\n  expected: "
                                         << ::testing::PrintToString(std::string(expected.substr(from, 80)));
}

bool validUtf8(const std::string& text) {
    const QByteArray bytes = QByteArray::fromStdString(text);
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

bool hasTwoDigitsAndColon(const std::string& line) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 2; i < line.size(); ++i)
        if (line[i] == ':' && digit(line[i - 1]) && digit(line[i - 2]))
            return true;
    return false;
}

// ---- Time and memory of one import --------------------------------------------------

long long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    const std::string prefix = key + ":"s;
    for (std::string line; std::getline(status, line);)
        if (line.rfind(prefix, 0) == 0)
            return std::atoll(line.c_str() + prefix.size());
    return -1;
}

// Sets the peak resident size back to the present one, after handing back what the
// allocator keeps from earlier cases (what an import reuses of it counts as growth);
// false where that is not offered.
bool resetPeak() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5" << std::flush;
    return clear.good() && statusKb("VmHWM") >= 0;
}

// Bounds of one import beyond a second per megabyte and three times the size.
struct Limits {
    double maxSeconds = 0;           // 0: a second per megabyte, at least one second
    double sanitizedSlowdown = 1.0;  // the time bound's factor in a sanitized build
    // Room beyond three times the size: each caption line costs a timecode and a caption
    // entry of 32 bytes each and its place in the line store, whatever its length.
    double extraPeak = 0;
};

// A layout and timecode mode, and its name in labels.
struct Mode {
    Layout layout;
    bool unbuffered;
    const char* name;
};
const Mode kLines{Layout::Line, false, "line layout"}, kUnbuffered{Layout::Timecode, true, "unbuffered"},
    kKept{Layout::Timecode, false, "kept timecode"}, kParagraph{Layout::Paragraph, false, "paragraph layout"};

struct Outcome {
    std::string transcript;  // "" when nothing was written
    bool written = false, saveShown = false;
    std::vector<std::string> messages;
};

// Removes the chosen file once the open dialog has returned it, as another program might
// between the user's choice and the open.
class RemovingChooser : public tk::ScriptedChooser {
public:
    std::optional<fs::path> ChooseFile(const tk::DialogRequest& request) override {
        std::optional<fs::path> chosen = tk::ScriptedChooser::ChooseFile(request);
        if (chosen && request.kind == tk::DialogKind::Open)
            fs::remove(*chosen);
        return chosen;
    }
};

std::string couldNotOpen(const std::string& name, const std::string& reason) {
    return "The file \"" + name + "\" could not be opened: " + reason + ".";
}

class HostileFiles : public ConversionFixture {
protected:
    void SetUp() override {
        ConversionFixture::SetUp();
        chooser_->SetAutoDismissMessages(false);  // outside a run no dialog may appear
    }

    void set(const Mode& mode) {
        setLayout(mode.layout);
        setUnbuffered(mode.unbuffered);
    }

    // One import of `input` with a script of its own, the save dialog answered only when
    // `answerSave`: timed, its peak memory and the memory it keeps measured where that can
    // be done, and all three held to their bounds.
    Outcome run(const std::string& label, const fs::path& input, bool answerSave, const Limits& limits = {},
                std::shared_ptr<tk::ScriptedChooser> chooser = std::make_shared<tk::ScriptedChooser>()) {
        chooser->SetAutoDismissMessages(true);
        tk::ScopedDialogChooser scope(chooser);
        const fs::path out = dir_ / "out.txt";
        fs::remove(out);
        chooser->AnswerPath(input);
        if (answerSave)
            chooser->AnswerPath(out);

        std::error_code ec;
        const double bytes = fs::is_regular_file(input, ec) ? static_cast<double>(fs::file_size(input, ec)) : 0;
        const bool measure = !kSanitized && resetPeak();
        const long long before = measure ? statusKb("VmHWM") : 0;
        const auto start = std::chrono::steady_clock::now();
        window_->importSCC();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long long peakKb = measure ? statusKb("VmHWM") - before : -1;

        Outcome o;
        for (const tk::DialogRequest& r : chooser->Shown()) {
            if (r.kind == tk::DialogKind::Message)
                o.messages.push_back(r.message);
            o.saveShown = o.saveShown || r.kind == tk::DialogKind::Save;
        }
        o.written = fs::exists(out);
        if (o.written)
            o.transcript = readBytes(out);
        EXPECT_EQ(chooser->PendingAnswers(), 0u) << label;
        EXPECT_EQ(chooser->UnexpectedCount(), 0u) << label;
        long long keptKb = -1;
        if (measure) {
            resetPeak();  // hands back what the allocator could
            keptKb = statusKb("VmRSS") - before - static_cast<long long>(o.transcript.size() / 1024);
        }

        // Three times the size plus what any import allocates at all; once the request
        // has ended the window keeps nothing of it but small caches.
        EXPECT_LE(seconds, (limits.maxSeconds > 0 ? limits.maxSeconds : std::max(1.0, bytes / 1e6)) *
                               (kSanitized ? limits.sanitizedSlowdown : 1.0))
            << label << ": time";
        if (measure) {
            EXPECT_LE(peakKb * 1024.0, 3 * bytes + 8e6 + limits.extraPeak) << label << ": peak memory";
            EXPECT_LE(keptKb * 1024.0, 0.1 * bytes + 4e6) << label << ": memory kept";
        }
        std::printf("[ hostile  ] %-44s %11.0f bytes %8.3f s  peak %+7lld kB  kept %+6lld kB\n", label.c_str(),
                    bytes, seconds, peakKb, keptKb);
        return o;
    }

    // In this mode the import must end in exactly this transcript (after its title and
    // the empty line), without any message.
    void expectTranscript(const Mode& mode, const std::string& label, const fs::path& input, const std::string& body,
                          const Limits& limits = {}) {
        set(mode);
        const std::string what = label + ", " + mode.name;
        const Outcome o = run(what, input, true, limits);
        EXPECT_TRUE(o.messages.empty()) << what << ": " << (o.messages.empty() ? "" : o.messages.front());
        ASSERT_TRUE(o.written) << what;
        const std::string title = "Transcripts of " + input.filename().string() + "\n\n";
        const std::string_view t = o.transcript;
        EXPECT_TRUE(sameBytes(t.substr(0, title.size()), title)) << what;
        EXPECT_TRUE(sameBytes(t.substr(std::min(t.size(), title.size())), body)) << what;
        EXPECT_EQ(status()->Text(), kDone) << what;
        EXPECT_EQ(window_->captionArray2.Count(), 0) << what;
        expectStillUsable(what);
    }

    // The import must end with exactly this one message and write nothing.
    void expectMessage(const std::string& label, const fs::path& input, const std::string& message) {
        const Outcome o = run(label, input, false);
        EXPECT_EQ(o.messages, std::vector<std::string>{message}) << label;
        EXPECT_FALSE(o.saveShown || o.written) << label;
        EXPECT_EQ(window_->captionArray2.Count(), window_->timeCodeArray.Count()) << label;
        expectStillUsable(label);
    }

    // A normal small conversion right after: the window is still fit for work.
    void expectStillUsable(const std::string& after) {
        set(kKept);
        const Outcome o = run("  then a normal file", file("fine.scc", "Scenarist_SCC V1.0\n\n00:00:01:00\tc8e9\n"), true);
        EXPECT_EQ(o.transcript, "Transcripts of fine.scc\n\n[00:00:01:00]\tHi\n\n\n") << "after " << after;
        EXPECT_TRUE(o.messages.empty()) << "after " << after;
        EXPECT_EQ(status()->Text(), kDone) << "after " << after;
    }
};

// ---- Random bytes --------------------------------------------------------------------

TEST_F(HostileFiles, RandomBytesEndInATranscriptOrTheMessage) {
    std::mt19937 random(20240611);
    const auto byte = [&] { return static_cast<char>(random() & 0xFF); };
    int transcripts = 0, refusals = 0;
    // Each file in both timecode modes, against a model: the no-timecode message when a
    // caption line lacks two digits and a colon; otherwise one entry per caption line, its
    // timecode the text before the first tab (or an unbuffered time), its caption without
    // line ends or bars, all of it valid UTF-8.
    const std::regex unbufferedTimecode("\\d{2,}:[0-5]\\d:[0-5]\\d\\.\\d\\d");
    const auto check = [&](const std::string& label, const std::string& bytes, const std::string& name) {
        const fs::path input = file(name, bytes);
        const std::vector<std::string> lines = nonEmptyLines(bytes);
        const bool allHaveTimecodes =
            std::all_of(lines.begin() + std::min<std::ptrdiff_t>(1, std::ssize(lines)), lines.end(), hasTwoDigitsAndColon);
        for (bool unbuffered : {false, true}) {
            set(unbuffered ? kUnbuffered : kKept);
            const std::string mode = label + (unbuffered ? ", unbuffered" : ", kept");
            const Outcome o = run(mode, input, allHaveTimecodes);
            if (!allHaveTimecodes) {
                ++refusals;
                EXPECT_EQ(o.messages, std::vector<std::string>{kNoTimecode}) << mode;
                EXPECT_FALSE(o.saveShown) << mode;
                continue;
            }
            ++transcripts;
            EXPECT_TRUE(o.messages.empty()) << mode;
            const std::string& t = o.transcript;
            EXPECT_TRUE(validUtf8(t)) << mode;
            const std::string title = "Transcripts of " + name + "\n\n";
            ASSERT_EQ(t.compare(0, title.size(), title), 0) << mode;
            std::size_t at = title.size();
            for (std::size_t i = 1; i < lines.size(); ++i) {
                const std::size_t close = t.find("]\t", at), end = t.find('\n', close);
                ASSERT_TRUE(t.compare(at, 1, "[") == 0 && end != std::string::npos && t.compare(end, 2, "\n\n") == 0)
                    << mode << " line " << i;
                const std::string timecode = t.substr(at + 1, close - at - 1);
                if (unbuffered)
                    EXPECT_TRUE(std::regex_match(timecode, unbufferedTimecode)) << mode << ": " << timecode;
                else
                    EXPECT_EQ(timecode, lines[i].substr(0, lines[i].find('\t'))) << mode;
                EXPECT_EQ(t.substr(close + 2, end - close - 2).find_first_of("|\r"), std::string::npos) << mode;
                at = end + 2;
            }
            EXPECT_EQ(t.substr(at), "\n") << mode;
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
        for (int line = static_cast<int>(random() % 120); line > 0; --line) {
            bytes += "\n\r\n\r"s.substr(random() % 3, 1 + random() % 2);
            if (random() % 200 != 0)  // now and then a line that may lack a timecode
                bytes += std::to_string(random() % 10) + std::to_string(random() % 10) + ":";
            for (int k = static_cast<int>(random() % 12); k > 0; --k)
                bytes += timecodeChars[random() % timecodeChars.size()];
            bytes += '\t';
            for (int k = static_cast<int>(random() % 64); k > 0; --k) {
                const char c = random() % 4 == 0 ? byte() : "0123456789abcdefABCDEF 7f80|"[random() % 28];
                bytes += c == '\n' || c == '\r' ? '\t' : c;
            }
        }
        check("random lines #" + std::to_string(n), bytes, "lines.scc");
    }
    EXPECT_GT(transcripts, 10);
    EXPECT_GT(refusals, 10);
    expectStillUsable("random files");
}

// ---- One enormous line ---------------------------------------------------------------

TEST_F(HostileFiles, HundredMegabyteCaptionLine) {
    // "c8e9" is "Hi". n groups with spaces between them make a code field of 5n - 1
    // characters, so an offset of (5n - 1) / 150 s: 666666.66 s (66666.66 s sanitized).
    const std::size_t groups = kSanitized ? 2'000'000 : 20'000'000;
    const fs::path input = file("big.scc", "Scenarist_SCC V1.0\n00:00:00:00\tc8e9" + repeated(" c8e9", groups - 1) + "\n");
    ASSERT_EQ(fs::file_size(input), 19 + 12 + 5 * groups - 1 + 1);
    const std::string label = std::to_string(fs::file_size(input) / 1'000'000) + " MB line";
    expectTranscript(kUnbuffered, label, input,
                     (kSanitized ? "[18:31:06.66]\t" : "[185:11:06.66]\t") + repeated("Hi", groups) + "\n\n\n");
    expectTranscript(kParagraph, label, input, " " + repeated("Hi", groups) + "\n");
}

// ---- Bytes a text file should not hold ------------------------------------------------

TEST_F(HostileFiles, NulBytesAreKeptAsCharacters) {
    // A NUL is one more character: it forms units like any other, counts for the offset,
    // and stops Val as any non-digit does.
    const fs::path input = file("nul.scc", "Scenarist\0SCC V1.0\n00:00:01:00\tc8e9 \0\0 c8e9\n00:00:\0" "02:00\t\0c8e9\n"s);
    expectTranscript(kLines, "NUL bytes", input, "Hi\0\0Hi\n\0c8e\n\n"s);
    expectTranscript(kUnbuffered, "NUL bytes", input, "[00:00:01.08]\tHi\0\0Hi\n\n[00:00:00.03]\t\0c8e\n\n\n"s);
    expectTranscript(kKept, "NUL bytes", input, "[00:00:01:00]\tHi\0\0Hi\n\n[00:00:\0" "02:00]\t\0c8e\n\n\n"s);
    // Nothing but NULs: one header line, no caption.
    expectTranscript(kKept, "NUL bytes only", file("nuls.scc", std::string(5000, '\0')), "\n");
}

TEST_F(HostileFiles, InvalidUtf8BecomesReplacementCharacters) {
    // f0 9f 98 is one truncated sequence, c0 and af are two bad bytes, ed a0 80 a
    // surrogate of three: six U+FFFD in all, so the code field has 11 characters (0.0733 s)
    // and cuts into "c8", "e9" and three pairs of U+FFFD.
    const fs::path input = file("utf8.scc", "Scenarist_SCC V1.0\n00:00:01:00\tc8e9 \xF0\x9F\x98\xC0\xAF\xED\xA0\x80\n"
                                            "00:00:02:00\xFF\t9420\n");
    const std::string six = repeated(kFffd, 6);
    expectTranscript(kLines, "invalid UTF-8", input, "Hi" + six + "\n  \n\n");
    expectTranscript(kUnbuffered, "invalid UTF-8", input, "[00:00:01.07]\tHi" + six + "\n\n[00:00:02.03]\t  \n\n\n");
    expectTranscript(kKept, "invalid UTF-8", input, "[00:00:01:00]\tHi" + six + "\n\n[00:00:02:00" + kFffd + "]\t  \n\n\n");
}

TEST_F(HostileFiles, LoneCarriageReturns) {
    expectTranscript(kLines, "CR, CRLF and LF mixed",
                     file("cr.scc", "h\r\r00:00:01:00\tc8e9\r\n\r00:00:02:00\t9420 c8e9\n\r"), "Hi\nHi\n\n");
    // Two hundred thousand caption lines ended by CR alone: no LF anywhere to find. These
    // shortest of lines (17 bytes) cost more than their size in the lists and the line
    // store: 100 bytes a line are allowed beyond three times the size, and nothing of it
    // may stay once the request has ended.
    expectTranscript(kLines, "200000 lines ended by CR",
                     file("crs.scc", "Scenarist_SCC V1.0\r" + repeated("00:00:01:00\tc8e9\r", 200'000)), repeated("Hi\n", 200'000) + "\n",
                     {.extraPeak = 100.0 * 200'000});
}

TEST_F(HostileFiles, ByteOrderMarks) {
    // Skipped at the start, so the empty line after it is dropped and the next line is
    // the header. Anywhere else U+FEFF is a character: here the odd last one of a code
    // field (6 characters: 0.04 s), and then the start of a timecode that Val reads as 0.
    expectTranscript(kUnbuffered, "BOM, then an empty line",
                     file("bom.scc", "\xEF\xBB\xBF\r\n00:00:01:00\t9420\n00:00:02:00\tc8e9 \xEF\xBB\xBF\n"),
                     "[00:00:02.04]\tHi\n\n\n");
    const fs::path input = file("bom2.scc", "h\n\xEF\xBB\xBF" "00:00:01:00\tc8e9\n");
    expectTranscript(kUnbuffered, "BOM before a timecode", input, "[00:00:01.03]\tHi\n\n\n");
    expectTranscript(kKept, "BOM before a timecode", input, "[\xEF\xBB\xBF" "00:00:01:00]\tHi\n\n\n");
    for (const std::string& bytes : {"\xEF\xBB\xBF"s, "\xEF\xBB"s, "\xEF\xBB\xBF\xEF\xBB\xBF"s, "\xEF\xBB\xBF\n\n"s})
        expectTranscript(kKept, "BOM only (" + std::to_string(bytes.size()) + " bytes)", file("bomonly.scc", bytes), "\n");
}

TEST_F(HostileFiles, MillionsOfEmptyLines) {
    // A million empty lines of each kind of line end around two caption lines; and
    // nothing but empty lines: no header, no caption.
    const fs::path input = file("empty.scc", "Scenarist_SCC V1.0\n" + std::string(1'000'000, '\r') +
                                                 "00:00:01:00\tc8e9\n" + std::string(1'000'000, '\n') +
                                                 "00:00:02:00\t9420 c8e9\n" + repeated("\r\n", 1'000'000));
    expectTranscript(kUnbuffered, "a million empty lines of each kind", input,
                     "[00:00:01.03]\tHi\n\n[00:00:02.06]\tHi\n\n\n");
    expectTranscript(kUnbuffered, "a million empty lines alone", file("blank.scc", std::string(1'000'000, '\n')), "\n");
}

// ---- Lines and fields out of shape ------------------------------------------------------

TEST_F(HostileFiles, CaptionLinesWithoutATab) {
    // Without a tab the whole line is the timecode and the code field is empty (offset 0,
    // caption of two spaces); Val stops at the space after "00".
    const fs::path input = file("notab.scc", "h\n00:00:01:00 c8e9 c8e9\n12:\n");
    expectTranscript(kKept, "no tab", input, "[00:00:01:00 c8e9 c8e9]\t  \n\n[12:]\t  \n\n\n");
    expectTranscript(kUnbuffered, "no tab", input, "[00:00:01.00]\t  \n\n[12:00:00.00]\t  \n\n\n");
    // A tab first: an empty timecode, and a code field of 11 characters that is cut as
    // text ("00", ":0", "0:", "01", ":0"; the last "0" is dropped).
    expectTranscript(kUnbuffered, "tab first", file("tabfirst.scc", "h\n\t00:00:01:00\n"),
                     "[00:00:00.07]\t00:00:01:0\n\n\n");
    // A megabyte without a tab.
    const fs::path longLine = file("longnotab.scc", "h\n00:00:01:00" + repeated(" c8e9", 200'000) + "\n");
    expectTranscript(kUnbuffered, "1 MB line without a tab", longLine, "[00:00:01.00]\t  \n\n\n");
    expectTranscript(kKept, "1 MB line without a tab", longLine,
                     "[00:00:01:00" + repeated(" c8e9", 200'000) + "]\t  \n\n\n");
    // A line of spaces only, and a line without two digits and a colon: the message.
    expectMessage("line of spaces", file("spaces.scc", "h\n00:00:01:00\tc8e9\n      \n"), kNoTimecode);
    expectMessage("line without a timecode", file("none.scc", "h\n0:0:1:0\tc8e9\n"), kNoTimecode);
}

TEST_F(HostileFiles, OddTimecodes) {
    // The code field "9420" decodes to two spaces and adds 4 / 150 s (0.0267 s).
    const std::pair<std::string, const char*> cases[] = {
        {"01:02", "01:02:00.03"},               // two fields: the missing ones count as 0
        {"01:02:03", "01:02:03.03"},            // three fields
        {"01:02:03:15:07", "01:02:03.53"},      // a fifth field is ignored
        {"99:99:99:99", "100:40:42.33"},        // 362442.3 s: 6040 minutes
        {"01:0x:1z:15", "01:00:01.53"},         // Val reads 0, 1 and 15 from the fields
        {"00:-5:00:00", "00:00:00.00"},         // -300 s: no time before the start
        {"00:00:00:-1", "00:00:00.00"},         // a hair before the start
        {"00:00:01.5:00", "00:00:01.53"},       // a fraction in the seconds
        {"00000000000000000001:00:00:00", "01:00:00.03"},  // leading zeros only
        // Clamped at a billion hours: 20 digits and 400, whichever field holds them.
        {"12345678901234567890:00:00:00", "1000000000:00:00.00"},
        {"00:00:00:12345678901234567890", "1000000000:00:00.00"},
        {"1" + std::string(399, '0') + ":00:00:00", "1000000000:00:00.00"},
        {"00:00:00:1" + std::string(399, '0'), "1000000000:00:00.00"},
        {"00:1" + std::string(399, '0') + ":00:00", "1000000000:00:00.00"},
    };
    std::string text = "Scenarist_SCC V1.0\n", kept, unbuffered;
    for (const auto& [timecode, time] : cases) {
        text += timecode + "\t9420\n";
        kept += "[" + timecode + "]\t  \n\n";
        unbuffered += "["s + time + "]\t  \n\n";
    }
    // One field, with the two digits and colon only in the code field; letters alone,
    // with them after a second tab.
    const fs::path input = file("tc.scc", text + "5\t9420 12:34\nab:cd:ef:gh\t9420\t00:\n");
    expectTranscript(kKept, "odd timecodes", input, kept + "[5]\t12:3\n\n[ab:cd:ef:gh]\t  \n\n\n");
    expectTranscript(kUnbuffered, "odd timecodes", input, unbuffered + "[05:00:00.07]\t12:3\n\n[00:00:00.03]\t  \n\n\n");
}

TEST_F(HostileFiles, OddCodeFields) {
    const fs::path input = file("codes.scc", "h\n"
                                             "00:00:01:00\tC8E9 2C80\n"     // upper case: "Hi,"
                                             "00:00:02:00\tc8e9 c\n"        // odd length: the last "c" forms no unit
                                             "00:00:03:00\tc8e9 c8e\n"      // "c8", "e9", "c8"; "e" dropped
                                             "00:00:04:00\tc8 e9 20 c8\n"   // words of two digits: "Hi H"
                                             "00:00:05:00\tc8e9c8e9\n"      // no spaces: "HiHi"
                                             "00:00:06:00\t\n"              // empty: two spaces
                                             "00:00:07:00\t7f80 7f80 7f80\n");  // three bars: one cleaned, two spaces
    expectTranscript(kLines, "odd code fields", input, "Hi,\nHi\nHiH\nHi H\nHiHi\n  \n  \n\n");
    // Offsets of 9, 6, 8, 11, 8, 0 and 14 characters.
    expectTranscript(kUnbuffered, "odd code fields", input,
                     "[00:00:01.06]\tHi,\n\n[00:00:02.04]\tHi\n\n[00:00:03.05]\tHiH\n\n[00:00:04.07]\tHi H\n\n"
                     "[00:00:05.05]\tHiHi\n\n[00:00:06.00]\t  \n\n[00:00:07.09]\t  \n\n\n");
}

TEST_F(HostileFiles, FourMegabyteCodeFields) {
    // A field of megabytes must take a fraction of a second, whatever its shape: one run
    // of hex digits without spaces (a quarter of it in a sanitized build), words of two
    // digits, upper case, control codes only (all deleted: two spaces), and bars (the
    // clean-up deletes the first, the rest become spaces).
    const std::size_t glued = kSanitized ? 250'000 : 1'000'000;
    const struct {
        const char* unit;
        std::size_t count;
        std::string caption;
    } cases[] = {
        {"c8e9", glued, repeated("Hi", glued)},
        {"c8 e9 ", 700'000, repeated("Hi", 700'000)},
        {"C8E9 ", 800'000, repeated("Hi", 800'000)},
        {"9420 ", 800'000, "  "},
        {"7f80 ", 800'000, std::string(799'999, ' ')},
    };
    for (const auto& c : cases) {
        expectTranscript(kLines, std::string("MB-long field of \"") + c.unit + "\"",
                         file("field.scc", "h\n00:00:01:00\t" + repeated(c.unit, c.count) + "\n"),
                         c.caption + "\n\n", {.maxSeconds = 0.5, .sanitizedSlowdown = 20});
    }
}

// ---- Things that are not a readable file ---------------------------------------------

TEST_F(HostileFiles, FolderFifoAndDeviceAreRefusedAtOnce) {
    fs::create_directory(dir_ / "folder.scc");
    expectMessage("folder named .scc", dir_ / "folder.scc", couldNotOpen("folder.scc", "it is a folder"));

    const fs::path fifo = dir_ / "fifo.scc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    std::atomic<bool> waited = false;
    {
        // Should the import wait for a writer, one comes after three seconds, so that the
        // test fails instead of hanging. (Non-blocking: the open succeeds only while a
        // reader has the FIFO open or waits in open.)
        std::jthread watchdog([&](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any cv;
            std::unique_lock<std::mutex> lock(mutex);
            cv.wait_for(lock, stop, std::chrono::seconds(3), [] { return false; });
            if (stop.stop_requested())
                return;
            waited = true;
            if (const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0)
                ::close(fd);
        });
        expectMessage("FIFO named .scc", fifo, couldNotOpen("fifo.scc", "it is not a regular file"));
    }
    EXPECT_FALSE(waited) << "the import waited on the FIFO for a writer";

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
    EXPECT_FALSE(status()->Visible());
    expectStillUsable("a removed file");
}

TEST_F(HostileFiles, ReadsThatFail) {
    std::string text = "\xEF\xBB\xBFScenarist_SCC V1.0\n";
    while (text.size() < 300'000)
        text += "00:00:01:00\t9420 c8e9\n";
    const fs::path input = file("broken.scc", text);
    const auto size = static_cast<std::int64_t>(text.size());
    // At the first byte, inside the byte-order mark, at a block's end, in the middle, and
    // at the very end, where even the read that would find the end fails; one byte more
    // than the file holds, and every read succeeds.
    for (const std::int64_t after : {std::int64_t{0}, std::int64_t{2}, std::int64_t{65536}, size / 2, size, size + 1}) {
        set(kLines);
        tk::TextInputStream::FailReadsAfterForTesting(after);
        const std::string label = "read fails after " + std::to_string(after) + " bytes";
        const Outcome o = run(label, input, after > size);
        tk::TextInputStream::FailReadsAfterForTesting(-1);
        if (after > size) {
            EXPECT_TRUE(o.messages.empty());
            EXPECT_TRUE(sameBytes(o.transcript, "Transcripts of broken.scc\n\n" +
                                                    repeated("Hi\n", nonEmptyLines(text).size() - 1) + "\n"));
            continue;
        }
        EXPECT_EQ(o.messages, std::vector<std::string>{"The file \"broken.scc\" could not be read: Input/output error."})
            << label;
        EXPECT_FALSE(o.saveShown) << label;
        EXPECT_EQ(window_->captionArray2.Count(), 0) << label;
        EXPECT_EQ(window_->timeCodeArray.Count(), 0) << label;
        expectStillUsable(label);
    }
}

}  // namespace
