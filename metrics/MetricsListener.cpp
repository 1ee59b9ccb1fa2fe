#include "MetricsListener.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

constexpr char kServiceUnavailable[] = "HTTP/1.1 503 Service Unavailable\r\n"
                                       "Content-Type: text/plain; charset=utf-8\r\n"
                                       "Content-Length: 21\r\n"
                                       "Retry-After: 1\r\n"
                                       "Connection: close\r\n"
                                       "\r\n"
                                       "too many connections\n";
constexpr char kHeadTooLarge[] = "HTTP/1.1 431 Request Header Fields Too Large\r\n"
                                 "Content-Type: text/plain; charset=utf-8\r\n"
                                 "Content-Length: 18\r\n"
                                 "Connection: close\r\n"
                                 "\r\n"
                                 "request too large\n";
constexpr char kBodyTooLarge[] = "HTTP/1.1 413 Payload Too Large\r\n"
                                 "Content-Type: text/plain; charset=utf-8\r\n"
                                 "Content-Length: 18\r\n"
                                 "Connection: close\r\n"
                                 "\r\n"
                                 "request too large\n";

} // namespace

MetricsListener::MetricsListener(QObject *parent) : QTcpServer(parent)
{
    connect(&sweepTimer_, &QTimer::timeout, this, &MetricsListener::sweep);
    setIdleTimeout(kDefaultIdleTimeout);
}

void MetricsListener::setIdleTimeout(std::chrono::milliseconds timeout)
{
    idleTimeout_ = timeout;
    // Closed within a quarter of the timeout after it passed, a refused one
    // within half its linger; the timer runs only while connections are open.
    sweepTimer_.setInterval(
        std::max(std::chrono::milliseconds(50), std::min(timeout / 4, kLinger / 2)));
}

void MetricsListener::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (openConnections() >= maxConnections_) {
        // Told so and closed once the answer is out; never seen by the HTTP
        // server.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->write(kServiceUnavailable);
        socket->disconnectFromHost();
        return;
    }
    Connection &connection = connections_[socket];
    if (!sweepTimer_.isActive())
        sweepTimer_.start();
    connection.lastActivity.start();
    // Before the HTTP server's own: this sees the bytes before it reads them.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        if (auto found = connections_.find(socket); found != connections_.end())
            found->lastActivity.start();
    });
    // Gone once closed: the HTTP server deletes the socket only later, and
    // a storm of scrapes would otherwise find the limit full of connections
    // that have ended.
    connect(socket, &QTcpSocket::disconnected, this,
            [this, socket] { connections_.remove(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { connections_.remove(socket); });
    // The HTTP server deletes the socket once it is closed; one refused
    // here is closed and deleted here.
    addPendingConnection(socket);
}

void MetricsListener::onReadyRead(QTcpSocket *socket)
{
    const auto found = connections_.find(socket);
    if (found == connections_.end())
        return;
    Connection &connection = *found;
    connection.lastActivity.start();
    const qint64 available = socket->bytesAvailable();
    if (connection.refused) {
        // Read and dropped, so that the client reads the answer before the
        // connection closes; the HTTP server finds nothing to read.
        connection.discarded += socket->skip(available);
        if (connection.discarded > kDiscardLimit)
            socket->abort();
        return;
    }
    const QByteArray bytes = socket->peek(std::min(available, kRequestLimit + 1));
    if (!connection.firstLineSeen) {
        if (const qsizetype end = bytes.indexOf('\n'); end >= 0) {
            connection.firstLineSeen = true;
            const QByteArray line = bytes.left(end).trimmed();
            connection.closeAfterAnswer = line.endsWith(" HTTP/1.0");
        }
    }
    if (!connection.headEnded) {
        const QByteArray seen = connection.tail + bytes;
        connection.headEnded = seen.contains("\n\r\n") || seen.contains("\n\n");
        connection.tail = seen.right(2);
    }
    connection.unanswered += available;
    if (connection.unanswered > kRequestLimit)
        refuse(socket, connection);
}

void MetricsListener::refuse(QTcpSocket *socket, Connection &connection)
{
    connection.refused = true;
    connection.discarded += socket->skip(socket->bytesAvailable());
    socket->write(connection.headEnded ? kBodyTooLarge : kHeadTooLarge);
}

void MetricsListener::answered(QTcpSocket *socket, bool closeAsked)
{
    const auto found = connections_.find(socket);
    if (found == connections_.end())
        return;
    found->lastActivity.start();
    found->unanswered = 0;
    found->headEnded = false;
    found->tail.clear();
    if (closeAsked || found->closeAfterAnswer) {
        // Once the HTTP server is done with the request: closed as soon as
        // the answer is out.
        QMetaObject::invokeMethod(
            socket, [socket] { socket->disconnectFromHost(); }, Qt::QueuedConnection);
    }
}

void MetricsListener::sweep()
{
    if (connections_.isEmpty()) {
        sweepTimer_.stop();
        return;
    }
    QList<QTcpSocket *> expired;
    for (auto it = connections_.cbegin(); it != connections_.cend(); ++it) {
        const auto limit = it->refused ? kLinger : idleTimeout_;
        if (it->lastActivity.elapsed() >= limit.count())
            expired.append(it.key());
    }
    for (QTcpSocket *socket : expired) {
        // Closing emits disconnected, on which the HTTP server lets go of
        // the socket; deleted here as well, should it have let go before.
        socket->abort();
        socket->deleteLater();
    }
}
