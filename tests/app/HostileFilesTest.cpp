// Hostile files through the real "Select SCC File" road: the window's importSCC with its
// dialogs answered by a script, each file made here by the test. Every case must end in
// the transcript worked out by hand or in exactly one clear message, and the window must
// convert a normal file right afterwards. How bytes become lines (line ends, byte-order
// marks, invalid UTF-8) is the text stream's own test.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "TestAllocator.h"
#include "toolkit/Dialogs.h"
#include "toolkit/TextStreams.h"

namespace {

namespace fs = std::filesystem;
using namespace quillet::testing;
using namespace std::string_literals;

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
                                         << ::testing::PrintToString(std::string(actual.substr(from, 80)))
                                         << "\n  expected: "
                                         << ::testing::PrintToString(std::string(expected.substr(from, 80)));
}

struct Mode {
    Layout layout;
    bool unbuffered;
};
constexpr Mode kLines{Layout::Line, false}, kUnbuffered{Layout::Timecode, true}, kKept{Layout::Timecode, false};

struct Outcome {
    std::string transcript;  // "" when nothing was written
    bool written = false, saveShown = false;
    std::vector<std::string> messages;
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

    // One import of `input` with a script of its own, the save dialog answered only when
    // `answerSave`.
    Outcome run(const fs::path& input, bool answerSave,
                std::shared_ptr<tk::ScriptedChooser> chooser = std::make_shared<tk::ScriptedChooser>()) {
        chooser->SetAutoDismissMessages(true);
        tk::ScopedDialogChooser scope(chooser);
        const fs::path out = dir_ / "out.txt";
        fs::remove(out);
        chooser->AnswerPath(input);
        if (answerSave)
            chooser->AnswerPath(out);
        window_->importSCC();
        Outcome o;
        for (const tk::DialogRequest& r : chooser->Shown()) {
            if (r.kind == tk::DialogKind::Message)
                o.messages.push_back(r.message);
            o.saveShown = o.saveShown || r.kind == tk::DialogKind::Save;
        }
        o.written = fs::exists(out);
        if (o.written)
            o.transcript = readBytes(out);
        EXPECT_EQ(chooser->PendingAnswers(), 0u);
        EXPECT_EQ(chooser->UnexpectedCount(), 0u);
        return o;
    }

    void set(const Mode& mode) {
        setLayout(mode.layout);
        setUnbuffered(mode.unbuffered);
    }

    // In this mode the import must end in exactly this transcript (after its title and
    // the empty line), without any message.
    void expectTranscript(const Mode& mode, const fs::path& input, const std::string& body) {
        set(mode);
        const Outcome o = run(input, true);
        EXPECT_EQ(o.messages, std::vector<std::string>{});
        ASSERT_TRUE(o.written);
        EXPECT_TRUE(sameBytes(o.transcript, "Transcripts of " + input.filename().string() + "\n\n" + body));
        EXPECT_EQ(status()->Text(), kDone);
        EXPECT_EQ(window_->captionArray2.Count(), 0);
    }

    // The import must end with exactly this one message and write nothing.
    void expectMessage(const fs::path& input, const std::string& message) {
        const Outcome o = run(input, false);
        EXPECT_EQ(o.messages, std::vector<std::string>{message});
        EXPECT_FALSE(o.saveShown || o.written);
        EXPECT_EQ(window_->captionArray2.Count(), window_->timeCodeArray.Count());
    }

    // A normal small conversion right after: the window is still fit for work.
    void expectStillUsable() {
        expectTranscript(kKept, file("fine.scc", "Scenarist_SCC V1.0\n\n00:00:01:00\tc8e9\n"),
                         "[00:00:01:00]\tHi\n\n\n");
    }
};

TEST_F(HostileFiles, EachFileEndsInItsTranscriptOrOneMessage) {
    // Odd timecodes, each with the code field "9420": two spaces, 4 / 150 s later.
    const std::pair<std::string, const char*> timecodes[] = {
        {"01:02", "01:02:00.03"},               // two fields: the missing ones count as 0
        {"01:02:03:15:07", "01:02:03.53"},      // a fifth field is ignored
        {"99:99:99:99", "100:40:42.33"},        // 362442.3 s: 6040 minutes
        {"01:0x:1z:15", "01:00:01.53"},         // Val reads 0, 1 and 15 from the fields
        {"00:-5:00:00", "00:00:00.00"},         // -300 s: no time before the start
        {"00000000000000000001:00:00:00", "01:00:00.03"},  // leading zeros only
        // Clamped at a billion hours, whichever field holds the digits.
        {"00:00:00:12345678901234567890", "1000000000:00:00.00"},
        {"00:1" + std::string(399, '0') + ":00:00", "1000000000:00:00.00"},
    };
    std::string timecodeFile = "Scenarist_SCC V1.0\n", kept, unbuffered;
    for (const auto& [timecode, time] : timecodes) {
        timecodeFile += timecode + "\t9420\n";
        kept += "[" + timecode + "]\t  \n\n";
        unbuffered += "["s + time + "]\t  \n\n";
    }
    // One field with the digits and colon only in the code field; letters alone, with
    // them after a second tab, which ends the code field.
    timecodeFile += "5\t9420 12:34\nab:cd:ef:gh\t9420\t00:\n";
    kept += "[5]\t12:3\n\n[ab:cd:ef:gh]\t  \n\n";
    unbuffered += "[05:00:00.07]\t12:3\n\n[00:00:00.03]\t  \n\n";

    const std::string codeFields = "h\n"
                                   "00:00:01:00\tC8E9 2C80\n"     // upper case: "Hi,"
                                   "00:00:02:00\tc8e9 c\n"        // odd length: the last "c" forms no unit
                                   "00:00:03:00\tc8e9 c8e\n"      // "c8", "e9", "c8"; "e" dropped
                                   "00:00:04:00\tc8 e9 20 c8\n"   // words of two digits: "Hi H"
                                   "00:00:05:00\tc8e9c8e9\n"      // no spaces: "HiHi"
                                   "00:00:06:00\t\n"              // empty: two spaces
                                   "00:00:07:00\t7f80 7f80 7f80\n";  // three bars: one cleaned, two spaces
    const std::string nuls = "Scenarist\0SCC V1.0\n00:00:01:00\tc8e9 \0\0 c8e9\n00:00:\0" "02:00\t\0c8e9\n"s;
    const std::string noTab = "h\n00:00:01:00 c8e9 c8e9\n12:\n";
    const std::string megabyteNoTab = "h\n00:00:01:00" + repeated(" c8e9", 200'000) + "\n";
    // 200000 groups with spaces between: 999999 characters, 6666.66 s after the start.
    const std::string megabyteField = "h\n00:00:00:00\tc8e9" + repeated(" c8e9", 199'999) + "\n";

    const struct {
        const char* label;
        std::string bytes;
        Mode mode;
        std::string expected;  // the transcript's body, or the message when `refused`
        bool refused = false;
    } cases[] = {
        {"odd timecodes, kept", timecodeFile, kKept, kept + "\n"},
        {"odd timecodes, unbuffered", timecodeFile, kUnbuffered, unbuffered + "\n"},
        {"odd code fields, lines", codeFields, kLines, "Hi,\nHi\nHiH\nHi H\nHiHi\n  \n  \n\n"},
        // Offsets of 9, 6, 8, 11, 8, 0 and 14 characters.
        {"odd code fields, unbuffered", codeFields, kUnbuffered,
         "[00:00:01.06]\tHi,\n\n[00:00:02.04]\tHi\n\n[00:00:03.05]\tHiH\n\n[00:00:04.07]\tHi H\n\n"
         "[00:00:05.05]\tHiHi\n\n[00:00:06.00]\t  \n\n[00:00:07.09]\t  \n\n\n"},
        // A NUL is one more character: it forms units like any other, counts for the
        // offset, and stops Val as any non-digit does.
        {"NUL bytes, lines", nuls, kLines, "Hi\0\0Hi\n\0c8e\n\n"s},
        {"NUL bytes, unbuffered", nuls, kUnbuffered, "[00:00:01.08]\tHi\0\0Hi\n\n[00:00:00.03]\t\0c8e\n\n\n"s},
        {"NUL bytes, kept", nuls, kKept, "[00:00:01:00]\tHi\0\0Hi\n\n[00:00:\0" "02:00]\t\0c8e\n\n\n"s},
        {"NUL bytes only", std::string(5000, '\0'), kKept, "\n"},
        // Without a tab the whole line is the timecode and the code field is empty;
        // Val stops at the space after "00".
        {"no tab, kept", noTab, kKept, "[00:00:01:00 c8e9 c8e9]\t  \n\n[12:]\t  \n\n\n"},
        {"no tab, unbuffered", noTab, kUnbuffered, "[00:00:01.00]\t  \n\n[12:00:00.00]\t  \n\n\n"},
        {"1 MB without a tab, unbuffered", megabyteNoTab, kUnbuffered, "[00:00:01.00]\t  \n\n\n"},
        {"1 MB without a tab, kept", megabyteNoTab, kKept, "[00:00:01:00" + repeated(" c8e9", 200'000) + "]\t  \n\n\n"},
        // A tab first: an empty timecode, and a code field of 11 characters cut as text.
        {"tab first", "h\n\t00:00:01:00\n", kUnbuffered, "[00:00:00.07]\t00:00:01:0\n\n\n"},
        {"1 MB code field", megabyteField, kUnbuffered, "[01:51:06.66]\t" + repeated("Hi", 200'000) + "\n\n\n"},
        // No caption at all: the title and two empty lines.
        {"empty file", "", kKept, "\n"},
        {"header among empty lines", "\n\n\nScenarist_SCC V1.0\n\n\r\n", kLines, "\n"},
        // An empty line before the header: the first caption line becomes the header.
        {"empty first line", "\n00:00:01:00\t9420 c8e9\n00:00:02:00\t9420 c8e9\n", kLines, "Hi\n\n"},
        // The line before it leaves its entries ("AB" at 00:00:07:00) for the next request
        // to empty.
        {"line without two digits and a colon", "h\n00:00:07:00\tc1c2\n0:0:1:0\tc8e9\n", kLines, kNoTimecode, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path input = file("case.scc", c.bytes);
        if (c.refused) {
            expectMessage(input, c.expected);
        } else {
            expectTranscript(c.mode, input, c.expected);
        }
        expectStillUsable();
    }
}

TEST_F(HostileFiles, WhatIsNotAReadableFileIsRefusedAtOnce) {
    // Removed between the user's choice and the open, as another program might.
    class RemovingChooser : public tk::ScriptedChooser {
    public:
        std::optional<fs::path> ChooseFile(const tk::DialogRequest& request) override {
            std::optional<fs::path> chosen = tk::ScriptedChooser::ChooseFile(request);
            if (chosen && request.kind == tk::DialogKind::Open)
                fs::remove(*chosen);
            return chosen;
        }
    };
    const Outcome o = run(file("gone.scc", "h\n00:00:01:00\tc8e9\n"), false, std::make_shared<RemovingChooser>());
    EXPECT_EQ(o.messages, std::vector<std::string>{couldNotOpen("gone.scc", "No such file or directory")});
    EXPECT_FALSE(o.saveShown);
    EXPECT_FALSE(status()->Visible());  // no request was begun

    fs::create_directory(dir_ / "folder.scc");
    fs::create_symlink("/dev/null", dir_ / "null.scc");  // would read as empty
    fs::create_symlink(dir_ / "nowhere.scc", dir_ / "dangling.scc");
    const std::pair<const char*, std::string> cases[] = {
        {"folder.scc", couldNotOpen("folder.scc", "it is a folder")},
        {"null.scc", couldNotOpen("null.scc", "it is not a regular file")},
        {"dangling.scc", couldNotOpen("dangling.scc", "No such file or directory")},
        {"device.scc", couldNotOpen("device.scc", "it is not a regular file")},  // where mknod is allowed
    };
    ::mknod((dir_ / "device.scc").c_str(), S_IFCHR | 0666, ::makedev(1, 3));
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        if (!fs::exists(fs::symlink_status(dir_ / name)))
            continue;
        expectMessage(dir_ / name, message);
        expectStillUsable();
    }
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
        SCOPED_TRACE("read fails after " + std::to_string(after) + " bytes");
        set(kLines);
        tk::TextInputStream::FailReadsAfterForTesting(after);
        const Outcome o = run(input, after > size);
        tk::TextInputStream::FailReadsAfterForTesting(-1);
        if (after > size) {
            EXPECT_TRUE(sameBytes(o.transcript, "Transcripts of broken.scc\n\n" +
                                                    repeated("Hi\n", nonEmptyLines(text).size() - 1) + "\n"));
            continue;
        }
        EXPECT_EQ(o.messages, std::vector<std::string>{"The file \"broken.scc\" could not be read: Input/output error."});
        EXPECT_FALSE(o.saveShown);
        EXPECT_EQ(window_->captionArray2.Count(), 0);
        EXPECT_EQ(window_->timeCodeArray.Count(), 0);
        expectStillUsable();
    }
}

// A blow-up guard that holds on any machine: each shape of file is converted at n and at
// 4n units, the least processor time of several runs each. Linear work takes at most four
// times as long at 4n (less, with the fixed costs of a request); quadratic work sixteen.
// The memory held at the peak of the 4n run is counted too: at most three times the file
// (its lines, the captions and the body) and a list entry or two a caption line, however
// the file is shaped.
TEST_F(HostileFiles, WorkGrowsLinearlyWithTheFile) {
    const struct {
        const char* label;
        std::function<std::string(std::size_t)> file, body;
    } shapes[] = {
        {"one field of glued hex", [](std::size_t n) { return "h\n00:00:01:00\t" + repeated("c8e9", n) + "\n"; },
         [](std::size_t n) { return repeated("Hi", n) + "\n"; }},
        {"one field of two-digit words", [](std::size_t n) { return "h\n00:00:01:00\t" + repeated("c8 e9 ", n) + "\n"; },
         [](std::size_t n) { return repeated("Hi", n) + "\n"; }},
        {"one field of upper-case groups", [](std::size_t n) { return "h\n00:00:01:00\t" + repeated("C8E9 ", n) + "\n"; },
         [](std::size_t n) { return repeated("Hi", n) + "\n"; }},
        {"one field of control codes", [](std::size_t n) { return "h\n00:00:01:00\t" + repeated("9420 ", n) + "\n"; },
         [](std::size_t) { return "  \n"s; }},
        // The clean-up deletes the first bar; the rest become spaces.
        {"one field of bars", [](std::size_t n) { return "h\n00:00:01:00\t" + repeated("7f80 ", n) + "\n"; },
         [](std::size_t n) { return std::string(n - 1, ' ') + "\n"; }},
        {"caption lines ended by CR alone", [](std::size_t n) { return "h\r" + repeated("00:00:01:00\tc8e9\r", n / 4); },
         [](std::size_t n) { return repeated("Hi\n", n / 4); }},
        {"empty lines", [](std::size_t n) { return "h\n" + std::string(4 * n, '\n') + "00:00:01:00\tc8e9\r\n" + repeated("\r\n", 2 * n); },
         [](std::size_t) { return "Hi\n"s; }},
    };
    // Sanitized code runs many times slower: fewer units give figures as clear.
#if defined(__SANITIZE_ADDRESS__)
    constexpr std::size_t kUnits = 25'000;
#else
    constexpr std::size_t kUnits = 200'000;
#endif
    const fs::path out = dir_ / "out.txt";
    chooser_->SetAutoDismissMessages(true);
    setLayout(Layout::Line);
    // The processor time of this thread, which does the whole conversion: time spent
    // waiting for a busy machine's cores does not count.
    const auto cpuSeconds = [] {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    };
    const auto seconds = [&](const fs::path& input) {
        chooser_->AnswerPath(input).AnswerPath(out);
        const double start = cpuSeconds();
        window_->importSCC();
        return cpuSeconds() - start;
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.label);
        const fs::path small = file("small.scc", shape.file(kUnits)), large = file("grow.scc", shape.file(4 * kUnits));
        const std::int64_t before = g_liveBytes;
        g_peakBytes = before;
        seconds(large);  // the first run is checked for its memory and its transcript
        const std::int64_t peak = g_peakBytes - before;
        const std::string text = shape.file(4 * kUnits);
        const auto captionLines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\t'));
        // Every non-empty line is held before the first is decoded, so the peak is at least
        // their bytes: the bound below is a bound on memory that was counted.
        std::int64_t lineBytes = 0;
        for (const std::string& line : nonEmptyLines(text))
            lineBytes += static_cast<std::int64_t>(line.size());
        EXPECT_GE(peak, lineBytes);
        EXPECT_LE(peak, 3 * static_cast<std::int64_t>(text.size()) + 100 * captionLines + (4 << 20));
        ASSERT_TRUE(sameBytes(readBytes(out), "Transcripts of grow.scc\n\n" + shape.body(4 * kUnits) + "\n"));
        // More rounds only while a busy machine blurs the figures.
        double best[2] = {1e30, 1e30};
        for (int round = 0; round == 0 || (round < 4 && best[1] >= 8 * best[0]); ++round) {
            for (int run = 0; run < 3; ++run) {
                best[0] = std::min(best[0], seconds(small));
                best[1] = std::min(best[1], seconds(large));
            }
        }
        EXPECT_LT(best[1], 8 * best[0]) << "n: " << best[0] << " s, 4n: " << best[1] << " s";
    }
    EXPECT_TRUE(messages().empty());
}

}  // namespace
