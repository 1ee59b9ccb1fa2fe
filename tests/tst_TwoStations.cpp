// Two windows joined by a virtual null-modem cable, on the real serial port
// layer, timers and clock: one checks the line, the other echoes.
#include "NullModemCable.h"
#include "PortFolder.h"
#include "StationFixture.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <vector>

class TestTwoStations : public QObject {
    Q_OBJECT
private slots:
    void checkingAndAnsweringStationsAgree();
};

void TestTwoStations::checkingAndAnsweringStationsAgree()
{
    PortFolder folder;
    NullModemCable cable;
    QVERIFY2(cable.isValid(), qPrintable(cable.error()));
    QVERIFY(folder.map(1, cable.endA()));
    QVERIFY(folder.map(2, cable.endB()));

    const QString text = QStringLiteral("ABC[13]あ");
    RealStation answering;
    QVERIFY(answering.open(2));
    answering.answer(text);

    RealStation checking;
    QVERIFY(checking.open(1));

    // Every response time as it is recorded, to check the running figures.
    std::vector<float> times;
    QObject::connect(&checking.form->check(), &LoopbackCheck::exchangeCompleted,
                     [&] { times.push_back(checking.check().statistics()[Statistics::LastTime]); });

    checking.check(text, 100);
    QTest::qWait(2000);
    checking.form->controls().startButton->click(); // stop
    QTest::qWait(200);

    const auto &stats = checking.check().statistics().values;
    QVERIFY2(times.size() >= 5, qPrintable(QStringLiteral("only %1 exchanges").arg(times.size())));
    QCOMPARE(stats[Statistics::Count], float(times.size()));
    QCOMPARE(stats[Statistics::Errors], 0.0f);
    QCOMPARE(checking.c().statisticsValues[Statistics::Errors]->text(), QStringLiteral("0"));
    QCOMPARE(checking.c().statisticsValues[Statistics::Count]->text(),
             QString::number(times.size()));

    float sum = 0;
    for (float t : times) {
        QVERIFY(t > 0);
        sum = float(double(sum) + double(t));
    }
    QCOMPARE(stats[Statistics::TotalTime], sum);
    QCOMPARE(stats[Statistics::MaxTime], *std::max_element(times.begin(), times.end()));
    QCOMPARE(stats[Statistics::MinTime], *std::min_element(times.begin(), times.end()));
    QVERIFY(stats[Statistics::MinTime] <= stats[Statistics::LastTime]);
    QVERIFY(stats[Statistics::LastTime] <= stats[Statistics::MaxTime]);

    // The answering side saw the text arrive and kept answering.
    QCOMPARE(Controls::boxText(answering.c().receivedText).right(8), QStringLiteral("[-32096]"));
    QCOMPARE(answering.check().mode(), LoopbackCheck::Mode::Echo);
    QVERIFY(cable.bytesCarried() >= qint64(2 * times.size() * 6));
}

QTEST_MAIN(TestTwoStations)
#include "tst_TwoStations.moc"
