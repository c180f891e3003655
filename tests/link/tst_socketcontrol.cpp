#include "linktestsupport.h"

#include <QSignalSpy>

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
    void bindChecksPortAndAddress_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");
        const auto row = [](const char *name, const char *port, const char *address, bool ok) {
            QTest::newRow(name) << QString::fromLatin1(port) << QString::fromLatin1(address) << ok;
        };
        row("good", "7005", "127.0.0.1", true);
        row("spaces around port", " 7005 ", "127.0.0.1", true);
        row("port not a number", "70o5", "127.0.0.1", false);
        row("port empty", "", "127.0.0.1", false);
        row("port 0", "0", "127.0.0.1", false);
        row("port 65536", "65536", "127.0.0.1", false);
        row("address empty", "7005", "", false);
        row("address a name", "7005", "localhost", false);
        row("address malformed", "7005", "192.168.0.", false);
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

    void listenFailsOnAPortInUse() {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        SocketControl control;
        QVERIFY(control.Bind(QString::number(holder.serverPort()), QStringLiteral("127.0.0.1")));
        QVERIFY(!control.Listen());
        QCOMPARE(control.State(), qint16(0));
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
};

QTEST_GUILESS_MAIN(TestSocketControl)
#include "tst_socketcontrol.moc"
