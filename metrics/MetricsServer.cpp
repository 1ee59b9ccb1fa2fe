#include "MetricsServer.h"

#include "MetricsListener.h"
#include "MetricsText.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>

namespace {

using Status = QHttpServerResponder::StatusCode;

// "host:port", an IPv6 address in brackets.
QString endpoint(const QString &host, quint16 port)
{
    const bool ipv6 = host.contains(u':');
    return (ipv6 ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2")).arg(host).arg(port);
}

QString listenError(const QTcpServer &server)
{
    switch (server.serverError()) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("address in use");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("permission denied");
    case QAbstractSocket::SocketAddressNotAvailableError:
        return QStringLiteral("not an address of this machine");
    case QAbstractSocket::UnsupportedSocketOperationError:
        return QStringLiteral("address family not supported");
    default:
        return server.errorString();
    }
}

bool asksToClose(const QHttpServerRequest &request)
{
    return request.value("connection").toLower().contains("close");
}

} // namespace

MetricsServer::MetricsServer(std::function<QByteArray()> body, QObject *parent)
    : QAbstractHttpServer(parent), body_(std::move(body)), listener_(new MetricsListener(this))
{}

MetricsServer::~MetricsServer() = default;

bool MetricsServer::listen(const QString &host, quint16 port)
{
    QList<QHostAddress> addresses;
    if (QHostAddress address; address.setAddress(host)) {
        addresses.append(address);
    } else {
        const QHostInfo info = QHostInfo::fromName(host);
        addresses = info.addresses();
        if (addresses.isEmpty()) {
            errorString_ = QStringLiteral("cannot listen on %1: no address found for %2")
                               .arg(endpoint(host, port), host);
            return false;
        }
    }
    QString reason;
    for (const QHostAddress &address : std::as_const(addresses)) {
        if (listener_->listen(address, port)) {
            bind(listener_);
            errorString_.clear();
            return true;
        }
        if (reason.isEmpty())
            reason = listenError(*listener_);
    }
    errorString_ = QStringLiteral("cannot listen on %1: %2").arg(endpoint(host, port), reason);
    return false;
}

quint16 MetricsServer::serverPort() const
{
    return listener_->isListening() ? listener_->serverPort() : 0;
}

void MetricsServer::setMaxConnections(int count)
{
    listener_->setMaxConnections(count);
}

void MetricsServer::setIdleTimeout(std::chrono::milliseconds timeout)
{
    listener_->setIdleTimeout(timeout);
}

int MetricsServer::openConnections() const
{
    return listener_->openConnections();
}

bool MetricsServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    if (request.url().path() != QLatin1String(kPath)) {
        responder.write(QByteArrayLiteral("not found: only /metrics is served\n"),
                        {{"Content-Type", "text/plain; charset=utf-8"}}, Status::NotFound);
    } else if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write(QByteArrayLiteral("method not allowed: /metrics takes GET\n"),
                        {{"Content-Type", "text/plain; charset=utf-8"}, {"Allow", "GET"}},
                        Status::MethodNotAllowed);
    } else {
        responder.write(body_(), {{"Content-Type", MetricsText::kContentType}}, Status::Ok);
    }
    listener_->answered(socket, asksToClose(request));
    return true;
}

void MetricsServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // handleRequest() answers every request.
    Q_UNUSED(request);
    Q_UNUSED(socket);
}
