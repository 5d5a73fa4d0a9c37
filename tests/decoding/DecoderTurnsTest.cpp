// Turns of the event loop inside one huge caption line: they come every 64 KB or so on
// every road through the decoder, and neither they nor what they run change the text.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>

#include "decoding/CaptionDecoder.h"
#include "decoding/SccImport.h"

namespace {

using quillet::decodeCodeField;
using quillet::decodeCodeFieldReference;

TEST(DecoderTurns, ComeWithinAHugeFieldAndChangeNothing) {
    // Spaced groups, a glued run of random hex (streamed), a run of few distinct groups
    // (rewritten by the rows that occur) and bytes of any kind.
    std::mt19937 random(5);
    std::string groups, glued(1 << 18, '0'), fewGroups(1 << 17, '0'), bytes(1 << 19, '\0');
    while (groups.size() < (1u << 19)) groups += "9420 c8e9 2520 9137 94ae 4980 \xC3\xA9 1323 ";
    for (char& c : glued) c = "0123456789abcdef"[random() % 16];
    for (char& c : fewGroups) c = "914"[random() % 3];
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    const std::string small = "9420 c8e9 2520 9137 1323 94ae", smallCaption = decodeCodeFieldReference(small);
    for (const std::string* field : {&groups, &glued, &fewGroups, &bytes}) {
        const std::string plain = decodeCodeField(*field);
        std::size_t turns = 0, nested = 0;
        const std::function<void()> count = [&] { ++turns; };
        EXPECT_TRUE(decodeCodeField(*field, &count) == plain) << field->size();  // no megabytes printed
        // A turn per 64 KB of the field, and again of the caption's units (no fewer than
        // its bytes), bar the last piece of each.
        EXPECT_GE(turns + 2, (field->size() + plain.size()) / 65536) << field->size();
        // A turn that closes the window; then turns that decode other fields on this
        // thread (a huge one too: in fresh caches, slow under the sanitizers but for groups).
        const std::function<void()> closing = [] { throw std::runtime_error("closed"); };
        EXPECT_THROW(decodeCodeField(*field, &closing), std::runtime_error);
        const std::function<void()> decodeMore = [&] {
            EXPECT_EQ(decodeCodeField(small, &count), smallCaption);
            EXPECT_TRUE(nested++ != 2 || field != &groups || decodeCodeField(groups) == plain);
        };
        EXPECT_TRUE(decodeCodeField(*field, &decodeMore) == plain) << field->size();
    }
}

TEST(DecoderTurns, ComeWithinOneHugeCaptionLine) {
    // Timecode test, field search, character count and decoding of lines of megabytes;
    // the last has its timecode across the edge of the first megabyte.
    std::string field;
    while (field.size() < (3u << 20)) field += "9420 c8e9 \xC3\xA9 2520 ";
    const std::string file[] = {"header", "00:00:01:00\t" + field, std::string((1 << 20) - 1, 'b') + "00:00"};
    const auto decode = [&](const std::function<void()>& withinLine, tk::StringList& timecodes,
                            tk::StringList& captions) {
        std::size_t next = 0;
        quillet::SccLines lines = quillet::readSccLines([&](std::string& text) { text += file[next++]; },
                                                        [&] { return next == std::size(file); }, [] {});
        const quillet::CaptionLineHooks hooks{[](std::int32_t) {}, [] { return true; }, [] {}, withinLine};
        return quillet::decodeCaptionLines(lines, timecodes, captions, hooks);
    };
    tk::StringList timecodes, captions, timecodesTurning, captionsTurning;
    std::size_t turns = 0;
    EXPECT_EQ(decode({}, timecodes, captions), quillet::CaptionLinesEnd::AllDone);
    EXPECT_EQ(decode([&] { ++turns; }, timecodesTurning, captionsTurning), quillet::CaptionLinesEnd::AllDone);
    EXPECT_TRUE(timecodesTurning.Items() == timecodes.Items() && captionsTurning.Items() == captions.Items());
    EXPECT_GE(turns, field.size() / 65536);
}

}  // namespace
