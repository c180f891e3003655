#pragma once

// What the receiver tests share: a receiver on 127.0.0.1 with a fixed clock
// that keeps its lines, a client that keeps what it is sent, and the canned
// packets with the verdicts they earn.

#include "amllayout.h"
#include "cannedrecords.h"
#include "connectionstream.h"
#include "receiver.h"
#include "receiverconnection.h"
#include "type4frame.h"

#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

inline const QString kNow = QStringLiteral("2024-03-05 14:07:09.000");

inline QByteArray standardFrame() {
    return frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false);
}

inline QByteArray pointFrame() {
    return frameCannedRecord(
        "999", cannedIpndRecord(CannedRecord::Standard) + cannedMoliRecords().at(kMoliPoint), true);
}

inline const QString kStandardOk = QStringLiteral("term 999 len 0307 type 3 fields 52 OK");

// Field 52 missing.
inline QByteArray shortFrame() {
    return frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard).chopped(2), false);
}

inline QStringList textList(std::initializer_list<const char *> texts) {
    QStringList list;
    for (const char *text : texts)
        list << QString::fromLatin1(text);
    return list;
}

// Both ports on 127.0.0.1 port 0, no heartbeats unless a test asks.
inline ReceiverOptions testOptions() {
    ReceiverOptions options;
    options.type4Port = 0;
    options.type5Port = 0;
    options.heartbeatIntervalMs = 0;
    return options;
}

inline quint16 unusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class TestReceiver : public Receiver {
public:
    explicit TestReceiver(const ReceiverOptions &options = testOptions())
        : Receiver(options) {
        setClock([] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); });
        connect(this, &Receiver::lineReady, this, [this](const QString &line) { lines << line; });
        connect(this, &Receiver::recordReady, this,
                [this](const QStringList &fields) { records << fields; });
    }

    ReceiverConnection *onlyConnection() const {
        return connections().size() == 1 ? connections().first() : nullptr;
    }

    QStringList lines;
    QList<QStringList> records;
};

class Client : public QObject {
public:
    explicit Client(quint16 port) {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { data += socket.readAll(); });
        connect(&socket, &QTcpSocket::connected, this,
                [this] { m_peer = QStringLiteral("127.0.0.1:%1").arg(socket.localPort()); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }

    // "127.0.0.1:<port>" as the receiver names this client; kept after a close.
    QString peer() const { return m_peer; }
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket socket;
    QByteArray data;

private:
    QString m_peer;
};
