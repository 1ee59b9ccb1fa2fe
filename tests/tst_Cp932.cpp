#include "BracketCodes.h"
#include "Cp932.h"
#include "Cp932Decoder.h"

#include <QList>
#include <QTest>

#include <initializer_list>
#include <optional>
#include <random>

#if __has_include(<iconv.h>)
#include <iconv.h>
#define COMMCHECK_HAVE_ICONV 1
#endif

// Our code page 932 table and converter, checked against glibc's converter
// (which the table was generated from) and against what Windows gives.

namespace {

QString units(std::initializer_list<char16_t> list)
{
    return QString(reinterpret_cast<const QChar *>(list.begin()), qsizetype(list.size()));
}

QByteArray bytesOf(std::initializer_list<int> list)
{
    QByteArray bytes;
    for (int b : list)
        bytes.append(char(b));
    return bytes;
}

QString hexBytes(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString hexUnits(QStringView text)
{
    QStringList parts;
    for (QChar c : text)
        parts << QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

// Whether decoding bytes in pieces gives what decoding them at once gives.
QString decodeInPieces(const QList<QByteArrayView> &pieces)
{
    Cp932Decoder decoder;
    QString text;
    for (QByteArrayView piece : pieces)
        text += decoder.decode(piece);
    return text + decoder.flush();
}

// The received text the port makes straight from the same pieces.
QString escapeInPieces(const QList<QByteArrayView> &pieces)
{
    Cp932Decoder decoder;
    QString shown;
    for (QByteArrayView piece : pieces)
        shown += decoder.decodeEscaped(piece);
    return shown + BracketCodes::EscapeCodes(decoder.flush());
}

#ifdef COMMCHECK_HAVE_ICONV
bool isValidHandle(iconv_t cd)
{
    return cd != reinterpret_cast<iconv_t>(-1);
}

iconv_t glibcDecoder()
{
    static const iconv_t cd = iconv_open("UTF-16LE", "CP932");
    return cd;
}

iconv_t glibcEncoder()
{
    static const iconv_t cd = iconv_open("CP932", "UTF-16LE");
    return cd;
}

std::optional<QByteArray> runIconv(iconv_t cd, QByteArray in)
{
    char out[16];
    char *inPtr = in.data();
    size_t inLeft = size_t(in.size());
    char *outPtr = out;
    size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0)
        return std::nullopt;
    return QByteArray(out, qsizetype(sizeof out - outLeft));
}

// The one UTF-16 unit glibc decodes two bytes to, if it takes them as one character.
std::optional<char16_t> glibcDecodePair(int lead, int trail)
{
    const auto out = runIconv(glibcDecoder(), bytesOf({lead, trail}));
    if (!out || out->size() != 2)
        return std::nullopt;
    return char16_t(quint8(out->at(0)) | quint8(out->at(1)) << 8);
}

std::optional<QByteArray> glibcEncode(char16_t unit)
{
    return runIconv(glibcEncoder(), bytesOf({unit & 0xFF, unit >> 8}));
}

bool glibcAvailable()
{
    return isValidHandle(glibcDecoder()) && isValidHandle(glibcEncoder());
}
#else
bool glibcAvailable()
{
    return false;
}
std::optional<char16_t> glibcDecodePair(int, int)
{
    return std::nullopt;
}
std::optional<QByteArray> glibcEncode(char16_t)
{
    return std::nullopt;
}
#endif

#define REQUIRE_GLIBC()                                                                            \
    do {                                                                                           \
        if (!glibcAvailable())                                                                     \
            QFAIL("glibc's iconv \"CP932\" converter is needed to check the table");               \
    } while (false)

bool isLead(int b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The cells whose character Windows writes with another code: all the
// NEC-selected IBM extensions, the NEC row 13 symbols also in JIS X 0208, and
// the IBM extensions also in JIS X 0208 or NEC row 13. Only these may change
// when decoded bytes are encoded again.
bool isDuplicateCell(int lead, int trail)
{
    switch (lead) {
    case 0xED:
    case 0xEE:
        return true;
    case 0x87:
        return (trail >= 0x90 && trail <= 0x92) || (trail >= 0x95 && trail <= 0x97) ||
               (trail >= 0x9A && trail <= 0x9C);
    case 0xFA:
        return (trail >= 0x4A && trail <= 0x54) || (trail >= 0x58 && trail <= 0x5B);
    default:
        return false;
    }
}

// Whether `again` differs from `bytes` only inside duplicate cells of `bytes`.
bool differsOnlyInDuplicateCells(QByteArrayView bytes, QByteArrayView again)
{
    if (bytes.size() != again.size())
        return false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == again[i])
            continue;
        const bool startsDuplicate =
            i + 1 < bytes.size() && isDuplicateCell(quint8(bytes[i]), quint8(bytes[i + 1]));
        const bool endsDuplicate = i > 0 && isDuplicateCell(quint8(bytes[i - 1]), quint8(bytes[i]));
        if (!startsDuplicate && !endsDuplicate)
            return false;
    }
    return true;
}

// Where glibc and Windows disagree on encoding. glibc rejects five characters
// Windows gives single bytes, and encodes nine look-alikes one way only (their
// codes decode to other characters); Windows' table has no code for those.
struct Deviation {
    char16_t unit;
    const char *bytes;
};
constexpr Deviation kGlibcDeviations[] = {
    {0x0080, "\x80"}, {0xF8F0, "\xA0"}, {0xF8F1, "\xFD"}, {0xF8F2, "\xFE"}, {0xF8F3, "\xFF"},
    {0x00A2, "?"},    {0x00A3, "?"},    {0x00A5, "?"},    {0x00AC, "?"},    {0x2014, "?"},
    {0x2016, "?"},    {0x203E, "?"},    {0x2212, "?"},    {0x301C, "?"},
};

std::optional<QByteArray> deviationFor(char16_t unit)
{
    for (const Deviation &d : kGlibcDeviations) {
        if (d.unit == unit)
            return QByteArray(d.bytes);
    }
    return std::nullopt;
}

} // namespace

class TestCp932 : public QObject {
    Q_OBJECT

private slots:
    void doubleByteCellsMatchGlibc_data();
    void doubleByteCellsMatchGlibc();
    void definedCellCountsMatchWindows_data();
    void definedCellCountsMatchWindows();
    void decodesDoubleByteCell_data();
    void decodesDoubleByteCell();
    void encodesLikeGlibcExceptKnownDeviations_data();
    void encodesLikeGlibcExceptKnownDeviations();
    void encodesWithWindowsPriority_data();
    void encodesWithWindowsPriority();
    void necSelectedIbmCellsAreNeverProduced();
    void mapsSingleByte_data();
    void mapsSingleByte();
    void escapesBytesThatStartNoCharacter_data();
    void escapesBytesThatStartNoCharacter();
    void encodesEdgeCaseText_data();
    void encodesEdgeCaseText();
    void codeAt_data();
    void codeAt();
    void roundTripsEveryOneAndTwoByteSequence();
    void roundTripsRandomSequences_data();
    void roundTripsRandomSequences();
    void decoderJoinsPieces_data();
    void decoderJoinsPieces();
    void resetDropsPendingLead();
};

void TestCp932::doubleByteCellsMatchGlibc_data()
{
    QTest::addColumn<int>("lead");
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (isLead(lead))
            QTest::addRow("lead %02X", lead) << lead;
    }
}

// Every trail byte after this lead: a cell glibc defines must decode to
// glibc's character; any other pair must decode to the lead's escape followed
// by the second byte read on its own.
void TestCp932::doubleByteCellsMatchGlibc()
{
    REQUIRE_GLIBC();
    QFETCH(int, lead);
    for (int trail = 0; trail < 256; ++trail) {
        const QByteArray bytes = bytesOf({lead, trail});
        const std::optional<char16_t> glibc = glibcDecodePair(lead, trail);
        const QString expected = glibc ? units({*glibc})
                                       : QString(Cp932::fromSingleByte(quint8(lead))) +
                                             Cp932::fromSingleByte(quint8(trail));
        const QString ours = Cp932::decode(bytes);
        if (ours != expected) {
            QFAIL(qPrintable(
                QStringLiteral("%1 decodes to %2, expected %3 (glibc %4)")
                    .arg(hexBytes(bytes), hexUnits(ours), hexUnits(expected),
                         glibc ? QStringLiteral("defines it") : QStringLiteral("rejects it"))));
        }
    }
}

void TestCp932::definedCellCountsMatchWindows_data()
{
    QTest::addColumn<QList<int>>("leads");
    QTest::addColumn<int>("count");
    QList<int> jis;
    for (int lead = 0x81; lead <= 0xEA; ++lead) {
        if (isLead(lead) && lead != 0x85 && lead != 0x86 && lead != 0x87)
            jis << lead;
    }
    QTest::newRow("JIS X 0208 rows") << jis << 6879;
    QTest::newRow("NEC row 13") << QList<int>{0x87} << 83;
    QTest::newRow("NEC-selected IBM extensions") << QList<int>{0xED, 0xEE} << 374;
    QTest::newRow("IBM extensions") << QList<int>{0xFA, 0xFB, 0xFC} << 388;
    QTest::newRow("user-defined area")
        << QList<int>{0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9} << 1880;
    QTest::newRow("unused leads") << QList<int>{0x85, 0x86, 0xEB, 0xEC, 0xEF} << 0;
}

void TestCp932::definedCellCountsMatchWindows()
{
    QFETCH(QList<int>, leads);
    QFETCH(int, count);
    int defined = 0;
    for (int lead : leads) {
        for (int trail = 0; trail < 256; ++trail) {
            if (Cp932::decode(bytesOf({lead, trail})).size() == 1)
                ++defined;
        }
    }
    QCOMPARE(defined, count);
}

void TestCp932::decodesDoubleByteCell_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ideographic space 8140") << bytesOf({0x81, 0x40}) << units({0x3000});
    QTest::newRow("horizontal bar 815C") << bytesOf({0x81, 0x5C}) << units({0x2015});
    QTest::newRow("fullwidth reverse solidus 815F") << bytesOf({0x81, 0x5F}) << units({0xFF3C});
    QTest::newRow("fullwidth tilde 8160") << bytesOf({0x81, 0x60}) << units({0xFF5E});
    QTest::newRow("parallel to 8161") << bytesOf({0x81, 0x61}) << units({0x2225});
    QTest::newRow("fullwidth hyphen-minus 817C") << bytesOf({0x81, 0x7C}) << units({0xFF0D});
    QTest::newRow("first cell after 0x7F gap 8180") << bytesOf({0x81, 0x80}) << units({0x00F7});
    QTest::newRow("fullwidth cent 8191") << bytesOf({0x81, 0x91}) << units({0xFFE0});
    QTest::newRow("fullwidth not 81CA") << bytesOf({0x81, 0xCA}) << units({0xFFE2});
    QTest::newRow("hiragana a 82A0") << bytesOf({0x82, 0xA0}) << units({0x3042});
    QTest::newRow("first kanji 889F") << bytesOf({0x88, 0x9F}) << units({0x4E9C});
    QTest::newRow("last JIS kanji EAA4") << bytesOf({0xEA, 0xA4}) << units({0x7199});
    QTest::newRow("NEC circled one 8740") << bytesOf({0x87, 0x40}) << units({0x2460});
    QTest::newRow("NEC roman one 8754") << bytesOf({0x87, 0x54}) << units({0x2160});
    QTest::newRow("NEC numero 8782") << bytesOf({0x87, 0x82}) << units({0x2116});
    QTest::newRow("NEC-selected IBM first ED40") << bytesOf({0xED, 0x40}) << units({0x7E8A});
    QTest::newRow("NEC-selected IBM small roman EEEF") << bytesOf({0xEE, 0xEF}) << units({0x2170});
    QTest::newRow("NEC-selected IBM last EEFC") << bytesOf({0xEE, 0xFC}) << units({0xFF02});
    QTest::newRow("IBM small roman one FA40") << bytesOf({0xFA, 0x40}) << units({0x2170});
    QTest::newRow("IBM last FC4B") << bytesOf({0xFC, 0x4B}) << units({0x9ED1});
    QTest::newRow("user-defined first F040") << bytesOf({0xF0, 0x40}) << units({0xE000});
    QTest::newRow("user-defined before 0x7F F07E") << bytesOf({0xF0, 0x7E}) << units({0xE03E});
    QTest::newRow("user-defined after 0x7F F080") << bytesOf({0xF0, 0x80}) << units({0xE03F});
    QTest::newRow("user-defined row end F0FC") << bytesOf({0xF0, 0xFC}) << units({0xE0BB});
    QTest::newRow("user-defined second row F140") << bytesOf({0xF1, 0x40}) << units({0xE0BC});
    QTest::newRow("user-defined last F9FC") << bytesOf({0xF9, 0xFC}) << units({0xE757});
}

void TestCp932::decodesDoubleByteCell()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(hexUnits(Cp932::decode(bytes)), hexUnits(text));
}

void TestCp932::encodesLikeGlibcExceptKnownDeviations_data()
{
    QTest::addColumn<int>("first");
    for (int first = 0; first < 0x10000; first += 0x1000)
        QTest::addRow("U+%04X-U+%04X", first, first + 0xFFF) << first;
}

// Each BMP character but the surrogates (whose escapes glibc cannot know).
void TestCp932::encodesLikeGlibcExceptKnownDeviations()
{
    REQUIRE_GLIBC();
    QFETCH(int, first);
    for (int u = first; u < first + 0x1000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF)
            continue;
        const char16_t unit = char16_t(u);
        const QByteArray ours = Cp932::encode(QStringView(&unit, 1));
        const std::optional<QByteArray> deviation = deviationFor(unit);
        const std::optional<QByteArray> glibc = glibcEncode(unit);
        const QByteArray expected = deviation ? *deviation : glibc ? *glibc : QByteArray("?");
        if (ours != expected) {
            QFAIL(qPrintable(QStringLiteral("U+%1 encodes to %2, expected %3")
                                 .arg(u, 4, 16, QLatin1Char('0'))
                                 .arg(hexBytes(ours), hexBytes(expected))));
        }
    }
}

void TestCp932::encodesWithWindowsPriority_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("not sign JIS over NEC-IBM and IBM") << units({0xFFE2}) << bytesOf({0x81, 0xCA});
    QTest::newRow("because JIS over NEC and IBM") << units({0x2235}) << bytesOf({0x81, 0xE6});
    QTest::newRow("approximately equal JIS over NEC") << units({0x2252}) << bytesOf({0x81, 0xE0});
    QTest::newRow("roman one NEC over IBM") << units({0x2160}) << bytesOf({0x87, 0x54});
    QTest::newRow("small roman one IBM over NEC-IBM") << units({0x2170}) << bytesOf({0xFA, 0x40});
    QTest::newRow("numero NEC over IBM") << units({0x2116}) << bytesOf({0x87, 0x82});
    QTest::newRow("parenthesized stock NEC over IBM") << units({0x3231}) << bytesOf({0x87, 0x8A});
    QTest::newRow("Meiji era sign NEC only") << units({0x337E}) << bytesOf({0x87, 0x8D});
    QTest::newRow("telephone sign NEC over IBM") << units({0x2121}) << bytesOf({0x87, 0x84});
    QTest::newRow("kanji IBM over NEC-IBM") << units({0x7E8A}) << bytesOf({0xFA, 0x5C});
    QTest::newRow("last kanji IBM over NEC-IBM") << units({0x9ED1}) << bytesOf({0xFC, 0x4B});
    QTest::newRow("fullwidth quotation IBM over NEC-IBM")
        << units({0xFF02}) << bytesOf({0xFA, 0x57});
}

void TestCp932::encodesWithWindowsPriority()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(hexBytes(Cp932::encode(text)), hexBytes(bytes));
}

// The NEC-selected IBM cells decode, but their characters must be written with
// another code (the IBM one, or JIS X 0208's for the few symbols it has too)
// that decodes to the same character.
void TestCp932::necSelectedIbmCellsAreNeverProduced()
{
    int checked = 0;
    for (int lead : {0xED, 0xEE}) {
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            const QByteArray cell = bytesOf({lead, trail});
            const QString text = Cp932::decode(cell);
            if (text.size() != 1)
                continue;
            const QByteArray encoded = Cp932::encode(text);
            const int encodedLead = encoded.isEmpty() ? 0 : quint8(encoded.at(0));
            if (encoded.size() != 2 || encodedLead == 0xED || encodedLead == 0xEE ||
                Cp932::decode(encoded) != text) {
                QFAIL(qPrintable(QStringLiteral("%1 (%2) encodes to %3")
                                     .arg(hexBytes(cell), hexUnits(text), hexBytes(encoded))));
            }
            ++checked;
        }
    }
    QCOMPARE(checked, 374);
}

void TestCp932::mapsSingleByte_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("unit");
    QTest::newRow("NUL") << 0x00 << 0x0000;
    QTest::newRow("SUB 0x1A") << 0x1A << 0x001A;
    QTest::newRow("FS 0x1C") << 0x1C << 0x001C;
    QTest::newRow("backslash 0x5C") << 0x5C << 0x005C;
    QTest::newRow("tilde 0x7E") << 0x7E << 0x007E;
    QTest::newRow("DEL 0x7F") << 0x7F << 0x007F;
    QTest::newRow("0x80 to U+0080") << 0x80 << 0x0080;
    QTest::newRow("0xA0 to U+F8F0") << 0xA0 << 0xF8F0;
    QTest::newRow("first katakana 0xA1") << 0xA1 << 0xFF61;
    QTest::newRow("katakana a 0xB1") << 0xB1 << 0xFF71;
    QTest::newRow("last katakana 0xDF") << 0xDF << 0xFF9F;
    QTest::newRow("0xFD to U+F8F1") << 0xFD << 0xF8F1;
    QTest::newRow("0xFE to U+F8F2") << 0xFE << 0xF8F2;
    QTest::newRow("0xFF to U+F8F3") << 0xFF << 0xF8F3;
}

void TestCp932::mapsSingleByte()
{
    QFETCH(int, byte);
    QFETCH(int, unit);
    const QByteArray bytes = bytesOf({byte});
    const QString text = units({char16_t(unit)});
    QCOMPARE(hexUnits(Cp932::decode(bytes)), hexUnits(text));
    QCOMPARE(Cp932::fromSingleByte(quint8(byte)), QChar(unit));
    QCOMPARE(hexBytes(Cp932::encode(text)), hexBytes(bytes));
    QCOMPARE(int(Cp932::codeAt(text, 0)), byte);
}

void TestCp932::escapesBytesThatStartNoCharacter_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("lead at end") << bytesOf({0x41, 0x81}) << units({0x41, 0xDC81});
    QTest::newRow("lead before LF") << bytesOf({0x81, 0x0A}) << units({0xDC81, 0x0A});
    QTest::newRow("lead before DEL") << bytesOf({0x81, 0x7F}) << units({0xDC81, 0x7F});
    QTest::newRow("lead before 0xFD") << bytesOf({0x81, 0xFD}) << units({0xDC81, 0xF8F1});
    QTest::newRow("undefined cell in row 1 81AD")
        << bytesOf({0x81, 0xAD}) << units({0xDC81, 0xFF6D});
    QTest::newRow("undefined lead 85") << bytesOf({0x85, 0x40}) << units({0xDC85, 0x40});
    QTest::newRow("undefined cell after IBM end FC4C")
        << bytesOf({0xFC, 0x4C}) << units({0xDCFC, 0x4C});
    QTest::newRow("would-be trail starts a pair")
        << bytesOf({0xEB, 0x81, 0x40}) << units({0xDCEB, 0x3000});
    QTest::newRow("run of leads without cells")
        << bytesOf({0x85, 0x86, 0x9F}) << units({0xDC85, 0xDC86, 0xDC9F});
    QTest::newRow("trail byte alone") << bytesOf({0x40}) << units({0x40});
}

void TestCp932::escapesBytesThatStartNoCharacter()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(hexUnits(Cp932::decode(bytes)), hexUnits(text));
    QCOMPARE(hexBytes(Cp932::encode(text)), hexBytes(bytes));
}

void TestCp932::encodesEdgeCaseText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("mixed widths") << units({0x61, 0x3042, 0x5C, 0xFF71})
                                  << bytesOf({0x61, 0x82, 0xA0, 0x5C, 0xB1});
    QTest::newRow("unmappable e acute") << units({0x00E9}) << QByteArray("?");
    QTest::newRow("surrogate pair") << units({0xD83D, 0xDE00}) << QByteArray("?");
    QTest::newRow("two surrogate pairs")
        << units({0xD83D, 0xDE00, 0xD83D, 0xDE01}) << QByteArray("??");
    QTest::newRow("pair whose low half looks like an escape")
        << units({0xD800, 0xDC81}) << QByteArray("?");
    QTest::newRow("lone high surrogate") << units({0xD800, 0x41}) << QByteArray("?A");
    QTest::newRow("lone high surrogate at end") << units({0x41, 0xDBFF}) << QByteArray("A?");
    QTest::newRow("lone low surrogate below escapes") << units({0xDC41}) << QByteArray("?");
    QTest::newRow("lone low surrogate above escapes") << units({0xDD00}) << QByteArray("?");
    QTest::newRow("escape of 0x80") << units({0xDC80}) << bytesOf({0x80});
    QTest::newRow("escape of 0xFF") << units({0xDCFF}) << bytesOf({0xFF});
}

void TestCp932::encodesEdgeCaseText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(hexBytes(Cp932::encode(text)), hexBytes(bytes));
    // The size a send is measured by before it is encoded.
    QCOMPARE(Cp932::encodedSize(text), bytes.size());
}

void TestCp932::codeAt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("length");
    QTest::newRow("ASCII A") << units({0x41}) << 0 << 65 << 1;
    QTest::newRow("CR") << units({0x0D}) << 0 << 13 << 1;
    QTest::newRow("half-width katakana a") << units({0xFF71}) << 0 << 0xB1 << 1;
    QTest::newRow("hiragana a") << units({0x3042}) << 0 << -32096 << 1;
    QTest::newRow("hiragana a after ASCII") << units({0x41, 0x3042}) << 1 << -32096 << 1;
    QTest::newRow("IBM small roman one") << units({0x2170}) << 0 << 0xFA40 - 0x10000 << 1;
    QTest::newRow("user-defined first") << units({0xE000}) << 0 << 0xF040 - 0x10000 << 1;
    QTest::newRow("escaped lead byte") << units({0xDC81}) << 0 << 0x81 << 1;
    QTest::newRow("unmappable e acute") << units({0x00E9}) << 0 << 63 << 1;
    QTest::newRow("surrogate pair") << units({0xD83D, 0xDE00}) << 0 << 63 << 2;
    QTest::newRow("low half of a pair") << units({0xD83D, 0xDE00}) << 1 << 63 << 1;
    QTest::newRow("lone high surrogate at end") << units({0xD83D}) << 0 << 63 << 1;
}

void TestCp932::codeAt()
{
    QFETCH(QString, text);
    QFETCH(int, index);
    QFETCH(int, code);
    QFETCH(int, length);
    qsizetype taken = -1;
    QCOMPARE(int(Cp932::codeAt(text, index, &taken)), code);
    QCOMPARE(int(taken), length);
    QCOMPARE(int(Cp932::codeAt(text, index)), code);
}

// Every byte and byte pair comes back from decode+encode, except a duplicate
// cell, which comes back as the code Windows prefers for its character.
void TestCp932::roundTripsEveryOneAndTwoByteSequence()
{
    int duplicates = 0;
    for (int first = 0; first < 256; ++first) {
        const QByteArray one = bytesOf({first});
        const QString oneText = Cp932::decode(one);
        if (Cp932::encode(oneText) != one)
            QFAIL(qPrintable(hexBytes(one) + QStringLiteral(" does not survive decode+encode")));
        for (int second = 0; second < 256; ++second) {
            const QByteArray two = bytesOf({first, second});
            const QString text = Cp932::decode(two);
            const QByteArray again = Cp932::encode(text);
            const bool duplicate = text.size() == 1 && isDuplicateCell(first, second);
            const bool ok = duplicate ? again != two && Cp932::decode(again) == text : again == two;
            if (!ok) {
                QFAIL(qPrintable(QStringLiteral("%1 -> %2 -> %3")
                                     .arg(hexBytes(two), hexUnits(text), hexBytes(again))));
            }
            duplicates += duplicate;
            if (decodeInPieces({QByteArrayView(two).first(1), QByteArrayView(two).sliced(1)}) !=
                text) {
                QFAIL(qPrintable(hexBytes(two) + QStringLiteral(" decodes differently in pieces")));
            }
        }
    }
    QCOMPARE(duplicates, 374 + 9 + 15);
}

void TestCp932::roundTripsRandomSequences_data()
{
    QTest::addColumn<QByteArray>("alphabet");
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    // Lead bytes, bytes that are both lead and trail, and bytes that end a
    // lead's hope (control, 0x7F, 0xFD-0xFF): where decoders go wrong.
    const QByteArray awkward =
        bytesOf({0x81, 0x82, 0x87, 0x9F, 0xE0, 0xEA, 0xEB, 0xED, 0xEE, 0xF0, 0xF9,
                 0xFA, 0xFC, 0x40, 0x7E, 0x7F, 0x80, 0xA0, 0xFD, 0xFF, 0x0A, 0x1A});
    QTest::newRow("uniform bytes") << all;
    QTest::newRow("lead and boundary bytes") << awkward;
    QTest::newRow("ASCII with lead bytes") << bytesOf({0x41, 0x0D, 0x0A, 0x5C, 0x81, 0xFC, 0x9F});
    // Runs of printable ASCII go eight bytes at a time until one of these.
    QTest::newRow("printable ASCII and its edges")
        << QByteArray("ABCDEFGHIJ ~") + bytesOf({0x7F, 0x1F, 0x00, 0x80, 0xA1, 0x82, 0xA0});
}

// Decode then encode gives the bytes back (duplicate cells aside), and decoding
// split anywhere (or a byte at a time) gives what decoding at once gives; so
// does the received text made straight from the bytes, against escaping the
// decoded text.
void TestCp932::roundTripsRandomSequences()
{
    QFETCH(QByteArray, alphabet);
    std::mt19937 random(932);
    std::uniform_int_distribution<int> pick(0, int(alphabet.size()) - 1);
    std::uniform_int_distribution<int> length(1, 48);
    for (int sample = 0; sample < 2000; ++sample) {
        QByteArray bytes;
        for (int n = length(random); n > 0; --n)
            bytes.append(alphabet.at(pick(random)));
        const QString text = Cp932::decode(bytes);
        const QByteArray again = Cp932::encode(text);
        QCOMPARE(Cp932::encodedSize(text), again.size());
        if (again != bytes && !differsOnlyInDuplicateCells(bytes, again)) {
            QFAIL(qPrintable(QStringLiteral("%1 -> %2 -> %3")
                                 .arg(hexBytes(bytes), hexUnits(text), hexBytes(again))));
        }
        const QByteArrayView view(bytes);
        for (qsizetype split = 0; split <= view.size(); ++split) {
            if (decodeInPieces({view.first(split), view.sliced(split)}) != text) {
                QFAIL(qPrintable(QStringLiteral("%1 split at %2 decodes differently")
                                     .arg(hexBytes(bytes))
                                     .arg(split)));
            }
        }
        QList<QByteArrayView> singles;
        for (qsizetype i = 0; i < view.size(); ++i)
            singles << view.sliced(i, 1);
        if (decodeInPieces(singles) != text)
            QFAIL(qPrintable(hexBytes(bytes) + QStringLiteral(" decodes differently bytewise")));
        const QString shown = BracketCodes::EscapeCodes(text);
        const qsizetype split = length(random) % (view.size() + 1);
        if (escapeInPieces({view}) != shown ||
            escapeInPieces({view.first(split), view.sliced(split)}) != shown ||
            escapeInPieces(singles) != shown) {
            QFAIL(qPrintable(hexBytes(bytes) + QStringLiteral(" shows differently")));
        }
    }
}

void TestCp932::decoderJoinsPieces_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("pendingAfterFirst");
    QTest::newRow("lead ends a piece, trail starts the next")
        << QList<QByteArray>{bytesOf({0x41, 0x82}), bytesOf({0xA0, 0x42})}
        << units({0x41, 0x3042, 0x42}) << true;
    QTest::newRow("lead waits through an empty piece")
        << QList<QByteArray>{bytesOf({0x82}), QByteArray(), bytesOf({0xA0})} << units({0x3042})
        << true;
    QTest::newRow("held lead before an invalid trail")
        << QList<QByteArray>{bytesOf({0x81}), bytesOf({0x0D})} << units({0xDC81, 0x0D}) << true;
    QTest::newRow("held lead makes an undefined cell")
        << QList<QByteArray>{bytesOf({0x85}), bytesOf({0x40})} << units({0xDC85, 0x40}) << true;
    QTest::newRow("held lead, next piece starts a pair")
        << QList<QByteArray>{bytesOf({0xEB}), bytesOf({0x81, 0x40})} << units({0xDCEB, 0x3000})
        << true;
    QTest::newRow("held lead, next piece is one lead")
        << QList<QByteArray>{bytesOf({0xEB}), bytesOf({0x81}), bytesOf({0x40})}
        << units({0xDCEB, 0x3000}) << true;
    QTest::newRow("trail byte that is also a lead ends a piece")
        << QList<QByteArray>{bytesOf({0x81, 0x81}), bytesOf({0x40})} << units({0xFF1D, 0x40})
        << false;
    QTest::newRow("lead left at the end is flushed")
        << QList<QByteArray>{bytesOf({0x41, 0x9F})} << units({0x41, 0xDC9F}) << true;
}

void TestCp932::decoderJoinsPieces()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, text);
    QFETCH(bool, pendingAfterFirst);
    Cp932Decoder decoder;
    QString decoded = decoder.decode(pieces.first());
    QCOMPARE(decoder.hasPending(), pendingAfterFirst);
    for (qsizetype i = 1; i < pieces.size(); ++i)
        decoded += decoder.decode(pieces.at(i));
    decoded += decoder.flush();
    QVERIFY(!decoder.hasPending());
    QCOMPARE(hexUnits(decoded), hexUnits(text));
}

void TestCp932::resetDropsPendingLead()
{
    Cp932Decoder decoder;
    QCOMPARE(hexUnits(decoder.decode(bytesOf({0x41, 0x82}))), hexUnits(units({0x41})));
    QVERIFY(decoder.hasPending());
    decoder.reset();
    QVERIFY(!decoder.hasPending());
    QCOMPARE(hexUnits(decoder.decode(bytesOf({0xA0}))), hexUnits(units({0xF8F0})));
    QCOMPARE(decoder.flush(), QString());
}

QTEST_APPLESS_MAIN(TestCp932)
#include "tst_Cp932.moc"
