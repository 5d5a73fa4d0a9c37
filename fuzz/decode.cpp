// The fast caption decoder against the literal one: decodeCodeField must give exactly
// what decodeCodeFieldReference gives, byte for byte, on any code field.
//
// The fast path treats the letter case of hex groups with care (whole groups in one case
// take cached moves, mixed ones go byte by byte), so besides libFuzzer's own mutations a
// custom step flips the case of hex letters in a stretch of the input, and the dictionary
// (decode.dict) holds every table code in lower and upper case.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "decoding/CaptionDecoder.h"

namespace {
// The reference makes 568 passes over the field, so long inputs would only slow the
// search down; caption lines are far shorter than this.
constexpr std::size_t kMaxField = 4096;
}  // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    fuzz::Random random(seed);
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (size == 0 || random.Chance(2)) return size;
    // Flip the case of the hex letters in a short stretch (or, now and then, everywhere):
    // mixed-case groups and case changes inside a held-back pattern.
    std::size_t from = random.Next() % size;
    std::size_t to = random.Chance(8) ? size : std::min(size, from + 1 + random.Next() % 8);
    if (random.Chance(8)) from = 0;
    const bool toUpper = random.Chance(2);
    const bool alternate = random.Chance(3);
    for (std::size_t i = from; i < to; ++i) {
        const char c = static_cast<char>(data[i]);
        const bool flip = alternate ? ((i - from) % 2 == 0) : (!random.Chance(4));
        if (!flip) continue;
        if (toUpper && c >= 'a' && c <= 'f') data[i] = static_cast<std::uint8_t>(c - 'a' + 'A');
        else if (!toUpper && c >= 'A' && c <= 'F') data[i] = static_cast<std::uint8_t>(c - 'A' + 'a');
    }
    return size;
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
