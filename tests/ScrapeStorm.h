#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>

// Many GET requests at an HTTP server, from a thread of their own, a given
// number of connections open at once; each request on a connection of its
// own, read to the end of its answer (by its Content-Length). For the
// metrics server: scrapes coming all at once while its thread also runs
// the checks.
class ScrapeStorm {
public:
    struct Result {
        QMap<int, int> statuses;    // answers by status code
        QList<qsizetype> bodySizes; // of every whole answer
        QSet<QByteArray> bodies;    // the distinct bodies
        QList<double> milliseconds; // each whole answer's time, from its connect
        QStringList failures;       // requests without a whole answer, why
        int answered() const { return int(bodySizes.size()); }
    };

    ScrapeStorm(const QString &host, quint16 port, const QByteArray &path = "/metrics");
    ~ScrapeStorm();
    ScrapeStorm(const ScrapeStorm &) = delete;
    ScrapeStorm &operator=(const ScrapeStorm &) = delete;

    // `requests` requests, `concurrency` at once, on the calling thread; a
    // request unanswered after `limitMs` fails.
    Result run(int requests, int concurrency, int limitMs = 30000) const;
    // The same on a thread of its own; finished() once it is done, then
    // result().
    void start(int requests, int concurrency, int limitMs = 30000);
    bool finished() const { return finished_.load(); }
    Result result() const;

private:
    QString host_;
    quint16 port_;
    QByteArray path_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    Result result_;
};
