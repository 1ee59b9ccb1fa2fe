// The file form of a text box: the one quoted record written on save, the
// first field read on load, in code page 932 (or UTF-8 after a mark), read in
// pieces and never further than the field goes.
#include "Cp932.h"
#include "ScratchFiles.h"
#include "TextRecordFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ScratchFiles;

namespace {

constexpr qsizetype kMax = TextRecordFile::kMaxFieldLength;
constexpr qsizetype kChunk = TextRecordFile::kChunkSize;

// Bytes that put `tail` so that its first byte is the last byte of the first
// piece the reader takes.
QByteArray acrossPieces(const QByteArray &head, const QByteArray &tail)
{
    return head + QByteArray(kChunk - head.size() - 1, 'A') + tail;
}

} // namespace

class TestTextRecordFile : public QObject {
    Q_OBJECT
private slots:
    void writesOneQuotedRecord_data();
    void writesOneQuotedRecord();
    void writtenTextReadsBackWhole_data();
    void writtenTextReadsBackWhole();
    void writeReplacesALongerFileWhole();

    void readsTheFirstField_data();
    void readsTheFirstField();
    void readsOnlyAsFarAsTheField_data();
    void readsOnlyAsFarAsTheField();
    void refusesAFieldBeyondTheLimitWithoutReadingOn_data();
    void refusesAFieldBeyondTheLimitWithoutReadingOn();
    void failsOnFilesItCannotOpen_data();
    void failsOnFilesItCannotOpen();
};

void TestTextRecordFile::writesOneQuotedRecord_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ascii") << "ABC[13]" << QByteArray("\"ABC[13]\"\r\n");
    QTest::newRow("empty text") << "" << QByteArray("\"\"\r\n");
    QTest::newRow("japanese as code page 932") << "あ" << QByteArray("\"\x82\xa0\"\r\n");
    QTest::newRow("half-width katakana single byte") << "ｱ" << QByteArray("\"\xb1\"\r\n");
    QTest::newRow("line break kept as CR LF") << "A\r\nB" << QByteArray("\"A\r\nB\"\r\n");
    QTest::newRow("comma kept") << "A,B" << QByteArray("\"A,B\"\r\n");
    QTest::newRow("quote inside not doubled") << "A\"B" << QByteArray("\"A\"B\"\r\n");
    QTest::newRow("no code page 932 form") << "é" << QByteArray("\"?\"\r\n");
}

void TestTextRecordFile::writesOneQuotedRecord()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    QVERIFY(TextRecordFile::writeRecord(path, text));
    QCOMPARE(fileBytes(path), bytes);
    // Nothing but the file itself is left in the folder.
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("out.txt")});
}

void TestTextRecordFile::writtenTextReadsBackWhole_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("leading and trailing spaces") << "  A  ";
    QTest::newRow("tabs") << "\tA\tB";
    QTest::newRow("bracketed codes") << "[2]ABC[13][10]";
    QTest::newRow("blank lines only") << "\r\n\r\n";
}

void TestTextRecordFile::writtenTextReadsBackWhole()
{
    QFETCH(QString, text);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("round.txt"));
    QVERIFY(TextRecordFile::writeRecord(path, text));
    const std::optional<QString> read = TextRecordFile::readFirstField(path);
    QVERIFY(read.has_value());
    QCOMPARE(*read, text);
}

void TestTextRecordFile::writeReplacesALongerFileWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("old.txt"));
    QVERIFY(writeBytes(path, QByteArray(1000, 'x')));
    QVERIFY(TextRecordFile::writeRecord(path, QStringLiteral("new")));
    QCOMPARE(fileBytes(path), QByteArray("\"new\"\r\n"));
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("old.txt")});
}

void TestTextRecordFile::readsTheFirstField_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("field");

    auto row = [](const char *name, const QByteArray &bytes, const QString &field) {
        QTest::newRow(name) << bytes << true << field;
    };
    row("unquoted ends at comma", "ABC[13],DEF", "ABC[13]");
    row("quoted keeps commas", "\"A,B\"", "A,B");
    row("quoted with CR LF after", "\"ABC\"\r\n", "ABC");
    row("spaces before quoted skipped", "   \"AB\"", "AB");
    row("spaces before unquoted skipped", "  AB,C", "AB");
    row("unquoted ends at CR", "AB\rCD", "AB");
    row("unquoted ends at LF", "AB\nCD", "AB");
    row("unquoted ends at CR LF", "AB\r\nCD", "AB");
    row("unquoted keeps tabs and trailing spaces", "A\tB  ,C", "A\tB  ");
    row("unquoted to the end of the file", "AB", "AB");
    row("tab starts an unquoted field", "\tA", "\tA");
    row("blank lines before the field skipped", " \r\n\r\n AB", "AB");
    row("quoted across CR LF", "\"A\r\nB\"\r\nC", "A\r\nB");
    row("quoted lone LF reads as CR LF", "\"A\nB\"", "A\r\nB");
    row("quoted lone CR reads as CR LF", "\"A\rB\"", "A\r\nB");
    row("quoted CR CR LF is two breaks", "\"A\r\r\nB\"", "A\r\n\r\nB");
    row("quoted LF CR is two breaks", "\"A\n\rB\"", "A\r\n\r\nB");
    row("quoted keeps spaces inside", "\" A \"", " A ");
    row("missing closing quote runs to the end", "\"AB\r\nCD,E", "AB\r\nCD,E");
    row("text after closing quote ignored", "\"AB\"CD,EF", "AB");
    row("empty quoted field", "\"\"\r\n", "");
    row("lone quote", "\"", "");
    row("empty unquoted before comma", ",A", "");
    row("double-byte character", "\x82\xa0\x82\xa2", "あい");
    row("half-width katakana", "\xb1\xb2", "ｱｲ");
    row("utf-8 after a mark", "\xef\xbb\xbf\"\xe3\x81\x82,\xe3\x81\x84\"", "あ,い");
    row("utf-8 mark before unquoted", "\xef\xbb\xbf\xe3\x81\x82\r\n", "あ");
    row("utf-8 without a mark read as code page 932", "\xe3\x81\x82",
        Cp932::decode("\xe3\x81\x82"));
    row("lone lead byte at the end", "A\x82", Cp932::decode("A\x82"));
    row("CR LF split between pieces", acrossPieces("\"", "\r\nB\""),
        QString(kChunk - 2, u'A') + QStringLiteral("\r\nB"));
    row("double-byte split between pieces", acrossPieces("\"", "\x82\xa0\""),
        QString(kChunk - 2, u'A') + QStringLiteral("あ"));
    row("utf-8 split between pieces", acrossPieces("\xef\xbb\xbf\"", "\xe3\x81\x82\""),
        QString(kChunk - 5, u'A') + QStringLiteral("あ"));
    row("field ends right at the end of a piece", acrossPieces("\"", "\"B"),
        QString(kChunk - 2, u'A'));

    auto fails = [](const char *name, const QByteArray &bytes) {
        QTest::newRow(name) << bytes << false << QString();
    };
    fails("empty file", "");
    fails("only spaces", "    ");
    fails("only spaces and line breaks", "  \r\n \n\r  ");
}

void TestTextRecordFile::readsTheFirstField()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QString, field);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("in.txt"));
    QVERIFY(writeBytes(path, bytes));
    const std::optional<QString> read = TextRecordFile::readFirstField(path);
    QCOMPARE(read.has_value(), ok);
    if (ok)
        QCOMPARE(*read, field);
}

void TestTextRecordFile::readsOnlyAsFarAsTheField_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("field");

    QTest::newRow("short unquoted line") << QByteArray("AB\r\n") << "AB";
    QTest::newRow("quoted field") << QByteArray("\"A,B\"\r\n") << "A,B";
    QTest::newRow("field ending at a comma") << QByteArray("X,") << "X";
}

void TestTextRecordFile::readsOnlyAsFarAsTheField()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, field);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    // Megabytes of further lines after the field.
    QByteArray rest;
    for (int i = 0; i < 200000; ++i)
        rest += "\"more data, more lines\"\r\n";
    QVERIFY(writeBytes(path, head + rest));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const std::optional<QString> read = TextRecordFile::readFirstField(file);
    QVERIFY(read.has_value());
    QCOMPARE(*read, field);
    QVERIFY2(file.pos() <= kChunk, qPrintable(QString::number(file.pos())));
}

void TestTextRecordFile::refusesAFieldBeyondTheLimitWithoutReadingOn_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");

    QTest::newRow("unquoted at the limit")
        << QByteArray(kMax, 'A') + QByteArray("\r\n") + QByteArray(kMax, 'B') << true;
    QTest::newRow("unquoted one past the limit") << QByteArray(kMax + 1, 'A') + "\r\n" << false;
    QTest::newRow("no comma or line end in megabytes") << QByteArray(8 * kMax, 'A') << false;
    QTest::newRow("unclosed quote over megabytes")
        << QByteArray("\"") + QByteArray(8 * kMax, 'A') << false;
    // Every line break counts twice, as the CR LF it reads back as.
    QTest::newRow("quoted lines past the limit once read as CR LF")
        << QByteArray("\"") + QByteArray(kMax / 2 + 1, '\n') + "\"" << false;
}

void TestTextRecordFile::refusesAFieldBeyondTheLimitWithoutReadingOn()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("long.txt"));
    QVERIFY(writeBytes(path, bytes));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const std::optional<QString> read = TextRecordFile::readFirstField(file);
    QCOMPARE(read.has_value(), ok);
    if (ok)
        QCOMPARE(read->size(), kMax);
    // Reading stops within a piece of where the limit was passed.
    QVERIFY2(file.pos() <= kMax + 2 + kChunk, qPrintable(QString::number(file.pos())));
}

void TestTextRecordFile::failsOnFilesItCannotOpen_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("missing file") << "missing.txt";
    QTest::newRow("folder") << "folder";
    QTest::newRow("below a regular file") << "plain.txt/in.txt";
}

void TestTextRecordFile::failsOnFilesItCannotOpen()
{
    QFETCH(QString, name);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("plain.txt")), "\"A\"\r\n"));
    QVERIFY(!TextRecordFile::readFirstField(dir.filePath(name)).has_value());
}

QTEST_GUILESS_MAIN(TestTextRecordFile)
#include "tst_TextRecordFile.moc"
