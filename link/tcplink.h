// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "linkhost.h"
#include "responsestats.h"
#include "socketcontrol.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

// What the two links share: one socket, the 100 ms send poll, the 10 ms
// response timer, the socket event handlers, the receive steps and the delay
// rule. Type4Link and Type5Link fill in where the links differ and carry the
// names the rest of the program uses.
class TcpLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 100;
    static constexpr int kResponseTickMs = 10;
    static constexpr qint32 kDelayLimitMs = 2000; // counted, not measured
    static constexpr qint16 kServe = 1;           // SetTCP direction; anything else originates
    // "Last message" shows at most the last this many bytes of an arrival: replacing a
    // box's text costs the window in proportion to its length, and a flooding peer
    // makes an arrival of up to SocketControl::kMaxArrivalBytes every few milliseconds.
    static constexpr qsizetype kShownResponseBytes = 4 * 1024;

    ~TcpLink() override;

    // Precise times, on a monotonic clock, from the packet's last byte handed
    // to the system to the first byte of its response.
    const ResponseStats &responseStats() const { return m_responseStats; }
    // For the packet the poll sent last: when its last byte was handed to the
    // system (SocketControl::monotonicNs clock; 0 before the first), and
    // whether its response is still to come.
    qint64 lastHandoverNs() const { return m_handoverNs; }
    bool responsePending() const { return m_awaitingResponse; }

signals:
    // The packet the poll sent has been handed to the system in full.
    void packetHandedOver();
    // A response has arrived (not a heartbeat), as the window counted it.
    void responseArrived(const QByteArray &data, qint32 countedMs);
    // The response to the packet last handed over has arrived after usec.
    void responseMeasured(qint64 usec);
    // The socket could not be set up to listen or connect ("Unable to set socket").
    void socketNotSet();
    // Link 1's poll closed the connection with nothing pending ("Close Socket").
    void closedByPoll();

protected:
    TcpLink(LinkHost &host, int row, QObject *parent);

    // Where the links differ.
    virtual QByteArray &pendingPacket() = 0;
    virtual qint32 &responseTimeCounter() = 0;
    virtual void originate() = 0;
    // The poll found the slot empty and the socket not closed.
    virtual void pollWithNothingPending() = 0;
    // After each send: link 2 zeroes its counter.
    virtual void packetSent() {}
    // Answers a heartbeat and returns true (link 2 only).
    virtual bool answeredHeartbeat(const QByteArray &) { return false; }
    // After a response has been shown (link 1 closes).
    virtual void responseShown() {}
    // Counts one delayed packet; returns the text for txbDelayedCt.
    virtual QString countDelayed() = 0;

    void setUp(qint16 direction);
    void serve();
    void connectAndLog();
    // Logs "Unable to set socket" and signals it.
    void unableToSetSocket();
    void sendPoll();
    void responseTick();

    void onConnect();
    void onConnectionRequest(qint32 requestId);
    void onDataArrival();
    void onSendComplete();
    void onPeerClose();
    void onError(qint16 number, const QString &description);

    void log(const QString &line) { m_host.LogMessage(line); }
    QString dateTimeText() const;
    void forgetExchange();

    LinkHost &m_host;
    SocketControl m_socket;
    QTimer m_pollTimer;
    QTimer m_responseTimer;
    ResponseStats m_responseStats;
    ResponseStats m_connectStats;

private:
    void showResponse(const QByteArray &data);
    void countProcessed();

    const int m_row; // socket row on the main window: 0 Type 4, 1 Type 5
    bool m_awaitingHandover = false;
    bool m_awaitingResponse = false;
    qint64 m_handoverNs = 0;
};
