// Leaving while a transcript is written: the window closed while a FIFO's reader has
// stalled, and the system asking the program to end (a logout, a closed terminal).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <functional>
#include <optional>
#include <set>

#include "AppTestSupport.h"
#include "toolkit/BackgroundTask.h"

namespace {

namespace fs = std::filesystem;
using namespace quillet::testing;

// Answers as scripted, and once the save dialog is answered has `then` run at the event
// loop's next turn: in the middle of the write.
class DuringTheWrite : public tk::ScriptedChooser {
public:
    std::function<void()> then;
    std::optional<fs::path> ChooseFile(const tk::DialogRequest& request) override {
        std::optional<fs::path> answer = ScriptedChooser::ChooseFile(request);
        if (request.kind == tk::DialogKind::Save && then)
            QTimer::singleShot(0, then);
        return answer;
    }
};

class Leaving : public ConversionFixture {
protected:
    void SetUp() override {
        ConversionFixture::SetUp();
        during_->SetAutoDismissMessages(true);
        // Every call of the background hook finds a turn due, so the timer fires at once.
        tk::SetBackgroundTaskClockForTesting([t = std::int64_t{0}]() mutable { return t += 1'000'000'000; });
    }
    void TearDown() override {
        tk::SetBackgroundTaskClockForTesting(nullptr);
        ConversionFixture::TearDown();
    }
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_))
            found.insert(entry.path().filename().string());
        return found;
    }
    // Enough captions for a transcript that overfills a pipe.
    fs::path longShow() const {
        std::string text = "Scenarist_SCC V1.0\n";
        for (int i = 0; i < 6000; ++i)
            text += "00:00:01:00\t9420 9420 94ae 94ae c8e9 20e1 6c6c 942f 942f\n";
        return file("show.scc", text);
    }

    std::shared_ptr<DuringTheWrite> during_ = std::make_shared<DuringTheWrite>();
    tk::ScopedDialogChooser duringScope_{during_};
};

TEST_F(Leaving, ClosingTheWindowWhileAFifoStallsEndsTheWrite) {
    const fs::path fifo = dir_ / "out.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    during_->AnswerPath(longShow()).AnswerPath(fifo);
    // The write waits on the full pipe; the event loop keeps its turns meanwhile, and
    // the user closes the window at the fifth.
    int turnsWhileWaiting = 0;
    std::function<void()> tick = [&] {
        if (++turnsWhileWaiting == 5)
            window_->Close();
        else
            QTimer::singleShot(0, tick);
    };
    during_->then = tick;
    window_->importSCC();

    EXPECT_EQ(turnsWhileWaiting, 5);
    EXPECT_FALSE(window_->IsOpen());
    EXPECT_EQ(during_->Shown().size(), 2u);  // the two file dialogs, and no message
    std::string received(1 << 20, '\0');
    const ssize_t got = ::read(reader, received.data(), received.size());
    ASSERT_GT(got, 0);
    EXPECT_EQ(received.substr(0, 35), "Transcripts of show.scc\n\n[00:00:01.");  // what was written stays
    EXPECT_TRUE(fs::is_fifo(fifo));
    ::close(reader);
}

TEST_F(Leaving, ASignalToEndAbandonsTheTranscriptAndKeepsTheOldFile) {
    tk::RuntimeQuitOnTerminationSignals();
    const fs::path input = longShow();
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        const fs::path old = file("old.txt", "an earlier transcript\n");
        window_ = quillet::implicit::Window1();
        during_->AnswerPath(input).AnswerPath(old);
        during_->then = [signal] { ::raise(signal); };
        window_->importSCC();
        EXPECT_TRUE(tk::RuntimeTerminationRequested()) << signal;
        EXPECT_EQ(readBytes(old), "an earlier transcript\n") << signal;
        EXPECT_EQ(names(), (std::set<std::string>{"old.txt", "show.scc"})) << signal;  // no temporary file
        EXPECT_EQ(during_->Shown().size(), 2u) << signal;
        during_->ClearShown();
        tk::ClearTerminationRequestForTesting();
        flushEvents();
    }
}

}  // namespace
