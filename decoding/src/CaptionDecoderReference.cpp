// The literal decoding: every row of both tables as a whole-text replace-all pass, in
// table order. Slow (hundreds of passes per line) but obviously right; decodeCodeField
// must agree with it byte for byte on every input.
#include <string>
#include <vector>

#include "decoding/CaptionDecoder.h"
#include "decoding/CodeTables.h"
#include "toolkit/Strings.h"

namespace quillet {

std::string convertSCC2Letters(std::string_view unit) {
    std::string text(unit);
    for (const CodeRow& row : pairCharacterTable()) text = tk::ReplaceAll(text, row.pattern, row.replacement);
    return text;
}

std::string decodeCodeFieldReference(std::string_view codeField) {
    std::string field(codeField);
    for (const CodeRow& row : codeSubstitutionTable()) field = tk::ReplaceAll(field, row.pattern, row.replacement);
    if (field.empty()) field = "2020";

    const tk::StringList characters = tk::Split(field, "");
    std::vector<std::string> units;
    for (std::int64_t j = 0; j <= characters.Count() - 2; j += 2)
        units.push_back(characters.Get(j) + characters.Get(j + 1));
    // A single leftover character forms no unit at all: the caption is empty.
    if (units.empty()) return {};

    for (std::string& unit : units) unit = convertSCC2Letters(unit);
    std::string caption = std::move(units[0]);
    for (std::size_t j = 1; j < units.size(); ++j) caption += units[j];
    return caption;
}

}  // namespace quillet
