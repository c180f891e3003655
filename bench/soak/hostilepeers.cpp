// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostilepeers.h"

#include "amllayout.h"
#include "cannedrecords.h"
#include "type4frame.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

constexpr qint64 kChunkBytes = 256 * 1024;
constexpr int kGarbageConnections = 4;
constexpr int kCheckMs = 50;

QByteArray standardFrame() {
    return frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false);
}

// Runs this thread's event loop until done() or the time is up.
bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(kCheckMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

void pause(int ms) {
    waitFor([] { return false; }, ms);
}

QByteArray randomBytes(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20261205);
    for (char &byte : bytes)
        byte = char(generator.generate());
    return bytes;
}

std::unique_ptr<QTcpSocket> connectTo(quint16 port) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}

bool isConnected(const QTcpSocket &socket) {
    return socket.state() == QAbstractSocket::ConnectedState;
}

QString mb(qint64 bytes) {
    return QString::number(double(bytes) / (1024 * 1024), 'f', 1) + QStringLiteral(" MB");
}

QString kbAsMb(qint64 kb) {
    return QString::number(double(kb) / 1024, 'f', 1) + QStringLiteral(" MB");
}

} // namespace

qint64 HostilePeers::receiverKb(const char *field) const {
    QFile status(QStringLiteral("/proc/%1/status").arg(m_plan.receiverPid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

void HostilePeers::run() {
    m_findings.rssBeforeKb = receiverKb("VmRSS");
    hold();
    if (!m_plan.onlyHold) {
        slowPeers();
        nonReader();
        garbage();
    }
    pause(1000); // talvrecv lets go of what the last peers left
    m_findings.rssAfterKb = receiverKb("VmRSS");
    m_findings.peakRssKb = receiverKb("VmHWM");
}

// Connections that never send anything, on the Type 4 port, held for less
// than its 30 s idle limit.
void HostilePeers::hold() {
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < m_plan.heldConnections; ++i)
        held.push_back(connectTo(m_plan.type4Port));
    const auto connected = [&held] {
        return int(std::count_if(held.cbegin(), held.cend(),
                                 [](const auto &socket) { return isConnected(*socket); }));
    };
    QElapsedTimer holding;
    holding.start();
    waitFor([&] { return connected() == m_plan.heldConnections; }, 20'000);
    m_findings.connected = connected();
    pause(2000); // talvrecv has accepted them all
    m_findings.rssHeldKb = receiverKb("VmRSS");
    pause(int(std::max<qint64>(0, m_plan.holdSeconds * 1000 - holding.elapsed())));
    m_findings.stillOpen = connected();
    if (m_findings.stillOpen < m_plan.heldConnections)
        m_findings.problems << QStringLiteral("%1 of %2 held connections were closed")
                                   .arg(m_plan.heldConnections - m_findings.stillOpen)
                                   .arg(m_plan.heldConnections);
}

// A frame and a document, one byte a second each.
void HostilePeers::slowPeers() {
    auto frameSocket = connectTo(m_plan.type4Port);
    auto documentSocket = connectTo(m_plan.type5Port);
    const QByteArray frame = standardFrame();
    const QByteArray document = cannedAmlDocument();
    waitFor([&] { return isConnected(*frameSocket) && isConnected(*documentSocket); }, 5000);
    for (int second = 0; second < m_plan.slowSeconds; ++second) {
        frameSocket->write(frame.mid(second, 1));
        documentSocket->write(document.mid(second, 1));
        pause(1000);
    }
    m_findings.slowPeersKept = isConnected(*frameSocket) && isConnected(*documentSocket);
    if (!m_findings.slowPeersKept)
        m_findings.problems << QStringLiteral("talvrecv dropped a peer sending a byte a second");
}

// Valid frames as fast as talvrecv takes them; the replies are never read.
void HostilePeers::nonReader() {
    auto socket = connectTo(m_plan.type4Port);
    socket->setReadBufferSize(1); // what is not read stays in the kernel, then with talvrecv
    const QByteArray frames = standardFrame().repeated(kChunkBytes / standardFrame().size());
    QElapsedTimer sending;
    sending.start();
    QObject::connect(socket.get(), &QTcpSocket::bytesWritten, socket.get(), [&](qint64 bytes) {
        m_findings.nonReaderSentBytes += bytes;
        if (sending.elapsed() < m_plan.nonReaderSeconds * 1000 &&
            socket->bytesToWrite() < kChunkBytes)
            socket->write(frames);
    });
    waitFor([&] { return isConnected(*socket); }, 5000);
    socket->write(frames);
    waitFor([] { return false; }, m_plan.nonReaderSeconds * 1000);
    m_findings.nonReaderRssKb = receiverKb("VmRSS");
    socket->abort();
}

// Random bytes, random bytes after "<" (a document without its end) and a
// frame announcing 99999999 characters, over a few connections at once,
// each sent until talvrecv drops it, then the next.
void HostilePeers::garbage() {
    const QByteArray noise = randomBytes(kChunkBytes);
    const QByteArray heads[] = {QByteArray(), QByteArrayLiteral("<"),
                                QByteArrayLiteral("999999999993|")};
    std::vector<std::unique_ptr<QTcpSocket>> sockets(kGarbageConnections);
    QElapsedTimer flooding;
    flooding.start();
    const auto timeLeft = [&] {
        return flooding.elapsed() < m_plan.garbageSeconds * 1000;
    };
    const auto bytesLeft = [&] {
        return m_findings.garbageSentBytes < m_plan.garbageBytes;
    };
    std::function<void(size_t)> open = [&](size_t slot) {
        sockets[slot] =
            connectTo(heads[m_findings.garbageConnections % 3].startsWith('<') ? m_plan.type5Port
                                                                               : m_plan.type4Port);
        QTcpSocket *socket = sockets[slot].get();
        const QByteArray head = heads[m_findings.garbageConnections % 3];
        ++m_findings.garbageConnections;
        QObject::connect(socket, &QTcpSocket::connected, socket,
                         [socket, head, &noise] { socket->write(head + noise); });
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [&, socket](qint64 bytes) {
            m_findings.garbageSentBytes += bytes;
            if (bytesLeft() && timeLeft() && socket->bytesToWrite() < kChunkBytes)
                socket->write(noise);
        });
    };
    for (size_t slot = 0; slot < sockets.size(); ++slot)
        open(slot);
    while (bytesLeft() && timeLeft()) {
        pause(kCheckMs);
        for (size_t slot = 0; slot < sockets.size(); ++slot)
            if (sockets[slot]->state() == QAbstractSocket::UnconnectedState && bytesLeft())
                open(slot);
    }
    if (bytesLeft())
        m_findings.problems << QStringLiteral("only %1 of garbage went out in %2 s")
                                   .arg(mb(m_findings.garbageSentBytes))
                                   .arg(m_plan.garbageSeconds);
}

QStringList HostilePeers::report() const {
    const Findings &f = m_findings;
    QStringList lines;
    lines << QStringLiteral("hostile peers: %1 of %2 connections held open, %3 still open after "
                            "%4 s; talvrecv resident %5 before, %6 holding them")
                 .arg(f.connected)
                 .arg(m_plan.heldConnections)
                 .arg(f.stillOpen)
                 .arg(m_plan.holdSeconds)
                 .arg(kbAsMb(f.rssBeforeKb), kbAsMb(f.rssHeldKb));
    if (m_plan.onlyHold)
        return lines;
    lines << QStringLiteral("hostile peers: one byte a second for %1 s on both ports: %2")
                 .arg(m_plan.slowSeconds)
                 .arg(f.slowPeersKept ? QStringLiteral("kept open") : QStringLiteral("DROPPED"));
    lines << QStringLiteral("hostile peers: a peer that never reads sent %1 of frames in %2 s; "
                            "talvrecv resident %3")
                 .arg(mb(f.nonReaderSentBytes))
                 .arg(m_plan.nonReaderSeconds)
                 .arg(kbAsMb(f.nonReaderRssKb));
    lines << QStringLiteral("hostile peers: %1 of garbage over %2 connections; talvrecv resident "
                            "%3 after, peak %4")
                 .arg(mb(f.garbageSentBytes))
                 .arg(f.garbageConnections)
                 .arg(kbAsMb(f.rssAfterKb), kbAsMb(f.peakRssKb));
    for (const QString &problem : f.problems)
        lines << QStringLiteral("hostile peers: PROBLEM: ") + problem;
    return lines;
}
