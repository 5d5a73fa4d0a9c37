// The fast caption decoder against the literal one: decodeCodeField must give exactly
// what decodeCodeFieldReference gives, byte for byte, on any code field.
//
// The fast path treats the letter case of hex groups with care (whole groups in one case
// take cached moves, mixed ones go byte by byte), and runs of hex digits by their length
// (a group, a few glued groups, hundreds of digits), so besides libFuzzer's own mutations
// custom steps flip the case of hex letters in a stretch of the input, glue groups
// together and lengthen runs; the dictionary (decode.dict) holds every table code in
// lower and upper case.
//
// Fields of over 64 KB are decoded in stretches with a turn of the event loop between
// them (the turn hook given here does nothing), and runs of over 4 KB of glued digits
// take roads of their own; inputs are kept far shorter, so an input that starts with
// byte 1, 2 or 3 stands for a long field made from the rest. Its second byte says where
// the rest goes: after spaces up to the first stretch's edge (1), after characters of
// four bytes that no row touches, so that the edge falls among the units too (2; bit 7
// shifts their pairs by a character), or repeated into a run of over 4 KB that starts
// up to 8 KB before the edge (3).
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "decoding/CaptionDecoder.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

// The reference makes 568 passes over the field, so long inputs would only slow the
// search down; caption lines are far shorter than this.
constexpr std::size_t kMaxField = 4096;
constexpr std::size_t kStretch = std::size_t{1} << 16;

// The field that an input stands for (see the top of this file).
std::string FieldOf(std::string_view input) {
    if (input.size() < 2 || input[0] < 1 || input[0] > 3) return std::string(input);
    const auto where = static_cast<unsigned char>(input[1]);
    const std::string_view piece = input.substr(2);
    if (input[0] == 3) {
        std::string run;
        while (run.size() < 4097 && !piece.empty()) run += piece;
        return std::string(kStretch - where * std::size_t{32}, ' ') + run;
    }
    const std::size_t fill = kStretch - (where & 0x7F) % (piece.size() + 2);
    if (input[0] == 1) return std::string(fill, ' ').append(piece);
    const std::size_t zs = fill % 4 + (where & 0x80 ? 4 : 0);
    std::string field;
    field.reserve(fill + piece.size());
    while (field.size() < fill - zs) field += "\xF0\x9F\x8E\xB5";
    return field.append(zs, 'z').append(piece);
}

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
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string field = FieldOf(input);
    const std::string fast = quillet::decodeCodeField(field);
    const std::string reference = quillet::decodeCodeFieldReference(field);
    const std::string shown = field.size() == input.size() ? fuzz::Shown(field)
                                                            : "made of the input " + fuzz::Shown(input) + " (" +
                                                                  std::to_string(field.size()) + " bytes)";
    fuzz::CheckEqual(fast, reference, "decodeCodeField differs from decodeCodeFieldReference for the field " + shown);
    // A second call runs on the decoder's cached state, which the first may have grown.
    fuzz::CheckEqual(quillet::decodeCodeField(field), reference, "decodeCodeField changed its answer on a second call");
    const std::function<void()> turn = [] {};
    fuzz::CheckEqual(quillet::decodeCodeField(field, &turn), reference,
                     "decodeCodeField with turns differs from decodeCodeFieldReference for the field " + shown);
    return 0;
}
