#pragma once
// What the runtime counts as one character of a UTF-8 text. Split, Len and the caption
// decoder's fast path all cut characters with this one function, so they can never
// disagree; it is inline because the decoder calls it on every non-ASCII byte pair.
#include <cstddef>
#include <string_view>

namespace tk {

// Bytes taken by the character that starts at `pos` (which must be < text.size()): the
// length of a well-formed UTF-8 sequence (no overlong forms, no surrogates, nothing above
// U+10FFFF), or 1 when the byte there does not start one. Counting a stray byte as a
// character of its own means a text that is not valid UTF-8 still splits into pieces that
// join back to the same bytes.
inline std::size_t Utf8CharacterLength(std::string_view text, std::size_t pos) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(pos);
    if (lead < 0x80)
        return 1;

    std::size_t continuation = 0;
    unsigned char low = 0x80;   // allowed range of the first continuation byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuation = 1;
    } else if (lead == 0xE0) {
        continuation = 2;
        low = 0xA0;
    } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
        continuation = 2;
    } else if (lead == 0xED) {
        continuation = 2;
        high = 0x9F;
    } else if (lead == 0xF0) {
        continuation = 3;
        low = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
        continuation = 3;
    } else if (lead == 0xF4) {
        continuation = 3;
        high = 0x8F;
    } else {
        return 1;
    }

    if (text.size() - pos <= continuation)
        return 1;
    if (byteAt(pos + 1) < low || byteAt(pos + 1) > high)
        return 1;
    for (std::size_t i = 2; i <= continuation; ++i)
        if (byteAt(pos + i) < 0x80 || byteAt(pos + i) > 0xBF)
            return 1;
    return continuation + 1;
}

}  // namespace tk
