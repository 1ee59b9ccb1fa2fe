#include "NullModemCable.h"
#include "PortFolder.h"
#include "PtyPair.h"
#include "ScratchFiles.h"
#include "ScriptedFarEnd.h"
#include "Ser2net.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

// commcheck-cli as a shell runs it, on pseudo-terminals: what it prints, the
// log it leaves and the code it exits with, for each way a run can end,
// stopped by signals and written to output nobody reads.
class CliProgramTest : public QObject {
    Q_OBJECT
private slots:
    void endsWithItsExitCode_data();
    void endsWithItsExitCode();
    void answersAScriptedProbe();
    void endsInOneJsonObject_data();
    void endsInOneJsonObject();
    void keepsItsLineWithReconnect_data();
    void keepsItsLineWithReconnect();
};

namespace {

constexpr int kLimitMs = 30000;

// What the child QProcess starts exits with when it could not lead a session
// on a terminal.
constexpr int kSetupFailed = 125;

// Behind ser2net, an echoing far end or a pseudo-terminal the test plays the
// far end on: the port is ser2net's rfc2217:// or socket:// address.
// NobodyListening: an rfc2217:// address with no server. Dropping: answers
// the first three probes, then none.
enum class FarEnd {
    None,
    Echo,
    Silent,
    Preloaded,
    EchoBehindRfc2217,
    EchoBehindRfc2217ByNumber, // port 7, its port folder entry the address
    EchoBehindSocket,
    PtyBehindRfc2217,
    PtyBehindSocket,
    NobodyListening,
    Dropping,
};
enum class Action {
    RunToEnd,
    InterruptAfterRows,
    HangUpAfterRows,
    KillAfterRows,
    StopTwiceAfterProbe, // SIGTERM, then SIGINT once the first is taken
    CutAfterFirstProbe,
    CutOnceTaken,          // the line cut once the port has taken what the far end sent
    CutWhileSending,       // once the far end has the first bytes
    InterruptWhileSending, // likewise
    ReadSlowly,            // the far end reads a little at a time until the program ends
    TerminateOnceTaken,    // the far end sends text; SIGTERM once the port has taken it
    KillServerOnceEchoed,  // ser2net killed once probes have come back through it
    ProbeUntilAnswered,    // the far end sends ABC CR until it is answered; then SIGTERM
    // The far end sends dots until one is shown, then kMarkedBytes; SIGTERM
    // once they are shown up to their last [3].
    ShowMarkedBytes,
};
// How the program is started: where its standard output goes, and under
// which terminal.
enum class Start {
    Captured,
    OnTerminal,
    IntoFullPipe,   // a pipe already full, that nobody reads
    IntoClosedPipe, // a pipe whose reader has gone
    // A job in the background of its controlling terminal, writing to it,
    // set as `stty tostop` sets it: output from the background halts a job.
    InBackgroundOfTerminal,
};

// STX, CR LF, あ in code page 932, CR NUL, ESC, ETX: control codes, a
// double-byte character and what Telnet gives a meaning of its own.
const QByteArray kMarkedBytes("\x02OK\r\n\x82\xa0\r\0\x1b\x03", 11);

// A text of `size` characters that shows bytes lost or out of order.
QString countingText(int size)
{
    QString text;
    for (int i = 0; text.size() < size; ++i)
        text += QString::number(i) + u',';
    return text.left(size);
}

// The log's complete lines (each ended by CR LF), header first.
QStringList completeLines(const QString &path)
{
    QString text = QString::fromUtf8(ScratchFiles::fileBytes(path));
    const qsizetype end = text.lastIndexOf(QStringLiteral("\r\n"));
    if (end < 0)
        return {};
    return text.left(end).split(QStringLiteral("\r\n"));
}

qsizetype rowsIn(const QString &path)
{
    return std::max<qsizetype>(0, completeLines(path).size() - 1);
}

// Checks every complete row of a check's log; returns how many were ok.
int verifyCheckLog(const QString &path)
{
    const QStringList lines = completeLines(path);
    if (lines.isEmpty()) {
        QTest::qFail("the log has no header", __FILE__, __LINE__);
        return -1;
    }
    if (lines.first() != QStringLiteral("time,sequence,response_ms,outcome,received")) {
        QTest::qFail("the log's first line is no header: " + lines.first().toUtf8(), __FILE__,
                     __LINE__);
        return -1;
    }
    int ok = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split(u',');
        const QByteArray row = lines[i].toUtf8();
        if (fields.size() != 5) {
            QTest::qFail("a row without its 5 fields: " + row, __FILE__, __LINE__);
            return -1;
        }
        bool number = false;
        fields[2].toDouble(&number);
        const bool parses =
            QDateTime::fromString(fields[0], Qt::ISODateWithMs).isValid() &&
            fields[1] == QString::number(i) && number &&
            QStringList({QStringLiteral("ok"), QStringLiteral("error"), QStringLiteral("lost")})
                .contains(fields[3]);
        if (!parses) {
            QTest::qFail("a row that does not parse: " + row, __FILE__, __LINE__);
            return -1;
        }
        ok += fields[3] == u"ok";
    }
    return ok;
}

QString cliPath()
{
    return QStringLiteral(COMMCHECK_CLI_PATH);
}

// Whether process `pid` has a handler of its own for signal `number`.
bool catches(qint64 pid, int number)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (number - 1)) & 1;
    }
    return false;
}

// A pipe whose ends close with it.
struct Pipe {
    int ends[2] = {-1, -1};
    ~Pipe()
    {
        for (int fd : ends) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

// Fills `pipe` to the last byte with '-', and leaves its write end blocking,
// as a shell hands a pipe on.
bool fill(Pipe &pipe)
{
    if (::pipe2(pipe.ends, O_CLOEXEC | O_NONBLOCK) == -1)
        return false;
    const QByteArray page(4096, '-'); // whole pages: the last leaves no room
    while (::write(pipe.ends[1], page.constData(), page.size()) == page.size()) {
    }
    return errno == EAGAIN && ::fcntl(pipe.ends[1], F_SETFL, O_WRONLY) == 0;
}

// In the child QProcess starts: makes it the leader of a session of its own
// whose controlling terminal is `terminal`, for a shell with job control to
// take over. Calls only what is safe between fork and exec.
void leadSessionOn(const char *terminal)
{
    if (::setsid() == -1)
        ::_exit(kSetupFailed);
    const int fd = ::open(terminal, O_RDWR);
    if (fd == -1 || ::ioctl(fd, TIOCSCTTY, 0) == -1)
        ::_exit(kSetupFailed);
    ::close(fd);
}

// Sets TOSTOP on `terminal`, as `stty tostop` does.
bool haltBackgroundOutput(const QByteArray &terminal)
{
    const int fd = ::open(terminal.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios settings {};
    bool done = fd != -1 && ::tcgetattr(fd, &settings) == 0;
    settings.c_lflag |= TOSTOP;
    done = done && ::tcsetattr(fd, TCSANOW, &settings) == 0;
    if (fd != -1)
        ::close(fd);
    return done;
}

} // namespace

Q_DECLARE_METATYPE(FarEnd)
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Start)

void CliProgramTest::endsWithItsExitCode_data()
{
    QTest::addColumn<QString>("arguments"); // %DEV: the far end's device, %LOG: a log file
    QTest::addColumn<FarEnd>("farEnd");
    QTest::addColumn<Action>("action");
    QTest::addColumn<Start>("start");
    QTest::addColumn<int>("exitCode");          // negative: ended by that signal
    QTest::addColumn<QString>("stdoutMatches"); // a regular expression
    // Empty: nothing on standard error. %N stands for the number of bytes
    // the program says it did not send; the far end then gets the rest.
    QTest::addColumn<QString>("stderrHas");
    QTest::addColumn<QByteArray>("farEndGets");

    const QString summary = QStringLiteral(
        "^check of %DEV ended after \\S+: %1\nprobes +\\d+\ncount +%2\nerrors +0\nlost +%3\n"
        "late +0\nunanswered +0\n"
        "mean +\\d+\\.\\d{3} ms\nmin .*\nmax .*\np50 .*\np95 .*\np99 +\\d+\\.\\d{3} ms\n$");
    const QString usage = QStringLiteral("\nUsage: commcheck-cli check ");
    // Once, for a socket:// port, before anything else.
    const QString notApplied =
        QStringLiteral("commcheck-cli: %DEV carries the bytes only: the line settings are the "
                       "device server's own, 9600,N,8,1 is not applied\n");
    const QString lost = QStringLiteral("commcheck-cli: port %DEV lost: ");
    const QString answered = QStringLiteral(
        "^answering on %DEV ended after \\S+: stopped by SIGTERM\nanswers [1-9]\\d*\n$");
    const QString marked = QStringLiteral(
        "^\\.+\\[2\\]OK\\[13\\]\\[10\\]\\[-32096\\]\\[13\\]\\[0\\]\\[27\\]\\[3\\]\n$");
    const QByteArray sentBehind("\x02"
                                "A\x82\xa0"
                                "B\r");

    QTest::newRow("echo, stopped by Ctrl+C")
        << "check %DEV --text ABC[13] --interval 20 --log %LOG" << FarEnd::Echo
        << Action::InterruptAfterRows << Start::Captured << 0
        << summary.arg(QStringLiteral("stopped by SIGINT"), QStringLiteral("[1-9]\\d*"),
                       QStringLiteral("0"))
        << QString() << QByteArray();
    QTest::newRow("echo behind ser2net over RFC 2217")
        << "check %DEV --text ABC[13] --interval 20 --count 5" << FarEnd::EchoBehindRfc2217
        << Action::RunToEnd << Start::Captured << 0
        << summary.arg(QStringLiteral("5 probes ended"), QStringLiteral("5"), QStringLiteral("0"))
        << QString() << QByteArray();
    QTest::newRow("echo behind ser2net over RFC 2217, by port number")
        << "check %DEV --text ABC[13] --interval 20 --count 5" << FarEnd::EchoBehindRfc2217ByNumber
        << Action::RunToEnd << Start::Captured << 0
        << summary.arg(QStringLiteral("5 probes ended"), QStringLiteral("5"), QStringLiteral("0"))
        << QString() << QByteArray();
    QTest::newRow("echo behind ser2net over raw TCP")
        << "check %DEV --text ABC[13] --interval 20 --count 5" << FarEnd::EchoBehindSocket
        << Action::RunToEnd << Start::Captured << 0
        << summary.arg(QStringLiteral("5 probes ended"), QStringLiteral("5"), QStringLiteral("0"))
        << notApplied << QByteArray();
    QTest::newRow("echo behind ser2net over RFC 2217, ser2net killed")
        << "check %DEV --text ABC[13] --interval 20" << FarEnd::EchoBehindRfc2217
        << Action::KillServerOnceEchoed << Start::Captured << 4
        << QStringLiteral("^check of %DEV ended after \\S+: port lost\n") << lost << QByteArray();
    QTest::newRow("echo behind ser2net over raw TCP, ser2net killed")
        << "check %DEV --text ABC[13] --interval 20" << FarEnd::EchoBehindSocket
        << Action::KillServerOnceEchoed << Start::Captured << 4
        << QStringLiteral("^check of %DEV ended after \\S+: port lost\n") << notApplied + lost
        << QByteArray();
    QTest::newRow("answer behind ser2net over RFC 2217")
        << "answer %DEV --text ABC[13]" << FarEnd::PtyBehindRfc2217 << Action::ProbeUntilAnswered
        << Start::Captured << 0 << answered << QString() << QByteArray();
    QTest::newRow("answer behind ser2net over raw TCP")
        << "answer %DEV --text ABC[13]" << FarEnd::PtyBehindSocket << Action::ProbeUntilAnswered
        << Start::Captured << 0 << answered << notApplied << QByteArray();
    QTest::newRow("echo, precise, on a terminal")
        << "check %DEV --text ABC[13] --interval 30 --count 10 --precise" << FarEnd::Echo
        << Action::RunToEnd << Start::OnTerminal << 0
        << QStringLiteral("\rlast \\d+\\.\\d{3}  mean .*\r +\r") +
               summary
                   .arg(QStringLiteral("10 probes ended"), QStringLiteral("10"),
                        QStringLiteral("0"))
                   .mid(1)
        << QString() << QByteArray();
    QTest::newRow("killed mid-run, the log stays whole")
        << "check %DEV --text ABC[13] --interval 20 --log %LOG" << FarEnd::Echo
        << Action::KillAfterRows << Start::Captured << -SIGKILL << QString() << QString()
        << QByteArray();
    QTest::newRow("echo, stopped by SIGHUP (the terminal gone)")
        << "check %DEV --text ABC[13] --interval 20 --log %LOG" << FarEnd::Echo
        << Action::HangUpAfterRows << Start::Captured << 0
        << summary.arg(QStringLiteral("stopped by SIGHUP"), QStringLiteral("[1-9]\\d*"),
                       QStringLiteral("0"))
        << QString() << QByteArray();
    QTest::newRow("echo, the summary into a full pipe nobody reads")
        << "check %DEV --text ABC[13] --interval 20 --count 3" << FarEnd::Echo << Action::RunToEnd
        << Start::IntoFullPipe << 0 << QStringLiteral("^-+$") << QString() << QByteArray();
    QTest::newRow("echo, the summary into a pipe whose reader has gone")
        << "check %DEV --text ABC[13] --interval 20 --count 3" << FarEnd::Echo << Action::RunToEnd
        << Start::IntoClosedPipe << 0 << QStringLiteral("^$") << QString() << QByteArray();
    // The probe out is given 10 minutes to come back after the first request.
    QTest::newRow("silent far end, a second request ends at once")
        << "check %DEV --text ABC[13] --timeout 600000" << FarEnd::Silent
        << Action::StopTwiceAfterProbe << Start::Captured << -SIGINT << QStringLiteral("^$")
        << QString() << QByteArray();
    QTest::newRow("silent far end, timeout and count")
        << "check %DEV --text ABC[13] --interval 20 --timeout 100 --count 2 --log %LOG"
        << FarEnd::Silent << Action::RunToEnd << Start::Captured << 1
        << QStringLiteral("^check of %DEV ended after \\S+: 2 probes ended\nprobes +2\ncount +0\n"
                          "errors +0\nlost +2\nlate +0\nunanswered +0\nmean +-\n")
        << QString() << QByteArray();
    QTest::newRow("port lost mid-run")
        << "check %DEV --text ABC[13] --interval 20" << FarEnd::Silent << Action::CutAfterFirstProbe
        << Start::Captured << 4 << QStringLiteral("^check of %DEV ended after \\S+: port lost\n")
        << QStringLiteral("commcheck-cli: port %DEV lost: ") << QByteArray();
    QTest::newRow("answer, port lost")
        << "answer %DEV --text ABC[13]" << FarEnd::Preloaded << Action::CutOnceTaken
        << Start::Captured << 4
        << QStringLiteral("^answering on %DEV ended after \\S+: port lost\nanswers 0\n$")
        << QStringLiteral("commcheck-cli: port %DEV lost: ") << QByteArray();
    QTest::newRow("receive, port lost after what came is shown")
        << "receive %DEV" << FarEnd::Preloaded << Action::CutOnceTaken << Start::Captured << 4
        << QStringLiteral("^OK\\[13\\]\\[10\\]\\[-32096\\]\n$")
        << QStringLiteral("commcheck-cli: port %DEV lost: ") << QByteArray();
    QTest::newRow("its own terminal, from the background")
        << "check /dev/tty --text A" << FarEnd::None << Action::RunToEnd
        << Start::InBackgroundOfTerminal << 3 << QStringLiteral("^$")
        << QStringLiteral("commcheck-cli: cannot open port /dev/tty: it is the terminal this "
                          "program runs in the background of; run it in the foreground to check "
                          "that terminal\n")
        << QByteArray();
    QTest::newRow("echo, from the background of its terminal")
        << "check %DEV --text ABC[13] --interval 20 --count 3" << FarEnd::Echo << Action::RunToEnd
        << Start::InBackgroundOfTerminal << 0
        << QStringLiteral("^\r.*\r +\r") +
               summary
                   .arg(QStringLiteral("3 probes ended"), QStringLiteral("3"), QStringLiteral("0"))
                   .mid(1)
        << QString() << QByteArray();
    QTest::newRow("device server not listening")
        << "check %DEV --text A" << FarEnd::NobodyListening << Action::RunToEnd << Start::Captured
        << 3 << QStringLiteral("^$")
        << QStringLiteral("commcheck-cli: cannot open port %DEV: %DEV could not be reached: "
                          "Connection refused\n")
        << QByteArray();
    QTest::newRow("device server's name unknown")
        << "check rfc2217://nowhere.invalid:2217 --text A" << FarEnd::None << Action::RunToEnd
        << Start::Captured << 3 << QStringLiteral("^$")
        << QStringLiteral("commcheck-cli: cannot open port rfc2217://nowhere.invalid:2217: "
                          "rfc2217://nowhere.invalid:2217 could not be reached: Host not found\n")
        << QByteArray();
    QTest::newRow("missing device")
        << "check /nonexistent/ttyX --text A" << FarEnd::None << Action::RunToEnd << Start::Captured
        << 3 << QStringLiteral("^$")
        << QStringLiteral("commcheck-cli: cannot open port /nonexistent/ttyX: /nonexistent/ttyX "
                          "cannot be opened: No such file or directory\n")
        << QByteArray();
    QTest::newRow("log that cannot be written, refused before the port")
        << "check /nonexistent/ttyX --text A --log /nonexistent/dir/log.csv" << FarEnd::None
        << Action::RunToEnd << Start::Captured << 2 << QStringLiteral("^$")
        << QStringLiteral("commcheck-cli: cannot write the log /nonexistent/dir/log.csv: ") +
               QStringLiteral("No such file or directory") + usage
        << QByteArray();
    QTest::newRow("bad usage") << "check %DEV --text A --count 0" << FarEnd::Silent
                               << Action::RunToEnd << Start::Captured << 2 << QStringLiteral("^$")
                               << QStringLiteral("commcheck-cli: --count must be a whole number "
                                                 "from 1 to 9223372036854775807, not \"0\"") +
                                      usage
                               << QByteArray();
    // Three answers, then a probe given up after a second, so that a reply
    // on a busy machine is not taken for a lost one.
    const QString dropping =
        QStringLiteral("check %DEV --text ABC[13] --flow none --interval 20 --timeout 1000 "
                       "--count 4");
    const QString droppingSummary =
        summary.arg(QStringLiteral("4 probes ended"), QStringLiteral("3"), QStringLiteral("1"));
    QTest::newRow("a probe dropped, no limit given")
        << dropping << FarEnd::Dropping << Action::RunToEnd << Start::Captured << 1
        << droppingSummary << QString() << QByteArray();
    QTest::newRow("a probe dropped, within --max-lost")
        << dropping + " --max-lost 1 --max-errors 0" << FarEnd::Dropping << Action::RunToEnd
        << Start::Captured << 0 << droppingSummary << QString() << QByteArray();
    QTest::newRow("a probe dropped, over --max-lost and within --max-p95")
        << dropping + " --max-lost 0 --max-p95 5000" << FarEnd::Dropping << Action::RunToEnd
        << Start::Captured << 1 << droppingSummary
        << QStringLiteral("commcheck-cli: lost 1 exceed --max-lost 0\n") << QByteArray();
    const QString perfData = QStringLiteral(
        " \\| 'probes'=4;;;0; 'count'=%1;;;0; 'errors'=0;;0;0; 'lost'=%2;%3;%4;0; 'late'=0;;;0; "
        "'unanswered'=0;;;0; 'p50'=\\d+\\.\\d{3}ms;;;0; 'p95'=\\d+\\.\\d{3}ms;;%5;0; "
        "'p99'=\\d+\\.\\d{3}ms;;;0; 'max'=\\d+\\.\\d{3}ms;;;0;\n$");
    QTest::newRow("as a plugin, every probe came back")
        << "check %DEV --text ABC[13] --interval 20 --count 4 --format nagios --max-p95 5000"
        << FarEnd::Echo << Action::RunToEnd << Start::OnTerminal << 0
        << QStringLiteral("^COMMCHECK OK - 4 of 4 probes came back, p95 \\d+\\.\\d{3} ms") +
               perfData.arg(QStringLiteral("4"), QStringLiteral("0"), QString(),
                            QStringLiteral("0"), QStringLiteral("5000"))
        << QString() << QByteArray();
    QTest::newRow("as a plugin, a probe dropped")
        << dropping + " --format nagios" << FarEnd::Dropping << Action::RunToEnd << Start::Captured
        << 2
        << QStringLiteral("^COMMCHECK CRITICAL - 3 of 4 probes came back, p95 \\d+\\.\\d{3} "
                          "ms: lost 1 exceed critical 0") +
               perfData.arg(QStringLiteral("3"), QStringLiteral("1"), QString(),
                            QStringLiteral("0"), QString())
        << QString() << QByteArray();
    QTest::newRow("as a plugin, a probe dropped, over the warning limit only")
        << dropping + " --format nagios --warn-lost 0 --max-lost 3" << FarEnd::Dropping
        << Action::RunToEnd << Start::Captured << 1
        << QStringLiteral("^COMMCHECK WARNING - 3 of 4 probes came back, p95 \\d+\\.\\d{3} "
                          "ms: lost 1 exceed warning 0") +
               perfData.arg(QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("0"),
                            QStringLiteral("3"), QString())
        << QString() << QByteArray();
    QTest::newRow("as a plugin, port lost")
        << "check %DEV --text ABC[13] --interval 20 --format nagios" << FarEnd::Silent
        << Action::CutAfterFirstProbe << Start::Captured << 3
        << QStringLiteral("^COMMCHECK UNKNOWN - 0 of 1 probes came back: port %DEV lost: [^\n|]+ "
                          "\\| 'probes'=1;;;0; 'count'=0;;;0; 'errors'=0;;0;0; 'lost'=0;;0;0; "
                          "'late'=0;;;0; 'unanswered'=0;;;0; 'p50'=U;;;0; 'p95'=U;;;0; "
                          "'p99'=U;;;0; 'max'=U;;;0;\n$")
        << QStringLiteral("commcheck-cli: port %DEV lost: ") << QByteArray();
    QTest::newRow("as a plugin, missing device")
        << "check /nonexistent/ttyX --text A --format nagios" << FarEnd::None << Action::RunToEnd
        << Start::Captured << 3
        << QStringLiteral("^COMMCHECK UNKNOWN - cannot open port /nonexistent/ttyX: "
                          "/nonexistent/ttyX cannot be opened: No such file or directory\n$")
        << QStringLiteral("commcheck-cli: cannot open port /nonexistent/ttyX: ") << QByteArray();
    QTest::newRow("as a plugin, bad usage")
        << "check %DEV --text A --format=nagios --max-lost -1" << FarEnd::Silent << Action::RunToEnd
        << Start::Captured << 3
        << QStringLiteral("^COMMCHECK UNKNOWN - --max-lost must be a whole number from 0 to "
                          "9223372036854775807, not \"-1\"\n$")
        << QStringLiteral("commcheck-cli: --max-lost must be a whole number") << QByteArray();
    QTest::newRow("send") << "send %DEV --text [2]AB[13] --flow none" << FarEnd::Silent
                          << Action::RunToEnd << Start::Captured << 0 << QStringLiteral("^$")
                          << QString()
                          << QByteArray("\x02"
                                        "AB\r");
    QTest::newRow("send behind ser2net over RFC 2217")
        << "send %DEV --text [2]AあB[13]" << FarEnd::PtyBehindRfc2217 << Action::RunToEnd
        << Start::Captured << 0 << QStringLiteral("^$") << QString() << sentBehind;
    QTest::newRow("send behind ser2net over raw TCP")
        << "send %DEV --text [2]AあB[13]" << FarEnd::PtyBehindSocket << Action::RunToEnd
        << Start::Captured << 0 << QStringLiteral("^$") << notApplied << sentBehind;
    const QString longText = countingText(50000);
    QTest::newRow("send to a far end that reads slowly, all of it")
        << "send %DEV --flow none --text " + longText << FarEnd::Silent << Action::ReadSlowly
        << Start::Captured << 0 << QStringLiteral("^$") << QString() << longText.toLatin1();
    // More than a pseudo-terminal holds; at this rate the program waits 2s375ms.
    const QString heldText = countingText(100000);
    QTest::newRow("send to a far end that reads nothing, the rest not sent")
        << "send %DEV --flow none --baud 4000000 --text " + heldText << FarEnd::Silent
        << Action::RunToEnd << Start::Captured << 1 << QStringLiteral("^$")
        << QStringLiteral("commcheck-cli: %N of 100000 bytes were not sent: the line did not take "
                          "them within 2s375ms\n")
        << heldText.toLatin1();
    QTest::newRow("send, port lost while the line is held")
        << "send %DEV --flow none --text " + heldText << FarEnd::Silent << Action::CutWhileSending
        << Start::Captured << 4 << QStringLiteral("^$")
        << QStringLiteral("commcheck-cli: port %DEV lost: ") << QByteArray();
    // It would otherwise wait 158 s for the line.
    QTest::newRow("send, Ctrl+C while the line is held ends it at once")
        << "send %DEV --flow none --text " + heldText << FarEnd::Silent
        << Action::InterruptWhileSending << Start::Captured << -SIGINT << QStringLiteral("^$")
        << QString() << QByteArray();
    QTest::newRow("receive what waited, escaped")
        << "receive %DEV --for 300ms" << FarEnd::Preloaded << Action::RunToEnd << Start::Captured
        << 0 << QStringLiteral("^OK\\[13\\]\\[10\\]\\[-32096\\]\n$") << QString() << QByteArray();
    QTest::newRow("receive behind ser2net over RFC 2217")
        << "receive %DEV" << FarEnd::PtyBehindRfc2217 << Action::ShowMarkedBytes << Start::Captured
        << 0 << marked << QString() << QByteArray();
    QTest::newRow("receive behind ser2net over raw TCP")
        << "receive %DEV" << FarEnd::PtyBehindSocket << Action::ShowMarkedBytes << Start::Captured
        << 0 << marked << notApplied << QByteArray();
    QTest::newRow("receive into a full pipe nobody reads, stopped by SIGTERM")
        << "receive %DEV --flow none" << FarEnd::Silent << Action::TerminateOnceTaken
        << Start::IntoFullPipe << 0 << QStringLiteral("^-+$") << QString() << QByteArray();
}

void CliProgramTest::endsWithItsExitCode()
{
    QFETCH(QString, arguments);
    QFETCH(FarEnd, farEnd);
    QFETCH(Action, action);
    QFETCH(Start, start);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutMatches);
    QFETCH(QString, stderrHas);
    QFETCH(QByteArray, farEndGets);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logPath = dir.filePath(QStringLiteral("log.csv"));
    QByteArray arrived; // at the far end while the program ran
    std::unique_ptr<NullModemCable> echo;
    std::unique_ptr<PtyPair> pty;
    QString device;
    std::unique_ptr<Ser2net> server;
    PortFolder folder; // the program started here sees it too
    std::unique_ptr<ScriptedFarEnd> scripted;
    if (farEnd == FarEnd::Dropping) {
        scripted = std::make_unique<ScriptedFarEnd>(ScriptedFarEnd::Script{.answers = 3});
        QVERIFY2(scripted->isValid(), qPrintable(scripted->error()));
        device = scripted->device();
    } else if (farEnd == FarEnd::Echo) {
        echo = std::make_unique<NullModemCable>(NullModemCable::Echo);
        QVERIFY2(echo->isValid(), qPrintable(echo->error()));
        device = echo->endA();
    } else if (farEnd == FarEnd::NobodyListening) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        device = QStringLiteral("rfc2217://127.0.0.1:%1").arg(closed.serverPort());
    } else if (farEnd == FarEnd::EchoBehindRfc2217 || farEnd == FarEnd::EchoBehindSocket ||
               farEnd == FarEnd::EchoBehindRfc2217ByNumber || farEnd == FarEnd::PtyBehindRfc2217 ||
               farEnd == FarEnd::PtyBehindSocket) {
        const bool echoing = farEnd == FarEnd::EchoBehindRfc2217 ||
                             farEnd == FarEnd::EchoBehindSocket ||
                             farEnd == FarEnd::EchoBehindRfc2217ByNumber;
        if (echoing) {
            echo = std::make_unique<NullModemCable>(NullModemCable::Echo);
            QVERIFY2(echo->isValid(), qPrintable(echo->error()));
        } else {
            pty = std::make_unique<PtyPair>();
            QVERIFY2(pty->isValid(), qPrintable(pty->error()));
        }
        server = std::make_unique<Ser2net>(echoing ? echo->endA() : pty->slavePath());
        if (!server->start())
            QFAIL(qPrintable(server->error()));
        device = farEnd == FarEnd::EchoBehindRfc2217 || farEnd == FarEnd::PtyBehindRfc2217
                     ? server->rfc2217Address()
                     : server->socketAddress();
        if (farEnd == FarEnd::EchoBehindRfc2217ByNumber) {
            QVERIFY(folder.write(7, server->rfc2217Address()));
            device = QStringLiteral("7");
        }
    } else if (farEnd != FarEnd::None) {
        pty = std::make_unique<PtyPair>();
        QVERIFY2(pty->isValid(), qPrintable(pty->error()));
        device = pty->slavePath();
        // "OK" CR LF and あ in code page 932, there before the port opens.
        if (farEnd == FarEnd::Preloaded)
            QVERIFY(pty->write("OK\r\n\x82\xa0"));
    }
    arguments.replace(QStringLiteral("%DEV"), device).replace(QStringLiteral("%LOG"), logPath);
    stdoutMatches.replace(QStringLiteral("%DEV"), QRegularExpression::escape(device));
    stderrHas.replace(QStringLiteral("%DEV"), device);

    PtyPair terminal;
    Pipe output;
    if (start == Start::OnTerminal || start == Start::InBackgroundOfTerminal)
        QVERIFY2(terminal.isValid(), qPrintable(terminal.error()));
    if (start == Start::IntoFullPipe)
        QVERIFY2(fill(output), std::strerror(errno));
    if (start == Start::IntoClosedPipe) {
        QVERIFY2(::pipe2(output.ends, O_CLOEXEC) == 0, std::strerror(errno));
        ::close(std::exchange(output.ends[0], -1));
    }
    const QByteArray terminalPath = QFile::encodeName(terminal.slavePath());
    if (start == Start::InBackgroundOfTerminal)
        QVERIFY2(haltBackgroundOutput(terminalPath), std::strerror(errno));
    const int pipeEnd = output.ends[1];
    QProcess cli;
    cli.setChildProcessModifier([start, terminalPath, pipeEnd] {
        // As an interactive shell starts a job, whatever started the test.
        for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            ::signal(number, SIG_DFL);
        switch (start) {
        case Start::Captured:
            break;
        case Start::IntoFullPipe:
        case Start::IntoClosedPipe:
            ::dup2(pipeEnd, STDOUT_FILENO);
            break;
        case Start::InBackgroundOfTerminal:
            leadSessionOn(terminalPath.constData());
            [[fallthrough]];
        case Start::OnTerminal:
            if (const int fd = ::open(terminalPath.constData(), O_WRONLY | O_NOCTTY); fd >= 0)
                ::dup2(fd, STDOUT_FILENO);
            break;
        }
    });
    if (start == Start::InBackgroundOfTerminal) {
        // As an interactive shell runs `commcheck-cli ... &`: in a process
        // group of its own, which is not the terminal's foreground group.
        cli.start(QStringLiteral("/bin/sh"),
                  QStringList{QStringLiteral("-mc"), QStringLiteral("\"$0\" \"$@\" & wait $!"),
                              cliPath()} +
                      QProcess::splitCommand(arguments));
    } else {
        cli.start(cliPath(), QProcess::splitCommand(arguments));
    }
    QVERIFY2(cli.waitForStarted(kLimitMs), qPrintable(cli.errorString()));
    const pid_t pid = pid_t(cli.processId());

    QByteArray shown; // standard output read while the program ran
    switch (action) {
    case Action::RunToEnd:
        break;
    case Action::InterruptAfterRows:
    case Action::HangUpAfterRows:
    case Action::KillAfterRows:
        QTRY_VERIFY_WITH_TIMEOUT(rowsIn(logPath) >= 3, kLimitMs);
        if (action == Action::KillAfterRows)
            cli.kill();
        else
            ::kill(pid, action == Action::HangUpAfterRows ? SIGHUP : SIGINT);
        break;
    case Action::KillServerOnceEchoed:
        QTRY_VERIFY_WITH_TIMEOUT(echo->bytesCarried() >= 3 * 4, kLimitMs);
        server->kill();
        break;
    case Action::ProbeUntilAnswered: {
        // Probes that come before the station listens are dropped; it
        // answers the first that comes after.
        QByteArray answer;
        const QDeadlineTimer deadline(kLimitMs);
        while (answer.isEmpty() && !deadline.hasExpired()) {
            QVERIFY(pty->write("ABC\r"));
            answer = pty->read(4, 300);
        }
        answer += pty->read(int(4 - answer.size()), kLimitMs);
        QCOMPARE(answer, QByteArray("ABC\r"));
        ::kill(pid, SIGTERM);
        break;
    }
    case Action::ShowMarkedBytes: {
        // What the far end sends before the program listens may be dropped.
        const QDeadlineTimer deadline(kLimitMs);
        while (!shown.contains('.') && cli.state() == QProcess::Running && !deadline.hasExpired()) {
            QVERIFY(pty->write("."));
            cli.waitForReadyRead(300);
            shown += cli.readAllStandardOutput();
        }
        QVERIFY2(shown.contains('.'), "no dot the far end sent was shown: " + shown);
        QVERIFY(pty->write(kMarkedBytes));
        while (!shown.contains("[3]") && cli.state() == QProcess::Running &&
               !deadline.hasExpired()) {
            cli.waitForReadyRead(300);
            shown += cli.readAllStandardOutput();
        }
        ::kill(pid, SIGTERM);
        break;
    }
    case Action::StopTwiceAfterProbe:
        QCOMPARE(pty->read(4, kLimitMs), QByteArray("ABC\r"));
        ::kill(pid, SIGTERM);
        // Two requests that wait together to be taken would count as one.
        QTRY_VERIFY_WITH_TIMEOUT(!catches(pid, SIGTERM), kLimitMs);
        ::kill(pid, SIGINT);
        break;
    case Action::CutAfterFirstProbe:
        QCOMPARE(pty->read(4, kLimitMs), QByteArray("ABC\r"));
        pty->closeMaster();
        break;
    case Action::CutOnceTaken:
        QTRY_VERIFY_WITH_TIMEOUT(pty->pendingAtSlave() == 0, kLimitMs);
        pty->closeMaster();
        break;
    case Action::CutWhileSending:
    case Action::InterruptWhileSending:
        QVERIFY(!pty->read(1, kLimitMs).isEmpty());
        if (action == Action::CutWhileSending)
            pty->closeMaster();
        else
            ::kill(pid, SIGINT);
        break;
    case Action::TerminateOnceTaken:
        // Stuck writing it out, the program would leave the rest unread.
        QVERIFY(pty->write(QByteArray(8192, 'x'), kLimitMs));
        QTRY_VERIFY_WITH_TIMEOUT(pty->pendingAtSlave() == 0, kLimitMs);
        ::kill(pid, SIGTERM);
        break;
    case Action::ReadSlowly: {
        // A few hundred bytes every few ms: far slower than the program
        // hands them over, so most wait in the port while it runs.
        const QDeadlineTimer deadline(kLimitMs);
        while (cli.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            char chunk[300];
            const ssize_t n = ::read(pty->masterFd(), chunk, sizeof chunk);
            if (n > 0)
                arrived.append(chunk, n);
            cli.waitForFinished(5);
        }
        break;
    }
    }
    const bool ended = cli.state() == QProcess::NotRunning || cli.waitForFinished(kLimitMs);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(ended, qPrintable(QStringLiteral("still running; on standard error: ") + err));
    QByteArray written;
    if (start == Start::OnTerminal || start == Start::InBackgroundOfTerminal) {
        written = terminal.readFor(100);
    } else if (start == Start::IntoFullPipe || start == Start::IntoClosedPipe) {
        char chunk[4096];
        for (ssize_t n;
             output.ends[0] >= 0 && (n = ::read(output.ends[0], chunk, sizeof chunk)) > 0;)
            written.append(chunk, n);
    } else {
        written = shown + cli.readAllStandardOutput();
    }
    const QString out = QString::fromUtf8(written);

    if (start == Start::InBackgroundOfTerminal && cli.exitCode() == kSetupFailed)
        QFAIL("no session could be led on a terminal for the shell: setsid or TIOCSCTTY failed");
    if (exitCode < 0) {
        QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
        QCOMPARE(cli.exitCode(), -exitCode);
    } else {
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), exitCode);
    }
    if (action == Action::KillAfterRows) {
        QVERIFY(verifyCheckLog(logPath) >= 3);
        return;
    }
    QVERIFY2(QRegularExpression(stdoutMatches).match(out).hasMatch(), qPrintable(out));
    qsizetype unsent = 0;
    if (stderrHas.contains(QStringLiteral("%N"))) {
        const QStringList around = stderrHas.split(QStringLiteral("%N"));
        const auto said = QRegularExpression(QRegularExpression::escape(around[0]) +
                                             QStringLiteral("([1-9]\\d*)") +
                                             QRegularExpression::escape(around[1]))
                              .match(err);
        QVERIFY2(said.hasMatch(), qPrintable(err));
        unsent = said.captured(1).toLongLong();
        QVERIFY(unsent < farEndGets.size());
    } else if (stderrHas.isEmpty()) {
        QCOMPARE(err, QString());
    } else {
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
    }
    // Each message once, and none but those expected.
    const QString prefix = QStringLiteral("commcheck-cli: ");
    QVERIFY2(err.count(prefix) == stderrHas.count(prefix), qPrintable(err));
    if (!farEndGets.isEmpty()) {
        const QByteArray sent = farEndGets.chopped(unsent);
        arrived += pty->read(int(sent.size() - arrived.size()), kLimitMs);
        QCOMPARE(arrived.size(), sent.size());
        QCOMPARE(arrived, sent);
    }
    if (arguments.contains(logPath) && exitCode >= 0 && exitCode != 2) {
        // The summary counts what the log holds.
        const int ok = verifyCheckLog(logPath);
        const auto count = QRegularExpression(QStringLiteral("\ncount +(\\d+)\n")).match(out);
        QCOMPARE(QString::number(ok), count.captured(1));
    }
}

void CliProgramTest::answersAScriptedProbe()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logPath = dir.filePath(QStringLiteral("answers.csv"));
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    // Named by number, through the port folder, as the window names it.
    PortFolder folder;
    QVERIFY(folder.isValid() && folder.map(2, pty.slavePath()));

    QProcess cli;
    cli.start(cliPath(), {QStringLiteral("answer"), QStringLiteral("2"), QStringLiteral("--text"),
                          QStringLiteral("ABC[13]"), QStringLiteral("--log"), logPath});
    QVERIFY2(cli.waitForStarted(kLimitMs), qPrintable(cli.errorString()));

    // Probes sent before the station is ready are dropped by it; it answers
    // the first that comes after.
    QByteArray answer;
    QDeadlineTimer deadline(kLimitMs);
    while (answer.isEmpty() && !deadline.hasExpired()) {
        QVERIFY(pty.write("ABC\r"));
        answer = pty.read(4, 300);
    }
    QCOMPARE(answer, QByteArray("ABC\r"));

    ::kill(pid_t(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(kLimitMs));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(QRegularExpression(QStringLiteral("^answering on 2 ended after \\S+: stopped by "
                                               "SIGTERM\nanswers [1-9]\\d*\n$"))
                 .match(out)
                 .hasMatch(),
             qPrintable(out));
    const QStringList lines = completeLines(logPath);
    QVERIFY(lines.size() >= 2);
    QCOMPARE(lines.first(), QStringLiteral("time,sequence,response_ms,outcome,received"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\S+,1,,answered,ABC\\[13\\]"))
                 .match(lines[1])
                 .hasMatch(),
             qPrintable(lines[1]));
}

void CliProgramTest::endsInOneJsonObject_data()
{
    QTest::addColumn<QString>("arguments"); // %DEV: the far end's device
    QTest::addColumn<FarEnd>("farEnd");
    QTest::addColumn<int>("exitCode");
    // "key=value" terms, "; " between them, the value the object's as
    // compact JSON (count=5, exceeded=["lost"], p95_ms=null), or # for any
    // number from 0 up.
    QTest::addColumn<QString>("expected");

    QTest::newRow("every probe came back")
        << "check %DEV --text ABC[13] --interval 20 --count 5 --format json" << FarEnd::Echo << 0
        << "port=\"%DEV\"; text=\"ABC[13]\"; probes=5; count=5; errors=0; lost=0; late=0; "
           "unanswered=0; lost_counted=0; port_losses=0; mean_ms=#; min_ms=#; max_ms=#; p50_ms=#; "
           "p95_ms=#; "
           "p99_ms=#; stddev_ms=#; duration_s=#; ended=\"5 probes ended\"; exit=0; exceeded=[]";
    QTest::newRow("a probe dropped, over --max-lost")
        << "check %DEV --text ABC[13] --flow none --interval 20 --timeout 1000 --count 4 "
           "--format json --max-lost 0"
        << FarEnd::Dropping << 1
        << "probes=4; count=3; errors=0; lost=1; late=0; unanswered=0; lost_counted=1; "
           "p95_ms=#; exit=1; exceeded=[\"lost\"]";
    // A quote in the text, escaped in the object.
    QTest::newRow("no reply at all, no times")
        << "check %DEV --text \"A\"\"\"B\" --interval 20 --timeout 100 --count 2 --format json"
        << FarEnd::Silent << 1
        << "text=\"A\\\"B\"; probes=2; count=0; lost=2; lost_counted=2; mean_ms=null; "
           "min_ms=null; max_ms=null; p50_ms=null; p95_ms=null; p99_ms=null; stddev_ms=null; "
           "ended=\"2 probes ended\"; exit=1; exceeded=[\"lost\"]";
}

void CliProgramTest::endsInOneJsonObject()
{
    QFETCH(QString, arguments);
    QFETCH(FarEnd, farEnd);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);

    std::unique_ptr<NullModemCable> echo;
    std::unique_ptr<ScriptedFarEnd> scripted;
    std::unique_ptr<PtyPair> pty;
    QString device;
    if (farEnd == FarEnd::Echo) {
        echo = std::make_unique<NullModemCable>(NullModemCable::Echo);
        QVERIFY2(echo->isValid(), qPrintable(echo->error()));
        device = echo->endA();
    } else if (farEnd == FarEnd::Dropping) {
        scripted = std::make_unique<ScriptedFarEnd>(ScriptedFarEnd::Script{.answers = 3});
        QVERIFY2(scripted->isValid(), qPrintable(scripted->error()));
        device = scripted->device();
    } else {
        pty = std::make_unique<PtyPair>();
        QVERIFY2(pty->isValid(), qPrintable(pty->error()));
        device = pty->slavePath();
    }
    arguments.replace(QStringLiteral("%DEV"), device);
    expected.replace(QStringLiteral("%DEV"), device);

    QProcess cli;
    cli.start(cliPath(), QProcess::splitCommand(arguments));
    QVERIFY2(cli.waitForFinished(kLimitMs), qPrintable(cli.errorString()));
    const QByteArray out = cli.readAllStandardOutput();
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == exitCode, qPrintable(err));

    // One line, and on it one object with the documented keys, no more.
    QVERIFY2(out.endsWith('\n') && out.count('\n') == 1, out.constData());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(out, &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + out));
    QVERIFY(document.isObject());
    const QJsonObject object = document.object();
    const QStringList keys = {
        "count",  "duration_s",   "ended",       "errors",  "exceeded",  "exit",   "late",
        "lost",   "lost_counted", "max_ms",      "mean_ms", "min_ms",    "p50_ms", "p95_ms",
        "p99_ms", "port",         "port_losses", "probes",  "stddev_ms", "text",   "unanswered"};
    QCOMPARE(object.keys(), keys);
    QCOMPARE(object.value(QStringLiteral("exit")).toInt(-1), exitCode);
    for (const QString &term : expected.split(QStringLiteral("; "))) {
        const QString key = term.section(u'=', 0, 0);
        const QString value = term.section(u'=', 1);
        const QJsonValue found = object.value(key);
        if (value == u"#") {
            QVERIFY2(found.isDouble() && found.toDouble() >= 0, qPrintable(term + u'\n' + out));
            continue;
        }
        // Wrapped in an array, any value is a JSON text of its own.
        const QByteArray written = QJsonDocument(QJsonArray{found}).toJson(QJsonDocument::Compact);
        QCOMPARE(QString::fromUtf8(written.mid(1, written.size() - 2)), value);
    }
}

void CliProgramTest::keepsItsLineWithReconnect_data()
{
    // Whether the port names a device at the start, and whether it is then
    // pulled out; either way a device is put under its number later.
    QTest::addColumn<bool>("thereAtStart");
    // The figures read from the summary, or from --format json's object.
    QTest::addColumn<bool>("json");

    QTest::newRow("pulled out and put back") << true << false;
    QTest::newRow("not there at the first open, then put in") << false << false;
    QTest::newRow("pulled out and put back, as JSON") << true << true;
}

void CliProgramTest::keepsItsLineWithReconnect()
{
    QFETCH(bool, thereAtStart);
    QFETCH(bool, json);

    // A number that is no device of the system's own: only the folder's
    // entry makes it one.
    constexpr int kNumber = 4005;
    const QString port = QString::number(kNumber);
    PortFolder folder;
    QVERIFY(folder.isValid());
    // The first device answers three probes and keeps the fourth, so that a
    // probe is out when it goes.
    constexpr int kAnsweredBeforePull = 3;
    std::unique_ptr<ScriptedFarEnd> far;
    if (thereAtStart) {
        ScriptedFarEnd::Script script;
        script.answers = kAnsweredBeforePull;
        far = std::make_unique<ScriptedFarEnd>(script);
        QVERIFY2(far->isValid(), qPrintable(far->error()));
        QVERIFY(folder.map(kNumber, far->device()));
    }

    QStringList arguments = {QStringLiteral("check"),      port,
                             QStringLiteral("--text"),     QStringLiteral("ABC[13]"),
                             QStringLiteral("--flow"),     QStringLiteral("none"),
                             QStringLiteral("--interval"), QStringLiteral("200"),
                             QStringLiteral("--timeout"),  QStringLiteral("30000"),
                             QStringLiteral("--reconnect")};
    if (json)
        arguments << QStringLiteral("--format") << QStringLiteral("json");
    QProcess cli;
    cli.start(cliPath(), arguments);
    QVERIFY2(cli.waitForStarted(kLimitMs), qPrintable(cli.errorString()));
    QString err;
    const auto errSoFar = [&]() -> const QString & {
        err += QString::fromUtf8(cli.readAllStandardError());
        return err;
    };

    if (thereAtStart) {
        QTRY_VERIFY_WITH_TIMEOUT(far->arrivals() > kAnsweredBeforePull, kLimitMs);
        QVERIFY(folder.unmap(kNumber));
        far.reset();
        QTRY_VERIFY2_WITH_TIMEOUT(errSoFar().contains(QStringLiteral("port %1 lost: ").arg(port)),
                                  qPrintable(err), kLimitMs);
    } else {
        QTRY_VERIFY2_WITH_TIMEOUT(
            errSoFar().contains(QStringLiteral("cannot open port %1: ").arg(port)), qPrintable(err),
            kLimitMs);
    }
    QCOMPARE(cli.state(), QProcess::Running);

    far = std::make_unique<ScriptedFarEnd>(ScriptedFarEnd::Script{});
    QVERIFY2(far->isValid(), qPrintable(far->error()));
    QVERIFY(folder.map(kNumber, far->device()));
    const QString back = thereAtStart ? QStringLiteral("port %1 is back; checking again\n")
                                      : QStringLiteral("port %1 is open; checking\n");
    QTRY_VERIFY2_WITH_TIMEOUT(errSoFar().contains(back.arg(port)), qPrintable(err), kLimitMs);
    QTRY_VERIFY_WITH_TIMEOUT(far->arrivals() >= 3, kLimitMs);

    QVERIFY(::kill(pid_t(cli.processId()), SIGTERM) == 0);
    QVERIFY2(cli.waitForFinished(kLimitMs), "the check did not end at SIGTERM");
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QMap<QString, qint64> figures;
    if (json) {
        const QJsonObject object = QJsonDocument::fromJson(out.toUtf8()).object();
        for (const QString &key : object.keys()) {
            if (object.value(key).isDouble())
                figures[key == u"port_losses" ? QStringLiteral("port lost") : key] =
                    qint64(object.value(key).toDouble());
        }
    } else {
        static const QRegularExpression row(QStringLiteral("^(\\w+(?: lost)?) +(\\d+)$"),
                                            QRegularExpression::MultilineOption);
        for (auto it = row.globalMatch(out); it.hasNext();) {
            const auto match = it.next();
            figures[match.captured(1)] = match.captured(2).toLongLong();
        }
    }
    const QByteArray what = (out + err).toUtf8();
    for (const char *name :
         {"probes", "count", "errors", "lost", "late", "unanswered", "port lost"})
        QVERIFY2(figures.contains(QLatin1String(name)), what + name);
    QCOMPARE(figures[QStringLiteral("port lost")], thereAtStart ? 1 : 0);
    QCOMPARE(figures[QStringLiteral("errors")], 0);
    QCOMPARE(figures[QStringLiteral("late")], 0);
    // The probe out when the device went is lost; the last one is given its
    // time at the stop.
    QCOMPARE(figures[QStringLiteral("lost")], thereAtStart ? 1 : 0);
    QCOMPARE(figures[QStringLiteral("unanswered")], 0);
    QCOMPARE(figures[QStringLiteral("probes")],
             figures[QStringLiteral("count")] + figures[QStringLiteral("lost")]);
    // Answered by both devices, and by nothing else meanwhile.
    const int answeredBefore = thereAtStart ? kAnsweredBeforePull : 0;
    QCOMPARE(figures[QStringLiteral("count")], answeredBefore + far->arrivals());
    // A probe lost is a fault.
    QCOMPARE(cli.exitCode(), thereAtStart ? 1 : 0);
}

QTEST_GUILESS_MAIN(CliProgramTest)
#include "tst_CliProgram.moc"
