#include "Cp932Sample.h"

#include "Cp932Table.h"

#include <QList>

#include <array>

namespace {

// xorshift32, so that the data is the same on every machine and every run:
// a number 0 <= n < bound, advancing `state` (never 0).
quint32 randomBelow(quint32 &state, quint32 bound)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state % bound;
}

// Every defined double-byte cell of the JIS X 0208 rows (leads 0x81-0x84,
// 0x88-0x9F, 0xE0-0xEA), as lead * 256 + trail.
QList<quint16> jisCells()
{
    QList<quint16> cells;
    auto addLeads = [&cells](int first, int last) {
        for (int lead = first; lead <= last; ++lead) {
            const int row = Cp932Table::kLeadRow[lead];
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const int column = Cp932Table::kTrailColumn[trail];
                if (column >= 0 && Cp932Table::kDoubleByte[row * Cp932Table::kTrailCount + column])
                    cells.append(quint16(lead << 8 | trail));
            }
        }
    };
    addLeads(0x81, 0x84);
    addLeads(0x88, 0x9F);
    addLeads(0xE0, 0xEA);
    return cells;
}

} // namespace

namespace Cp932Sample {

QByteArray mixedBytes(qsizetype size, quint32 seed)
{
    static const QList<quint16> cells = jisCells();
    quint32 state = seed ? seed : 1;
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const quint32 pick = randomBelow(state, 100);
        if (pick < 5) {
            bytes.append(char(randomBelow(state, 32)));
        } else if (pick < 20) {
            bytes.append(char(0xA1 + randomBelow(state, 0xDF - 0xA1 + 1)));
        } else if (pick < 38 && bytes.size() + 2 <= size) {
            // 18 picks in 100 give two bytes each: about 30% of the bytes.
            const quint16 cell = cells[randomBelow(state, quint32(cells.size()))];
            bytes.append(char(cell >> 8));
            bytes.append(char(cell & 0xFF));
        } else {
            bytes.append(char(0x20 + randomBelow(state, 0x7F - 0x20)));
        }
    }
    return bytes;
}

QString sendText(qsizetype units)
{
    // Lines of the kind a line check sends: a frame with control codes,
    // Japanese and ASCII fields, a line end.
    const std::array<QString, 8> lines = {
        QStringLiteral("[2]温度センサー１ 測定値=23.5 ﾃﾞｰﾀ正常[3][13][10]"),
        QStringLiteral("[27]P1 受信確認 ACK OK[13][10]"),
        QStringLiteral("[2]ID:00042 状態：運転中 ｽﾃｰﾀｽ=RUN[23][3][13][10]"),
        QStringLiteral("通信チェック用の送信テキストです。改行コードは[013][010]"),
        QStringLiteral("[1][2]STX ETX EOT[4] 漢字と仮名とｶﾀｶﾅ[13][10]"),
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 [9]タブ区切り[9]値[13][10]"),
        QStringLiteral("[2]エラー番号 E-17 電圧低下 警報[7][3][13][10]"),
        QStringLiteral("日本語のメッセージ：装置の準備ができました。[6][13][10]"),
    };
    QString text;
    text.reserve(units + 128);
    for (std::size_t i = 0; text.size() < units; ++i)
        text += lines[i % lines.size()];
    // Cut to length; an escape the cut left open would swallow the padding.
    text.truncate(units);
    const qsizetype open = text.lastIndexOf(u'[');
    if (open > text.lastIndexOf(u']'))
        text.truncate(open);
    while (text.size() < units)
        text += u'.';
    return text;
}

} // namespace Cp932Sample
