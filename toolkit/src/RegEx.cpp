#include "toolkit/RegEx.h"

#include <QRegularExpression>
#include <QString>

#include "QtText.h"

namespace tk {

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

    const QString text = detail::ToQt(target);
    const QRegularExpressionMatch match = compiled_->expression.match(text);
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
        texts.push_back(detail::FromQt(match.captured(i)));
        // Offsets in the UTF-8 target: the length of the prefix once encoded again.
        starts.push_back(static_cast<std::int64_t>(QStringView(text).left(start).toUtf8().size()));
    }
    return std::make_shared<RegExMatch>(std::move(texts), std::move(starts));
}

}  // namespace tk
