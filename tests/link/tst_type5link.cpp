#include "linktestsupport.h"

#include <QSignalSpy>

// Link 2: its remote end from socket row 1, one connection for many packets.
namespace {

const QByteArray kFirst = QByteArrayLiteral("<CLI_Data>one</CLI_Data>\r\n");
const QByteArray kSecond = QByteArrayLiteral("<CLI_Data>two</CLI_Data>\r\n");

// What the Type 5 producer does.
void store(SteppedLink &t, const QByteArray &packet) {
    t.pending() = packet;
    t.responseTimer().start();
    t.two->SetTCP2(2);
}

} // namespace

class TestType5Link : public QObject {
    Q_OBJECT

private slots:
    void oneConnectionForManyPackets() {
        Peer peer;
        SteppedLink t(2);
        t.aim(QStringLiteral("127.0.0.1"), peer.port());
        t.responseTime() = 700;
        store(t, kFirst);
        QCOMPARE(t.responseTime(), 0);
        QCOMPARE(t.host.log.value(0),
                 QStringLiteral("TCP TCP Originate: Remote port <%1> Remote IP <127.0.0.1 > ")
                     .arg(peer.port()));
        QVERIFY(t.host.log.value(1).startsWith(QStringLiteral("TCP Current: Local port <")));
        QTRY_COMPARE(t.host.log.value(2), QStringLiteral("Event: Connected"));

        t.responseTime() = 120;
        t.poll();
        QCOMPARE(t.responseTime(), 0);
        QVERIFY(t.pending().isEmpty());
        QTRY_COMPARE(peer.received(), kFirst);
        store(t, kSecond); // already connected: nothing logged
        t.poll();
        QTRY_COMPARE(peer.received(), kFirst + kSecond);
        t.poll(); // nothing pending: the connection stays open
        QCOMPARE(t.socket().State(), qint16(7));
        QCOMPARE(peer.connectionCount(), 1);
        QCOMPARE(t.host.log.size(), 3);
    }

    void sendCompleteEmptiesARefilledSlot() {
        Peer peer;
        SteppedLink t(2);
        t.aim(QStringLiteral("127.0.0.1"), peer.port());
        store(t, kFirst);
        QTRY_COMPARE(t.socket().State(), qint16(7));
        QSignalSpy complete(&t.socket(), &SocketControl::sendCompleteEvent);
        t.poll();
        t.pending() = kSecond; // stored before the send completed
        QTRY_COMPARE(complete.count(), 1);
        QVERIFY(t.pending().isEmpty());

        t.pending() = QByteArrayLiteral("third");
        t.poll();
        QTRY_COMPARE(peer.received(), kFirst + "third");
    }

    void floodIsShownInBoundedPieces() {
        constexpr qint64 kFloodBytes = 50 * 1024 * 1024;
        constexpr qsizetype kStampLength = 20; // "yyyy-MM-dd hh:mm:ss "
        Peer peer;
        SteppedLink t(2);
        t.sendTo(peer, kFirst);
        qint64 shownBytes = 0;
        qint64 largestRead = 0;
        connect(&t.socket(), &SocketControl::dataArrivalEvent, this, [&] {
            // Runs after the link's own handler has taken the data.
            const qint64 read = t.host.txbMessage.size() - kStampLength;
            largestRead = std::max(largestRead, read);
            shownBytes += read;
        });

        peer.flood(kFloodBytes);
        QTRY_COMPARE_WITH_TIMEOUT(shownBytes, kFloodBytes, 50000);
        QVERIFY(largestRead <= SocketControl::kMaxArrivalBytes);
        QVERIFY(t.host.longestMessage <= kStampLength + SocketControl::kMaxArrivalBytes);
        QVERIFY(t.host.processedCount >= kFloodBytes / SocketControl::kMaxArrivalBytes);

        // Still working: the next packet goes out on the same connection.
        store(t, kSecond);
        t.poll();
        QTRY_COMPARE(peer.received(), kFirst + kSecond);
        QCOMPARE(peer.connectionCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestType5Link)
#include "tst_type5link.moc"
