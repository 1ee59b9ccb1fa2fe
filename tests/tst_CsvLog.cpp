#include "CsvLog.h"

#include "ScratchFiles.h"
#include "TinyDisk.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>

using namespace std::chrono_literals;

// The exchange log of commcheck-cli, added to run after run, left unattended:
// whatever the path names and however full the disk, it never waits, never
// holds part of a row and says why it stopped.
class CsvLogTest : public QObject {
    Q_OBJECT
private slots:
    void addsToAnExistingLogWithoutASecondHeader();
    void addsAfterWhatTheFileHoldsOnALineOfItsOwn_data();
    void addsAfterWhatTheFileHoldsOnALineOfItsOwn();
    void refusesAnythingButARegularFileAtOnce_data();
    void refusesAnythingButARegularFileAtOnce();
    void rowThatDoesNotFitIsTakenBackWhole_data();
    void rowThatDoesNotFitIsTakenBackWhole();
};

namespace {

const QByteArray kHeader = "time,sequence,response_ms,outcome,received\r\n";
const QByteArray kRow1 = "t,1,0.5,ok,\r\n";
const QStringList kRow2Fields = {QStringLiteral("t"), QStringLiteral("2"), QStringLiteral("0.5"),
                                 QStringLiteral("error"), QStringLiteral("A,\"B\"")};
const QByteArray kRow2 = "t,2,0.5,error,\"A,\"\"B\"\"\"\r\n";

// Qt's own warnings while one lives.
class QtMessages {
public:
    QtMessages() { previous_ = qInstallMessageHandler(&QtMessages::keep); }
    ~QtMessages() { qInstallMessageHandler(previous_); }
    static QStringList &seen()
    {
        static QStringList messages;
        return messages;
    }

private:
    static void keep(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        seen() << message;
    }
    QtMessageHandler previous_ = nullptr;
};

// Makes what a row names at `path`; empty, or why not.
QString makeNode(const QString &node, const QString &path, int *pipeEnds)
{
    const QByteArray name = QFile::encodeName(path);
    const auto failed = [&](const char *what) {
        return QStringLiteral("cannot make %1 %2: %3")
            .arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(errno)));
    };
    if (node == u"fifo")
        return ::mkfifo(name.constData(), 0644) == 0 ? QString() : failed("a FIFO");
    if (node == u"folder")
        return ::mkdir(name.constData(), 0755) == 0 ? QString() : failed("a folder");
    if (node.startsWith(u"link to ")) {
        const QByteArray target = QFile::encodeName(
            QString(node).remove(0, 8).replace(QStringLiteral("%DIR"), QFileInfo(path).path()));
        return ::symlink(target.constData(), name.constData()) == 0 ? QString() : failed("a link");
    }
    if (node == u"socket") {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
        const bool bound =
            fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        const QString problem = bound ? QString() : failed("a socket");
        if (fd >= 0)
            ::close(fd);
        return problem;
    }
    if (node == u"pipe")
        return ::pipe2(pipeEnds, O_CLOEXEC) == 0 ? QString() : failed("a pipe for");
    return QStringLiteral("no such node: ") + node;
}

} // namespace

void CsvLogTest::addsToAnExistingLogWithoutASecondHeader()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    for (const QString &sequence : {QStringLiteral("1"), QStringLiteral("2")}) {
        CsvLog log;
        QVERIFY2(log.open(path), qPrintable(log.errorString()));
        QVERIFY(log.addRow({QStringLiteral("t"), sequence, QStringLiteral("0.5"),
                            QStringLiteral("error"), QStringLiteral("A,\"B\"")}));
    }
    QCOMPARE(ScratchFiles::fileBytes(path),
             QByteArray("time,sequence,response_ms,outcome,received\r\n"
                        "t,1,0.5,error,\"A,\"\"B\"\"\"\r\n"
                        "t,2,0.5,error,\"A,\"\"B\"\"\"\r\n"));
}

void CsvLogTest::addsAfterWhatTheFileHoldsOnALineOfItsOwn_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("throughLink"); // the log named by a link to the file
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("a half row") << kHeader + "t,1,0." << false << kHeader + "t,1,0.\r\n" + kRow2;
    QTest::newRow("a half row, through a link")
        << kHeader + "t,1,0." << true << kHeader + "t,1,0.\r\n" + kRow2;
    QTest::newRow("a half row in a quoted field")
        << kHeader + "t,1,0.5,error,\"A,\"\"B" << false
        << kHeader + "t,1,0.5,error,\"A,\"\"B\"\r\n" + kRow2;
    // Its quote is further back than one piece the end is read back in.
    const QByteArray longHalf = "t,1,0.5,error,\"A," + QByteArray(100000, 'B');
    QTest::newRow("a long half row in a quoted field")
        << kHeader + longHalf << false << kHeader + longHalf + "\"\r\n" + kRow2;
    QTest::newRow("a row cut between its CR and LF")
        << kHeader + "t,1,0.5,ok,\r" << false << kHeader + kRow1 + kRow2;
    QTest::newRow("lines ended by LF alone")
        << QByteArray("a,b\n") << false << QByteArray("a,b\n") + kRow2;
}

void CsvLogTest::addsAfterWhatTheFileHoldsOnALineOfItsOwn()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, throughLink);
    QFETCH(QByteArray, after);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("log.csv"));
    QVERIFY(ScratchFiles::writeBytes(file, before));
    const QString link = dir.filePath(QStringLiteral("link.csv"));
    if (throughLink)
        QVERIFY(QFile::link(QStringLiteral("log.csv"), link));

    CsvLog log;
    QVERIFY2(log.open(throughLink ? link : file), qPrintable(log.errorString()));
    QVERIFY2(log.addRow(kRow2Fields), qPrintable(log.errorString()));

    QCOMPARE(ScratchFiles::fileBytes(file), after);
    if (throughLink)
        QCOMPARE(QFileInfo(link).symLinkTarget(), file);
}

void CsvLogTest::refusesAnythingButARegularFileAtOnce_data()
{
    QTest::addColumn<QString>("node");   // made at log.csv in a scratch folder; empty: none
    QTest::addColumn<QString>("path");   // the log's path; empty: log.csv there
    QTest::addColumn<QString>("reason"); // %DIR: the scratch folder

    const QString fifo = QStringLiteral("a FIFO, not a regular file");
    const QString device = QStringLiteral("a character device, not a regular file");
    QTest::newRow("FIFO nobody reads") << "fifo" << QString() << fifo;
    QTest::newRow("shell's >(...), a pipe") << "pipe"
                                            << "/dev/fd/%PIPE" << fifo;
    QTest::newRow("socket") << "socket" << QString() << "a socket, not a regular file";
    QTest::newRow("/dev/null") << QString() << "/dev/null" << device;
    QTest::newRow("/dev/full") << QString() << "/dev/full" << device;
    QTest::newRow("link to /dev/full") << "link to /dev/full" << QString() << device;
    QTest::newRow("link to nothing") << "link to %DIR/gone.csv" << QString()
                                     << "a symbolic link to %DIR/gone.csv, which does not exist";
    QTest::newRow("link into a folder that is not there")
        << "link to /nonexistent/x.csv" << QString()
        << "a symbolic link to /nonexistent/x.csv, which does not exist";
}

void CsvLogTest::refusesAnythingButARegularFileAtOnce()
{
    QFETCH(QString, node);
    QFETCH(QString, path);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    int pipeEnds[2] = {-1, -1};
    if (!node.isEmpty()) {
        const QString problem = makeNode(node, dir.filePath(QStringLiteral("log.csv")), pipeEnds);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    const auto closePipe = qScopeGuard([&pipeEnds] {
        for (int end : pipeEnds)
            if (end >= 0)
                ::close(end);
    });
    if (path.isEmpty())
        path = dir.filePath(QStringLiteral("log.csv"));
    path.replace(QStringLiteral("%PIPE"), QString::number(pipeEnds[1]));
    reason.replace(QStringLiteral("%DIR"), dir.path());
    const QStringList entries = ScratchFiles::entriesOf(dir.path());

    CsvLog log;
    bool opened = false;
    {
        QtMessages messages;
        QtMessages::seen().clear();
        // On a thread of its own: an open that waits on the path fails the
        // test rather than holding it.
        auto opening = std::async(std::launch::async, [&] { return log.open(path); });
        if (opening.wait_for(30s) != std::future_status::ready) {
            // A reader lets an open of the FIFO return, so the thread ends.
            const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
            opening.wait();
            if (reader >= 0)
                ::close(reader);
            QFAIL("opening the log waited on what its path names");
        }
        opened = opening.get();
        QCOMPARE(QtMessages::seen(), QStringList());
    }
    QVERIFY(!opened);
    QVERIFY(!log.isOpen());
    QCOMPARE(log.errorString(), QStringLiteral("cannot write the log %1: %2").arg(path, reason));
    // Nothing made, not even where a link leads.
    QCOMPARE(ScratchFiles::entriesOf(dir.path()), entries);
}

void CsvLogTest::rowThatDoesNotFitIsTakenBackWhole_data()
{
    QTest::addColumn<int>("receivedChars"); // in each row

    // 64 KiB hold 21 rows of these; the 22nd goes in part.
    QTest::newRow("rows that fill the disk") << 3000;
    QTest::newRow("a row larger than the disk") << 100000;
}

void CsvLogTest::rowThatDoesNotFitIsTakenBackWhole()
{
    QFETCH(int, receivedChars);

    TinyDisk disk(64 * 1024);
    QVERIFY2(disk.isValid(), qPrintable(disk.error()));
    const QString path = disk.filePath(QStringLiteral("log.csv"));
    const QStringList fields = {QStringLiteral("t"), QStringLiteral("1"), QStringLiteral("0.5"),
                                QStringLiteral("error"), QString(receivedChars, u'A')};
    const QByteArray row = "t,1,0.5,error," + QByteArray(receivedChars, 'A') + "\r\n";

    CsvLog log;
    QVERIFY2(log.open(path), qPrintable(log.errorString()));
    int rows = 0;
    while (rows < 100 && log.addRow(fields))
        ++rows;
    QVERIFY(rows < 100);

    QCOMPARE(log.errorString(),
             QStringLiteral("writing the log %1 failed: No space left on device").arg(path));
    QCOMPARE(ScratchFiles::fileBytes(path), kHeader + row.repeated(rows));
}

QTEST_GUILESS_MAIN(CsvLogTest)
#include "tst_CsvLog.moc"
