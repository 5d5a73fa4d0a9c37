// Whole conversions through the real "Select SCC File" road: the window's importSCC with
// its dialogs answered by a script, compared byte for byte with transcripts worked out
// by hand from the decoding tables and the layout rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "TestAllocator.h"
#include "app/Window1.h"
#include "decoding/SccImport.h"
#include "toolkit/BackgroundTask.h"
#include "toolkit/Dialogs.h"
#include "toolkit/RegEx.h"
#include "toolkit/TextStreams.h"

namespace {

namespace fs = std::filesystem;
using namespace quillet::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Four caption lines worked out by hand from the tables: a greeting, an evening line,
// "c8e9 2520" (a bar formed across two groups: "He| 0", cleaned to "He 0") and "7f80 7f80"
// (two bars: the clean-up deletes one, the body turns the other into a space).
const std::string kHandWorked =
    "Scenarist_SCC V1.0\n"
    "\n"
    "00:00:01:15\t9420 9420 94ae 94ae 9452 9452 97a2 97a2 c8e5 ecec ef80 942f 942f\n"
    "\n"
    "00:00:05:15\t9426 9426 94ad 94ad 9470 9470 c7ef ef64 20e5 76e5 6ee9 6e67 ae80\n"
    "00:01:59:20\tc8e9 2520\n"
    "01:00:00;00\t7f80 7f80\n";

// Its transcript in each layout and timecode mode. Offsets: 64 characters give 64 / 5 /
// 30 s, 9 characters 0.06 s.
struct HandWorkedTranscript {
    const char* mode;
    Layout layout;
    bool unbuffered;
    std::string bytes;
};
const HandWorkedTranscript kHandWorkedTranscripts[] = {
    {"timecode entries, unbuffered", Layout::Timecode, true,
     "Transcripts of show.scc\n\n"
     "[00:00:01.93]\t  Hello  \n\n"
     "[00:00:05.93]\t  Good evening.\n\n"
     "[00:01:59.73]\tHe 0\n\n"
     "[01:00:00.06]\t \n\n"
     "\n"},
    {"timecode entries, kept", Layout::Timecode, false,
     "Transcripts of show.scc\n\n"
     "[00:00:01:15]\t  Hello  \n\n"
     "[00:00:05:15]\t  Good evening.\n\n"
     "[00:01:59:20]\tHe 0\n\n"
     "[01:00:00;00]\t \n\n"
     "\n"},
    {"lines, unbuffered", Layout::Line, true, "Transcripts of show.scc\n\n  Hello  \n  Good evening.\nHe 0\n \n\n"},
    {"lines, kept", Layout::Line, false, "Transcripts of show.scc\n\n  Hello  \n  Good evening.\nHe 0\n \n\n"},
    {"paragraph, unbuffered", Layout::Paragraph, true, "Transcripts of show.scc\n\n   Hello     Good evening. He 0  \n"},
    {"paragraph, kept", Layout::Paragraph, false, "Transcripts of show.scc\n\n   Hello     Good evening. He 0  \n"},
};

// A request that stops at its third caption line, which has no timecode: the entries of
// the two lines before it ("AB" and "CD", with timecodes of their own) stay in the lists
// until the next request empties them, as it does first of all.
const std::string kStopsAtTheThirdLine =
    "Scenarist_SCC V1.0\n"
    "00:09:00:00\t9420 c1c2\n"
    "00:09:01:00\t43c4\n"
    "9420 9420\n"
    "00:09:03:00\tc1c2\n";

class Conversion : public ConversionFixture {
protected:
    tk::Ref<tk::ProgressBar> bar() { return controlOf<tk::ProgressBar>(window_, "ProgressBar1"); }

    // Chooses `input` in the open dialog and `output` in the save dialog, and runs the
    // import; returns what was written there ("" when nothing was).
    std::string convert(const fs::path& input, const fs::path& output) {
        chooser_->AnswerPath(input).AnswerPath(output);
        window_->importSCC();
        EXPECT_EQ(chooser_->PendingAnswers(), 0u);
        return fs::exists(output) ? readBytes(output) : std::string();
    }
    std::string convert(const std::string& sccText, Layout layout, bool unbuffered,
                        const std::string& name = "show.scc") {
        setLayout(layout);
        setUnbuffered(unbuffered);
        const fs::path output = dir_ / "out.txt";
        fs::remove(output);
        return convert(file(name, sccText), output);
    }

    bool saveDialogShown() const {
        const auto& shown = chooser_->Shown();
        return std::any_of(shown.begin(), shown.end(), [](const auto& r) { return r.kind == tk::DialogKind::Save; });
    }
    static std::vector<std::string> messagesOf(const tk::ScriptedChooser& script) {
        std::vector<std::string> texts;
        for (const tk::DialogRequest& r : script.Shown())
            if (r.kind == tk::DialogKind::Message)
                texts.push_back(r.message);
        return texts;
    }

    // Leaves the two entries of kStopsAtTheThirdLine in the lists of `w`.
    void leaveEntries(const tk::Ref<quillet::Window1>& w) {
        auto script = std::make_shared<tk::ScriptedChooser>();
        script->SetAutoDismissMessages(true);
        tk::ScopedDialogChooser scope(script);
        script->AnswerPath(file("stops.scc", kStopsAtTheThirdLine));
        w->importSCC();
        ASSERT_EQ(messagesOf(*script), std::vector<std::string>{kNoTimecode});
        ASSERT_EQ(w->captionArray2.Count(), 2);
        ASSERT_EQ(w->timeCodeArray.Count(), 2);
    }

    // The hand-worked file converted by `w` in every layout and timecode mode, byte for
    // byte what a fresh window writes, each request ending as it should.
    void expectConvertsAsEver(const tk::Ref<quillet::Window1>& w) {
        auto script = std::make_shared<tk::ScriptedChooser>();
        script->SetAutoDismissMessages(true);
        tk::ScopedDialogChooser scope(script);
        const fs::path input = file("show.scc", kHandWorked), output = dir_ / "as-ever.txt";
        for (const HandWorkedTranscript& t : kHandWorkedTranscripts) {
            SCOPED_TRACE(t.mode);
            setLayoutOf(w, t.layout);
            setUnbufferedOf(w, t.unbuffered);
            fs::remove(output);
            script->ClearShown();
            script->AnswerPath(input).AnswerPath(output);
            w->importSCC();
            EXPECT_EQ(script->PendingAnswers(), 0u);
            EXPECT_EQ(messagesOf(*script), std::vector<std::string>{});
            EXPECT_EQ(fs::exists(output) ? readBytes(output) : "(no transcript)", t.bytes);
            EXPECT_EQ(controlOf<tk::StaticText>(w, "ProgressText")->Text(), kDone);
            EXPECT_EQ(controlOf<tk::ProgressBar>(w, "ProgressBar1")->Value(), 0);
            EXPECT_EQ(w->captionArray2.Count(), 0);
            EXPECT_EQ(w->timeCodeArray.Count(), 0);
            EXPECT_EQ(w->fileName, "show.scc");
        }
        fs::remove(output);
    }

    // After a request that ended without a transcript: nothing pending, lists paired.
    void expectEndedWith(const std::string& message) {
        EXPECT_EQ(messages(), std::vector<std::string>{message});
        EXPECT_FALSE(saveDialogShown());
        EXPECT_EQ(window_->captionArray2.Count(), window_->timeCodeArray.Count());
    }
};

TEST_F(Conversion, HandWorkedFileInEveryLayoutAndTimecodeMode) {
    for (const HandWorkedTranscript& t : kHandWorkedTranscripts)
        EXPECT_EQ(convert(kHandWorked, t.layout, t.unbuffered), t.bytes) << t.mode;

    // The request's end: status, bar, lists, name, and what the dialogs were asked.
    EXPECT_EQ(status()->Text(), kDone);
    EXPECT_TRUE(status()->Visible());
    // The whole status text is shown, though it is wider than the label's design width.
    const QWidget* label = status()->Widget();
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(QString(kDone)));
    EXPECT_LE(label->geometry().right(), label->parentWidget()->width());
    EXPECT_EQ(bar()->Value(), 0);
    EXPECT_EQ(bar()->Maximum(), quillet::kProgressMaximum);
    EXPECT_EQ(window_->captionArray2.Count(), 0);
    EXPECT_EQ(window_->timeCodeArray.Count(), 0);
    EXPECT_EQ(window_->fileName, "show.scc");
    EXPECT_TRUE(messages().empty());
    const std::vector<tk::DialogRequest>& shown = chooser_->Shown();
    ASSERT_EQ(shown.size(), 12u);
    EXPECT_EQ(shown[0].kind, tk::DialogKind::Open);
    EXPECT_EQ(shown[0].filter, "text/scc");
    EXPECT_EQ(shown[1].kind, tk::DialogKind::Save);
    EXPECT_EQ(shown[1].filter, "TEXT");
    EXPECT_EQ(shown[1].proposedName, "show.txt");
}

TEST_F(Conversion, RealSamplesCheckedByHand) {
    const fs::path data = QUILLET_TEST_DATA;
    const fs::path out = dir_ / "out.txt";

    // Pop-on captions: control codes become spaces, "8080" padding vanishes.
    setLayout(Layout::Timecode);
    setUnbuffered(true);
    EXPECT_EQ(convert(data / "ccx-popon_basic.scc", out),
              "Transcripts of ccx-popon_basic.scc\n\n"
              "[00:00:01.59]\t  HELLO WORLD    \n\n"
              "[00:00:03.06]\t  \n\n"
              "[00:00:05.89]\t  THIS IS A TEST  OF POP-ON CC    \n\n"
              "[00:00:08.06]\t  \n\n"
              "[00:00:10.63]\t  >> NEW SPEAKER    \n\n"
              "[00:00:13.06]\t  \n\n"
              "\n");
    setUnbuffered(false);
    setLayout(Layout::Line);
    EXPECT_EQ(convert(data / "ccx-popon_basic.scc", out),
              "Transcripts of ccx-popon_basic.scc\n\n  HELLO WORLD    \n  \n  THIS IS A TEST  OF POP-ON CC    \n"
              "  \n  >> NEW SPEAKER    \n  \n\n");

    // CRLF line ends and a last line without one; times past the hour.
    setUnbuffered(true);
    setLayout(Layout::Timecode);
    EXPECT_EQ(convert(data / "subconv-sccTest.scc", out),
              "Transcripts of subconv-sccTest.scc\n\n"
              "[01:02:54.19]\t  ( horn honking )    \n\n"
              "[01:02:55.53]\t  \n\n"
              "[01:03:28.56]\t  HEY, THERE.    \n\n"
              "\n");
    setLayout(Layout::Paragraph);
    EXPECT_EQ(convert(data / "subconv-sccTest.scc", out),
              "Transcripts of subconv-sccTest.scc\n\n   ( horn honking )          HEY, THERE.    \n");

    // A drop-frame ";" timecode and a code field that starts with a space.
    setLayout(Layout::Timecode);
    EXPECT_EQ(convert(data / "pycaption-sample_scc_with_ampersand_character.scc", out),
              "Transcripts of pycaption-sample_scc_with_ampersand_character.scc\n\n"
              "[00:04:36.83]\t  MAJOR FUNDING PROVIDED BY & \n\n\n");
    setUnbuffered(false);
    EXPECT_EQ(convert(data / "pycaption-sample_scc_with_ampersand_character.scc", out),
              "Transcripts of pycaption-sample_scc_with_ampersand_character.scc\n\n"
              "[00:04:36;06]\t  MAJOR FUNDING PROVIDED BY & \n\n\n");

    // An empty line before the only other line: that line is the header, so there is no
    // caption at all; the file still gets its title.
    EXPECT_EQ(convert(data / "pycaption-sample_scc_with_italics.scc", out),
              "Transcripts of pycaption-sample_scc_with_italics.scc\n\n\n");
    EXPECT_TRUE(messages().empty());
}

// Every sample in every layout: a transcript, with the shape of its layout and each
// caption paired with its own line's timecode, counted from the file independently. No
// sample has a caption line without a timecode, so none ends in that message.
TEST_F(Conversion, EverySampleKeepsItsShapeAndPairing) {
    const fs::path out = dir_ / "out.txt";
    int samples = 0;
    for (const auto& entry : fs::directory_iterator(QUILLET_TEST_DATA)) {
        if (entry.path().extension() != ".scc")
            continue;
        ++samples;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        // The caption lines as the import sees them: non-empty lines after the first.
        std::vector<std::string> lines = nonEmptyLines(readBytes(entry.path()));
        if (!lines.empty())
            lines.erase(lines.begin());
        for (Layout layout : {Layout::Timecode, Layout::Line, Layout::Paragraph}) {
            chooser_->ClearShown();
            setLayout(layout);
            setUnbuffered(false);
            fs::remove(out);
            const std::string transcript = convert(entry.path(), out);
            EXPECT_TRUE(messages().empty());
            const std::string title = "Transcripts of " + name + "\n\n";
            ASSERT_EQ(transcript.substr(0, title.size()), title);
            const std::string body = transcript.substr(title.size());
            if (layout == Layout::Timecode) {
                // "[" t "]" TAB caption LE LE per line, then one more LE.
                std::size_t at = 0;
                for (const std::string& line : lines) {
                    const std::string timecode = line.substr(0, line.find('\t'));
                    ASSERT_EQ(body.compare(at, timecode.size() + 3, "[" + timecode + "]\t"), 0) << timecode;
                    at = body.find("\n\n", at);
                    ASSERT_NE(at, std::string::npos);
                    at += 2;
                }
                EXPECT_EQ(body.substr(at), "\n");
            } else if (layout == Layout::Line) {
                EXPECT_EQ(static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n')), lines.size() + 1);
            } else {
                EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 1);
                EXPECT_TRUE(lines.empty() || body.front() == ' ');
            }
            EXPECT_EQ(body.find('|'), std::string::npos);
            EXPECT_EQ(status()->Text(), kDone);
        }
    }
    EXPECT_EQ(samples, 40);
}

TEST_F(Conversion, CaptionLineWithoutTimecodeEndsTheRequest) {
    // Five caption lines, the third made of spaces: the bar stays at 3/5 as it stopped.
    const std::string text = "h\n00:00:01:00\t9420\n00:00:02:00\t9420\n   \n00:00:04:00\t9420\n00:00:05:00\t9420\n";
    chooser_->AnswerPath(file("show.scc", text));
    window_->importSCC();
    expectEndedWith(kNoTimecode);
    EXPECT_EQ(window_->timeCodeArray.Count(), 2);
    EXPECT_EQ(bar()->Value(), 39321);
    EXPECT_EQ(status()->Text(), "Reading SCC File...");
    // The next file's transcript holds its own captions and timecodes, and only those.
    expectConvertsAsEver(window_);
}

TEST_F(Conversion, NameTestAndProposedNames) {
    const std::string text = "h\n00:00:01:00\t9420 c8e9\n";
    for (const char* refused : {"show.txt", "scc", "show"}) {
        chooser_->ClearShown();
        chooser_->AnswerPath(file(refused, text));
        window_->importSCC();
        expectEndedWith("This file does not have the .scc extension.");
        EXPECT_NE(window_->fileName, refused);
    }
    const struct {
        const char* name;
        const char* proposed;
    } accepted[] = {{"a.b.scc", "a.txt"}, {"show.scc.txt", "show.txt"}, {"myscc", "myscc.txt"},
                    {".scc", ".txt"}, {"LOUD.SCC", "LOUD.txt"}};
    for (const auto& [name, proposed] : accepted) {
        chooser_->ClearShown();
        const std::string transcript = convert(text, Layout::Line, false, name);
        EXPECT_EQ(transcript, "Transcripts of " + std::string(name) + "\n\nHi\n\n") << name;
        ASSERT_EQ(chooser_->Shown().size(), 2u);
        EXPECT_EQ(chooser_->Shown()[1].proposedName, proposed);
    }
}

TEST_F(Conversion, CancelledSaveWritesNothingAndEndsAsDone) {
    chooser_->AnswerPath(file("show.scc", kHandWorked)).AnswerCancel();
    window_->importSCC();
    EXPECT_EQ(status()->Text(), kDone);
    EXPECT_EQ(bar()->Value(), 0);
    EXPECT_EQ(window_->captionArray2.Count(), 0);
    EXPECT_EQ(window_->timeCodeArray.Count(), 0);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(Conversion, TranscriptThatCannotBeWrittenLeavesTheOldOneAsItWas) {
    const fs::path input = file("show.scc", kHandWorked);
    setLayout(Layout::Line);

    // A folder that does not exist.
    chooser_->AnswerPath(input).AnswerPath(dir_ / "missing" / "out.txt");
    window_->importSCC();
    EXPECT_THAT(messages(), ElementsAre(HasSubstr("out.txt")));
    EXPECT_EQ(status()->Text(), "Transcript not written");
    EXPECT_EQ(bar()->Value(), 0);
    EXPECT_EQ(window_->captionArray2.Count(), 0);
    EXPECT_EQ(window_->timeCodeArray.Count(), 0);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    // A commit that fails: the transcript already there keeps every byte.
    const fs::path old = file("old.txt", "an earlier transcript\n");
    tk::TextOutputStream::FailNextCommitForTesting();
    chooser_->ClearShown();
    chooser_->AnswerPath(input).AnswerPath(old);
    window_->importSCC();
    EXPECT_THAT(messages(), ElementsAre(HasSubstr("old.txt")));
    EXPECT_EQ(readBytes(old), "an earlier transcript\n");
    EXPECT_EQ(status()->Text(), "Transcript not written");

    // The SCC file itself is never the transcript, whatever the path says.
    chooser_->ClearShown();
    fs::create_symlink(input, dir_ / "link.txt");
    for (const fs::path& target : {input, dir_ / "link.txt", dir_ / "." / "show.scc"}) {
        chooser_->AnswerPath(input).AnswerPath(target);
        window_->importSCC();
    }
    EXPECT_EQ(messages().size(), 3u);
    EXPECT_EQ(readBytes(input), kHandWorked);

    // And the next conversion works as ever.
    chooser_->ClearShown();
    EXPECT_EQ(convert(input, dir_ / "fine.txt"), "Transcripts of show.scc\n\n  Hello  \n  Good evening.\nHe 0\n \n\n");
    EXPECT_EQ(status()->Text(), kDone);
}

// A clock on which every call of the background hook finds a turn due, so that an event
// posted before the import is handled during it, at its first line.
struct EveryCallATurn {
    EveryCallATurn() {
        tk::SetBackgroundTaskClockForTesting([t = std::int64_t{0}]() mutable { return t += 1'000'000'000; });
    }
    ~EveryCallATurn() { tk::SetBackgroundTaskClockForTesting(nullptr); }
};

std::string manyLines() {
    std::string text = "Scenarist_SCC V1.0\n";
    for (int i = 0; i < 2000; ++i)
        text += "00:00:01:00\t9420 9420 94ae 94ae c8e9 20e1 6c6c 942f 942f\n";
    return text;
}

TEST_F(Conversion, SecondPressDuringAnImportIsIgnored) {
    const fs::path input = file("show.scc", manyLines());
    chooser_->AnswerPath(input).AnswerPath(dir_ / "out.txt");
    int pressed = 0;
    QTimer::singleShot(0, [&] {
        ++pressed;
        click(tk::RuntimeWindowControlByName(window_, "BevelButton1"));
    });
    EveryCallATurn clock;
    window_->importSCC();
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(chooser_->UnexpectedCount(), 0u);
    EXPECT_EQ(chooser_->Shown().size(), 2u);
    const std::string transcript = readBytes(dir_ / "out.txt");
    EXPECT_EQ(static_cast<std::size_t>(std::count(transcript.begin(), transcript.end(), '[')), 2000u);
}

TEST_F(Conversion, ClosingTheWindowDuringAnImportEndsItQuietly) {
    const fs::path input = file("show.scc", manyLines());
    chooser_->AnswerPath(input);  // no save answer: the import must not get that far
    bool closed = false;
    QTimer::singleShot(0, [&] {
        window_->Close();
        closed = true;
    });
    EveryCallATurn clock;
    window_->importSCC();
    EXPECT_TRUE(closed);
    EXPECT_EQ(chooser_->UnexpectedCount(), 0u);
    EXPECT_FALSE(saveDialogShown());
    EXPECT_TRUE(messages().empty());
    EXPECT_FALSE(window_->IsOpen());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(Conversion, AnUnforeseenFailureStopsTheRequestWithItsReason) {
    const tk::Ref<quillet::Window1> damaged = damagedWindow("RadioButton1");
    const std::size_t reportsBefore = tk::RuntimeUnhandledExceptionCount();
    const fs::path input = file("show.scc", kHandWorked);
    for (int attempt = 0; attempt < 2; ++attempt) {  // the window is not left busy
        chooser_->AnswerPath(input);
        damaged->importSCC();
    }
    EXPECT_EQ(messages(), std::vector<std::string>(2, "The conversion of \"show.scc\" stopped: Control RadioButton1 is nil."));
    EXPECT_FALSE(saveDialogShown());
    EXPECT_EQ(damaged->captionArray2.Count(), damaged->timeCodeArray.Count());
    EXPECT_EQ(tk::RuntimeUnhandledExceptionCount(), reportsBefore);  // handled, not reported

    // Given the control, the same window converts as ever.
    restoreControl(damaged, "RadioButton1");
    expectConvertsAsEver(damaged);
    damaged->Close();
}

// A failure that nothing foresaw after every caption line was worked (the layout finds no
// "Include Timecode" box) leaves the lists full; the next request empties them first.
TEST_F(Conversion, AnUnforeseenFailureWithFullListsLeavesNothingForTheNextFile) {
    const tk::Ref<quillet::Window1> damaged = damagedWindow("TimecodeBox");
    leaveEntries(damaged);
    chooser_->AnswerPath(file("show.scc", kHandWorked));
    damaged->importSCC();
    EXPECT_EQ(messages(), std::vector<std::string>{"The conversion of \"show.scc\" stopped: Control TimecodeBox is nil."});
    EXPECT_FALSE(saveDialogShown());
    EXPECT_EQ(damaged->captionArray2.Count(), damaged->timeCodeArray.Count());
    restoreControl(damaged, "TimecodeBox");
    expectConvertsAsEver(damaged);
    damaged->Close();
}

// A script whose save dialog, when `saveFails`, cannot be shown, as without a running GUI
// application: a failure that nothing in the conversion foresees.
class SaveDialogThatMayFail : public tk::ScriptedChooser {
public:
    bool saveFails = false;
    std::optional<fs::path> ChooseFile(const tk::DialogRequest& request) override {
        if (saveFails && request.kind == tk::DialogKind::Save) {
            ScriptedChooser::ChooseFile(request);  // recorded, and its answer taken
            throw tk::RuntimeException("A dialog cannot be shown without a running GUI application.");
        }
        return ScriptedChooser::ChooseFile(request);
    }
};

// Every way a request ends, each after a request that left entries in the lists (a
// caption line without a timecode). Each ends with the lists and the status line each
// way of ending is meant to leave, where that is fixed, writes no
// transcript, and the next file converts in every layout byte for byte as on a fresh
// window: nothing of the stopped requests, neither captions nor timecodes, reaches it.
TEST_F(Conversion, AfterEveryWayARequestEndsTheNextFileConvertsAsEver) {
    const fs::path show = file("show.scc", kHandWorked), out = dir_ / "out.txt";
    fs::create_directory(dir_ / "folder.scc");
    // Out of memory: a file of one caption line of 3 MB, whose reading needs more than
    // 2 MB at once; and 10,000 lines of 100 groups, whose transcript body of 2.2 MB is
    // the one allocation above 1.5 MB, made once every line is decoded and cleaned up.
    const fs::path huge = file("huge.scc", "Scenarist_SCC V1.0\n00:00:01:00\t" + [] {
        std::string field;
        while (field.size() < (3u << 20)) field += "c8e9 ";
        return field;
    }());
    const fs::path many = file("many.scc", [] {
        std::string line = "00:00:01:00\t";
        for (int g = 0; g < 100; ++g) line += "c8e9 ";
        std::string text = "Scenarist_SCC V1.0\n";
        for (int i = 0; i < 10'000; ++i) text += line + "\n";
        return text;
    }());
    const std::string reading = "Reading SCC File...", notWritten = "Transcript not written";
    const auto run = [&](tk::ScriptedChooser& script, const fs::path& input, const std::optional<fs::path>& save) {
        script.AnswerPath(input);
        if (save) script.AnswerPath(*save);
        window_->importSCC();
    };

    const struct End {
        const char* label;
        std::function<void(tk::ScriptedChooser&)> request;  // scripts its dialogs and runs it
        std::vector<std::string> messages;
        std::optional<std::string> status;  // where the way of ending fixes it
        std::optional<int> entries;         // in each list, where it is fixed
        bool progressUnchanged = false;     // the request never began
        bool saveDialogFails = false;
    } ends[] = {
        {"open dialog cancelled", [&](tk::ScriptedChooser& s) { s.AnswerCancel(); window_->importSCC(); },
         {}, reading, 0, true},
        {"a name without .scc", [&](tk::ScriptedChooser& s) { run(s, file("show.txt", kHandWorked), {}); },
         {"This file does not have the .scc extension."}, reading, 0, true},
        {"a file that cannot be opened", [&](tk::ScriptedChooser& s) { run(s, dir_ / "missing.scc", {}); },
         {"The file \"missing.scc\" could not be opened: No such file or directory."}, reading, 0, true},
        {"a folder", [&](tk::ScriptedChooser& s) { run(s, dir_ / "folder.scc", {}); },
         {"The file \"folder.scc\" could not be opened: it is a folder."}, reading, 0, true},
        {"a read that fails",
         [&](tk::ScriptedChooser& s) {
             tk::TextInputStream::FailReadsAfterForTesting(100);
             run(s, show, {});
             tk::TextInputStream::FailReadsAfterForTesting(-1);
         },
         {"The file \"show.scc\" could not be read: Input/output error."}, {}, {}},
        {"a caption line without a timecode",
         [&](tk::ScriptedChooser& s) { run(s, file("early.scc", "h\n00:00:02:00\tc1c2\n12 3\n00:00:04:00\tc1c2\n"), {}); },
         {kNoTimecode}, reading, 1},
        {"save dialog cancelled",
         [&](tk::ScriptedChooser& s) {
             s.AnswerPath(show).AnswerCancel();
             window_->importSCC();
         },
         {}, kDone, 0},
        {"a write that fails",
         [&](tk::ScriptedChooser& s) {
             tk::TextOutputStream::FailWritesAfterForTesting(10);
             run(s, show, out);
             tk::TextOutputStream::FailWritesAfterForTesting(-1);
         },
         {"The file \"" + out.string() + "\" could not be written: No space left on device."}, notWritten, {}},
        {"a commit that fails",
         [&](tk::ScriptedChooser& s) {
             tk::TextOutputStream::FailNextCommitForTesting();
             run(s, show, out);
         },
         {"The file \"" + out.string() + "\" could not be saved: No space left on device."}, notWritten, {}},
        {"a transcript folder that does not exist", [&](tk::ScriptedChooser& s) { run(s, show, dir_ / "gone" / "out.txt"); },
         {"The file \"" + (dir_ / "gone" / "out.txt").string() + "\" cannot be created: No such file or directory."},
         notWritten, {}},
        {"the SCC file itself as the transcript", [&](tk::ScriptedChooser& s) { run(s, show, show); },
         {"The transcript cannot replace \"show.scc\", the SCC file it is made from. Please choose another name for it."},
         notWritten, {}},
        {"an unforeseen failure: the save dialog cannot be shown", [&](tk::ScriptedChooser& s) { run(s, show, out); },
         {"The conversion of \"show.scc\" stopped: A dialog cannot be shown without a running GUI application."}, {}, {},
         false, true},
        {"out of memory while the file is read",
         [&](tk::ScriptedChooser& s) {
             quillet::testing::RefuseAllocationsFrom refuse(2u << 20);
             run(s, huge, {});
             EXPECT_GT(refuse.Refused(), 0u);
         },
         {"There is not enough memory to convert \"huge.scc\"."}, {}, {}},
        {"out of memory before the file is open: the chosen file is named, not the last one",
         [&](tk::ScriptedChooser& s) {
             quillet::testing::RefuseAllocationsFrom refuse(1u << 16);
             run(s, many, {});
             EXPECT_GT(refuse.Refused(), 0u);
         },
         {"There is not enough memory to convert \"many.scc\"."}, {}, {}},
        {"out of memory while the transcript is laid out",
         [&](tk::ScriptedChooser& s) {
             quillet::testing::RefuseAllocationsFrom refuse(3u << 19);
             run(s, many, {});  // it stops before the save dialog
             EXPECT_GT(refuse.Refused(), 0u);
         },
         {"There is not enough memory to convert \"many.scc\"."}, {}, {}},
    };
    for (const End& end : ends) {
        SCOPED_TRACE(end.label);
        leaveEntries(window_);
        const int barBefore = bar()->Value();
        {
            auto script = std::make_shared<SaveDialogThatMayFail>();
            script->saveFails = end.saveDialogFails;
            script->SetAutoDismissMessages(true);
            tk::ScopedDialogChooser scope(script);
            end.request(*script);
            EXPECT_EQ(script->PendingAnswers(), 0u);
            EXPECT_EQ(script->UnexpectedCount(), 0u);
            EXPECT_EQ(messagesOf(*script), end.messages);
        }
        if (end.status) {
            EXPECT_EQ(status()->Text(), *end.status);
        }
        if (end.entries) {
            EXPECT_EQ(window_->captionArray2.Count(), *end.entries);
        }
        EXPECT_EQ(window_->captionArray2.Count(), window_->timeCodeArray.Count());
        if (end.progressUnchanged) {
            EXPECT_EQ(bar()->Value(), barBefore);
        }
        // No transcript, and nothing left half-made.
        for (const auto& entry : fs::directory_iterator(dir_))
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(readBytes(show), kHandWorked);

        expectConvertsAsEver(window_);
    }
}

// The direct tests stand for the patterns "\d\d\:", "[^|]" and "[^ *]"; they must agree
// with the regular-expression engine on every text, digits of other scripts included.
TEST(PatternTests, AgreeWithTheRegularExpressionEngine) {
    tk::RegEx timecode;
    timecode.SetSearchPattern("\\d\\d\\:");
    const std::vector<std::string> pieces = {"0", "9", "1", ":", ";", " ", "\t", "a", "|", "*",
                                             "\xD9\xA1", "\xEF\xBC\x91", "\xEF\xBC\x9A", "\xC3\xA9", "\x7F"};
    std::mt19937 random(7);
    for (int n = 0; n < 20000; ++n) {
        std::string line;
        const int length = static_cast<int>(random() % 9);
        for (int k = 0; k < length; ++k)
            line += pieces[random() % pieces.size()];
        EXPECT_EQ(quillet::hasTimecode(line), timecode.Search(line) != nullptr) << line;
    }
}

}  // namespace
