#include "linktestsupport.h"
#include "socketcontrol.h"

#include <QSignalSpy>
#include <QTest>

class TestSocketControl : public QObject {
    Q_OBJECT

private:
    // Connects control to the peer and waits until both ends see the connection.
    static void connectTo(SocketControl &control, Peer &peer) {
        control.setRemoteHost(QStringLiteral("127.0.0.1"));
        control.setRemotePort(peer.port());
        QSignalSpy connected(&control, &SocketControl::connectEvent);
        QVERIFY(control.Connect());
        QTRY_COMPARE(connected.count(), 1);
        QTRY_COMPARE(peer.connectionCount(), 1);
    }

private slots:
    void connectEventComesLaterNotFromTheCall() {
        Peer peer;
        SocketControl control;
        control.setRemoteHost(QStringLiteral("127.0.0.1"));
        control.setRemotePort(peer.port());
        QSignalSpy connected(&control, &SocketControl::connectEvent);

        QVERIFY(control.Connect());
        QCOMPARE(connected.count(), 0);
        QCOMPARE(control.socketState(), SocketState::Connecting);
        QTRY_COMPARE(connected.count(), 1);
        QCOMPARE(control.State(), qint16(7));
        QCOMPARE(control.RemoteHostIP(), QStringLiteral("127.0.0.1"));
        QCOMPARE(control.LocalIP(), QStringLiteral("127.0.0.1"));
        QTRY_COMPARE(peer.connectionCount(), 1);
        QCOMPARE(control.LocalPort(), qint32(peer.connection(0)->peerPort()));
    }

    void refusedConnectIsError10061() {
        SocketControl control;
        control.setRemoteHost(QStringLiteral("127.0.0.1"));
        control.setRemotePort(unusedPort());
        QSignalSpy errors(&control, &SocketControl::errorEvent);

        QVERIFY(control.Connect());
        QCOMPARE(errors.count(), 0);
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).value<qint16>(), qint16(10061));
        QCOMPARE(errors.at(0).at(1).toString(), QStringLiteral("Connection refused"));
        QCOMPARE(control.socketState(), SocketState::Error);
        control.Close();
        QCOMPARE(control.State(), qint16(0));
    }

    void unresolvableHostIsError11001() {
        SocketControl control;
        control.setRemoteHost(QStringLiteral("no such host!"));
        control.setRemotePort(7018);
        QSignalSpy errors(&control, &SocketControl::errorEvent);

        QVERIFY(control.Connect());
        QCOMPARE(control.socketState(), SocketState::ResolvingHost);
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).value<qint16>(), qint16(11001));
        QCOMPARE(errors.at(0).at(1).toString(), QStringLiteral("Host not found"));
    }

    void connectRefusedAtOnce_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<qint32>("port");
        QTest::newRow("empty host") << QString() << 7005;
        QTest::newRow("blank host") << QStringLiteral("   ") << 7005;
        QTest::newRow("port 0") << QStringLiteral("127.0.0.1") << 0;
        QTest::newRow("negative port") << QStringLiteral("127.0.0.1") << -1;
        QTest::newRow("port 65536") << QStringLiteral("127.0.0.1") << 65536;
    }

    void connectRefusedAtOnce() {
        QFETCH(QString, host);
        QFETCH(qint32, port);
        SocketControl control;
        control.setRemoteHost(host);
        control.setRemotePort(port);
        QSignalSpy errors(&control, &SocketControl::errorEvent);

        QVERIFY(!control.Connect());
        QCOMPARE(control.State(), qint16(0));
        QCoreApplication::processEvents();
        QCOMPARE(errors.count(), 0);
    }

    void bindChecksPortAndAddress_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("good") << QStringLiteral("7005") << QStringLiteral("127.0.0.1") << true;
        QTest::newRow("spaces around port")
            << QStringLiteral(" 7005 ") << QStringLiteral("127.0.0.1") << true;
        QTest::newRow("port not a number")
            << QStringLiteral("70o5") << QStringLiteral("127.0.0.1") << false;
        QTest::newRow("port empty") << QString() << QStringLiteral("127.0.0.1") << false;
        QTest::newRow("port 0") << QStringLiteral("0") << QStringLiteral("127.0.0.1") << false;
        QTest::newRow("port 65536")
            << QStringLiteral("65536") << QStringLiteral("127.0.0.1") << false;
        QTest::newRow("address empty") << QStringLiteral("7005") << QString() << false;
        QTest::newRow("address a name")
            << QStringLiteral("7005") << QStringLiteral("localhost") << false;
        QTest::newRow("address malformed")
            << QStringLiteral("7005") << QStringLiteral("192.168.0.") << false;
    }

    void bindChecksPortAndAddress() {
        QFETCH(QString, port);
        QFETCH(QString, address);
        QFETCH(bool, accepted);
        SocketControl control;
        QCOMPARE(control.Bind(port, address), accepted);
        QCOMPARE(control.socketState(), accepted ? SocketState::Open : SocketState::Closed);
    }

    void callsRefusedInTheWrongState() {
        Peer peer;
        SocketControl control;
        QVERIFY(!control.Listen());   // never bound, never connected
        QVERIFY(!control.Accept(42)); // no such request
        QVERIFY(!control.SendData(QByteArrayLiteral("x")));
        QVERIFY(control.GetData().isEmpty());

        connectTo(control, peer);
        QVERIFY(!control.Bind(QStringLiteral("7005"), QStringLiteral("127.0.0.1")));
        QVERIFY(!control.Connect());
        QVERIFY(!control.Listen());
        QCOMPARE(control.socketState(), SocketState::Connected);
    }

    void bindListenAndAcceptOnOneSocket() {
        const quint16 port = unusedPort();
        SocketControl control;
        QVERIFY(control.Bind(QString::number(port), QStringLiteral("127.0.0.1")));
        QCOMPARE(control.State(), qint16(1));
        QVERIFY(control.Listen());
        QCOMPARE(control.State(), qint16(2));
        QCOMPARE(control.LocalPort(), qint32(port));
        QCOMPARE(control.LocalIP(), QStringLiteral("127.0.0.1"));

        QSignalSpy requests(&control, &SocketControl::connectionRequestEvent);
        QSignalSpy arrivals(&control, &SocketControl::dataArrivalEvent);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(requests.count(), 1);
        QCOMPARE(control.RemoteHostIP(), QStringLiteral("127.0.0.1"));
        const qint32 requestId = requests.at(0).at(0).value<qint32>();

        control.Close();
        QVERIFY(control.Accept(requestId));
        QCOMPARE(control.socketState(), SocketState::Connected);
        QVERIFY(!control.Accept(requestId)); // taken

        client.write("hello");
        QTRY_COMPARE(arrivals.count(), 1);
        QCOMPARE(control.GetData(), QByteArrayLiteral("hello"));
        QVERIFY(control.SendData(QByteArrayLiteral("back")));
        QTRY_COMPARE(client.bytesAvailable(), qint64(4));
        QCOMPARE(client.readAll(), QByteArrayLiteral("back"));
    }

    void listenFailsOnAPortInUse() {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        SocketControl control;
        QVERIFY(control.Bind(QString::number(holder.serverPort()), QStringLiteral("127.0.0.1")));
        QVERIFY(!control.Listen());
        QCOMPARE(control.State(), qint16(0));
    }

    void sendCompleteOnceTheBytesHaveGone() {
        Peer peer;
        SocketControl control;
        connectTo(control, peer);
        QSignalSpy complete(&control, &SocketControl::sendCompleteEvent);

        const qint64 before = SocketControl::monotonicNs();
        QVERIFY(control.SendData(QByteArrayLiteral("0123456789")));
        QCOMPARE(complete.count(), 0);
        QTRY_COMPARE(complete.count(), 1);
        QVERIFY(control.sendCompleteNs() >= before);
        QTRY_COMPARE(peer.received(), QByteArrayLiteral("0123456789"));
    }

    void localCloseRaisesNoEvent_data() {
        QTest::addColumn<bool>("waitForConnect");
        QTest::newRow("connected") << true;
        QTest::newRow("still connecting") << false;
    }

    void localCloseRaisesNoEvent() {
        QFETCH(bool, waitForConnect);
        Peer peer;
        peer.answer = QByteArrayLiteral("late");
        SocketControl control;
        control.setRemoteHost(QStringLiteral("127.0.0.1"));
        control.setRemotePort(peer.port());
        QSignalSpy connected(&control, &SocketControl::connectEvent);
        QSignalSpy closed(&control, &SocketControl::closeEvent);
        QSignalSpy errors(&control, &SocketControl::errorEvent);
        QSignalSpy arrivals(&control, &SocketControl::dataArrivalEvent);
        QVERIFY(control.Connect());
        if (waitForConnect) {
            QTRY_COMPARE(connected.count(), 1);
            QVERIFY(control.SendData(QByteArrayLiteral("x")));
        }

        control.Close();
        QCOMPARE(control.State(), qint16(0));
        QTRY_COMPARE(peer.connectionCount(), 1);
        QTRY_COMPARE(peer.connection(0)->state(), QAbstractSocket::UnconnectedState);
        QCoreApplication::processEvents();
        QCOMPARE(connected.count(), waitForConnect ? 1 : 0);
        QCOMPARE(closed.count(), 0);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(arrivals.count(), 0);
    }

    void eventQueuedBeforeALocalCloseIsDropped() {
        Peer peer;
        SocketControl control;
        connectTo(control, peer);
        QSignalSpy closed(&control, &SocketControl::closeEvent);
        // Closes the socket just before the first queued event reaches it.
        struct CloseFirst : QObject {
            SocketControl *control = nullptr;
            bool done = false;
            bool eventFilter(QObject *, QEvent *event) override {
                if (event->type() == QEvent::MetaCall && !done) {
                    done = true;
                    control->Close();
                }
                return false;
            }
        } filter;
        filter.control = &control;
        control.installEventFilter(&filter);

        peer.connection(0)->disconnectFromHost();
        QTRY_VERIFY(filter.done);
        QCoreApplication::processEvents();
        QCOMPARE(closed.count(), 0);
        QCOMPARE(control.State(), qint16(0));
    }

    void peerCloseIsCloseEventAfterItsData() {
        Peer peer;
        SocketControl control;
        connectTo(control, peer);
        QStringList events;
        connect(&control, &SocketControl::dataArrivalEvent, this,
                [&] { events << QStringLiteral("data"); });
        connect(&control, &SocketControl::closeEvent, this,
                [&] { events << QStringLiteral("close"); });
        connect(&control, &SocketControl::errorEvent, this,
                [&] { events << QStringLiteral("error"); });

        peer.send(QByteArrayLiteral("last words"));
        peer.connection(0)->disconnectFromHost();
        QTRY_COMPARE(events, (QStringList{QStringLiteral("data"), QStringLiteral("close")}));
        QCOMPARE(control.socketState(), SocketState::Closing);
        QCOMPARE(control.GetData(), QByteArrayLiteral("last words"));
        control.Close();
        QCOMPARE(control.State(), qint16(0));
    }

    void peerResetIsError10054() {
        Peer peer;
        SocketControl control;
        connectTo(control, peer);
        QSignalSpy closed(&control, &SocketControl::closeEvent);
        QSignalSpy errors(&control, &SocketControl::errorEvent);

        resetConnection(peer.connection(0));
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).value<qint16>(), qint16(10054));
        QCOMPARE(errors.at(0).at(1).toString(), QStringLiteral("Connection reset by peer"));
        QCOMPARE(closed.count(), 0);
        QCOMPARE(control.State(), qint16(9));
    }

    void peerResettingAtOnceGetsOneAttempt() {
        Peer peer;
        peer.onConnect = Peer::OnConnect::Reset;
        SocketControl control;
        control.setRemoteHost(QStringLiteral("127.0.0.1"));
        control.setRemotePort(peer.port());
        QSignalSpy errors(&control, &SocketControl::errorEvent);
        QVERIFY(control.Connect());
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).value<qint16>(), qint16(10054));
        QCoreApplication::processEvents();
        QCOMPARE(peer.connectionCount(), 1);
    }

    void sendDataStopsQueueingForAPeerThatDoesNotRead() {
        Peer peer;
        peer.onConnect = Peer::OnConnect::NeverRead;
        SocketControl control;
        connectTo(control, peer);
        const QByteArray chunk(SocketControl::kMaxQueuedSendBytes / 2, 'x');
        // The system's own buffers take a few megabytes; after that the socket refuses.
        int accepted = 0;
        while (accepted < 200 && control.SendData(chunk)) {
            ++accepted;
            QCoreApplication::processEvents(); // hands what it can to the system
        }
        QVERIFY(accepted < 200);
        QCOMPARE(control.socketState(), SocketState::Connected);
    }

    void relistensOnTheLocalAddressTheConnectionUsed() {
        Peer peer;
        SocketControl control;
        connectTo(control, peer);
        const qint32 usedPort = control.LocalPort();
        QSignalSpy closed(&control, &SocketControl::closeEvent);
        peer.connection(0)->disconnectFromHost();
        QTRY_COMPARE(closed.count(), 1);

        control.Close();
        QVERIFY(control.Listen());
        QCOMPARE(control.socketState(), SocketState::Listening);
        QCOMPARE(control.LocalPort(), usedPort);
        QCOMPARE(control.LocalIP(), QStringLiteral("127.0.0.1"));

        QSignalSpy requests(&control, &SocketControl::connectionRequestEvent);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(usedPort));
        QTRY_COMPARE(requests.count(), 1);
    }

    void floodIsReadInBoundedChunks() {
        constexpr qint64 kFloodBytes = 8 * 1024 * 1024;
        Peer peer;
        SocketControl control;
        connectTo(control, peer);
        qint64 total = 0;
        qint64 largestRead = 0;
        qint64 largestAnnounced = 0;
        connect(&control, &SocketControl::dataArrivalEvent, this, [&](qint64 bytesTotal) {
            largestAnnounced = std::max(largestAnnounced, bytesTotal);
            const qint64 read = control.GetData().size();
            largestRead = std::max(largestRead, read);
            total += read;
        });

        peer.flood(kFloodBytes);
        QTRY_COMPARE_WITH_TIMEOUT(total, kFloodBytes, 30000);
        QVERIFY(largestRead <= SocketControl::kMaxArrivalBytes);
        QVERIFY(largestAnnounced <= SocketControl::kMaxArrivalBytes);
    }
};

QTEST_GUILESS_MAIN(TestSocketControl)
#include "tst_socketcontrol.moc"
