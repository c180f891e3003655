#include "linktestsupport.h"
#include "type4link.h"
#include "type5link.h"

#include <QSignalSpy>
#include <QTest>

namespace {

constexpr int kAnswerDelayMs = 60;
const QByteArray kPacket = QByteArrayLiteral("timed packet");

} // namespace

// Measured times against a peer that holds its answer back: only lower
// bounds are asserted, timing figures belong to the benchmarks.
class TestResponseTiming : public QObject {
    Q_OBJECT

private slots:
    void link1MeasuresConnectAndResponse() {
        Peer peer;
        peer.answer = QByteArrayLiteral("ACK");
        peer.answerDelayMs = kAnswerDelayMs;
        FakeHost host;
        Type4Link link(host);
        link.timerTCP().stop();
        link.tmrPacketResponse().stop();
        QSignalSpy handedOver(&link, &TcpLink::packetHandedOver);
        QSignalSpy measured(&link, &TcpLink::responseMeasured);

        link.wskMessage().setRemoteHost(QStringLiteral("127.0.0.1"));
        link.wskMessage().setRemotePort(peer.port());
        link.gPendingType4Packet = kPacket;
        link.SendTCPPacket();
        QTRY_COMPARE(link.wskMessage().State(), qint16(7));
        QCOMPARE(link.connectStats().count(), qint64(1));
        link.SendTCPPacket();
        const qint64 sentNs = SocketControl::monotonicNs();
        QTRY_COMPARE(handedOver.count(), 1);
        QCOMPARE(measured.count(), 0);
        QVERIFY(link.responsePending());
        QVERIFY(link.lastHandoverNs() <= SocketControl::monotonicNs());
        QVERIFY(link.lastHandoverNs() >= sentNs);

        QTRY_COMPARE(measured.count(), 1);
        const qint64 usec = measured.at(0).at(0).toLongLong();
        QVERIFY2(usec >= kAnswerDelayMs * 1000, qPrintable(QString::number(usec)));
        QVERIFY(usec * 1000 >= peer.lastHoldNs);
        QVERIFY(!link.responsePending());
        QCOMPARE(link.responseStats().count(), qint64(1));
        QCOMPARE(link.responseStats().maxUs(), usec);
        QCOMPARE(host.processedCount, 1);
    }

    void link2MeasuresEachPacketOnOneConnection() {
        Peer peer;
        peer.answer = QByteArrayLiteral("<ACK/>");
        peer.answerDelayMs = kAnswerDelayMs;
        FakeHost host;
        host.port[1] = peer.portText();
        Type5Link link(host);
        link.timerTCP2().stop();
        link.tmrPacketResponse2().stop();
        QSignalSpy measured(&link, &TcpLink::responseMeasured);

        link.gPendingType5Packet = kPacket;
        link.SetTCP2(2);
        QTRY_COMPARE(link.wskMessage2().State(), qint16(7));
        for (int packet = 1; packet <= 3; ++packet) {
            link.gPendingType5Packet = kPacket;
            link.SendTCPPacket2();
            QTRY_COMPARE(measured.count(), packet);
            QVERIFY(measured.last().at(0).toLongLong() >= kAnswerDelayMs * 1000);
        }
        QCOMPARE(link.responseStats().count(), qint64(3));
        QVERIFY(link.responseStats().minUs() >= kAnswerDelayMs * 1000);
    }

    void heartbeatsAndUnaskedDataAreNotMeasured() {
        Peer peer;
        FakeHost host;
        host.port[1] = peer.portText();
        Type5Link link(host);
        link.timerTCP2().stop();
        link.tmrPacketResponse2().stop();
        QSignalSpy measured(&link, &TcpLink::responseMeasured);
        link.gPendingType5Packet = kPacket;
        link.SetTCP2(2);
        QTRY_COMPARE(link.wskMessage2().State(), qint16(7));
        QTRY_COMPARE(peer.connectionCount(), 1);

        peer.send(QByteArrayLiteral("\x02\x48\x03"));
        QTRY_COMPARE(host.log.last(), QStringLiteral("Rxed Heartbeat. Send back ACK"));
        peer.send(QByteArrayLiteral("unasked"));
        QTRY_COMPARE(host.processedCount, 1);
        QCOMPARE(measured.count(), 0);
        QCOMPARE(link.responseStats().count(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestResponseTiming)
#include "tst_responsetiming.moc"
