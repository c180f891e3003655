#include "linktestsupport.h"
#include "type5link.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QByteArray kFirst = QByteArrayLiteral("<CLI_Data>one</CLI_Data>\r\n");
const QByteArray kSecond = QByteArrayLiteral("<CLI_Data>two</CLI_Data>\r\n");

} // namespace

// Link 2 with its timers stopped, row 1 pointing at the peer.
struct SteppedLink5 {
    FakeHost host;
    Type5Link link{host};

    explicit SteppedLink5(const Peer &peer) {
        link.timerTCP2().stop();
        link.tmrPacketResponse2().stop();
        host.port[1] = peer.portText();
    }

    // What the Type 5 producer does.
    void store(const QByteArray &packet) {
        link.gPendingType5Packet = packet;
        link.tmrPacketResponse2().start();
        link.SetTCP2(2);
    }

    void waitConnected() { QTRY_COMPARE(link.wskMessage2().State(), qint16(7)); }
};

class TestType5Link : public QObject {
    Q_OBJECT

private slots:
    void createdWithBothTimersRunning() {
        FakeHost host;
        Type5Link link(host);
        QVERIFY(link.timerTCP2().isActive());
        QCOMPARE(link.timerTCP2().interval(), 100);
        QVERIFY(link.tmrPacketResponse2().isActive());
        QCOMPARE(link.tmrPacketResponse2().interval(), 10);
        QCOMPARE(link.tmrPacketResponse2().timerType(), Qt::PreciseTimer);
    }

    void oneConnectionForManyPackets() {
        Peer peer;
        SteppedLink5 s(peer);
        s.link.ResponseTime2 = 700;
        s.store(kFirst);
        QCOMPARE(s.link.ResponseTime2, 0);
        QCOMPARE(s.host.log.size(), 2);
        QCOMPARE(s.host.log.at(0),
                 QStringLiteral("TCP TCP Originate: Remote port <%1> Remote IP <127.0.0.1 > ")
                     .arg(peer.port()));
        QVERIFY(s.host.log.at(1).startsWith(QStringLiteral("TCP Current: Local port <")));
        QTRY_COMPARE(s.host.log.size(), 3);
        QCOMPARE(s.host.log.at(2), QStringLiteral("Event: Connected"));

        s.link.ResponseTime2 = 120;
        s.link.SendTCPPacket2();
        QCOMPARE(s.link.ResponseTime2, 0);
        QVERIFY(s.link.gPendingType5Packet.isEmpty());
        QTRY_COMPARE(peer.received(), kFirst);

        s.store(kSecond); // already connected: nothing logged
        QCOMPARE(s.host.log.size(), 3);
        s.link.SendTCPPacket2();
        QTRY_COMPARE(peer.received(), kFirst + kSecond);
        s.link.SendTCPPacket2(); // nothing pending: the connection stays open
        QCOMPARE(s.link.wskMessage2().State(), qint16(7));
        QCOMPARE(peer.connectionCount(), 1);
        QCOMPARE(s.host.log.size(), 3);
    }

    void badRowOne_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("lastLine");
        const QString unable = QStringLiteral("Unable to set socket");
        QTest::newRow("port not a number")
            << QStringLiteral("127.0.0.1") << QStringLiteral("abc") << unable;
        QTest::newRow("port empty") << QStringLiteral("127.0.0.1") << QString() << unable;
        QTest::newRow("port 0") << QStringLiteral("127.0.0.1") << QStringLiteral("0") << unable;
        QTest::newRow("port 70000")
            << QStringLiteral("127.0.0.1") << QStringLiteral("70000") << unable;
        QTest::newRow("port beyond 32 bits")
            << QStringLiteral("127.0.0.1") << QStringLiteral("99999999999") << unable;
        QTest::newRow("address empty") << QString() << QStringLiteral("7018") << unable;
        QTest::newRow("host does not resolve")
            << QStringLiteral("no such host!") << QStringLiteral("7018")
            << QStringLiteral("Event: Socket error Host not found");
    }

    void badRowOne() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, lastLine);
        Peer peer;
        SteppedLink5 s(peer);
        s.host.address[1] = address;
        s.host.port[1] = port;
        s.store(kFirst);
        QTRY_COMPARE(s.host.log.last(), lastLine);
        QCOMPARE(s.link.gPendingType5Packet, kFirst);
        QCOMPARE(s.link.wskMessage2().State(), qint16(0));

        // Once the row is corrected the packet goes out.
        s.host.address[1] = QStringLiteral("127.0.0.1");
        s.host.port[1] = peer.portText();
        s.link.SendTCPPacket2();
        s.waitConnected();
        s.link.SendTCPPacket2();
        QTRY_COMPARE(peer.received(), kFirst);
    }

    void sendCompleteEmptiesARefilledSlot() {
        Peer peer;
        SteppedLink5 s(peer);
        s.store(kFirst);
        s.waitConnected();
        QSignalSpy complete(&s.link.wskMessage2(), &SocketControl::sendCompleteEvent);
        s.link.SendTCPPacket2();
        s.link.gPendingType5Packet = kSecond; // stored before the send completed
        QTRY_COMPARE(complete.count(), 1);
        QVERIFY(s.link.gPendingType5Packet.isEmpty());

        const QByteArray third = QByteArrayLiteral("third");
        s.link.gPendingType5Packet = third;
        s.link.SendTCPPacket2();
        QTRY_COMPARE(peer.received(), kFirst + third);
    }

    void peerCloseMakesTheLinkListen() {
        Peer peer;
        SteppedLink5 s(peer);
        s.store(kFirst);
        s.waitConnected();
        const qint32 usedPort = s.link.wskMessage2().LocalPort();
        peer.connection(0)->disconnectFromHost();
        QTRY_COMPARE(s.host.log.last(), QStringLiteral("Event: Port Closed"));
        QCOMPARE(s.link.wskMessage2().State(), qint16(2));
        QCOMPARE(s.link.wskMessage2().LocalPort(), usedPort);
        QCOMPARE(s.link.wskMessage2().LocalIP(), QStringLiteral("127.0.0.1"));
        s.link.SendTCPPacket2(); // link 2 leaves a listening socket alone
        QCOMPARE(s.link.wskMessage2().State(), qint16(2));

        // The producer's SetTCP2(2) connects afresh.
        s.store(kSecond);
        s.waitConnected();
        s.link.SendTCPPacket2();
        QTRY_COMPARE(peer.received(1), kSecond);
    }

    void peerResetThenReconnect() {
        Peer peer;
        SteppedLink5 s(peer);
        s.store(kFirst);
        s.waitConnected();
        s.link.SendTCPPacket2();
        QTRY_COMPARE(peer.received(), kFirst);
        resetConnection(peer.connection(0));
        QTRY_COMPARE(s.host.log.last(),
                     QStringLiteral("Event: Socket error Connection reset by peer"));
        QCOMPARE(s.link.wskMessage2().State(), qint16(0));

        s.store(kSecond);
        s.waitConnected();
        s.link.SendTCPPacket2();
        QTRY_COMPARE(peer.received(1), kSecond);
    }

    void peerResettingAtOnceIsRetried() {
        Peer peer;
        peer.onConnect = Peer::OnConnect::Reset;
        SteppedLink5 s(peer);
        s.store(kFirst);
        QTRY_COMPARE(s.host.log.last(),
                     QStringLiteral("Event: Socket error Connection reset by peer"));
        QCOMPARE(s.link.gPendingType5Packet, kFirst);
        peer.onConnect = Peer::OnConnect::Wait;
        s.link.SendTCPPacket2();
        s.waitConnected();
        s.link.SendTCPPacket2();
        QTRY_COMPARE(peer.received(1), kFirst);
    }

    void floodIsShownInBoundedPieces() {
        constexpr qint64 kFloodBytes = 50 * 1024 * 1024;
        constexpr qsizetype kStampLength = 20; // "yyyy-MM-dd hh:mm:ss "
        Peer peer;
        SteppedLink5 s(peer);
        s.store(kFirst);
        s.waitConnected();
        qint64 shownBytes = 0;
        qint64 largestRead = 0;
        connect(&s.link.wskMessage2(), &SocketControl::dataArrivalEvent, this, [&] {
            // Runs after the link's own handler has taken the data.
            const qint64 read = s.host.txbMessage.size() - kStampLength;
            largestRead = std::max(largestRead, read);
            shownBytes += read;
        });

        peer.flood(kFloodBytes);
        QTRY_COMPARE_WITH_TIMEOUT(shownBytes, kFloodBytes, 50000);
        QVERIFY(largestRead <= SocketControl::kMaxArrivalBytes);
        QVERIFY(s.host.longestMessage <= kStampLength + SocketControl::kMaxArrivalBytes);
        QVERIFY(s.host.processedCount >= kFloodBytes / SocketControl::kMaxArrivalBytes);

        // Still working: the next packet goes out on the same connection.
        s.store(kSecond);
        s.link.SendTCPPacket2();
        QTRY_COMPARE(peer.received(), kSecond);
        QCOMPARE(peer.connectionCount(), 1);
    }

    void realTimersRunTheExchange() {
        Peer peer;
        peer.answer = QByteArrayLiteral("<ACK/>");
        FakeHost host;
        host.port[1] = peer.portText();
        Type5Link link(host);
        link.gPendingType5Packet = kFirst;
        link.tmrPacketResponse2().start();
        link.SetTCP2(2);

        QTRY_COMPARE_WITH_TIMEOUT(host.processedCount, 1, 5000);
        QCOMPARE(peer.received(), kFirst);
        QCOMPARE(host.log.at(2), QStringLiteral("Event: Connected"));
        QVERIFY(host.log.at(3).startsWith(QStringLiteral("Response Time ")));
        QCOMPARE(host.txbMessage, shown("<ACK/>"));
        QCOMPARE(link.wskMessage2().State(), qint16(7)); // link 2 stays connected
    }
};

QTEST_GUILESS_MAIN(TestType5Link)
#include "tst_type5link.moc"
