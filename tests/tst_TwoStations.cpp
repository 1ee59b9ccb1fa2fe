// Two stations joined by a virtual null-modem cable, on the real serial port
// layer, timers and clock: one checks the line, the other echoes. Two
// windows (each end plugged in here, or each behind a device server), or a
// window and the command line, either way round.
#include "LoopbackCheck.h"
#include "NullModemCable.h"
#include "PortFolder.h"
#include "Ser2net.h"
#include "TestWindow.h"

#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

#include <vector>

class TestTwoStations : public QObject {
    Q_OBJECT
private slots:
    void checkingAndAnsweringStationsAgree_data();
    void checkingAndAnsweringStationsAgree();
    void windowAndCommandLineAnswerEachOther_data();
    void windowAndCommandLineAnswerEachOther();
};

namespace {

// How each window's port number reaches its end of the cable.
enum class Reach { Device, Rfc2217, Socket };

} // namespace

void TestTwoStations::checkingAndAnsweringStationsAgree_data()
{
    QTest::addColumn<Reach>("reach");
    QTest::newRow("each end a device of this machine") << Reach::Device;
    QTest::newRow("each end behind ser2net, rfc2217") << Reach::Rfc2217;
    QTest::newRow("each end behind ser2net, raw TCP") << Reach::Socket;
}

void TestTwoStations::checkingAndAnsweringStationsAgree()
{
    QFETCH(Reach, reach);
    PortFolder folder;
    NullModemCable cable;
    QVERIFY2(cable.isValid(), qPrintable(cable.error()));
    // Declared after the cable: each server goes before its device.
    Ser2net serverA(cable.endA());
    Ser2net serverB(cable.endB());
    if (reach == Reach::Device) {
        QVERIFY(folder.map(1, cable.endA()));
        QVERIFY(folder.map(2, cable.endB()));
    } else {
        QVERIFY2(serverA.start(), qPrintable(serverA.error()));
        QVERIFY2(serverB.start(), qPrintable(serverB.error()));
        const bool rfc2217 = reach == Reach::Rfc2217;
        QVERIFY(folder.write(1, rfc2217 ? serverA.rfc2217Address() : serverA.socketAddress()));
        QVERIFY(folder.write(2, rfc2217 ? serverB.rfc2217Address() : serverB.socketAddress()));
    }

    const QString text = QStringLiteral("ABC[13]あ");
    TestWindow answering(TestWindow::Real);
    QVERIFY2(answering.open(2), qPrintable(answering.form->port().errorString()));
    answering.answer(text);

    TestWindow checking(TestWindow::Real);
    QVERIFY2(checking.open(1), qPrintable(checking.form->port().errorString()));

    // Every response time as it is recorded, to check the running figures.
    std::vector<float> times;
    QObject::connect(&checking.form->check(), &LoopbackCheck::exchangeCompleted,
                     [&] { times.push_back(checking.check().statistics()[Statistics::LastTime]); });

    // Some exchanges, however long a busy machine makes each take.
    checking.check(text, 100);
    QTRY_VERIFY2_WITH_TIMEOUT(times.size() >= 5,
                              qPrintable(QStringLiteral("only %1 exchanges").arg(times.size())),
                              60000);
    checking.form->controls().startButton->click(); // stop

    const auto &stats = checking.check().statistics().values;
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

void TestTwoStations::windowAndCommandLineAnswerEachOther_data()
{
    QTest::addColumn<bool>("windowAnswers"); // else the window checks

    QTest::newRow("command line checks, window answers") << true;
    QTest::newRow("window checks, command line answers") << false;
}

void TestTwoStations::windowAndCommandLineAnswerEachOther()
{
    QFETCH(bool, windowAnswers);
    constexpr int kLimitMs = 30000;
    const QString text = QStringLiteral("ABC[13]あ");

    PortFolder folder;
    NullModemCable cable;
    QVERIFY2(cable.isValid(), qPrintable(cable.error()));
    QVERIFY(folder.map(1, cable.endA()));

    TestWindow window(TestWindow::Real);
    QVERIFY(window.open(1));
    QProcess cli;
    if (windowAnswers) {
        window.answer(text);
        cli.start(QStringLiteral(COMMCHECK_CLI_PATH),
                  {QStringLiteral("check"), cable.endB(), QStringLiteral("--text"), text,
                   QStringLiteral("--interval"), QStringLiteral("50"), QStringLiteral("--count"),
                   QStringLiteral("5"), QStringLiteral("--timeout"), QStringLiteral("5000")});
        QVERIFY2(cli.waitForStarted(kLimitMs), qPrintable(cli.errorString()));
        // The window answers from this thread's event loop meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(cli.state(), QProcess::NotRunning, kLimitMs);
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QVERIFY2(cli.exitCode() == 0,
                 qPrintable(out + QString::fromUtf8(cli.readAllStandardError())));
        QVERIFY2(QRegularExpression(QStringLiteral("\ncount +5\n")).match(out).hasMatch(),
                 qPrintable(out));
        QCOMPARE(Controls::boxText(window.c().receivedText).right(8), QStringLiteral("[-32096]"));
        return;
    }

    cli.start(QStringLiteral(COMMCHECK_CLI_PATH),
              {QStringLiteral("answer"), cable.endB(), QStringLiteral("--text"), text});
    QVERIFY2(cli.waitForStarted(kLimitMs), qPrintable(cli.errorString()));
    // Texts sent before the command line listens go unanswered: send one
    // at a time until an answer shows, then check.
    const Controls &c = window.c();
    Controls::setBoxText(c.sendText, text);
    QDeadlineTimer ready(kLimitMs);
    while (!Controls::boxText(c.receivedText).endsWith(QStringLiteral("[-32096]"))) {
        QVERIFY2(!ready.hasExpired(), "the command line never answered");
        c.portButtons[Form1::Send]->click();
        QTest::qWait(200);
        c.portButtons[Form1::Receive]->click();
    }
    window.check(text, 50);
    QTRY_VERIFY_WITH_TIMEOUT(window.check().statistics()[Statistics::Count] >= 5, kLimitMs);
    window.form->controls().startButton->click(); // stop
    QVERIFY(window.check().statistics()[Statistics::Count] >= 5);
    QCOMPARE(window.check().statistics()[Statistics::Errors], 0.0f);

    ::kill(pid_t(cli.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(cli.state(), QProcess::NotRunning, kLimitMs);
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(QRegularExpression(QStringLiteral("\\nanswers [1-9]\\d*\\n")).match(out).hasMatch(),
             qPrintable(out));
}

QTEST_MAIN(TestTwoStations)
#include "tst_TwoStations.moc"
