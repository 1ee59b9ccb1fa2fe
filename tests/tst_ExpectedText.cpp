// Where a reply can still begin in received text, and how many whole
// replies it holds: the answering station's resynchronisation and the count
// of late replies rest on it.
#include "ExpectedText.h"

#include <QTest>

class TestExpectedText : public QObject {
    Q_OBJECT
private slots:
    void findsWhereAReplyCanBegin_data();
    void findsWhereAReplyCanBegin();
};

void TestExpectedText::findsWhereAReplyCanBegin_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("received");
    QTest::addColumn<int>("noise");
    QTest::addColumn<int>("replies");

    QTest::newRow("nothing received") << "AB[13]"
                                      << "" << 0 << 0;
    QTest::newRow("a beginning") << "AB[13]"
                                 << "AB[1" << 0 << 0;
    QTest::newRow("a stray byte before a beginning") << "AB[13]"
                                                     << "xAB" << 1 << 0;
    QTest::newRow("nothing that can begin it") << "AB[13]"
                                               << "xyz" << 3 << 0;
    QTest::newRow("a half text before the whole") << "AB[13]"
                                                  << "AAB[13]" << 1 << 1;
    QTest::newRow("a text repeating itself, begun again") << "ABAB[13]"
                                                          << "ABAABAB[13]" << 3 << 1;
    QTest::newRow("a text beginning with a repeat, one too many") << "AAB"
                                                                  << "AAAB" << 1 << 1;
    QTest::newRow("its own beginning at its end") << "ABA"
                                                  << "ABABA" << 0 << 1;
    QTest::newRow("two replies with noise between") << "OK"
                                                    << "xOKyyOKO" << 1 << 2;
    QTest::newRow("an empty text") << ""
                                   << "xyz" << 0 << 0;
}

void TestExpectedText::findsWhereAReplyCanBegin()
{
    QFETCH(QString, text);
    QFETCH(QString, received);
    QFETCH(int, noise);
    QFETCH(int, replies);

    const ExpectedText expected(text);
    QCOMPARE(expected.noiseBefore(received), noise);
    QCOMPARE(expected.countIn(received), replies);
    // What is left can become the text, and nothing shorter of it is noise.
    const QStringView rest = QStringView(received).mid(noise);
    QVERIFY(expected.mayBecome(rest));
    if (noise > 0)
        QVERIFY(!expected.mayBecome(QStringView(received).mid(noise - 1)));
}

QTEST_APPLESS_MAIN(TestExpectedText)
#include "tst_ExpectedText.moc"
