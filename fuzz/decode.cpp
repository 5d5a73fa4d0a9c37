// The fast caption decoder against the literal one: decodeCodeField must give exactly
// what decodeCodeFieldReference gives, byte for byte, on any code field.
//
// The fast path treats the letter case of hex groups with care (whole groups in one case
// take cached moves, mixed ones go byte by byte), and runs of hex digits by their length
// (a group, a few glued groups, hundreds of digits), so besides libFuzzer's own mutations
// custom steps flip the case of hex letters in a stretch of the input, glue groups
// together and lengthen runs; the dictionary (decode.dict) holds every table code in
// lower and upper case.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "decoding/CaptionDecoder.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

// The reference makes 568 passes over the field, so long inputs would only slow the
// search down; caption lines are far shorter than this.
constexpr std::size_t kMaxField = 4096;

// Flips the case of the hex letters in a short stretch (or, now and then, everywhere):
// mixed-case groups and case changes inside a held-back pattern.
void FlipCase(fuzz::Random& random, std::uint8_t* data, std::size_t size) {
    const std::size_t from = random.Chance(8) ? 0 : random.Next() % size;
    const std::size_t to = random.Chance(8) ? size : std::min(size, from + 1 + random.Next() % 8);
    const bool toUpper = random.Chance(2), alternate = random.Chance(3);
    for (std::size_t i = from; i < to; ++i) {
        const std::uint8_t c = data[i];
        const bool flip = alternate ? (i - from) % 2 == 0 : !random.Chance(4);
        if (flip && (toUpper ? c >= 'a' && c <= 'f' : c >= 'A' && c <= 'F')) data[i] = c ^ 0x20;
    }
}

// Glues groups together: the spaces of a stretch (or of the whole field) go, so that runs
// of hex digits longer than a group form, up to the runs of hundreds of digits that the
// decoder rewrites the slow way. Byte-level mutations almost never build those.
std::size_t GlueGroups(fuzz::Random& random, std::uint8_t* data, std::size_t size) {
    const std::size_t from = random.Chance(4) ? 0 : random.Next() % size;
    const std::size_t to = random.Chance(4) ? size : std::min(size, from + 1 + random.Next() % 600);
    std::size_t out = from;
    for (std::size_t i = from; i < to; ++i)
        if (data[i] != ' ') data[out++] = data[i];
    std::memmove(data + out, data + to, size - to);
    return size - (to - out);
}

// Repeats a stretch of hex digits until the run is several hundred digits long.
std::size_t LengthenRun(fuzz::Random& random, std::uint8_t* data, std::size_t size, std::size_t maxSize) {
    std::size_t from = random.Next() % size;
    while (from < size && !std::isxdigit(data[from])) ++from;
    std::size_t end = from;
    while (end < size && std::isxdigit(data[end])) ++end;
    if (end == from) return size;
    const std::size_t piece = std::min<std::size_t>(end - from, 1 + random.Next() % 8);
    const std::size_t grow = std::min(maxSize - size, 200 + random.Next() % 500);
    if (grow < piece) return size;
    std::memmove(data + end + grow, data + end, size - end);
    for (std::size_t i = 0; i < grow; ++i) data[end + i] = data[from + i % piece];
    return size + grow;
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    fuzz::Random random(seed);
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (size == 0 || random.Chance(2)) return size;
    switch (random.Next() % 8) {
    case 0: return GlueGroups(random, data, size);
    case 1: return LengthenRun(random, data, size, maxSize);
    default: FlipCase(random, data, size); return size;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxField) size = kMaxField;
    const std::string_view field(reinterpret_cast<const char*>(data), size);
    const std::string fast = quillet::decodeCodeField(field);
    const std::string reference = quillet::decodeCodeFieldReference(field);
    fuzz::CheckEqual(fast, reference, "decodeCodeField differs from decodeCodeFieldReference for the field " +
                                          fuzz::Shown(field));
    // A second call runs on the decoder's cached state, which the first may have grown.
    fuzz::CheckEqual(quillet::decodeCodeField(field), reference, "decodeCodeField changed its answer on a second call");
    return 0;
}
