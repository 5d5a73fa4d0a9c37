#pragma once
// What the fuzz targets share: a failed check that stops the run with both sides shown,
// a small deterministic random source driven by the input, and the reference line
// splitter that the text-stream target holds the real reader to (and that the import
// target then uses in its place, so it needs no file).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// The checking code's own branches are no news about the code under test: left out of
// the coverage that guides the fuzzer, they neither slow it down nor distract it.
#if defined(__clang__)
#define FUZZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_NO_COVERAGE
#endif

namespace fuzz {

// Printable form of a text for a failure report: bytes outside printable ASCII as \xNN.
FUZZ_NO_COVERAGE inline std::string Shown(std::string_view text, std::size_t limit = 400) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, c >= 0x20 && c < 0x7F && c != '"' && c != '\\' ? "%c" : "\\x%02X", c);
        out += buffer;
    }
    return out + (text.size() > limit ? "\"..." : "\"");
}

// Stops the run: libFuzzer saves the input that got here as a crash file.
[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "\n==== fuzz check failed ====\n%s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}
inline void Check(bool ok, const std::string& what) { if (!ok) Fail(what); }
inline void CheckEqual(std::string_view actual, std::string_view expected, const std::string& what) {
    if (actual != expected) Fail(what + "\n  got:      " + Shown(actual) + "\n  expected: " + Shown(expected));
}

// splitmix64: the same input always gives the same answers, so every finding replays.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    bool Chance(unsigned oneIn) { return Next() % oneIn == 0; }

private:
    std::uint64_t state_;
};

FUZZ_NO_COVERAGE inline std::uint64_t Hash(std::string_view bytes) {  // FNV-1a
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    return h;
}

// ---- Reference line reading -------------------------------------------------------------

// Appends the text with every ill-formed UTF-8 subsequence replaced, as Unicode's
// "substitution of maximal subparts" practice says: at an ill-formed position, the longest
// prefix of a well-formed sequence that stands there (at least one byte) becomes one U+FFFD.
FUZZ_NO_COVERAGE inline void AppendRepairedUtf8(std::string_view bytes, std::string& out) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char b = at(i);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        // Table 3-7 of the Unicode standard: the well-formed byte sequences.
        std::size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) need = 1;
        else if (b == 0xE0) need = 2, lo = 0xA0;
        else if (b >= 0xE1 && b <= 0xEC) need = 2;
        else if (b == 0xED) need = 2, hi = 0x9F;
        else if (b >= 0xEE && b <= 0xEF) need = 2;
        else if (b == 0xF0) need = 3, lo = 0x90;
        else if (b >= 0xF1 && b <= 0xF3) need = 3;
        else if (b == 0xF4) need = 3, hi = 0x8F;
        std::size_t taken = 1;
        bool whole = need > 0;
        for (std::size_t k = 1; whole && k <= need; ++k) {
            const unsigned char low = k == 1 ? lo : 0x80, high = k == 1 ? hi : 0xBF;
            if (i + k < bytes.size() && at(i + k) >= low && at(i + k) <= high)
                ++taken;
            else
                whole = false;
        }
        out += whole ? bytes.substr(i, taken) : std::string_view("\xEF\xBF\xBD");
        i += taken;
    }
}

// The lines of a file's bytes: a leading byte-order mark skipped; LF, CRLF and a lone CR
// each end a line; a final line end starts no further line; each line repaired as above.
// `atFileStart` false reads bytes from the middle of a file, where a mark is no mark.
FUZZ_NO_COVERAGE inline std::vector<std::string> ReferenceLines(std::string_view bytes, bool atFileStart = true) {
    std::vector<std::string> lines;
    if (atFileStart && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
        std::string line;
        AppendRepairedUtf8(bytes.substr(start, end - start), line);
        lines.push_back(std::move(line));
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return lines;
}

}  // namespace fuzz
