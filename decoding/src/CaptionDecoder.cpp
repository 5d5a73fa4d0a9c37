// Fast decoding of a code field. It must give exactly what decodeCodeFieldReference gives
// (every table row as a replace-all pass over the whole field), for every input, at a
// small fraction of the cost. The passes match ASCII letters in either case, so every
// stage below compares letters case-folded but hands on the bytes it lets through with
// the case they came in. Three observations make that possible:
//
// 1. Every pattern before the space-removal row is four hex digits, so those rows only
//    ever match inside a run of hex digits (either case); anything else (spaces between
//    the groups, the characters those rows insert, stray bytes) is a wall that no match
//    crosses and no row removes. Each hex run can therefore be rewritten on its own, and
//    a run of exactly four digits is rewritten by a table lookup on its case-folded value:
//    once some row has matched a group, what follows depends on that row's replacement
//    only, and a group that no row matches keeps its own bytes.
// 2. After the space-removal row the rows see one joined text, and a match may straddle
//    what used to be two groups (c8e9 2520 hides "9252"). Each replace-all pass is a
//    streaming transducer that holds back at most a pattern's length less one; the chain
//    of all remaining passes is therefore one finite-state transducer. Its states are
//    found as the input needs them and remembered, so the usual cost is one table step
//    per byte, or one per whole group when nothing is held back. A held-back letter
//    keeps its case, so it leaves the pass as it came in when no match follows.
// 3. A unit is two characters and every pair row yields at most one character, so at
//    most one pair row ever applies to a unit: a lookup on its two bytes, every case
//    variant of a pattern entered under the first row that has it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "decoding/CaptionDecoder.h"
#include "decoding/CodeTables.h"
#include "toolkit/Strings.h"
#include "toolkit/Utf8.h"

namespace quillet {
namespace {

constexpr std::size_t kJoinedRowsBegin = kSpaceRemovalRow + 1;

std::string withoutSpaces(std::string text) {
    std::erase(text, ' ');
    return text;
}

bool isUpperLetter(char c) { return c >= 'A' && c <= 'Z'; }
bool isLowerLetter(char c) { return c >= 'a' && c <= 'z'; }
char toLower(char c) { return isUpperLetter(c) ? static_cast<char>(c - 'A' + 'a') : c; }
char toUpper(char c) { return isLowerLetter(c) ? static_cast<char>(c - 'a' + 'A') : c; }
bool sameIgnoringCase(char a, char b) { return toLower(a) == toLower(b); }

// Per byte: the value of a hex digit in either case, -1 for any other byte.
constexpr std::array<std::int8_t, 256> makeHexValues() {
    std::array<std::int8_t, 256> values{};
    for (auto& v : values) v = -1;
    for (int c = '0'; c <= '9'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
    return values;
}
constexpr std::array<std::int8_t, 256> kHexValue = makeHexValues();

unsigned hexDigitValue(char c) { return static_cast<unsigned>(kHexValue[static_cast<unsigned char>(c)]) & 0xFU; }

// For the hot loop, one table per digit position of a group: the digit's value already
// shifted into place, plus flags. OR-ing a group's four entries gives its value in the
// low 16 bits, kUpperCaseGroup if a letter is upper case, kLowerCaseGroup if a letter is
// lower case, and kNotHexGroup if some byte is not a hex digit.
constexpr std::uint32_t kUpperCaseGroup = 1U << 16;
constexpr std::uint32_t kLowerCaseGroup = 1U << 17;
constexpr std::uint32_t kNotHexGroup = 1U << 31;
using GroupDigitTable = std::array<std::array<std::uint32_t, 256>, 4>;
constexpr GroupDigitTable makeGroupDigits() {
    GroupDigitTable tables{};
    for (std::size_t position = 0; position < 4; ++position)
        for (std::size_t b = 0; b < 256; ++b) {
            const std::int8_t value = kHexValue[b];
            std::uint32_t& entry = tables[position][b];
            if (value < 0) {
                entry = kNotHexGroup;
                continue;
            }
            entry = static_cast<std::uint32_t>(value) << (12 - 4 * position);
            if (b >= 'A' && b <= 'F') entry |= kUpperCaseGroup;
            if (b >= 'a' && b <= 'f') entry |= kLowerCaseGroup;
        }
    return tables;
}
constexpr GroupDigitTable kGroupDigits = makeGroupDigits();

// The text of a group's value, lower-case or upper-case.
std::array<char, 4> groupText(std::uint16_t code, bool upper) {
    static constexpr char kLower[] = "0123456789abcdef";
    static constexpr char kUpper[] = "0123456789ABCDEF";
    const char* digits = upper ? kUpper : kLower;
    return {digits[code >> 12], digits[(code >> 8) & 0xF], digits[(code >> 4) & 0xF], digits[code & 0xF]};
}

// ---- Turns of the caller's event loop ------------------------------------------------

// A field of many megabytes must not hold up the window that waits for it: every so
// many bytes of work the caller's hook is called. A field shorter than that never calls
// it, so the usual field pays one test of a null pointer.
constexpr std::size_t kTurnBytes = std::size_t{1} << 16;

class Turns {
public:
    explicit Turns(const std::function<void()>* hook = nullptr) : hook_(hook) {}
    bool wanted() const { return hook_ != nullptr; }
    // Notes `units` bytes of work; the hook runs once they reach kTurnBytes.
    void add(std::size_t units) {
        if (hook_ == nullptr) return;
        work_ += units;
        if (work_ >= kTurnBytes) give();
    }
    void give() {
        work_ = 0;
        (*hook_)();
    }

private:
    const std::function<void()>* hook_;
    std::size_t work_ = 0;
};

// ---- What a streaming replace-all pass holds back --------------------------------------

// A pass holds back a prefix of its pattern (at most three characters) until it knows
// whether a match follows. One byte records it: the held count in the low two bits, then
// one bit per held character that is set when it came as an upper-case letter.
std::size_t heldCountOf(char passHolding) { return static_cast<unsigned char>(passHolding) & 3U; }

// The characters a pass holds back: its pattern's first ones, each letter in the case
// it arrived in. Returns how many there are.
std::size_t heldText(char passHolding, std::string_view pattern, char* held) {
    const std::size_t count = heldCountOf(passHolding);
    const unsigned upper = static_cast<unsigned char>(passHolding) >> 2;
    for (std::size_t i = 0; i < count; ++i)
        held[i] = (upper >> i & 1U) != 0 ? toUpper(pattern[i]) : toLower(pattern[i]);
    return count;
}

char holdingOf(std::string_view held) {
    unsigned value = static_cast<unsigned>(held.size());
    for (std::size_t i = 0; i < held.size(); ++i)
        if (isUpperLetter(held[i])) value |= 4U << i;
    return static_cast<char>(value);
}

bool isPrefixIgnoringCase(std::string_view text, std::string_view pattern) {
    if (text.size() > pattern.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!sameIgnoringCase(text[i], pattern[i])) return false;
    return true;
}

// ---- Rows that work group by group --------------------------------------------------

class GroupRows {
public:
    GroupRows() {
        results_.emplace_back();  // id 0: no row matches the group, which stays as written
        const auto rows = codeSubstitutionTable().first(kSpaceRemovalRow);
        for (const CodeRow& row : rows) {
            const std::uint16_t code = codeOf(row.pattern);
            if (resultId_[code] != 0) continue;
            // Matched in any case, the group is replaced by the same text: so the result
            // computed from the lower-case form holds for every spelling, even if the
            // rows were to turn it back into its own lower-case digits.
            const std::array<char, 4> lower = groupText(code, false);
            const std::string rewritten = withoutSpaces(rewriteLiterally(std::string_view(lower.data(), lower.size())));
            std::size_t id = 0;
            while (id < results_.size() && (id == 0 || results_[id] != rewritten)) ++id;
            if (id == results_.size()) results_.push_back(rewritten);
            if (id > 0xFF) idsFit_ = false;
            resultId_[code] = static_cast<std::uint8_t>(id);
        }
    }

    // Whether every distinct group result got an id of its own.
    bool usable() const { return idsFit_; }

    // Writes what the group rows and the space removal make of one run of hex digits to
    // `out`; returns the bytes written, never more than the run's length.
    std::size_t rewriteRun(const char* run, std::size_t size, char* out) const {
        if (size == 4) {
            const std::uint8_t id = resultId_[codeOf(std::string_view(run, 4))];
            if (id == 0) {
                std::memcpy(out, run, 4);
                return 4;
            }
            const std::string& result = results_[id];
            std::memcpy(out, result.data(), result.size());
            return result.size();
        }
        if (size < 4) {
            std::memcpy(out, run, size);
            return size;
        }
        // Glued groups (the hot loop streams these instead; see stepLongRun).
        const std::string result = withoutSpaces(rewriteLiterally(std::string_view(run, size)));
        const std::size_t length = std::min(result.size(), size);  // no row lengthens a text
        std::memcpy(out, result.data(), length);
        return length;
    }

private:
    static std::string rewriteLiterally(std::string_view run) {
        std::string text(run);
        for (const CodeRow& row : codeSubstitutionTable().first(kSpaceRemovalRow))
            if (text.size() >= row.pattern.size()) text = tk::ReplaceAll(text, row.pattern, row.replacement);
        return text;
    }

    // The case-folded value of four hex digits.
    static std::uint16_t codeOf(std::string_view hex) {
        unsigned code = 0;
        for (char c : hex) code = code << 4 | hexDigitValue(c);
        return static_cast<std::uint16_t>(code);
    }

    std::array<std::uint8_t, 65536> resultId_{};
    std::vector<std::string> results_;
    bool idsFit_ = true;
};

// ---- Rows that work on the joined field ---------------------------------------------

// The chain of joined-field passes as a transducer. A state records, per pass, how many
// leading characters of its pattern that pass is holding back and which of them are
// upper-case letters; that is all a pass has to remember, since the held characters
// equal the pattern's own but for letter case. The states that can be reached grow
// exponentially with adversarial input (every pass may hold a prefix at once), so they
// are not built in advance: each thread discovers the ones its input needs and keeps a
// bounded cache of them.
class JoinedRows {
public:
    // One byte per pass: the held count in the low two bits (patterns are at most four
    // characters), then one bit per held character that is set when it is upper case.
    using Holding = std::string;

    // The passes of these rows, in order.
    explicit JoinedRows(std::span<const CodeRow> rows) {
        stages_.assign(rows.begin(), rows.end());
        // Bytes that match some pattern character get a class of their own, and the two
        // cases of a letter get two (they match alike but leave the passes as written);
        // every other byte (class 0) can only push held-back text out and then pass
        // unchanged itself. The space never arrives: the space-removal row has run before.
        const auto addClass = [&](char c) {
            const auto b = static_cast<unsigned char>(c);
            if (c != ' ' && class_[b] == 0) {
                class_[b] = static_cast<std::uint8_t>(classBytes_.size() + 1);
                classBytes_.push_back(c);
            }
        };
        for (const CodeRow& row : stages_)
            for (char c : row.pattern) {
                addClass(toLower(c));
                addClass(toUpper(c));
            }
    }

    std::size_t classCount() const { return classBytes_.size() + 1; }
    std::uint8_t classOf(unsigned char byte) const { return class_[byte]; }
    char byteOf(std::size_t cls) const { return classBytes_[cls - 1]; }
    Holding start() const { return Holding(stages_.size(), '\0'); }

    // One character arrives at `stage`; whatever leaves the last pass lands in `out`.
    void feed(Holding& holding, std::size_t stage, char c, std::string& out) const {
        if (stage == stages_.size()) {
            out.push_back(c);
            return;
        }
        const std::string_view pattern = stages_[stage].pattern;
        const auto heldCount = heldCountOf(holding[stage]);
        // Fast case: the character extends the held prefix without completing it.
        if (heldCount + 1 < pattern.size() && sameIgnoringCase(pattern[heldCount], c)) {
            holding[stage] = static_cast<char>((static_cast<unsigned char>(holding[stage]) + 1U) |
                                               (isUpperLetter(c) ? 4U << heldCount : 0U));
            return;
        }
        // Patterns are at most four characters, so what is held plus the newcomer fits.
        char held[8];
        const std::size_t heldSize = heldText(holding[stage], pattern, held);
        held[heldSize] = c;
        const std::size_t withNewcomer = heldSize + 1;
        // Leftmost match first: let go of leading characters until what is left could
        // still begin a match.
        std::size_t from = 0;
        while (from < withNewcomer && !isPrefixIgnoringCase(std::string_view(held + from, withNewcomer - from), pattern)) {
            feed(holding, stage + 1, held[from], out);
            ++from;
        }
        if (withNewcomer - from == pattern.size()) {
            holding[stage] = 0;
            for (char r : stages_[stage].replacement) feed(holding, stage + 1, r, out);
        } else {
            holding[stage] = holdingOf(std::string_view(held + from, withNewcomer - from));
        }
    }

    // End of text: every pass lets go of what it holds, first pass first.
    void flush(Holding& holding, std::string& out) const {
        for (std::size_t stage = 0; stage < stages_.size(); ++stage) {
            char held[8];
            const std::size_t heldSize = heldText(holding[stage], stages_[stage].pattern, held);
            if (heldSize == 0) continue;
            holding[stage] = 0;
            for (std::size_t i = 0; i < heldSize; ++i) feed(holding, stage + 1, held[i], out);
        }
    }

private:
    std::vector<CodeRow> stages_;
    std::array<std::uint8_t, 256> class_{};
    std::vector<char> classBytes_;
};

// The states and moves one thread has met so far. Real caption text keeps to a few
// hundred states; the bound only matters for hostile input, which then costs a
// simulation step per byte but stays exact and within fixed memory.
class JoinedRowsCache {
public:
    explicit JoinedRowsCache(const JoinedRows& rows) : rows_(rows), classCount_(rows.classCount()) { clear(); }

    // Room that writers need beyond the bytes they actually produce: short pieces are
    // copied eight bytes at a time.
    static constexpr std::size_t kSlack = 16;

    // How many moves were worked out the slow way so far.
    std::uint64_t discoveries() const noexcept { return discoveries_; }

    // One byte into the passes; whatever leaves them is written at `out`. No pass
    // lengthens a text, so over a whole field the passes never write more bytes than
    // they are given.
    std::uint32_t step(std::uint32_t state, char c, char*& out) {
        const std::uint8_t cls = rows_.classOf(static_cast<unsigned char>(c));
        if (cls == 0) {
            if (state != 0) out = appendFlush(state, out);
            *out++ = c;
            return 0;
        }
        const Move& move = moves_[state * classCount_ + cls];
        if (move.next == kUnknown) return discoverMove(state, cls, out);
        out = copyPiece(Piece{move.offset, move.length}, out);
        return move.next;
    }

    // End of the field: the passes let go of what they hold back.
    void finish(std::uint32_t state, char*& out) {
        if (state != 0) out = appendFlush(state, out);
    }

    // A whole group of four hex digits arriving while nothing is held back, the usual
    // case: its rewrite by the group rows, then the passes, remembered per group. What
    // comes out can depend on how the letters are written (a group that no row matches
    // keeps its case), so groups written in lower case (or digits only) and groups
    // written in upper case are remembered apart; the index is the group's value, plus
    // kUpperCaseGroup for the latter. Groups that mix cases take the byte-by-byte way.
    struct GroupMove {
        std::uint16_t next;
        std::uint8_t length;
        std::uint8_t known;
        char output[4];
    };

    // The remembered group moves, indexed as told above. The hot loop keeps this
    // pointer in a register (writes through char pointers would otherwise force a reload
    // per group); it stays valid until the next call of stepGroup.
    const GroupMove* groupMoves() const { return groupMoves_.get(); }

    std::uint32_t stepGroup(std::uint32_t index, const GroupRows& groups, char*& out) {
        const GroupMove& known = groupMoves_[index];
        if (known.known) {
            std::memcpy(out, known.output, sizeof known.output);
            out += known.length;
            return known.next;
        }
        const std::array<char, 4> text = groupText(static_cast<std::uint16_t>(index), (index & kUpperCaseGroup) != 0);
        char rewritten[4];
        const std::size_t rewrittenSize = groups.rewriteRun(text.data(), text.size(), rewritten);
        const std::uint64_t generation = generation_;
        char produced[4 + kSlack];
        char* end = produced;
        std::uint32_t state = 0;
        for (std::size_t i = 0; i < rewrittenSize; ++i) state = step(state, rewritten[i], end);
        const auto length = static_cast<std::size_t>(end - produced);  // at most 4, see step()
        std::memcpy(out, produced, length);
        out += length;
        if (generation == generation_) {
            GroupMove& move = groupMoves_[index];
            move.next = static_cast<std::uint16_t>(state);
            move.length = static_cast<std::uint8_t>(length);
            move.known = 1;
            std::memcpy(move.output, produced, length);
        }
        return state;
    }

private:
    static constexpr std::uint16_t kUnknown = 0xFFFF;
    static constexpr std::size_t kMaxStates = 1U << 14;
    static_assert(kMaxStates < kUnknown, "moves keep state numbers in 16 bits");

    // What one step writes is what the passes held back plus one byte: a few hundred
    // bytes at most, so 16 bits hold its length. A move fits in eight bytes, which keeps
    // the table of moves small enough to stay in the cache.
    struct Piece {
        std::uint32_t offset = 0;
        std::uint16_t length = 0;
    };
    struct Move {
        std::uint32_t offset = 0;
        std::uint16_t length = 0;
        std::uint16_t next = kUnknown;
    };
    static_assert(sizeof(Move) == 8);

    void clear() {
        ids_.clear();
        states_.clear();
        moves_.clear();
        flushes_.clear();
        flushKnown_.clear();
        outputs_.assign(kPad, '\0');
        groupMoves_ = zeroedGroupMoves();
        ++generation_;
        intern(rows_.start());
    }

    std::uint32_t intern(const JoinedRows::Holding& holding) {
        const auto [it, added] = ids_.emplace(holding, static_cast<std::uint32_t>(states_.size()));
        if (added) {
            states_.push_back(holding);
            moves_.resize(states_.size() * classCount_);
            flushes_.emplace_back();
            flushKnown_.resize(states_.size());
            flushKnown_.back() = false;
        }
        return it->second;
    }

    // Pieces live in one pool that always ends in kPad spare bytes, so that a short piece
    // can be copied with one fixed-size move.
    static constexpr std::size_t kPad = 8;

    Piece store(const std::string& text) {
        if (text.empty()) return {};
        outputs_.resize(outputs_.size() - kPad);
        const Piece piece{static_cast<std::uint32_t>(outputs_.size()), static_cast<std::uint16_t>(text.size())};
        outputs_ += text;
        outputs_.append(kPad, '\0');
        return piece;
    }

    char* copyPiece(Piece piece, char* out) const {
        if (piece.length <= kPad)
            std::memcpy(out, outputs_.data() + piece.offset, kPad);
        else
            std::memcpy(out, outputs_.data() + piece.offset, piece.length);
        return out + piece.length;
    }

    std::uint32_t discoverMove(std::uint32_t state, std::uint8_t cls, char*& out) {
        ++discoveries_;
        JoinedRows::Holding holding = states_[state];
        std::string produced;
        rows_.feed(holding, 0, rows_.byteOf(cls), produced);
        std::memcpy(out, produced.data(), produced.size());
        out += produced.size();
        if (states_.size() >= kMaxStates && ids_.find(holding) == ids_.end()) {
            clear();
            return intern(holding);
        }
        const std::uint32_t next = intern(holding);
        const Piece piece = store(produced);
        moves_[state * classCount_ + cls] = Move{piece.offset, piece.length, static_cast<std::uint16_t>(next)};
        return next;
    }

    char* appendFlush(std::uint32_t state, char* out) {
        if (!flushKnown_[state]) {
            JoinedRows::Holding holding = states_[state];
            std::string produced;
            rows_.flush(holding, produced);
            flushes_[state] = store(produced);
            flushKnown_[state] = true;
        }
        return copyPiece(flushes_[state], out);
    }

    std::uint64_t discoveries_ = 0;
    const JoinedRows& rows_;
    std::size_t classCount_;
    std::unordered_map<JoinedRows::Holding, std::uint32_t> ids_;
    std::vector<JoinedRows::Holding> states_;
    std::vector<Move> moves_;
    std::vector<Piece> flushes_;
    std::vector<bool> flushKnown_;
    std::string outputs_;
    // The group moves start as zeroed pages straight from the system, so that only the
    // parts a file's groups reach take up memory (one written in lower case never
    // touches the upper-case half).
    struct FreeMemory {
        void operator()(GroupMove* moves) const { std::free(moves); }
    };
    using GroupMoves = std::unique_ptr<GroupMove[], FreeMemory>;
    static GroupMoves zeroedGroupMoves() {
        static_assert(std::is_trivial_v<GroupMove>, "an all-zero GroupMove is an unknown move");
        GroupMoves moves(static_cast<GroupMove*>(std::calloc(2 * kUpperCaseGroup, sizeof(GroupMove))));
        if (!moves) throw std::bad_alloc();
        return moves;
    }
    GroupMoves groupMoves_;
    std::uint64_t generation_ = 0;  // advances whenever the state numbers start over
};

// ---- Units ----------------------------------------------------------------------------

class PairRows {
public:
    PairRows() {
        // The first row whose pattern equals a unit, letters in either case, decides its
        // conversion (a converted unit is one character at most, which no later row of
        // two characters can match); a unit that no pattern equals stays as it is, as
        // written (entry 0). Every spelling of a pattern gets its own entry, so the
        // lookup itself needs no folding.
        results_.push_back(Result{});
        for (const CodeRow& row : pairCharacterTable()) {
            const std::string_view pattern = row.pattern;
            if (pattern.size() != 2 || row.replacement.size() > 2) continue;
            Result result{static_cast<std::uint8_t>(row.replacement.size()), {}};
            std::memcpy(result.bytes, row.replacement.data(), row.replacement.size());
            const auto id = static_cast<std::uint8_t>(results_.size());
            bool used = false;
            for (char a : {toLower(pattern[0]), toUpper(pattern[0])})
                for (char b : {toLower(pattern[1]), toUpper(pattern[1])}) {
                    std::uint8_t& entry = entries_[keyOf(a, b)];
                    if (entry != 0) continue;
                    entry = id;
                    used = true;
                }
            if (used) results_.push_back(result);
        }
    }

    // Cuts `size` bytes at `text` into units of two characters (an odd last character is
    // dropped), converts them and writes them to `out`; returns the bytes written, never
    // more than `size`. `out` may be `text` itself: a unit never grows, so what is written
    // never overtakes what is still to be read.
    std::size_t convertUnits(const char* text, std::size_t size, char* out, Turns& turns) const {
        char* const begin = out;
        std::size_t pos = 0;
        // A huge text goes in stretches with a turn between them.
        while (turns.wanted() && size - pos > kTurnBytes) {
            pos = convertStretch(text, size, pos, pos + kTurnBytes, out);
            turns.give();
        }
        convertStretch(text, size, pos, size, out);
        return static_cast<std::size_t>(out - begin);
    }

private:
    // Converts the units of text[0, size) that start at `pos` and before `stop`; returns
    // where the next unit starts (`size` once an odd last character is left).
    std::size_t convertStretch(const char* text, std::size_t size, std::size_t pos, std::size_t stop,
                               char*& out) const {
        const auto* data = reinterpret_cast<const unsigned char*>(text);
        const std::string_view whole(text, size);
        while (pos + 1 < stop) {
            if ((data[pos] | data[pos + 1]) < 0x80) {
                const std::uint8_t entry = entries_[keyOf(text[pos], text[pos + 1])];
                const Result& result = results_[entry];
                std::memmove(out, entry != 0 ? result.bytes : text + pos, 2);
                out += entry != 0 ? result.length : 2;
                pos += 2;
                continue;
            }
            // Characters as the toolkit cuts them, which the reference splits with. A
            // unit that is not two ASCII characters matches no row.
            const std::size_t first = tk::Utf8CharacterLength(whole, pos);
            if (pos + first >= size) return size;
            const std::size_t unit = first + tk::Utf8CharacterLength(whole, pos + first);
            std::memmove(out, text + pos, unit);
            out += unit;
            pos += unit;
        }
        return pos;
    }

    struct Result {
        std::uint8_t length;
        char bytes[2];
    };

    static std::size_t keyOf(char a, char b) {
        return static_cast<std::size_t>(static_cast<unsigned char>(a) & 0x7F) << 7 |
               (static_cast<unsigned char>(b) & 0x7F);
    }

    std::array<std::uint8_t, 128 * 128> entries_{};
    std::vector<Result> results_;
};

// What the fast path takes for granted about the tables: the group rows match four hex
// digits, no pattern is longer than four characters, no row lengthens the text it
// rewrites (the buffers are sized on that), and pair patterns are ASCII.
bool tablesSuitFastPath() {
    const auto rows = codeSubstitutionTable();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string_view pattern = rows[i].pattern;
        if (pattern.empty() || pattern.size() > 4 || rows[i].replacement.size() > pattern.size()) return false;
        if (i < kSpaceRemovalRow)
            for (char c : pattern)
                if (pattern.size() != 4 || kHexValue[static_cast<unsigned char>(c)] < 0) return false;
    }
    if (rows.size() <= kSpaceRemovalRow || rows[kSpaceRemovalRow].pattern != " ") return false;
    for (const CodeRow& row : pairCharacterTable())
        if (row.pattern.size() != 2 || row.replacement.size() > 2 ||
            std::any_of(row.pattern.begin(), row.pattern.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
            return false;
    return true;
}

struct Decoder {
    GroupRows groups;
    JoinedRows joined{codeSubstitutionTable().subspan(kJoinedRowsBegin)};
    // The group rows as one chain of passes too, for runs of glued groups: a run is
    // walled in by non-hex bytes, so it can be streamed through them on its own.
    JoinedRows gluedRuns{codeSubstitutionTable().first(kSpaceRemovalRow)};
    PairRows pairs;
    bool fastPathUsable = tablesSuitFastPath() && groups.usable();
};

const Decoder& decoder() {
    static const Decoder instance;
    return instance;
}

struct Scratch {
    JoinedRowsCache joined{decoder().joined};
    JoinedRowsCache gluedRuns{decoder().gluedRuns};
    Turns turns;  // those of the field being decoded

    // Room for the field after all substitution rows. Left uninitialised: the pages of a
    // huge field's buffer are then touched only as the decoding writes them, between its
    // turns, instead of all at once up front.
    char* room(std::size_t size) {
        if (roomSize_ < size) {
            room_.reset();
            roomSize_ = 0;  // stays true if the allocation below fails
            room_.reset(new char[size]);
            roomSize_ = size;
        }
        return room_.get();
    }

    // Buffers that a huge field made large are given back after it rather than kept for
    // the life of the thread.
    static constexpr std::size_t kKeptSize = std::size_t{1} << 20;
    void shrinkIfHuge() noexcept {
        if (roomSize_ > kKeptSize) {
            room_.reset();
            roomSize_ = 0;
        }
    }

private:
    std::unique_ptr<char[]> room_;
    std::size_t roomSize_ = 0;
};

// How many decodings are under way on this thread: a turn runs the event loop, which
// may decode another field before the one it interrupted goes on.
thread_local int tDecodingDepth = 0;

Scratch& threadScratch() {
    thread_local Scratch instance;
    return instance;
}

// Glued groups: rare, so kept out of line, where growing a buffer of the run's size costs
// the hot loop nothing (inlined, it cost a few percent on every field).
// A glued run through the group rows, only the rows that can match: the codes that occur
// in the run are noted once, and after each row that matched, the codes of the windows
// around what it put in are added. A row whose code never occurred cannot match and
// costs nothing, so a run made of few distinct groups costs a few passes.
class OccurringRows {
public:
    OccurringRows(std::string_view run, Turns& turns) : text_(run), occurs_(0x10000, false), turns_(turns) {
        note(0, text_.size());
    }

    // How many group rows have a code that occurs in the run, before any row ran.
    static std::size_t rowsThatMayMatch(std::string_view run, Turns& turns) {
        std::vector<bool> occurs(0x10000, false);
        for (std::size_t i = 0; i + 4 <= run.size(); ++i) {
            if (const int code = codeAt(run, i); code >= 0) occurs[static_cast<std::size_t>(code)] = true;
            turns.add(1);
        }
        std::size_t count = 0;
        for (const CodeRow& row : codeSubstitutionTable().first(kSpaceRemovalRow))
            count += occurs[static_cast<std::size_t>(codeAt(row.pattern, 0))] ? 1 : 0;
        return count;
    }

    std::string rewrite() && {
        std::string next;
        std::vector<std::size_t> inserted;  // where the row put its replacements in `next`
        for (const CodeRow& row : codeSubstitutionTable().first(kSpaceRemovalRow)) {
            const int code = codeAt(row.pattern, 0);
            if (!occurs_[static_cast<std::size_t>(code)]) continue;
            next.clear();
            inserted.clear();
            std::size_t at = 0;
            for (std::size_t i = 0; i + 4 <= text_.size();) {
                if (codeAt(text_, i) == code) {
                    next.append(text_, at, i - at);
                    inserted.push_back(next.size());
                    next.append(row.replacement);
                    i += 4;
                    at = i;
                } else {
                    ++i;
                }
                turns_.add(1);
            }
            if (inserted.empty()) continue;
            next.append(text_, at, std::string::npos);
            text_.swap(next);
            for (std::size_t site : inserted) note(site >= 3 ? site - 3 : 0, site + 4 + 3);
        }
        return std::move(text_);
    }

private:
    static int codeAt(std::string_view text, std::size_t i) {
        int code = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int digit = kHexValue[static_cast<unsigned char>(text[i + k])];
            if (digit < 0) return -1;
            code = code << 4 | digit;
        }
        return code;
    }
    void note(std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to && i + 4 <= text_.size(); ++i) {
            if (const int code = codeAt(text_, i); code >= 0) occurs_[static_cast<std::size_t>(code)] = true;
            turns_.add(1);
        }
    }

    std::string text_;
    std::vector<bool> occurs_;
    Turns& turns_;
};

// A glued run goes through the group rows one of two ways, whichever suits it. Most
// runs (real groups written without spaces, or random hex) go as a stream whose states
// are learnt as they come: a table step a character once learnt, with nothing held but
// a few characters. A run of few distinct groups in endless combinations would keep the
// stream learning, each new state worked out through every row; such a run has few rows
// that can match at all, and is rewritten by those rows alone.
[[gnu::noinline]] std::uint32_t stepLongRun(std::string_view run, std::uint32_t state, char*& out, Scratch& s) {
    Turns& turns = s.turns;
    constexpr std::size_t kFewRows = 48;
    // The rows insert spaces ("{ "), which the space removal takes out before the
    // joined-field rows see the text.
    const auto toJoinedRows = [&](std::string_view rewritten) {
        for (char c : rewritten) {
            if (c != ' ') state = s.joined.step(state, c, out);
            turns.add(1);
        }
    };
    if (run.size() >= 4096 && OccurringRows::rowsThatMayMatch(run, turns) <= kFewRows) {
        toJoinedRows(OccurringRows(run, turns).rewrite());
        return state;
    }
    // A step lets go of at most what the passes hold (three characters each) and itself.
    char piece[4 * kSpaceRemovalRow + JoinedRowsCache::kSlack];
    std::uint32_t chain = 0;
    for (char c : run) {
        char* end = piece;
        chain = s.gluedRuns.step(chain, c, end);
        toJoinedRows(std::string_view(piece, static_cast<std::size_t>(end - piece)));
        turns.add(1);
    }
    char* end = piece;
    s.gluedRuns.finish(chain, end);
    toJoinedRows(std::string_view(piece, static_cast<std::size_t>(end - piece)));
    return state;
}

}  // namespace

std::string decodeCodeField(std::string_view codeField, const std::function<void()>* turn) {
    const Decoder& d = decoder();
    if (!d.fastPathUsable) return decodeCodeFieldReference(codeField);
    // The thread's caches and buffer belong to the outermost decoding; one that runs
    // inside its turn gets its own. The caches are consistent between any two steps,
    // so a turn that throws leaves them fit for the next field.
    std::unique_ptr<Scratch> own;
    Scratch& s = tDecodingDepth == 0 ? threadScratch() : *(own = std::make_unique<Scratch>());
    struct Depth {
        Scratch& s;
        explicit Depth(Scratch& scratch) : s(scratch) { ++tDecodingDepth; }
        ~Depth() {
            --tDecodingDepth;
            s.shrinkIfHuge();
        }
    } depth(s);
    s.turns = Turns(turn);
    Turns& turns = s.turns;

    // Group rows, space removal and joined-field rows in one sweep: each run of hex
    // digits is rewritten on its own and fed to the joined-field passes; a space is
    // dropped; any other byte goes to the passes as it is.
    const char* const field = codeField.data();
    const std::size_t size = codeField.size();
    JoinedRowsCache& joined = s.joined;
    char* const rewritten = s.room(size + JoinedRowsCache::kSlack);
    char* out = rewritten;
    const JoinedRowsCache::GroupMove* groupMoves = joined.groupMoves();
    std::uint32_t state = 0;
    std::size_t pos = 0;
    while (pos < size) {
        // Stretches of kTurnBytes with a turn between them when a hook is given; the hot
        // loop compares with the stretch's end, as it would with the field's.
        const std::size_t stretchEnd = turns.wanted() && size - pos > kTurnBytes ? pos + kTurnBytes : size;
        while (pos < stretchEnd) {
            if (kHexValue[static_cast<unsigned char>(field[pos])] < 0) {
                if (field[pos] != ' ') {
                    state = joined.step(state, field[pos], out);
                    groupMoves = joined.groupMoves();
                }
                ++pos;
                continue;
            }
            // The usual case: a group of four digits that a space (or the end) follows.
            const auto groupAt = [&](std::size_t at) {
                const auto entry = [&](std::size_t i) {
                    return kGroupDigits[i][static_cast<unsigned char>(field[at + i])];
                };
                return entry(0) | entry(1) | entry(2) | entry(3);
            };
            std::uint32_t group = kNotHexGroup;
            if (pos + 4 <= size) {
                group = groupAt(pos);
                // Files with many distinct groups spill the group moves out of the nearest
                // cache; asking for the next group's move now hides most of that wait. (Any
                // index is inside the table, whatever the bytes turn out to be.)
                if (pos + 9 <= size) __builtin_prefetch(groupMoves + (groupAt(pos + 5) & (kUpperCaseGroup | 0xFFFFU)));
                if (pos + 4 < size && kHexValue[static_cast<unsigned char>(field[pos + 4])] >= 0) group = kNotHexGroup;
            }
            std::size_t end = pos + 4;
            if ((group & kNotHexGroup) != 0) {
                end = pos + 1;
                while (end < size && kHexValue[static_cast<unsigned char>(field[end])] >= 0) ++end;
            }
            // Whole groups whose letters mix cases take the byte-by-byte way (see stepGroup).
            constexpr std::uint32_t kMixedCase = kUpperCaseGroup | kLowerCaseGroup;
            const bool wholeGroup = state == 0 && (group & kNotHexGroup) == 0 && (group & kMixedCase) != kMixedCase;
            if (wholeGroup) {
                const std::uint32_t index = group & (kUpperCaseGroup | 0xFFFFU);
                const JoinedRowsCache::GroupMove& move = groupMoves[index];
                if (move.known) {
                    std::memcpy(out, move.output, sizeof move.output);
                    out += move.length;
                    state = move.next;
                } else {
                    state = joined.stepGroup(index, d.groups, out);
                    groupMoves = joined.groupMoves();
                }
            }
            if (!wholeGroup) {
                if (end - pos <= 4) {
                    char run[4];
                    const std::size_t runSize = d.groups.rewriteRun(field + pos, end - pos, run);
                    for (std::size_t i = 0; i < runSize; ++i) state = joined.step(state, run[i], out);
                } else {
                    state = stepLongRun(std::string_view(field + pos, end - pos), state, out, s);
                }
                groupMoves = joined.groupMoves();
            }
            pos = end;
            if (pos < size && field[pos] == ' ') ++pos;  // the space after a group, dropped at once
        }
        if (pos < size) turns.give();
    }
    joined.finish(state, out);

    auto unitsSize = static_cast<std::size_t>(out - rewritten);
    if (unitsSize == 0) {
        std::memcpy(rewritten, "2020", 4);
        unitsSize = 4;
    }
    // Converted where they stand (no unit grows), then copied at the caption's exact
    // size: a caption is about half as long as its units, and a file's captions are held
    // together until the transcript is written.
    const std::size_t captionSize = d.pairs.convertUnits(rewritten, unitsSize, rewritten, turns);
    constexpr std::size_t kCopyPiece = std::size_t{1} << 20;
    if (!turns.wanted() || captionSize <= kCopyPiece) return std::string(rewritten, captionSize);
    // Copying tens of megabytes into fresh pages takes longer than a turn may wait.
    std::string caption;
    caption.reserve(captionSize);
    for (std::size_t at = 0; at < captionSize; at += kCopyPiece) {
        caption.append(rewritten + at, std::min(kCopyPiece, captionSize - at));
        turns.give();
    }
    return caption;
}

}  // namespace quillet
