#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

class MetricsListener;

// The HTTP server of `commcheck-cli monitor`: GET /metrics is answered with
// what `body` returns (Prometheus' text format, MetricsText), any other
// method there with 405, any other path with 404. It runs on the event loop
// of the thread it lives in, the one the checks run on: each answer is one
// call of `body` and one write. What a client can make it hold is bounded
// (MetricsListener).
class MetricsServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit MetricsServer(std::function<QByteArray()> body, QObject *parent = nullptr);
    ~MetricsServer() override;

    // Listens on `host` (an IPv4 or IPv6 address, or a name looked up once
    // and its first address that takes it used) at `port` (0: any free
    // one). False, with errorString() telling why, if it cannot. Once.
    bool listen(const QString &host, quint16 port);
    // The port listened on; 0 before listen().
    quint16 serverPort() const;
    // Why listen() failed: "cannot listen on 127.0.0.1:9717: address in use".
    QString errorString() const { return errorString_; }

    // Limits on the clients, for tests and the odd site (MetricsListener's
    // defaults otherwise); set before or after listen().
    void setMaxConnections(int count);
    void setIdleTimeout(std::chrono::milliseconds timeout);
    // Connections open now.
    int openConnections() const;

    static constexpr char kPath[] = "/metrics";

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    std::function<QByteArray()> body_;
    MetricsListener *listener_; // a child once listening
    QString errorString_;
};
