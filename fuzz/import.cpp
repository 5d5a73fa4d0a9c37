// The line level of an SCC import on any file: its bytes are cut into lines as the text
// stream cuts them (the reference splitter, which the textstream target holds to the real
// reader), gathered by readSccLines and worked by decodeCaptionLines, with hooks that
// watch the progress, the pairing of the two lists, and the timecode choice.
//
// The input's first byte chooses the timecode mode: bit 0 set reads "Unbuffered
// timecode" as chosen, bit 1 set changes the answer from line to line instead. With bits
// 2 to 4 all set, a header line of over a megabyte goes before the file's lines, so
// that they start a second block of SccLines and the first is let go while the caption
// lines are worked.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "decoding/CaptionDecoder.h"
#include "decoding/SccImport.h"
#include "decoding/SccLines.h"
#include "decoding/Timecode.h"
#include "toolkit/StringList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> fileLines;
    if ((mode & 0x1C) == 0x1C) fileLines.push_back("Scenarist_SCC V1.0" + std::string(std::size_t{1} << 20, ' '));
    for (std::string& line : fuzz::ReferenceLines(file)) fileLines.push_back(std::move(line));

    // ---- readSccLines: the non-empty lines, in order, one background turn per read.
    std::vector<std::string> kept;
    for (const std::string& line : fileLines)
        if (!line.empty()) kept.push_back(line);
    std::size_t next = 0, reads = 0, turns = 0;
    quillet::SccLines lines = quillet::readSccLines(
        [&](std::string& text) {
            ++reads;
            if (next < fileLines.size()) text += fileLines[next++];
        },
        [&] { return next >= fileLines.size(); }, [&] { ++turns; });
    fuzz::Check(reads == std::max<std::size_t>(fileLines.size(), 1) && turns == reads,
                "readSccLines read " + std::to_string(reads) + " times with " + std::to_string(turns) +
                    " background turns for " + std::to_string(fileLines.size()) + " lines");
    fuzz::Check(lines.Count() == kept.size(), "readSccLines kept " + std::to_string(lines.Count()) + " lines of " +
                                                  std::to_string(kept.size()) + " non-empty ones");
    for (std::size_t i = 0; i < kept.size(); ++i)
        fuzz::CheckEqual(lines.Line(i), kept[i], "readSccLines line " + std::to_string(i));

    // ---- decodeCaptionLines.
    tk::StringList timecodes, captions;
    const bool unbufferedAtStart = (mode & 1) != 0;
    const bool changing = (mode & 2) != 0;
    fuzz::Random random(fuzz::Hash(file) ^ mode);
    std::vector<bool> answers;  // the timecode choice each line was given
    std::int32_t lastProgress = -1;
    std::int64_t progressCalls = 0, lineTurns = 0;
    const std::int64_t captionLines = lines.Count() > 1 ? static_cast<std::int64_t>(lines.Count()) - 1 : 0;

    quillet::CaptionLineHooks hooks;
    hooks.showProgress = [&](std::int32_t value) {
        ++progressCalls;
        fuzz::Check(value >= 0 && value <= quillet::kProgressMaximum,
                    "progress " + std::to_string(value) + " is outside 0..65536");
        fuzz::Check(value >= lastProgress, "progress went back from " + std::to_string(lastProgress) + " to " +
                                               std::to_string(value));
        fuzz::Check(progressCalls <= captionLines, "more progress steps than caption lines");
        // One step per line, and each before the line's entries are added.
        fuzz::Check(timecodes.Count() == progressCalls - 1 && captions.Count() == progressCalls - 1,
                    "the lists are not one entry behind the progress at line " + std::to_string(progressCalls));
        lastProgress = value;
    };
    hooks.unbuffered = [&] {
        const bool answer = changing ? random.Chance(2) : unbufferedAtStart;
        answers.push_back(answer);
        return answer;
    };
    hooks.backgroundTask = [&] {
        ++lineTurns;
        fuzz::Check(timecodes.Count() == captions.Count(),
                    "the timecode and caption lists came apart: " + std::to_string(timecodes.Count()) + " and " +
                        std::to_string(captions.Count()) + " entries");
        fuzz::Check(timecodes.Count() == lineTurns, "a caption line added other than one entry to each list");
    };

    const quillet::CaptionLinesEnd end = quillet::decodeCaptionLines(lines, timecodes, captions, hooks);

    fuzz::Check(timecodes.Count() == captions.Count(), "the lists came apart at the end");
    fuzz::Check(timecodes.Count() == lineTurns, "one background turn per caption line worked");
    fuzz::Check(static_cast<std::int64_t>(answers.size()) == timecodes.Count(),
                "the timecode choice was not read exactly once per worked line");
    if (end == quillet::CaptionLinesEnd::AllDone) {
        fuzz::Check(captions.Count() == captionLines, "AllDone with " + std::to_string(captions.Count()) +
                                                          " captions for " + std::to_string(captionLines) +
                                                          " caption lines");
        fuzz::Check(progressCalls == captionLines, "AllDone without a progress step per line");
        if (captionLines > 0)
            fuzz::Check(lastProgress == quillet::kProgressMaximum,
                        "the last progress value is " + std::to_string(lastProgress) + ", not 65536");
    } else {
        // The line that had no timecode ended the work: it was shown but gave no entry.
        fuzz::Check(progressCalls == captions.Count() + 1 && captions.Count() < captionLines,
                    "NoTimecode after " + std::to_string(captions.Count()) + " entries and " +
                        std::to_string(progressCalls) + " progress steps");
        fuzz::Check(!quillet::hasTimecode(kept[static_cast<std::size_t>(captions.Count()) + 1]),
                    "NoTimecode on a line that has one");
    }

    // Each entry is what its line gives, in the mode that line was given. (The lines
    // worked may have been let go: the copies are read.)
    for (std::int64_t i = 0; i < captions.Count(); ++i) {
        const std::string_view line = kept[static_cast<std::size_t>(i) + 1];
        fuzz::Check(quillet::hasTimecode(line), "a line without a timecode gave an entry");
        quillet::CaptionLineFields fields{line, {}};
        if (const auto split = quillet::splitCaptionLine(line)) fields = *split;
        const std::string expectedTimecode = answers[static_cast<std::size_t>(i)]
                                                 ? quillet::unbufferedTimecodeLiteral(fields.timecodeField, fields.codeField)
                                                 : std::string(fields.timecodeField);
        fuzz::CheckEqual(timecodes.Get(i), expectedTimecode, "timecode of caption line " + std::to_string(i + 1));
        // The decoder itself is checked against the reference by the decode target; the
        // reference's 568 passes are cheap enough here only for the first few lines.
        const std::string expectedCaption = i < 4 && fields.codeField.size() <= 128
                                                ? quillet::decodeCodeFieldReference(fields.codeField)
                                                : quillet::decodeCodeField(fields.codeField);
        fuzz::CheckEqual(captions.Get(i), expectedCaption, "caption of caption line " + std::to_string(i + 1));
    }
    return 0;
}
