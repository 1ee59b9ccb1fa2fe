#include "ExpectedText.h"

#include <utility>

ExpectedText::ExpectedText(QString text) : text_(std::move(text)) {}

bool ExpectedText::isBegunBy(QStringView received) const
{
    return received.startsWith(text_);
}

bool ExpectedText::mayBecome(QStringView received) const
{
    return received.size() >= text_.size() ? received.startsWith(text_)
                                           : QStringView(text_).startsWith(received);
}

const std::vector<qsizetype> &ExpectedText::borders() const
{
    if (borders_.empty() && !text_.isEmpty()) {
        borders_.assign(std::size_t(text_.size()), 0);
        qsizetype k = 0;
        for (qsizetype i = 1; i < text_.size(); ++i) {
            while (k > 0 && text_[i] != text_[k])
                k = borders_[std::size_t(k - 1)];
            if (text_[i] == text_[k])
                ++k;
            borders_[std::size_t(i)] = k;
        }
    }
    return borders_;
}

qsizetype ExpectedText::noiseBefore(QStringView received) const
{
    const qsizetype n = text_.size();
    if (n == 0)
        return 0;
    const std::vector<qsizetype> &border = borders();
    // matched: how much of the text the received text ends with so far.
    qsizetype matched = 0;
    for (qsizetype i = 0; i < received.size(); ++i) {
        while (matched > 0 && received[i] != text_[matched])
            matched = border[std::size_t(matched - 1)];
        if (received[i] == text_[matched])
            ++matched;
        if (matched == n)
            return i + 1 - n;
    }
    return received.size() - matched;
}

qsizetype ExpectedText::countIn(QStringView received) const
{
    if (text_.isEmpty())
        return 0;
    qsizetype count = 0;
    for (;;) {
        received = received.mid(noiseBefore(received));
        if (!isBegunBy(received))
            return count;
        ++count;
        received = received.mid(text_.size());
    }
}
