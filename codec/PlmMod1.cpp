#include "PlmMod1.h"

#include "Cp932.h"

namespace PlmMod1 {

namespace {

// Codes above this become "ERR"; 128 itself still names a character.
constexpr int kHighestCode = 128;

void appendCode(QString &out, int code)
{
    out += u'[';
    out += QString::number(code);
    out += u']';
}

} // namespace

QString UnescapeCodes(const QString &text)
{
    QString out;
    if (text.isEmpty())
        return out;
    out.reserve(text.size());

    bool inEscape = false;
    bool haveDigits = false;
    int value = 0; // saturates just above kHighestCode, however many digits

    for (const QChar ch : text) {
        QString produced; // what this character stands for after step 1
        bool closedEscape = false;
        QChar c = ch;

        if (inEscape) {
            if (c == u']') {
                inEscape = false;
                closedEscape = true;
                if (!haveDigits)
                    produced.clear(); // "[]" and "[x]" stand for nothing
                else if (value <= kHighestCode)
                    produced = Cp932::fromSingleByte(static_cast<quint8>(value));
                else
                    produced = QStringLiteral("ERR");
            } else if (c >= u'0' && c <= u'9') {
                haveDigits = true;
                if (value <= kHighestCode)
                    value = value * 10 + (c.unicode() - u'0');
            }
        }

        if (closedEscape) {
            // The produced text takes the place of the bracket: a produced
            // "[" opens a new escape just as a typed one would.
            if (produced == QLatin1String("[")) {
                inEscape = true;
                haveDigits = false;
                value = 0;
            } else {
                out += produced;
            }
            continue;
        }

        if (c == u'[') {
            if (!inEscape) {
                inEscape = true;
                haveDigits = false;
                value = 0;
            }
            continue;
        }

        if (!inEscape)
            out += c;
    }
    return out;
}

QString EscapeCodes(const QString &text)
{
    QString out;
    if (text.isEmpty())
        return out;
    out.reserve(text.size() + text.size() / 4);

    const QStringView view(text);
    qsizetype i = 0;
    while (i < view.size()) {
        const char16_t u = view[i].unicode();
        if (u >= 0x20 && u < 0x80) { // plain ASCII: code equals the character
            out += view[i];
            ++i;
            continue;
        }
        qsizetype length = 1;
        const int code = Cp932::codeAt(view, i, &length);
        if (code < 32)
            appendCode(out, code);
        else
            out += view.mid(i, length);
        i += length;
    }
    return out;
}

} // namespace PlmMod1
