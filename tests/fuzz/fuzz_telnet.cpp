// Fuzzes the Telnet reader with arbitrary bytes from a server, cut into
// pieces the input chooses. Checks what must hold for any input: no crash;
// the data bytes and COM port answers equal those of a plain reading of the
// whole input written here without a state machine; the negotiation answers
// do not depend on the cuts, are whole IAC verb option triples and never
// outnumber the server's bytes; data written by the client reads back whole.
//
// Input: byte 0 is the number n (0 to 15) of piece lengths that follow, each
// 1 to 256 and used in turn; the rest is what the server sent.
#include "TelnetStream.h"

#include <cstdlib>

namespace {

struct Reading {
    QByteArray data;
    QList<TelnetStream::ComPortAnswer> answers;
};

// Reads `wire` whole by looking ahead instead of keeping a state.
Reading readWhole(QByteArrayView wire)
{
    constexpr quint8 IAC = 255, SE = 240, SB = 250, WILL = 251;
    Reading out;
    const qsizetype n = wire.size();
    const auto at = [&](qsizetype i) { return quint8(wire[i]); };
    qsizetype i = 0;
    while (i < n) {
        if (at(i) != IAC) {
            out.data += wire[i++];
            continue;
        }
        if (i + 1 >= n)
            break;
        const quint8 command = at(i + 1);
        if (command == IAC) {
            out.data += char(IAC);
            i += 2;
        } else if (command >= WILL) {
            i += 3;
        } else if (command != SB) {
            i += 2;
        } else {
            // IAC SB option body IAC SE, or cut short by another command
            // (read again from its IAC), or by the end of the input.
            qsizetype j = i + 3;
            if (j > n)
                break;
            const quint8 option = at(i + 2);
            QByteArray body;
            for (;;) {
                if (j >= n || (at(j) == IAC && j + 1 >= n))
                    return out;
                if (at(j) != IAC) {
                    body += wire[j++];
                } else if (at(j + 1) == IAC) {
                    body += char(IAC);
                    j += 2;
                } else if (at(j + 1) == SE) {
                    if (option == TelnetStream::ComPort && !body.isEmpty() &&
                        1 + body.size() <= TelnetStream::kMaxSubnegotiation)
                        out.answers.append({quint8(body[0]), body.mid(1)});
                    i = j + 2;
                    break;
                } else {
                    i = j;
                    break;
                }
            }
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size == 0)
        return 0;
    const size_t cutCount = bytes[0] % 16;
    if (size < 1 + cutCount)
        return 0;
    const uint8_t *cuts = bytes + 1;
    const QByteArrayView wire(reinterpret_cast<const char *>(bytes + 1 + cutCount),
                              qsizetype(size - 1 - cutCount));

    TelnetStream pieces;
    Reading read;
    qsizetype from = 0;
    for (size_t k = 0; from < wire.size(); ++k) {
        const qsizetype length = cutCount == 0 ? wire.size() : cuts[k % cutCount] + 1;
        const QByteArrayView piece = wire.sliced(from, qMin(length, wire.size() - from));
        const QByteArray data = pieces.feed(piece);
        if (data.size() > piece.size())
            abort();
        read.data += data;
        from += piece.size();
    }
    read.answers = pieces.takeComPortAnswers();
    const QByteArray replies = pieces.takeReplies();

    const Reading expected = readWhole(wire);
    if (read.data != expected.data || read.answers != expected.answers)
        abort();

    TelnetStream whole;
    whole.feed(wire);
    if (whole.takeReplies() != replies)
        abort();
    if (replies.size() > wire.size() || replies.size() % 3 != 0)
        abort();
    for (qsizetype i = 0; i < replies.size(); i += 3) {
        const quint8 verb = quint8(replies[i + 1]);
        if (quint8(replies[i]) != TelnetStream::IAC || verb < TelnetStream::WILL ||
            verb > TelnetStream::DONT)
            abort();
    }

    TelnetStream far;
    if (far.feed(TelnetStream::data(wire)) != wire)
        abort();
    return 0;
}
