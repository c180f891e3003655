// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QObject>

// One non-blocking TCP connect, reported once through finished().
//
// QTcpSocket tests a pending connect by calling connect() again; on Linux a
// socket whose connection the peer reset right after accepting starts a new
// attempt on that call, so a peer that resets at once would be hammered
// until Qt's own time-out. Connecting here and handing the established
// descriptor to QTcpSocket keeps one attempt per Connect and gives the exact
// system error for the Winsock number. The system calls are in
// outgoingconnection_posix.cpp and outgoingconnection_win.cpp.
class OutgoingConnection : public QObject {
    Q_OBJECT
public:
    explicit OutgoingConnection(QObject *parent = nullptr);
    ~OutgoingConnection() override;

    // Starts connecting from an ephemeral port (again, once the last attempt
    // has ended or been cancelled); false when the system refused at once
    // (error() says why).
    bool start(const QHostAddress &address, quint16 port);
    quint16 localPort() const;
    // The system's own error number once finished (0: connected).
    int error() const { return m_error; }
    // The connected descriptor; the caller owns it from then on.
    qintptr takeDescriptor();
    // Abandons the attempt: the descriptor is closed and finished() will not come.
    void cancel();
    static void closeDescriptor(qintptr descriptor);

signals:
    void finished();

private:
    // Platform parts: what tells the event loop that the connect has ended.
    bool watchOutcome();
    void checkOutcome();
    void releaseWatcher();

    qintptr m_fd = -1;
    int m_error = 0;
    QObject *m_watcher = nullptr;
    void *m_event = nullptr; // Windows: the connect's event object
};
