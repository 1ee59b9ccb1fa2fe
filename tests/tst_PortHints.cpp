// The port number box's hint: which numbers name which device, which folder
// entries name a device that is gone, and the devices without a number.
#include "PortFolder.h"
#include "PortHints.h"
#include "PortLocator.h"
#include "PortSurvey.h"
#include "PtyPair.h"

#include <QTest>

// One named port as the tests compare it.
struct Row {
    int number;
    QString device;
    bool fromFolder;
    bool operator==(const Row &) const = default;
};

namespace {

QList<Row> rowsOf(const QList<PortSurvey::Named> &named)
{
    QList<Row> rows;
    for (const PortSurvey::Named &n : named)
        rows << Row{n.number, n.device, n.fromFolder};
    return rows;
}

QStringList pathsOf(const QList<SerialDevice> &devices)
{
    QStringList paths;
    for (const SerialDevice &d : devices)
        paths << d.path;
    return paths;
}

} // namespace

namespace QTest {
template <> char *toString(const Row &r)
{
    return qstrdup(QStringLiteral("%1=%2%3")
                       .arg(r.number)
                       .arg(r.device, r.fromFolder ? QStringLiteral(" (folder)") : QString())
                       .toUtf8()
                       .constData());
}
} // namespace QTest

class TestPortHints : public QObject {
    Q_OBJECT
private slots:
    void surveySortsDevicesByNumber_data();
    void surveySortsDevicesByNumber();
    void surveyTakesTheFolderAsItIsNow();
    void hintTextNamesEachGroup_data();
    void hintTextNamesEachGroup();
};

void TestPortHints::surveySortsDevicesByNumber_data()
{
    // "PTY" in a folder entry stands for a pseudo-terminal that exists;
    // "GONE" for a path that does not.
    QTest::addColumn<QStringList>("devices"); // what the system reports
    QTest::addColumn<QStringList>("folder");  // "N=device"
    QTest::addColumn<QList<Row>>("named");
    QTest::addColumn<QList<int>>("missing");
    QTest::addColumn<QStringList>("unnamed");

    QTest::newRow("system port without a folder entry")
        << QStringList{"/dev/ttyS2"} << QStringList{} << QList<Row>{{3, "/dev/ttyS2", false}}
        << QList<int>{} << QStringList{};
    QTest::newRow("USB adapter has no number yet")
        << QStringList{"/dev/ttyUSB0"} << QStringList{} << QList<Row>{} << QList<int>{}
        << QStringList{"/dev/ttyUSB0"};
    QTest::newRow("folder entry names an existing device")
        << QStringList{} << QStringList{"5=PTY"} << QList<Row>{{5, "PTY", true}} << QList<int>{}
        << QStringList{};
    QTest::newRow("folder entry names a device that is gone")
        << QStringList{} << QStringList{"5=GONE"} << QList<Row>{} << QList<int>{5} << QStringList{};
    // Whether a device server answers is not looked at for a hint.
    QTest::newRow("folder entries name device servers")
        << QStringList{} << QStringList{"7=rfc2217://[::1]:2217", "8=socket://host:4001"}
        << QList<Row>{{7, "rfc2217://[::1]:2217", true}, {8, "socket://host:4001", true}}
        << QList<int>{} << QStringList{};
    QTest::newRow("folder entry names nothing")
        << QStringList{} << QStringList{"6="} << QList<Row>{} << QList<int>{6} << QStringList{};
    QTest::newRow("device named by the folder is not listed again")
        << QStringList{"PTY"} << QStringList{"2=PTY"} << QList<Row>{{2, "PTY", true}}
        << QList<int>{} << QStringList{};
    QTest::newRow("folder entry takes the system port's number")
        << QStringList{"/dev/ttyS0"} << QStringList{"1=PTY"} << QList<Row>{{1, "PTY", true}}
        << QList<int>{} << QStringList{"/dev/ttyS0"};
    // Only numbers the port number box opens are offered: 1 to 32767.
    QTest::newRow("folder entries at the ends of the port numbers")
        << QStringList{} << QStringList{"1=PTY", "32767=GONE"} << QList<Row>{{1, "PTY", true}}
        << QList<int>{32767} << QStringList{};
    QTest::newRow("folder entries beyond the port numbers are not listed")
        << QStringList{"PTY"} << QStringList{"32768=PTY", "40000=GONE"} << QList<Row>{}
        << QList<int>{} << QStringList{"PTY"};
    QTest::newRow("numbers in order whatever their source")
        << QStringList{"/dev/ttyS3", "/dev/ttyS0"} << QStringList{"2=PTY"}
        << QList<Row>{{1, "/dev/ttyS0", false}, {2, "PTY", true}, {4, "/dev/ttyS3", false}}
        << QList<int>{} << QStringList{};
}

void TestPortHints::surveySortsDevicesByNumber()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, folder);
    QFETCH(QList<Row>, named);
    QFETCH(QList<int>, missing);
    QFETCH(QStringList, unnamed);

    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    auto resolve = [&](QString path) {
        return path.replace(QStringLiteral("PTY"), pty.slavePath())
            .replace(QStringLiteral("GONE"), QStringLiteral("/dev/no-such-device"));
    };

    QList<SerialDevice> reported;
    for (const QString &path : devices)
        reported << SerialDevice{resolve(path), QStringLiteral("desc"), QString(), QString()};
    QMap<int, QString> entries;
    for (const QString &entry : folder)
        entries.insert(entry.section(u'=', 0, 0).toInt(), resolve(entry.section(u'=', 1)));
    for (Row &row : named)
        row.device = resolve(row.device);
    for (QString &path : unnamed)
        path = resolve(path);

    const PortSurvey survey = PortSurvey::from(reported, entries);
    QCOMPARE(rowsOf(survey.named), named);
    QList<int> missingNumbers;
    for (const PortSurvey::Named &m : survey.missing)
        missingNumbers << m.number;
    QCOMPARE(missingNumbers, missing);
    QCOMPARE(pathsOf(survey.unnamed), unnamed);
}

void TestPortHints::surveyTakesTheFolderAsItIsNow()
{
    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(4, pty.slavePath()));
    QVERIFY(folder.map(9, QStringLiteral("/dev/no-such-device")));

    const PortSurvey survey = PortSurvey::take();
    QList<Row> fromFolder;
    for (const Row &row : rowsOf(survey.named)) {
        if (row.fromFolder)
            fromFolder << row;
    }
    QCOMPARE(fromFolder, (QList<Row>{{4, pty.slavePath(), true}}));
    QCOMPARE(survey.missing.size(), 1);
    QCOMPARE(survey.missing.front().number, 9);

    // A later look sees a later folder.
    QVERIFY(folder.unmap(4));
    for (const PortSurvey::Named &n : PortSurvey::take().named)
        QVERIFY(!n.fromFolder);
}

void TestPortHints::hintTextNamesEachGroup_data()
{
    QTest::addColumn<bool>("withNamed");
    QTest::addColumn<bool>("withMissing");
    QTest::addColumn<bool>("withUnnamed");
    QTest::addColumn<QStringList>("lines");    // each must appear as a whole line
    QTest::addColumn<QStringList>("notThere"); // text that must not appear

    const QString folder =
        QStringLiteral("ポートフォルダ (port folder): /home/u/.config/commcheck/ports");
    QTest::newRow("nothing at all")
        << false << false << false
        << QStringList{"番号で開けるポートはありません (no port number names a device)", folder}
        << QStringList{"番号のない機器", "機器が見つからない番号"};
    QTest::newRow("numbers with descriptions and folder marks")
        << true << false << false
        << QStringList{"ポート番号 (port numbers):", "  1 = /dev/ttyS0  16550A",
                       "  3 = /dev/ttyUSB0  FT232R USB UART, FTDI  [com3]"}
        << QStringList{"番号で開けるポートはありません", "番号を付けるには"};
    QTest::newRow("entry whose device is gone")
        << false << true << false
        << QStringList{"機器が見つからない番号 (device not present):", "  7 -> /dev/ttyUSB1"}
        << QStringList{"番号のない機器"};
    QTest::newRow("device without a number and how to name it")
        << false << false << true
        << QStringList{"番号のない機器 (devices without a number):",
                       "  /dev/ttyACM0  USB Serial, Arduino",
                       "番号を付けるには (to give one a number N):",
                       "    ln -s /dev/serial/by-id/usb-Arduino-if00 "
                       "/home/u/.config/commcheck/ports/comN"}
        << QStringList{"機器が見つからない番号"};
}

void TestPortHints::hintTextNamesEachGroup()
{
    QFETCH(bool, withNamed);
    QFETCH(bool, withMissing);
    QFETCH(bool, withUnnamed);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, notThere);

    PortSurvey survey;
    if (withNamed) {
        survey.named << PortSurvey::Named{1, "/dev/ttyS0", false, "16550A"}
                     << PortSurvey::Named{3, "/dev/ttyUSB0", true, "FT232R USB UART, FTDI"};
    }
    if (withMissing)
        survey.missing << PortSurvey::Named{7, "/dev/ttyUSB1", true, QString()};
    if (withUnnamed) {
        survey.unnamed << SerialDevice{"/dev/ttyACM0", "USB Serial", "Arduino",
                                       "/dev/serial/by-id/usb-Arduino-if00"};
    }
    const QStringList shown =
        PortHints::text(survey, QStringLiteral("/home/u/.config/commcheck/ports")).split(u'\n');
    for (const QString &expected : lines)
        QVERIFY2(shown.contains(expected),
                 qPrintable(expected + QStringLiteral("\n--- in ---\n") + shown.join(u'\n')));
    for (const QString &absent : notThere)
        QVERIFY2(!shown.join(u'\n').contains(absent), qPrintable(absent));
}

QTEST_MAIN(TestPortHints)
#include "tst_PortHints.moc"
