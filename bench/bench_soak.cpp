// Soak run: keeps the window's stations busy for minutes and watches the
// process's resident memory, so that growth the short tests cannot see shows.
//
//   bench_soak pair <minutes> [interval_ms=20]
//       A checking and an answering station in this process, joined by a
//       virtual null-modem cable; the checking station probes at the interval.
//   bench_soak stray <minutes> [bytes_per_second=65536]
//       An answering station whose far side is fed a stream of stray bytes
//       (NULs, control codes, broken code page 932 sequences, random bytes).
//
// Prints a line per sample and a summary. Exits non-zero on any error, when
// nothing got through, or when the resident memory at the end exceeds the
// figure after the first minute by more than kGrowthLimitKb.
#include "BenchStation.h"
#include "BracketCodes.h"
#include "Cp932.h"
#include "NullModemCable.h"
#include "PortFolder.h"
#include "PtyPair.h"
#include "TestWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr long kGrowthLimitKb = 4 * 1024;
constexpr std::chrono::milliseconds kTick{100};
constexpr std::chrono::seconds kPairSamplePeriod{60};
constexpr std::chrono::seconds kStraySamplePeriod{30};
constexpr std::chrono::milliseconds kSettle{300};
constexpr double kDefaultStrayRate = 65536; // bytes per second

// A frame as a device would send it: STX, digits, kana, kanji, half-width
// katakana, CR LF, ETX. No XON or XOFF: the window opens with XOn/XOff on.
const QString kPairText = QStringLiteral("[2]ABC123あいう表示ﾃｽﾄ[13][10][3]");
const QString kStrayAnswerText = QStringLiteral("ABC[13]あ");

long statusFieldKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0)
            return std::strtol(line.c_str() + length, nullptr, 10);
    }
    return -1;
}

long rssKb()
{
    return statusFieldKb("VmRSS:");
}

// Bytes handed out by malloc and not yet freed, large blocks mapped on their
// own included: tells a leak from an allocator that merely keeps freed pages.
long heapInUseKb()
{
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

double minutesOf(qint64 ms)
{
    return double(ms) / 60000.0;
}

// Every line goes out at once, for whoever watches a long run.
__attribute__((format(printf, 1, 2))) void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

// Resident memory at the three moments the verdict compares.
struct MemoryLog {
    long start = -1;
    long firstMinute = -1;
    long end = -1;

    void take(qint64 elapsedMs, long rss)
    {
        if (start < 0)
            start = rss;
        if (firstMinute < 0 && elapsedMs >= 60000)
            firstMinute = rss;
        end = rss;
    }

    void print() const
    {
        say("  rss at start        %ld kB\n", start);
        say("  rss after 1 min     %ld kB\n", firstMinute);
        say("  rss at end          %ld kB\n", end);
        say("  growth              %+ld kB (end minus first minute)\n", end - firstMinute);
    }

    // Appends the reason to `why` when the growth is over the limit.
    bool withinLimit(std::vector<std::string> &why) const
    {
        if (start < 0 || firstMinute < 0 || end < 0) {
            why.push_back("resident memory could not be read from /proc/self/status");
            return false;
        }
        if (end - firstMinute > kGrowthLimitKb) {
            why.push_back("rss grew by " + std::to_string(end - firstMinute) +
                          " kB after the first minute (limit " + std::to_string(kGrowthLimitKb) +
                          " kB)");
            return false;
        }
        return true;
    }
};

int verdict(const char *mode, const std::vector<std::string> &why)
{
    if (why.empty()) {
        say("  result              pass\n");
        return 0;
    }
    for (const std::string &reason : why)
        say("  FAIL: %s\n", reason.c_str());
    say("%s: failed\n", mode);
    return 1;
}

// Drives the sampling from one steady tick: a sample every `period` and at
// the end, and the longest gap between ticks (how long the event loop was
// ever held up).
class Sampler {
public:
    Sampler(std::chrono::milliseconds total, std::chrono::milliseconds period,
            std::function<void(qint64 elapsedMs)> sample)
        : total_(total), period_(period), sample_(std::move(sample))
    {
        tick_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick_, &QTimer::timeout, [this] { onTick(); });
    }

    void run()
    {
        clock_.start();
        lastTick_ = 0;
        sample_(0);
        next_ = period_.count();
        tick_.start(kTick);
        QEventLoop loop;
        quit_ = [&loop] { loop.quit(); };
        loop.exec();
        tick_.stop();
    }

    qint64 longestGapMs() const { return longestGap_; }

private:
    void onTick()
    {
        const qint64 now = clock_.elapsed();
        longestGap_ = std::max(longestGap_, now - lastTick_);
        lastTick_ = now;
        const qint64 end = total_.count();
        if (now >= next_ || now >= end) {
            sample_(now);
            next_ += period_.count();
        }
        if (now >= end)
            quit_();
    }

    std::chrono::milliseconds total_;
    std::chrono::milliseconds period_;
    std::function<void(qint64)> sample_;
    std::function<void()> quit_;
    QTimer tick_;
    QElapsedTimer clock_;
    qint64 next_ = 0;
    qint64 lastTick_ = 0;
    qint64 longestGap_ = 0;
};

void runEventsFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// ---------------------------------------------------------------- pair mode

int runPair(int minutes, int intervalMs)
{
    PortFolder folder;
    NullModemCable cable;
    if (!folder.isValid() || !cable.isValid() || !folder.map(1, cable.endA()) ||
        !folder.map(2, cable.endB())) {
        say("pair: no virtual cable: %s\n", qPrintable(cable.error()));
        return 1;
    }

    TestWindow answering(TestWindow::Real);
    if (!answering.open(2)) {
        say("pair: cannot open port 2: %s\n", qPrintable(answering.form->port().errorString()));
        return 1;
    }
    answering.answer(kPairText);

    TestWindow checking(TestWindow::Real);
    if (!checking.open(1)) {
        say("pair: cannot open port 1: %s\n", qPrintable(checking.form->port().errorString()));
        return 1;
    }
    LoopbackCheck &check = checking.form->check();
    qint64 probes = 0;
    QObject::connect(&check, &LoopbackCheck::probeSent, [&] { ++probes; });

    // The send button's own copy comes back as well; it is taken in before the
    // check starts, so that every probe is matched with its own echo.
    Controls::setBoxText(checking.c().sendText, kPairText);
    checking.form->controls().portButtons[Form1::Send]->click();
    runEventsFor(kSettle);
    checking.form->port().input();
    checking.c().checkEnabled->setChecked(true);
    checking.c().interval->setText(QString::number(intervalMs));
    checking.form->controls().startButton->click();

    say("pair: %d min, probe every %d ms, text %s (%lld bytes)\n", minutes, intervalMs,
        qPrintable(kPairText),
        static_cast<long long>(Cp932::encode(BracketCodes::UnescapeCodes(kPairText)).size()));

    const auto &stats = checking.check().statistics().values;
    MemoryLog memory;
    float previousCount = 0;
    int stalls = 0;
    Sampler sampler(std::chrono::minutes(minutes), kPairSamplePeriod, [&](qint64 elapsedMs) {
        const long rss = rssKb();
        memory.take(elapsedMs, rss);
        const float count = stats[Statistics::Count];
        if (elapsedMs > 0 && count == previousCount)
            ++stalls;
        previousCount = count;
        say("pair  %5.1f min  exchanges %8.0f  errors %4.0f  rss %7ld kB  heap %7ld kB\n",
            minutesOf(elapsedMs), double(count), double(stats[Statistics::Errors]), rss,
            heapInUseKb());
    });
    sampler.run();

    const bool bothOpen = checking.isOpen() && answering.isOpen();
    if (checking.check().running())
        checking.form->controls().startButton->click();
    runEventsFor(kSettle);

    const double count = stats[Statistics::Count];
    const double errors = stats[Statistics::Errors];
    say("pair summary: %d min at a %d ms interval\n", minutes, intervalMs);
    say("  probes sent         %lld\n", static_cast<long long>(probes));
    say("  exchanges           %.0f\n", count);
    say("  errors              %.0f\n", errors);
    if (count > 0)
        say("  response ms         min %.3f  mean %.3f  max %.3f\n",
            double(stats[Statistics::MinTime]) * 1000.0,
            double(stats[Statistics::TotalTime]) / count * 1000.0,
            double(stats[Statistics::MaxTime]) * 1000.0);
    say("  bytes on the cable  %lld\n", static_cast<long long>(cable.bytesCarried()));
    say("  longest tick gap    %lld ms\n", static_cast<long long>(sampler.longestGapMs()));
    memory.print();

    std::vector<std::string> why;
    if (errors > 0)
        why.push_back(std::to_string(static_cast<long long>(errors)) + " errors");
    if (count <= 0)
        why.push_back("no exchange completed");
    if (stalls > 0)
        why.push_back("no exchange completed in " + std::to_string(stalls) + " sample period(s)");
    if (!bothOpen)
        why.push_back("a port closed during the run");
    memory.withinLimit(why);

    checking.form->controls().portButtons[Form1::Close]->click();
    answering.form->controls().portButtons[Form1::Close]->click();
    return verdict("pair", why);
}

// --------------------------------------------------------------- stray mode

// Line noise and garbage as a misbehaving device or a wrong baud rate sends
// it: runs of random bytes, NUL and control-code bursts, code page 932 lead
// bytes with bad or missing trail bytes, unassigned cells, the single bytes
// code page 932 leaves undefined, mixed with stretches of good text.
class StrayBytes {
public:
    explicit StrayBytes(std::uint32_t seed) : random_(seed) {}

    void fill(std::vector<char> &out, std::size_t size)
    {
        out.clear();
        while (out.size() < size)
            appendRun(out);
        out.resize(size); // a run cut here may leave a lead byte last
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    void put(std::vector<char> &out, int byte) { out.push_back(char(byte)); }

    int leadByte() { return pick(0, 1) ? pick(0x81, 0x9F) : pick(0xE0, 0xFC); }

    void appendRun(std::vector<char> &out)
    {
        const int length = pick(1, 48);
        switch (pick(0, 6)) {
        case 0: // anything at all
            for (int i = 0; i < length; ++i)
                put(out, pick(0, 255));
            break;
        case 1: // NULs, as from a line held in break
            for (int i = 0; i < length; ++i)
                put(out, 0);
            break;
        case 2: // control codes
            for (int i = 0; i < length; ++i)
                put(out, pick(0, 4) ? pick(0, 31) : 127);
            break;
        case 3: // lead bytes whose trail byte cannot follow them
            for (int i = 0; i < length; ++i) {
                put(out, leadByte());
                const int bad[] = {pick(0x00, 0x3F), 0x7F, pick(0xFD, 0xFF)};
                put(out, bad[pick(0, 2)]);
            }
            break;
        case 4: // well-formed pairs in unassigned rows and the user area
            for (int i = 0; i < length; ++i) {
                const int rows[] = {0x85, 0x86, 0xEB, 0xEF, pick(0xF0, 0xF9)};
                put(out, rows[pick(0, 4)]);
                put(out, pick(0, 1) ? pick(0x40, 0x7E) : pick(0x80, 0xFC));
            }
            break;
        case 5: // the single bytes with no character, and lone lead bytes
            for (int i = 0; i < length; ++i) {
                const int lone[] = {0x80, 0xA0, 0xFD, 0xFE, 0xFF, leadByte()};
                put(out, lone[pick(0, 5)]);
            }
            break;
        default: // good text: ASCII, half-width katakana, hiragana
            for (int i = 0; i < length; ++i) {
                switch (pick(0, 2)) {
                case 0:
                    put(out, pick(0x20, 0x7E));
                    break;
                case 1:
                    put(out, pick(0xA1, 0xDF));
                    break;
                default:
                    put(out, 0x82);
                    put(out, pick(0x9F, 0xF1));
                    break;
                }
            }
            break;
        }
    }

    std::mt19937 random_;
};

// Writes stray bytes into a pseudo-terminal's master at a steady rate on its
// own thread, so the station's event loop runs undisturbed, and reads away
// whatever the station sends back (its XOFF and XON included).
class StrayFeeder {
public:
    StrayFeeder(int fd, double bytesPerSecond, std::uint32_t seed)
        : fd_(fd), rate_(bytesPerSecond), bytes_(seed)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~StrayFeeder() { stop(); }
    StrayFeeder(const StrayFeeder &) = delete;
    StrayFeeder &operator=(const StrayFeeder &) = delete;

    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    qint64 fed() const { return fed_.load(); }
    qint64 returned() const { return returned_.load(); }
    bool failed() const { return failed_.load(); }

private:
    void run()
    {
        using Clock = std::chrono::steady_clock;
        constexpr int kPollMs = 10;
        const double maxBudget = rate_ * 0.1; // a stalled line does not save up a flood
        auto last = Clock::now();
        double budget = 0;
        std::vector<char> chunk;
        std::size_t offset = 0;
        while (!stop_) {
            const auto now = Clock::now();
            budget = std::min(maxBudget,
                              budget + rate_ * std::chrono::duration<double>(now - last).count());
            last = now;
            if (offset == chunk.size() && budget >= 1) {
                bytes_.fill(chunk, std::size_t(budget));
                budget -= double(chunk.size());
                offset = 0;
            }
            const bool pending = offset < chunk.size();
            pollfd entry{fd_, short(POLLIN | (pending ? POLLOUT : 0)), 0};
            if (::poll(&entry, 1, kPollMs) == -1) {
                if (errno == EINTR)
                    continue;
                failed_ = true;
                return;
            }
            if (entry.revents & POLLIN) {
                char sink[4096];
                const ssize_t n = ::read(fd_, sink, sizeof sink);
                if (n > 0)
                    returned_ += n;
            }
            if (pending && (entry.revents & POLLOUT)) {
                const ssize_t n = ::write(fd_, chunk.data() + offset, chunk.size() - offset);
                if (n > 0) {
                    offset += std::size_t(n);
                    fed_ += n;
                } else if (n == -1 && errno != EAGAIN && errno != EINTR) {
                    failed_ = true;
                    return;
                }
            }
            if (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                failed_ = true;
                return;
            }
        }
    }

    int fd_;
    double rate_;
    StrayBytes bytes_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::atomic<qint64> fed_{0};
    std::atomic<qint64> returned_{0};
    std::thread thread_;
};

int runStray(int minutes, double bytesPerSecond)
{
    constexpr std::uint32_t kSeed = 20240601;
    BenchStation bench("bench_soak stray", BenchStation::FarEnd::Played);
    if (!bench.open(false))
        return 1;
    TestWindow &station = bench.window();
    PtyPair &line = bench.far();
    station.answer(kStrayAnswerText);
    const QString &rxBuffer = station.check().received();

    say("stray: %d min, %.0f bytes/s of stray bytes (seed %u) into an answering station "
        "holding %s; receive buffer cap %lld chars\n",
        minutes, bytesPerSecond, kSeed, qPrintable(kStrayAnswerText),
        static_cast<long long>(LoopbackCheck::kRxBufferCap));

    MemoryLog memory;
    // When the receive buffer first holds the cap, watched more finely than
    // the samples.
    qint64 capReachedMs = -1;
    QElapsedTimer sinceStart;
    QTimer capWatch;
    QObject::connect(&capWatch, &QTimer::timeout, [&] {
        if (capReachedMs < 0 && rxBuffer.size() >= LoopbackCheck::kRxBufferCap)
            capReachedMs = sinceStart.elapsed();
    });
    qint64 previousFed = 0;
    int stalls = 0;
    StrayFeeder feeder(line.masterFd(), bytesPerSecond, kSeed);
    Sampler sampler(std::chrono::minutes(minutes), kStraySamplePeriod, [&](qint64 elapsedMs) {
        const long rss = rssKb();
        memory.take(elapsedMs, rss);
        const qint64 fed = feeder.fed();
        if (elapsedMs > 0 && fed == previousFed)
            ++stalls;
        previousFed = fed;
        say("stray %5.1f min  fed %10lld bytes  rx buffer %8lld chars  rss %7ld kB  heap %7ld "
            "kB\n",
            minutesOf(elapsedMs), static_cast<long long>(fed),
            static_cast<long long>(rxBuffer.size()), rss, heapInUseKb());
    });
    sinceStart.start();
    capWatch.start(kTick);
    sampler.run();
    capWatch.stop();
    feeder.stop();
    const bool stayedOpen = station.isOpen();

    // Whether the station still answers a clean copy of its text once the
    // noise stops (after an XON, in case the noise ended on an XOFF).
    runEventsFor(kSettle);
    line.readWithoutEventLoop(1 << 20, 0);
    const QByteArray text = Cp932::encode(BracketCodes::UnescapeCodes(kStrayAnswerText));
    line.write(QByteArray(1, '\x11') + text);
    const QByteArray answer = line.readFor(1000);

    say("stray summary: %d min of stray bytes at %.0f bytes/s\n", minutes, bytesPerSecond);
    say("  bytes fed           %lld (%.0f bytes/s)\n", static_cast<long long>(feeder.fed()),
        double(feeder.fed()) / (minutes * 60.0));
    say("  bytes sent back     %lld\n", static_cast<long long>(feeder.returned()));
    if (capReachedMs >= 0)
        say("  rx buffer at cap    after %.1f s\n", double(capReachedMs) / 1000.0);
    else
        say("  rx buffer at cap    never (%lld chars at the end)\n",
            static_cast<long long>(rxBuffer.size()));
    say("  clean text after    %s (rx buffer %lld chars)\n",
        answer.contains(text) ? "answered" : "not answered",
        static_cast<long long>(rxBuffer.size()));
    say("  longest tick gap    %lld ms\n", static_cast<long long>(sampler.longestGapMs()));
    memory.print();

    std::vector<std::string> why;
    if (feeder.failed())
        why.push_back("the feeder lost the pseudo-terminal");
    if (feeder.fed() <= 0)
        why.push_back("no byte was fed");
    if (stalls > 0)
        why.push_back("no byte fed in " + std::to_string(stalls) + " sample period(s)");
    if (!stayedOpen)
        why.push_back("the station's port closed during the run");
    memory.withinLimit(why);

    station.form->controls().portButtons[Form1::Close]->click();
    return verdict("stray", why);
}

int usage()
{
    say("usage: bench_soak pair <minutes> [interval_ms=20]\n"
        "       bench_soak stray <minutes> [bytes_per_second=%.0f]\n",
        kDefaultStrayRate);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    BenchStation::preferOffscreen();
    QApplication app(argc, argv);
    if (argc < 3)
        return usage();
    const std::string mode = argv[1];
    const int minutes = std::atoi(argv[2]);
    if (minutes < 1)
        return usage();
    if (mode == "pair") {
        const int intervalMs = argc > 3 ? std::atoi(argv[3]) : 20;
        return intervalMs >= 1 ? runPair(minutes, intervalMs) : usage();
    }
    if (mode == "stray") {
        const double rate = argc > 3 ? std::atof(argv[3]) : kDefaultStrayRate;
        return rate >= 1 ? runStray(minutes, rate) : usage();
    }
    return usage();
}
