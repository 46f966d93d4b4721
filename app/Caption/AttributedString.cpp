#include "Caption/AttributedString.h"

#include <algorithm>

void AttributedString::append(const QString& text, const TextAttributes& attributes)
{
    insert(text_.size(), text, attributes);
}

void AttributedString::insert(qsizetype index, const QString& text, const TextAttributes& attributes)
{
    if (text.isEmpty()) {
        return;
    }
    index = std::clamp<qsizetype>(index, 0, text_.size());
    text_.insert(index, text);
    qsizetype pos = 0;
    auto it = spans_.begin();
    while (it != spans_.end() && pos + it->length <= index) {
        pos += it->length;
        ++it;
    }
    if (it != spans_.end() && pos < index) {
        // Split the span that holds the insertion point.
        Span tail{it->length - (index - pos), it->attributes};
        it->length = index - pos;
        it = spans_.insert(it + 1, tail);
    }
    spans_.insert(it, Span{text.size(), attributes});
    normalize();
}

void AttributedString::removeLast()
{
    if (text_.isEmpty()) {
        return;
    }
    text_.chop(1);
    if (--spans_.back().length == 0) {
        spans_.pop_back();
    }
}

TextAttributes AttributedString::attributesAt(qsizetype index) const
{
    qsizetype pos = 0;
    for (const auto& span : spans_) {
        if (index < pos + span.length) {
            return span.attributes;
        }
        pos += span.length;
    }
    return {};
}

std::vector<AttributedString::Run> AttributedString::runs() const
{
    std::vector<Run> result;
    qsizetype pos = 0;
    for (const auto& span : spans_) {
        result.push_back({text_.mid(pos, span.length), span.attributes});
        pos += span.length;
    }
    return result;
}

void AttributedString::normalize()
{
    std::vector<Span> merged;
    for (auto& span : spans_) {
        if (span.length == 0) {
            continue;
        }
        if (!merged.empty() && merged.back().attributes == span.attributes) {
            merged.back().length += span.length;
        } else {
            merged.push_back(std::move(span));
        }
    }
    spans_ = std::move(merged);
}
