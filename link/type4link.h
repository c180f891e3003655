// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tcplink.h"

#include <QElapsedTimer>

// Link 1 (frmTCP1): Type 4 packets on socket wskMessage, one connection per
// packet. The producers set the remote end on the socket while it is closed,
// then store the packet in gPendingType4Packet.
class Type4Link : public TcpLink {
    Q_OBJECT
public:
    explicit Type4Link(LinkHost &host, QObject *parent = nullptr);

    QByteArray gPendingType4Packet;
    qint32 gResponseTime = 0; // counted milliseconds since the packet was handed over
    qint32 gDelayedCount = 0;

    SocketControl &wskMessage() { return m_socket; }
    QTimer &timerTCP() { return m_pollTimer; }
    QTimer &tmrPacketResponse() { return m_responseTimer; }
    // Time from Connect to the connection being established.
    const ResponseStats &connectStats() const { return m_connectStats; }

    // 1 serves (bind and listen on socket row 0); anything else connects.
    void SetTCP(qint16 direction) { setUp(direction); }
    // The send poll, run by timerTCP every 100 ms.
    void SendTCPPacket() { sendPoll(); }
    // The delay rule, run by tmrPacketResponse every 10 ms.
    void tmrPacketResponse_Timer() { responseTick(); }
    // The main window's Close button: close the socket unless it is closed; logs nothing.
    void closeSocketIfOpen();
    // For talvgen-cli alone (the window never sets it): after a send the poll leaves a
    // connection waiting for its answer open up to ms, instead of closing at the first
    // poll. 0, the default, is the window's behaviour.
    void setHoldAfterSendMs(int ms) { m_holdAfterSendMs = ms; }

protected:
    QByteArray &pendingPacket() override { return gPendingType4Packet; }
    qint32 &responseTimeCounter() override { return gResponseTime; }
    void originate() override;
    void pollWithNothingPending() override;
    void packetSent() override { m_sinceSend.start(); }
    void responseShown() override;
    QString countDelayed() override;

private:
    bool holdingForAnswer() const;

    int m_holdAfterSendMs = 0;
    QElapsedTimer m_sinceSend;
};
