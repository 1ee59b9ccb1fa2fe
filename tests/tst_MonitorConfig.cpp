#include "MonitorConfig.h"

#include "FileNodes.h"
#include "PortLocator.h"
#include "PtyPair.h"
#include "ScratchFiles.h"
#include "ScratchHome.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// monitor's file read into the lines it checks, and every mistake in it
// refused with the file, the section, the key and the reason.
class MonitorConfigTest : public QObject {
    Q_OBJECT
public:
    static void initMain() { ScratchHome::enter(); }

private slots:
    void initTestCase();
    void readsTheLines_data();
    void readsTheLines();
    void refusesBadFiles_data();
    void refusesBadFiles();
    void refusesWhatIsNoFile_data();
    void refusesWhatIsNoFile();

private:
    // FOLDER, PTY and LINK in a row's text: the file's folder, a real
    // device and a link to it.
    QString filledIn(QString text, const QString &folder) const;

    PtyPair pty_;
    QTemporaryDir links_;
};

namespace {

// Whether the fields a line has no key for are check's defaults.
bool othersAsCheck(const CliOptions &o)
{
    const CliOptions d;
    auto limitsUnset = [](const CheckVerdict::Limits &l) {
        return !l.errors && !l.lost && !l.p95Ms;
    };
    return !o.count && !o.duration && !o.receiveFor && o.format == d.format &&
           limitsUnset(o.thresholds.max) && limitsUnset(o.thresholds.warn) &&
           limitsUnset(o.thresholds.crit) && o.reconnect == d.reconnect && o.configPath.isEmpty() &&
           o.metricsHost == d.metricsHost && o.metricsPort == d.metricsPort;
}

// A line's name and every field monitor uses, on one line of text; "*" at
// its end when a field it has no key for is not check's default.
QString described(const MonitorConfig::Line &line)
{
    const CliOptions &o = line.options;
    return QStringLiteral("[%1] %2 port=%3 text=%4 interval=%5 timeout=%6 line=%7 flow=%8 "
                          "precise=%9 log=%10%11")
        .arg(line.name, CliOptions::commandName(o.command), o.port, o.text)
        .arg(o.interval.count())
        .arg(o.timeout ? QString::number(o.timeout->count()) : QStringLiteral("-"))
        .arg(o.line.toString())
        .arg(int(o.line.flowControl))
        .arg(int(o.precise))
        .arg(o.logPath, othersAsCheck(o) ? QString() : QStringLiteral("*"));
}

// The file beside the others of the row, written as the row gives it.
QString writtenFile(const QTemporaryDir &dir, const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("lines.ini"));
    return ScratchFiles::writeBytes(path, bytes) ? path : QString();
}

} // namespace

void MonitorConfigTest::initTestCase()
{
    QVERIFY2(pty_.isValid(), qPrintable(pty_.error()));
    QVERIFY(links_.isValid());
    const QString link = links_.filePath(QStringLiteral("press-line"));
    const QString made = FileNodes::makeLink(pty_.slavePath(), link);
    QVERIFY2(made.isEmpty(), qPrintable(made));
    // Port 7 is the device too, through the port folder.
    QVERIFY(QDir().mkpath(PortLocator::portFolder()));
    const QString entry =
        FileNodes::makeLink(pty_.slavePath(), PortLocator::portFolder() + QStringLiteral("/com7"));
    QVERIFY2(entry.isEmpty(), qPrintable(entry));
}

QString MonitorConfigTest::filledIn(QString text, const QString &folder) const
{
    return text.replace(QStringLiteral("FOLDER"), folder)
        .replace(QStringLiteral("LINK"), links_.filePath(QStringLiteral("press-line")))
        .replace(QStringLiteral("PTY"), pty_.slavePath());
}

void MonitorConfigTest::readsTheLines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("lines");

    QTest::newRow("only what is required, the rest as check's defaults")
        << QByteArray("[press-3]\nport = /dev/ttyUSB0\ntext = ABC[13]\ntimeout = 500\n")
        << "[press-3] check port=/dev/ttyUSB0 text=ABC[13] interval=1000 timeout=500 "
           "line=9600,N,8,1 flow=1 precise=0 log=";
    QTest::newRow("the example of the manual page")
        << QByteArray("; the press hall\n[press-3]\nport = /dev/ttyUSB0\ntext = ABC[13]\n"
                      "interval = 1000\ntimeout = 500\nbaud = 19200\n"
                      "log = /var/log/commcheck/press-3.csv\n\n"
                      "[press-4 east]\nport = rfc2217://10.0.0.7:2001\n"
                      "text = \"STATUS?,1[13]\"\ninterval = 5s\ntimeout = 2s\nprecise = yes\n")
        << "[press-3] check port=/dev/ttyUSB0 text=ABC[13] interval=1000 timeout=500 "
           "line=19200,N,8,1 flow=1 precise=0 log=/var/log/commcheck/press-3.csv\n"
           "[press-4 east] check port=rfc2217://10.0.0.7:2001 text=STATUS?,1[13] interval=5000 "
           "timeout=2000 line=9600,N,8,1 flow=1 precise=1 log=";
    QTest::newRow("every key, some in capitals")
        << QByteArray("[press-3]\nPort = 3\nText = [2]DATA[3]\nInterval = 250\nTIMEOUT = 2s\n"
                      "baud = 115200\ndata-bits = 7\nparity = e\nstop-bits = 1.5\n"
                      "flow = RTS+XON\nprecise = true\nlog = /var/log/commcheck/press-3.csv\n")
        << "[press-3] check port=3 text=[2]DATA[3] interval=250 timeout=2000 "
           "line=115200,E,7,1.5 flow=3 precise=1 log=/var/log/commcheck/press-3.csv";
    QTest::newRow("lines in the file's order, not sorted")
        << QByteArray("[zeta]\nport = 1\ntext = Z\ntimeout = 1s\n"
                      "[alpha]\nport = 2\ntext = A\ntimeout = 1s\n"
                      "[Mid line]\nport = 3\ntext = M\ntimeout = 1s\n")
        << "[zeta] check port=1 text=Z interval=1000 timeout=1000 line=9600,N,8,1 flow=1 "
           "precise=0 log=\n"
           "[alpha] check port=2 text=A interval=1000 timeout=1000 line=9600,N,8,1 flow=1 "
           "precise=0 log=\n"
           "[Mid line] check port=3 text=M interval=1000 timeout=1000 line=9600,N,8,1 flow=1 "
           "precise=0 log=";
    QTest::newRow("yes and no as precise takes them")
        << QByteArray("[a]\nport=1\ntext=A\ntimeout=9\nprecise=YES\n"
                      "[b]\nport=2\ntext=B\ntimeout=9\nprecise=no\n"
                      "[c]\nport=3\ntext=C\ntimeout=9\nprecise=1\n"
                      "[d]\nport=4\ntext=D\ntimeout=9\nprecise=False\n")
        << "[a] check port=1 text=A interval=1000 timeout=9 line=9600,N,8,1 flow=1 precise=1 "
           "log=\n"
           "[b] check port=2 text=B interval=1000 timeout=9 line=9600,N,8,1 flow=1 precise=0 "
           "log=\n"
           "[c] check port=3 text=C interval=1000 timeout=9 line=9600,N,8,1 flow=1 precise=1 "
           "log=\n"
           "[d] check port=4 text=D interval=1000 timeout=9 line=9600,N,8,1 flow=1 precise=0 "
           "log=";
    QTest::newRow("comma, semicolon and outer spaces kept in double quotes")
        << QByteArray("[a]\nport = 1\ntext = \" A,B;C [13]\"\ntimeout = 500 ; a comment\n")
        << "[a] check port=1 text= A,B;C [13] interval=1000 timeout=500 line=9600,N,8,1 "
           "flow=1 precise=0 log=";
    QTest::newRow("a hash, a percent sign and an equals sign as written")
        << QByteArray("[a]\nport = 1\ntext = #1=100%[13]\ntimeout = 500\n")
        << "[a] check port=1 text=#1=100%[13] interval=1000 timeout=500 line=9600,N,8,1 "
           "flow=1 precise=0 log=";
    QTest::newRow("a doubled backslash is one, a doubled @ at the start one")
        << QByteArray("[a]\nport = 1\ntext = @@STATUS\\\\[13]\ntimeout = 500\n"
                      "[b]\nport = 2\ntext = @ST\ntimeout = 500\n")
        << "[a] check port=1 text=@STATUS\\[13] interval=1000 timeout=500 line=9600,N,8,1 "
           "flow=1 precise=0 log=\n"
           "[b] check port=2 text=@ST interval=1000 timeout=500 line=9600,N,8,1 "
           "flow=1 precise=0 log=";
    QTest::newRow("Windows line ends, a byte order mark, comments, blank lines")
        << QByteArray("\xEF\xBB\xBF; the press hall\r\n\r\n[press-3]\r\n  port = 1\r\n"
                      "; text = OLD\r\ntext = NEW[13][10]\r\ntimeout = 500\r\n")
        << "[press-3] check port=1 text=NEW[13][10] interval=1000 timeout=500 "
           "line=9600,N,8,1 flow=1 precise=0 log=";
    QTest::newRow("Japanese name and text")
        << QStringLiteral("[プレス3号]\nport = 1\ntext = こんにちは～[13]\ntimeout = 500\n")
               .toUtf8()
        << QStringLiteral("[プレス3号] check port=1 text=こんにちは～[13] interval=1000 "
                          "timeout=500 line=9600,N,8,1 flow=1 precise=0 log=");
    QTest::newRow("name with spaces and punctuation, any text a label can carry")
        << QByteArray("[ press 3 (east), #2 = 'old' ]\nport = 1\ntext = A\ntimeout = 500\n")
        << "[press 3 (east), #2 = 'old'] check port=1 text=A interval=1000 timeout=500 "
           "line=9600,N,8,1 flow=1 precise=0 log=";
    QTest::newRow("double quotes escaped in a quoted text")
        << QByteArray("[a]\nport = 1\ntext = \"say \\\"hi\\\";[13]\" ; greeting\ntimeout = 5\n")
        << "[a] check port=1 text=say \"hi\";[13] interval=1000 timeout=5 line=9600,N,8,1 "
           "flow=1 precise=0 log=";
    QTest::newRow("a log is taken from the file's folder")
        << QByteArray("[a]\nport = 1\ntext = A\ntimeout = 500\nlog = logs/../a.csv\n"
                      "[b]\nport = 2\ntext = B\ntimeout = 500\nlog = /var/log/b.csv\n")
        << "[a] check port=1 text=A interval=1000 timeout=500 line=9600,N,8,1 flow=1 "
           "precise=0 log=FOLDER/a.csv\n"
           "[b] check port=2 text=B interval=1000 timeout=500 line=9600,N,8,1 flow=1 "
           "precise=0 log=/var/log/b.csv";
    QTest::newRow("device servers, one line each")
        << QByteArray("[a]\nport = rfc2217://127.0.0.1:2000\ntext = A\ntimeout = 500\n"
                      "[b]\nport = socket://[::1]:2000\ntext = B\ntimeout = 500\n"
                      "[c]\nport = socket://127.0.0.1:2001\ntext = C\ntimeout = 500\n")
        << "[a] check port=rfc2217://127.0.0.1:2000 text=A interval=1000 timeout=500 "
           "line=9600,N,8,1 flow=1 precise=0 log=\n"
           "[b] check port=socket://[::1]:2000 text=B interval=1000 timeout=500 "
           "line=9600,N,8,1 flow=1 precise=0 log=\n"
           "[c] check port=socket://127.0.0.1:2001 text=C interval=1000 timeout=500 "
           "line=9600,N,8,1 flow=1 precise=0 log=";
    QTest::newRow("a real device and another port")
        << QByteArray("[a]\nport = PTY\ntext = A\ntimeout = 500\n"
                      "[b]\nport = 8\ntext = B\ntimeout = 500\n")
        << "[a] check port=PTY text=A interval=1000 timeout=500 line=9600,N,8,1 flow=1 "
           "precise=0 log=\n"
           "[b] check port=8 text=B interval=1000 timeout=500 line=9600,N,8,1 flow=1 "
           "precise=0 log=";
}

void MonitorConfigTest::readsTheLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, lines);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writtenFile(dir, filledIn(QString::fromUtf8(file), dir.path()).toUtf8());
    QVERIFY(!path.isEmpty());

    const MonitorConfig::Result result = MonitorConfig::read(path);
    QCOMPARE(result.error, QString());
    QStringList read;
    for (const MonitorConfig::Line &line : result.lines)
        read.append(described(line));
    QCOMPARE(read.join(u'\n'), filledIn(lines, dir.path()));
}

void MonitorConfigTest::refusesBadFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason"); // after "FILE: "

    const QByteArray good = "port = 1\ntext = A\ntimeout = 500\n";
    QTest::newRow("empty file") << QByteArray()
                                << "names no lines; give each line a section, such as "
                                   "[press-3], with port, text and timeout";
    QTest::newRow("comments only") << QByteArray("; port = 1\n\n")
                                   << "names no lines; give each line a section, such as "
                                      "[press-3], with port, text and timeout";
    QTest::newRow("keys before the first section")
        << QByteArray("baud = 9600\n[a]\n") + good
        << "line 1: baud is outside any section; each key belongs to a line's [section]";
    QTest::newRow("a [General] section, where the format keeps keys outside any")
        << QByteArray("[General]\n") + good
        << "[General]: is where the file format keeps keys outside any section; give the "
           "line another name";
    QTest::newRow("[general] in lower case")
        << QByteArray("[general]\n") + good
        << "[general]: is where the file format keeps keys outside any section; give the "
           "line another name";
    QTest::newRow("empty section name")
        << QByteArray("[]\n") + good
        << "line 1: [] names no line; a section's name is the line's name in the metrics";
    QTest::newRow("section name of spaces")
        << QByteArray("[a]\n") + good + "[   ]\n" + good
        << "line 5: [   ] names no line; a section's name is the line's name in the metrics";
    QTest::newRow("section without its closing bracket")
        << QByteArray("[press-3\n") + good << "line 1: \"[press-3\" has no closing ]";
    QTest::newRow("section name with a slash")
        << QByteArray("[hall/press]\n") + good
        << "[hall/press]: a line's name cannot have %, /, \\, \" or ; in it, which the file "
           "format reads otherwise";
    QTest::newRow("section name with a percent sign")
        << QByteArray("[press%201]\n") + good
        << "[press%201]: a line's name cannot have %, /, \\, \" or ; in it, which the file "
           "format reads otherwise";
    QTest::newRow("one section twice")
        << QByteArray("[a]\n") + good + "[b]\nport = 2\n[a]\nbaud = 300\n"
        << "[a]: is on line 1 and again on line 7; each line needs a name of its own";
    QTest::newRow("one section twice, in another case")
        << QByteArray("[Press]\n") + good + "[press]\n" + good
        << "[press]: is on line 1 and again on line 5; each line needs a name of its own";
    QTest::newRow("misspelt key")
        << QByteArray("[a]\n") + good + "intervall = 100\n"
        << "[a] intervall: unknown key (line 5); the keys are port, text, interval, timeout, "
           "baud, data-bits, parity, stop-bits, flow, precise, log";
    QTest::newRow("option of check that a line does not take")
        << QByteArray("[a]\n") + good + "count = 100\n"
        << "[a] count: unknown key (line 5); the keys are port, text, interval, timeout, "
           "baud, data-bits, parity, stop-bits, flow, precise, log";
    QTest::newRow("a hash taken for a comment")
        << QByteArray("[a]\n") + good + "# timeout = 100\n"
        << "[a] # timeout: unknown key (line 5); the keys are port, text, interval, timeout, "
           "baud, data-bits, parity, stop-bits, flow, precise, log; a comment starts with ;, "
           "not #";
    QTest::newRow("a hash comment") << QByteArray("[a]\n") + good + "# the old port\n"
                                    << "line 5: a comment starts with ;, not #";
    QTest::newRow("a flag without a value")
        << QByteArray("[a]\n") + good + "precise\n"
        << "line 5: \"precise\" is neither a [section] nor key = value";
    QTest::newRow("a value without a key") << QByteArray("[a]\n") + good + " = 5\n"
                                           << "line 5: a value without a key";
    QTest::newRow("one key twice")
        << QByteArray("[a]\n") + good + "interval = 100\ninterval = 1000\n"
        << "[a] interval: is given on line 5 and again on line 6";
    QTest::newRow("one key twice, in another case")
        << QByteArray("[a]\nBaud = 300\n") + good + "baud = 9600\n"
        << "[a] baud: is given on line 2 and again on line 6";
    QTest::newRow("a value ending in a backslash, which joins the next line")
        << QByteArray("[a]\nport = 1\ntext = A\\\ntimeout = 5\n")
        << "[a] text: ends in a backslash, which would join the next line to it; write \\\\ "
           "for a backslash (line 3)";
    QTest::newRow("a backslash the file format would drop")
        << QByteArray("[a]\n") + good + "log = C:\\logs\\a.csv\n"
        << "[a] log: has \\l, which the file format reads as an escape; write \\\\ for a "
           "backslash, and control codes as [13] (line 5)";
    QTest::newRow("an escape for a control code")
        << QByteArray("[a]\nport = 1\ntext = ABC\\r\ntimeout = 5\n")
        << "[a] text: has \\r, which the file format reads as an escape; write \\\\ for a "
           "backslash, and control codes as [13] (line 3)";
    QTest::newRow("a semicolon right after a value")
        << QByteArray("[a]\nport = 1\ntext = STATUS;1[13]\ntimeout = 5\n")
        << "[a] text: has a ; that would begin a comment and end the value before it; write "
           "the value in double quotes, or a space before a comment (line 3)";
    QTest::newRow("a double quote not closed")
        << QByteArray("[a]\nport = 1\ntext = \"ABC\ntimeout = 5\n")
        << "[a] text: has a double quote that is not closed on its line (line 3)";
    QTest::newRow("a double quote in a section name")
        << QByteArray("[press \"east]\n") + good
        << "[press \"east]: a line's name cannot have %, /, \\, \" or ; in it, which the "
           "file format reads otherwise";
    QTest::newRow("a semicolon in a section name")
        << QByteArray("[press;east]\n") + good
        << "[press;east]: a line's name cannot have %, /, \\, \" or ; in it, which the file "
           "format reads otherwise";
    QTest::newRow("text after a section's ]")
        << QByteArray("[press] 3\n") + good << "line 1: \"3\" follows the section's ]";
    for (const char *key : {"port", "text", "timeout"}) {
        QByteArray lines = good;
        lines.replace(QByteArray(key) + " = ", "; ");
        QTest::newRow(qPrintable(QStringLiteral("no %1").arg(QLatin1String(key))))
            << QByteArray("[a]\n") + good + "[b]\n" + lines
            << QStringLiteral("[b] %1: is missing; each line needs port, text, timeout")
                   .arg(QLatin1String(key));
    }
    QTest::newRow("a section without keys")
        << QByteArray("[a]\n") + good + "[b]\n"
        << "[b] port: is missing; each line needs port, text, timeout";
    QTest::newRow("empty port") << QByteArray("[a]\nport =\ntext = A\ntimeout = 1\n")
                                << "[a] port: must not be empty";
    QTest::newRow("port 0")
        << QByteArray("[a]\nport = 0\ntext = A\ntimeout = 1\n")
        << "[a] port: must be a port number from 1 to 32767, a device or an rfc2217:// or "
           "socket:// address, not \"0\"";
    QTest::newRow("port beyond the last")
        << QByteArray("[a]\nport = 32768\ntext = A\ntimeout = 1\n")
        << "[a] port: must be a port number from 1 to 32767, a device or an rfc2217:// or "
           "socket:// address, not \"32768\"";
    QTest::newRow("device server without its TCP port")
        << QByteArray("[a]\nport = rfc2217://127.0.0.1\ntext = A\ntimeout = 1\n")
        << "[a] port: rfc2217://127.0.0.1 names no TCP port (1 to 65535)";
    QTest::newRow("empty text") << QByteArray("[a]\nport = 1\ntext =\ntimeout = 1\n")
                                << "[a] text: must not be empty";
    QTest::newRow("text that sends nothing")
        << QByteArray("[a]\nport = 1\ntext = []\ntimeout = 1\n")
        << "[a] text: \"[]\" gives nothing to send";
    QTest::newRow("text code page 932 cannot send")
        << QStringLiteral("[a]\nport = 1\ntext = café\ntimeout = 1\n").toUtf8()
        << QStringLiteral("[a] text: has characters code page 932 cannot send: U+00E9 'é' at 4");
    QTest::newRow("text with a comma outside quotes")
        << QByteArray("[a]\nport = 1\ntext = A, B\ntimeout = 1\n")
        << "[a] text: has a comma outside double quotes, where the value would be cut; write "
           "it in double quotes: text = \"A,B\"";
    QTest::newRow("text read as a value of another kind")
        << QByteArray("[a]\nport = 1\ntext = @ByteArray(AB)\ntimeout = 1\n")
        << "[a] text: is read as a value of another kind (a value starting with @); write @@ "
           "for a leading @";
    QTest::newRow("interval of 0")
        << QByteArray("[a]\n") + good + "interval = 0\n"
        << "[a] interval: must be a time from 1 ms to 596h31m23s647ms, such as 1000 (ms), "
           "500ms or 2s, not \"0\"";
    QTest::newRow("timeout with a fraction")
        << QByteArray("[a]\nport = 1\ntext = A\ntimeout = 1.5s\n")
        << "[a] timeout: must be a time from 1 ms to 596h31m23s647ms, such as 1000 (ms), "
           "500ms or 2s, not \"1.5s\"";
    QTest::newRow("timeout in days")
        << QByteArray("[a]\nport = 1\ntext = A\ntimeout = 1d\n")
        << "[a] timeout: must be a time from 1 ms to 596h31m23s647ms, such as 1000 (ms), "
           "500ms or 2s, not \"1d\"";
    QTest::newRow("baud not a number")
        << QByteArray("[a]\n") + good + "baud = fast\n"
        << "[a] baud: must be a whole number from 1 to 2147483647, not \"fast\"";
    QTest::newRow("baud with a comma")
        << QByteArray("[a]\n") + good + "baud = 9600,8\n"
        << "[a] baud: has a comma outside double quotes, where the value would be cut; write "
           "it in double quotes: baud = \"9600,8\"";
    QTest::newRow("9 data bits") << QByteArray("[a]\n") + good + "data-bits = 9\n"
                                 << "[a] data-bits: must be 5, 6, 7 or 8, not \"9\"";
    QTest::newRow("parity word") << QByteArray("[a]\n") + good + "parity = even\n"
                                 << "[a] parity: must be N, E, O, M or S, not \"even\"";
    QTest::newRow("3 stop bits") << QByteArray("[a]\n") + good + "stop-bits = 3\n"
                                 << "[a] stop-bits: must be 1, 1.5 or 2, not \"3\"";
    QTest::newRow("unknown flow") << QByteArray("[a]\n") + good + "flow = dtr\n"
                                  << "[a] flow: must be none, xon, rts or rts+xon, not \"dtr\"";
    QTest::newRow("precise as a word it does not take")
        << QByteArray("[a]\n") + good + "precise = on\n"
        << "[a] precise: must be true or false (or yes, no, 1, 0), not \"on\"";
    QTest::newRow("empty log") << QByteArray("[a]\n") + good + "log =\n"
                               << "[a] log: needs a file name";
    QTest::newRow("one port for two lines")
        << QByteArray("[a]\nport = /dev/ttyUSB0\ntext = A\ntimeout = 1\n"
                      "[b]\nport = /dev/ttyUSB0\ntext = B\ntimeout = 1\n")
        << "[b] port: \"/dev/ttyUSB0\" is the port of [a] too";
    QTest::newRow("one device by its path and through a link")
        << QByteArray("[a]\nport = PTY\ntext = A\ntimeout = 1\n"
                      "[b]\nport = LINK\ntext = B\ntimeout = 1\n")
        << "[b] port: \"LINK\" is the port of [a] too";
    QTest::newRow("one device by its path and by its port number")
        << QByteArray("[a]\nport = PTY\ntext = A\ntimeout = 1\n"
                      "[b]\nport = 7\ntext = B\ntimeout = 1\n")
        << "[b] port: \"7\" is the port of [a] too";
    QTest::newRow("one port number and its system device")
        << QByteArray("[a]\nport = 1\ntext = A\ntimeout = 1\n"
                      "[b]\nport = /dev/ttyS0\ntext = B\ntimeout = 1\n")
        << "[b] port: \"/dev/ttyS0\" is the port of [a] too";
    QTest::newRow("one device server port by two schemes")
        << QByteArray("[a]\nport = rfc2217://Plant-7:2000\ntext = A\ntimeout = 1\n"
                      "[b]\nport = socket://plant-7:2000\ntext = B\ntimeout = 1\n")
        << "[b] port: \"socket://plant-7:2000\" is the port of [a] too";
    QTest::newRow("one log for two lines")
        << QByteArray("[a]\nport = 1\ntext = A\ntimeout = 1\nlog = a.csv\n"
                      "[b]\nport = 2\ntext = B\ntimeout = 1\nlog = FOLDER/a.csv\n")
        << "[b] log: \"FOLDER/a.csv\" is the log of [a] too";
    QTest::newRow("Shift JIS, not UTF-8")
        << QByteArray("[a]\nport = 1\ntext = \x82\xb1\x82\xf1[13]\ntimeout = 1\n")
        << "line 3 is not UTF-8; save the file as UTF-8";
}

void MonitorConfigTest::refusesBadFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Bytes that are not UTF-8 are written as they are.
    const QByteArray bytes =
        file.contains("\x82") ? file : filledIn(QString::fromUtf8(file), dir.path()).toUtf8();
    const QString path = writtenFile(dir, bytes);
    QVERIFY(!path.isEmpty());

    const MonitorConfig::Result result = MonitorConfig::read(path);
    QCOMPARE(result.error, path + QStringLiteral(": ") + filledIn(reason, dir.path()));
    QCOMPARE(result.lines.size(), 0);
}

void MonitorConfigTest::refusesWhatIsNoFile_data()
{
    QTest::addColumn<QString>("node"); // what is at the path
    QTest::addColumn<QString>("reason");

    QTest::newRow("nothing") << "nothing"
                             << "no such file";
    QTest::newRow("a folder") << "folder"
                              << "is a folder, not a file";
    // Opening it would wait for a writer for ever.
    QTest::newRow("a FIFO") << "fifo"
                            << "is not a regular file";
    QTest::newRow("a device") << "device"
                              << "is not a regular file";
    QTest::newRow("a file too large") << "large"
                                      << "is larger than 1024 KiB, too large for a list of lines";
    QTest::newRow("a file that cannot be read") << "unreadable"
                                                << "cannot be read: Permission denied";
}

void MonitorConfigTest::refusesWhatIsNoFile()
{
    QFETCH(QString, node);
    QFETCH(QString, reason);

    if (node == u"unreadable" && Unprivileged::isRoot()) {
        // Root reads it all the same.
        const QString problem = Unprivileged::rerunCurrentCaseAsNobody();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        return;
    }

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("lines.ini"));
    if (node == u"folder") {
        QCOMPARE(FileNodes::makeNode(path, FileNodes::Node::Folder), QString());
    } else if (node == u"fifo") {
        QCOMPARE(FileNodes::makeNode(path, FileNodes::Node::Fifo), QString());
    } else if (node == u"device") {
        path = QStringLiteral("/dev/zero");
    } else if (node == u"large") {
        QByteArray bytes = "[a]\nport = 1\ntext = A\ntimeout = 1\n";
        bytes += QByteArray(1024 * 1024, ';');
        QVERIFY(ScratchFiles::writeBytes(path, bytes));
    } else if (node == u"unreadable") {
        QVERIFY(ScratchFiles::writeBytes(path, "[a]\nport = 1\ntext = A\ntimeout = 1\n"));
        QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
    }

    const MonitorConfig::Result result = MonitorConfig::read(path);
    QCOMPARE(result.error, path + QStringLiteral(": ") + reason);
    QCOMPARE(result.lines.size(), 0);
}

QTEST_GUILESS_MAIN(MonitorConfigTest)
#include "tst_MonitorConfig.moc"
