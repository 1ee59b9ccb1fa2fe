#include "PortLocator.h"
#include "PtyPort.h"
#include "QtSerialPort.h"
#include "ScratchFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <vector>

// The real port against Linux pseudo-terminals: the port folder maps a port
// number to a pty's slave, and the test plays the far end on its master.
class QtSerialPortTest : public QObject {
    Q_OBJECT
private slots:
    void openSetsTheDevice_data();
    void openSetsTheDevice();
    void openRefusedByTheDeviceLeavesPortClosed_data();
    void openRefusedByTheDeviceLeavesPortClosed();
    void openFailsWithoutADevice_data();
    void openFailsWithoutADevice();
    void openTakesADevicePathAsGiven_data();
    void openTakesADevicePathAsGiven();
    void openFailsOnABusyDeviceWithoutDisturbingTheHolder_data();
    void openFailsOnABusyDeviceWithoutDisturbingTheHolder();
    void openIsRefusedWhileAnotherProgramHoldsTheDevice_data();
    void openIsRefusedWhileAnotherProgramHoldsTheDevice();
    void firstCopyKeepsWorkingWhenASecondIsRefused();
    void openingAnOpenPortFails();
    void outputHandsCodePage932BytesToTheSystem_data();
    void outputHandsCodePage932BytesToTheSystem();
    void outputLargerThanTheSystemBufferArrivesWhole_data();
    void outputLargerThanTheSystemBufferArrivesWhole();
    void outputBeyondTheBoundIsRefusedWhole_data();
    void outputBeyondTheBoundIsRefusedWhole();
    void inputReturnsWhatArrivedSinceTheLastRead_data();
    void inputReturnsWhatArrivedSinceTheLastRead();
    void unreadPortHoldsAtMostItsLimitAndLosesNothing();
    void closeThenReopenWorks();
    void reopenedPortDoesNotJoinAnOldLeadByteToNewBytes();
    void closedPortIgnoresOutputAndInput();
    void lossIsReportedOnceAndClosesThePort_data();
    void lossIsReportedOnceAndClosesThePort();
    void reopeningBeforeALossIsReportedDropsTheStaleReport();
    void destroyingAPortWithALossPendingIsHarmless();
    void heldLineIsNotALoss_data();
    void heldLineIsNotALoss();
};

namespace {

constexpr int kPort = 7;
// Only a failing test waits this long.
constexpr int kWaitMs = 10000;

// Bytes written as hex pairs, so that a row reads like the line it describes.
QByteArray hex(const char *pairs)
{
    return QByteArray::fromHex(pairs);
}

// A pty mapped to kPort through a fresh port folder.
struct MappedPty : PtyPort {
    MappedPty() : PtyPort(kPort) {}
};

#define REQUIRE_PTY(mapped)                                                                        \
    do {                                                                                           \
        const QString problem = (mapped).problem();                                                \
        QVERIFY2(problem.isEmpty(), qPrintable(problem));                                          \
    } while (false)

using FlowControl = LineSettings::FlowControl;

// A settings text of the test's own, with `flowControl`.
LineSettings lineOf(const QString &settings, FlowControl flowControl)
{
    std::optional<LineSettings> line = LineSettings::parse(settings);
    if (!line)
        qFatal("not a settings text: %s", qPrintable(settings));
    line->flowControl = flowControl;
    return *line;
}

bool openPort(QtSerialPort &port, const QString &settings, FlowControl flowControl)
{
    port.setCommPort(kPort);
    port.setSettings(lineOf(settings, flowControl));
    return port.open();
}

// Whether some program holds an flock on `device` now.
bool lockedByFlock(const QString &device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd == -1)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == -1 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

// The lock file QSerialPort keeps for `device` while it has it open, in
// whichever of the usual lock folders it took; empty when there is none.
QString serialLockFileFor(const QString &device)
{
    QString name = device;
    name.remove(QRegularExpression(QStringLiteral("^/dev/"))).replace(u'/', u'_');
    for (const char *folder : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks",
                               "/var/spool/uucp", "/tmp", "/var/tmp", "/var/lock/lockdev"}) {
        const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
        if (QFile::exists(path))
            return path;
    }
    return {};
}

// The process id a QLockFile names on its first line.
qint64 lockFileOwner(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readLine().trimmed().toLongLong();
}

} // namespace

void QtSerialPortTest::openSetsTheDevice_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("handshaking");
    QTest::addColumn<qint64>("baud");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<bool>("rtsCts");
    QTest::addColumn<bool>("xonXoff");

    QTest::newRow("9600 8N1, XON/XOFF")
        << "9600,N,8,1" << 1 << qint64(9600) << false << false << true;
    QTest::newRow("19200 8N2, RTS/CTS")
        << "19200,N,8,2" << 2 << qint64(19200) << true << true << false;
    QTest::newRow("19200 8N2, RTS/CTS and XON/XOFF")
        << "19200,N,8,2" << 3 << qint64(19200) << true << true << true;
    QTest::newRow("9600 8N1, no handshaking")
        << "9600,N,8,1" << 0 << qint64(9600) << false << false << false;
    QTest::newRow("115200, lower-case parity")
        << "115200,n,8,1" << 0 << qint64(115200) << false << false << false;
    QTest::newRow("non-standard 250000")
        << "250000,N,8,1" << 0 << qint64(250000) << false << false << false;
    QTest::newRow("non-standard 31250, both flow controls")
        << "31250,N,8,1" << 3 << qint64(31250) << false << true << true;
}

void QtSerialPortTest::openSetsTheDevice()
{
    QFETCH(QString, settings);
    QFETCH(int, handshaking);
    QFETCH(qint64, baud);
    QFETCH(bool, twoStopBits);
    QFETCH(bool, rtsCts);
    QFETCH(bool, xonXoff);

    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, settings, FlowControl(handshaking)), qPrintable(port.errorString()));
    QVERIFY(port.isOpen());

    const struct termios tio = mapped.pty.slaveTermios();
    QCOMPARE(mapped.pty.slaveSpeed(), baud);
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(bool(tio.c_cflag & PARENB), false);
    QCOMPARE(bool(tio.c_cflag & CSTOPB), twoStopBits);
    QCOMPARE(bool(tio.c_cflag & CRTSCTS), rtsCts);
    QCOMPARE(bool(tio.c_iflag & IXON), xonXoff);
    QCOMPARE(bool(tio.c_iflag & IXOFF), xonXoff);
}

void QtSerialPortTest::openRefusedByTheDeviceLeavesPortClosed_data()
{
    QTest::addColumn<QString>("settings");

    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told,
    // and termios has no 1.5 stop bits.
    QTest::newRow("7 data bits") << "9600,N,7,1";
    QTest::newRow("5 data bits") << "9600,N,5,1";
    QTest::newRow("even parity") << "9600,E,8,1";
    QTest::newRow("odd parity") << "9600,O,8,1";
    QTest::newRow("mark parity") << "9600,M,8,1";
    QTest::newRow("space parity") << "9600,S,8,1";
    QTest::newRow("1.5 stop bits") << "9600,N,8,1.5";
}

void QtSerialPortTest::openRefusedByTheDeviceLeavesPortClosed()
{
    QFETCH(QString, settings);

    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY(!openPort(port, settings, FlowControl::None));
    QVERIFY(!port.isOpen());
    QVERIFY(!port.errorString().isEmpty());

    // Nothing of the refused open may linger: no lock, no exclusive hold.
    QtSerialPort other;
    QVERIFY2(openPort(other, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(other.errorString()));
}

void QtSerialPortTest::openFailsWithoutADevice_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("linkTarget"); // empty: no folder entry

    QTest::newRow("folder entry pointing nowhere")
        << kPort << QStringLiteral("/dev/commcheck-no-such-device");
    QTest::newRow("system port that does not exist") << 250 << QString();
    QTest::newRow("port 0") << 0 << QString();
    QTest::newRow("port -1") << -1 << QString();
}

void QtSerialPortTest::openFailsWithoutADevice()
{
    QFETCH(int, number);
    QFETCH(QString, linkTarget);

    PortFolder folder;
    QVERIFY(folder.isValid());
    if (!linkTarget.isEmpty())
        QVERIFY(folder.map(number, linkTarget));
    if (number == 250)
        QVERIFY2(!QFile::exists(QStringLiteral("/dev/ttyS249")),
                 "this machine has a /dev/ttyS249; the row needs a port number without a device");

    QtSerialPort port;
    port.setCommPort(number);
    QVERIFY(!port.open());
    QVERIFY(!port.isOpen());
    QVERIFY(!port.errorString().isEmpty());
    port.output(QStringLiteral("x"));
    QCOMPARE(port.input(), QString());
}

void QtSerialPortTest::openTakesADevicePathAsGiven_data()
{
    // The device is given as a link in a scratch folder, by name as the
    // command line has it (`given`: on the command line; otherwise only as
    // text); "decoy" is the name of a second link, to another pty, and
    // `decoyGiven` puts that name on the command line too.
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("given");
    QTest::addColumn<QByteArray>("decoy");
    QTest::addColumn<bool>("decoyGiven");
    QTest::addColumn<bool>("opens");

    QTest::newRow("plain name") << QByteArray("port") << true << QByteArray() << false << true;
    QTest::newRow("UTF-8 name") << QByteArray("\xe3\x83\x9d\xe3\x83\xbc\xe3\x83\x88") << true
                                << QByteArray() << false << true;
    QTest::newRow("name with a byte that is not UTF-8")
        << QByteArray("port\xff") << true << QByteArray() << false << true;
    QTest::newRow("name holding U+FFFD itself, not from the command line")
        << QByteArray("port\xef\xbf\xbd") << false << QByteArray() << false << true;
    // Both names read as "port" and U+FFFD once Qt has them.
    QTest::newRow("a second link whose name reads alike")
        << QByteArray("port\xff") << true << QByteArray("port\xfe") << false << true;
    QTest::newRow("a second argument that reads alike")
        << QByteArray("port\xff") << true << QByteArray("port\xfe") << true << false;
}

void QtSerialPortTest::openTakesADevicePathAsGiven()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, given);
    QFETCH(QByteArray, decoy);
    QFETCH(bool, decoyGiven);
    QFETCH(bool, opens);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    PtyPair pty;
    PtyPair other;
    QVERIFY2(pty.isValid() && other.isValid(), qPrintable(pty.error() + other.error()));
    const QByteArray folder = QFile::encodeName(scratch.path()) + '/';
    const QByteArray link = folder + name;
    const QByteArray decoyLink = decoy.isEmpty() ? QByteArray() : folder + decoy;
    // QTemporaryDir removes by names read as text, which these may not be.
    auto removeLinks = qScopeGuard([&] {
        ::unlink(link.constData());
        if (!decoyLink.isEmpty())
            ::unlink(decoyLink.constData());
    });
    QVERIFY2(::symlink(QFile::encodeName(pty.slavePath()).constData(), link.constData()) == 0,
             std::strerror(errno));
    if (!decoyLink.isEmpty())
        QVERIFY2(
            ::symlink(QFile::encodeName(other.slavePath()).constData(), decoyLink.constData()) == 0,
            std::strerror(errno));

    // As commcheck-cli has them: main()'s bytes, and Qt's text of them.
    std::vector<const char *> argv{"commcheck-cli", "check", "--text", "A"};
    if (given)
        argv.push_back(link.constData());
    if (decoyGiven)
        argv.insert(argv.end(), {"--log", decoyLink.constData()});
    PortLocator::keepCommandLine(int(argv.size()), argv.data());
    auto forgetArguments = qScopeGuard([] { PortLocator::keepCommandLine(0, nullptr); });

    QtSerialPort port;
    port.setDevice(QFile::decodeName(link));
    port.setSettings(lineOf(QStringLiteral("9600,N,8,1"), FlowControl::None));
    if (!opens) {
        QVERIFY(!port.open());
        QVERIFY2(port.errorString().contains(u"not UTF-8"), qPrintable(port.errorString()));
        return;
    }
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    port.output(QStringLiteral("given"));
    QCOMPARE(pty.readWithoutEventLoop(5, kWaitMs), QByteArray("given"));
    QCOMPARE(other.readWithoutEventLoop(1, 100), QByteArray());
}

void QtSerialPortTest::openFailsOnABusyDeviceWithoutDisturbingTheHolder_data()
{
    QTest::addColumn<QString>("holder");

    QTest::newRow("another copy of the program") << "copy";
    QTest::newRow("a program holding it exclusively (TIOCEXCL)") << "exclusive";
    QTest::newRow("a program holding only the lock file") << "lock file";
}

void QtSerialPortTest::openFailsOnABusyDeviceWithoutDisturbingTheHolder()
{
    QFETCH(QString, holder);

    MappedPty mapped;
    REQUIRE_PTY(mapped);

    QtSerialPort copy;
    QSerialPort lockHolder;
    int exclusiveFd = -1;
    auto releaseExclusive = qScopeGuard([&] {
        if (exclusiveFd >= 0)
            ::close(exclusiveFd);
    });
    if (holder == u"copy") {
        QVERIFY2(openPort(copy, QStringLiteral("19200,N,8,2"), FlowControl::RtsCts),
                 qPrintable(copy.errorString()));
    } else if (holder == u"exclusive") {
        exclusiveFd = ::open(QFile::encodeName(mapped.pty.slavePath()).constData(),
                             O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY2(exclusiveFd >= 0, "cannot open the pty slave");
        struct termios tio = mapped.pty.slaveTermios();
        cfsetspeed(&tio, B19200);
        QVERIFY(::tcsetattr(exclusiveFd, TCSANOW, &tio) == 0);
        QVERIFY(::ioctl(exclusiveFd, TIOCEXCL) == 0);
    } else {
        lockHolder.setPortName(mapped.pty.slavePath());
        lockHolder.setBaudRate(19200);
        QVERIFY2(lockHolder.open(QIODevice::ReadWrite), qPrintable(lockHolder.errorString()));
        // Leaves QSerialPort's lock file as the only sign of the holder.
        QVERIFY(::ioctl(lockHolder.handle(), TIOCNXCL) == 0);
    }
    const struct termios before = mapped.pty.slaveTermios();
    QCOMPARE(mapped.pty.slaveSpeed(), qint64(19200));

    QtSerialPort second;
    QVERIFY(!openPort(second, QStringLiteral("4800,N,8,1"), FlowControl::XonXoff));
    QVERIFY(!second.isOpen());
    QVERIFY(!second.errorString().isEmpty());

    const struct termios after = mapped.pty.slaveTermios();
    QCOMPARE(mapped.pty.slaveSpeed(), qint64(19200));
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(after.c_iflag, before.c_iflag);
}

void QtSerialPortTest::openIsRefusedWhileAnotherProgramHoldsTheDevice_data()
{
    // A second program holds the device until it is killed (SIGKILL): what
    // it held must die with it. "echoes": the holder sends back what it gets.
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments"); // DEVICE: the pty's slave
    QTest::addColumn<bool>("echoes");
    QTest::addColumn<bool>("lockFile"); // keeps a lock file the way QSerialPort does

    const QString holder = QStringLiteral(COMMCHECK_PORT_HOLDER);
    QTest::newRow("another copy of the program")
        << holder << QStringList{"copy", QString::number(kPort)} << true << true;
    QTest::newRow("a serial tool holding an flock on it")
        << holder << QStringList{"flock", "DEVICE"} << true << false;
    // The shell opens the device, util-linux flock locks it, and the shell
    // becomes sleep, left the only process holding it (once it is sleep).
    QTest::newRow("util-linux flock on it")
        << QStringLiteral("sh")
        << QStringList{"-c", "exec 9<>\"$0\" && flock -x 9 && exec sleep 120", "DEVICE"} << false
        << false;
}

void QtSerialPortTest::openIsRefusedWhileAnotherProgramHoldsTheDevice()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, echoes);
    QFETCH(bool, lockFile);

    MappedPty mapped;
    REQUIRE_PTY(mapped);
    const QString device = mapped.pty.slavePath();
    arguments.replaceInStrings(QStringLiteral("DEVICE"), device);

    // The holder and whatever it starts form a process group, killed whole.
    QProcess holder;
    holder.setChildProcessModifier([] { ::setpgid(0, 0); });
    auto killHolder = [&holder] {
        if (holder.processId() > 0)
            ::kill(-pid_t(holder.processId()), SIGKILL);
        return holder.waitForFinished(kWaitMs);
    };
    auto cleanUp = qScopeGuard(killHolder);
    holder.start(program, arguments);
    QVERIFY2(holder.waitForStarted(kWaitMs), qPrintable(program + u' ' + holder.errorString()));
    if (echoes) {
        QVERIFY2(holder.waitForReadyRead(kWaitMs), holder.readAllStandardError().constData());
        QCOMPARE(holder.readLine().trimmed(), QByteArray("ready"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(lockedByFlock(device), kWaitMs);
    if (program == u"sh") {
        const QString comm = QStringLiteral("/proc/%1/comm").arg(holder.processId());
        QTRY_COMPARE_WITH_TIMEOUT(ScratchFiles::fileBytes(comm).trimmed(), QByteArray("sleep"),
                                  kWaitMs);
    }
    const QString lockPath = serialLockFileFor(device);
    if (lockFile) {
        QVERIFY2(!lockPath.isEmpty(), "the holder keeps no lock file");
        QCOMPARE(lockFileOwner(lockPath), holder.processId());
    }
    const struct termios before = mapped.pty.slaveTermios();
    const qint64 speed = mapped.pty.slaveSpeed();

    QtSerialPort port;
    QVERIFY(!openPort(port, QStringLiteral("4800,N,8,2"), FlowControl::RtsCts));
    QVERIFY(!port.isOpen());
    QVERIFY(!port.errorString().isEmpty());
    // The refused open left the device as the holder set it, and the holder
    // still has the line to itself.
    const struct termios after = mapped.pty.slaveTermios();
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(mapped.pty.slaveSpeed(), speed);
    if (echoes) {
        QVERIFY(mapped.pty.write("ping"));
        QCOMPARE(mapped.pty.read(4, kWaitMs), QByteArray("ping"));
    }

    // Killed, the holder leaves nothing that keeps the port from the next
    // program: not its lock, not an exclusive mode, and its lock file (which
    // outlives it) is taken over as stale.
    QVERIFY(killHolder());
    if (lockFile)
        QVERIFY2(QFile::exists(lockPath), qPrintable(lockPath));
    QVERIFY2(openPort(port, QStringLiteral("4800,N,8,2"), FlowControl::RtsCts),
             qPrintable(port.errorString()));
    QCOMPARE(mapped.pty.slaveSpeed(), qint64(4800));
    if (lockFile)
        QCOMPARE(lockFileOwner(lockPath), QCoreApplication::applicationPid());
    port.output(QStringLiteral("mine"));
    QCOMPARE(mapped.pty.read(4, kWaitMs), QByteArray("mine"));
}

void QtSerialPortTest::firstCopyKeepsWorkingWhenASecondIsRefused()
{
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort first;
    QVERIFY2(openPort(first, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(first.errorString()));
    QtSerialPort second;
    QVERIFY(!openPort(second, QStringLiteral("9600,N,8,1"), FlowControl::None));

    QVERIFY(first.isOpen());
    first.output(QStringLiteral("ping"));
    QCOMPARE(mapped.pty.read(4, kWaitMs), QByteArray("ping"));
    QVERIFY(mapped.pty.write("pong"));
    QString received;
    QTRY_VERIFY_WITH_TIMEOUT((received += first.input()) == u"pong", kWaitMs);
}

void QtSerialPortTest::openingAnOpenPortFails()
{
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));
    QVERIFY(!port.open());
    QVERIFY(port.isOpen());
    port.output(QStringLiteral("still"));
    QCOMPARE(mapped.pty.read(5, kWaitMs), QByteArray("still"));
}

void QtSerialPortTest::outputHandsCodePage932BytesToTheSystem_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("letter and carriage return") << QStringLiteral("A\r") << hex("410d");
    QTest::newRow("hiragana a") << QStringLiteral("あ") << hex("82a0");
    QTest::newRow("kanji between letters") << QStringLiteral("x漢y") << hex("788abf79");
    QTest::newRow("half-width katakana") << QStringLiteral("ｱ") << hex("b1");
    QTest::newRow("control bytes Qt's converter would swap")
        << QStringLiteral("\x1a\x1c\x7f") << hex("1a1c7f");
}

void QtSerialPortTest::outputHandsCodePage932BytesToTheSystem()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));

    port.output(text);
    // No event loop runs here: what QSerialPort merely buffered never comes.
    QCOMPARE(mapped.pty.readWithoutEventLoop(bytes.size(), kWaitMs).toHex(' '), bytes.toHex(' '));
    // Nor anything beyond the text.
    QCOMPARE(mapped.pty.readWithoutEventLoop(1, 100).toHex(' '), QByteArray());
}

void QtSerialPortTest::outputLargerThanTheSystemBufferArrivesWhole_data()
{
    QTest::addColumn<bool>("secondText");
    QTest::newRow("one text") << false;
    // Texts leave in the order they were sent, even when the system has room
    // again for a new one while part of an earlier one still waits.
    QTest::newRow("a second text sent while the first is held") << true;
}

void QtSerialPortTest::outputLargerThanTheSystemBufferArrivesWhole()
{
    QFETCH(bool, secondText);
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("115200,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));

    QString text;
    for (int i = 0; text.size() < 200000; ++i)
        text += QStringLiteral("%1,").arg(i);
    // The far end reads nothing until output() returns, so the system's
    // buffer fills up and output() must leave the rest to be sent later.
    port.output(text);
    QVERIFY(port.isOpen());
    QByteArray expected = text.toLatin1();
    QByteArray received;
    if (secondText) {
        // Room made in the system's buffer without letting the event loop
        // hand it the rest of the first text.
        received = mapped.pty.readWithoutEventLoop(8192, kWaitMs);
        QVERIFY2(received.size() >= 8192 && received.size() < expected.size(),
                 qPrintable(QString::number(received.size())));
        port.output(QStringLiteral("TAIL"));
        expected += "TAIL";
    }
    received += mapped.pty.read(int(expected.size() - received.size()), kWaitMs);
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);
}

void QtSerialPortTest::outputBeyondTheBoundIsRefusedWhole_data()
{
    QTest::addColumn<int>("textBytes");
    QTest::addColumn<bool>("firstRefused");

    // The far end reads nothing until the end: the system's buffer fills,
    // then the port's, up to its bound of 64 KiB here.
    QTest::newRow("texts queue up until the bound") << 16 * 1024 << false;
    QTest::newRow("a text larger than the bound on an idle line") << 80 * 1024 << true;
}

void QtSerialPortTest::outputBeyondTheBoundIsRefusedWhole()
{
    QFETCH(int, textBytes);
    QFETCH(bool, firstRefused);

    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    port.setWriteBufferLimit(64 * 1024);
    QVERIFY2(openPort(port, QStringLiteral("115200,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));

    // Texts told apart by their letter and number, until one is refused.
    auto textNumber = [textBytes](int i) {
        QString text = QStringLiteral("<%1>").arg(i);
        text += QString(textBytes - text.size(), QChar(u'a' + i % 26));
        return text;
    };
    QByteArray taken;
    int refused = -1;
    for (int i = 0; i < 100 && refused < 0; ++i) {
        const QString text = textNumber(i);
        const SerialPort::Output result = port.output(text);
        if (result == SerialPort::Output::Taken)
            taken += text.toLatin1();
        else if (result == SerialPort::Output::Refused)
            refused = i;
        else
            QFAIL("the port closed");
    }
    QVERIFY2(refused >= 0, "nothing was refused");
    QCOMPARE(refused == 0, firstRefused);
    QVERIFY(port.isOpen());

    // What was taken arrives whole and in order, and nothing of the refused
    // text; then the line takes texts again.
    QByteArray received = mapped.pty.read(int(taken.size()), kWaitMs);
    received += mapped.pty.readFor(100);
    QCOMPARE(received.size(), taken.size());
    QVERIFY(received == taken);
    QCOMPARE(port.output(QStringLiteral("after")), SerialPort::Output::Taken);
    QCOMPARE(mapped.pty.read(5, kWaitMs), QByteArray("after"));
}

void QtSerialPortTest::inputReturnsWhatArrivedSinceTheLastRead_data()
{
    // Each piece is sent, then input() is asked once; an empty piece sends
    // nothing. With `eventLoop` the event loop runs before each input(), so
    // QSerialPort's own notifier takes the bytes in first.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QStringList>("reads");
    QTest::addColumn<bool>("eventLoop");

    QTest::newRow("nothing arrived")
        << QList<QByteArray>{QByteArray()} << QStringList{QString()} << false;
    QTest::newRow("OK line") << QList<QByteArray>{hex("4f4b0d0a")}
                             << QStringList{QStringLiteral("OK\r\n")} << false;
    QTest::newRow("OK line taken in by the event loop")
        << QList<QByteArray>{hex("4f4b0d0a")} << QStringList{QStringLiteral("OK\r\n")} << true;
    QTest::newRow("second read after nothing more is empty")
        << QList<QByteArray>{hex("4f4b"), {}} << QStringList{QStringLiteral("OK"), QString()}
        << false;
    QTest::newRow("double-byte character split between reads")
        << QList<QByteArray>{hex("82"), hex("a0")} << QStringList{QString(), QStringLiteral("あ")}
        << false;
    QTest::newRow("split character between letters")
        << QList<QByteArray>{hex("4182"), hex("a042")}
        << QStringList{QStringLiteral("A"), QStringLiteral("あB")} << false;
    QTest::newRow("split character, event loop in between")
        << QList<QByteArray>{hex("4182"), hex("a042")}
        << QStringList{QStringLiteral("A"), QStringLiteral("あB")} << true;
    QTest::newRow("control bytes Qt's converter would swap")
        << QList<QByteArray>{hex("1a1c7f")} << QStringList{QStringLiteral("\x1a\x1c\x7f")} << false;
}

void QtSerialPortTest::inputReturnsWhatArrivedSinceTheLastRead()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, reads);
    QFETCH(bool, eventLoop);
    QCOMPARE(pieces.size(), reads.size());

    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));

    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (!pieces[i].isEmpty()) {
            QVERIFY(mapped.pty.write(pieces[i]));
            QVERIFY2(mapped.pty.waitUntilDelivered(kWaitMs), "the pty never passed the bytes on");
        }
        if (eventLoop) {
            // QSerialPort's notifier has taken the bytes in.
            QTRY_COMPARE_WITH_TIMEOUT(mapped.pty.pendingAtSlave(), qsizetype(0), kWaitMs);
        }
        QCOMPARE(port.input(), reads[i]);
    }
}

void QtSerialPortTest::unreadPortHoldsAtMostItsLimitAndLosesNothing()
{
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    const qint64 limit = 64 * 1024;
    port.setReadBufferLimit(limit);
    QVERIFY2(openPort(port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));

    // The far end talks and nobody reads: it writes whatever the line takes
    // while the event loop runs, until the line takes no more or 1 MiB went.
    QByteArray sent;
    const qint64 most = 1024 * 1024;
    auto nextBytes = [&sent](qsizetype n) {
        QByteArray bytes(n, Qt::Uninitialized);
        for (qsizetype i = 0; i < n; ++i)
            bytes[i] = char('A' + (sent.size() + i) % 26);
        return bytes;
    };
    QElapsedTimer idle;
    idle.start();
    while (sent.size() < most && idle.elapsed() < 300) {
        const QByteArray bytes = nextBytes(std::min<qint64>(4096, most - sent.size()));
        const ssize_t n = ::write(mapped.pty.masterFd(), bytes.constData(), size_t(bytes.size()));
        if (n > 0) {
            sent += bytes.left(n);
            idle.restart();
        } else {
            QTest::qWait(5);
        }
    }
    QTest::qWait(50);

    const QString first = port.input();
    QVERIFY2(first.size() <= limit, qPrintable(QString::number(first.size())));
    QVERIFY(first.size() > 0);

    // What the line took was only held back, never dropped.
    QString all = first;
    QDeadlineTimer deadline(kWaitMs);
    while (all.size() < sent.size() && !deadline.hasExpired()) {
        QTest::qWait(5);
        all += port.input();
    }
    QCOMPARE(all.size(), sent.size());
    QVERIFY(all == QString::fromLatin1(sent));
}

void QtSerialPortTest::closeThenReopenWorks()
{
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));
    port.close();
    QVERIFY(!port.isOpen());

    port.setSettings(lineOf(QStringLiteral("19200,N,8,2"), FlowControl::None));
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    QVERIFY(port.isOpen());
    QCOMPARE(mapped.pty.slaveSpeed(), qint64(19200));
    port.output(QStringLiteral("again"));
    QCOMPARE(mapped.pty.readWithoutEventLoop(5, kWaitMs), QByteArray("again"));
    QVERIFY(mapped.pty.write("back"));
    QVERIFY(mapped.pty.waitUntilDelivered(kWaitMs));
    QCOMPARE(port.input(), QStringLiteral("back"));
}

void QtSerialPortTest::reopenedPortDoesNotJoinAnOldLeadByteToNewBytes()
{
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));
    QVERIFY(mapped.pty.write(hex("82")));
    QVERIFY(mapped.pty.waitUntilDelivered(kWaitMs));
    QCOMPARE(port.input(), QString());
    port.close();

    QVERIFY2(port.open(), qPrintable(port.errorString()));
    // 82 60 would be a full-width A; after the reopen 60 stands alone.
    QVERIFY(mapped.pty.write(hex("60")));
    QVERIFY(mapped.pty.waitUntilDelivered(kWaitMs));
    QCOMPARE(port.input(), QStringLiteral("`"));
}

void QtSerialPortTest::closedPortIgnoresOutputAndInput()
{
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    port.setCommPort(kPort);
    QCOMPARE(port.output(QStringLiteral("never opened")), SerialPort::Output::Closed);
    QCOMPARE(port.input(), QString());

    QVERIFY2(port.open(), qPrintable(port.errorString()));
    QVERIFY(mapped.pty.write("late"));
    QVERIFY(mapped.pty.waitUntilDelivered(kWaitMs));
    port.close();
    QCOMPARE(port.output(QStringLiteral("closed")), SerialPort::Output::Closed);
    QCOMPARE(port.input(), QString());
    QCOMPARE(mapped.pty.readFor(200), QByteArray());
}

void QtSerialPortTest::lossIsReportedOnceAndClosesThePort_data()
{
    QTest::addColumn<QString>("noticedBy");

    QTest::newRow("noticed by the event loop") << "event loop";
    QTest::newRow("noticed during output") << "output";
    QTest::newRow("noticed during input") << "input";
}

void QtSerialPortTest::lossIsReportedOnceAndClosesThePort()
{
    QFETCH(QString, noticedBy);

    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));
    QSignalSpy lost(&port, &SerialPort::lost);

    mapped.pty.closeMaster();
    if (noticedBy == u"output") {
        port.output(QStringLiteral("into the void"));
        QVERIFY(!port.isOpen());
    } else if (noticedBy == u"input") {
        QCOMPARE(port.input(), QString());
        QVERIFY(!port.isOpen());
    }

    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, kWaitMs);
    QVERIFY(!port.isOpen());
    QVERIFY(!lost.at(0).at(0).toString().isEmpty());
    QVERIFY(!port.errorString().isEmpty());

    QTest::qWait(300);
    port.output(QStringLiteral("after"));
    QCOMPARE(port.input(), QString());
    QTest::qWait(100);
    QCOMPARE(lost.count(), 1);
    QVERIFY(!port.isOpen());

    // The adapter comes back as a new device under the same number.
    PtyPair fresh;
    QVERIFY2(fresh.isValid(), qPrintable(fresh.error()));
    QVERIFY(mapped.folder.map(kPort, fresh.slavePath()));
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    port.output(QStringLiteral("back"));
    QCOMPARE(fresh.readWithoutEventLoop(4, kWaitMs), QByteArray("back"));
    QVERIFY(fresh.write("ok"));
    QVERIFY(fresh.waitUntilDelivered(kWaitMs));
    QCOMPARE(port.input(), QStringLiteral("ok"));
    QTest::qWait(100);
    QCOMPARE(lost.count(), 1);
}

void QtSerialPortTest::reopeningBeforeALossIsReportedDropsTheStaleReport()
{
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port.errorString()));
    QSignalSpy lost(&port, &SerialPort::lost);
    mapped.pty.closeMaster();
    port.output(QStringLiteral("x"));
    QVERIFY(!port.isOpen());

    // Reopened on a new device before the event loop ran: a report of the old
    // loss arriving now would make the window drop a good port.
    PtyPair fresh;
    QVERIFY2(fresh.isValid(), qPrintable(fresh.error()));
    QVERIFY(mapped.folder.map(kPort, fresh.slavePath()));
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    QTest::qWait(200);
    QCOMPARE(lost.count(), 0);
    QVERIFY(port.isOpen());
    port.output(QStringLiteral("fine"));
    QCOMPARE(fresh.readWithoutEventLoop(4, kWaitMs), QByteArray("fine"));
}

void QtSerialPortTest::destroyingAPortWithALossPendingIsHarmless()
{
    MappedPty mapped;
    REQUIRE_PTY(mapped);
    auto port = std::make_unique<QtSerialPort>();
    QVERIFY2(openPort(*port, QStringLiteral("9600,N,8,1"), FlowControl::None),
             qPrintable(port->errorString()));
    QSignalSpy lost(port.get(), &SerialPort::lost);
    mapped.pty.closeMaster();
    port->output(QStringLiteral("x"));
    QVERIFY(!port->isOpen());
    port.reset();
    QTest::qWait(100);
    QCOMPARE(lost.count(), 0);
}

void QtSerialPortTest::heldLineIsNotALoss_data()
{
    // How the line is held: "xoff", the far end sends XOFF to a port with
    // XON/XOFF on; "stopped", the port's output is suspended, as CTS low
    // would stop it (a pty has no modem lines); "full", the far end reads
    // nothing until the pty is full. What happens while it is held: "polls",
    // the program polls and sends for a while; "write", the line frees up
    // and is held again between the event loop's wake-up and the port's
    // write; "read", the event loop wakes up for input that a read of the
    // program's has already taken.
    QTest::addColumn<int>("handshaking");
    QTest::addColumn<QString>("hold");
    QTest::addColumn<QString>("moment");

    QTest::newRow("XOFF held across polls") << 1 << "xoff"
                                            << "polls";
    QTest::newRow("XOFF between the wake-up and the write") << 1 << "xoff"
                                                            << "write";
    QTest::newRow("XOFF held, then a wake-up finding nothing to read") << 1 << "xoff"
                                                                       << "read";
    QTest::newRow("output stopped across polls, RTS/CTS") << 2 << "stopped"
                                                          << "polls";
    QTest::newRow("output stopped between the wake-up and the write, RTS/CTS") << 2 << "stopped"
                                                                               << "write";
    QTest::newRow("output stopped between the wake-up and the write, both flow controls")
        << 3 << "stopped"
        << "write";
    QTest::newRow("far end reading nothing across polls") << 0 << "full"
                                                          << "polls";
    QTest::newRow("far end reading nothing, then a wake-up finding nothing to read") << 0 << "full"
                                                                                     << "read";
}

void QtSerialPortTest::heldLineIsNotALoss()
{
    QFETCH(int, handshaking);
    QFETCH(QString, hold);
    QFETCH(QString, moment);

    MappedPty mapped;
    REQUIRE_PTY(mapped);
    PtyPair &far = mapped.pty;
    QtSerialPort port;
    QVERIFY2(openPort(port, QStringLiteral("115200,N,8,1"), FlowControl(handshaking)),
             qPrintable(port.errorString()));
    QSignalSpy lost(&port, &SerialPort::lost);
    QSignalSpy arrived(&port, &SerialPort::readyRead);

    constexpr char kFiller = '~';
    auto farEndSends = [&far](const QByteArray &bytes) {
        return ::write(far.masterFd(), bytes.constData(), size_t(bytes.size())) == bytes.size();
    };
    auto holdLine = [&] {
        if (hold == u"xoff")
            return farEndSends("\x13") && far.waitUntilHeld(kWaitMs);
        if (hold == u"stopped")
            return far.stopOutput() && far.waitUntilHeld(kWaitMs);
        return far.fillLine(kFiller) >= 0;
    };
    // The far end's side of freeing the line; a full one it frees by reading.
    auto freeLine = [&] {
        if (hold == u"xoff")
            return farEndSends("\x11");
        return hold == u"stopped" ? far.restartOutput() : true;
    };
    // The check's way with the port: a look for input at each 50 ms poll.
    QString received;
    int polls = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        received += port.input();
        ++polls;
    });
    auto pollFor = [&](int count) {
        const int until = polls + count;
        poll.start(50);
        const bool done = QTest::qWaitFor([&] { return polls >= until; }, kWaitMs);
        poll.stop();
        return done;
    };

    // A send while the line is held waits in the port.
    QVERIFY(holdLine());
    QByteArray sent = "first";
    QCOMPARE(port.output(QString::fromLatin1(sent)), SerialPort::Output::Taken);

    if (moment == u"polls") {
        for (const char *text : {"second", "third"}) {
            QVERIFY(pollFor(2));
            QCOMPARE(port.output(QString::fromLatin1(text)), SerialPort::Output::Taken);
            sent += text;
        }
    } else if (moment == u"write") {
        // Freed with input waiting, both found by the event loop's next look;
        // the input comes first, and the line is held again before the port
        // writes.
        QVERIFY(freeLine() && farEndSends("ping"));
        QVERIFY(far.waitUntilDelivered(kWaitMs));
        QVERIFY(far.waitUntilFree(kWaitMs));
        bool heldAgain = false;
        const auto connection = QObject::connect(&port, &SerialPort::readyRead, [&] {
            if (!heldAgain)
                heldAgain = holdLine();
        });
        QTRY_VERIFY_WITH_TIMEOUT(heldAgain, kWaitMs);
        QObject::disconnect(connection);
    } else {
        // A look for input queued before the event loop's next look takes
        // what that look woke up for.
        QVERIFY(farEndSends("ping"));
        QVERIFY(far.waitUntilDelivered(kWaitMs));
        bool looked = false;
        QMetaObject::invokeMethod(
            &port,
            [&] {
                received += port.input();
                looked = true;
            },
            Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(looked, kWaitMs);
    }
    // Long enough for a loss report to have come.
    QVERIFY(pollFor(3));
    QCOMPARE(lost.count(), 0);
    QVERIFY(port.isOpen());

    // Freed, the line carries what waited, in order.
    QVERIFY(freeLine());
    QByteArray got;
    const QDeadlineTimer deadline(kWaitMs);
    while (got.size() - got.count(kFiller) < sent.size() && !deadline.hasExpired())
        got += far.read(1, kWaitMs);
    QCOMPARE(got.replace(kFiller, QByteArray()), sent);
    QCOMPARE(port.output(QStringLiteral("after")), SerialPort::Output::Taken);
    QCOMPARE(far.read(5, kWaitMs), QByteArray("after"));

    // And the port still hears the line on its own.
    arrived.clear();
    QVERIFY(farEndSends("more"));
    QVERIFY(arrived.wait(kWaitMs));
    received += port.input();
    QVERIFY2(received.endsWith(u"more"), qPrintable(received));
    QCOMPARE(lost.count(), 0);
}

QTEST_GUILESS_MAIN(QtSerialPortTest)
#include "tst_QtSerialPort.moc"
