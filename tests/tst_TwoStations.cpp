// Two windows joined by a virtual null-modem cable, on the real serial port
// layer, timers and clock: one checks the line, the other echoes.
#include "FeedbackCheck.h"
#include "NullModemCable.h"
#include "PortFolder.h"
#include "TestWindow.h"

#include <QLabel>
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
    TestWindow answering(TestWindow::Real);
    QVERIFY2(answering.open(2), qPrintable(answering.form->port().errorString()));
    answering.answer(text);

    TestWindow checking(TestWindow::Real);
    QVERIFY2(checking.open(1), qPrintable(checking.form->port().errorString()));

    // Every response time as it is recorded, to check the running figures.
    std::vector<float> times;
    QObject::connect(&checking.form->feedbackCheck(), &FeedbackCheck::exchangeCompleted,
                     [&] { times.push_back(checking.state().Stats[WindowState::LastTime]); });

    // Some exchanges, however long a busy machine makes each take.
    checking.check(text, 100);
    QTRY_VERIFY2_WITH_TIMEOUT(times.size() >= 5,
                              qPrintable(QStringLiteral("only %1 exchanges").arg(times.size())),
                              60000);
    checking.form->feedbackCheck().click(); // stop

    const auto &stats = checking.state().Stats;
    QCOMPARE(stats[WindowState::Count], float(times.size()));
    QCOMPARE(stats[WindowState::Errors], 0.0f);
    QCOMPARE(checking.c().Label4[WindowState::Errors]->text(), QStringLiteral("0"));
    QCOMPARE(checking.c().Label4[WindowState::Count]->text(), QString::number(times.size()));

    float sum = 0;
    for (float t : times) {
        QVERIFY(t > 0);
        sum = float(double(sum) + double(t));
    }
    QCOMPARE(stats[WindowState::TotalTime], sum);
    QCOMPARE(stats[WindowState::MaxTime], *std::max_element(times.begin(), times.end()));
    QCOMPARE(stats[WindowState::MinTime], *std::min_element(times.begin(), times.end()));
    QVERIFY(stats[WindowState::MinTime] <= stats[WindowState::LastTime]);
    QVERIFY(stats[WindowState::LastTime] <= stats[WindowState::MaxTime]);

    // The answering side saw the text arrive and kept answering.
    QCOMPARE(Controls::boxText(answering.c().Text3).right(8), QStringLiteral("[-32096]"));
    QCOMPARE(answering.state().Mode, qint16(2));
    QVERIFY(cable.bytesCarried() >= qint64(2 * times.size() * 6));
}

QTEST_MAIN(TestTwoStations)
#include "tst_TwoStations.moc"
