// SPDX-License-Identifier: GPL-3.0-or-later
#include "outgoingconnection.h"

// The system calls (start, localPort, watching for the outcome, closeDescriptor)
// live in outgoingconnection_posix.cpp and outgoingconnection_win.cpp.

OutgoingConnection::OutgoingConnection(QObject *parent)
    : QObject(parent) {}

OutgoingConnection::~OutgoingConnection() {
    releaseWatcher();
    if (m_fd != -1)
        closeDescriptor(m_fd);
}

qintptr OutgoingConnection::takeDescriptor() {
    releaseWatcher(); // QTcpSocket sets up its own on the descriptor
    const qintptr fd = m_fd;
    m_fd = -1;
    return fd;
}

void OutgoingConnection::cancel() {
    releaseWatcher();
    if (m_fd != -1)
        closeDescriptor(m_fd);
    m_fd = -1;
}
