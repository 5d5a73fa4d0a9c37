#include "toolkit/RegEx.h"

#include <QRegularExpression>
#include <QString>

#include "QtText.h"
#include "toolkit/Utf8.h"

namespace tk {
namespace {

// The target as the engine's UTF-16 text, and for every UTF-16 unit the byte offset in
// the target where its character starts (one more entry for the end). A byte that is
// not valid UTF-8 becomes one U+FFFD, as the rest of the runtime counts it, so match
// positions and texts are mapped back to the very bytes that were searched.
struct EngineText {
    QString text;
    std::vector<std::int64_t> byteAt;
};

EngineText ToEngine(std::string_view target) {
    EngineText out;
    out.text.reserve(static_cast<qsizetype>(target.size()));
    out.byteAt.reserve(target.size() + 1);
    for (std::size_t pos = 0; pos < target.size();) {
        const std::size_t length = Utf8CharacterLength(target, pos);
        const auto lead = static_cast<unsigned char>(target[pos]);
        if (length == 1 && lead >= 0x80) {
            out.text.append(QChar(QChar::ReplacementCharacter));
        } else {
            out.text.append(QString::fromUtf8(target.data() + pos, static_cast<qsizetype>(length)));
        }
        while (static_cast<std::size_t>(out.text.size()) > out.byteAt.size())
            out.byteAt.push_back(static_cast<std::int64_t>(pos));
        pos += length;
    }
    out.byteAt.push_back(static_cast<std::int64_t>(target.size()));
    return out;
}

}  // namespace

struct RegEx::Compiled {
    QRegularExpression expression;
    bool caseSensitive = false;
};

const std::string& RegExMatch::SubExpressionString(int index) const {
    if (index < 0 || index >= SubExpressionCount())
        throw OutOfBoundsException("Sub-expression " + std::to_string(index) + " does not exist.");
    return texts_[static_cast<std::size_t>(index)];
}

std::int64_t RegExMatch::SubExpressionStartB(int index) const {
    if (index < 0 || index >= SubExpressionCount())
        throw OutOfBoundsException("Sub-expression " + std::to_string(index) + " does not exist.");
    return starts_[static_cast<std::size_t>(index)];
}

RegEx::RegEx() : options_(std::make_shared<RegExOptions>()) { Compile(pattern_, false); }

RegEx::~RegEx() = default;

void RegEx::Compile(const std::string& pattern, bool caseSensitive) {
    QRegularExpression::PatternOptions flags = QRegularExpression::NoPatternOption;
    if (!caseSensitive) flags |= QRegularExpression::CaseInsensitiveOption;
    QRegularExpression expression(detail::ToQt(pattern), flags);
    if (!expression.isValid()) {
        throw RegExException("The search pattern \"" + pattern + "\" is not valid: " +
                             detail::FromQt(expression.errorString()) + " (at offset " +
                             std::to_string(expression.patternErrorOffset()) + ").");
    }
    // Searches run once per caption line; compile (and JIT) now rather than on first use.
    expression.optimize();
    auto compiled = std::make_unique<Compiled>();
    compiled->expression = std::move(expression);
    compiled->caseSensitive = caseSensitive;
    compiled_ = std::move(compiled);
}

void RegEx::SetSearchPattern(std::string pattern) {
    Compile(pattern, options_ && options_->CaseSensitive);
    pattern_ = std::move(pattern);
}

Ref<RegExMatch> RegEx::Search(std::string_view target) {
    const bool caseSensitive = options_ && options_->CaseSensitive;
    if (caseSensitive != compiled_->caseSensitive) Compile(pattern_, caseSensitive);

    const EngineText engine = ToEngine(target);
    const QRegularExpressionMatch match = compiled_->expression.match(engine.text);
    if (!match.hasMatch()) return nullptr;

    const int count = compiled_->expression.captureCount() + 1;
    std::vector<std::string> texts;
    std::vector<std::int64_t> starts;
    texts.reserve(static_cast<std::size_t>(count));
    starts.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const qsizetype start = match.capturedStart(i);
        if (start < 0) {
            texts.emplace_back();
            starts.push_back(-1);
            continue;
        }
        const std::int64_t from = engine.byteAt[static_cast<std::size_t>(start)];
        const std::int64_t to = engine.byteAt[static_cast<std::size_t>(match.capturedEnd(i))];
        texts.emplace_back(target.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from)));
        starts.push_back(from);
    }
    return std::make_shared<RegExMatch>(std::move(texts), std::move(starts));
}

}  // namespace tk
