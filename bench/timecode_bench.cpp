// Cost of the unbuffered timecode of one caption line: the literal text steps against the
// fast road, on the timecode and code fields of a real-sized SCC file.
//
//   timecode_bench [FILE.scc | --generated]
//
// Without a file it reads /tmp/quillet-bench-20mb.scc when that exists (made by
// make-big-scc.py) and otherwise, or with --generated, makes 176,000 lines of rising
// timecodes. Before
// timing, it checks that both roads write the same text for every line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decoding/SccLines.h"
#include "decoding/Timecode.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Line {
    std::string_view timecode;
    std::string_view code;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A stand-in file: timecodes rising by 1 to 90 frames, in both separator forms, with code
// fields of 1 to 40 groups.
std::string generatedFile(std::size_t lines) {
    std::mt19937_64 random(2024);
    std::uniform_int_distribution<int> step(1, 90), groups(1, 40);
    std::string text = "Scenarist_SCC V1.0\n\n";
    long long frame = 0;
    char timecode[32];
    for (std::size_t i = 0; i < lines; ++i) {
        frame += step(random);
        std::snprintf(timecode, sizeof timecode, i % 2 ? "%02lld:%02lld:%02lld:%02lld" : "%02lld:%02lld:%02lld;%02lld",
                      frame / 108000, frame / 1800 % 60, frame / 30 % 60, frame % 30);
        text += timecode;
        text += '\t';
        for (int g = groups(random); g > 0; --g)
            text += g > 1 ? "9420 " : "9420";
        text += "\n\n";
    }
    return text;
}

// The fields of every non-empty line after the first, as the import cuts them.
std::vector<Line> captionLines(const std::string& text) {
    std::vector<Line> lines;
    bool header = true;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + from, end - from);
        from = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (std::exchange(header, false)) continue;
        if (const auto fields = quillet::splitCaptionLine(line)) lines.push_back({fields->timecodeField, fields->codeField});
    }
    return lines;
}

template <typename Convert>
double bestNanosecondsPerLine(const std::vector<Line>& lines, Convert convert, int runs, std::size_t& checksum) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        std::size_t sum = 0;
        for (const Line& line : lines) sum += convert(line.timecode, line.code).back();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::min(best, seconds);
        checksum += sum;
    }
    return best * 1e9 / static_cast<double>(lines.size());
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path big = "/tmp/quillet-bench-20mb.scc";
    std::string text;
    const bool generated = argc > 1 && std::string_view(argv[1]) == "--generated";
    if (argc > 1 && !generated) {
        text = readFile(argv[1]);
        std::printf("input: %s\n", argv[1]);
    } else if (!generated && fs::exists(big)) {
        text = readFile(big);
        std::printf("input: %s\n", big.c_str());
    } else {
        text = generatedFile(176000);
        std::printf("input: a generated sequence\n");
    }
    const std::vector<Line> lines = captionLines(text);
    std::printf("%zu caption lines, %.2f MB of file\n", lines.size(), static_cast<double>(text.size()) / 1e6);
    if (lines.empty()) return 1;

    std::size_t mismatches = 0;
    for (const Line& line : lines) {
        const std::string fast = quillet::unbufferedTimecode(line.timecode, line.code);
        const std::string literal = quillet::unbufferedTimecodeLiteral(line.timecode, line.code);
        if (fast != literal && mismatches++ < 3)
            std::printf("MISMATCH on %.*s: fast %s, literal %s\n", static_cast<int>(line.timecode.size()),
                        line.timecode.data(), fast.c_str(), literal.c_str());
    }
    std::printf("agreement check: %zu lines, %zu mismatches\n", lines.size(), mismatches);

    std::size_t checksum = 0;
    const double literalNs = bestNanosecondsPerLine(lines, quillet::unbufferedTimecodeLiteral, 3, checksum);
    const double fastNs = bestNanosecondsPerLine(lines, quillet::unbufferedTimecode, 9, checksum);
    std::printf("literal: %8.1f ns a line (best of 3)\n", literalNs);
    std::printf("fast:    %8.1f ns a line (best of 9), %.1fx faster\n", fastNs, literalNs / fastNs);

    // The two ordinary shapes, over and over, with a six-group code field.
    const std::string code = "9420 9420 94ae 94ae 9452 9452";
    const std::vector<Line> ordinary(200000, Line{"00:01:02:15", code});
    const std::vector<Line> dropFrame(200000, Line{"01:00:00;00", code});
    std::printf("fast on 00:01:02:15: %.1f ns, on 01:00:00;00: %.1f ns\n",
                bestNanosecondsPerLine(ordinary, quillet::unbufferedTimecode, 9, checksum),
                bestNanosecondsPerLine(dropFrame, quillet::unbufferedTimecode, 9, checksum));

    // What the whole file's timecodes cost against the time that 250 MB/s allows.
    const double budgetMs = static_cast<double>(text.size()) / 250e6 * 1e3;
    std::printf("whole file: literal %.1f ms, fast %.1f ms, of the %.1f ms that 250 MB/s allows\n",
                literalNs * static_cast<double>(lines.size()) / 1e6, fastNs * static_cast<double>(lines.size()) / 1e6,
                budgetMs);
    std::printf("(checksum %zu)\n", checksum);
    return mismatches == 0 ? 0 : 2;
}
