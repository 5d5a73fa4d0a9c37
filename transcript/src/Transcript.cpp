#include "transcript/Transcript.h"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "toolkit/Strings.h"

// A 20 MB caption file gives some 176,000 captions, and the whole conversion has a budget
// of about 80 ms, so every loop here is linear: no regular-expression engine, no
// temporary string for a caption or timecode that stays as it is, and one body buffer
// grown in place. '|', ',', ' ' and '*' are ASCII, and an ASCII byte is always a whole
// character to the toolkit (no byte of a multi-byte UTF-8 sequence is below 0x80, and a
// stray byte counts alone), so byte-wise tests and one-byte replacements give exactly what
// the character-wise string functions would.

namespace quillet {
namespace {

// The clean-up patterns "[^|]" and "[^ *]": each is one negated character class, so "the
// pattern matches somewhere" is "some character lies outside the set".
constexpr std::string_view kFirstPassSet = "|";
constexpr std::string_view kSecondPassSet = " *";

void cleanUpPass(tk::StringList& captions, std::string_view outsideOf,
                 const std::function<void()>& backgroundTask) {
    // The upper bound is re-read every time round: the background task may let other
    // work run, and nothing here may step past the list's end.
    for (std::int64_t i = 0; i <= captions.UBound(); ++i) {
        const std::string& caption = captions.Get(i);
        const std::size_t bar = caption.find('|');
        // Deleting the first bar changes nothing when there is none, so the pattern only
        // needs testing when there is one.
        if (bar != std::string::npos && caption.find_first_not_of(outsideOf) != std::string::npos) {
            std::string cleaned = caption;
            cleaned.erase(bar, 1);
            if (cleaned == " ")
                cleaned.clear();
            captions.Set(i, std::move(cleaned));
        } else if (caption == " ") {
            captions.Set(i, std::string());
        }
        if (backgroundTask)
            backgroundTask();
    }
}

// The body's final length in the longest layout (timecodes with two line ends each), so
// that appending never reallocates.
std::size_t longestBodySize(const tk::StringList& captions, const tk::StringList& timecodes,
                            std::size_t lineEndSize) {
    std::size_t size = 0;
    for (const std::string& caption : captions.Items())
        size += caption.size() + 3 + 2 * lineEndSize;  // "[", "]", tab, two line ends
    for (const std::string& timecode : timecodes.Items())
        size += timecode.size();
    return size;
}

}  // namespace

void cleanCaptions(tk::StringList& captions, const std::function<void()>& backgroundTask) {
    cleanUpPass(captions, kFirstPassSet, backgroundTask);
    cleanUpPass(captions, kSecondPassSet, backgroundTask);
}

std::string assembleTranscript(const tk::StringList& captions, tk::StringList& timecodes,
                               const LayoutSettings& settings) {
    const std::string lineEnd = tk::EndOfLine();
    std::string body;
    body.reserve(longestBodySize(captions, timecodes, lineEnd.size()));

    for (std::int64_t i = 0; i <= captions.UBound(); ++i) {
        const std::string& timecode = timecodes.Get(i);
        const std::size_t comma = timecode.find(',');
        if (comma != std::string::npos) {
            std::string fixed = timecode;
            fixed[comma] = '.';
            timecodes.Set(i, std::move(fixed));
        }

        // The boxes are read first and the entries after them, so that whatever the
        // callbacks let run, the lists are read as they stand when the caption is laid out.
        if (settings.includeTimecode && settings.includeTimecode()) {
            body += '[';
            body += timecodes.Get(i);
            body += "]\t";
            body += captions.Get(i);
            body += lineEnd;
            body += lineEnd;
        } else if (settings.paragraphForm && settings.paragraphForm()) {
            body += ' ';
            body += captions.Get(i);
        } else {
            body += captions.Get(i);
            body += lineEnd;
        }
        if (settings.backgroundTask)
            settings.backgroundTask();
    }

    // Bars are rare in a body of megabytes: hopping from one to the next with find (a
    // memchr) is several times faster than testing every byte.
    for (std::size_t bar = body.find('|'); bar != std::string::npos; bar = body.find('|', bar + 1))
        body[bar] = ' ';
    return body;
}

std::string proposedTranscriptName(std::string_view fileName) {
    // The first piece of the name split at "." is everything before the first ".".
    std::string name(fileName.substr(0, fileName.find('.')));
    name += ".txt";
    return name;
}

std::string transcriptTitle(std::string_view fileName) {
    std::string title = "Transcripts of ";
    title += fileName;
    return title;
}

}  // namespace quillet
