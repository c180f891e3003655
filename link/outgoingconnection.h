// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exchangeoutcome.h"

#include <QHostAddress>
#include <QObject>

#include <optional>

class QSocketNotifier;

// One non-blocking TCP connect, reported once through finished().
//
// QTcpSocket tests a pending connect by calling connect() again; on Linux a
// socket whose connection the peer reset right after accepting starts a new
// attempt on that call, so a peer that resets at once would be hammered
// until Qt's own time-out. Connecting here and handing the established
// descriptor to QTcpSocket keeps one attempt per Connect and gives the exact
// system error for the Winsock number. The system calls are in
// outgoingconnection_posix.cpp and outgoingconnection_win.cpp.
//
// A caller that needs no QTcpSocket may keep the connection instead, or hand
// it an accepted one (adopt()): send() and receive() move its bytes,
// readable() and writable() say when to go on, and cancel() closes it. A
// connection per frame then costs no socket object, no buffers and no
// system calls beyond its own.
class OutgoingConnection : public QObject {
    Q_OBJECT
public:
    // What a send or a receive did. Ended: the peer closed the connection or
    // reset it, which wasReset() tells apart.
    enum class Transfer { Moved, WouldBlock, Ended, Failed };

    explicit OutgoingConnection(QObject *parent = nullptr);
    ~OutgoingConnection() override;

    // Starts connecting from an ephemeral port (again, once the last attempt
    // has ended or been cancelled); false when the system refused at once
    // (error() says why).
    bool start(const QHostAddress &address, quint16 port);
    // Keeps an accepted connection as if this had connected it; false (the
    // descriptor closed) when the system will not have it so.
    bool adopt(qintptr acceptedDescriptor);
    quint16 localPort() const;
    // The other end; null while nothing is connected.
    QHostAddress peerAddress(quint16 *port) const;
    // The system's own error number once finished (0: connected), or of the
    // last send or receive that failed.
    int error() const { return m_error; }
    qintptr descriptor() const { return m_fd; }
    // The connected descriptor; the caller owns it from then on.
    qintptr takeDescriptor();
    // Abandons the attempt, or closes the connection kept: the descriptor is
    // closed and no signal of it will come.
    void cancel();
    static void closeDescriptor(qintptr descriptor);
    // Ends the sending side only (a half-close): the peer reads the end of the
    // stream and may still answer. False when the system refused.
    static bool shutdownSending(qintptr descriptor);

    // The connection kept: what to be told of, and its bytes.
    void watch(bool forReading, bool forWriting);
    Transfer send(const char *data, qint64 size, qint64 *sent);
    Transfer receive(char *buffer, qint64 size, qint64 *received);
    // Before a read: the peer has reset the connection, whether or not data
    // waits (takePendingReset()).
    bool takePendingReset() const;
    // The peer has reset the connection, read or not (connectionWasReset()).
    bool wasReset() const;
    // How a send or receive ended the connection: reset, closed or an error;
    // unset when it moved bytes or would have blocked.
    std::optional<Outcome> endingOf(Transfer transfer) const;

signals:
    void finished();
    void readable();
    void writable();

private:
    // Platform parts: what tells the event loop that the connect has ended.
    bool watchOutcome();
    void checkOutcome();
    void releaseWatcher();
    // Windows makes it non-blocking; POSIX sends and receives never block.
    bool prepareAccepted();
    void stopWatching();

    qintptr m_fd = -1;
    int m_error = 0;
    QObject *m_watcher = nullptr;
    void *m_event = nullptr; // Windows: the connect's event object
    QSocketNotifier *m_reader = nullptr;
    QSocketNotifier *m_writer = nullptr;
};
