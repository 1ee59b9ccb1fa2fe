#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QTcpServer>
#include <QTimer>

#include <chrono>

class QTcpSocket;

// The listening socket of the metrics server, handed to Qt's HTTP server,
// which reads and answers the requests on the connections it accepts. It
// keeps what a client can make the program hold bounded, where Qt's server
// (6.4) does not: at most maxConnections() open at once (one more is
// answered 503 and closed); a connection idle for idleTimeout() is closed;
// a request (its head and any body) of more than kRequestLimit bytes is
// answered 431 or 413, and what follows read and dropped, so that the
// client gets to read the answer, until it has not sent for kLinger or has
// sent kDiscardLimit; then the connection is closed. It also closes a connection once answered
// where the client asked for that (HTTP/1.0, "Connection: close"), which Qt's server does not.
class MetricsListener : public QTcpServer {
    Q_OBJECT
public:
    // A GET is some hundred bytes; nothing here takes a body.
    static constexpr qint64 kRequestLimit = 16 * 1024;
    // What a refused request may still send before its connection is cut.
    static constexpr qint64 kDiscardLimit = 4 * 1024 * 1024;
    static constexpr int kDefaultMaxConnections = 100;
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout{30000};
    // A refused request's connection closes after this long without bytes.
    static constexpr std::chrono::milliseconds kLinger{1000};

    explicit MetricsListener(QObject *parent = nullptr);

    void setMaxConnections(int count) { maxConnections_ = count; }
    int maxConnections() const { return maxConnections_; }
    void setIdleTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds idleTimeout() const { return idleTimeout_; }
    // Connections accepted and not yet closed.
    int openConnections() const { return int(connections_.size()); }

    // A request on `socket` has been answered; `closeAsked` when its
    // client asked for the connection to end with the answer.
    void answered(QTcpSocket *socket, bool closeAsked);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Connection {
        QElapsedTimer lastActivity;
        qint64 unanswered = 0; // bytes since the last answer
        bool firstLineSeen = false;
        bool closeAfterAnswer = false; // an HTTP/1.0 client
        bool headEnded = false;        // the request's head is complete
        QByteArray tail;               // the last bytes seen, for a head end split between reads
        bool refused = false;          // answered 431 or 413: bytes dropped until it closes
        qint64 discarded = 0;
    };

    void onReadyRead(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, Connection &connection);
    void sweep();

    QHash<QTcpSocket *, Connection> connections_;
    int maxConnections_ = kDefaultMaxConnections;
    std::chrono::milliseconds idleTimeout_ = kDefaultIdleTimeout;
    QTimer sweepTimer_;
};
