#pragma once

// A receiving system on 127.0.0.1 for the headless runner: keeps what each
// connection sends and answers each complete Type 4 frame or AML document.

#include "amllayout.h"
#include "type4frame.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

class AnsweringPeer : public QObject {
public:
    AnsweringPeer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                welcome(socket);
        });
    }

    QString endpoint() const {
        return QStringLiteral("127.0.0.1:") + QString::number(m_server.serverPort());
    }
    // What each connection has carried so far, in the order they came.
    const QList<QByteArray> &received() const { return m_received; }
    QByteArray allReceived() const { return m_received.join(); }

    int answerDelayMs = 0;   // before each "ACK"
    QByteArray beforeAnswer; // sent at once on each frame, ahead of the answer (a heartbeat, say)

private:
    void welcome(QTcpSocket *socket) {
        socket->setParent(this);
        const auto index = m_received.size();
        m_received.append(QByteArray());
        m_unanswered.append(QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, index] {
            const QByteArray bytes = socket->readAll();
            m_received[index] += bytes;
            m_unanswered[index] += bytes;
            for (int n = completeUnits(m_unanswered[index]); n > 0; --n)
                answerLater(socket);
        });
    }

    // Frames and documents each get one answer, however TCP splits them.
    static int completeUnits(QByteArray &buffer) {
        if (buffer.startsWith('<'))
            return static_cast<int>(takeCompleteDocuments(buffer).size());
        int units = 0;
        for (;;) {
            qsizetype consumed = 0;
            Type4Frame frame;
            const auto result = Type4Frame::parse(buffer, consumed, frame);
            if (result == Type4Frame::ParseResult::Garbage)
                buffer.clear();
            if (result != Type4Frame::ParseResult::Frame)
                return units;
            buffer.remove(0, consumed);
            ++units;
        }
    }

    void answerLater(QTcpSocket *socket) {
        if (!beforeAnswer.isEmpty())
            socket->write(beforeAnswer);
        QPointer<QTcpSocket> target(socket);
        QTimer::singleShot(std::chrono::milliseconds(answerDelayMs), Qt::PreciseTimer, this,
                           [this, target] {
                               if (target && target->state() == QAbstractSocket::ConnectedState)
                                   target->write("ACK");
                           });
    }

    QTcpServer m_server;
    QList<QByteArray> m_received;
    QList<QByteArray> m_unanswered;
};

// A port on 127.0.0.1 with nobody listening.
inline QString refusingEndpoint() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("127.0.0.1:") + QString::number(probe.serverPort());
}
