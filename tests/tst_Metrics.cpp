// The metrics server as its readers see it: the text read by Prometheus'
// own Python client, a real prometheus scraping it, a storm of scrapes
// while its event loop has other work, and requests no scraper sends.
#include "Exchange.h"
#include "LineTally.h"
#include "MetricsServer.h"
#include "MetricsText.h"
#include "Prometheus.h"
#include "ScrapeStorm.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 30000;
constexpr const char *kPython = "/usr/bin/python3";

// One line's history: the exchanges fed to its tally in order (each but a
// late one after a probe sent), probes still out, and whether it is up.
struct LineHistory {
    QString name;
    QList<Exchange> exchanges;
    int probesOut = 0;
    bool up = false;
};
using Histories = QList<LineHistory>;

Exchange exchange(Exchange::Outcome outcome, double ms, qint64 atMs)
{
    Exchange made;
    made.outcome = outcome;
    made.responseMs = ms;
    made.at = QDateTime::fromMSecsSinceEpoch(atMs, Qt::UTC);
    return made;
}

// A line that has seen every outcome, times on and around the bucket
// bounds and beyond the last one.
LineHistory everyOutcome(const QString &name, qint64 startMs)
{
    using O = Exchange::Outcome;
    LineHistory line{name, {}, 1, true};
    const double times[] = {0.4,   1.0,   2.6,    9.99,    10.0,         37.5,
                            250.0, 999.0, 2500.0, 12000.0, 0.0123456789, 1234.56789012};
    qint64 at = startMs;
    for (double ms : times)
        line.exchanges.append(exchange(O::Ok, ms, at += 1111));
    line.exchanges.append(exchange(O::Error, 3.0, at += 1000));
    line.exchanges.append(exchange(O::Lost, 500.0, at += 1000));
    line.exchanges.append(exchange(O::Unanswered, 500.0, at += 1000));
    line.exchanges.append(exchange(O::Late, 800.0, at += 1000));
    return line;
}

struct Tallies {
    std::vector<std::unique_ptr<LineTally>> tallies;
    QList<MetricsText::Line> lines;
};

Tallies tallied(const Histories &histories)
{
    Tallies made;
    for (const LineHistory &history : histories) {
        auto tally = std::make_unique<LineTally>();
        for (const Exchange &e : history.exchanges) {
            if (e.outcome != Exchange::Outcome::Late)
                tally->probeSent();
            tally->add(e);
        }
        for (int i = 0; i < history.probesOut; ++i)
            tally->probeSent();
        tally->setUp(history.up);
        made.lines.append({history.name, tally.get()});
        made.tallies.push_back(std::move(tally));
    }
    return made;
}

// A sample as a reader should find it: le, when there, as the number it
// stands for.
struct Expected {
    QString name;
    QString line;
    std::optional<double> le;
    double value = 0;
};

// What the text must say of `histories`, worked out from the histories
// themselves, not from a tally.
QList<Expected> expectedSamples(const Histories &histories)
{
    QList<Expected> samples;
    auto each = [&](const char *name, auto value) {
        for (const LineHistory &h : histories)
            samples.append({QString::fromLatin1(name), h.name, std::nullopt, double(value(h))});
    };
    auto count = [](const LineHistory &h, auto pick) {
        return double(std::count_if(h.exchanges.begin(), h.exchanges.end(), pick));
    };
    using O = Exchange::Outcome;
    each("commcheck_probes_total", [&](const LineHistory &h) {
        return count(h, [](const Exchange &e) { return e.outcome != O::Late; }) + h.probesOut;
    });
    each("commcheck_exchanges_total", [&](const LineHistory &h) {
        return count(h, [](const Exchange &e) { return e.outcome == O::Ok; });
    });
    each("commcheck_errors_total", [&](const LineHistory &h) {
        return count(h, [](const Exchange &e) { return e.outcome == O::Error; });
    });
    each("commcheck_lost_total", [&](const LineHistory &h) {
        return count(h, [](const Exchange &e) {
            return e.outcome == O::Lost || e.outcome == O::Unanswered;
        });
    });
    each("commcheck_late_total", [&](const LineHistory &h) {
        return count(h, [](const Exchange &e) { return e.outcome == O::Late; });
    });
    for (const LineHistory &h : histories) {
        QList<double> seconds;
        for (const Exchange &e : h.exchanges) {
            if (e.outcome == O::Ok)
                seconds.append(e.responseMs / 1000.0);
        }
        for (double bound : LineTally::kBucketBounds) {
            samples.append({QStringLiteral("commcheck_response_seconds_bucket"), h.name, bound,
                            double(std::count_if(seconds.begin(), seconds.end(),
                                                 [bound](double s) { return s <= bound; }))});
        }
        samples.append({QStringLiteral("commcheck_response_seconds_bucket"), h.name,
                        std::numeric_limits<double>::infinity(), double(seconds.size())});
        double sum = 0;
        for (double s : seconds)
            sum += s;
        samples.append(
            {QStringLiteral("commcheck_response_seconds_sum"), h.name, std::nullopt, sum});
        samples.append({QStringLiteral("commcheck_response_seconds_count"), h.name, std::nullopt,
                        double(seconds.size())});
    }
    each("commcheck_line_up", [](const LineHistory &h) { return h.up ? 1 : 0; });
    for (const LineHistory &h : histories) {
        for (auto e = h.exchanges.crbegin(); e != h.exchanges.crend(); ++e) {
            if (e->outcome == O::Ok) {
                samples.append({QStringLiteral("commcheck_last_exchange_timestamp_seconds"), h.name,
                                std::nullopt, double(e->at.toMSecsSinceEpoch()) / 1000.0});
                break;
            }
        }
    }
    return samples;
}

QString describe(const Expected &e)
{
    return QStringLiteral("%1{line=%2%3} %4")
        .arg(e.name, Prometheus::quoted(e.line),
             e.le ? QStringLiteral(",le=%1").arg(*e.le) : QString())
        .arg(e.value, 0, 'g', 17);
}

// A raw exchange with the server from a thread of its own: `request` sent,
// then what comes back read until the server closes, `answers` whole
// answers have come (and the server is not expected to close), or the
// time is up.
struct RawResult {
    QByteArray received;
    bool serverClosed = false;
    QString error;
};

struct Answer {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// The whole answers at the start of `bytes`.
QList<Answer> answersIn(QByteArray bytes)
{
    QList<Answer> answers;
    for (;;) {
        const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return answers;
        Answer answer;
        const QList<QByteArray> lines = bytes.left(headEnd).split('\n');
        const QList<QByteArray> status = lines.first().trimmed().split(' ');
        answer.status = status.size() > 1 ? status[1].toInt() : -1;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                answer.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                      lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = answer.headers.value("content-length", "-1").toLongLong();
        if (length < 0 || bytes.size() - headEnd - 4 < length)
            return answers;
        answer.body = bytes.mid(headEnd + 4, length);
        answers.append(answer);
        bytes.remove(0, headEnd + 4 + length);
    }
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd != -1 && ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == -1) {
        ::close(fd);
        return -1;
    }
    return fd;
}

RawResult rawExchange(quint16 port, QByteArray request, bool clientCloses, int answers,
                      bool untilClosed)
{
    RawResult result;
    const int fd = connectTo(port);
    if (fd == -1) {
        result.error = QStringLiteral("connect: %1").arg(std::strerror(errno));
        return result;
    }
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.constData() + sent, std::size_t(request.size() - sent),
                                 MSG_NOSIGNAL);
        if (n <= 0) {
            result.error = QStringLiteral("send: %1").arg(std::strerror(errno));
            break;
        }
        sent += n;
    }
    if (clientCloses) {
        ::close(fd);
        return result;
    }
    QElapsedTimer time;
    time.start();
    while (!time.hasExpired(kWaitMs)) {
        if (!untilClosed && answersIn(result.received).size() >= answers)
            break;
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 100) != 1)
            continue;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            result.received.append(buffer, n);
            continue;
        }
        result.serverClosed = true;
        if (n < 0)
            result.error = QStringLiteral("recv: %1").arg(std::strerror(errno));
        break;
    }
    ::close(fd);
    return result;
}

// Runs `work` on a thread of its own while this thread's event loop (and
// the server on it) runs until the work is done; nothing if it did not end
// in time.
template <typename Work> auto offThread(Work work) -> std::optional<decltype(work())>
{
    using Result = decltype(work());
    QEventLoop loop;
    std::optional<Result> result;
    std::thread worker([&] {
        Result done = work();
        QMetaObject::invokeMethod(
            &loop,
            [&result, &loop, done] {
                result = done;
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    QTimer::singleShot(2 * kWaitMs, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    if (!result)
        QCoreApplication::sendPostedEvents(&loop); // done just as time ran out
    return result;
}

const QByteArray kGet = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

} // namespace

Q_DECLARE_METATYPE(Histories)

class tst_Metrics : public QObject {
    Q_OBJECT
private slots:
    void parsedByPythonClient_data();
    void parsedByPythonClient();
    void scrapedByPrometheus_data();
    void scrapedByPrometheus();
    void scrapeStorm_data();
    void scrapeStorm();
    void unusualRequests_data();
    void unusualRequests();
    void connectionLimit_data();
    void connectionLimit();
    void listening_data();
    void listening();

private:
    // A normal scrape still answered, with `body`.
    void checkStillServes(MetricsServer &server, const QByteArray &body);
};

void tst_Metrics::checkStillServes(MetricsServer &server, const QByteArray &body)
{
    const quint16 port = server.serverPort();
    const auto after = offThread([port] { return rawExchange(port, kGet, false, 1, false); });
    QVERIFY2(after, "a normal scrape after it did not end");
    const QList<Answer> answers = answersIn(after->received);
    QVERIFY2(answers.size() == 1,
             qPrintable(QStringLiteral("a normal scrape after it: %1 (%2)")
                            .arg(QString::fromLatin1(after->received.left(200)), after->error)));
    QCOMPARE(answers.first().status, 200);
    QCOMPARE(answers.first().body, body);
}

void tst_Metrics::parsedByPythonClient_data()
{
    QTest::addColumn<Histories>("histories");
    using O = Exchange::Outcome;
    const qint64 start = 1765249000123;
    QTest::newRow("no lines") << Histories{};
    QTest::newRow("one line, no exchange yet") << Histories{{"press-1", {}, 1, true}};
    QTest::newRow("lines with every outcome")
        << Histories{everyOutcome(QStringLiteral("press-1"), start),
                     {QStringLiteral("press-2"),
                      {exchange(O::Lost, 500, start), exchange(O::Error, 2, start + 1000)},
                      0,
                      false},
                     everyOutcome(QStringLiteral("a-line"), start + 7)};
    QTest::newRow("name with quote, backslash, newline, non-ASCII")
        << Histories{everyOutcome(QStringLiteral("プレス\"3\\\nＢ"), start),
                     {QStringLiteral("\\\\\"\"\n"), {exchange(O::Ok, 1.5, start)}, 0, true}};
}

void tst_Metrics::parsedByPythonClient()
{
    QFETCH(Histories, histories);
    QVERIFY2(QFileInfo(QString::fromLatin1(kPython)).isExecutable(),
             "/usr/bin/python3 is not installed");
    const Tallies tallies = tallied(histories);
    const QByteArray text = MetricsText::render(tallies.lines);

    // Each family: its name, type, help and samples as the client reads them.
    const char *script =
        "import sys, json\n"
        "from prometheus_client.parser import text_string_to_metric_families\n"
        "out = []\n"
        "for f in text_string_to_metric_families(sys.stdin.buffer.read().decode('utf-8')):\n"
        "    out.append({'name': f.name, 'type': f.type, 'help': f.documentation,\n"
        "                'samples': [{'name': s.name, 'labels': s.labels,\n"
        "                             'value': repr(s.value)} for s in f.samples]})\n"
        "print(json.dumps(out))\n";
    QProcess python;
    python.start(QString::fromLatin1(kPython), {QStringLiteral("-c"), QString::fromLatin1(script)});
    QVERIFY2(python.waitForStarted(10000), qPrintable(python.errorString()));
    python.write(text);
    python.closeWriteChannel();
    QVERIFY2(python.waitForFinished(kWaitMs), "the Python client did not finish");
    QVERIFY2(python.exitCode() == 0,
             qPrintable(QStringLiteral("the Python client refused the text: %1\n%2")
                            .arg(QString::fromUtf8(python.readAllStandardError()),
                                 QString::fromUtf8(text))));
    const QJsonArray families = QJsonDocument::fromJson(python.readAllStandardOutput()).array();

    // Every family, with its type and some help, in this order, even
    // without lines.
    const QList<std::pair<QString, QString>> kinds = {
        {"commcheck_probes", "counter"}, {"commcheck_exchanges", "counter"},
        {"commcheck_errors", "counter"}, {"commcheck_lost", "counter"},
        {"commcheck_late", "counter"},   {"commcheck_response_seconds", "histogram"},
        {"commcheck_line_up", "gauge"},  {"commcheck_last_exchange_timestamp_seconds", "gauge"}};
    QCOMPARE(families.size(), kinds.size());
    QList<QJsonObject> found;
    for (qsizetype i = 0; i < families.size(); ++i) {
        const QJsonObject family = families[i].toObject();
        QCOMPARE(family.value(u"name").toString(), kinds[i].first);
        QCOMPARE(family.value(u"type").toString(), kinds[i].second);
        QVERIFY2(!family.value(u"help").toString().isEmpty(), qPrintable(kinds[i].first));
        for (const QJsonValue &sample : family.value(u"samples").toArray())
            found.append(sample.toObject());
    }

    const QList<Expected> expected = expectedSamples(histories);
    QCOMPARE(found.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const QJsonObject &sample = found[i];
        const QJsonObject labels = sample.value(u"labels").toObject();
        const QString what =
            QStringLiteral("sample %1, expected %2, read %3")
                .arg(i)
                .arg(describe(expected[i]),
                     QString::fromUtf8(QJsonDocument(sample).toJson(QJsonDocument::Compact)));
        QVERIFY2(sample.value(u"name").toString() == expected[i].name, qPrintable(what));
        QVERIFY2(labels.value(u"line").toString() == expected[i].line, qPrintable(what));
        QVERIFY2(labels.size() == (expected[i].le ? 2 : 1), qPrintable(what));
        if (expected[i].le) {
            const QString le = labels.value(u"le").toString();
            const bool same =
                std::isinf(*expected[i].le) ? le == u"+Inf" : le.toDouble() == *expected[i].le;
            QVERIFY2(same, qPrintable(what));
        }
        bool ok = false;
        const double value = sample.value(u"value").toString().toDouble(&ok);
        QVERIFY2(ok && value == expected[i].value, qPrintable(what));
    }
}

void tst_Metrics::scrapedByPrometheus_data()
{
    // Each row: the lines as they are at each of its steps, the counts
    // growing from one to the next as a monitor's do.
    QTest::addColumn<QList<Histories>>("steps");
    using O = Exchange::Outcome;
    const qint64 start = 1765249000123;
    LineHistory growing{QStringLiteral("press-1"), {}, 1, false};
    Histories first{growing};
    growing.up = true;
    growing.exchanges = {exchange(O::Ok, 3.25, start), exchange(O::Lost, 500, start + 1000)};
    Histories second{growing};
    growing.exchanges += everyOutcome(growing.name, start + 2000).exchanges;
    Histories third{growing};
    QTest::newRow("one line, counts growing") << QList<Histories>{first, second, third};
    QTest::newRow("name with quote, backslash, newline, non-ASCII")
        << QList<Histories>{{everyOutcome(QStringLiteral("プレス\"3\\\nＢ"), start)}};
    QTest::newRow("a line with no exchange yet beside one with") << QList<Histories>{
        {{QStringLiteral("spare"), {}, 2, true}, everyOutcome(QStringLiteral("press-4"), start)}};
}

void tst_Metrics::scrapedByPrometheus()
{
    QFETCH(QList<Histories>, steps);
    Tallies current;
    MetricsServer server([&current] { return MetricsText::render(current.lines); });
    QVERIFY2(server.listen(QStringLiteral("127.0.0.1"), 0), qPrintable(server.errorString()));
    Prometheus prometheus(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
    QString error;
    QVERIFY2(prometheus.start(&error), qPrintable(error));

    for (const Histories &step : steps) {
        current = tallied(step);
        const QList<Expected> expected = expectedSamples(step);
        // What prometheus holds of these lines, the newest scrape of each
        // series, until it is what the lines say.
        QString mismatch;
        auto matches = [&] {
            const auto samples = prometheus.samples(QStringLiteral("{job=\"commcheck\"}"));
            if (!samples) {
                mismatch = prometheus.lastError();
                return false;
            }
            QList<Prometheus::Sample> ours;
            for (const Prometheus::Sample &s : *samples) {
                if (s.labels.contains(QStringLiteral("line")))
                    ours.append(s);
            }
            if (ours.size() != expected.size()) {
                mismatch =
                    QStringLiteral("%1 samples, not %2").arg(ours.size()).arg(expected.size());
                return false;
            }
            for (const Expected &e : expected) {
                const bool there = std::any_of(ours.begin(), ours.end(), [&](const auto &s) {
                    if (s.labels.value(QStringLiteral("__name__")) != e.name ||
                        s.labels.value(QStringLiteral("line")) != e.line || s.value != e.value)
                        return false;
                    if (!e.le)
                        return !s.labels.contains(QStringLiteral("le"));
                    const QString le = s.labels.value(QStringLiteral("le"));
                    return std::isinf(*e.le) ? le == u"+Inf" : le.toDouble() == *e.le;
                });
                if (!there) {
                    mismatch = QStringLiteral("not found: %1").arg(describe(e));
                    return false;
                }
            }
            return true;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(matches(), qPrintable(mismatch), kWaitMs);
    }
    QString lastScrapeError;
    QCOMPARE(prometheus.targetHealth(&lastScrapeError), QStringLiteral("up"));
    QCOMPARE(lastScrapeError, QString());
    prometheus.stop();
}

void tst_Metrics::scrapeStorm_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("concurrency");
    QTest::newRow("1000 scrapes of 8 lines, 50 at once") << 8 << 1000 << 50;
    QTest::newRow("200 scrapes of 64 lines, 10 at once") << 64 << 200 << 10;
}

void tst_Metrics::scrapeStorm()
{
    QFETCH(int, lines);
    QFETCH(int, requests);
    QFETCH(int, concurrency);
    Histories histories;
    for (int i = 0; i < lines; ++i)
        histories.append(everyOutcome(QStringLiteral("line-%1").arg(i), 1765249000123 + i));
    const Tallies tallies = tallied(histories);
    const QByteArray body = MetricsText::render(tallies.lines);
    MetricsServer server([&tallies] { return MetricsText::render(tallies.lines); });
    QVERIFY2(server.listen(QStringLiteral("127.0.0.1"), 0), qPrintable(server.errorString()));

    // The checks' stand-in: a timer on the server's thread.
    QElapsedTimer clock;
    clock.start();
    QList<qint64> ticks;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ticks.append(clock.elapsed()); });
    ticker.start(10);

    ScrapeStorm storm(QStringLiteral("127.0.0.1"), server.serverPort());
    const qint64 began = clock.elapsed();
    storm.start(requests, concurrency);
    QTRY_VERIFY_WITH_TIMEOUT(storm.finished(), 4 * kWaitMs);
    const qint64 ended = clock.elapsed();
    ticker.stop();

    const ScrapeStorm::Result result = storm.result();
    QVERIFY2(result.failures.isEmpty(), qPrintable(result.failures.mid(0, 5).join(u'\n')));
    QCOMPARE(result.statuses.value(200), requests);
    QCOMPARE(result.statuses.size(), 1);
    QCOMPARE(result.answered(), requests);
    QCOMPARE(result.bodies.size(), 1);
    QCOMPARE(*result.bodies.cbegin(), body);

    // The loop went on: ticks during the storm, none of its gaps seconds long.
    QList<qint64> during{began};
    for (qint64 tick : ticks) {
        if (tick >= began && tick <= ended)
            during.append(tick);
    }
    during.append(ended);
    qint64 longest = 0;
    for (qsizetype i = 1; i < during.size(); ++i)
        longest = std::max(longest, during[i] - during[i - 1]);
    QVERIFY2(during.size() > 2, "the timer did not tick during the storm");
    QVERIFY2(longest < 5000,
             qPrintable(QStringLiteral("the event loop was held for %1 ms").arg(longest)));
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, kWaitMs);
}

void tst_Metrics::unusualRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("clientCloses");
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<bool>("serverCloses");
    // How long the server lets a connection idle: long, but where closing
    // one that idles is what the row is about.
    QTest::addColumn<int>("idleMs");

    const QByteArray megabyte(1024 * 1024, 'a');
    QTest::newRow("garbage bytes")
        << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\xff\r\n\r\n", 17) << false
        << QList<int>{} << true << 600000;
    QTest::newRow("request line without version")
        << QByteArray("GET /metrics\r\nHost: 127.0.0.1\r\n\r\n") << false << QList<int>{} << true
        << 600000;
    QTest::newRow("1 MB header") << QByteArray("GET /metrics HTTP/1.1\r\nX-Filler: " + megabyte +
                                               "\r\n\r\n")
                                 << false << QList<int>{431} << true << 600000;
    QTest::newRow("1 MB body")
        << QByteArray("POST /metrics HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + megabyte)
        << false << QList<int>{413} << true << 600000;
    QTest::newRow("header line without colon")
        << QByteArray("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nno colon here\r\n\r\n") << false
        << QList<int>{200} << false << 600000;
    QTest::newRow("POST /metrics")
        << QByteArray("POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi") << false
        << QList<int>{405} << false << 600000;
    QTest::newRow("PUT /metrics") << QByteArray(
                                         "PUT /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
                                  << false << QList<int>{405} << false << 600000;
    QTest::newRow("DELETE /metrics") << QByteArray("DELETE /metrics HTTP/1.1\r\n\r\n") << false
                                     << QList<int>{405} << false << 600000;
    QTest::newRow("GET /") << QByteArray("GET / HTTP/1.1\r\n\r\n") << false << QList<int>{404}
                           << false << 600000;
    QTest::newRow("GET /metricsx") << QByteArray("GET /metricsx HTTP/1.1\r\n\r\n") << false
                                   << QList<int>{404} << false << 600000;
    QTest::newRow("GET /metrics/../x") << QByteArray("GET /metrics/../x HTTP/1.1\r\n\r\n") << false
                                       << QList<int>{404} << false << 600000;
    QTest::newRow("request cut off, then closed")
        << QByteArray("GET /metr") << true << QList<int>{} << false << 600000;
    QTest::newRow("request half-sent, left idle")
        << QByteArray("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n") << false << QList<int>{}
        << true << 1000;
    QTest::newRow("two GETs pipelined")
        << kGet + kGet << false << QList<int>{200, 200} << false << 600000;
    QTest::newRow("a GET pipelined behind a 404")
        << QByteArray("GET /x HTTP/1.1\r\n\r\n") + kGet << false << QList<int>{404, 200} << false
        << 600000;
    QTest::newRow("HTTP/1.0") << QByteArray("GET /metrics HTTP/1.0\r\n\r\n") << false
                              << QList<int>{200} << true << 600000;
    QTest::newRow("Connection: close")
        << QByteArray("GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n") << false
        << QList<int>{200} << true << 600000;
}

void tst_Metrics::unusualRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, clientCloses);
    QFETCH(QList<int>, statuses);
    QFETCH(bool, serverCloses);
    QFETCH(int, idleMs);
    const Tallies tallies = tallied({everyOutcome(QStringLiteral("press-1"), 1765249000123)});
    const QByteArray body = MetricsText::render(tallies.lines);
    MetricsServer server([&tallies] { return MetricsText::render(tallies.lines); });
    server.setIdleTimeout(std::chrono::milliseconds(idleMs));
    QVERIFY2(server.listen(QStringLiteral("127.0.0.1"), 0), qPrintable(server.errorString()));
    const quint16 port = server.serverPort();

    const auto result = offThread([=] {
        return rawExchange(port, request, clientCloses, int(statuses.size()), serverCloses);
    });
    QVERIFY2(result, "the exchange did not end");
    const QList<Answer> answers = answersIn(result->received);
    QList<int> got;
    for (const Answer &answer : answers)
        got.append(answer.status);
    QVERIFY2(got == statuses,
             qPrintable(QStringLiteral("answered %1 (%2)")
                            .arg(QString::fromLatin1(
                                     result->received.left(300).toPercentEncoding(" \r\n")),
                                 result->error)));
    for (const Answer &answer : answers) {
        if (answer.status == 200) {
            QCOMPARE(answer.body, body);
            QCOMPARE(answer.headers.value("content-type"), QByteArray(MetricsText::kContentType));
        } else if (answer.status == 405) {
            QCOMPARE(answer.headers.value("allow"), QByteArray("GET"));
        }
    }
    if (!clientCloses)
        QCOMPARE(result->serverClosed, serverCloses);

    // The server goes on, and holds nothing of the exchange.
    checkStillServes(server, body);
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, kWaitMs);
}

void tst_Metrics::connectionLimit_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("one connection") << 1;
    QTest::newRow("five connections") << 5;
}

void tst_Metrics::connectionLimit()
{
    QFETCH(int, limit);
    const Tallies tallies = tallied({everyOutcome(QStringLiteral("press-1"), 1765249000123)});
    const QByteArray body = MetricsText::render(tallies.lines);
    MetricsServer server([&tallies] { return MetricsText::render(tallies.lines); });
    server.setMaxConnections(limit);
    QVERIFY2(server.listen(QStringLiteral("127.0.0.1"), 0), qPrintable(server.errorString()));
    const quint16 port = server.serverPort();

    // Connections that send nothing take every place.
    QList<int> idle;
    for (int i = 0; i < limit; ++i) {
        const int fd = connectTo(port);
        QVERIFY2(fd != -1, std::strerror(errno));
        idle.append(fd);
    }
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), limit, kWaitMs);
    const auto refused = offThread([port] { return rawExchange(port, kGet, false, 1, true); });
    QVERIFY2(refused, "the refused exchange did not end");
    const QList<Answer> answers = answersIn(refused->received);
    QCOMPARE(answers.size(), 1);
    QCOMPARE(answers.first().status, 503);
    QVERIFY(refused->serverClosed);
    QCOMPARE(server.openConnections(), limit);

    for (int fd : idle)
        ::close(fd);
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, kWaitMs);
    checkStillServes(server, body);
}

void tst_Metrics::listening_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<QString>("error"); // after "cannot listen on HOST:PORT: "; empty: listens
    QTest::newRow("IPv4 address") << "127.0.0.1" << false << "";
    QTest::newRow("IPv6 address") << "::1" << false << "";
    QTest::newRow("name") << "localhost" << false << "";
    QTest::newRow("port in use") << "127.0.0.1" << true << "address in use";
    QTest::newRow("not this machine's address")
        << "192.0.2.1" << false << "not an address of this machine";
}

void tst_Metrics::listening()
{
    QFETCH(QString, host);
    QFETCH(bool, portTaken);
    QFETCH(QString, error);
    QTcpServer holder;
    quint16 port = 0;
    if (portTaken) {
        QVERIFY2(holder.listen(QHostAddress(host), 0), qPrintable(holder.errorString()));
        port = holder.serverPort();
    }
    const QByteArray body = "a body\n";
    MetricsServer server([&body] { return body; });
    const bool listening = server.listen(host, port);
    if (!error.isEmpty()) {
        QVERIFY(!listening);
        const QString where = host.contains(u':') ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                                  : QStringLiteral("%1:%2").arg(host).arg(port);
        QCOMPARE(server.errorString(), QStringLiteral("cannot listen on %1: %2").arg(where, error));
        return;
    }
    QVERIFY2(listening, qPrintable(server.errorString()));
    QVERIFY(server.serverPort() != 0);
    // Scraped at the address the name or address stands for.
    QTcpSocket client;
    client.connectToHost(host, server.serverPort());
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QAbstractSocket::ConnectedState, kWaitMs);
    client.write(kGet);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += client.readAll(), answersIn(received).size() == 1),
                             kWaitMs);
    QCOMPARE(answersIn(received).first().status, 200);
    QCOMPARE(answersIn(received).first().body, body);
}

QTEST_GUILESS_MAIN(tst_Metrics)
#include "tst_Metrics.moc"
