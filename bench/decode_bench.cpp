// Throughput of code-field decoding: the fast decoder against the literal reference.
//
//   decode_bench [FILE.scc]
//
// Without a file it builds a ~20 MB SCC file from the sample captions (or, when that
// script is missing, repeats the largest test file). Before timing anything it checks
// that both decoders agree; the reference is far too slow to decode 20 MB, so it is
// checked and timed on the first ~1 MB of code fields plus an evenly spread sample.
// The same is then done with every code field written in upper-case hex, which the
// decoders match like lower case.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "decoding/CaptionDecoder.h"
#include "decoding/SccLines.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Field 1 of every non-empty line after the first, as the import cuts it.
std::vector<std::string> codeFields(const std::string& text) {
    std::vector<std::string> fields;
    std::istringstream in(text);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (std::exchange(header, false)) continue;
        if (const auto split = quillet::splitCaptionLine(line)) fields.emplace_back(split->codeField);
    }
    return fields;
}

std::string defaultInput() {
    const fs::path out = "/tmp/quillet-bench-20mb.scc";
    const fs::path script = fs::path(QUILLET_SOURCE_DIR) / ".." / "shared" / "bench" / "make-big-scc.py";
    if (fs::exists(script)) {
        if (!fs::exists(out)) {
            const std::string command = "python3 '" + script.string() + "' '" + out.string() + "' 20";
            if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not run %s\n", command.c_str());
        }
        if (fs::exists(out)) return readFile(out);
    }
    fs::path largest;
    std::uintmax_t largestSize = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(QUILLET_SOURCE_DIR) / "tests" / "data")) {
        if (entry.path().extension() == ".scc" && entry.file_size() > largestSize) {
            largest = entry.path();
            largestSize = entry.file_size();
        }
    }
    std::printf("(no generator script; repeating %s)\n", largest.filename().c_str());
    const std::string one = readFile(largest);
    std::string text;
    while (!one.empty() && text.size() < 20U * 1000 * 1000) text += one;
    return text;
}

std::size_t totalBytes(const std::vector<std::string>& fields) {
    std::size_t total = 0;
    for (const auto& f : fields) total += f.size();
    return total;
}

std::vector<std::string> upperCased(std::vector<std::string> fields) {
    for (std::string& field : fields)
        for (char& c : field)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return fields;
}

std::size_t countMismatches(const std::vector<std::string>& sample) {
    std::size_t mismatches = 0;
    for (const auto& f : sample) {
        if (quillet::decodeCodeField(f) != quillet::decodeCodeFieldReference(f)) {
            if (mismatches++ < 3) std::printf("MISMATCH on field: %s\n", f.c_str());
        }
    }
    return mismatches;
}

template <typename Decode>
double bestSeconds(const std::vector<std::string>& fields, Decode decode, int runs, std::size_t& checksum) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        std::size_t sum = 0;
        for (const auto& f : fields) sum += decode(f).size();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::min(best, seconds);
        checksum += sum;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string text = argc > 1 ? readFile(argv[1]) : defaultInput();
    const std::vector<std::string> fields = codeFields(text);
    const std::size_t bytes = totalBytes(fields);
    std::printf("%zu code fields, %.2f MB of code-field text\n", fields.size(), bytes / 1e6);
    if (fields.empty()) return 1;

    // The reference sample: the first ~1 MB, then every k-th field for ~1 MB more.
    std::vector<std::string> sample;
    std::size_t sampleBytes = 0;
    std::size_t i = 0;
    for (; i < fields.size() && sampleBytes < 1000 * 1000; ++i) {
        sample.push_back(fields[i]);
        sampleBytes += fields[i].size();
    }
    const std::size_t rest = fields.size() - i;
    const std::size_t step = std::max<std::size_t>(1, rest / std::max<std::size_t>(1, i));
    for (std::size_t j = i; j < fields.size(); j += step) sample.push_back(fields[j]);

    const std::vector<std::string> upperFields = upperCased(fields);
    const std::vector<std::string> upperSample = upperCased(sample);
    const std::size_t mismatches = countMismatches(sample);
    const std::size_t upperMismatches = countMismatches(upperSample);
    const char* const sampled = sample.size() < fields.size() ? " (sampled)" : "";
    std::printf("agreement check: %zu fields (%.2f MB), %zu mismatches%s\n", sample.size(),
                totalBytes(sample) / 1e6, mismatches, sampled);
    std::printf("agreement check, upper-case hex: %zu fields (%.2f MB), %zu mismatches%s\n", upperSample.size(),
                totalBytes(upperSample) / 1e6, upperMismatches, sampled);

    std::size_t checksum = 0;
    const std::vector<std::string> oracleSet(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(std::min(sample.size(), i)));
    const double oracleSeconds = bestSeconds(oracleSet, quillet::decodeCodeFieldReference, 2, checksum);
    const auto decode = [](std::string_view f) { return quillet::decodeCodeField(f); };
    const double productSeconds = bestSeconds(fields, decode, 5, checksum);
    const double upperSeconds = bestSeconds(upperFields, decode, 5, checksum);
    // The import passes a hook for turns of the event loop; on fields of usual length it
    // is never called, and must cost nothing.
    const std::function<void()> turn = [] {};
    const double hookedSeconds =
        bestSeconds(fields, [&](std::string_view f) { return quillet::decodeCodeField(f, &turn); }, 5, checksum);
    std::printf("reference: %8.2f MB/s  (%.2f MB, best of 2)\n", totalBytes(oracleSet) / 1e6 / oracleSeconds,
                totalBytes(oracleSet) / 1e6);
    std::printf("decoder:   %8.2f MB/s  (%.2f MB, best of 5)\n", bytes / 1e6 / productSeconds, bytes / 1e6);
    std::printf("decoder, upper-case hex: %8.2f MB/s  (%.2f MB, best of 5)\n", bytes / 1e6 / upperSeconds,
                bytes / 1e6);
    std::printf("decoder, with a turn hook: %8.2f MB/s  (%.2f MB, best of 5)\n", bytes / 1e6 / hookedSeconds,
                bytes / 1e6);
    std::printf("(checksum %zu)\n", checksum);
    return mismatches == 0 && upperMismatches == 0 ? 0 : 2;
}
