#include "ScriptedFarEnd.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <poll.h>
#include <unistd.h>

ScriptedFarEnd::ScriptedFarEnd(Script script) : script_(std::move(script))
{
    thread_.start([this] { run(); });
}

ScriptedFarEnd::~ScriptedFarEnd()
{
    thread_.stop();
}

QString ScriptedFarEnd::error() const
{
    return thread_.error(QStringLiteral("the far end"));
}

void ScriptedFarEnd::run()
{
    using Clock = std::chrono::steady_clock;
    struct Answer {
        Clock::time_point at;
        QByteArray bytes;
    };
    std::deque<Answer> due; // in the order they go out
    QByteArray heard;
    int answered = 0;
    const int fd = thread_.pty().masterFd();
    for (;;) {
        int waitMs = -1;
        if (!due.empty()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(due.front().at - Clock::now());
            waitMs = int(std::max<qint64>(left.count(), 0));
        }
        pollfd fds[2] = {{thread_.wakeFd(), POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(fds, 2, waitMs) == -1 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN)
            return;
        if (fds[1].revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                heard.append(buffer, n);
        } else if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            return;
        }
        for (qsizetype at; (at = heard.indexOf(script_.text)) >= 0;) {
            heard.remove(0, at + script_.text.size());
            ++arrivals_;
            if (script_.answers >= 0 && answered >= script_.answers)
                continue;
            if (script_.dropEvery > 0 && arrivals_ % script_.dropEvery == 0)
                continue;
            ++answered;
            QByteArray reply = script_.text;
            if (answered == script_.corrupted && reply.size() >= 2)
                reply[reply.size() - 2] = char(reply[reply.size() - 2] - 1);
            const auto when = Clock::now() + script_.delay;
            due.push_back({when, reply});
            if (script_.twice)
                due.push_back({when + kTwiceGap, reply});
            std::stable_sort(due.begin(), due.end(),
                             [](const Answer &a, const Answer &b) { return a.at < b.at; });
        }
        while (!due.empty() && due.front().at <= Clock::now()) {
            const QByteArray &bytes = due.front().bytes;
            if (::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
                return;
            due.pop_front();
        }
    }
}
