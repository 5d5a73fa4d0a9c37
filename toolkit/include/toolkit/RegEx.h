#pragma once
// Regular-expression search backed by a PCRE2-based engine. Texts are UTF-8. A pattern
// is compiled once when it is set, not for every search.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Exceptions.h"
#include "toolkit/Object.h"

namespace tk {

// A search pattern that the engine cannot compile. The message names the pattern and
// the engine's complaint.
class RegExException : public RuntimeException {
public:
    explicit RegExException(const std::string& message)
        : RuntimeException("RegExException", message) {}
};

// Search options. Letter case is ignored unless CaseSensitive is set.
class RegExOptions : public Object {
public:
    bool CaseSensitive = false;
};

// One successful search: sub-expression 0 is the whole match, 1.. the capture groups.
class RegExMatch : public Object {
public:
    RegExMatch(std::vector<std::string> texts, std::vector<std::int64_t> startBytes)
        : texts_(std::move(texts)), starts_(std::move(startBytes)) {}

    // Number of sub-expressions including the whole match (at least 1).
    int SubExpressionCount() const noexcept { return static_cast<int>(texts_.size()); }
    // The text of a sub-expression; empty for a group that did not take part.
    // An index outside 0..SubExpressionCount()-1 raises OutOfBoundsException.
    const std::string& SubExpressionString(int index) const;
    // Byte offset of a sub-expression in the searched UTF-8 text; -1 for a group that
    // did not take part. Bad index: OutOfBoundsException.
    std::int64_t SubExpressionStartB(int index) const;

    const std::string& MatchedText() const { return SubExpressionString(0); }

private:
    std::vector<std::string> texts_;
    std::vector<std::int64_t> starts_;
};

class RegEx : public Object {
public:
    RegEx();
    ~RegEx() override;

    // The current pattern; empty until one is set. The empty pattern matches every text.
    const std::string& SearchPattern() const noexcept { return pattern_; }
    // Compiles the pattern at once. An invalid pattern raises RegExException and leaves
    // the previous pattern in force.
    void SetSearchPattern(std::string pattern);

    // The options object; changes to it apply from the next search.
    const Ref<RegExOptions>& Options() const noexcept { return options_; }

    // The first match anywhere in `target`, searched from its start, or nil.
    Ref<RegExMatch> Search(std::string_view target);

private:
    struct Compiled;
    void Compile(const std::string& pattern, bool caseSensitive);

    std::string pattern_;
    Ref<RegExOptions> options_;
    std::unique_ptr<Compiled> compiled_;
};

}  // namespace tk
