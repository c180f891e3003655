#include "linktestsupport.h"
#include "visibletext.h"

#include <QSignalSpy>

// What both links share: the timers, the delay rule, responses, heartbeats,
// peers that close, reset or refuse, and the measured response time.
namespace {

const QByteArray kPacket = QByteArrayLiteral("packet");
const QByteArray kHeartbeat = QByteArrayLiteral("\x02\x48\x03");
const QByteArray kHeartbeatAnswer = QByteArrayLiteral("\x02\x06\x03");
const QString kResponseLine =
    QStringLiteral("Response Time %1 milliseconds    127.0.0.1> Data Pkt Rxd");

void addLinkRows() {
    QTest::addColumn<int>("link");
    QTest::newRow("link 1") << 1;
    QTest::newRow("link 2") << 2;
}

} // namespace

class TestReceivePath : public QObject {
    Q_OBJECT

private slots:
    void delayRuleFiresOnThe201stTick_data() {
        QTest::addColumn<int>("link");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("shownCount");
        QTest::addColumn<QStringList>("log");
        const auto row = [](const char *name, int link, int before, int after, const char *shown,
                            const QStringList &log) {
            QTest::newRow(name) << link << before << after << QString::fromLatin1(shown) << log;
        };
        row("link 1 writes a leading space", 1, 0, 1, " 1", {});
        row("link 1 counts on", 1, 41, 42, " 42", {});
        row("link 2 writes plain digits", 2, 0, 1, "1", {});
        row("link 2 reaches its top", 2, 32766, 32767, "32767", {});
        row("link 2 full", 2, 32767, 32767, "32767",
            {QStringLiteral("Delayed count full at 32767; later delays are not counted")});
    }

    void delayRuleFiresOnThe201stTick() {
        QFETCH(int, link);
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(QString, shownCount);
        QFETCH(QStringList, log);
        SteppedLink t(link);
        t.setDelayedCount(qint16(before));
        t.responseTimer().start();
        for (int tick = 0; tick < 200; ++tick)
            t.tick();
        QCOMPARE(t.responseTime(), 2000);
        QCOMPARE(t.delayedCount(), before);
        QVERIFY(t.host.lbLastDelayed.isEmpty());
        QVERIFY(t.responseTimer().isActive());

        t.tick();
        QCOMPARE(t.delayedCount(), after);
        QCOMPARE(t.host.txbDelayedCt, shownCount);
        QCOMPARE(t.host.lbLastDelayed, QLatin1String(FakeHost::kNowText));
        QCOMPARE(t.responseTime(), 0);
        QVERIFY(!t.responseTimer().isActive());
        QCOMPARE(t.host.log, log);
    }

    // Each arrival is a response, reported with the time counted since the
    // send, unless it is the three heartbeat bytes alone in one arrival on link 2.
    void arrivals_data() {
        QTest::addColumn<int>("link");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QList<QByteArray>>("arrivals");
        QTest::addColumn<int>("countedMs"); // -1: a heartbeat
        using L = QList<QByteArray>;
        QTest::newRow("link 1, response") << 1 << 37 << L{"OK"} << 370;
        QTest::newRow("link 2, response") << 2 << 37 << L{"OK"} << 370;
        QTest::newRow("link 1, response after a delay") << 1 << 201 << L{"OK"} << 0;
        QTest::newRow("link 2, response after a delay") << 2 << 201 << L{"OK"} << 0;
        QTest::newRow("link 2, heartbeat alone") << 2 << 1 << L{kHeartbeat} << -1;
        QTest::newRow("link 2, bytes after it") << 2 << 1 << L{kHeartbeat + "ABC"} << 10;
        QTest::newRow("link 2, bytes before it") << 2 << 1 << L{"ABC" + kHeartbeat} << 10;
        QTest::newRow("link 2, two heartbeats") << 2 << 1 << L{kHeartbeat + kHeartbeat} << 10;
        QTest::newRow("link 2, lower-case h") << 2 << 1 << L{"\x02h\x03"} << 10;
        QTest::newRow("link 2, split over two arrivals")
            << 2 << 1 << L{kHeartbeat.left(2), kHeartbeat.mid(2)} << 10;
        QTest::newRow("link 1, heartbeat alone") << 1 << 1 << L{kHeartbeat} << 10;
        QTest::newRow("link 1, NULs inside") << 1 << 1 << L{QByteArray("\x02OK\0\0\x03", 6)} << 10;
    }

    void arrivals() {
        QFETCH(int, link);
        QFETCH(int, ticks);
        QFETCH(QList<QByteArray>, arrivals);
        QFETCH(int, countedMs);
        const bool isHeartbeat = countedMs < 0;
        Peer peer;
        SteppedLink t(link);
        t.sendTo(peer, kPacket);
        QSignalSpy measured(&t.link(), &TcpLink::responseMeasured);
        t.responseTimer().start();
        for (int tick = 0; tick < ticks; ++tick)
            t.tick();
        t.pending() = QByteArrayLiteral("waiting");
        t.host.processedCount = 9;

        QStringList expected;
        for (const QByteArray &arrival : arrivals) {
            peer.send(arrival);
            expected << (isHeartbeat ? QStringLiteral("Rxed Heartbeat. Send back ACK")
                                     : kResponseLine.arg(countedMs));
            QTRY_COMPARE(t.host.log, expected);
        }
        const int processed = 9 + (isHeartbeat ? 0 : int(arrivals.size()));
        QCOMPARE(t.host.processedCount, processed);
        QCOMPARE(t.host.lbProcessed, isHeartbeat ? QString() : QString::number(processed));
        QCOMPARE(t.host.txbMessage, isHeartbeat
                                        ? QString()
                                        : QLatin1String(FakeHost::kNowText) + QLatin1Char(' ') +
                                              toVisibleText(arrivals.last()));
        // A heartbeat leaves the counter running, a response leaves it as it was.
        QCOMPARE(t.responseTimer().isActive(), isHeartbeat);
        QCOMPARE(t.responseTime(), isHeartbeat ? 10 : countedMs);
        QCOMPARE(t.delayedCount(), ticks > 200 ? 1 : 0);
        QCOMPARE(measured.count(), isHeartbeat ? 0 : 1); // later arrivals were never asked for
        QCOMPARE(t.socket().State(), qint16(link == 1 ? 0 : 7)); // link 1 closes on a response
        QTRY_COMPARE(peer.received(), isHeartbeat ? kPacket + kHeartbeatAnswer : kPacket);
        // The answer's SendComplete empties the slot, as any send's does.
        QTRY_COMPARE(t.pending().isEmpty(), isHeartbeat);
    }

    void shownTextIsByteForByte_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const auto row = [](const QByteArray &bytes, const char *text) {
            QTest::newRow(text) << bytes << QString::fromLatin1(text);
        };
        row("ACK|0001", "ACK|0001");
        row(QByteArray("A\0B", 3), "A<NUL>B");
        row(kHeartbeatAnswer, "<STX><ACK><ETX>");
        row("a\r\nb\tc", "a<CR><LF>b<HT>c");
        row("\x1b\x1f\x7f", "<ESC><US><DEL>");
        row("caf\xe9 \xff", "caf\xe9 \xff");
        row(QByteArray(), "");
    }

    void shownTextIsByteForByte() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(toVisibleText(bytes), text);
    }

    void peerCloseLeavesTheLinkListening_data() { addLinkRows(); }

    // On the port and address the connection used; a peer that connects
    // there gets the next packet.
    void peerCloseLeavesTheLinkListening() {
        QFETCH(int, link);
        Peer peer;
        SteppedLink t(link);
        t.sendTo(peer, kPacket);
        const qint32 usedPort = t.socket().LocalPort();
        peer.connection(0)->disconnectFromHost();
        QTRY_COMPARE(t.host.log, QStringList{QStringLiteral("Event: Port Closed")});
        QCOMPARE(t.socket().State(), qint16(2));
        QCOMPARE(t.socket().LocalPort(), usedPort);
        QCOMPARE(t.socket().LocalIP(), QStringLiteral("127.0.0.1"));
        t.pending() = QByteArrayLiteral("next");
        t.poll(); // a listening link waits for a peer
        QCOMPARE(t.socket().State(), qint16(2));

        if (link == 2) { // its producer's SetTCP2(2) connects afresh
            t.two->SetTCP2(2);
            QTRY_COMPARE(t.socket().State(), qint16(7));
            t.poll();
            QTRY_COMPARE(peer.received(1), QByteArrayLiteral("next"));
            return;
        }
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(usedPort));
        QTRY_COMPARE(t.socket().State(), qint16(7));
        t.poll();
        QTRY_COMPARE(client.bytesAvailable(), qint64(4));
    }

    void peerResetThenTheLinkGoesOn_data() { addLinkRows(); }

    void peerResetThenTheLinkGoesOn() {
        QFETCH(int, link);
        Peer peer;
        SteppedLink t(link);
        t.sendTo(peer, kPacket);
        resetConnection(peer.connection(0));
        const QStringList resetLine{QStringLiteral("Event: Socket error Connection reset by peer")};
        QTRY_COMPARE(t.host.log, resetLine);
        QCOMPARE(t.socket().State(), qint16(0));
        QCoreApplication::processEvents();
        QCOMPARE(t.host.log, resetLine); // no close event follows

        t.pending() = QByteArrayLiteral("again");
        t.poll();
        QTRY_COMPARE(t.socket().State(), qint16(7));
        t.poll();
        QTRY_COMPARE(peer.received(1), QByteArrayLiteral("again"));
    }

    // A refused connection drops the packet; after any other error the next
    // poll tries again.
    void connectErrors_data() {
        QTest::addColumn<int>("link");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port"); // -1: a peer that resets at once
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("dropped");
        const auto row = [](const char *name, int link, const char *address, int port,
                            const char *error, bool dropped) {
            QTest::newRow(name) << link << QString::fromLatin1(address) << port
                                << QString::fromLatin1(error) << dropped;
        };
        const int unused = unusedPort();
        row("link 1, refused", 1, "127.0.0.1", unused, "Connection refused", true);
        row("link 2, refused", 2, "127.0.0.1", unused, "Connection refused", true);
        row("link 1, host not found", 1, "no such host!", 7005, "Host not found", false);
        row("link 2, host not found", 2, "no such host!", 7018, "Host not found", false);
        row("link 1, reset at once", 1, "127.0.0.1", -1, "Connection reset by peer", false);
        row("link 2, reset at once", 2, "127.0.0.1", -1, "Connection reset by peer", false);
    }

    void connectErrors() {
        QFETCH(int, link);
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(QString, error);
        QFETCH(bool, dropped);
        Peer peer;
        peer.onConnect = Peer::OnConnect::Reset;
        SteppedLink t(link);
        t.aim(address, port < 0 ? peer.port() : port);
        t.pending() = kPacket;
        t.poll();
        QCOMPARE(t.host.log.size(), 2); // the error never comes from inside the call
        QTRY_COMPARE(t.host.log.last(), QStringLiteral("Event: Socket error ") + error);
        QCOMPARE(t.pending().isEmpty(), dropped);
        QCOMPARE(t.socket().State(), qint16(0));
        QCoreApplication::processEvents();
        QCOMPARE(peer.connectionCount(), port < 0 ? 1 : 0); // nothing tried again by itself
        t.host.log.clear();
        t.poll(); // originates again unless the packet was dropped
        QCOMPARE(t.host.log.size(), dropped ? 0 : 2);
    }

    // With the link's own timers, against a peer that holds its answer back:
    // only lower bounds are asserted, timing figures belong to the benchmarks.
    void realTimersMeasureEachResponse_data() { addLinkRows(); }

    void realTimersMeasureEachResponse() {
        QFETCH(int, link);
        constexpr int kAnswerDelayMs = 60;
        Peer peer;
        peer.answer = QByteArrayLiteral("ACK");
        peer.answerDelayMs = kAnswerDelayMs;
        SteppedLink t(link, true);
        QCOMPARE(t.pollTimer().interval(), 100);
        QCOMPARE(t.responseTimer().interval(), 10);
        QCOMPARE(t.responseTimer().timerType(), Qt::PreciseTimer);
        t.aim(QStringLiteral("127.0.0.1"), peer.port());
        QSignalSpy measured(&t.link(), &TcpLink::responseMeasured);
        for (int packet = 1; packet <= 2; ++packet) {
            const qint64 beforeNs = SocketControl::monotonicNs();
            t.pending() = kPacket;
            QTRY_COMPARE_WITH_TIMEOUT(measured.count(), packet, 5000);
            QVERIFY(t.link().lastHandoverNs() >= beforeNs);
            const qint64 usec = measured.last().at(0).toLongLong();
            QVERIFY2(usec >= kAnswerDelayMs * 1000, qPrintable(QString::number(usec)));
            QVERIFY(usec * 1000 >= peer.lastHoldNs);
            QVERIFY(!t.link().responsePending());
            QCOMPARE(t.host.processedCount, packet);
        }
        QCOMPARE(t.link().responseStats().count(), qint64(2));
        QCOMPARE(peer.received(0) + peer.received(1), kPacket + kPacket);
        QCOMPARE(t.host.log.at(2), QStringLiteral("Event: Connected"));
        QVERIFY(t.host.log.at(3).startsWith(QStringLiteral("Response Time ")));
        QCOMPARE(t.host.txbMessage, shown("ACK"));
        QVERIFY(!t.responseTimer().isActive());
        // Link 1 connects for each packet, link 2 keeps its connection.
        QCOMPARE(peer.connectionCount(), link == 1 ? 2 : 1);
        QCOMPARE(t.socket().State(), qint16(link == 1 ? 0 : 7));
        if (t.one)
            QCOMPARE(t.one->connectStats().count(), qint64(2));
    }

    void badRemoteEndIsUnableToSetSocket_data() {
        QTest::addColumn<int>("link");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        const auto row = [](const char *name, int link, const char *address, const char *port) {
            QTest::newRow(name) << link << QString::fromLatin1(address)
                                << QString::fromLatin1(port);
        };
        row("link 1, empty address", 1, "", "7005");
        row("link 1, blank address", 1, "   ", "7005");
        row("link 1, port 0", 1, "127.0.0.1", "0");
        row("link 1, port 65536", 1, "127.0.0.1", "65536");
        row("link 1, negative port", 1, "127.0.0.1", "-7005");
        row("link 2, empty address", 2, "", "7018");
        row("link 2, port not a number", 2, "127.0.0.1", "abc");
        row("link 2, port empty", 2, "127.0.0.1", "");
        row("link 2, port 0", 2, "127.0.0.1", "0");
        row("link 2, port 70000", 2, "127.0.0.1", "70000");
        row("link 2, port beyond 32 bits", 2, "127.0.0.1", "99999999999");
    }

    void badRemoteEndIsUnableToSetSocket() {
        QFETCH(int, link);
        QFETCH(QString, address);
        QFETCH(QString, port);
        Peer peer;
        SteppedLink t(link);
        t.aim(address, port);
        t.pending() = kPacket;
        t.poll();
        QCoreApplication::processEvents(); // no error event follows
        QCOMPARE(t.host.log, QStringList{QStringLiteral("Unable to set socket")});
        QCOMPARE(t.pending(), kPacket);
        QCOMPARE(t.socket().State(), qint16(0));
        t.sendTo(peer, kPacket); // once the remote end is corrected the packet goes out
    }
};

QTEST_GUILESS_MAIN(TestReceivePath)
#include "tst_receivepath.moc"
