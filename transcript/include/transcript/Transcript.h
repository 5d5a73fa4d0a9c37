#pragma once
// The transcript made of a window's caption and timecode lists: the clean-up of the
// caption texts, the three layouts of the body, and the names around the file. Plain
// functions over the lists; what they read of the window (the layout check boxes) and
// the event loop's turn reach them as callbacks, so they run without a display.
#include <functional>
#include <string>
#include <string_view>

#include "toolkit/StringList.h"

namespace quillet {

// Tidies every caption in place, in two passes over the whole list. The first pass
// deletes the first "|" of each caption that holds a character other than "|"; the
// second deletes the next "|" of each caption that holds a character that is neither a
// space nor "*". After each deletion attempt a caption that is exactly one space becomes
// empty. `backgroundTask` is called once per caption in each pass (an empty function is
// skipped).
void cleanCaptions(tk::StringList& captions, const std::function<void()>& backgroundTask);

// What the layout loop reads, afresh for every caption. An empty function reads as an
// unchecked box, or as nothing to do for `backgroundTask`.
struct LayoutSettings {
    std::function<bool()> includeTimecode;  // "Include Timecode" checked
    std::function<bool()> paragraphForm;    // "Paragraph form" checked; read only when the first is not
    std::function<void()> backgroundTask;   // once per caption
};

// The transcript body. For each caption i (in list order), timecode i first has its first
// "," replaced by "." (stored back into `timecodes`); then the caption is laid out:
//   timecode layout:  "[" t "]" TAB c LE LE
//   paragraph layout: " " c
//   line layout:      c LE
// where LE is tk::EndOfLine(). Finally every "|" left in the body becomes a space.
// `timecodes` must have an entry at every index of `captions`; where it has none, the
// list's OutOfBoundsException is raised, with the body so far dropped and the entries
// before that index already fixed up.
std::string assembleTranscript(const tk::StringList& captions, tk::StringList& timecodes,
                               const LayoutSettings& settings);

// The name the save dialog proposes: the input's name up to its first "." (the whole name
// when it has none), then ".txt".
std::string proposedTranscriptName(std::string_view fileName);

// The transcript's first line: "Transcripts of " and the input's whole name.
std::string transcriptTitle(std::string_view fileName);

}  // namespace quillet
