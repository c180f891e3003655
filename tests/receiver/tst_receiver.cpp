#include "receivertestsupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

namespace {

constexpr int kFloodTimeoutMs = 30'000;
constexpr qint64 kFloodBytes = 100LL * 1024 * 1024;
constexpr qint64 kFloodChunk = 1024 * 1024;

// Writes `head`, then filler, up to 100 MB, as fast as the connection takes
// it, and stops when the receiver drops the connection.
class Flooder : public Client {
public:
    Flooder(quint16 port, const QByteArray &head, char filler)
        : Client(port)
        , m_chunk(kFloodChunk, filler) {
        connect(&socket, &QTcpSocket::bytesWritten, this, [this] { topUp(); });
        m_sent = socket.write(head);
        topUp();
    }

private:
    void topUp() {
        while (socket.isOpen() && m_sent < kFloodBytes && socket.bytesToWrite() < kFloodChunk)
            m_sent += socket.write(m_chunk);
    }

    QByteArray m_chunk;
    qint64 m_sent = 0;
};

QString lineFor(const Client &client, const QString &text) {
    return QStringLiteral("%1 T4 %2 %3").arg(kNow, client.peer(), text);
}

const QString kStandardOk = QStringLiteral("term 999 len 0307 type 3 fields 52 OK");

} // namespace

class TestReceiverSockets : public QObject {
    Q_OBJECT

private slots:
    void validFrameIsAnswered() {
        TestReceiver receiver;
        QVERIFY(receiver.start());
        Client client(receiver.type4Port());
        client.socket.write(standardFrame());
        QTRY_COMPARE(client.data, QByteArray("ACK"));
        QCOMPARE(receiver.lines, QStringList{lineFor(client, kStandardOk)});
        QCOMPARE(receiver.stats().repliesSent, 1);
        QCOMPARE(receiver.stats().exitStatus(), 0);
        QVERIFY(!client.isClosed());
    }

    // Only the valid frame is answered: the one ACK follows the second frame.
    void invalidFrameIsNotAnswered() {
        TestReceiver receiver;
        QVERIFY(receiver.start());
        Client client(receiver.type4Port());
        client.socket.write(shortFrame());
        QTRY_COMPARE(receiver.lines.size(), 1);
        client.socket.write(standardFrame());
        QTRY_COMPARE(client.data, QByteArray("ACK"));
        QCOMPARE(receiver.lines.first(),
                 lineFor(client, QStringLiteral("term 999 len 0305 type 3 fields 51 INVALID: type "
                                                "3 with 51 fields, expected 52")));
        QCOMPARE(receiver.stats().frames, 2);
        QCOMPARE(receiver.stats().framesValid, 1);
        QCOMPARE(receiver.stats().exitStatus(), 1);
    }

    void delayHoldsEachReply() {
        ReceiverOptions options = testOptions();
        options.delayMs = 300;
        options.reply = "OK\r\n";
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type4Port());
        QElapsedTimer elapsed;
        elapsed.start();
        client.socket.write(standardFrame() + standardFrame());
        QTRY_COMPARE(receiver.lines.size(), 2);
        QVERIFY(client.data.isEmpty());
        QTRY_COMPARE(client.data, QByteArray("OK\r\nOK\r\n"));
        QVERIFY2(elapsed.elapsed() >= 300, qPrintable(QString::number(elapsed.elapsed())));
    }

    void delayedReplyToAClosedPeerIsReported() {
        ReceiverOptions options = testOptions();
        options.delayMs = 200;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type4Port());
        client.socket.write(standardFrame());
        QTRY_COMPARE(receiver.lines.size(), 1);
        client.socket.disconnectFromHost();
        QTRY_COMPARE(receiver.lines.size(), 2);
        QVERIFY(receiver.lines.last().endsWith(
            QStringLiteral("reply not sent, the connection closed before the delay ended")));
        QCOMPARE(receiver.stats().repliesDropped, 1);
        QCOMPARE(receiver.stats().repliesSent, 0);
    }

    // The heartbeat is the first thing the client gets: no reply went before it.
    void noReply() {
        ReceiverOptions options = testOptions();
        options.noReply = true;
        options.heartbeatIntervalMs = 60'000;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type5Port());
        client.socket.write(cannedAmlDocument());
        QTRY_COMPARE(receiver.lines.size(), 1);
        receiver.onlyConnection()->heartbeatTick();
        QTRY_COMPARE(client.data, heartbeatBytes());
        QCOMPARE(receiver.stats().repliesSent, 0);
        QCOMPARE(receiver.stats().documentsValid, 1);
    }

    void closeAfterReply() {
        ReceiverOptions options = testOptions();
        options.closeAfterReply = true;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type4Port());
        client.socket.write(standardFrame());
        QTRY_VERIFY(client.isClosed());
        QCOMPARE(client.data, QByteArray("ACK"));
        QTRY_VERIFY(receiver.connections().isEmpty());
        QCOMPARE(receiver.stats().connectionsDropped, 0);
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

    void portInUseIsReported() {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        ReceiverOptions options = testOptions();
        options.type5Port = taken.serverPort();
        TestReceiver receiver(options);
        QString error;
        QVERIFY(!receiver.start(&error));
        QVERIFY2(error.startsWith(QStringLiteral("cannot listen on 127.0.0.1 port %1 for Type 5: ")
                                      .arg(taken.serverPort())),
                 qPrintable(error));
        QCOMPARE(receiver.type4Port(), 0);
    }

    void heartbeatAnswered() {
        ReceiverOptions options = testOptions();
        options.heartbeatIntervalMs = 60'000;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type5Port());
        QTRY_VERIFY(receiver.onlyConnection());
        ReceiverConnection *connection = receiver.onlyConnection();
        QVERIFY(connection->heartbeatsRunning());
        connection->heartbeatTick();
        QTRY_COMPARE(client.data, heartbeatBytes());
        connection->heartbeatTick(); // one heartbeat open at a time
        client.socket.write(heartbeatAnswerBytes());
        QTRY_COMPARE(receiver.stats().heartbeatsAnswered, 1);
        QVERIFY(receiver.lines.last().contains(QRegularExpression(
            QStringLiteral("^%1 T5 %2 heartbeat answered in \\d+ ms$").arg(kNow, client.peer()))));
        connection->heartbeatAnswerTimeout(); // too late to matter
        QCOMPARE(receiver.stats().heartbeatsSent, 1);
        QCOMPARE(receiver.stats().heartbeatsNotAnswered, 0);
        QCOMPARE(receiver.stats().exitStatus(), 0);
    }

    void heartbeatNotAnswered() {
        ReceiverOptions options = testOptions();
        options.heartbeatIntervalMs = 60'000;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type5Port());
        QTRY_VERIFY(receiver.onlyConnection());
        receiver.onlyConnection()->heartbeatTick();
        receiver.onlyConnection()->heartbeatAnswerTimeout();
        QCOMPARE(
            receiver.lines.last(),
            QStringLiteral("%1 T5 %2 heartbeat not answered within 2 s").arg(kNow, client.peer()));
        QCOMPARE(receiver.stats().heartbeatsNotAnswered, 1);
        QCOMPARE(receiver.stats().exitStatus(), 1);
        client.socket.write(heartbeatAnswerBytes());
        QTRY_COMPARE(receiver.stats().heartbeatAnswersUnasked, 1);
        QVERIFY(
            receiver.lines.last().endsWith(QStringLiteral("heartbeat answer without a heartbeat")));
    }

    // The answer rides in the middle of a document, in one write.
    void heartbeatAnswerInsideADocument() {
        ReceiverOptions options = testOptions();
        options.heartbeatIntervalMs = 60'000;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type5Port());
        QTRY_VERIFY(receiver.onlyConnection());
        receiver.onlyConnection()->heartbeatTick();
        QTRY_COMPARE(client.data, heartbeatBytes());
        const QByteArray document = cannedAmlDocument();
        client.socket.write(document.first(100) + heartbeatAnswerBytes() + document.sliced(100));
        QTRY_COMPARE(client.data, heartbeatBytes() + "ACK");
        QCOMPARE(receiver.stats().heartbeatsAnswered, 1);
        QCOMPARE(receiver.lines.last(), QStringLiteral("%1 T5 %2 document 116 lines %3 bytes OK")
                                            .arg(kNow, client.peer())
                                            .arg(document.size()));
    }

    // The timers themselves: a peer that answers and one that does not.
    void heartbeatTimersRun() {
        ReceiverOptions options = testOptions();
        options.heartbeatIntervalMs = 50;
        options.heartbeatAnswerTimeoutMs = 200;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client silent(receiver.type5Port());
        Client answering(receiver.type5Port());
        connect(&answering.socket, &QTcpSocket::readyRead, &answering,
                [&answering] { answering.socket.write(heartbeatAnswerBytes()); });
        QTRY_VERIFY(receiver.stats().heartbeatsAnswered >= 3);
        QTRY_VERIFY(receiver.stats().heartbeatsNotAnswered >= 1);
        QVERIFY(
            receiver.lines.contains(QStringLiteral("%1 T5 %2 heartbeat not answered within 200 ms")
                                        .arg(kNow, silent.peer())));
    }

    void frameOnTheType5Port() {
        ReceiverOptions options = testOptions();
        options.heartbeatIntervalMs = 60'000;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type5Port());
        client.socket.write(standardFrame());
        QTRY_COMPARE(client.data, QByteArray("ACK"));
        QCOMPARE(receiver.lines, QStringList{QStringLiteral("%1 T4 %2 on port %3 %4")
                                                 .arg(kNow, client.peer())
                                                 .arg(receiver.type5Port())
                                                 .arg(kStandardOk)});
        QVERIFY(!receiver.onlyConnection()->heartbeatsRunning());
    }

    void floodIsDroppedAndOthersServed_data() {
        QTest::addColumn<int>("port"); // 4 or 5
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<char>("filler");
        QTest::addColumn<QString>("text");
        QTest::newRow("100 MB frame") << 4 << QByteArray("999999999993|") << 'x'
                                      << QStringLiteral("term 999 len 99999999 INVALID: frame too "
                                                        "long, the limit is 1048576 characters, "
                                                        "connection dropped");
        QTest::newRow("garbage") << 4 << QByteArray() << 'A'
                                 << QStringLiteral("garbage INVALID: no length of at least 4 "
                                                   "digits, type digit and \"|\" after the "
                                                   "terminal ID, connection dropped");
        QTest::newRow("document without end")
            << 5 << QByteArray("<") << 'x' << QStringLiteral("INVALID: document too long");
    }

    void floodIsDroppedAndOthersServed() {
        QFETCH(int, port);
        QFETCH(QByteArray, head);
        QFETCH(char, filler);
        QFETCH(QString, text);
        TestReceiver receiver;
        QVERIFY(receiver.start());
        const quint16 to = port == 4 ? receiver.type4Port() : receiver.type5Port();
        Flooder flooder(to, head, filler);
        QTRY_VERIFY_WITH_TIMEOUT(flooder.isClosed(), kFloodTimeoutMs);
        QCOMPARE(receiver.stats().connectionsDropped, 1);
        QVERIFY2(receiver.lines.last().contains(text), qPrintable(receiver.lines.last()));
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
        QCOMPARE(receiver.lines.first(),
                 QStringLiteral("%1 T4 %2 connection closed, the limit of 3 connections is reached")
                     .arg(kNow, first.peer()));
    }

    void halfOpenConnectionIsClosedWhenIdle() {
        ReceiverOptions options = testOptions();
        options.type4IdleTimeoutMs = 100;
        options.idleSweepIntervalMs = 20;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client client(receiver.type4Port());
        client.socket.write("99900");
        QTRY_VERIFY(client.isClosed());
        QCOMPARE(
            receiver.lines,
            (QStringList{lineFor(client, QStringLiteral("incomplete frame 5 bytes INVALID: "
                                                        "frame is incomplete")),
                         lineFor(client, QStringLiteral("connection closed after 100 ms idle"))}));
        QCOMPARE(receiver.stats().connectionsDropped, 1);
    }

    // A lasting Type 5 connection is allowed a longer quiet spell.
    void idleLimitFollowsThePort() {
        ReceiverOptions options = testOptions();
        options.type4IdleTimeoutMs = 50;
        options.idleSweepIntervalMs = 20;
        TestReceiver receiver(options);
        QVERIFY(receiver.start());
        Client type5(receiver.type5Port());
        Client type4(receiver.type4Port());
        QTRY_VERIFY(type4.isClosed());
        QCOMPARE(receiver.lines, QStringList{lineFor(type4, QStringLiteral("connection closed "
                                                                           "after 50 ms idle"))});
        QVERIFY(!type5.isClosed());
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
        const ReceiverStats &stats = receiver.stats();
        QCOMPARE(stats.frames, 3);
        QCOMPARE(stats.framesValid, 1);
        QCOMPARE(stats.documents, 2);
        QCOMPARE(stats.documentsValid, 2);
        QCOMPARE(stats.repliesSent, 3);
        QCOMPARE(stats.connections, 2);
        QCOMPARE(stats.invalidReasons.size(), 2);
        QCOMPARE(stats.exitStatus(), 1);
    }
};

QTEST_GUILESS_MAIN(TestReceiverSockets)
#include "tst_receiver.moc"
