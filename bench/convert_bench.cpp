// Throughput, memory and responsiveness of the whole conversion: the main window's real
// importSCC (open dialog, reading, decoding, clean-up, layout, save dialog, writing),
// with the dialogs answered by a script.
//
//   convert_bench [--runs N] [--setup offscreen|xcb|both] [--phases] [--gaps]
//                 [--input FILE.scc]
//
// Inputs are a ~1 MB and a ~20 MB SCC file made by ../shared/bench/make-big-scc.py and
// kept in /tmp (without the script, the caption lines of the largest test file are
// repeated), a ~100 MB file of a single caption line (the code fields of the largest test
// file, cycled), or the one file given with --input. --gaps runs only the 20 MB file and
// the one-line file, with timecodes, unbuffered: the longest gaps for the window. Every
// combination of set-up, input and settings runs in a fresh child process (this program
// started again with --child), so that no run inherits another's heap. The set-ups are
// the offscreen platform and the window shown on an X server of our own (Xvfb
// -displayfd).
//
// Each child shows the window, lets it settle, notes its resident size, then runs the
// import N times. Per run it takes the wall time of importSCC, the peak resident size
// (the high-water mark is reset through /proc/self/clear_refs before the run; where that
// is refused a thread samples the resident size every millisecond) and the times at
// which a zero-interval timer fired: the import gives the event loop its turns itself,
// so the timer fires once per turn and the longest stretch without one (counting from
// the start of the run to the first and from the last to its end) is how long the
// window went unanswered. After each run the transcript is checked: its title, and one
// entry per caption line of the input.
//
// --phases adds a child per set-up that runs the import's stages one by one on the 20 MB
// input with the window's own hooks (reading, decoding, clean-up, layout, writing), and
// parts of the decoding without the window, to show where the time goes; the progress
// bar's repaints are also timed with the bar in a plainer style, for comparison.
//
// QUILLET_BENCH_STALLED_READER=MS sends the transcript into a FIFO whose reader takes a
// pipeful and then stops for MS milliseconds, again and again (a reader that cannot keep
// up): the gaps then show whether the window stays live while the write waits. What the
// reader took is checked as the transcript.
//
// QUILLET_BENCH_TICKS=1 makes a child print the times of its event-loop turns;
// QUILLET_BENCH_SAMPLE_RSS=1 makes it sample the resident size instead of resetting the
// kernel's mark.
//
// Figures are printed, never judged: the exit status is non-zero only when a run failed
// or a transcript was not what the input calls for.
#include <QApplication>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "../tests/app/VirtualDisplay.h"
#include "app/Window1.h"
#include "decoding/CaptionDecoder.h"
#include "decoding/SccImport.h"
#include "decoding/SccLines.h"
#include "decoding/Timecode.h"
#include "toolkit/BackgroundTask.h"
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/FolderItem.h"
#include "toolkit/Runtime.h"
#include "toolkit/Strings.h"
#include "toolkit/TextStreams.h"
#include "transcript/Transcript.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kDone = "Done Writing SCC Transcripts";

double secondsBetween(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void say(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------
// Inputs

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path generatorScript() {
    const fs::path beside = fs::path(QUILLET_SOURCE_DIR) / ".." / "shared" / "bench" / "make-big-scc.py";
    if (fs::exists(beside))
        return beside;
    const fs::path shared = "/work/shared/bench/make-big-scc.py";
    return fs::exists(shared) ? shared : fs::path();
}

fs::path largestTestFile() {
    fs::path largest;
    std::uintmax_t largestSize = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(QUILLET_SOURCE_DIR) / "tests" / "data"))
        if (entry.path().extension() == ".scc" && entry.file_size() > largestSize) {
            largest = entry.path();
            largestSize = entry.file_size();
        }
    return largest;
}

// Writes `text` to `out` through a temporary name, for the same reason as below.
void writeWhole(const fs::path& out, const std::string& text) {
    const fs::path partial = out.string() + ".part-" + tk::Str(::getpid());
    std::ofstream(partial, std::ios::binary) << text;
    fs::rename(partial, out);
}

// Every caption line of the largest test file, its header and empty lines left out.
template <class F>
void forEachCaptionLine(F&& f) {
    std::istringstream in(readFile(largestTestFile()));
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && !std::exchange(header, false))
            f(line);
    }
}

// A cached file of about `megabytes` MiB in one caption line: the header, then
// "00:00:01:00", a tab and the code fields of the largest test file's caption lines,
// cycled and separated by spaces. The window must stay live within that one line.
std::optional<fs::path> makeOneLineInput(int megabytes) {
    const fs::path out = "/tmp/quillet-bench-" + tk::Str(megabytes) + "mb-one-line.scc";
    if (fs::exists(out))
        return out;
    std::string cycle;
    forEachCaptionLine([&](const std::string& line) {
        if (const auto fields = quillet::splitCaptionLine(line); fields && !fields->codeField.empty()) {
            cycle += fields->codeField;
            cycle += ' ';
        }
    });
    if (cycle.empty())
        return std::nullopt;
    const std::size_t size = static_cast<std::size_t>(megabytes) * 1024 * 1024;
    std::string text = "Scenarist_SCC V1.0\n\n00:00:01:00\t";
    text.reserve(size + cycle.size() + 2);
    while (text.size() < size)
        text += cycle;
    text.pop_back();  // the last space
    text += '\n';
    writeWhole(out, text);
    return out;
}

// A cached input of about `megabytes` MiB. Written under a temporary name first, so a
// half-written file is never taken for a finished one (another benchmark may share the
// cache).
std::optional<fs::path> makeInput(int megabytes) {
    const fs::path script = generatorScript();
    const std::string size = tk::Str(megabytes);
    if (!script.empty()) {
        const fs::path out = "/tmp/quillet-bench-" + size + "mb.scc";
        if (fs::exists(out))
            return out;
        const fs::path partial = out.string() + ".part-" + tk::Str(::getpid());
        const std::string command = "python3 '" + script.string() + "' '" + partial.string() + "' " + size;
        if (std::system(command.c_str()) == 0 && fs::exists(partial)) {
            fs::rename(partial, out);
            return out;
        }
        std::error_code ec;
        fs::remove(partial, ec);
        std::fprintf(stderr, "could not run %s; repeating a test file instead\n", command.c_str());
    }
    // The largest test file's caption lines over and over, after one header line.
    const fs::path out = "/tmp/quillet-bench-" + size + "mb-repeated.scc";
    if (fs::exists(out))
        return out;
    std::string captions;
    forEachCaptionLine([&](const std::string& line) {
        if (quillet::hasTimecode(line))
            captions += line + "\n\n";
    });
    if (captions.empty())
        return std::nullopt;
    std::string big = "Scenarist_SCC V1.0\n\n";
    while (big.size() < static_cast<std::size_t>(megabytes) * 1024 * 1024)
        big += captions;
    writeWhole(out, big);
    std::printf("(no generator script; %s repeats the caption lines of %s)\n", out.c_str(), largestTestFile().filename().c_str());
    return out;
}

// What the import sees of an input: the caption lines (non-empty lines after the first;
// LF, CRLF and a lone CR end a line) and, for the "Keep SCC timecode" check, a hash of
// their timecodes as the transcript writes them.
struct InputFacts {
    std::int64_t captionLines = 0;
    std::uint64_t timecodeHash = 14695981039346656037ull;
};

void hashInto(std::uint64_t& hash, std::string_view text) {
    for (unsigned char c : text)
        hash = (hash ^ c) * 1099511628211ull;
    hash = (hash ^ 0xffu) * 1099511628211ull;  // keeps "ab","c" apart from "a","bc"
}

std::string keptTimecode(std::string_view timecodeField) {
    std::string t(timecodeField);
    if (const auto comma = t.find(','); comma != std::string::npos)
        t[comma] = '.';
    return t;
}

InputFacts inputFacts(const fs::path& path) {
    const std::string text = readFile(path);
    InputFacts facts;
    bool header = true;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line(text.data() + at, end - at);
        at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
        if (line.empty() || std::exchange(header, false))
            continue;
        ++facts.captionLines;
        hashInto(facts.timecodeHash, keptTimecode(line.substr(0, line.find('\t'))));
    }
    return facts;
}

// ---------------------------------------------------------------------------------------
// Memory: the resident size and its high-water mark

std::int64_t statusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, key.size(), key) == 0) {
            // "VmRSS:\t   1234 kB": Val skips spaces but not the tab.
            const std::size_t digits = line.find_first_of("0123456789", key.size());
            return digits == std::string::npos ? -1 : static_cast<std::int64_t>(tk::Val(std::string_view(line).substr(digits)));
        }
    return -1;
}

std::int64_t rssKbFromStatm() {
    std::ifstream in("/proc/self/statm");
    std::string size, resident;
    in >> size >> resident;
    return static_cast<std::int64_t>(tk::Val(resident)) * (sysconf(_SC_PAGESIZE) / 1024);
}

// The peak resident size over a stretch of time: the kernel's high-water mark when it
// can be reset, else a thread's samples every millisecond.
class PeakMemory {
public:
    // QUILLET_BENCH_SAMPLE_RSS=1 takes the sampling road even where the mark can be reset.
    PeakMemory() { canReset_ = !std::getenv("QUILLET_BENCH_SAMPLE_RSS") && reset(); }
    bool usesKernelMark() const noexcept { return canReset_; }

    void start() {
        if (canReset_ && reset())
            return;
        canReset_ = false;
        peakKb_ = rssKbFromStatm();
        running_ = true;
        sampler_ = std::thread([this] {
            while (running_.load(std::memory_order_relaxed)) {
                peakKb_ = std::max<std::int64_t>(peakKb_, rssKbFromStatm());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    std::int64_t stopKb() {
        if (canReset_)
            return statusKb("VmHWM");
        running_ = false;
        sampler_.join();
        return std::max<std::int64_t>(peakKb_, rssKbFromStatm());
    }

private:
    static bool reset() {
        std::ofstream out("/proc/self/clear_refs");
        out << "5";
        out.flush();
        if (!out)
            return false;
        // A reset mark stands at the present resident size.
        return statusKb("VmHWM") <= statusKb("VmRSS") + 64;
    }
    bool canReset_ = false;
    std::atomic<bool> running_{false};
    std::int64_t peakKb_ = 0;
    std::thread sampler_;
};

// ---------------------------------------------------------------------------------------
// The child: one set-up, one input, one choice of settings

enum class Layout { Timecode, Line, Paragraph };

std::optional<Layout> layoutNamed(std::string_view name) {
    if (name == "timecode") return Layout::Timecode;
    if (name == "line") return Layout::Line;
    if (name == "paragraph") return Layout::Paragraph;
    return std::nullopt;
}

template <class T>
tk::Ref<T> controlOf(const tk::Ref<quillet::Window1>& window, const char* name) {
    return std::dynamic_pointer_cast<T>(tk::RuntimeWindowControlByName(window, name));
}

// A script that also notes when each dialog was asked for: the save dialog comes after
// the reading, decoding, clean-up and layout, and before the writing.
class TimedChooser : public tk::ScriptedChooser {
public:
    std::optional<std::filesystem::path> ChooseFile(const tk::DialogRequest& request) override {
        (request.kind == tk::DialogKind::Open ? openAt : saveAt) = Clock::now();
        return tk::ScriptedChooser::ChooseFile(request);
    }
    Clock::time_point openAt{}, saveAt{};
};

void flushEvents(int milliseconds) {
    const auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
    // Sleeps between turns rather than spinning, so that a profile of the child shows
    // the import and not the waiting.
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < until);
}

// Checks the transcript against the input without holding the whole file: the title, an
// empty line, then one entry per caption line in the layout's shape. "" when it fits.
std::string checkTranscript(const fs::path& output, const std::string& name, Layout layout, bool unbuffered,
                            const InputFacts& facts) {
    std::ifstream in(output, std::ios::binary);
    if (!in)
        return "no transcript was written";
    std::string line;
    if (!std::getline(in, line) || line != "Transcripts of " + name)
        return "the title line is \"" + line + "\"";
    if (!std::getline(in, line) || !line.empty())
        return "no empty line after the title";
    const auto count = [](std::int64_t n) { return tk::Str(static_cast<double>(n)); };
    if (layout == Layout::Paragraph) {
        // One line: " " and a caption per entry. Entries cannot be told apart, so only the
        // line's shape and a lower bound on its length are checked.
        if (!std::getline(in, line))
            return "no paragraph";
        if (facts.captionLines > 0 && (line.empty() || line.front() != ' '))
            return "the paragraph does not start with a space";
        if (static_cast<std::int64_t>(line.size()) < facts.captionLines)
            return "the paragraph is shorter than one space per caption line";
        if (in.peek() != std::char_traits<char>::eof())
            return "more than one paragraph line";
        return "";
    }
    std::int64_t entries = 0;
    std::uint64_t hash = InputFacts{}.timecodeHash;
    while (std::getline(in, line)) {
        if (layout == Layout::Line) {
            ++entries;
            continue;
        }
        // "[" timecode "]" TAB caption, then an empty line.
        const std::size_t close = line.find("]\t");
        if (line.empty() || line.front() != '[' || close == std::string::npos) {
            if (line.empty() && in.peek() == std::char_traits<char>::eof())
                break;  // the final empty line
            return "entry " + count(entries + 1) + " is \"" + line.substr(0, 60) + "\"";
        }
        const std::string_view timecode = std::string_view(line).substr(1, close - 1);
        if (unbuffered) {
            // HH:MM:SS.hh with at least two hour digits.
            const bool shaped = timecode.size() >= 11 && timecode[timecode.size() - 3] == '.' &&
                                timecode[timecode.size() - 6] == ':' && timecode[timecode.size() - 9] == ':';
            if (!shaped)
                return "entry " + count(entries + 1) + " has the timecode \"" + std::string(timecode) + "\"";
        } else {
            hashInto(hash, timecode);
        }
        ++entries;
        if (!std::getline(in, line) || !line.empty())
            return "no empty line after entry " + count(entries);
    }
    if (layout == Layout::Line) {
        // Every caption on a line of its own, then the empty line that ends the body.
        if (entries == 0 || line != "")
            return "the body does not end with an empty line";
        --entries;
    }
    if (entries != facts.captionLines)
        return count(entries) + " entries for " + count(facts.captionLines) + " caption lines";
    if (layout == Layout::Timecode && !unbuffered && hash != facts.timecodeHash)
        return "the timecodes are not those of the input";
    return "";
}
// The Qt application and the runtime of a child process; nil (and said) when they fail.
std::unique_ptr<QApplication> startApplication() {
    static int argc = 1;
    static char name[] = "convert_bench";
    static char* argv[] = {name, nullptr};
    auto app = std::make_unique<QApplication>(argc, argv);
    if (!tk::RuntimeInit()) {
        say("ERROR the runtime did not start: " + tk::RuntimeInitError() + "\n");
        return nullptr;
    }
    return app;
}

// The reader of a FIFO that cannot keep up: a pipeful, then a pause. A writer end of its
// own keeps the reader from seeing the end of the text before the conversion opens the
// FIFO; it goes when the conversion is over, so the reader drains the pipe and stops.
class SlowReader {
public:
    SlowReader(const fs::path& fifo, const fs::path& copy, int pauseMs) {
        std::error_code ec;
        fs::remove(fifo, ec);
        if (::mkfifo(fifo.c_str(), 0600) != 0) return;
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        writer_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        thread_ = std::thread([fd, copy, pauseMs] {
            std::ofstream out(copy, std::ios::binary);
            std::vector<char> buffer(1 << 16);
            ssize_t got = 0;
            while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {
                out.write(buffer.data(), got);
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
            ::close(fd);
        });
    }
    ~SlowReader() {
        if (writer_ >= 0) ::close(writer_);
        if (thread_.joinable()) thread_.join();
    }

private:
    int writer_ = -1;
    std::thread thread_;
};

int runChild(const std::vector<std::string>& args) {
    // args: input layout timing runs outdir
    if (args.size() != 5) {
        say("ERROR child arguments\n");
        return 2;
    }
    const fs::path input = args[0];
    const std::optional<Layout> layout = layoutNamed(args[1]);
    const bool unbuffered = args[2] == "unbuffered";
    const int runs = std::max(1, static_cast<int>(tk::Val(args[3])));
    const fs::path output = fs::path(args[4]) / "transcript.txt";
    if (!layout) {
        say("ERROR unknown layout " + args[1] + "\n");
        return 2;
    }

    const std::unique_ptr<QApplication> app = startApplication();
    if (!app)
        return 1;
    const InputFacts facts = inputFacts(input);
    const std::int64_t inputBytes = static_cast<std::int64_t>(fs::file_size(input));

    auto chooser = std::make_shared<TimedChooser>();
    chooser->SetAutoDismissMessages(true);
    tk::ScopedDialogChooser scope(chooser);
    tk::Ref<quillet::Window1> window = quillet::implicit::Window1();
    window->Show();
    QWidget* shown = window->Widget();
    const auto exposed = [shown] { return shown && shown->windowHandle() && shown->windowHandle()->isExposed(); };
    for (const auto until = Clock::now() + std::chrono::seconds(5); !exposed() && Clock::now() < until;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!exposed()) {
        say("ERROR the window was not shown on " + QApplication::platformName().toStdString() + "\n");
        return 1;
    }
    controlOf<tk::CheckBox>(window, "TimecodeBox")->SetValue(*layout == Layout::Timecode);
    controlOf<tk::CheckBox>(window, "LineBox")->SetValue(*layout != Layout::Paragraph);
    controlOf<tk::CheckBox>(window, "ParagraphBox")->SetValue(*layout == Layout::Paragraph);
    controlOf<tk::RadioButton>(window, unbuffered ? "RadioButton1" : "RadioButton2")->SetValue(true);
    flushEvents(300);

    PeakMemory peak;
    const std::int64_t idleKb = statusKb("VmRSS");
    say("IDLE rss=" + tk::Str(static_cast<double>(idleKb)) + " bytes=" + tk::Str(static_cast<double>(inputBytes)) +
        " lines=" + tk::Str(static_cast<double>(facts.captionLines)) +
        " memory=" + (peak.usesKernelMark() ? "hwm" : "sampled") +
        " platform=" + QApplication::platformName().toStdString() + "\n");

    std::vector<Clock::time_point> ticks;
    ticks.reserve(1 << 16);
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ticks.push_back(Clock::now()); });

    const char* stalledReader = std::getenv("QUILLET_BENCH_STALLED_READER");
    const int stallMs = stalledReader ? std::atoi(stalledReader) : 0;
    const fs::path target = stallMs > 0 ? fs::path(args[4]) / "transcript.fifo" : output;

    int failures = 0;
    for (int run = 1; run <= runs; ++run) {
        std::error_code ec;
        fs::remove(output, ec);
        chooser->ClearShown();
        chooser->AnswerPath(input).AnswerPath(target);
        std::optional<SlowReader> reader;
        if (stallMs > 0)
            reader.emplace(target, output, stallMs);
        ticks.clear();
        const std::int64_t beforeKb = statusKb("VmRSS");
        const std::uint64_t turnsBefore = tk::BackgroundTaskTurns();

        peak.start();
        timer.start();
        const Clock::time_point start = Clock::now();
        window->importSCC();
        const Clock::time_point end = Clock::now();
        timer.stop();
        reader.reset();
        const std::int64_t peakKb = peak.stopKb();
        const std::uint64_t turns = tk::BackgroundTaskTurns() - turnsBefore;

        // The longest stretch without a turn, and where in the run it began.
        double longestGap = 0, gapStart = 0;
        Clock::time_point previous = start;
        ticks.push_back(end);
        for (const Clock::time_point& t : ticks) {
            if (secondsBetween(previous, t) > longestGap) {
                longestGap = secondsBetween(previous, t);
                gapStart = secondsBetween(start, previous);
            }
            previous = t;
        }
        ticks.pop_back();
        if (std::getenv("QUILLET_BENCH_TICKS")) {
            std::string line = "TICKS";
            for (const Clock::time_point& t : ticks) {
                line += ' ';
                line += tk::Format(secondsBetween(start, t) * 1000, "0.0");
            }
            say(line + "\n");
        }

        std::string problem;
        for (const tk::DialogRequest& r : chooser->Shown())
            if (r.kind == tk::DialogKind::Message && problem.empty())
                problem = "message box: " + r.message;
        if (problem.empty() && chooser->PendingAnswers() != 0)
            problem = "a dialog was not asked for";
        if (problem.empty() && controlOf<tk::StaticText>(window, "ProgressText")->Text() != kDone)
            problem = "the status reads \"" + controlOf<tk::StaticText>(window, "ProgressText")->Text() + "\"";
        if (problem.empty())
            problem = checkTranscript(output, input.filename().string(), *layout, unbuffered, facts);
        fs::remove(output, ec);

        const auto num = [](double v) { return tk::Str(v); };
        say("RUN seconds=" + num(secondsBetween(start, end)) +
            " toSave=" + num(secondsBetween(chooser->openAt, chooser->saveAt)) +
            " afterSave=" + num(secondsBetween(chooser->saveAt, end)) + " peak=" + num(static_cast<double>(peakKb)) +
            " before=" + num(static_cast<double>(beforeKb)) + " gap=" + num(longestGap) + " gapStart=" + num(gapStart) +
            " ticks=" + num(static_cast<double>(ticks.size())) + " turns=" + num(static_cast<double>(turns)) + "\n");
        if (!problem.empty()) {
            say("ERROR " + problem + "\n");
            ++failures;
            break;
        }
        flushEvents(50);
    }
    window->Close();
    window.reset();
    flushEvents(20);
    return failures == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------------------
// The phases child: the import's stages one at a time, with the window's hooks

int runPhases(const std::vector<std::string>& args) {
    // args: input runs outdir
    if (args.size() != 3) {
        say("ERROR phases arguments\n");
        return 2;
    }
    const fs::path input = args[0];
    const int runs = std::max(1, static_cast<int>(tk::Val(args[1])));
    const fs::path output = fs::path(args[2]) / "phases.txt";
    const std::unique_ptr<QApplication> app = startApplication();
    if (!app)
        return 1;
    tk::Ref<quillet::Window1> window = quillet::implicit::Window1();
    window->Show();
    flushEvents(300);

    // The hooks as the window gives them: controls looked up by name on every call.
    const auto found = [&]<class T>(T*, const char* name) { return dynamic_cast<T*>(window->FindControl(name)); };
    const auto bar = [&] { return found(static_cast<tk::ProgressBar*>(nullptr), "ProgressBar1"); };
    const auto background = [&] {
        tk::RuntimeBackgroundTask();
        if (!window->IsOpen())
            throw std::runtime_error("window closed");
    };
    const quillet::CaptionLineHooks windowHooks{
        [&](std::int32_t v) {
            bar()->SetValue(v);
            bar()->Refresh();
        },
        [&] { return found(static_cast<tk::RadioButton*>(nullptr), "RadioButton1")->Value(); },
        background,
    };
    const quillet::CaptionLineHooks bareHooks{[](std::int32_t) {}, [] { return true; }, [] {}};
    const quillet::LayoutSettings layoutSettings{
        [&] { return found(static_cast<tk::CheckBox*>(nullptr), "TimecodeBox")->Value(); },
        [&] { return found(static_cast<tk::CheckBox*>(nullptr), "ParagraphBox")->Value(); },
        background,
    };
    bar()->SetMaximum(quillet::kProgressMaximum);

    // Counts the bar's paint events: each is a synchronous repaint from Refresh.
    struct PaintCounter : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            count += e->type() == QEvent::Paint;
            return false;
        }
    } paints;
    bar()->Widget()->installEventFilter(&paints);
    int barPaints = 0;

    // Per stage: the best time over the passes, and on the first pass the peak and the
    // final resident size above the idle window's.
    struct Stage {
        std::string name;
        double seconds = 1e300;
        double peakKb = -1, afterKb = -1;
    };
    std::vector<Stage> stages;
    PeakMemory peak;
    const std::int64_t idleKb = statusKb("VmRSS");
    const auto timed = [&](const std::string& name, const std::function<void()>& work) {
        auto stage = std::find_if(stages.begin(), stages.end(), [&](const Stage& s) { return s.name == name; });
        if (stage == stages.end())
            stage = stages.insert(stages.end(), Stage{name});
        const bool first = stage->peakKb < 0;
        if (first)
            peak.start();
        const Clock::time_point start = Clock::now();
        work();
        stage->seconds = std::min(stage->seconds, secondsBetween(start, Clock::now()));
        if (first) {
            stage->peakKb = static_cast<double>(peak.stopKb() - idleKb);
            stage->afterKb = static_cast<double>(statusKb("VmRSS") - idleKb);
        }
    };
    const auto readLines = [&] {
        std::string reason;
        const tk::Ref<tk::TextInputStream> in = tk::FolderItem::FromPath(input.string())->OpenAsTextFile(reason);
        if (!in)
            throw std::runtime_error("cannot open the input: " + reason);
        quillet::SccLines lines = quillet::readSccLines([&](std::string& text) { in->AppendLine(text); },
                                                        [&] { return in->Eof(); }, background);
        in->Close();
        return lines;
    };

    const std::unique_ptr<QStyle> plainStyle(QStyleFactory::create("Windows"));
    double lineCount = 0, captionBytes = 0, timecodeBytes = 0, bodyBytes = 0;
    std::size_t sink = 0;
    for (int run = 0; run < runs; ++run) {
        // The import's own order, as readAndDecode and doTranscTimecode run it.
        quillet::SccLines lines;
        tk::StringList timecodes, captions;
        std::string body;
        timed("read lines (TextInputStream, readSccLines)", [&] { lines = readLines(); });
        lineCount = static_cast<double>(lines.Count());
        timed("decodeCaptionLines, the window's hooks", [&] {
            quillet::decodeCaptionLines(lines, timecodes, captions, windowHooks);
        });
        timed("release the lines", [&] { lines.Release(); });
        timed("cleanCaptions", [&] { quillet::cleanCaptions(captions, background); });
        timed("assembleTranscript (timecode layout)", [&] {
            body = quillet::assembleTranscript(captions, timecodes, layoutSettings);
        });
        captionBytes = timecodeBytes = 0;
        for (const std::string& c : captions.Items())
            captionBytes += static_cast<double>(c.size());
        for (const std::string& t : timecodes.Items())
            timecodeBytes += static_cast<double>(t.size());
        bodyBytes = static_cast<double>(body.size());
        timed("write (TextOutputStream)", [&] {
            const tk::Ref<tk::TextOutputStream> out = tk::FolderItem::FromPath(output.string())->CreateTextFile();
            out->WriteLine(quillet::transcriptTitle(input.filename().string()));
            out->WriteLine("");
            out->WriteLine(body);
            out->Close();
        });
        timed("empty the lists (RemoveAll), free the body", [&] {
            captions.RemoveAll();
            timecodes.RemoveAll();
            std::string().swap(body);
        });

        // The decoding's parts alone, over the same lines.
        lines = readLines();
        timed("  part: the file's bytes alone (ifstream)", [&] { sink += readFile(input).size(); });
        timed("  part: hasTimecode", [&] {
            for (std::size_t i = 1; i < lines.Count(); ++i)
                sink += quillet::hasTimecode(lines.Line(i));
        });
        timed("  part: splitCaptionLine", [&] {
            for (std::size_t i = 1; i < lines.Count(); ++i)
                if (const auto f = quillet::splitCaptionLine(lines.Line(i)))
                    sink += f->codeField.size();
        });
        timed("  part: unbufferedTimecode", [&] {
            for (std::size_t i = 1; i < lines.Count(); ++i)
                if (const auto f = quillet::splitCaptionLine(lines.Line(i)))
                    sink += quillet::unbufferedTimecode(f->timecodeField, f->codeField).size();
        });
        timed("  part: decodeCodeField", [&] {
            for (std::size_t i = 1; i < lines.Count(); ++i)
                if (const auto f = quillet::splitCaptionLine(lines.Line(i)))
                    sink += quillet::decodeCodeField(f->codeField).size();
        });
        timed("  part: decodeCaptionLines, no-op hooks", [&] {
            quillet::decodeCaptionLines(lines, timecodes, captions, bareHooks);
        });
        captions.RemoveAll();
        timecodes.RemoveAll();
        timed("  part: the progress hook alone", [&] {
            const auto last = static_cast<std::int64_t>(lines.Count()) - 1;
            bar()->SetValue(0);
            paints.count = 0;
            for (std::int64_t i = 1; i <= last; ++i)
                windowHooks.showProgress(quillet::progressValue(i, last));
            barPaints = paints.count;
        });
        // The same repaints with a style that draws the bar as a plain fill: how much of
        // their cost is the default style's drawing.
        if (plainStyle) {
            QStyle* own = bar()->Widget()->style();
            bar()->Widget()->setStyle(plainStyle.get());
            timed("  part: progress hook, bar in Windows style", [&] {
                const auto last = static_cast<std::int64_t>(lines.Count()) - 1;
                bar()->SetValue(0);
                for (std::int64_t i = 1; i <= last; ++i)
                    windowHooks.showProgress(quillet::progressValue(i, last));
            });
            bar()->Widget()->setStyle(own);
        }
    }
    (void)sink;
    std::error_code ec;
    fs::remove(output, ec);
    const auto num = [](double v) { return tk::Str(v); };
    say("INFO lines=" + num(lineCount) + " paints=" + num(barPaints) + " captionBytes=" + num(captionBytes) +
        " timecodeBytes=" + num(timecodeBytes) + " bodyBytes=" + num(bodyBytes) + "\n");
    for (const Stage& stage : stages)
        say("PHASE stage=" + stage.name + "|seconds=" + num(stage.seconds) + "|peak=" + num(stage.peakKb) +
            "|after=" + num(stage.afterKb) + "\n");
    window->Close();
    window.reset();
    flushEvents(20);
    return 0;
}


// ---------------------------------------------------------------------------------------
// The parent: inputs, the X server, the children and the table

using quillet::testing::VirtualDisplay;

struct Run {
    double seconds = 0, toSave = 0, afterSave = 0, peakKb = 0, beforeKb = 0, gap = 0, gapStart = 0, ticks = 0, turns = 0;
};

struct ChildReport {
    std::string error;  // empty when every run went well
    double idleKb = 0, bytes = 0, lines = 0;
    std::string memoryMethod, platform;
    std::vector<Run> runs;
    struct Phase {
        std::string stage;
        double seconds, peakKb, afterKb;
    };
    std::vector<Phase> phases;
    std::map<std::string, double> info;
};

std::map<std::string, std::string> fieldsOf(const std::string& line, char separator) {
    std::map<std::string, std::string> fields;
    std::size_t at = line.find(' ') + 1;
    while (at > 0 && at < line.size()) {
        std::size_t end = line.find(separator, at);
        if (end == std::string::npos)
            end = line.size();
        const std::string field = line.substr(at, end - at);
        if (const auto eq = field.find('='); eq != std::string::npos)
            fields[field.substr(0, eq)] = field.substr(eq + 1);
        at = end + 1;
    }
    return fields;
}

ChildReport runChildProcess(const QStringList& args, const QProcessEnvironment& env) {
    ChildReport report;
    QProcess child;
    child.setProcessEnvironment(env);
    // Qt's own notes on standard error (no XDG_RUNTIME_DIR, the offscreen plugin's
    // limits) would break up the table: they are shown only when the child failed.
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForStarted(10000) || !child.waitForFinished(30 * 60 * 1000)) {
        child.kill();
        child.waitForFinished();
        report.error = "the child process did not run to its end";
        return report;
    }
    std::istringstream out(child.readAllStandardOutput().toStdString());
    std::string line;
    while (std::getline(out, line)) {
        if (line.rfind("IDLE ", 0) == 0) {
            auto f = fieldsOf(line, ' ');
            report.idleKb = tk::Val(f["rss"]);
            report.bytes = tk::Val(f["bytes"]);
            report.lines = tk::Val(f["lines"]);
            report.memoryMethod = f["memory"];
            report.platform = f["platform"];
        } else if (line.rfind("RUN ", 0) == 0) {
            auto f = fieldsOf(line, ' ');
            report.runs.push_back({tk::Val(f["seconds"]), tk::Val(f["toSave"]), tk::Val(f["afterSave"]),
                                   tk::Val(f["peak"]), tk::Val(f["before"]), tk::Val(f["gap"]), tk::Val(f["gapStart"]), tk::Val(f["ticks"]),
                                   tk::Val(f["turns"])});
        } else if (line.rfind("PHASE ", 0) == 0) {
            auto f = fieldsOf(line, '|');
            report.phases.push_back({f["stage"], tk::Val(f["seconds"]), tk::Val(f["peak"]), tk::Val(f["after"])});
        } else if (line.rfind("INFO ", 0) == 0) {
            for (const auto& [key, value] : fieldsOf(line, ' '))
                report.info[key] = tk::Val(value);
        } else if (line.rfind("ERROR ", 0) == 0 && report.error.empty()) {
            report.error = line.substr(6);
        }
    }
    if (report.error.empty() && (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0))
        report.error = "the child process ended with status " + tk::Str(child.exitCode());
    if (!report.error.empty())
        std::fprintf(stderr, "%s", child.readAllStandardError().toStdString().c_str());
    return report;
}

std::string padded(std::string text, std::size_t width, bool right = true) {
    if (text.size() < width)
        text.insert(right ? 0 : text.size(), width - text.size(), ' ');
    return text;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Setup {
    std::string name;  // "offscreen" or "xcb"
    QProcessEnvironment env;
    double targetMBps;
};

struct Config {
    fs::path input;
    std::string layout, timing;
};

constexpr double kMaxMemoryMultiple = 2.0;
constexpr double kMaxGapMs = 50.0;

int runParent(int argc, char** argv) {
    int runs = 5;
    std::string setupChoice = "both";
    bool phases = false, gapsOnly = false;
    std::optional<fs::path> ownInput;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, static_cast<int>(tk::Val(argv[++i])));
        else if (a == "--setup" && i + 1 < argc)
            setupChoice = argv[++i];
        else if (a == "--phases")
            phases = true;
        else if (a == "--gaps")
            gapsOnly = true;
        else if (a == "--input" && i + 1 < argc)
            ownInput = fs::absolute(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--setup offscreen|xcb|both] [--phases] [--gaps] [--input FILE.scc]\n",
                         argv[0]);
            return 2;
        }
    }
    if (setupChoice != "both" && setupChoice != "offscreen" && setupChoice != "xcb") {
        std::fprintf(stderr, "--setup takes offscreen, xcb or both\n");
        return 2;
    }
    QCoreApplication app(argc, argv);

    // Inputs and the settings each is run with.
    std::vector<Config> configs;
    std::optional<fs::path> big;
    if (ownInput) {
        if (!fs::exists(*ownInput)) {
            std::fprintf(stderr, "%s does not exist\n", ownInput->c_str());
            return 2;
        }
        big = ownInput;
        configs.push_back({*ownInput, "timecode", "unbuffered"});
    } else {
        const std::optional<fs::path> small = makeInput(1);
        big = makeInput(20);
        if (!small || !big) {
            std::fprintf(stderr, "could not make the input files\n");
            return 1;
        }
        const std::optional<fs::path> oneLine = makeOneLineInput(100);
        if (!oneLine) {
            std::fprintf(stderr, "could not make the one-line input\n");
            return 1;
        }
        if (!gapsOnly)
            configs.push_back({*small, "timecode", "unbuffered"});
        configs.push_back({*big, "timecode", "unbuffered"});
        configs.push_back({*oneLine, "timecode", "unbuffered"});
    }
    if (!gapsOnly) {
        configs.push_back({*big, "line", "unbuffered"});
        configs.push_back({*big, "paragraph", "unbuffered"});
        configs.push_back({*big, "timecode", "keep"});
    }

    std::vector<Setup> setups;
    QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
    headless.remove("DISPLAY");
    headless.remove("WAYLAND_DISPLAY");
    headless.insert("QT_QPA_PLATFORM", "offscreen");
    if (setupChoice == "both" || setupChoice == "offscreen")
        setups.push_back({"offscreen", headless, 250});
    VirtualDisplay display;
    if (setupChoice == "both" || setupChoice == "xcb") {
        if (display.start()) {
            QProcessEnvironment shown = headless;
            shown.insert("QT_QPA_PLATFORM", "xcb");
            shown.insert("DISPLAY", display.name());
            setups.push_back({"xcb", shown, 150});
        } else {
            std::printf("(Xvfb could not be started: the window-shown set-up is skipped)\n");
        }
    }

    const fs::path outDir = fs::temp_directory_path() / ("quillet-convert-bench-" + tk::Str(::getpid()));
    fs::create_directories(outDir);

    std::printf("Whole conversion through Window1.importSCC, best and median of %d runs; each set-up, input and\n"
                "settings in a fresh process. MB = 10^6 bytes. peak+ = highest resident size during the runs minus\n"
                "the idle window's before the first run. gap = longest time without an event-loop turn, and when\n"
                "it began (ms into the run). Targets: >= 250 MB/s headless, >= 150 MB/s shown; peak+ <= 2x the\n"
                "input; gap <= 50 ms.\n\n",
                runs);
    const std::vector<std::pair<std::string, std::size_t>> columns = {
        {"set-up", 9},     {"input", 8},   {"settings", 21}, {"best MB/s", 9}, {"median", 6},
        {"best ms", 7},    {"to save", 7}, {"write", 6},     {"idle MB", 7},   {"peak+ MB", 8},
        {"x input", 7},    {"gap ms", 6},  {"gap at", 6},    {"turns", 5},     {"targets", 0}};
    // "set-up", "input", "settings" and "targets" read from the left, the figures from the right.
    std::string header;
    for (const auto& [name, width] : columns) {
        const bool left = name == "set-up" || name == "input" || name == "settings" || name == "targets";
        header += padded(name, width, !left) + " ";
    }
    std::printf("%s\n", header.c_str());
    std::fflush(stdout);

    int failures = 0;
    const auto mb = [](double bytes) { return bytes / 1e6; };
    for (const Setup& setup : setups) {
        for (const Config& config : configs) {
            const QStringList args = {"--child", QString::fromStdString(config.input.string()),
                                      QString::fromStdString(config.layout), QString::fromStdString(config.timing),
                                      QString::fromStdString(tk::Str(runs)), QString::fromStdString(outDir.string())};
            const ChildReport r = runChildProcess(args, setup.env);
            const double bytes = r.bytes > 0 ? r.bytes : static_cast<double>(fs::file_size(config.input));
            std::string row = padded(setup.name, 9, false) + " " + padded(tk::Format(mb(bytes), "0.0") + " MB", 8, false) +
                              " " + padded(config.layout + ", " + config.timing, 21, false) + " ";
            const std::string error = !r.error.empty() ? r.error
                                      : r.runs.empty()   ? "no run reported"
                                      : r.platform != setup.name
                                          ? "the child ran on the \"" + r.platform + "\" platform"
                                          : "";
            if (!error.empty()) {
                ++failures;
                std::printf("%sFAILED: %s\n", row.c_str(), error.c_str());
                std::fflush(stdout);
                continue;
            }
            std::vector<double> seconds;
            const Run* best = &r.runs.front();
            const Run* gappiest = &r.runs.front();
            double peakKb = 0;
            for (const Run& run : r.runs) {
                seconds.push_back(run.seconds);
                if (run.seconds < best->seconds)
                    best = &run;
                if (run.gap > gappiest->gap)
                    gappiest = &run;
                peakKb = std::max(peakKb, run.peakKb);
            }
            const double gap = gappiest->gap;
            const double bestMBps = mb(bytes) / best->seconds;
            const double medianMBps = mb(bytes) / median(seconds);
            const double aboveIdle = std::max(0.0, peakKb - r.idleKb) * 1024;
            const double multiple = aboveIdle / bytes;
            std::string missed;
            if (bestMBps < setup.targetMBps) missed += " speed";
            if (multiple > kMaxMemoryMultiple) missed += " memory";
            if (gap * 1000 > kMaxGapMs) missed += " gap";
            const std::vector<std::string> cells = {
                tk::Format(bestMBps, "0.0"),           tk::Format(medianMBps, "0.0"),
                tk::Format(best->seconds * 1000, "0"), tk::Format(best->toSave * 1000, "0"),
                tk::Format(best->afterSave * 1000, "0"), tk::Format(mb(r.idleKb * 1024), "0.0"),
                tk::Format(mb(aboveIdle), "0.0"),      tk::Format(multiple, "0.00"),
                tk::Format(gap * 1000, "0.0"),         tk::Format(gappiest->gapStart * 1000, "0"),
                tk::Str(best->turns)};
            for (std::size_t c = 0; c < cells.size(); ++c)
                row += padded(cells[c], columns[c + 3].second) + " ";
            row += missed.empty() ? "met" : "missed:" + missed;
            if (r.memoryMethod != "hwm")
                row += " (memory sampled)";
            std::printf("%s\n", row.c_str());
            std::fflush(stdout);
        }
    }
    std::printf("\nto save = from the open dialog to the save dialog (reading, decoding, clean-up, layout);\n"
                "write = from the save dialog to the end (writing the file, emptying the lists).\n");

    if (phases && big) {
        for (const Setup& setup : setups) {
            const ChildReport r = runChildProcess({"--phases-child", QString::fromStdString(big->string()),
                                                   QString::fromStdString(tk::Str(runs)),
                                                   QString::fromStdString(outDir.string())},
                                                  setup.env);
            std::printf("\nStages one at a time on %s (%s, timecode layout, unbuffered; best of %d; memory of the\n"
                        "first pass above the idle window):\n",
                        big->filename().c_str(), setup.name.c_str(), runs);
            if (!r.error.empty()) {
                ++failures;
                std::printf("  FAILED: %s\n", r.error.c_str());
                continue;
            }
            const double bytes = static_cast<double>(fs::file_size(*big));
            const double lines = std::max(1.0, r.info.count("lines") ? r.info.at("lines") : 0.0);
            std::printf("  %s %s %s %s %s %s\n", padded("stage", 44, false).c_str(), padded("ms", 8).c_str(),
                        padded("MB/s", 7).c_str(), padded("ns/line", 8).c_str(), padded("peak MB", 8).c_str(),
                        padded("after MB", 9).c_str());
            for (const ChildReport::Phase& p : r.phases) {
                // A stage too short to time gives no rate; the parts' memory says nothing.
                const bool timedWell = p.seconds > 1e-5;
                const bool part = p.stage.rfind("  ", 0) == 0;
                std::printf("  %s %s %s %s %s %s\n", padded(p.stage, 44, false).c_str(),
                            padded(tk::Format(p.seconds * 1000, "0.0"), 8).c_str(),
                            padded(timedWell ? tk::Format(mb(bytes) / p.seconds, "0") : "-", 7).c_str(),
                            padded(tk::Format(p.seconds * 1e9 / lines, "0"), 8).c_str(),
                            padded(part ? "" : tk::Format(mb(p.peakKb * 1024), "0.0"), 8).c_str(),
                            padded(part ? "" : tk::Format(mb(p.afterKb * 1024), "0.0"), 9).c_str());
            }
            const auto info = [&](const char* key) { return r.info.count(key) ? r.info.at(key) : 0.0; };
            std::printf("  %s lines; captions %s MB of text, timecodes %s MB, body %s MB; the progress bar\n"
                        "  repainted %s times in one pass\n",
                        tk::Str(info("lines")).c_str(), tk::Format(mb(info("captionBytes")), "0.0").c_str(),
                        tk::Format(mb(info("timecodeBytes")), "0.0").c_str(),
                        tk::Format(mb(info("bodyBytes")), "0.0").c_str(), tk::Str(info("paints")).c_str());
        }
    }
    std::error_code ec;
    fs::remove_all(outDir, ec);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc > 1 && std::string_view(argv[1]) == "--child")
            return runChild(std::vector<std::string>(argv + 2, argv + argc));
        if (argc > 1 && std::string_view(argv[1]) == "--phases-child")
            return runPhases(std::vector<std::string>(argv + 2, argv + argc));
        return runParent(argc, argv);
    } catch (const std::exception& e) {
        say(std::string("ERROR ") + e.what() + "\n");
        return 1;
    }
}
