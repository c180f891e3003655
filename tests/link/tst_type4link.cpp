#include "linktestsupport.h"

// Link 1: one connection per packet, closed after the response.
namespace {

const QByteArray kPacket = QByteArrayLiteral("0010143|IPND record");
const QString kLoopback = QStringLiteral("127.0.0.1");
const QString kUnable = QStringLiteral("Unable to set socket");

} // namespace

class TestType4Link : public QObject {
    Q_OBJECT

private slots:
    void normalExchange_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("peerCloses");
        QTest::newRow("answered before the next poll") << QByteArrayLiteral("ACK 0001") << false;
        QTest::newRow("answered, then the peer closes") << QByteArrayLiteral("ACK 0001") << true;
        QTest::newRow("no answer: the next poll closes") << QByteArray() << false;
    }

    void normalExchange() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, peerCloses);
        Peer peer;
        peer.answer = answer;
        peer.closeAfterAnswer = peerCloses;
        SteppedLink t(1);
        t.aim(kLoopback, peer.port());
        t.pending() = QByteArrayLiteral("first"); // only the last stored packet goes
        t.pending() = kPacket;
        t.responseTime() = 500;
        t.poll();
        t.poll(); // still connecting: the packet waits, and no event came from inside the call
        QCOMPARE(t.host.log.size(), 2);
        QCOMPARE(t.responseTime(), 0);
        QCOMPARE(t.pending(), kPacket);
        QStringList expected{
            QStringLiteral("TCP TCP Originate: Remote port <%1> Remote IP <127.0.0.1 > ")
                .arg(peer.port()),
            t.host.log.value(1), QStringLiteral("Event: Connected")};
        QVERIFY(expected[1].startsWith(QStringLiteral("TCP Current: Local port <")));
        QVERIFY(expected[1].endsWith(QStringLiteral(" > ")));
        QTRY_COMPARE(t.host.log, expected);

        t.poll();
        QVERIFY(t.pending().isEmpty());
        QTRY_COMPARE(peer.received(), kPacket);
        if (answer.isEmpty())
            t.poll();
        expected << (answer.isEmpty() ? QStringLiteral("Close Socket")
                                      : QStringLiteral("Response Time 0 milliseconds    "
                                                       "127.0.0.1> Data Pkt Rxd"));
        QTRY_COMPARE(t.host.log, expected);
        QCOMPARE(t.host.txbMessage, answer.isEmpty() ? QString() : shown("ACK 0001"));
        QCOMPARE(t.host.processedCount, answer.isEmpty() ? 0 : 1);
        QCOMPARE(t.socket().State(), qint16(0));
        QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
        QCoreApplication::processEvents();
        t.poll(); // closed with nothing pending: nothing happens; the peer's close raised nothing
        QCOMPARE(t.host.log, expected);
        QCOMPARE(peer.received(), kPacket);
    }

    void serve_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("listening");
        const QString free = QString::number(unusedPort());
        QTest::newRow("loopback") << kLoopback << free << true;
        QTest::newRow("port not a number") << kLoopback << QStringLiteral("x") << false;
        QTest::newRow("address not on this machine")
            << QStringLiteral("192.0.2.1") << free << false;
    }

    void serve() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(bool, listening);
        SteppedLink t(1);
        t.host.address[0] = address;
        t.host.port[0] = port;
        t.one->SetTCP(1);
        if (!listening) {
            QCOMPARE(t.host.log, QStringList{kUnable});
            QCOMPARE(t.socket().State(), qint16(0));
            return;
        }
        QCOMPARE(t.host.log, QStringList{QStringLiteral("TCP Remote Server: Local port <") + port +
                                         QStringLiteral("> Local IP <127.0.0.1 > ")});
        QCOMPARE(t.socket().State(), qint16(2));
        t.one->SetTCP(1); // not closed: refused
        QCOMPARE(t.host.log.last(), kUnable);

        // A peer connects; a packet stored meanwhile goes out on the next poll.
        t.pending() = kPacket;
        t.poll(); // listening: the packet waits
        QCOMPARE(t.pending(), kPacket);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port.toUShort());
        QTRY_COMPARE(t.host.log.size(), 3);
        QVERIFY(t.host.log.at(2).startsWith(QStringLiteral("Event: Connect request id = ")));
        QVERIFY(t.host.log.at(2).endsWith(QStringLiteral(" from <127.0.0.1>")));
        QCOMPARE(t.socket().State(), qint16(7));
        t.poll();
        QTRY_COMPARE(client.bytesAvailable(), qint64(kPacket.size()));
        QCOMPARE(client.readAll(), kPacket);
        client.write("ACK");
        QTRY_COMPARE(t.host.processedCount, 1);
    }

    void closeButton_data() {
        QTest::addColumn<int>("polls");
        QTest::newRow("never used") << 0;
        QTest::newRow("connecting") << 1;
        QTest::newRow("connected") << 2;
    }

    // Closes without a log line: no event of the connection it closed comes
    // later, not even "Event: Port Closed" for its own close.
    void closeButton() {
        QFETCH(int, polls);
        Peer peer;
        SteppedLink t(1);
        if (polls == 1) {
            t.aim(kLoopback, peer.port());
            t.pending() = kPacket;
            t.poll();
            t.host.log.clear();
        } else if (polls == 2) {
            t.sendTo(peer, kPacket);
        }
        t.one->closeSocketIfOpen();
        QCOMPARE(t.socket().State(), qint16(0));
        if (polls > 0) {
            QTRY_COMPARE(peer.connectionCount(), 1);
            QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
        }
        QCoreApplication::processEvents();
        QVERIFY(t.host.log.isEmpty());
    }

    void destroyingTheLinkClosesItsConnection() {
        Peer peer;
        SteppedLink(1).sendTo(peer, kPacket);
        QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(TestType4Link)
#include "tst_type4link.moc"
