#include "Ser2net.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QThread>

#include <chrono>

namespace {

// Another program may take a port between our look and ser2net's bind.
constexpr int kAttempts = 5;
constexpr std::chrono::seconds kStartLimit{10};

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

// Whether something listens on the port, told without connecting: a
// connection would make ser2net open the device, and a second one coming
// while it still closes it would be turned away.
bool taken(quint16 port)
{
    QTcpServer server;
    return !server.listen(QHostAddress::LocalHost, port);
}

} // namespace

Ser2net::Ser2net(const QString &device) : device_(device)
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

Ser2net::~Ser2net()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
}

QString Ser2net::rfc2217Address() const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(rfc2217Port_);
}

QString Ser2net::socketAddress() const
{
    return QStringLiteral("socket://127.0.0.1:%1").arg(socketPort_);
}

bool Ser2net::start()
{
    if (!QFileInfo(QString::fromLatin1(kProgram)).isExecutable()) {
        error_ = QStringLiteral("%1 is not installed (apt-get install ser2net)")
                     .arg(QString::fromLatin1(kProgram));
        return false;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (tryStart())
            return true;
    }
    return false;
}

bool Ser2net::tryStart()
{
    rfc2217Port_ = freePort();
    socketPort_ = freePort();
    while (socketPort_ == rfc2217Port_)
        socketPort_ = freePort();
    if (rfc2217Port_ == 0 || socketPort_ == 0) {
        error_ = QStringLiteral("no free TCP port on 127.0.0.1");
        return false;
    }
    // -n: in the foreground; -Y: this configuration instead of the default
    // file; -u: no UUCP lock on the pseudo-terminal.
    const QString connector =
        QStringLiteral("  connector: serialdev,%1,9600n81,local").arg(device_);
    const QStringList arguments = {
        QStringLiteral("-n"),
        QStringLiteral("-u"),
        QStringLiteral("-Y"),
        QStringLiteral("connection: &rfc2217#  accepter: telnet(rfc2217),tcp,127.0.0.1,%1")
            .arg(rfc2217Port_),
        QStringLiteral("-Y"),
        connector,
        QStringLiteral("-Y"),
        QStringLiteral("connection: &raw#  accepter: tcp,127.0.0.1,%1").arg(socketPort_),
        QStringLiteral("-Y"),
        connector,
    };
    process_.start(QString::fromLatin1(kProgram), arguments);
    if (!process_.waitForStarted(5000)) {
        error_ = QStringLiteral("ser2net did not start: %1").arg(process_.errorString());
        return false;
    }
    const QDeadlineTimer deadline(kStartLimit);
    while (process_.state() == QProcess::Running && !deadline.hasExpired()) {
        if (taken(rfc2217Port_) && taken(socketPort_))
            return true;
        process_.waitForFinished(100);
    }
    error_ = QStringLiteral("ser2net took no connections on %1 and %2: %3")
                 .arg(rfc2217Port_)
                 .arg(socketPort_)
                 .arg(QString::fromLocal8Bit(process_.readAll()));
    kill();
    return false;
}

void Ser2net::kill()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished(5000);
}
