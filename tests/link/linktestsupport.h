// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the link tests share: a window stand-in that records what the links
// write, a real peer on 127.0.0.1, and either link stepped by hand.

#include "linkhost.h"
#include "resetonclose.h"
#include "socketcontrol.h"
#include "type4link.h"
#include "type5link.h"

#include <QHostAddress>
#include <QList>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>

// Records every log line and field the links write; a fixed clock.
class FakeHost : public LinkHost {
public:
    static constexpr auto kNowText = "2024-03-05 14:07:09";

    void LogMessage(const QString &message) override { log.append(message); }
    QString txbAddressText(int index) const override { return address[index]; }
    QString txbPortText(int index) const override { return port[index]; }
    void setTxbMessage(const QString &text) override {
        txbMessage = text;
        longestMessage = std::max(longestMessage, text.size());
    }
    void setLbProcessed(const QString &text) override { lbProcessed = text; }
    void setLbLastDelayed(const QString &text) override { lbLastDelayed = text; }
    void setTxbDelayedCt(const QString &text) override { txbDelayedCt = text; }
    qint32 &gProcessedCount() override { return processedCount; }
    QDateTime currentDateTime() const override {
        return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9));
    }

    QStringList log;
    QString address[2] = {QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1")};
    QString port[2] = {QStringLiteral("7005"), QStringLiteral("7018")};
    QString txbMessage;
    QString lbProcessed;
    QString lbLastDelayed;
    QString txbDelayedCt;
    qint32 processedCount = 0;
    qsizetype longestMessage = 0;
};

inline QString shown(const char *text) {
    return QLatin1String(FakeHost::kNowText) + QLatin1Char(' ') + QLatin1String(text);
}

// A port on 127.0.0.1 with nobody listening.
inline quint16 unusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Cuts a connection with a reset instead of an orderly close.
inline void resetConnection(QTcpSocket *socket) {
    setResetOnClose(socket->socketDescriptor());
    socket->abort();
}

// The receiving system: listens on 127.0.0.1, keeps what each connection
// sends and, depending on its settings, answers or resets.
class Peer : public QObject {
public:
    Peer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                welcome(socket);
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    QString portText() const { return QString::number(port()); }
    qsizetype connectionCount() const { return m_connections.size(); }
    QTcpSocket *connection(int index) const { return m_connections.value(index); }
    QByteArray received(int index = 0) const { return m_received.value(index); }
    const QList<QByteArray> &receivedByConnection() const { return m_received; }
    QString endpoint() const { return QStringLiteral("127.0.0.1:") + portText(); }

    // Sent back once after each arrival, after answerDelayMs.
    QByteArray answer;
    int answerDelayMs = 0;
    bool resetOnConnect = false;

    void send(const QByteArray &bytes, int index = 0) { connection(index)->write(bytes); }

private:
    void welcome(QTcpSocket *socket) {
        const int index = static_cast<int>(m_connections.size());
        m_connections.append(socket);
        m_received.append(QByteArray());
        if (resetOnConnect) {
            resetConnection(socket);
            return;
        }
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] {
            m_received[index] += socket->readAll();
            if (!answer.isEmpty())
                QTimer::singleShot(answerDelayMs, Qt::PreciseTimer, socket,
                                   [this, socket] { socket->write(answer); });
        });
    }

    QTcpServer m_server;
    QList<QTcpSocket *> m_connections;
    QList<QByteArray> m_received;
};

// Link 1 (Type4Link) or link 2 (Type5Link) with its timers stopped unless
// asked otherwise, so that a test steps the poll and the response timer.
struct SteppedLink {
    FakeHost host;
    std::unique_ptr<Type4Link> one;
    std::unique_ptr<Type5Link> two;

    explicit SteppedLink(int link, bool keepTimers = false) {
        if (link == 1)
            one = std::make_unique<Type4Link>(host);
        else
            two = std::make_unique<Type5Link>(host);
        if (!keepTimers) {
            pollTimer().stop();
            responseTimer().stop();
        }
    }

    TcpLink &link() { return one ? static_cast<TcpLink &>(*one) : *two; }
    SocketControl &socket() { return one ? one->wskMessage() : two->wskMessage2(); }
    QTimer &pollTimer() { return one ? one->timerTCP() : two->timerTCP2(); }
    QTimer &responseTimer() { return one ? one->tmrPacketResponse() : two->tmrPacketResponse2(); }
    qint32 &responseTime() { return one ? one->gResponseTime : two->ResponseTime2; }
    void setDelayedCount(qint16 count) {
        if (one)
            one->gDelayedCount = count;
        else
            two->DelayedCount2 = count;
    }
    QByteArray &pending() { return one ? one->gPendingType4Packet : two->gPendingType5Packet; }
    void poll() { one ? one->SendTCPPacket() : two->SendTCPPacket2(); }
    void tick() { one ? one->tmrPacketResponse_Timer() : two->tmrPacketResponse2_Timer(); }

    // Where the next connection goes: link 1 takes it from its socket, as its
    // producers set it, link 2 from the text of socket row 1.
    void aim(const QString &address, const QString &port) {
        socket().setRemoteHost(address);
        socket().setRemotePort(port.toInt());
        host.address[1] = address;
        host.port[1] = port;
    }
    void aim(const QString &address, qint32 port) { aim(address, QString::number(port)); }

    // Connects to the peer and sends one packet as the producers and the poll
    // would, then forgets the log.
    void sendTo(Peer &peer, const QByteArray &packet) {
        aim(QStringLiteral("127.0.0.1"), peer.port());
        pending() = packet;
        poll();
        QTRY_COMPARE(socket().State(), qint16(7));
        poll();
        QTRY_VERIFY(link().responsePending()); // SendComplete has come
        QTRY_COMPARE(peer.received(), packet);
        host.log.clear();
    }
};
