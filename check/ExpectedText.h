#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// The text a reply must be, in the escaped form received text takes, and
// where in received text a reply can still begin. A reply is looked for as
// the received text's beginning; what stands before it and can begin no
// reply is noise to drop:
//   ExpectedText t(u"AB[13]");
//   t.noiseBefore(u"xAB")       == 1   // "AB" may still become the text
//   t.noiseBefore(u"AAB[13]x")  == 1   // the text begins after one "A"
//   t.noiseBefore(u"xyz")       == 3
class ExpectedText {
public:
    explicit ExpectedText(QString text = {});

    const QString &text() const { return text_; }
    qsizetype size() const { return text_.size(); }

    // `received` begins with the whole text (an empty text is begun by anything).
    bool isBegunBy(QStringView received) const;
    // `received` is the whole text or still may become it: it begins with
    // the text, or is a beginning of it.
    bool mayBecome(QStringView received) const;
    // How many characters at the front of `received` can begin no reply:
    // without them the rest begins with the text, or is a beginning of it.
    // One pass over `received`, however the text repeats itself.
    qsizetype noiseBefore(QStringView received) const;
    // How many whole texts `received` holds, one after another, with noise
    // anywhere between them. None for an empty text.
    qsizetype countIn(QStringView received) const;

private:
    // For each beginning of the text, the length of its longest proper
    // beginning that is also its end; made on first use.
    const std::vector<qsizetype> &borders() const;

    QString text_;
    mutable std::vector<qsizetype> borders_;
};
