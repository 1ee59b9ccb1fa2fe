// Conversion throughput, with Google Benchmark. What the receive box shows
// costs a code page 932 decode and the bracket escape; what the send button
// sends costs the bracket unescape and a code page 932 encode. Each is set
// against glibc's iconv doing the bare conversion of the same data, and the
// ratio ours / iconv of the median CPU times is printed with the figures.
// Every side allocates the result it produces, once per iteration. The
// receive pair then runs once more with freed memory kept for reuse, which
// takes the first touches of fresh pages out and leaves the conversion work.
//
//   bench_codec [--benchmark_... options]
#include "BracketCodes.h"
#include "Cp932.h"
#include "Cp932Decoder.h"
#include "Cp932Sample.h"
#include "LargePages.h"
#include "MedianReporter.h"
#include "ReadingText.h"
#include "Summary.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <cstdio>
#include <iconv.h>
#include <malloc.h>
#include <sys/resource.h>

namespace {

constexpr qsizetype kLineBytes = 16 * 1024 * 1024;
constexpr qsizetype kSendUnits = 32 * 1024;
constexpr int kRepetitions = 5;
constexpr double kRatioTarget = 1.0;

// Page faults so far (first touches of fresh memory). On some virtual
// machines each costs over ten microseconds, and a conversion that writes
// more memory pays more of them: shown per iteration with every benchmark.
double minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_minflt);
}

void countFaults(benchmark::State &state, double before)
{
    state.counters["faults"] =
        benchmark::Counter(minorFaults() - before, benchmark::Counter::kAvgIterations);
}

const QByteArray &lineBytes()
{
    static const QByteArray bytes = Cp932Sample::mixedBytes(kLineBytes);
    return bytes;
}

const QString &typedText()
{
    static const QString text = Cp932Sample::sendText(kSendUnits);
    return text;
}

// The text the send button transmits for typedText(), as iconv takes it.
const QByteArray &unescapedUtf16()
{
    static const QString text = BracketCodes::UnescapeCodes(typedText());
    static const QByteArray bytes(reinterpret_cast<const char *>(text.utf16()),
                                  text.size() * qsizetype(sizeof(char16_t)));
    return bytes;
}

// Converts all of `in` with `cd` into a new buffer of `outCapacity` bytes;
// an empty result means iconv failed.
QByteArray iconvAll(iconv_t cd, const QByteArray &in, qsizetype outCapacity)
{
    QByteArray out(outCapacity, Qt::Uninitialized);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *inPtr = const_cast<char *>(in.constData());
    size_t inLeft = size_t(in.size());
    char *outPtr = out.data();
    size_t outLeft = size_t(out.size());
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0)
        return {};
    out.truncate(outPtr - out.data());
    return out;
}

void BM_OursDecodeEscape(benchmark::State &state)
{
    const QByteArray &bytes = lineBytes();
    const double faults = minorFaults();
    for (auto _ : state) {
        // What a read from the port goes through: the port's decoder, which
        // makes the escaped text straight from the bytes.
        Cp932Decoder decoder(LargePages::prefer);
        const QString shown = decoder.decodeEscaped(bytes);
        benchmark::DoNotOptimize(shown.constData());
    }
    countFaults(state, faults);
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

// The same in two passes, decode and then escape the decoded text, each
// on its own: the single pass above should beat their sum.
void BM_OursDecode(benchmark::State &state)
{
    const QByteArray &bytes = lineBytes();
    const double faults = minorFaults();
    for (auto _ : state) {
        Cp932Decoder decoder(LargePages::prefer);
        const QString text = decoder.decode(bytes);
        benchmark::DoNotOptimize(text.constData());
    }
    countFaults(state, faults);
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void BM_OursEscape(benchmark::State &state)
{
    const QString text = Cp932::decode(lineBytes());
    const double faults = minorFaults();
    for (auto _ : state) {
        const QString shown = ReadingText::escape(text, LargePages::prefer);
        benchmark::DoNotOptimize(shown.constData());
    }
    countFaults(state, faults);
    state.SetBytesProcessed(state.iterations() * lineBytes().size());
}

void BM_IconvDecode(benchmark::State &state)
{
    const QByteArray &bytes = lineBytes();
    const iconv_t cd = iconv_open("UTF-16LE", "CP932");
    if (cd == iconv_t(-1)) {
        state.SkipWithError("iconv_open(\"UTF-16LE\", \"CP932\") failed");
        return;
    }
    // Every byte gives at most one UTF-16 unit.
    const double faults = minorFaults();
    for (auto _ : state) {
        const QByteArray text = iconvAll(cd, bytes, bytes.size() * 2);
        benchmark::DoNotOptimize(text.constData());
    }
    iconv_close(cd);
    countFaults(state, faults);
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void BM_OursUnescapeEncode(benchmark::State &state)
{
    const QString &typed = typedText();
    const double faults = minorFaults();
    for (auto _ : state) {
        const QByteArray sent = Cp932::encode(BracketCodes::UnescapeCodes(typed));
        benchmark::DoNotOptimize(sent.constData());
    }
    countFaults(state, faults);
    state.SetItemsProcessed(state.iterations() * typed.size());
}

void BM_IconvEncode(benchmark::State &state)
{
    const QByteArray &utf16 = unescapedUtf16();
    const iconv_t cd = iconv_open("CP932", "UTF-16LE");
    if (cd == iconv_t(-1)) {
        state.SkipWithError("iconv_open(\"CP932\", \"UTF-16LE\") failed");
        return;
    }
    // Every UTF-16 unit gives at most two bytes.
    const double faults = minorFaults();
    for (auto _ : state) {
        const QByteArray sent = iconvAll(cd, utf16, utf16.size());
        benchmark::DoNotOptimize(sent.constData());
    }
    iconv_close(cd);
    countFaults(state, faults);
    state.SetItemsProcessed(state.iterations() * typedText().size());
}

BENCHMARK(BM_OursDecodeEscape)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_OursDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursEscape)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvDecode)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_OursUnescapeEncode)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_IconvEncode)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// The comparison means something only if both sides produce the same result
// from the same data; says what differs otherwise.
bool sameResults()
{
    const iconv_t decoder = iconv_open("UTF-16LE", "CP932");
    const iconv_t encoder = iconv_open("CP932", "UTF-16LE");
    if (decoder == iconv_t(-1) || encoder == iconv_t(-1)) {
        std::fprintf(stderr, "bench_codec: glibc has no CP932 converter\n");
        return false;
    }
    bool same = true;
    const QByteArray &bytes = lineBytes();
    const QString ours = Cp932::decode(bytes);
    const QByteArray theirs = iconvAll(decoder, bytes, bytes.size() * 2);
    if (theirs.isEmpty() ||
        QStringView(ours) != QStringView(reinterpret_cast<const char16_t *>(theirs.constData()),
                                         theirs.size() / 2)) {
        std::fprintf(stderr, "bench_codec: the sample decodes differently with iconv\n");
        same = false;
    }
    Cp932Decoder port;
    if (port.decodeEscaped(bytes) != BracketCodes::EscapeCodes(ours)) {
        std::fprintf(stderr, "bench_codec: the receive path shows the sample differently\n");
        same = false;
    }
    const QByteArray sent = Cp932::encode(BracketCodes::UnescapeCodes(typedText()));
    const QByteArray &utf16 = unescapedUtf16();
    if (sent != iconvAll(encoder, utf16, utf16.size())) {
        std::fprintf(stderr, "bench_codec: the send text encodes differently with iconv\n");
        same = false;
    }
    iconv_close(decoder);
    iconv_close(encoder);
    return same;
}

void printRatio(const QString &figure, double ours, double iconvSeconds, double scale,
                const QString &unit)
{
    const double ratio = ours / iconvSeconds;
    Summary::print(figure,
                   Summary::number(ratio, 2) + QStringLiteral(" (") +
                       Summary::number(ours * scale, 3, unit) + u')',
                   QStringLiteral("<= %1").arg(kRatioTarget, 0, 'f', 2),
                   QStringLiteral("iconv ") + Summary::number(iconvSeconds * scale, 3, unit),
                   Summary::judge(ratio <= kRatioTarget));
}

} // namespace

int main(int argc, char *argv[])
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!sameResults())
        return 1;

    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::string &error : reporter.errors())
        std::fprintf(stderr, "bench_codec: %s\n", error.c_str());
    if (!reporter.errors().empty())
        return 1;

    const double decodeOurs = reporter.medianSeconds("BM_OursDecodeEscape");
    const double decodeIconv = reporter.medianSeconds("BM_IconvDecode");
    if (decodeOurs > 0 && decodeIconv > 0)
        printRatio(QStringLiteral("receive: decode+escape 16 MiB, ours/iconv"), decodeOurs,
                   decodeIconv, 1e3, QStringLiteral("ms"));
    const double encodeOurs = reporter.medianSeconds("BM_OursUnescapeEncode");
    const double encodeIconv = reporter.medianSeconds("BM_IconvEncode");
    if (encodeOurs > 0 && encodeIconv > 0)
        printRatio(QStringLiteral("send: unescape+encode 32 Ki chars, ours/iconv"), encodeOurs,
                   encodeIconv, 1e6, QStringLiteral("us"));

    // The receive path writes three times the memory iconv writes (the
    // escaped text is longer than the decoded one), all of it fresh pages,
    // which the program asks the system to back with huge pages. Run once
    // more with the allocator keeping freed memory for reuse, so that the
    // same comparison shows the conversion work alone.
    if (decodeOurs > 0 && decodeIconv > 0) {
        std::printf("\nThe receive path again, with freed memory kept for reuse "
                    "(mallopt M_MMAP_MAX 0): no first-touch page faults\n");
        std::fflush(stdout);
        mallopt(M_MMAP_MAX, 0);
        mallopt(M_TRIM_THRESHOLD, INT_MAX);
        MedianReporter reused;
        benchmark::RunSpecifiedBenchmarks(&reused, "BM_OursDecodeEscape|BM_IconvDecode");
        const double oursReused = reused.medianSeconds("BM_OursDecodeEscape");
        const double iconvReused = reused.medianSeconds("BM_IconvDecode");
        if (!reused.errors().empty() || oursReused <= 0 || iconvReused <= 0) {
            std::fprintf(stderr, "bench_codec: the run with memory kept failed\n");
            benchmark::Shutdown();
            return 1;
        }
        const double ratio = oursReused / iconvReused;
        Summary::print(QStringLiteral("receive, memory reused (no page faults), ours/iconv"),
                       Summary::number(ratio, 2) + QStringLiteral(" (") +
                           Summary::number(oursReused * 1e3, 3, QStringLiteral("ms")) + u')',
                       QString(),
                       QStringLiteral("iconv ") +
                           Summary::number(iconvReused * 1e3, 3, QStringLiteral("ms")),
                       Summary::Status::NoTarget);
    }
    benchmark::Shutdown();
    return 0;
}
