#include "receivertestsupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A plain socket, so that a reset can be told from an orderly end.
struct RawClient {
    int fd = socket(AF_INET, SOCK_STREAM, 0);

    explicit RawClient(quint16 port) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    ~RawClient() { close(fd); }

    // ECONNRESET after a reset, 0 after an orderly end, -1 while neither
    // came; the system reports a reset once, so the first answer is kept.
    int end() {
        char byte;
        const ssize_t n = m_end < 0 ? recv(fd, &byte, 1, MSG_DONTWAIT) : 1;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            m_end = errno;
        else if (n == 0)
            m_end = 0;
        return m_end;
    }

private:
    int m_end = -1;
};

constexpr int kFloodTimeoutMs = 30'000;
constexpr qint64 kFloodBytes = 100LL * 1024 * 1024;
constexpr qint64 kFloodChunk = 1024 * 1024;

// The receiver's lines about this client, from what they say after the peer.
QStringList linesFor(const Client &client, QStringList texts, const char *side = "T4") {
    for (QString &text : texts)
        text = QStringLiteral("%1 %2 %3 %4").arg(kNow, QLatin1String(side), client.peer(), text);
    return texts;
}

ReceiverOptions withHeartbeats(int intervalMs = 60'000) {
    ReceiverOptions options = testOptions();
    options.heartbeatIntervalMs = intervalMs;
    return options;
}

enum ReplyCase { NoReply = 1, CloseAfterReply = 2, HangUp = 4, OnType5Port = 8 };

} // namespace

class TestReceiverSockets : public QObject {
    Q_OBJECT

private slots:
    // Each row sends standard frames; every one is valid.
    void replies_data() {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("replyCase");
        QTest::addColumn<int>("frames");
        QTest::newRow("valid frame") << 0 << 0 << 1;
        QTest::newRow("delay holds each reply") << 300 << 0 << 2;
        QTest::newRow("delayed reply to a peer that hung up") << 300 << int(HangUp) << 1;
        QTest::newRow("no reply") << 0 << int(NoReply) << 1;
        QTest::newRow("close after reply") << 0 << int(CloseAfterReply) << 1;
        QTest::newRow("frame on the Type 5 port") << 0 << int(OnType5Port) << 1;
    }

    void replies() {
        QFETCH(int, delayMs);
        QFETCH(int, replyCase);
        QFETCH(int, frames);
        ReceiverOptions options = withHeartbeats();
        options.delayMs = delayMs;
        options.noReply = replyCase & NoReply;
        options.closeAfterReply = replyCase & CloseAfterReply;
        options.reply = "OK\r\n";
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        const bool onType5 = replyCase & OnType5Port;
        Client client(onType5 ? receiver.type5Port() : receiver.type4Port());
        QElapsedTimer elapsed;
        elapsed.start();
        client.socket.write(standardFrame().repeated(frames));
        if (replyCase & HangUp)
            client.socket.disconnectFromHost();
        QTRY_VERIFY(!client.peer().isEmpty());
        QStringList lines(frames, kStandardOk);
        if (onType5)
            lines = {QStringLiteral("on port %1 %2").arg(receiver.type5Port()).arg(kStandardOk)};
        if (replyCase & HangUp)
            lines << QStringLiteral("reply not sent, the connection closed before the delay ended");
        QTRY_COMPARE(receiver.lines, linesFor(client, lines));
        const int replies = replyCase & (NoReply | HangUp) ? 0 : frames;
        QTRY_COMPARE(client.data, QByteArray("OK\r\n").repeated(replies));
        // An undelayed reply is sent along with its line, so this holds at once.
        QCOMPARE(receiver.stats().repliesSent, replies);
        QVERIFY2(replies == 0 || elapsed.elapsed() >= delayMs,
                 qPrintable(QString::number(elapsed.elapsed())));
        QTRY_COMPARE(client.isClosed(), bool(replyCase & (CloseAfterReply | HangUp)));
        if (ReceiverConnection *connection = receiver.onlyConnection())
            QVERIFY(!connection->heartbeatsRunning()); // a frame stream owes no answers
    }

    void refusedPortIsNotListening_data() {
        QTest::addColumn<bool>("refuseType4");
        QTest::newRow("type4") << true;
        QTest::newRow("type5") << false;
    }

    void refusedPortIsNotListening() {
        QFETCH(bool, refuseType4);
        ReceiverOptions options = testOptions();
        const quint16 refused = unusedPort();
        (refuseType4 ? options.type4Port : options.type5Port) = refused;
        options.refuseType4 = refuseType4;
        options.refuseType5 = !refuseType4;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        QCOMPARE(refuseType4 ? receiver.type4Port() : receiver.type5Port(), 0);
        Client client(refused);
        QTRY_COMPARE(client.socket.error(), QAbstractSocket::ConnectionRefusedError);
        Client served(refuseType4 ? receiver.type5Port() : receiver.type4Port());
        served.socket.write(standardFrame());
        QTRY_COMPARE(served.data, QByteArray("ACK"));
    }

    // Time is stepped by hand. The late answer is unasked for; the next one
    // rides inside a document, in one write.
    void heartbeats() {
        TestReceiver receiver(withHeartbeats());
        QVERIFY(receiver.start());
        Client client(receiver.type5Port());
        QTRY_VERIFY(receiver.onlyConnection());
        ReceiverConnection *connection = receiver.onlyConnection();
        connection->heartbeatTick();
        connection->heartbeatAnswerTimeout();
        client.socket.write(heartbeatAnswerBytes());
        QTRY_COMPARE(receiver.lines.size(), 2);
        connection->heartbeatTick();
        connection->heartbeatTick(); // one heartbeat open at a time
        QTRY_COMPARE(client.data, heartbeatBytes().repeated(2));
        const QByteArray document = cannedAmlDocument();
        client.socket.write(document.first(100) + heartbeatAnswerBytes() + document.sliced(100));
        QTRY_COMPARE(client.data, heartbeatBytes().repeated(2) + "ACK");
        connection->heartbeatAnswerTimeout(); // too late to matter
        QStringList lines = receiver.lines;
        lines[2].replace(QRegularExpression(QStringLiteral("\\d+ ms$")), QStringLiteral("N ms"));
        QCOMPARE(
            lines,
            linesFor(
                client,
                textList({"heartbeat not answered within 2 s",
                          "heartbeat answer without a heartbeat", "heartbeat answered in N ms"})
                    << QStringLiteral("document 116 lines %1 bytes OK").arg(document.size()),
                "T5"));
        QCOMPARE(receiver.stats().exitStatus(), 1);
    }

    // The timers themselves: a peer that answers and one that does not.
    void heartbeatTimersRun() {
        ReceiverOptions options = withHeartbeats(50);
        options.heartbeatAnswerTimeoutMs = 200;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client silent(receiver.type5Port());
        Client answering(receiver.type5Port());
        connect(&answering.socket, &QTcpSocket::readyRead, &answering,
                [&answering] { answering.socket.write(heartbeatAnswerBytes()); });
        QTRY_VERIFY(receiver.stats().heartbeatsAnswered >= 3);
        QTRY_VERIFY(receiver.stats().heartbeatsNotAnswered >= 1);
        QVERIFY(receiver.lines.contains(
            linesFor(silent, textList({"heartbeat not answered within 200 ms"}), "T5").first()));
    }

    // After the head, the flood is of "A"s: garbage, or the body of what the head opens.
    void floodIsDroppedAndOthersServed_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("text");
        QTest::newRow("100 MB frame") << QByteArray("999999999993|")
                                      << QStringLiteral("term 999 len 99999999 INVALID: frame too "
                                                        "long");
        QTest::newRow("garbage") << QByteArray() << QStringLiteral("garbage INVALID");
        QTest::newRow("document without end")
            << QByteArray("<") << QStringLiteral("INVALID: document too long");
    }

    void floodIsDroppedAndOthersServed() {
        QFETCH(QByteArray, head);
        QFETCH(QString, text);
        TestReceiver receiver;
        QVERIFY(receiver.start());
        const quint16 to = head.startsWith('<') ? receiver.type5Port() : receiver.type4Port();
        // Up to 100 MB, as fast as the connection takes it, until the receiver drops it.
        Client flooder(to);
        const QByteArray chunk(kFloodChunk, 'A');
        qint64 sent = flooder.socket.write(head);
        const auto topUp = [&] {
            while (!flooder.isClosed() && sent < kFloodBytes &&
                   flooder.socket.bytesToWrite() < kFloodChunk)
                sent += flooder.socket.write(chunk);
        };
        connect(&flooder.socket, &QTcpSocket::bytesWritten, &flooder, topUp);
        topUp();
        QTRY_VERIFY_WITH_TIMEOUT(flooder.isClosed(), kFloodTimeoutMs);
        QCOMPARE(receiver.stats().connectionsDropped, 1);
        const QString last = receiver.lines.last();
        QVERIFY2(last.contains(text) && last.endsWith(QLatin1String(", connection dropped")),
                 qPrintable(last));
        const qsizetype bound = receiver.options().maxDocumentBytes + 512 * 1024;
        QVERIFY2(receiver.stats().peakBufferedBytes <= bound,
                 qPrintable(QString::number(receiver.stats().peakBufferedBytes)));
        Client next(to);
        next.socket.write(standardFrame());
        QTRY_COMPARE(next.data, QByteArray("ACK"));
    }

    void connectionLimitClosesTheLongestIdle() {
        ReceiverOptions options = testOptions();
        options.maxConnections = 3;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client first(receiver.type4Port());
        QTRY_COMPARE(receiver.connections().size(), 1);
        Client second(receiver.type4Port());
        Client third(receiver.type4Port());
        QTRY_COMPARE(receiver.connections().size(), 3);
        Client busy(receiver.type4Port());
        busy.socket.write(standardFrame());
        QTRY_COMPARE(busy.data, QByteArray("ACK"));
        QTRY_VERIFY(first.isClosed());
        QVERIFY(!second.isClosed() && !third.isClosed());
        QCOMPARE(receiver.connections().size(), 3);
        QCOMPARE(receiver.lines,
                 linesFor(first, textList({"connection closed, the limit of 3 connections is "
                                           "reached"})) +
                     linesFor(busy, {kStandardOk}));
    }

    // A half-sent frame does not keep a Type 4 connection open; a lasting
    // Type 5 connection is allowed a longer quiet spell.
    void idleConnectionsAreClosed() {
        ReceiverOptions options = testOptions();
        options.type4IdleTimeoutMs = 100;
        options.idleSweepIntervalMs = 20;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client type5(receiver.type5Port());
        Client client(receiver.type4Port());
        client.socket.write("99900");
        QTRY_VERIFY(client.isClosed());
        QCOMPARE(receiver.lines,
                 linesFor(client, textList({"incomplete frame 5 bytes INVALID: frame is incomplete",
                                            "connection closed after 100 ms idle"})));
        QCOMPARE(receiver.stats().connectionsDropped, 1);
        QVERIFY(!type5.isClosed());
    }

    void resetWhereTheReplyWouldGo_data() {
        QTest::addColumn<bool>("type5");
        QTest::newRow("frame") << false;
        QTest::newRow("document") << true;
    }

    void resetWhereTheReplyWouldGo() {
        QFETCH(bool, type5);
        ReceiverOptions options = testOptions();
        options.resetConnections = true;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        RawClient client(type5 ? receiver.type5Port() : receiver.type4Port());
        const QByteArray packet = type5 ? cannedAmlDocument() : standardFrame();
        QCOMPARE(send(client.fd, packet.constData(), size_t(packet.size()), 0), packet.size());
        QTRY_COMPARE(client.end(), ECONNRESET);
        QVERIFY(
            receiver.lines.last().endsWith(QLatin1String("connection reset instead of a reply")));
        QCOMPARE(receiver.stats().repliesSent, 0);
        QCOMPARE(receiver.stats().connectionsDropped, 1);
    }

    void summaryCountsEverything() {
        TestReceiver receiver;
        QVERIFY(receiver.start());
        Client frames(receiver.type4Port());
        frames.socket.write(standardFrame() + shortFrame() + standardFrame().first(20));
        QTRY_COMPARE(receiver.lines.size(), 2);
        frames.socket.disconnectFromHost();
        Client documents(receiver.type5Port());
        documents.socket.write(cannedAmlDocument() + cannedAmlDocument());
        QTRY_COMPARE(receiver.lines.size(), 5);
        QCOMPARE(receiver.stats().summaryLines(),
                 textList({"summary: frames received 3, valid 1, invalid 2",
                           "summary: documents received 2, valid 2, invalid 0",
                           "summary: invalid 1 x T4 length 307, but the body has 13 characters",
                           "summary: invalid 1 x T4 type 3 with 51 fields, expected 52",
                           "summary: heartbeats sent 0, answered 0, not answered 0, answers "
                           "without a heartbeat 0",
                           "summary: replies sent 3, not sent because the peer closed 0",
                           "summary: connections 2, dropped by the receiver 0"}));
        QCOMPARE(receiver.stats().exitStatus(), 1);
    }
};

QTEST_GUILESS_MAIN(TestReceiverSockets)
#include "tst_receiver.moc"
