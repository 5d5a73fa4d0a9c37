#pragma once
// Turns the code field of one SCC caption line into its caption text. Pure functions:
// no GUI, no state between calls, no exceptions of their own, any bytes accepted. Hex
// digits match in either case, as tk::ReplaceAll matches letters: "94AE" is "94ae",
// while hex that no table row matches comes through as written.
#include <functional>
#include <string>
#include <string_view>

namespace quillet {

// One two-character unit through the pair character table, every row in order.
std::string convertSCC2Letters(std::string_view unit);

// The caption text of a code field. Fast path used by the import. A field of megabytes
// takes a good part of a second, so when `turn` is given it is called after about every
// 64 KB of work on the field (never on a shorter one) to give the event loop its turn;
// the text is the same with or without it. `turn` may decode other fields, and it may
// throw: the exception ends this decoding and leaves later ones unaffected.
std::string decodeCodeField(std::string_view codeField, const std::function<void()>* turn = nullptr);

// The same result computed the slow, obvious way: every table row as a full replace-all
// pass over the field. Kept as the yardstick that decodeCodeField is checked against.
std::string decodeCodeFieldReference(std::string_view codeField);

}  // namespace quillet
