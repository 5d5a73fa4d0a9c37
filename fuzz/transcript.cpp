// The caption clean-up and the transcript layout on captions and timecodes made from the
// input, with the layout boxes answering at random, caption by caption. Both are held to
// literal renditions written here with the toolkit's character-wise string functions.
//
// The input: its first byte holds flags, the eight after it seed the layout answers, the
// rest is text. Flags:
//   bit 0  the text is an SCC file, each code field decoded to its caption (so captions
//          carry the bars and spaces the decoder makes); otherwise every line is
//          "timecode TAB caption" as it stands (without a tab, an empty timecode)
//   bit 1  the timecode list is short of some entries: the layout must raise
//          OutOfBoundsException at the first caption without one
//   bit 2  the layout callbacks are left empty (unchecked boxes, no background task)
//   bit 3  the background tasks meddle with the lists while they are worked: nothing is
//          compared then, but nothing may crash or read out of bounds
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "decoding/CaptionDecoder.h"
#include "decoding/SccLines.h"
#include "toolkit/Exceptions.h"
#include "toolkit/StringList.h"
#include "toolkit/Strings.h"
#include "transcript/Transcript.h"

namespace {

// One clean-up pass as the character-wise functions write it: where some character lies
// outside the set, the first bar goes; a lone space becomes empty.
void LiteralCleanUpPass(std::vector<std::string>& captions, const std::vector<std::string>& set) {
    for (std::string& caption : captions) {
        const tk::StringList characters = tk::Split(caption, "");
        for (const std::string& c : characters.Items())
            if (std::find(set.begin(), set.end(), c) == set.end()) {
                caption = tk::Replace(caption, "|", "");
                break;
            }
        if (caption == " ") caption.clear();
    }
}

struct Answers { bool includeTimecode, paragraphForm; };

std::string LiteralBody(const std::vector<std::string>& captions, std::vector<std::string>& timecodes,
                        const std::vector<Answers>& answers) {
    const std::string lineEnd = tk::EndOfLine();
    std::string body;
    for (std::size_t i = 0; i < captions.size(); ++i) {
        timecodes[i] = tk::Replace(timecodes[i], ",", ".");
        if (answers[i].includeTimecode)
            body += "[" + timecodes[i] + "]\t" + captions[i] + lineEnd + lineEnd;
        else if (answers[i].paragraphForm)
            body += " " + captions[i];
        else
            body += captions[i] + lineEnd;
    }
    return tk::ReplaceAll(body, "|", " ");
}

void Meddle(fuzz::Random& random, tk::StringList& list) {
    switch (random.Next() % 8) {
    case 0: list.RemoveAll(); break;
    case 1: list.Append("| |*,|"); break;
    case 2: if (list.Count() > 0) list.Set(static_cast<std::int64_t>(random.Next() % std::uint64_t(list.Count())), " ");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    const std::uint8_t flags = data[0];
    std::uint64_t seed = 0;
    for (std::size_t i = 1; i < 9; ++i) seed = seed << 8 | data[i];
    fuzz::Random random(seed);
    const std::string text(reinterpret_cast<const char*>(data) + 9, size - 9);
    const bool sccFile = flags & 1, shortTimecodes = flags & 2, emptyCallbacks = flags & 4, meddle = flags & 8;

    // ---- Captions and timecodes from the text.
    std::vector<std::string> captions, timecodes;
    bool header = sccFile;  // an SCC file's first line is its header
    for (std::size_t start = 0, end; start <= text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const std::string_view line = std::string_view(text).substr(start, end - start);
        if (sccFile) {
            if (header || line.empty()) {
                header = false;
                continue;
            }
            const auto fields = quillet::splitCaptionLine(line);
            timecodes.emplace_back(fields ? fields->timecodeField : line);
            captions.push_back(quillet::decodeCodeField(fields ? fields->codeField : std::string_view()));
        } else {
            const std::size_t tab = line.find('\t');
            timecodes.emplace_back(tab == std::string_view::npos ? std::string_view() : line.substr(0, tab));
            captions.emplace_back(tab == std::string_view::npos ? line : line.substr(tab + 1));
        }
    }
    if (shortTimecodes && !timecodes.empty()) timecodes.resize(random.Next() % timecodes.size());

    // ---- The clean-up.
    tk::StringList captionList(captions);
    tk::StringList timecodeList(timecodes);
    std::int64_t turns = 0;
    std::function<void()> cleanUpTask;
    if (!emptyCallbacks)
        cleanUpTask = [&] {
            ++turns;
            if (meddle) Meddle(random, captionList);
        };
    quillet::cleanCaptions(captionList, cleanUpTask);
    if (!meddle) {
        fuzz::Check(emptyCallbacks || turns == 2 * static_cast<std::int64_t>(captions.size()),
                    "cleanCaptions took " + std::to_string(turns) + " background turns for " +
                        std::to_string(captions.size()) + " captions in two passes");
        std::vector<std::string> expected = captions;
        LiteralCleanUpPass(expected, {"|"});
        LiteralCleanUpPass(expected, {" ", "*"});
        for (std::size_t i = 0; i < expected.size() || i < captionList.Items().size(); ++i)
            fuzz::CheckEqual(captionList.Items().at(i), expected.at(i), "cleanCaptions on " + fuzz::Shown(captions.at(i)));
    }

    // ---- The layout, the boxes read afresh for every caption.
    std::vector<Answers> answers;
    std::ptrdiff_t paragraphReads = 0;
    std::size_t layoutTurns = 0;
    quillet::LayoutSettings settings;
    if (!emptyCallbacks) {
        settings.includeTimecode = [&] {
            answers.push_back({random.Chance(2), false});
            return answers.back().includeTimecode;
        };
        settings.paragraphForm = [&] {
            ++paragraphReads;
            fuzz::Check(!answers.empty() && !answers.back().includeTimecode,
                        "\"Paragraph form\" was read although \"Include Timecode\" was checked");
            answers.back().paragraphForm = random.Chance(2);
            return answers.back().paragraphForm;
        };
        settings.backgroundTask = [&] {
            ++layoutTurns;
            if (meddle) Meddle(random, random.Chance(2) ? captionList : timecodeList);
        };
    }
    const tk::StringList cleaned = captionList;
    std::string body;
    bool outOfBounds = false;
    try {
        body = quillet::assembleTranscript(captionList, timecodeList, settings);
    } catch (const tk::OutOfBoundsException&) {
        outOfBounds = true;
    }
    if (meddle) return 0;

    fuzz::Check(captionList == cleaned, "assembleTranscript changed the captions");
    const std::size_t count = cleaned.Items().size();
    fuzz::Check(outOfBounds == (timecodes.size() < count), "OutOfBoundsException, or none, with " +
                                                               std::to_string(timecodes.size()) + " timecodes for " +
                                                               std::to_string(count) + " captions");
    // The captions laid out before the exception, or all of them.
    const std::size_t laidOut = outOfBounds ? timecodes.size() : count;
    if (emptyCallbacks) answers.assign(laidOut, Answers{false, false});
    const auto unchecked = std::count_if(answers.begin(), answers.end(), [](const Answers& a) { return !a.includeTimecode; });
    fuzz::Check(emptyCallbacks || (answers.size() == laidOut && layoutTurns == laidOut && paragraphReads == unchecked),
                "the boxes and the background task were not consulted once per caption");

    std::vector<std::string> expectedTimecodes = timecodes;
    const std::string expectedBody = LiteralBody({cleaned.Items().begin(), cleaned.Items().begin() + std::ptrdiff_t(laidOut)},
                                                 expectedTimecodes, answers);
    fuzz::Check(timecodeList.Items() == expectedTimecodes, "the timecodes after the layout");
    if (!outOfBounds) fuzz::CheckEqual(body, expectedBody, "the transcript body");
    return 0;
}
