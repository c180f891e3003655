// SPDX-License-Identifier: GPL-3.0-or-later
#include "outgoingconnection.h"

#include "resetprobe.h"

#include <QSocketNotifier>

// The system calls (start, adopting, localPort, peerAddress, watching for the
// outcome, send, receive, closeDescriptor) live in outgoingconnection_posix.cpp
// and outgoingconnection_win.cpp.

namespace {

// Pointed at the descriptor of the moment: one notifier serves every
// connection of the object.
void aim(QSocketNotifier *notifier, qintptr descriptor, bool enabled) {
    if (notifier->socket() != descriptor)
        notifier->setSocket(descriptor);
    notifier->setEnabled(enabled);
}

} // namespace

OutgoingConnection::OutgoingConnection(QObject *parent)
    : QObject(parent) {}

OutgoingConnection::~OutgoingConnection() {
    stopWatching();
    if (m_fd != -1)
        closeDescriptor(m_fd);
}

bool OutgoingConnection::adopt(qintptr acceptedDescriptor) {
    cancel();
    m_error = 0;
    m_fd = acceptedDescriptor;
    if (prepareAccepted())
        return true;
    cancel();
    return false;
}

qintptr OutgoingConnection::takeDescriptor() {
    stopWatching(); // QTcpSocket sets up its own on the descriptor
    const qintptr fd = m_fd;
    m_fd = -1;
    return fd;
}

void OutgoingConnection::cancel() {
    stopWatching();
    if (m_fd != -1)
        closeDescriptor(m_fd);
    m_fd = -1;
}

void OutgoingConnection::stopWatching() {
    releaseWatcher();
    for (QSocketNotifier *notifier : {m_reader, m_writer})
        if (notifier)
            notifier->setEnabled(false);
}

// Each notifier is made when first wanted: most connections never wait to write.
void OutgoingConnection::watch(bool forReading, bool forWriting) {
    releaseWatcher(); // the connect's own
    if (forReading && !m_reader) {
        m_reader = new QSocketNotifier(QSocketNotifier::Read, this);
        connect(m_reader, &QSocketNotifier::activated, this, &OutgoingConnection::readable);
    }
    if (forWriting && !m_writer) {
        m_writer = new QSocketNotifier(QSocketNotifier::Write, this);
        connect(m_writer, &QSocketNotifier::activated, this, &OutgoingConnection::writable);
    }
    if (m_reader)
        aim(m_reader, m_fd, forReading);
    if (m_writer)
        aim(m_writer, m_fd, forWriting);
}

bool OutgoingConnection::takePendingReset() const {
    return ::takePendingReset(m_fd);
}

bool OutgoingConnection::wasReset() const {
    return m_fd != -1 && connectionWasReset(m_fd);
}

std::optional<Outcome> OutgoingConnection::endingOf(Transfer transfer) const {
    switch (transfer) {
    case Transfer::Moved:
    case Transfer::WouldBlock:
        return std::nullopt;
    case Transfer::Ended:
        return wasReset() ? Outcome::Reset : Outcome::Closed;
    case Transfer::Failed:
        break;
    }
    return Outcome::SocketError;
}
