#include "linktestsupport.h"
#include "type4link.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QByteArray kPacket = QByteArrayLiteral("0010143|IPND record");

QString originateLine(quint16 port) {
    return QStringLiteral("TCP TCP Originate: Remote port <%1> Remote IP <127.0.0.1 > ").arg(port);
}

} // namespace

// Link 1 with its timers stopped: the tests step the poll and the response
// timer themselves.
struct SteppedLink4 {
    FakeHost host;
    Type4Link link{host};

    SteppedLink4() {
        link.timerTCP().stop();
        link.tmrPacketResponse().stop();
    }

    // What a producer does: remote end on the closed socket, then the packet.
    void store(const QByteArray &packet, quint16 port,
               const QString &address = QStringLiteral("127.0.0.1")) {
        link.wskMessage().setRemoteHost(address);
        link.wskMessage().setRemotePort(port);
        link.gPendingType4Packet = packet;
    }
};

class TestType4Link : public QObject {
    Q_OBJECT

private slots:
    void createdWithBothTimersRunning() {
        FakeHost host;
        Type4Link link(host);
        QVERIFY(link.timerTCP().isActive());
        QCOMPARE(link.timerTCP().interval(), 100);
        QVERIFY(link.tmrPacketResponse().isActive());
        QCOMPARE(link.tmrPacketResponse().interval(), 10);
        QCOMPARE(link.tmrPacketResponse().timerType(), Qt::PreciseTimer);
        QCOMPARE(link.wskMessage().State(), qint16(0));
    }

    void normalExchange_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("answered before the next poll") << QByteArrayLiteral("ACK 0001");
        QTest::newRow("no answer: the next poll closes") << QByteArray();
    }

    void normalExchange() {
        QFETCH(QByteArray, answer);
        Peer peer;
        peer.answer = answer;
        SteppedLink4 s;
        s.store(kPacket, peer.port());
        s.link.gResponseTime = 500;

        s.link.SendTCPPacket();
        QCOMPARE(s.link.gResponseTime, 0);
        QCOMPARE(s.host.log.size(), 2);
        QCOMPARE(s.host.log.at(0), originateLine(peer.port()));
        QVERIFY(s.host.log.at(1).startsWith(QStringLiteral("TCP Current: Local port <")));
        QVERIFY(s.host.log.at(1).endsWith(QStringLiteral(" > ")));
        QCOMPARE(s.link.gPendingType4Packet, kPacket); // still pending while connecting

        QTRY_COMPARE(s.host.log.size(), 3);
        QCOMPARE(s.host.log.at(2), QStringLiteral("Event: Connected"));
        s.link.SendTCPPacket();
        QVERIFY(s.link.gPendingType4Packet.isEmpty());
        QTRY_COMPARE(peer.received(), kPacket);

        if (!answer.isEmpty()) {
            QTRY_COMPARE(s.host.log.size(), 4);
            QCOMPARE(s.host.log.at(3),
                     QStringLiteral("Response Time 0 milliseconds    127.0.0.1> Data Pkt Rxd"));
            QCOMPARE(s.host.txbMessage, shown("ACK 0001"));
            QCOMPARE(s.host.processedCount, 1);
            QCOMPARE(s.host.lbProcessed, QStringLiteral("1"));
            QCOMPARE(s.link.wskMessage().State(), qint16(0)); // link 1 closes after a response
        } else {
            s.link.SendTCPPacket();
            QCOMPARE(s.host.log.size(), 4);
            QCOMPARE(s.host.log.at(3), QStringLiteral("Close Socket"));
            QCOMPARE(s.host.processedCount, 0);
            QCOMPARE(s.link.wskMessage().State(), qint16(0));
        }
        QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
        // A closed link with nothing pending does nothing.
        s.link.SendTCPPacket();
        QCOMPARE(s.host.log.size(), 4);
    }

    void peerAnsweringAndClosingIsOneResponse() {
        Peer peer;
        peer.answer = QByteArrayLiteral("ACK");
        peer.closeAfterAnswer = true;
        SteppedLink4 s;
        s.store(kPacket, peer.port());
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.host.processedCount, 1);
        QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
        QCoreApplication::processEvents();
        // Link 1 closed on the response, so the peer's close raises nothing.
        QCOMPARE(s.host.log.size(), 4);
        QCOMPARE(s.host.log.last(),
                 QStringLiteral("Response Time 0 milliseconds    127.0.0.1> Data Pkt Rxd"));
        QCOMPARE(s.link.wskMessage().State(), qint16(0));
    }

    void onlyTheLastStoredPacketGoes() {
        Peer peer;
        SteppedLink4 s;
        s.store(QByteArrayLiteral("first"), peer.port());
        s.store(QByteArrayLiteral("second"), peer.port());
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
        s.link.SendTCPPacket();
        s.link.SendTCPPacket(); // closes
        QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(peer.received(), QByteArrayLiteral("second"));
    }

    void packetWaitsWhileConnecting() {
        Peer peer;
        SteppedLink4 s;
        s.store(kPacket, peer.port());
        s.link.SendTCPPacket();
        s.link.SendTCPPacket(); // still connecting: nothing happens
        QCOMPARE(s.host.log.size(), 2);
        QCOMPARE(s.link.gPendingType4Packet, kPacket);
    }

    void refusedDropsThePacket() {
        const quint16 port = unusedPort();
        SteppedLink4 s;
        s.store(kPacket, port);
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.host.log.size(), 3);
        QCOMPARE(s.host.log.at(2), QStringLiteral("Event: Socket error Connection refused"));
        QVERIFY(s.link.gPendingType4Packet.isEmpty());
        QCOMPARE(s.link.wskMessage().State(), qint16(0));
        s.link.SendTCPPacket(); // stays closed until another packet is stored
        QCOMPARE(s.host.log.size(), 3);
    }

    void otherConnectErrorsRetry() {
        SteppedLink4 s;
        s.store(kPacket, 7005, QStringLiteral("no such host!"));
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.host.log.size(), 3);
        QCOMPARE(s.host.log.at(2), QStringLiteral("Event: Socket error Host not found"));
        QCOMPARE(s.link.gPendingType4Packet, kPacket);
        QCOMPARE(s.link.wskMessage().State(), qint16(0));
        s.link.SendTCPPacket(); // originates again
        QCOMPARE(s.host.log.size(), 5);
        QCOMPARE(
            s.host.log.at(3),
            QStringLiteral("TCP TCP Originate: Remote port <7005> Remote IP <no such host! > "));
    }

    void errorEventDropsOnlyOnRefusal_data() {
        QTest::addColumn<qint16>("number");
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("refused") << qint16(10061) << QStringLiteral("Connection refused") << true;
        QTest::newRow("timed out")
            << qint16(10060) << QStringLiteral("Connection timed out") << false;
        QTest::newRow("reset") << qint16(10054) << QStringLiteral("Connection reset by peer")
                               << false;
        QTest::newRow("unreachable")
            << qint16(10065) << QStringLiteral("Host unreachable") << false;
        QTest::newRow("not found") << qint16(11001) << QStringLiteral("Host not found") << false;
    }

    void errorEventDropsOnlyOnRefusal() {
        QFETCH(qint16, number);
        QFETCH(QString, description);
        QFETCH(bool, dropped);
        Peer peer;
        SteppedLink4 s;
        s.store(kPacket, peer.port());
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
        s.host.log.clear();

        s.link.wskMessage_Error(number, description);
        QCOMPARE(s.host.log, QStringList{QStringLiteral("Event: Socket error ") + description});
        QCOMPARE(s.link.gPendingType4Packet.isEmpty(), dropped);
        QCOMPARE(s.link.wskMessage().State(), qint16(0));
    }

    void badRemoteEndIsUnableToSetSocket_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<qint32>("port");
        QTest::newRow("empty address") << QString() << 7005;
        QTest::newRow("port 0") << QStringLiteral("127.0.0.1") << 0;
        QTest::newRow("port 65536") << QStringLiteral("127.0.0.1") << 65536;
        QTest::newRow("negative port") << QStringLiteral("127.0.0.1") << -7005;
    }

    void badRemoteEndIsUnableToSetSocket() {
        QFETCH(QString, address);
        QFETCH(qint32, port);
        SteppedLink4 s;
        s.link.wskMessage().setRemoteHost(address);
        s.link.wskMessage().setRemotePort(port);
        s.link.gPendingType4Packet = kPacket;
        s.link.SendTCPPacket();
        QCOMPARE(s.host.log, QStringList{QStringLiteral("Unable to set socket")});
        QCOMPARE(s.link.gPendingType4Packet, kPacket);
        QCOMPARE(s.link.wskMessage().State(), qint16(0));
    }

    void serve_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("listening");
        const QString free = QString::number(unusedPort());
        QTest::newRow("loopback") << QStringLiteral("127.0.0.1") << free << true;
        QTest::newRow("port not a number")
            << QStringLiteral("127.0.0.1") << QStringLiteral("x") << false;
        QTest::newRow("port 70000")
            << QStringLiteral("127.0.0.1") << QStringLiteral("70000") << false;
        QTest::newRow("empty address") << QString() << free << false;
        QTest::newRow("address not on this machine")
            << QStringLiteral("192.0.2.1") << free << false;
    }

    void serve() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(bool, listening);
        SteppedLink4 s;
        s.host.address[0] = address;
        s.host.port[0] = port;
        s.link.SetTCP(1);
        if (!listening) {
            QCOMPARE(s.host.log, QStringList{QStringLiteral("Unable to set socket")});
            QCOMPARE(s.link.wskMessage().State(), qint16(0));
            return;
        }
        QCOMPARE(s.host.log, QStringList{QStringLiteral("TCP Remote Server: Local port <") + port +
                                         QStringLiteral("> Local IP <127.0.0.1 > ")});
        QCOMPARE(s.link.wskMessage().State(), qint16(2));

        // A peer connects; a packet stored meanwhile goes out on the next poll.
        s.link.gPendingType4Packet = kPacket;
        s.link.SendTCPPacket(); // listening: the packet waits
        QCOMPARE(s.link.gPendingType4Packet, kPacket);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port.toUShort());
        QTRY_COMPARE(s.host.log.size(), 2);
        QVERIFY(s.host.log.at(1).startsWith(QStringLiteral("Event: Connect request id = ")));
        QVERIFY(s.host.log.at(1).endsWith(QStringLiteral(" from <127.0.0.1>")));
        QCOMPARE(s.link.wskMessage().State(), qint16(7));
        s.link.SendTCPPacket();
        QTRY_COMPARE(client.bytesAvailable(), qint64(kPacket.size()));
        QCOMPARE(client.readAll(), kPacket);
    }

    void setTcpServeWhileNotClosedIsRefused() {
        Peer peer;
        SteppedLink4 s;
        s.store(kPacket, peer.port());
        s.link.SendTCPPacket();
        s.host.log.clear();
        s.link.SetTCP(1);
        QCOMPARE(s.host.log, QStringList{QStringLiteral("Unable to set socket")});
    }

    void peerClosingAtOnceLeavesTheLinkListening() {
        Peer peer;
        peer.onConnect = Peer::OnConnect::Close;
        SteppedLink4 s;
        s.store(kPacket, peer.port());
        s.link.SendTCPPacket();
        QTRY_VERIFY(s.host.log.contains(QStringLiteral("Event: Port Closed")));
        QCOMPARE(s.host.log.at(2), QStringLiteral("Event: Connected"));
        QCOMPARE(s.host.log.size(), 4);
        QCOMPARE(s.link.wskMessage().State(), qint16(2));
        QCOMPARE(s.link.wskMessage().LocalIP(), QStringLiteral("127.0.0.1"));
        QCOMPARE(s.link.gPendingType4Packet, kPacket); // waits for a peer

        // A peer that connects to the re-opened port gets the packet.
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost,
                             static_cast<quint16>(s.link.wskMessage().LocalPort()));
        QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
        s.link.SendTCPPacket();
        QTRY_COMPARE(client.bytesAvailable(), qint64(kPacket.size()));
    }

    void listeningWithNothingPendingIsClosedByThePoll() {
        Peer peer;
        peer.answer = QByteArrayLiteral("ACK");
        SteppedLink4 s;
        s.store(kPacket, peer.port());
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
        // The peer closes before link 1 sends: link 1 listens again.
        peer.connection(0)->disconnectFromHost();
        QTRY_COMPARE(s.link.wskMessage().State(), qint16(2));
        s.link.gPendingType4Packet.clear();
        s.link.SendTCPPacket();
        QCOMPARE(s.host.log.last(), QStringLiteral("Close Socket"));
        QCOMPARE(s.link.wskMessage().State(), qint16(0));
    }

    void peerResetMidExchange() {
        Peer peer;
        SteppedLink4 s;
        s.store(kPacket, peer.port());
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
        s.link.SendTCPPacket();
        QTRY_COMPARE(peer.received(), kPacket);
        resetConnection(peer.connection(0));
        QTRY_COMPARE(s.host.log.last(),
                     QStringLiteral("Event: Socket error Connection reset by peer"));
        QCOMPARE(s.link.wskMessage().State(), qint16(0));

        // The link keeps working.
        peer.answer = QByteArrayLiteral("ACK");
        s.store(QByteArrayLiteral("again"), peer.port());
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
        s.link.SendTCPPacket();
        QTRY_COMPARE(s.host.processedCount, 1);
        QCOMPARE(peer.received(1), QByteArrayLiteral("again"));
    }

    void closeButton_data() {
        QTest::addColumn<bool>("used");
        QTest::newRow("never used") << false;
        QTest::newRow("connected") << true;
    }

    void closeButton() {
        QFETCH(bool, used);
        Peer peer;
        SteppedLink4 s;
        if (used) {
            s.store(kPacket, peer.port());
            s.link.SendTCPPacket();
            QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
        }
        const QStringList before = s.host.log;
        s.link.closeSocketIfOpen();
        QCOMPARE(s.link.wskMessage().State(), qint16(0));
        QCOMPARE(s.host.log, before);
        if (used) {
            QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
            QCoreApplication::processEvents();
            QCOMPARE(s.host.log, before); // no "Event: Port Closed" for our own close
        }
    }

    void destroyingTheLinkClosesItsConnection() {
        Peer peer;
        {
            SteppedLink4 s;
            s.store(kPacket, peer.port());
            s.link.SendTCPPacket();
            QTRY_COMPARE(s.link.wskMessage().State(), qint16(7));
            QTRY_COMPARE(peer.connectionCount(), 1);
        }
        QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
    }

    void realTimersRunTheExchange() {
        Peer peer;
        peer.answer = QByteArrayLiteral("ACK");
        FakeHost host;
        Type4Link link(host);
        link.wskMessage().setRemoteHost(QStringLiteral("127.0.0.1"));
        link.wskMessage().setRemotePort(peer.port());
        link.gPendingType4Packet = kPacket;
        link.gResponseTime = 0;
        link.tmrPacketResponse().start();

        QTRY_COMPARE_WITH_TIMEOUT(host.processedCount, 1, 5000);
        QCOMPARE(peer.received(), kPacket);
        QCOMPARE(host.log.at(0), originateLine(peer.port()));
        QCOMPARE(host.log.at(2), QStringLiteral("Event: Connected"));
        QVERIFY(host.log.at(3).startsWith(QStringLiteral("Response Time ")));
        QVERIFY(
            host.log.at(3).endsWith(QStringLiteral(" milliseconds    127.0.0.1> Data Pkt Rxd")));
        QVERIFY(!link.tmrPacketResponse().isActive());
        QCOMPARE(link.wskMessage().State(), qint16(0));
    }
};

QTEST_GUILESS_MAIN(TestType4Link)
#include "tst_type4link.moc"
