#include "Prometheus.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

#include <chrono>

namespace {

// Another program may take the port between our look and prometheus' bind.
constexpr int kAttempts = 5;
constexpr std::chrono::seconds kStartLimit{30};
constexpr int kRequestLimitMs = 10000;

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

} // namespace

Prometheus::Prometheus(const QString &target) : target_(target)
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

Prometheus::~Prometheus()
{
    stop();
}

bool Prometheus::start(QString *error)
{
    if (!QFileInfo(QString::fromLatin1(kProgram)).isExecutable()) {
        *error = QStringLiteral("%1 is not installed (apt-get install prometheus)")
                     .arg(QString::fromLatin1(kProgram));
        return false;
    }
    if (!dir_.isValid()) {
        *error = QStringLiteral("no temporary folder: %1").arg(dir_.errorString());
        return false;
    }
    const QString config = dir_.filePath(QStringLiteral("prometheus.yml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(QStringLiteral("global:\n"
                                  "  scrape_interval: 1s\n"
                                  "  scrape_timeout: 1s\n"
                                  "  evaluation_interval: 1s\n"
                                  "scrape_configs:\n"
                                  "  - job_name: commcheck\n"
                                  "    static_configs:\n"
                                  "      - targets: ['%1']\n")
                       .arg(target_)
                       .toUtf8()) < 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(config, file.errorString());
        return false;
    }
    file.close();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (tryStart(error))
            return true;
    }
    return false;
}

bool Prometheus::tryStart(QString *error)
{
    port_ = freePort();
    if (port_ == 0) {
        *error = QStringLiteral("no free TCP port on 127.0.0.1");
        return false;
    }
    process_.start(
        QString::fromLatin1(kProgram),
        {QStringLiteral("--config.file=%1").arg(dir_.filePath(QStringLiteral("prometheus.yml"))),
         QStringLiteral("--storage.tsdb.path=%1").arg(dir_.filePath(QStringLiteral("data"))),
         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port_),
         QStringLiteral("--log.level=warn")});
    if (!process_.waitForStarted(5000)) {
        *error = QStringLiteral("prometheus did not start: %1").arg(process_.errorString());
        return false;
    }
    const QDeadlineTimer deadline(kStartLimit);
    while (process_.state() == QProcess::Running && !deadline.hasExpired()) {
        int status = 0;
        if (get(QStringLiteral("/-/ready"), &status) && status == 200)
            return true;
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
    *error = QStringLiteral("prometheus on port %1 was not ready within %2 s: %3")
                 .arg(port_)
                 .arg(kStartLimit.count())
                 .arg(QString::fromLocal8Bit(process_.readAll()));
    stop();
    return false;
}

void Prometheus::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

std::optional<QByteArray> Prometheus::get(const QString &pathAndQuery, int *status)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl::fromEncoded(
        QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(pathAndQuery).toLatin1()));
    request.setTransferTimeout(kRequestLimitMs);
    QNetworkReply *reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->readAll();
    const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status)
        *status = code;
    const bool ok = reply->error() == QNetworkReply::NoError;
    if (!ok)
        lastError_ = QStringLiteral("GET %1: %2 %3")
                         .arg(pathAndQuery, reply->errorString(), QString::fromUtf8(body));
    delete reply;
    if (!ok)
        return std::nullopt;
    return body;
}

std::optional<QList<Prometheus::Sample>> Prometheus::samples(const QString &expr)
{
    const auto body = get(QStringLiteral("/api/v1/query?query=") +
                          QString::fromLatin1(QUrl::toPercentEncoding(expr)));
    if (!body)
        return std::nullopt;
    const QJsonObject answer = QJsonDocument::fromJson(*body).object();
    if (answer.value(u"status").toString() != u"success") {
        lastError_ = QStringLiteral("query %1: %2").arg(expr, QString::fromUtf8(*body));
        return std::nullopt;
    }
    QList<Sample> found;
    const QJsonArray result = answer.value(u"data").toObject().value(u"result").toArray();
    for (const QJsonValue &entry : result) {
        Sample sample;
        const QJsonObject metric = entry.toObject().value(u"metric").toObject();
        for (auto it = metric.begin(); it != metric.end(); ++it)
            sample.labels.insert(it.key(), it.value().toString());
        // [time, "value"]
        bool ok = false;
        sample.value = entry.toObject().value(u"value").toArray().at(1).toString().toDouble(&ok);
        if (!ok) {
            lastError_ =
                QStringLiteral("query %1: no value in %2").arg(expr, QString::fromUtf8(*body));
            return std::nullopt;
        }
        found.append(sample);
    }
    return found;
}

std::optional<double> Prometheus::query(const QString &expr)
{
    const auto found = samples(expr);
    if (!found)
        return std::nullopt;
    if (found->size() != 1) {
        lastError_ = QStringLiteral("query %1: %2 samples, not one").arg(expr).arg(found->size());
        return std::nullopt;
    }
    return found->first().value;
}

QString Prometheus::targetHealth(QString *lastScrapeError)
{
    const auto body = get(QStringLiteral("/api/v1/targets?state=active"));
    if (!body)
        return QString();
    const QJsonArray targets = QJsonDocument::fromJson(*body)
                                   .object()
                                   .value(u"data")
                                   .toObject()
                                   .value(u"activeTargets")
                                   .toArray();
    if (targets.isEmpty())
        return QString();
    const QJsonObject target = targets.first().toObject();
    if (lastScrapeError)
        *lastScrapeError = target.value(u"lastError").toString();
    return target.value(u"health").toString();
}

QString Prometheus::quoted(const QString &value)
{
    QString text = QStringLiteral("\"");
    for (QChar c : value) {
        if (c == u'\\')
            text += QStringLiteral("\\\\");
        else if (c == u'"')
            text += QStringLiteral("\\\"");
        else if (c == u'\n')
            text += QStringLiteral("\\n");
        else
            text += c;
    }
    return text + u'"';
}
