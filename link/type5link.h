// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tcplink.h"

// Link 2 (frmTCP2): Type 5 packets on socket wskMessage2. It takes its remote
// end from socket row 1 itself, keeps its connection open for many packets
// and answers the receiver's heartbeats.
class Type5Link : public TcpLink {
    Q_OBJECT
public:
    static constexpr qint16 kMaxDelayedCount = 32767;

    explicit Type5Link(LinkHost &host, QObject *parent = nullptr);

    QByteArray gPendingType5Packet;
    qint32 ResponseTime2 = 0; // counted milliseconds since the packet was handed over
    qint16 DelayedCount2 = 0; // stops at kMaxDelayedCount

    SocketControl &wskMessage2() { return m_socket; }
    QTimer &timerTCP2() { return m_pollTimer; }
    QTimer &tmrPacketResponse2() { return m_responseTimer; }

    // 1 serves (bind and listen on socket row 1); anything else connects to row 1
    // unless already connected.
    void SetTCP2(qint16 direction) { setUp(direction); }
    void SendTCPPacket2() { sendPoll(); }
    void tmrPacketResponse2_Timer() { responseTick(); }

protected:
    QByteArray &pendingPacket() override { return gPendingType5Packet; }
    qint32 &responseTimeCounter() override { return ResponseTime2; }
    void originate() override;
    void pollWithNothingPending() override {}
    void packetSent() override { ResponseTime2 = 0; }
    bool answeredHeartbeat(const QByteArray &data) override;
    QString countDelayed() override;
};
