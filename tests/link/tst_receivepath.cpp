#include "linktestsupport.h"
#include "type4link.h"
#include "type5link.h"
#include "visibletext.h"

#include <QTest>

#include <memory>

namespace {

const QByteArray kPacket = QByteArrayLiteral("packet");
const QByteArray kHeartbeat = QByteArrayLiteral("\x02\x48\x03");
const QByteArray kHeartbeatAnswer = QByteArrayLiteral("\x02\x06\x03");
const QString kResponseLine =
    QStringLiteral("Response Time %1 milliseconds    127.0.0.1> Data Pkt Rxd");

} // namespace

// Either link, timers stopped, so that one test body can cover both.
struct LinkUnderTest {
    FakeHost host;
    std::unique_ptr<Type4Link> one;
    std::unique_ptr<Type5Link> two;

    explicit LinkUnderTest(int link) {
        if (link == 1)
            one = std::make_unique<Type4Link>(host);
        else
            two = std::make_unique<Type5Link>(host);
        pollTimer().stop();
        responseTimer().stop();
    }

    SocketControl &socket() { return one ? one->wskMessage() : two->wskMessage2(); }
    QTimer &pollTimer() { return one ? one->timerTCP() : two->timerTCP2(); }
    QTimer &responseTimer() { return one ? one->tmrPacketResponse() : two->tmrPacketResponse2(); }
    qint32 &responseTime() { return one ? one->gResponseTime : two->ResponseTime2; }
    qint32 delayedCount() const { return one ? one->gDelayedCount : two->DelayedCount2; }
    QByteArray &pending() { return one ? one->gPendingType4Packet : two->gPendingType5Packet; }
    void poll() { one ? one->SendTCPPacket() : two->SendTCPPacket2(); }
    void tick() { one ? one->tmrPacketResponse_Timer() : two->tmrPacketResponse2_Timer(); }

    // Connects to the peer and sends one packet, as the producers and the poll would.
    void sendTo(Peer &peer) {
        socket().setRemoteHost(QStringLiteral("127.0.0.1"));
        socket().setRemotePort(peer.port());
        host.port[1] = peer.portText();
        pending() = kPacket;
        poll();
        QTRY_COMPARE(socket().State(), qint16(7));
        poll();
        QTRY_COMPARE(peer.received(), kPacket);
        host.log.clear();
    }
};

class TestReceivePath : public QObject {
    Q_OBJECT

private slots:
    void delayRuleFiresOnThe201stTick_data() {
        QTest::addColumn<int>("link");
        QTest::addColumn<QString>("delayedText");
        QTest::newRow("link 1 writes a leading space") << 1 << QStringLiteral(" 1");
        QTest::newRow("link 2 writes plain digits") << 2 << QStringLiteral("1");
    }

    void delayRuleFiresOnThe201stTick() {
        QFETCH(int, link);
        QFETCH(QString, delayedText);
        LinkUnderTest t(link);
        t.responseTime() = 0;
        t.responseTimer().start();

        for (int tick = 0; tick < 200; ++tick)
            t.tick();
        QCOMPARE(t.responseTime(), 2000);
        QCOMPARE(t.delayedCount(), 0);
        QVERIFY(t.host.lbLastDelayed.isEmpty());
        QVERIFY(t.responseTimer().isActive());

        t.tick();
        QCOMPARE(t.delayedCount(), 1);
        QCOMPARE(t.responseTime(), 0);
        QCOMPARE(t.host.lbLastDelayed, QLatin1String(FakeHost::kNowText));
        QCOMPARE(t.host.txbDelayedCt, delayedText);
        QVERIFY(!t.responseTimer().isActive());
        QVERIFY(t.host.log.isEmpty());
    }

    void delayedCountKeepsGrowing() {
        LinkUnderTest t(1);
        t.one->gDelayedCount = 41;
        for (int tick = 0; tick < 201; ++tick)
            t.tick();
        QCOMPARE(t.host.txbDelayedCt, QStringLiteral(" 42"));
    }

    void delayedCount2StopsAtItsLargestValue() {
        LinkUnderTest t(2);
        t.two->DelayedCount2 = 32766;
        for (int tick = 0; tick < 201; ++tick)
            t.tick();
        QCOMPARE(t.two->DelayedCount2, qint16(32767));
        QCOMPARE(t.host.txbDelayedCt, QStringLiteral("32767"));
        QVERIFY(t.host.log.isEmpty());

        for (int tick = 0; tick < 201; ++tick)
            t.tick();
        QCOMPARE(t.two->DelayedCount2, qint16(32767));
        QCOMPARE(t.host.txbDelayedCt, QStringLiteral("32767"));
        QCOMPARE(t.host.log, QStringList{QStringLiteral(
                                 "Delayed count full at 32767; later delays are not counted")});
        QCOMPARE(t.two->ResponseTime2, 0);
    }

    void responseReportsTheCountedTime_data() {
        QTest::addColumn<int>("link");
        QTest::addColumn<bool>("staysConnected");
        QTest::newRow("link 1") << 1 << false;
        QTest::newRow("link 2") << 2 << true;
    }

    void responseReportsTheCountedTime() {
        QFETCH(int, link);
        QFETCH(bool, staysConnected);
        Peer peer;
        LinkUnderTest t(link);
        t.sendTo(peer);
        t.responseTimer().start();
        for (int tick = 0; tick < 37; ++tick)
            t.tick();
        t.host.processedCount = 9;

        peer.send(QByteArrayLiteral("OK"));
        QTRY_COMPARE(t.host.log, QStringList{kResponseLine.arg(370)});
        QCOMPARE(t.host.txbMessage, shown("OK"));
        QCOMPARE(t.host.processedCount, 10);
        QCOMPARE(t.host.lbProcessed, QStringLiteral("10"));
        QVERIFY(!t.responseTimer().isActive());
        QCOMPARE(t.responseTime(), 370); // a response leaves the counter as it was
        QCOMPARE(t.delayedCount(), 0);
        QCOMPARE(t.socket().State(), qint16(staysConnected ? 7 : 0));
    }

    void responseAfterTheDelayCountsZero() {
        Peer peer;
        LinkUnderTest t(2);
        t.sendTo(peer);
        t.responseTimer().start();
        for (int tick = 0; tick < 201; ++tick)
            t.tick();
        QCOMPARE(t.delayedCount(), 1);

        peer.send(QByteArrayLiteral("late"));
        QTRY_COMPARE(t.host.log, QStringList{kResponseLine.arg(0)});
        QCOMPARE(t.host.processedCount, 1);
        QCOMPARE(t.delayedCount(), 1);
        QCOMPARE(t.host.txbMessage, shown("late"));
    }

    void heartbeat_data() {
        QTest::addColumn<int>("link");
        QTest::addColumn<QByteArray>("arrival");
        QTest::addColumn<bool>("isHeartbeat");
        QTest::newRow("link 2, heartbeat alone") << 2 << kHeartbeat << true;
        QTest::newRow("link 2, bytes after it") << 2 << kHeartbeat + "ABC" << false;
        QTest::newRow("link 2, bytes before it") << 2 << "ABC" + kHeartbeat << false;
        QTest::newRow("link 2, two heartbeats") << 2 << kHeartbeat + kHeartbeat << false;
        QTest::newRow("link 2, lower-case h") << 2 << QByteArrayLiteral("\x02h\x03") << false;
        QTest::newRow("link 1, heartbeat alone") << 1 << kHeartbeat << false;
    }

    void heartbeat() {
        QFETCH(int, link);
        QFETCH(QByteArray, arrival);
        QFETCH(bool, isHeartbeat);
        Peer peer;
        LinkUnderTest t(link);
        t.sendTo(peer);
        t.responseTimer().start();
        t.tick();

        peer.send(arrival);
        QTRY_COMPARE(t.host.log.size(), 1);
        if (isHeartbeat) {
            QCOMPARE(t.host.log.at(0), QStringLiteral("Rxed Heartbeat. Send back ACK"));
            QTRY_COMPARE(peer.received(), kPacket + kHeartbeatAnswer);
            QVERIFY(t.host.txbMessage.isEmpty());
            QCOMPARE(t.host.processedCount, 0);
            QVERIFY(t.responseTimer().isActive());
            QCOMPARE(t.responseTime(), 10);
        } else {
            QCOMPARE(t.host.log.at(0), kResponseLine.arg(10));
            QCOMPARE(t.host.txbMessage,
                     QLatin1String(FakeHost::kNowText) + QLatin1Char(' ') + toVisibleText(arrival));
            QCOMPARE(t.host.processedCount, 1);
            QVERIFY(!t.responseTimer().isActive());
            QCOMPARE(peer.received(), kPacket); // nothing answered
        }
    }

    void heartbeatSplitOverTwoArrivalsIsTwoResponses() {
        Peer peer;
        LinkUnderTest t(2);
        t.sendTo(peer);
        peer.send(kHeartbeat.left(2));
        QTRY_COMPARE(t.host.log.size(), 1);
        peer.send(kHeartbeat.mid(2));
        QTRY_COMPARE(t.host.log.size(), 2);
        QCOMPARE(t.host.log, (QStringList{kResponseLine.arg(0), kResponseLine.arg(0)}));
        QCOMPARE(t.host.txbMessage, shown("<ETX>"));
        QCOMPARE(t.host.processedCount, 2);
        QCOMPARE(peer.received(), kPacket);
    }

    void heartbeatAnswerEmptiesAWaitingPacket() {
        Peer peer;
        LinkUnderTest t(2);
        t.sendTo(peer);
        t.pending() = QByteArrayLiteral("waiting");
        peer.send(kHeartbeat);
        QTRY_COMPARE(peer.received(), kPacket + kHeartbeatAnswer);
        QTRY_VERIFY(t.pending().isEmpty());
    }

    void shownTextIsByteForByte_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("printable") << QByteArrayLiteral("ACK|0001") << QStringLiteral("ACK|0001");
        QTest::newRow("NUL inside") << QByteArray("A\0B", 3) << QStringLiteral("A<NUL>B");
        QTest::newRow("framing") << QByteArrayLiteral("\x02\x06\x03")
                                 << QStringLiteral("<STX><ACK><ETX>");
        QTest::newRow("line ends and tab")
            << QByteArrayLiteral("a\r\nb\tc") << QStringLiteral("a<CR><LF>b<HT>c");
        QTest::newRow("escape, unit separator, delete")
            << QByteArrayLiteral("\x1b\x1f\x7f") << QStringLiteral("<ESC><US><DEL>");
        QTest::newRow("Latin-1") << QByteArrayLiteral("caf\xe9 \xff")
                                 << QString::fromLatin1("caf\xe9 \xff");
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void shownTextIsByteForByte() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(toVisibleText(bytes), text);
    }

    void responseWithNulsIsShownWhole() {
        Peer peer;
        LinkUnderTest t(1);
        t.sendTo(peer);
        peer.send(QByteArray("\x02OK\0\0\x03", 6));
        QTRY_COMPARE(t.host.txbMessage, shown("<STX>OK<NUL><NUL><ETX>"));
    }

    void responseWhileNothingWasSentIsCounted() {
        Peer peer;
        LinkUnderTest t(2);
        t.sendTo(peer);
        t.responseTime() = 150; // timer stopped, counter left as it was
        peer.send(QByteArrayLiteral("unasked"));
        QTRY_COMPARE(t.host.log, QStringList{kResponseLine.arg(150)});
        QCOMPARE(t.host.processedCount, 1);
    }
};

QTEST_GUILESS_MAIN(TestReceivePath)
#include "tst_receivepath.moc"
