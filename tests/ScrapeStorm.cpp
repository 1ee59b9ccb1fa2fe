#include "ScrapeStorm.h"

#include <QElapsedTimer>
#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct Slot {
    int fd = -1;
    QByteArray request;
    qsizetype sent = 0;
    QByteArray received;
    QElapsedTimer started;
};

// The status and body of a whole answer in `bytes`, or a status of 0 while
// it is not whole yet.
struct Answer {
    int status = 0;
    QByteArray body;
};

Answer parse(const QByteArray &bytes)
{
    Answer answer;
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return answer;
    const QList<QByteArray> lines = bytes.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    qsizetype length = -1;
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            length = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (statusLine.size() < 2 || length < 0)
        return answer; // no length: never whole
    if (bytes.size() - (headEnd + 4) < length)
        return answer;
    answer.status = statusLine[1].toInt();
    answer.body = bytes.mid(headEnd + 4, length);
    return answer;
}

} // namespace

ScrapeStorm::ScrapeStorm(const QString &host, quint16 port, const QByteArray &path)
    : host_(host), port_(port), path_(path)
{}

ScrapeStorm::~ScrapeStorm()
{
    if (thread_.joinable())
        thread_.join();
}

void ScrapeStorm::start(int requests, int concurrency, int limitMs)
{
    finished_ = false;
    thread_ = std::thread([this, requests, concurrency, limitMs] {
        result_ = run(requests, concurrency, limitMs);
        finished_ = true;
    });
}

ScrapeStorm::Result ScrapeStorm::result() const
{
    return finished_ ? result_ : Result();
}

ScrapeStorm::Result ScrapeStorm::run(int requests, int concurrency, int limitMs) const
{
    Result result;
    const QHostAddress address(host_);
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        result.failures.append(QStringLiteral("%1 is no IPv4 address").arg(host_));
        return result;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = htonl(address.toIPv4Address());
    const QByteArray request = "GET " + path_ + " HTTP/1.1\r\nHost: " + host_.toLatin1() + ':' +
                               QByteArray::number(port_) + "\r\nUser-Agent: ScrapeStorm\r\n\r\n";

    int begun = 0;
    std::vector<Slot> connections(std::size_t(std::max(1, concurrency)));
    auto fail = [&result](Slot &slot, const QString &why) {
        result.failures.append(why);
        ::close(slot.fd);
        slot.fd = -1;
    };
    auto open = [&](Slot &slot) {
        slot = Slot();
        slot.started.start();
        slot.request = request;
        ++begun;
        slot.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (slot.fd == -1) {
            result.failures.append(QStringLiteral("socket: %1").arg(std::strerror(errno)));
            return;
        }
        const int on = 1;
        ::setsockopt(slot.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(slot.fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == -1 &&
            errno != EINPROGRESS)
            fail(slot, QStringLiteral("connect: %1").arg(std::strerror(errno)));
    };
    for (Slot &slot : connections) {
        if (begun < requests)
            open(slot);
    }

    std::vector<pollfd> polled;
    for (;;) {
        polled.clear();
        std::vector<Slot *> owners;
        for (Slot &slot : connections) {
            if (slot.fd == -1)
                continue;
            const short events = slot.sent < slot.request.size() ? POLLOUT : POLLIN;
            polled.push_back({slot.fd, events, 0});
            owners.push_back(&slot);
        }
        if (polled.empty())
            break;
        const int ready = ::poll(polled.data(), polled.size(), 200);
        if (ready == -1 && errno != EINTR) {
            result.failures.append(QStringLiteral("poll: %1").arg(std::strerror(errno)));
            break;
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            Slot &slot = *owners[i];
            const short revents = polled[i].revents;
            if (revents & POLLOUT) {
                const ssize_t n =
                    ::send(slot.fd, slot.request.constData() + slot.sent,
                           std::size_t(slot.request.size() - slot.sent), MSG_NOSIGNAL);
                if (n < 0 && errno != EAGAIN)
                    fail(slot, QStringLiteral("send: %1").arg(std::strerror(errno)));
                else if (n > 0)
                    slot.sent += n;
            } else if (revents & (POLLIN | POLLHUP | POLLERR)) {
                char buffer[65536];
                const ssize_t n = ::recv(slot.fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    slot.received.append(buffer, n);
                    const Answer answer = parse(slot.received);
                    if (answer.status != 0) {
                        result.statuses[answer.status] += 1;
                        result.bodySizes.append(answer.body.size());
                        result.bodies.insert(answer.body);
                        result.milliseconds.append(double(slot.started.nsecsElapsed()) / 1e6);
                        ::close(slot.fd);
                        slot.fd = -1;
                    }
                } else if (n == 0 || errno != EAGAIN) {
                    fail(slot, n == 0 ? QStringLiteral("closed after %1 bytes without a whole "
                                                       "answer")
                                            .arg(slot.received.size())
                                      : QStringLiteral("recv: %1").arg(std::strerror(errno)));
                }
            }
            if (slot.fd != -1 && slot.started.hasExpired(limitMs))
                fail(slot, QStringLiteral("no whole answer within %1 ms").arg(limitMs));
        }
        for (Slot &slot : connections) {
            if (slot.fd == -1 && begun < requests)
                open(slot);
        }
    }
    return result;
}
