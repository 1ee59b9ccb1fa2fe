#include "PortFolder.h"
#include "PortLocator.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

// Which device a port number names: the port folder first, then the system.
class PortLocatorTest : public QObject {
    Q_OBJECT
private slots:
    void portFolderFollowsXdgConfigHome();
    void systemPortsCountFromZero_data();
    void systemPortsCountFromZero();
    void folderEntryNamesTheDevice_data();
    void folderEntryNamesTheDevice();
    void entryIsReadOnlyUpToItsFirstLine_data();
    void entryIsReadOnlyUpToItsFirstLine();
    void numbersOutsideThePortRangeNameNothing_data();
    void numbersOutsideThePortRangeNameNothing();
    void systemNumberIsTheInverseOfTheSystemDevice_data();
    void systemNumberIsTheInverseOfTheSystemDevice();
    void folderNumbersListsOnlyPortEntries();
};

void PortLocatorTest::portFolderFollowsXdgConfigHome()
{
    PortFolder folder;
    QVERIFY(folder.isValid());
    QCOMPARE(PortLocator::portFolder(), folder.path());
}

void PortLocatorTest::systemPortsCountFromZero_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("device");

    QTest::newRow("port 1") << 1 << "/dev/ttyS0";
    QTest::newRow("port 2") << 2 << "/dev/ttyS1";
    QTest::newRow("port 12") << 12 << "/dev/ttyS11";
}

void PortLocatorTest::systemPortsCountFromZero()
{
    QFETCH(int, number);
    QFETCH(QString, device);

    PortFolder folder; // empty: nothing overrides the system's ports
    QVERIFY(folder.isValid());
    QCOMPARE(PortLocator::systemDeviceFor(number), device);
    QCOMPARE(PortLocator::deviceFor(number), device);
}

void PortLocatorTest::folderEntryNamesTheDevice_data()
{
    // Paths are relative to a scratch folder; "device" is a file standing in
    // for the device, made by the test. Kinds: "link" (comN -> target),
    // "file" (comN holds the target on its first line), "folder" (comN is a
    // folder), "fifo" (comN is a FIFO a writer holds open, with the target on
    // its first line waiting in it), "address" (comN holds the target, a
    // network address, on its first line).
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expected"); // empty: the port names nothing

    QTest::newRow("link to the device") << "link"
                                        << "device"
                                        << "device";
    QTest::newRow("link to a link to the device") << "link"
                                                  << "by-id/adapter"
                                                  << "device";
    QTest::newRow("link to a missing device, kept as named") << "link"
                                                             << "missing"
                                                             << "missing";
    QTest::newRow("file naming the device") << "file"
                                            << "device\nsecond line ignored\n"
                                            << "device";
    QTest::newRow("file naming a link to the device") << "file"
                                                      << "by-id/adapter"
                                                      << "device";
    QTest::newRow("file naming a missing device") << "file"
                                                  << "missing"
                                                  << "missing";
    QTest::newRow("empty file") << "file"
                                << ""
                                << "";
    // Put there by mistake: they name nothing, and the system's port of that
    // number is not opened instead.
    QTest::newRow("folder") << "folder"
                            << ""
                            << "";
    QTest::newRow("FIFO, not read even with a line waiting in it") << "fifo"
                                                                   << "device\n"
                                                                   << "";
    // Read from a working folder where the same relative path names nothing.
    QTest::newRow("file naming the device relative to the port folder") << "relative"
                                                                        << "device"
                                                                        << "device";
    // Not a path, relative or otherwise: taken as written.
    QTest::newRow("file naming a device server") << "address"
                                                 << "rfc2217://[::1]:2217\nsecond line"
                                                 << "rfc2217://[::1]:2217";
    QTest::newRow("file naming a raw TCP line") << "address"
                                                << "SOCKET://ser2net.local:4001"
                                                << "SOCKET://ser2net.local:4001";
}

void PortLocatorTest::folderEntryNamesTheDevice()
{
    QFETCH(QString, kind);
    QFETCH(QString, target);
    QFETCH(QString, expected);

    constexpr int kNumber = 3;
    QTemporaryDir scratch;
    PortFolder folder;
    QVERIFY(scratch.isValid() && folder.isValid());
    // The scratch folder's real path: the locator reports real paths.
    const QString root = QDir(scratch.path()).canonicalPath();
    QFile device(root + QStringLiteral("/device"));
    QVERIFY(device.open(QIODevice::WriteOnly));
    device.close();
    QVERIFY(QDir(root).mkdir(QStringLiteral("by-id")));
    QVERIFY(QFile::link(root + QStringLiteral("/device"), root + QStringLiteral("/by-id/adapter")));

    const bool address = kind == u"address";
    if (address)
        kind = QStringLiteral("file");
    QString targetPath = target.isEmpty() || address ? target : root + u'/' + target;
    const QString workingFolder = QDir::currentPath();
    auto restoreWorkingFolder = qScopeGuard([&] { QDir::setCurrent(workingFolder); });
    if (kind == u"relative") {
        kind = QStringLiteral("file");
        targetPath = QDir(folder.path()).relativeFilePath(targetPath);
        QVERIFY(QDir::setCurrent(root + QStringLiteral("/by-id")));
    }
    const QString entryPath = folder.path() + QStringLiteral("/com%1").arg(kNumber);
    int fifoWriter = -1;
    auto closeFifo = qScopeGuard([&] {
        if (fifoWriter >= 0)
            ::close(fifoWriter);
    });
    if (kind == u"link") {
        QVERIFY(folder.map(kNumber, targetPath));
    } else if (kind == u"folder") {
        QVERIFY(QDir().mkpath(entryPath));
    } else if (kind == u"fifo") {
        QVERIFY(QDir().mkpath(folder.path()));
        const QByteArray fifo = QFile::encodeName(entryPath);
        QVERIFY2(::mkfifo(fifo.constData(), 0600) == 0, std::strerror(errno));
        // Held open for writing, so that an open for reading would not wait
        // and a read would find the line: a reader shows in the result
        // instead of hanging the test.
        fifoWriter = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        QVERIFY2(fifoWriter >= 0, std::strerror(errno));
        const QByteArray line = QFile::encodeName(targetPath);
        QCOMPARE(::write(fifoWriter, line.constData(), size_t(line.size())), ssize_t(line.size()));
    } else {
        QVERIFY(QDir().mkpath(folder.path()));
        QFile entry(entryPath);
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write(targetPath.toLocal8Bit());
        entry.close();
    }

    const QString expectedPath = expected.isEmpty() || address ? expected : root + u'/' + expected;
    QCOMPARE(PortLocator::deviceFor(kNumber), expectedPath);
    if (fifoWriter >= 0) {
        // Still waiting there: nobody read the FIFO.
        QByteArray left(4096, '\0');
        const ssize_t n = ::read(fifoWriter, left.data(), size_t(left.size()));
        QCOMPARE(left.left(std::max<ssize_t>(n, 0)), QFile::encodeName(targetPath));
    }
    // Other numbers keep the system's ports.
    QCOMPARE(PortLocator::deviceFor(kNumber + 1), PortLocator::systemDeviceFor(kNumber + 1));
}

void PortLocatorTest::entryIsReadOnlyUpToItsFirstLine_data()
{
    // The entry starts with `head`, and the file is then made `size` bytes
    // long (a hole that reads as NULs: no line break in it).
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("namesTheDevice");

    constexpr qint64 k200MB = 200'000'000;
    QTest::newRow("200 MB without a line break") << QByteArray() << k200MB << false;
    QTest::newRow("first line longer than any path") << QByteArray(5000, 'x') + '\n'
                                                     << qint64(0) << false;
    QTest::newRow("device named, then 200 MB") << QByteArray("DEVICE\n") << k200MB << true;
}

void PortLocatorTest::entryIsReadOnlyUpToItsFirstLine()
{
    QFETCH(QByteArray, head);
    QFETCH(qint64, size);
    QFETCH(bool, namesTheDevice);

    QTemporaryDir scratch;
    PortFolder folder;
    QVERIFY(scratch.isValid() && folder.isValid() && QDir().mkpath(folder.path()));
    const QString device = QDir(scratch.path()).canonicalPath() + QStringLiteral("/device");
    QVERIFY(QFile(device).open(QIODevice::WriteOnly));
    QFile entry(folder.path() + QStringLiteral("/com4"));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    QVERIFY(entry.write(head.replace("DEVICE", QFile::encodeName(device))) == head.size());
    if (size > 0)
        QVERIFY(entry.resize(size));
    entry.close();

    // Bytes this process reads through the system, as the kernel counts them.
    auto bytesRead = [] {
        QFile io(QStringLiteral("/proc/self/io"));
        if (!io.open(QIODevice::ReadOnly))
            return qint64(-1);
        for (QByteArray line; !(line = io.readLine()).isEmpty();) {
            if (line.startsWith("rchar:"))
                return line.mid(6).trimmed().toLongLong();
        }
        return qint64(-1);
    };
    const qint64 before = bytesRead();
    QVERIFY2(before >= 0, "no /proc/self/io to count the bytes read");
    QCOMPARE(PortLocator::deviceFor(4), namesTheDevice ? device : QString());
    const qint64 read = bytesRead() - before;
    QVERIFY2(read < 64 * 1024, qPrintable(QStringLiteral("%1 bytes read").arg(read)));
}

void PortLocatorTest::numbersOutsideThePortRangeNameNothing_data()
{
    QTest::addColumn<int>("number");

    QTest::newRow("0") << 0;
    QTest::newRow("-1") << -1;
    QTest::newRow("most negative") << std::numeric_limits<int>::min();
    // The port number box takes a 16-bit signed number.
    QTest::newRow("32768") << 32768;
    QTest::newRow("largest") << std::numeric_limits<int>::max();
}

void PortLocatorTest::numbersOutsideThePortRangeNameNothing()
{
    QFETCH(int, number);

    PortFolder folder;
    QVERIFY(folder.isValid());
    // Even an entry with that name does not make the number a port.
    QVERIFY(folder.map(number, QStringLiteral("/dev/null")));
    QCOMPARE(PortLocator::deviceFor(number), QString());
    QCOMPARE(PortLocator::systemDeviceFor(number), QString());
}

void PortLocatorTest::systemNumberIsTheInverseOfTheSystemDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("number");

    QTest::newRow("first system port") << "/dev/ttyS0" << 1;
    QTest::newRow("twelfth system port") << "/dev/ttyS11" << 12;
    QTest::newRow("leading zero is another name") << "/dev/ttyS01" << 0;
    QTest::newRow("USB adapter") << "/dev/ttyUSB0" << 0;
    QTest::newRow("pseudo-terminal") << "/dev/pts/3" << 0;
    QTest::newRow("not under /dev") << "/tmp/ttyS1" << 0;
}

void PortLocatorTest::systemNumberIsTheInverseOfTheSystemDevice()
{
    QFETCH(QString, device);
    QFETCH(int, number);

    QCOMPARE(PortLocator::systemNumberFor(device), number);
    if (number > 0)
        QCOMPARE(PortLocator::systemDeviceFor(number), device);
}

void PortLocatorTest::folderNumbersListsOnlyPortEntries()
{
    PortFolder folder;
    QVERIFY(folder.isValid());
    QCOMPARE(PortLocator::folderNumbers(), QList<int>{}); // no folder yet

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString device = scratch.filePath(QStringLiteral("device"));
    QVERIFY(QFile(device).open(QIODevice::WriteOnly));
    QVERIFY(folder.map(12, device));
    QVERIFY(folder.map(3, device));
    QVERIFY(folder.map(7, scratch.filePath(QStringLiteral("gone")))); // dangling link
    QVERIFY(folder.map(32767, device));
    const QDir dir(folder.path());
    for (const char *name : {"com0", "com01", "comX", "notes.txt", "com32768"}) {
        QFile other(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(other.open(QIODevice::WriteOnly));
    }
    QVERIFY(dir.mkdir(QStringLiteral("com9"))); // a folder, not an entry

    QCOMPARE(PortLocator::folderNumbers(), (QList<int>{3, 7, 12, 32767}));
}

QTEST_GUILESS_MAIN(PortLocatorTest)
#include "tst_PortLocator.moc"
