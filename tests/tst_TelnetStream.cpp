// The Telnet protocol of a line behind a device server: the bytes a server
// sends, cut anywhere, as data, negotiation answers and COM port answers; the
// client's own bytes; option negotiation with well- and ill-behaved servers.
#include "TelnetStream.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>

using Telnet = TelnetStream;
using Answer = TelnetStream::ComPortAnswer;
using Answers = QList<Answer>;
Q_DECLARE_METATYPE(TelnetStream::ComPortAnswer)

char *toString(const TelnetStream::ComPortAnswer &answer)
{
    return QTest::toString("command " + QByteArray::number(answer.command) + " value " +
                           answer.value.toHex(' '));
}

namespace {

// Builds wire bytes from byte values: bytes({Telnet::IAC, Telnet::NOP}).
QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(quint8(v));
    return out;
}

QByteArray allByteValues()
{
    QByteArray out;
    for (int v = 0; v < 256; ++v)
        out += char(v);
    return out;
}

QByteArray sub(int option, const QByteArray &valueOnTheWire)
{
    return bytes({Telnet::IAC, Telnet::SB, option}) + valueOnTheWire +
           bytes({Telnet::IAC, Telnet::SE});
}

struct Decoded {
    QByteArray data;
    QByteArray replies;
    Answers answers;
};

// Feeds `wire` to a fresh stream in pieces ending at `cuts` (ascending).
Decoded feedInPieces(const QByteArray &wire, const QList<qsizetype> &cuts)
{
    Telnet telnet;
    Decoded out;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        out.data += telnet.feed(QByteArrayView(wire).sliced(from, cut - from));
        from = cut;
    }
    out.data += telnet.feed(QByteArrayView(wire).sliced(from));
    out.replies = telnet.takeReplies();
    out.answers = telnet.takeComPortAnswers();
    return out;
}

QList<qsizetype> everyByte(const QByteArray &wire)
{
    QList<qsizetype> cuts;
    for (qsizetype i = 1; i < wire.size(); ++i)
        cuts.append(i);
    return cuts;
}

// The verb-option triples in `bytes`, which hold negotiation only.
QList<QPair<quint8, quint8>> negotiations(const QByteArray &bytes)
{
    QList<QPair<quint8, quint8>> out;
    for (qsizetype i = 0; i + 2 < bytes.size(); i += 3) {
        if (quint8(bytes[i]) == Telnet::IAC)
            out.append({quint8(bytes[i + 1]), quint8(bytes[i + 2])});
    }
    return out;
}

} // namespace

class TestTelnetStream : public QObject {
    Q_OBJECT
private slots:
    void decodesServerBytesCutAnywhere_data();
    void decodesServerBytesCutAnywhere();
    void answerValueReadsAsNumber_data();
    void answerValueReadsAsNumber();
    void escapesDataForTheWire_data();
    void escapesDataForTheWire();
    void writesComPortCommands_data();
    void writesComPortCommands();
    void startsByAskingForItsOptions();
    void answersServerRequests_data();
    void answersServerRequests();
    void queuesTheOppositeRequest_data();
    void queuesTheOppositeRequest();
    void negotiationEndsWithAnyServer_data();
    void negotiationEndsWithAnyServer();
};

void TestTelnetStream::decodesServerBytesCutAnywhere_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<Answers>("answers");

    QByteArray everyValueEscaped;
    for (int v = 0; v < 256; ++v)
        everyValueEscaped += v == 255 ? bytes({255, 255}) : bytes({v});
    QTest::newRow("every byte value, IAC doubled")
        << everyValueEscaped << allByteValues() << Answers{};
    QTest::newRow("empty") << QByteArray() << QByteArray() << Answers{};
    QTest::newRow("NUL kept") << bytes({0, 'A', 0, 0}) << bytes({0, 'A', 0, 0}) << Answers{};
    QTest::newRow("CR NUL not translated")
        << QByteArray("A\r\0B", 4) << QByteArray("A\r\0B", 4) << Answers{};
    QTest::newRow("CR LF not translated")
        << QByteArray("A\r\n") << QByteArray("A\r\n") << Answers{};
    QTest::newRow("CR at the end comes through")
        << QByteArray("OK\r") << QByteArray("OK\r") << Answers{};
    QTest::newRow("IAC IAC twice") << bytes({255, 255, 255, 255}) << bytes({255, 255}) << Answers{};

    // Commands without meaning for the line, the ends of their range
    // included: SE and GA border on the ones read.
    const QList<QPair<const char *, int>> dropped = {
        {"command 0 dropped", 0},     {"EOR dropped", 239},       {"stray SE dropped", Telnet::SE},
        {"NOP dropped", Telnet::NOP}, {"DM dropped", Telnet::DM}, {"AYT dropped", 246},
        {"GA dropped", Telnet::GA},
    };
    for (const auto &[name, command] : dropped)
        QTest::newRow(name) << QByteArray("ab") + bytes({Telnet::IAC, command}) + "cd"
                            << QByteArray("abcd") << Answers{};
    QTest::newRow("negotiation between data")
        << QByteArray("ab") + bytes({Telnet::IAC, Telnet::DO, 0}) + "c" +
               bytes({Telnet::IAC, Telnet::WILL, 3}) + "d"
        << QByteArray("abcd") << Answers{};

    QTest::newRow("baud rate answer") << sub(Telnet::ComPort, bytes({101, 0, 0, 0x25, 0x80}))
                                      << QByteArray() << Answers{{101, bytes({0, 0, 0x25, 0x80})}};
    QTest::newRow("IAC doubled inside a value")
        << sub(Telnet::ComPort, bytes({101, 0, 255, 255, 0, 255, 255})) << QByteArray()
        << Answers{{101, bytes({0, 255, 0, 255})}};
    QTest::newRow("SE and SB bytes inside a value")
        << sub(Telnet::ComPort, bytes({106, Telnet::SE, Telnet::SB})) << QByteArray()
        << Answers{{106, bytes({Telnet::SE, Telnet::SB})}};
    QTest::newRow("answers between data")
        << QByteArray("a") + sub(Telnet::ComPort, bytes({103, 3})) + "b" +
               sub(Telnet::ComPort, bytes({104, 1})) + "c"
        << QByteArray("abc") << Answers{{103, bytes({3})}, {104, bytes({1})}};
    QTest::newRow("answer without a value")
        << sub(Telnet::ComPort, bytes({112})) << QByteArray() << Answers{{112, {}}};
    QTest::newRow("subnegotiation without a command dropped")
        << QByteArray("a") + sub(Telnet::ComPort, {}) + "b" << QByteArray("ab") << Answers{};
    QTest::newRow("another option's subnegotiation dropped")
        << QByteArray("a") + sub(24, bytes({1})) + "b" << QByteArray("ab") << Answers{};

    // The bound counts the option, the command and the undoubled value.
    const qsizetype longest = Telnet::kMaxSubnegotiation - 2;
    QTest::newRow("subnegotiation at the bound kept")
        << sub(Telnet::ComPort, bytes({100}) + QByteArray(longest, 'x')) + "after"
        << QByteArray("after") << Answers{{100, QByteArray(longest, 'x')}};
    QTest::newRow("subnegotiation one past the bound dropped")
        << sub(Telnet::ComPort, bytes({100}) + QByteArray(longest + 1, 'x')) + "after"
        << QByteArray("after") << Answers{};
    QTest::newRow("answer after a dropped long one kept")
        << sub(Telnet::ComPort, bytes({100}) + QByteArray(longest + 1, 'x')) +
               sub(Telnet::ComPort, bytes({103, 3})) + "after"
        << QByteArray("after") << Answers{{103, bytes({3})}};
    QByteArray doubledIacs;
    for (qsizetype i = 0; i < longest; ++i)
        doubledIacs += bytes({255, 255});
    QTest::newRow("doubled IACs at the bound kept")
        << sub(Telnet::ComPort, bytes({100}) + doubledIacs) << QByteArray()
        << Answers{{100, QByteArray(longest, char(255))}};
    QTest::newRow("doubled IACs one past the bound dropped")
        << sub(Telnet::ComPort, bytes({100}) + doubledIacs + bytes({255, 255})) + "after"
        << QByteArray("after") << Answers{};
    QTest::newRow("64 KiB of subnegotiation dropped")
        << sub(Telnet::ComPort, bytes({106}) + QByteArray(1 << 16, '\x01')) + "after"
        << QByteArray("after") << Answers{};
    QTest::newRow("subnegotiation never ended hides what follows")
        << QByteArray("a") + bytes({Telnet::IAC, Telnet::SB, Telnet::ComPort, 106}) + "bcd"
        << QByteArray("a") << Answers{};

    // A subnegotiation whose IAC SE was lost ends at the next command.
    QTest::newRow("NOP ends an unfinished subnegotiation")
        << bytes({Telnet::IAC, Telnet::SB, Telnet::ComPort, 101, 1, 2, Telnet::IAC, Telnet::NOP}) +
               "x"
        << QByteArray("x") << Answers{};
    QTest::newRow("SB ends an unfinished subnegotiation")
        << bytes({Telnet::IAC, Telnet::SB, Telnet::ComPort, 101, 1}) +
               sub(Telnet::ComPort, bytes({102, 8}))
        << QByteArray() << Answers{{102, bytes({8})}};
    QTest::newRow("negotiation ends an unfinished subnegotiation")
        << bytes({Telnet::IAC, Telnet::SB, Telnet::ComPort, 101, 1, Telnet::IAC, Telnet::WILL, 3}) +
               "x"
        << QByteArray("x") << Answers{};
}

void TestTelnetStream::decodesServerBytesCutAnywhere()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, data);
    QFETCH(Answers, answers);

    const Decoded whole = feedInPieces(wire, {});
    QCOMPARE(whole.data, data);
    QCOMPARE(whole.answers, answers);

    const Decoded byteByByte = feedInPieces(wire, everyByte(wire));
    QCOMPARE(byteByByte.data, data);
    QCOMPARE(byteByByte.answers, answers);
    QCOMPARE(byteByByte.replies, whole.replies);

    // Two pieces, cut at every place; the 64 KiB row only at a few.
    const qsizetype step = wire.size() > 4096 ? wire.size() / 64 : 1;
    for (qsizetype cut = 0; cut <= wire.size(); cut += step) {
        const Decoded two = feedInPieces(wire, {cut});
        QVERIFY2(two.data == data && two.answers == answers && two.replies == whole.replies,
                 qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }

    QRandomGenerator random(2217);
    for (int round = 0; round < 20; ++round) {
        QList<qsizetype> cuts;
        for (qsizetype at = 0; at < wire.size();) {
            at += 1 + random.bounded(8);
            if (at < wire.size())
                cuts.append(at);
        }
        const Decoded pieces = feedInPieces(wire, cuts);
        QCOMPARE(pieces.data, data);
        QCOMPARE(pieces.answers, answers);
        QCOMPARE(pieces.replies, whole.replies);
    }
}

void TestTelnetStream::answerValueReadsAsNumber_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<quint32>("number");

    QTest::newRow("9600") << bytes({0, 0, 0x25, 0x80}) << quint32(9600);
    QTest::newRow("115200") << bytes({0, 0x01, 0xC2, 0}) << quint32(115200);
    QTest::newRow("every bit set") << bytes({255, 255, 255, 255}) << quint32(0xFFFFFFFF);
    QTest::newRow("high bit in each byte")
        << bytes({0x80, 0x81, 0x82, 0x83}) << quint32(0x80818283);
    QTest::newRow("one byte") << bytes({8}) << quint32(8);
    QTest::newRow("one byte above 127") << bytes({200}) << quint32(200);
    QTest::newRow("empty") << QByteArray() << quint32(0);
    QTest::newRow("five bytes: the first four") << bytes({0, 0, 0x25, 0x80, 7}) << quint32(9600);
}

void TestTelnetStream::answerValueReadsAsNumber()
{
    QFETCH(QByteArray, value);
    QFETCH(quint32, number);
    QCOMPARE((Answer{101, value}.number()), number);
}

void TestTelnetStream::escapesDataForTheWire_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("text without IAC") << QByteArray("AT\r\n") << QByteArray("AT\r\n");
    QTest::newRow("IAC alone") << bytes({255}) << bytes({255, 255});
    QTest::newRow("IAC between") << bytes({'a', 255, 'b'}) << bytes({'a', 255, 255, 'b'});
    QTest::newRow("IACs in a row")
        << bytes({255, 255, 255}) << bytes({255, 255, 255, 255, 255, 255});
    QTest::newRow("command bytes other than IAC")
        << bytes({240, 250, 251, 254}) << bytes({240, 250, 251, 254});
    QTest::newRow("NUL and CR as they are") << QByteArray("\r\0", 2) << QByteArray("\r\0", 2);
    QByteArray everyValue = allByteValues();
    QTest::newRow("every byte value") << everyValue << everyValue + bytes({255});
}

void TestTelnetStream::escapesDataForTheWire()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wire);

    QCOMPARE(Telnet::data(data), wire);
    // What the client sends, a server of its own kind reads back whole.
    Telnet far;
    QCOMPARE(far.feed(Telnet::data(data)), data);
    QCOMPARE(far.takeReplies(), QByteArray());
}

void TestTelnetStream::writesComPortCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("wire"); // the code and value, IAC doubled

    using Flow = LineSettings::FlowControl;
    using Stop = LineSettings::StopBits;
    QTest::newRow("9600 baud") << Telnet::setBaudRate(9600) << 1 << bytes({1, 0, 0, 0x25, 0x80});
    QTest::newRow("115200 baud") << Telnet::setBaudRate(115200) << 1
                                 << bytes({1, 0, 0x01, 0xC2, 0});
    QTest::newRow("rate with a 0xFF byte doubled")
        << Telnet::setBaudRate(0x1FF) << 1 << bytes({1, 0, 0, 1, 255, 255});
    QTest::newRow("largest rate") << Telnet::setBaudRate(2147483647) << 1
                                  << bytes({1, 0x7F, 255, 255, 255, 255, 255, 255});
    QTest::newRow("5 data bits") << Telnet::setDataSize(5) << 2 << bytes({2, 5});
    QTest::newRow("8 data bits") << Telnet::setDataSize(8) << 2 << bytes({2, 8});
    QTest::newRow("no parity") << Telnet::setParity('N') << 3 << bytes({3, 1});
    QTest::newRow("odd parity") << Telnet::setParity('O') << 3 << bytes({3, 2});
    QTest::newRow("even parity") << Telnet::setParity('E') << 3 << bytes({3, 3});
    QTest::newRow("mark parity") << Telnet::setParity('M') << 3 << bytes({3, 4});
    QTest::newRow("space parity") << Telnet::setParity('S') << 3 << bytes({3, 5});
    QTest::newRow("unknown parity asks for the current one")
        << Telnet::setParity('x') << 3 << bytes({3, 0});
    QTest::newRow("1 stop bit") << Telnet::setStopSize(Stop::One) << 4 << bytes({4, 1});
    QTest::newRow("2 stop bits") << Telnet::setStopSize(Stop::Two) << 4 << bytes({4, 2});
    QTest::newRow("1.5 stop bits") << Telnet::setStopSize(Stop::OneAndHalf) << 4 << bytes({4, 3});
    QTest::newRow("no flow control") << Telnet::setFlowControl(Flow::None) << 5 << bytes({5, 1});
    QTest::newRow("XON/XOFF") << Telnet::setFlowControl(Flow::XonXoff) << 5 << bytes({5, 2});
    QTest::newRow("RTS/CTS") << Telnet::setFlowControl(Flow::RtsCts) << 5 << bytes({5, 3});
    QTest::newRow("RTS/CTS with XON/XOFF asks for hardware")
        << Telnet::setFlowControl(Flow::RtsCtsXonXoff) << 5 << bytes({5, 3});
    QTest::newRow("purge receive")
        << Telnet::purgeData(Telnet::Purge::Receive) << 12 << bytes({12, 1});
    QTest::newRow("purge transmit")
        << Telnet::purgeData(Telnet::Purge::Transmit) << 12 << bytes({12, 2});
    QTest::newRow("purge both") << Telnet::purgeData(Telnet::Purge::Both) << 12 << bytes({12, 3});
    QTest::newRow("signature text")
        << Telnet::comPortCommand(Telnet::Signature, "commcheck") << 0 << bytes({0}) + "commcheck";
    QTest::newRow("command code IAC doubled")
        << Telnet::comPortCommand(255, bytes({1})) << 255 << bytes({255, 255, 1});
}

void TestTelnetStream::writesComPortCommands()
{
    QFETCH(QByteArray, command);
    QFETCH(int, code);
    QFETCH(QByteArray, wire);

    QCOMPARE(command, sub(Telnet::ComPort, wire));

    // Read back as a server's answer would be, code and value are undoubled.
    Telnet far;
    QCOMPARE(far.feed(command), QByteArray());
    const Answers read = far.takeComPortAnswers();
    QCOMPARE(read.size(), 1);
    QCOMPARE(read[0].command, quint8(code));
    QCOMPARE(Telnet::data(bytes({code}) + read[0].value), wire);
}

void TestTelnetStream::startsByAskingForItsOptions()
{
    Telnet telnet;
    QCOMPARE(
        telnet.start(),
        bytes({Telnet::IAC, Telnet::WILL, Telnet::Binary, Telnet::IAC, Telnet::DO, Telnet::Binary,
               Telnet::IAC, Telnet::WILL, Telnet::SuppressGoAhead, Telnet::IAC, Telnet::DO,
               Telnet::SuppressGoAhead, Telnet::IAC, Telnet::WILL, Telnet::ComPort}));
    QCOMPARE(telnet.takeReplies(), QByteArray());
    QVERIFY(!telnet.comPortAgreed());
    QVERIFY(!telnet.serverRefusedComPort());
    QVERIFY(!telnet.binaryBothWays());
}

void TestTelnetStream::answersServerRequests_data()
{
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<bool>("comPortAgreed");
    QTest::addColumn<bool>("comPortRefused");
    QTest::addColumn<bool>("binary");

    const int B = Telnet::Binary, S = Telnet::SuppressGoAhead, C = Telnet::ComPort;
    QTest::newRow("server agrees to everything")
        << bytes({Telnet::IAC, Telnet::DO, B, Telnet::IAC, Telnet::WILL, B, Telnet::IAC, Telnet::DO,
                  S, Telnet::IAC, Telnet::WILL, S, Telnet::IAC, Telnet::DO, C})
        << QByteArray() << true << false << true;
    QTest::newRow("server refuses the COM port")
        << bytes({Telnet::IAC, Telnet::DO, B, Telnet::IAC, Telnet::WILL, B, Telnet::IAC,
                  Telnet::DONT, C})
        << QByteArray() << false << true << true;
    QTest::newRow("server refuses everything")
        << bytes({Telnet::IAC, Telnet::DONT, B, Telnet::IAC, Telnet::WONT, B, Telnet::IAC,
                  Telnet::DONT, S, Telnet::IAC, Telnet::WONT, S, Telnet::IAC, Telnet::DONT, C})
        << QByteArray() << false << true << false;
    QTest::newRow("binary one way only")
        << bytes({Telnet::IAC, Telnet::DO, B, Telnet::IAC, Telnet::WONT, B}) << QByteArray()
        << false << false << false;
    QTest::newRow("echo and terminal type refused")
        << bytes({Telnet::IAC, Telnet::WILL, 1, Telnet::IAC, Telnet::DO, 24})
        << bytes({Telnet::IAC, Telnet::DONT, 1, Telnet::IAC, Telnet::WONT, 24}) << false << false
        << false;
    QTest::newRow("option 255 refused")
        << bytes({Telnet::IAC, Telnet::DO, 255, Telnet::IAC, Telnet::WILL, 255})
        << bytes({Telnet::IAC, Telnet::WONT, 255, Telnet::IAC, Telnet::DONT, 255}) << false << false
        << false;
    QTest::newRow("agreement repeated is not answered")
        << bytes({Telnet::IAC, Telnet::DO, C, Telnet::IAC, Telnet::DO, C, Telnet::IAC, Telnet::WILL,
                  B, Telnet::IAC, Telnet::WILL, B})
        << QByteArray() << true << false << false;
    QTest::newRow("refusal repeated is not answered")
        << bytes({Telnet::IAC, Telnet::DONT, C, Telnet::IAC, Telnet::DONT, C}) << QByteArray()
        << false << true << false;
    QTest::newRow("unknown option asked twice, refused twice")
        << bytes({Telnet::IAC, Telnet::DO, 24, Telnet::IAC, Telnet::DO, 24})
        << bytes({Telnet::IAC, Telnet::WONT, 24, Telnet::IAC, Telnet::WONT, 24}) << false << false
        << false;
    QTest::newRow("refusal of an option never asked for is not answered")
        << bytes({Telnet::IAC, Telnet::DONT, 24, Telnet::IAC, Telnet::WONT, 1}) << QByteArray()
        << false << false << false;
    QTest::newRow("server turns the COM port off after agreeing")
        << bytes({Telnet::IAC, Telnet::DO, C, Telnet::IAC, Telnet::DONT, C})
        << bytes({Telnet::IAC, Telnet::WONT, C}) << false << true << false;
    QTest::newRow("server turns binary off after agreeing")
        << bytes({Telnet::IAC, Telnet::DO, B, Telnet::IAC, Telnet::WILL, B, Telnet::IAC,
                  Telnet::WONT, B})
        << bytes({Telnet::IAC, Telnet::DONT, B}) << false << false << false;
    QTest::newRow("server asks for the COM port it refused")
        << bytes({Telnet::IAC, Telnet::DONT, C, Telnet::IAC, Telnet::DO, C})
        << bytes({Telnet::IAC, Telnet::WILL, C}) << true << false << false;
    QTest::newRow("server offering the COM port itself is refused")
        << bytes({Telnet::IAC, Telnet::WILL, C}) << bytes({Telnet::IAC, Telnet::DONT, C}) << false
        << false << false;
    QTest::newRow("negotiation inside data")
        << QByteArray("x") + bytes({Telnet::IAC, Telnet::DO, C}) + "y" +
               bytes({Telnet::IAC, Telnet::DO, 24}) + "z"
        << bytes({Telnet::IAC, Telnet::WONT, 24}) << true << false << false;
}

void TestTelnetStream::answersServerRequests()
{
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, replies);
    QFETCH(bool, comPortAgreed);
    QFETCH(bool, comPortRefused);
    QFETCH(bool, binary);

    for (bool byteByByte : {false, true}) {
        Telnet telnet;
        telnet.start();
        if (byteByByte) {
            for (char c : server)
                telnet.feed(QByteArrayView(&c, 1));
        } else {
            telnet.feed(server);
        }
        QCOMPARE(telnet.takeReplies(), replies);
        QCOMPARE(telnet.comPortAgreed(), comPortAgreed);
        QCOMPARE(telnet.serverRefusedComPort(), comPortRefused);
        QCOMPARE(telnet.binaryBothWays(), binary);
    }
}

void TestTelnetStream::queuesTheOppositeRequest_data()
{
    // Steps, three bytes each: 'a' (ask for our side) with 1 or 0 (on or
    // off) and the option, or 'r' (received) with the verb and the option;
    // after the client's start().
    QTest::addColumn<QByteArray>("steps");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("state"); // TelnetStream::State of our COM port side
    QTest::addColumn<bool>("queued");
    QTest::addColumn<bool>("refused");

    const int C = Telnet::ComPort;
    const int no = int(Telnet::State::No), yes = int(Telnet::State::Yes);
    const int wantNo = int(Telnet::State::WantNo), wantYes = int(Telnet::State::WantYes);
    QTest::newRow("off asked while asking on: sent after the yes")
        << bytes({'a', 0, C}) << QByteArray() << wantYes << true << false;
    QTest::newRow("queued off goes out with the yes")
        << bytes({'a', 0, C, 'r', Telnet::DO, C}) << bytes({Telnet::IAC, Telnet::WONT, C}) << wantNo
        << false << false;
    QTest::newRow("queued off completed")
        << bytes({'a', 0, C, 'r', Telnet::DO, C, 'r', Telnet::DONT, C})
        << bytes({Telnet::IAC, Telnet::WONT, C}) << no << false << false;
    QTest::newRow("queued off cancelled by asking on again")
        << bytes({'a', 0, C, 'a', 1, C, 'r', Telnet::DO, C}) << QByteArray() << yes << false
        << false;
    QTest::newRow("refusal while off is queued")
        << bytes({'a', 0, C, 'r', Telnet::DONT, C}) << QByteArray() << no << false << true;
    QTest::newRow("off asked when on")
        << bytes({'r', Telnet::DO, C, 'a', 0, C}) << bytes({Telnet::IAC, Telnet::WONT, C}) << wantNo
        << false << false;
    QTest::newRow("on asked while asking off: sent after the no")
        << bytes({'r', Telnet::DO, C, 'a', 0, C, 'a', 1, C, 'r', Telnet::DONT, C})
        << bytes({Telnet::IAC, Telnet::WONT, C, Telnet::IAC, Telnet::WILL, C}) << wantYes << false
        << false;
    QTest::newRow("queued on completed")
        << bytes(
               {'r', Telnet::DO, C, 'a', 0, C, 'a', 1, C, 'r', Telnet::DONT, C, 'r', Telnet::DO, C})
        << bytes({Telnet::IAC, Telnet::WONT, C, Telnet::IAC, Telnet::WILL, C}) << yes << false
        << false;
    QTest::newRow("off answered by a crossing yes stays off")
        << bytes({'r', Telnet::DO, C, 'a', 0, C, 'r', Telnet::DO, C})
        << bytes({Telnet::IAC, Telnet::WONT, C}) << no << false << false;
    QTest::newRow("off with on queued answered by a crossing yes is on")
        << bytes({'r', Telnet::DO, C, 'a', 0, C, 'a', 1, C, 'r', Telnet::DO, C})
        << bytes({Telnet::IAC, Telnet::WONT, C}) << yes << false << false;
    QTest::newRow("asking on twice sends once")
        << bytes({'a', 1, C, 'a', 1, C}) << QByteArray() << wantYes << false << false;
    QTest::newRow("asking off when off sends nothing")
        << bytes({'r', Telnet::DONT, C, 'a', 0, C}) << QByteArray() << no << false << true;
    QTest::newRow("asking on after a refusal asks again")
        << bytes({'r', Telnet::DONT, C, 'a', 1, C}) << bytes({Telnet::IAC, Telnet::WILL, C})
        << wantYes << false << true;
    QTest::newRow("agreement clears a past refusal")
        << bytes({'r', Telnet::DONT, C, 'a', 1, C, 'r', Telnet::DO, C})
        << bytes({Telnet::IAC, Telnet::WILL, C}) << yes << false << false;
}

void TestTelnetStream::queuesTheOppositeRequest()
{
    QFETCH(QByteArray, steps);
    QFETCH(QByteArray, replies);
    QFETCH(int, state);
    QFETCH(bool, queued);
    QFETCH(bool, refused);

    Telnet telnet;
    telnet.start();
    for (qsizetype i = 0; i + 2 < steps.size(); i += 3) {
        const quint8 option = quint8(steps[i + 2]);
        if (steps[i] == 'a')
            telnet.askUs(option, steps[i + 1] != 0);
        else
            QCOMPARE(telnet.feed(bytes({Telnet::IAC, quint8(steps[i + 1]), option})), QByteArray());
    }
    QCOMPARE(telnet.takeReplies(), replies);
    QCOMPARE(int(telnet.us(Telnet::ComPort).state), state);
    QCOMPARE(telnet.us(Telnet::ComPort).queued, queued);
    QCOMPARE(telnet.us(Telnet::ComPort).refused, refused);
    QCOMPARE(telnet.serverRefusedComPort(), refused && state == int(Telnet::State::No));
}

// A server by how it reacts to each negotiation it receives; what it sends
// before the client's first bytes arrive.
struct ServerBehaviour {
    QByteArray opening;
    std::function<QByteArray(quint8 verb, quint8 option)> react;
};
Q_DECLARE_METATYPE(ServerBehaviour)

void TestTelnetStream::negotiationEndsWithAnyServer_data()
{
    QTest::addColumn<ServerBehaviour>("server");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<bool>("comPortAgreed");
    QTest::addColumn<bool>("comPortRefused");
    QTest::addColumn<bool>("binary");

    const auto send = [](quint8 verb, quint8 option) { return bytes({Telnet::IAC, verb, option}); };
    const auto acknowledge = [send](quint8 verb, quint8 option) {
        static const QMap<quint8, quint8> ack = {{Telnet::WILL, Telnet::DO},
                                                 {Telnet::DO, Telnet::WILL},
                                                 {Telnet::WONT, Telnet::DONT},
                                                 {Telnet::DONT, Telnet::WONT}};
        return send(ack.value(verb), option);
    };
    const auto refuse = [send](quint8 verb, quint8 option) {
        return send(verb == Telnet::WILL || verb == Telnet::WONT ? Telnet::DONT : Telnet::WONT,
                    option);
    };

    QTest::newRow("server repeating each request back")
        << ServerBehaviour{{}, send} << true << false << true << true;
    QTest::newRow("server acknowledging everything, again and again")
        << ServerBehaviour{{}, acknowledge} << true << true << false << true;
    QTest::newRow("server refusing everything, again and again")
        << ServerBehaviour{{}, refuse} << true << false << true << false;
    QByteArray everyOption;
    for (int option = 0; option < 256; ++option)
        everyOption += send(Telnet::WILL, option) + send(Telnet::DO, option);
    QTest::newRow("server asking for every option")
        << ServerBehaviour{everyOption, acknowledge} << true << true << false << true;
    // Its loop is its own: the client answers each request once.
    QTest::newRow("server asking again whatever is refused")
        << ServerBehaviour{send(Telnet::DO, 24) + send(Telnet::WILL, 1),
                           [send, acknowledge](quint8 verb, quint8 option) {
                               if (verb == Telnet::WONT)
                                   return send(Telnet::DO, option);
                               if (verb == Telnet::DONT)
                                   return send(Telnet::WILL, option);
                               return acknowledge(verb, option);
                           }}
        << false << true << false << true;
}

void TestTelnetStream::negotiationEndsWithAnyServer()
{
    QFETCH(ServerBehaviour, server);
    QFETCH(bool, ends);
    QFETCH(bool, comPortAgreed);
    QFETCH(bool, comPortRefused);
    QFETCH(bool, binary);

    Telnet telnet;
    QByteArray fromClient = telnet.start();
    QByteArray fromServer = server.opening;
    int rounds = 0;
    const int maxRounds = 32;
    for (; rounds < maxRounds && !(fromClient.isEmpty() && fromServer.isEmpty()); ++rounds) {
        for (const auto &[verb, option] : negotiations(fromClient))
            fromServer += server.react(verb, option);
        QCOMPARE(telnet.feed(fromServer), QByteArray());
        fromClient = telnet.takeReplies();
        QVERIFY2(fromClient.size() <= fromServer.size(),
                 qPrintable(QStringLiteral("round %1: the client sent %2 bytes for %3")
                                .arg(rounds)
                                .arg(fromClient.size())
                                .arg(fromServer.size())));
        fromServer.clear();
    }
    QCOMPARE(rounds < maxRounds, ends);
    QCOMPARE(telnet.comPortAgreed(), comPortAgreed);
    QCOMPARE(telnet.serverRefusedComPort(), comPortRefused);
    QCOMPARE(telnet.binaryBothWays(), binary);
}

QTEST_APPLESS_MAIN(TestTelnetStream)
#include "tst_TelnetStream.moc"
