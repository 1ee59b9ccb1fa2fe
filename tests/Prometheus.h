#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// Debian's prometheus, started on 127.0.0.1 on a free port with a
// configuration of its own that scrapes one target every second, its data
// in a temporary folder; stopped with the object. Its HTTP API is asked
// from the calling thread, whose event loop runs meanwhile (the target may
// be served there).
class Prometheus {
public:
    struct Sample {
        QMap<QString, QString> labels; // with __name__
        double value = 0;
    };

    // `target`: host:port of the /metrics to scrape.
    explicit Prometheus(const QString &target);
    ~Prometheus();
    Prometheus(const Prometheus &) = delete;
    Prometheus &operator=(const Prometheus &) = delete;

    // Starts it and waits until it is ready; false, with the reason in
    // `error`, when it could not be started.
    bool start(QString *error);
    void stop();
    quint16 port() const { return port_; }

    // The instant vector `expr` evaluates to now; nothing when the query
    // failed (the reason in lastError()).
    std::optional<QList<Sample>> samples(const QString &expr);
    // The value of `expr` when it evaluates to exactly one sample.
    std::optional<double> query(const QString &expr);
    // The target's health as prometheus reports it ("up", "down",
    // "unknown"), "" while it lists no target; its last scrape error in
    // `lastScrapeError`.
    QString targetHealth(QString *lastScrapeError = nullptr);
    QString lastError() const { return lastError_; }

    // `value` as a PromQL string literal, in double quotes.
    static QString quoted(const QString &value);

    static constexpr const char *kProgram = "/usr/bin/prometheus";

private:
    bool tryStart(QString *error);
    // The body of GET `path` on prometheus; nothing, with lastError_ set,
    // if it failed.
    std::optional<QByteArray> get(const QString &pathAndQuery, int *status = nullptr);

    QString target_;
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
    QString lastError_;
};
