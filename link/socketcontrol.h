// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "resetprobe.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <functional>

class OutgoingConnection;
class QHostInfo;
class QTcpSocket;

// The socket state as the links read it: 0 closed, 7 connected, anything else busy.
enum class SocketState : qint16 {
    Closed = 0,
    Open = 1,
    Listening = 2,
    ConnectionPending = 3,
    ResolvingHost = 4,
    HostResolved = 5,
    Connecting = 6,
    Connected = 7,
    Closing = 8,
    Error = 9,
};

// One TCP socket with the members, calls and events of the Winsock control
// the links were written against, over QTcpSocket and QTcpServer.
//
// Events are always delivered later through the event loop, never from inside
// the call that caused them, and events of a connection that was closed
// locally are dropped: a local Close raises no event. A peer that closes
// raises closeEvent(); a peer that resets raises errorEvent(10054, ...).
//
// What a peer can make us hold is bounded: at most kMaxArrivalBytes are read
// ahead of GetData (TCP flow control holds back the rest), and SendData refuses
// to add to more than kMaxQueuedSendBytes still queued for a peer that does not read.
class SocketControl : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxArrivalBytes = 64 * 1024;
    static constexpr qint64 kMaxQueuedSendBytes = 1024 * 1024;
    static constexpr int kMaxPendingRequests = 16;
    static constexpr int kCloseLingerMs = 5000;     // unsent data gets this long after Close
    static constexpr int kConnectTimeoutMs = 30000; // then Connect fails with 10060

    // Error numbers as Windows sockets number them.
    static constexpr qint16 kErrorConnectionRefused = 10061;
    static constexpr qint16 kErrorConnectionReset = 10054;
    static constexpr qint16 kErrorTimedOut = 10060;
    static constexpr qint16 kErrorHostUnreachable = 10065;
    static constexpr qint16 kErrorHostNotFound = 11001;

    explicit SocketControl(QObject *parent = nullptr);
    ~SocketControl() override;

    qint16 State() const { return static_cast<qint16>(m_state); }
    SocketState socketState() const { return m_state; }

    QString RemoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    qint32 RemotePort() const { return m_remotePort; }
    void setRemotePort(qint32 port) { m_remotePort = port; }
    qint32 LocalPort() const { return m_localPort; }
    QString LocalIP() const;
    QString RemoteHostIP() const { return m_remoteHostIP; }

    // Each returns false where the platform control refused at once: a socket
    // that is not closed, a port outside 1..65535, an empty or unreadable
    // address, a listener that cannot be opened, an unknown request id.
    bool Bind(const QString &localPort, const QString &localIP);
    // Listens on the bound port and address; on a closed socket, on the port
    // and local address its last connection used.
    bool Listen();
    bool Connect();
    bool Accept(qint32 requestId);
    // False when not connected or when the peer is not taking what was queued.
    bool SendData(const QByteArray &data);
    // Everything waiting, up to kMaxArrivalBytes; a further dataArrivalEvent
    // follows for the rest.
    QByteArray GetData();
    void Close();

    // Monotonic nanosecond timestamps for timing exchanges.
    static qint64 monotonicNs();
    qint64 connectStartedNs() const { return m_connectStartedNs; }
    qint64 connectedNs() const { return m_connectedNs; }
    // When the last queued byte was handed to the operating system.
    qint64 sendCompleteNs() const { return m_sendCompleteNs; }
    // When the data of the current dataArrivalEvent was first read from the system.
    qint64 arrivalNs() const { return m_arrivalNs; }

    struct Failure {
        qint16 number;
        QString description;
    };
    // The system's own error number as the Winsock number and text.
    static Failure failureOfSystemError(int error);

signals:
    void connectEvent();
    void connectionRequestEvent(qint32 requestId);
    void dataArrivalEvent(qint64 bytesTotal);
    void sendCompleteEvent();
    void closeEvent();
    void errorEvent(qint16 number, const QString &description);

private slots:
    void hostLookedUp(const QHostInfo &info);

private:
    void post(std::function<void()> deliver);
    void startConnection(const QHostAddress &address);
    void outgoingFinished();
    void dropOutgoing();
    void adopt(QTcpSocket *socket);
    void takeRequests();
    void dropRequest(qint32 requestId);
    void release(QTcpSocket *socket);
    void scheduleArrival();
    void peerEnded(bool qtReportedError);
    void fail(const Failure &failure);
    void rememberEndpoints();
    static Failure failureOf(const QTcpSocket &socket);
    // Opens the listener even while a connection on that port is winding down.
    static bool listenOn(QTcpServer &server, const QHostAddress &address, quint16 port);

    SocketState m_state = SocketState::Closed;
    QString m_remoteHost;
    qint32 m_remotePort = 0;
    qint32 m_localPort = 0;
    QHostAddress m_localAddress;
    QString m_remoteHostIP;

    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    QPointer<OutgoingConnection> m_outgoing;
    QTimer m_connectTimer;
    QHash<qint32, QTcpSocket *> m_requests;
    int m_lookupId = -1;
    ResetProbe m_resetProbe;
    quint64 m_generation = 0; // bumped by Close: queued events of older connections are dropped
    bool m_arrivalQueued = false;
    bool m_endQueued = false;

    qint64 m_connectStartedNs = 0;
    qint64 m_connectedNs = 0;
    qint64 m_sendCompleteNs = 0;
    qint64 m_arrivalNs = 0;
};
