#include "outgoingconnection.h"

#include <QSocketNotifier>

// The system calls (start, localPort, outcome, closeDescriptor) live in
// outgoingconnection_posix.cpp and outgoingconnection_win.cpp.

OutgoingConnection::OutgoingConnection(QObject *parent)
    : QObject(parent) {}

OutgoingConnection::~OutgoingConnection() {
    if (m_fd != -1)
        closeDescriptor(m_fd);
}

// Called once start() has a connect under way.
void OutgoingConnection::watchOutcome() {
    // The outcome, even of an immediate connect, is reported from the event loop.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OutgoingConnection::checkOutcome);
}

void OutgoingConnection::checkOutcome() {
    m_notifier->setEnabled(false);
    m_error = outcome();
    emit finished();
}

qintptr OutgoingConnection::takeDescriptor() {
    releaseNotifier(); // QTcpSocket sets up its own on the descriptor
    const qintptr fd = m_fd;
    m_fd = -1;
    return fd;
}

void OutgoingConnection::cancel() {
    releaseNotifier();
    if (m_fd != -1)
        closeDescriptor(m_fd);
    m_fd = -1;
}

// Called from inside the notifier's own signal, so it is deleted later.
void OutgoingConnection::releaseNotifier() {
    if (!m_notifier)
        return;
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
}
