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
//
// A huge line is worked in pieces with a turn of the event loop between them (the
// turn hook given here does nothing): the timecode test, the tab search and the count of
// characters a megabyte at a time, the decoding 64 KB at a time. With bit 5 set, the
// two bytes after the mode byte put a megabyte of spaces into the file's first caption
// line, so that its own text meets the pieces' edges: their value modulo the line's
// length plus 3 is how many of its bytes lie before the edge, from the line's start,
// or with bit 6 set from the start of its code field (behind the spaces, which then go
// right after the tab).
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
    const std::size_t padded = mode & 0x20 ? std::min<std::size_t>(size, 3) : 1;
    const std::size_t where = padded == 3 ? data[1] | data[2] << 8 : 0;
    const std::string_view file(reinterpret_cast<const char*>(data) + padded, size - padded);
    std::vector<std::string> fileLines;
    if ((mode & 0x1C) == 0x1C) fileLines.push_back("Scenarist_SCC V1.0" + std::string(std::size_t{1} << 20, ' '));
    for (std::string& line : fuzz::ReferenceLines(file)) fileLines.push_back(std::move(line));
    if (padded == 3) {
        const auto nonEmpty = [](const std::string& line) { return !line.empty(); };
        const auto header = std::find_if(fileLines.begin(), fileLines.end(), nonEmpty);
        const auto first = header == fileLines.end() ? header : std::find_if(header + 1, fileLines.end(), nonEmpty);
        if (first != fileLines.end()) {
            const std::size_t tab = mode & 0x40 ? first->find('\t') : std::string::npos;
            const std::size_t at = tab == std::string::npos ? 0 : tab + 1;
            const std::size_t before = where % (first->size() - at + 3);
            first->insert(at, (std::size_t{1} << 20) - before, ' ');
        }
    }
    const auto text = [](std::size_t n) { return std::to_string(n); };

    // ---- readSccLines: the non-empty lines, in order, one background turn per read.
    std::vector<std::string> kept;
    for (const std::string& line : fileLines)
        if (!line.empty()) kept.push_back(line);
    std::size_t next = 0, reads = 0, turns = 0;
    quillet::SccLines lines = quillet::readSccLines(
        [&](std::string& line) {
            ++reads;
            if (next < fileLines.size()) line += fileLines[next++];
        },
        [&] { return next >= fileLines.size(); }, [&] { ++turns; });
    fuzz::Check(reads == std::max<std::size_t>(fileLines.size(), 1) && turns == reads,
                "readSccLines read " + text(reads) + " times with " + text(turns) + " turns for " +
                    text(fileLines.size()) + " lines");
    fuzz::Check(lines.Count() == kept.size(), "readSccLines kept " + text(lines.Count()) + " of " + text(kept.size()));
    for (std::size_t i = 0; i < kept.size(); ++i) fuzz::CheckEqual(lines.Line(i), kept[i], "readSccLines line " + text(i));

    // ---- decodeCaptionLines.
    tk::StringList timecodes, captions;
    fuzz::Random random(fuzz::Hash(file) ^ mode);
    std::vector<bool> answers;  // the timecode choice each line was given
    std::int32_t lastProgress = -1;
    std::int64_t progressSteps = 0, lineTurns = 0;
    const std::int64_t captionLines = lines.Count() > 1 ? static_cast<std::int64_t>(lines.Count()) - 1 : 0;
    quillet::CaptionLineHooks hooks;
    hooks.showProgress = [&](std::int32_t value) {
        // One step per line, rising to 65536, each before the line's entries are added.
        ++progressSteps;
        fuzz::Check(value >= lastProgress && value <= quillet::kProgressMaximum && progressSteps <= captionLines,
                    "progress " + text(value) + " after " + text(lastProgress));
        fuzz::Check(timecodes.Count() == progressSteps - 1 && captions.Count() == progressSteps - 1,
                    "the lists are not one entry behind the progress at line " + text(progressSteps));
        lastProgress = value;
    };
    hooks.unbuffered = [&] {
        answers.push_back((mode & 2) ? random.Chance(2) : (mode & 1) != 0);
        return bool(answers.back());
    };
    hooks.withinLine = [] {};
    hooks.backgroundTask = [&] {
        ++lineTurns;
        fuzz::Check(timecodes.Count() == lineTurns && captions.Count() == lineTurns,
                    "a caption line added other than one entry to each list at line " + text(lineTurns));
    };
    const quillet::CaptionLinesEnd end = quillet::decodeCaptionLines(lines, timecodes, captions, hooks);

    fuzz::Check(timecodes.Count() == captions.Count() && captions.Count() == lineTurns &&
                    std::int64_t(answers.size()) == lineTurns,
                "the lists came apart, or a line took other than one turn and one timecode choice");
    if (end == quillet::CaptionLinesEnd::AllDone) {
        fuzz::Check(captions.Count() == captionLines && progressSteps == captionLines &&
                        (captionLines == 0 || lastProgress == quillet::kProgressMaximum),
                    "AllDone with " + text(captions.Count()) + " captions for " + text(captionLines) + " lines");
    } else {
        // The line that had no timecode ended the work: it was shown but gave no entry.
        fuzz::Check(progressSteps == captions.Count() + 1 && captions.Count() < captionLines &&
                        !quillet::hasTimecode(kept[static_cast<std::size_t>(captions.Count()) + 1]),
                    "NoTimecode after " + text(captions.Count()) + " entries and " + text(progressSteps) + " steps");
    }

    // Each entry is what its line gives, in the mode that line was given. (The lines
    // worked may have been let go: the copies are read.)
    for (std::int64_t i = 0; i < captions.Count(); ++i) {
        const std::string_view line = kept[static_cast<std::size_t>(i) + 1];
        fuzz::Check(quillet::hasTimecode(line), "a line without a timecode gave an entry");
        quillet::CaptionLineFields fields{line, {}};
        if (const auto split = quillet::splitCaptionLine(line)) fields = *split;
        fuzz::CheckEqual(timecodes.Get(i),
                         answers[static_cast<std::size_t>(i)]
                             ? quillet::unbufferedTimecodeLiteral(fields.timecodeField, fields.codeField)
                             : std::string(fields.timecodeField),
                         "timecode of caption line " + text(i + 1));
        // The decoder itself is checked against the reference by the decode target; the
        // reference's 568 passes are cheap enough here only for the first few lines.
        fuzz::CheckEqual(captions.Get(i),
                         i < 4 && fields.codeField.size() <= 128 ? quillet::decodeCodeFieldReference(fields.codeField)
                                                                 : quillet::decodeCodeField(fields.codeField),
                         "caption of caption line " + text(i + 1));
    }
    return 0;
}
