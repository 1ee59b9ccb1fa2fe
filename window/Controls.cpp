#include "Controls.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextDocument>

QString Controls::boxText(const QPlainTextEdit *box)
{
    QString text = box->toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    return text;
}

void Controls::setBoxText(QPlainTextEdit *box, const QString &text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // A box set to what it already shows (the same echo, exchange after
    // exchange) is left alone: laying the text out again costs more than
    // the rest of an exchange together.
    if (box->document()->characterCount() == plain.size() + 1 && box->toPlainText() == plain)
        return;
    box->setPlainText(plain);
}

int Controls::listIndex(const QComboBox *combo)
{
    const int current = combo->currentIndex();
    if (current >= 0 && combo->itemText(current) == combo->currentText())
        return current;
    return combo->findText(combo->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}
