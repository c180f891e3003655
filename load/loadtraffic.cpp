// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadtraffic.h"

#include "loadrecords.h"
#include "outgoingconnection.h"
#include "socketcontrol.h"

#include <QNetworkProxy>
#include <QTcpSocket>

namespace {

const QByteArray kHeartbeat("\x02H\x03", 3);
const QByteArray kHeartbeatAnswer("\x02\x06\x03", 3);

void discard(QTcpSocket *socket, bool orderly) {
    socket->disconnect();
    if (orderly)
        socket->disconnectFromHost();
    else
        socket->abort();
    socket->deleteLater();
}

} // namespace

LoadTraffic::AnswerState LoadTraffic::judge(const QByteArray &received) const {
    if (received == m_settings.expectedAnswer)
        return AnswerState::Complete;
    if (m_settings.expectedAnswer.startsWith(received))
        return AnswerState::Partial;
    return AnswerState::Wrong;
}

OutgoingConnection *LoadTraffic::newConnect(std::function<void()> onFinished) {
    auto *connection = new OutgoingConnection(this);
    connect(connection, &OutgoingConnection::finished, this, std::move(onFinished));
    return connection;
}

bool LoadTraffic::adopt(QTcpSocket &socket, OutgoingConnection &connection) {
    const qintptr descriptor = connection.takeDescriptor();
    if (socket.setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState,
                                   QIODevice::ReadWrite | QIODevice::Unbuffered))
        return true;
    OutgoingConnection::closeDescriptor(descriptor);
    return false;
}

Fault LoadTraffic::faultOfConnect(int systemError) {
    switch (SocketControl::failureOfSystemError(systemError).number) {
    case SocketControl::kErrorConnectionRefused:
        return Fault::Refused;
    case SocketControl::kErrorConnectionReset:
        return Fault::Reset;
    default:
        return Fault::SocketError;
    }
}

Fault LoadTraffic::faultOf(const QTcpSocket &socket, const ResetProbe &probe) {
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return Fault::Refused;
    case QAbstractSocket::RemoteHostClosedError:
        return probe.saysReset() ? Fault::Reset : Fault::Closed;
    default:
        return Fault::SocketError;
    }
}

// ---------------------------------------------------------------- Type 4

// The slot of an ended exchange, its socket ready to connect again, or a new one.
size_t Type4Traffic::idleExchange() {
    size_t index = m_exchanges.size();
    if (m_idle.empty()) {
        m_exchanges.emplace_back();
    } else {
        index = m_idle.back();
        m_idle.pop_back();
        QTcpSocket *&socket = m_exchanges[index].socket;
        if (socket->state() == QAbstractSocket::UnconnectedState)
            return index;
        // Still closing: left to finish on its own.
        discard(socket, true);
        socket = nullptr;
    }
    auto *socket = new QTcpSocket(this);
    // Without this every connection asks the proxy settings again, which
    // costs more than the exchange itself on 127.0.0.1.
    socket->setProxy(QNetworkProxy::NoProxy);
    connect(socket, &QTcpSocket::readyRead, this, [this, index] { onReadyRead(index); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, index] { onError(index); });
    m_exchanges[index].socket = socket;
    if (!m_exchanges[index].connect)
        m_exchanges[index].connect = newConnect([this, index] { onConnectFinished(index); });
    return index;
}

void Type4Traffic::launch(qint64 dueUs) {
    ++m_tally.due;
    if (m_live >= m_settings.maxInFlight) {
        ++m_tally.shortfall;
        ++m_tally.failedLastSecond;
        return;
    }
    const size_t index = idleExchange();
    Exchange &exchange = m_exchanges[index];
    exchange.live = true;
    exchange.id = m_nextId++;
    exchange.dueUs = dueUs;
    exchange.frame = m_records.nextType4Frame();
    exchange.answer.clear();
    m_launchOrder.emplace_back(exchange.id, index);
    ++m_live;
    m_tally.countSent();
    m_tally.inFlight = m_live;
    exchange.connectStartUs = now();
    if (!exchange.connect->start(m_settings.address, m_settings.port)) {
        const Fault fault = faultOfConnect(exchange.connect->error());
        finish(index, &fault);
    }
}

void Type4Traffic::onConnectFinished(size_t index) {
    Exchange &exchange = m_exchanges[index];
    if (!exchange.live)
        return;
    if (const int error = exchange.connect->error()) {
        const Fault fault = faultOfConnect(error);
        finish(index, &fault);
        return;
    }
    if (!adopt(*exchange.socket, *exchange.connect)) {
        const Fault fault = Fault::SocketError;
        finish(index, &fault);
        return;
    }
    exchange.connected = true;
    exchange.probe.keep(exchange.socket->socketDescriptor());
    m_tally.connect.record(now() - exchange.connectStartUs);
    exchange.socket->write(exchange.frame);
    exchange.frame.clear();
}

void Type4Traffic::onReadyRead(size_t index) {
    Exchange &exchange = m_exchanges[index];
    if (!exchange.live)
        return;
    if (takePendingReset(exchange.socket->socketDescriptor())) {
        const Fault reset = Fault::Reset;
        finish(index, &reset);
        return;
    }
    const QByteArray data = exchange.socket->readAll();
    // Reading the end of the stream reports it, which may have ended the exchange.
    if (!exchange.live || data.isEmpty())
        return;
    exchange.answer += data;
    switch (judge(exchange.answer)) {
    case AnswerState::Complete:
        finish(index, nullptr);
        break;
    case AnswerState::Wrong: {
        const Fault malformed = Fault::Malformed;
        finish(index, &malformed);
        break;
    }
    case AnswerState::Partial:
        break;
    }
}

void Type4Traffic::onError(size_t index) {
    Exchange &exchange = m_exchanges[index];
    if (!exchange.live)
        return;
    const Fault fault = faultOf(*exchange.socket, exchange.probe);
    finish(index, &fault);
}

void Type4Traffic::finish(size_t index, const Fault *fault) {
    Exchange &exchange = m_exchanges[index];
    if (fault)
        m_tally.countFault(*fault);
    else
        m_tally.countAnswer(now() - exchange.dueUs);
    exchange.live = false;
    exchange.frame.clear();
    --m_live;
    m_tally.inFlight = m_live;
    // Closing after the answer, as link 1 does.
    if (!exchange.connected)
        exchange.connect->cancel();
    else if (fault)
        exchange.socket->abort();
    else
        exchange.socket->disconnectFromHost();
    exchange.connected = false;
    exchange.probe.drop();
    m_idle.push_back(index);
}

// An exchange past its time-out is unanswered, unless its connection was
// reset unheard: Wine tells a watched socket of a reset only at its next write.
void Type4Traffic::sweep() {
    const qint64 cutoff = now() - m_settings.timeoutUs;
    while (!m_launchOrder.empty()) {
        const auto [id, index] = m_launchOrder.front();
        const Exchange &exchange = m_exchanges[index];
        const bool ended = !exchange.live || exchange.id != id;
        if (!ended && exchange.dueUs > cutoff)
            break;
        m_launchOrder.pop_front();
        if (ended)
            continue;
        const Fault fault = exchange.probe.saysReset() ? Fault::Reset : Fault::Unanswered;
        finish(index, &fault);
    }
}

void Type4Traffic::abandon() {
    for (Exchange &exchange : m_exchanges) {
        if (exchange.live) {
            exchange.live = false;
            exchange.connect->cancel();
            exchange.socket->abort();
            exchange.connected = false;
            exchange.probe.drop();
        }
    }
    m_idle.clear();
    for (size_t i = 0; i < m_exchanges.size(); ++i)
        m_idle.push_back(i);
    m_launchOrder.clear();
    m_live = 0;
    m_tally.inFlight = 0;
}

// ---------------------------------------------------------------- Type 5

Type5Traffic::Type5Traffic(const TrafficSettings &settings, LoadRecords &records, LinkTally &tally,
                           int carriers)
    : LoadTraffic(settings, records, tally)
    , m_carriers(size_t(carriers)) {}

int Type5Traffic::openCarriers() const {
    int open = 0;
    for (const Carrier &carrier : m_carriers)
        open += carrier.connected ? 1 : 0;
    return open;
}

void Type5Traffic::launch(qint64 dueUs) {
    ++m_tally.due;
    if (m_tally.inFlight >= m_settings.maxInFlight) {
        ++m_tally.shortfall;
        ++m_tally.failedLastSecond;
        return;
    }
    const size_t index = m_nextCarrier;
    m_nextCarrier = (m_nextCarrier + 1) % m_carriers.size();
    Carrier &carrier = m_carriers[index];
    ++m_tally.inFlight;
    m_tally.countSent();
    if (carrier.connected) {
        send(carrier, dueUs);
        return;
    }
    carrier.waiting.push_back(dueUs);
    if (!carrier.connecting)
        open(index);
}

void Type5Traffic::open(size_t index) {
    Carrier &carrier = m_carriers[index];
    if (!carrier.connect)
        carrier.connect = newConnect([this, index] { onConnectFinished(index); });
    carrier.connecting = true;
    if (!carrier.connect->start(m_settings.address, m_settings.port))
        drop(index, faultOfConnect(carrier.connect->error()));
}

void Type5Traffic::send(Carrier &carrier, qint64 dueUs) {
    carrier.socket->write(m_records.type5Document());
    carrier.outstanding.push_back(dueUs);
}

void Type5Traffic::onConnectFinished(size_t index) {
    Carrier &carrier = m_carriers[index];
    if (const int error = carrier.connect->error()) {
        drop(index, faultOfConnect(error));
        return;
    }
    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    if (!adopt(*socket, *carrier.connect)) {
        delete socket;
        drop(index, Fault::SocketError);
        return;
    }
    carrier.connecting = false;
    carrier.socket = socket;
    carrier.probe.keep(socket->socketDescriptor());
    connect(socket, &QTcpSocket::readyRead, this, [this, index] { onReadyRead(index); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, index] { onError(index); });
    carrier.connected = true;
    while (!carrier.waiting.empty()) {
        send(carrier, carrier.waiting.front());
        carrier.waiting.pop_front();
    }
}

void Type5Traffic::onReadyRead(size_t index) {
    Carrier &carrier = m_carriers[index];
    if (!carrier.socket)
        return;
    if (takePendingReset(carrier.socket->socketDescriptor())) {
        drop(index, Fault::Reset);
        return;
    }
    const QByteArray data = carrier.socket->readAll();
    if (!carrier.socket || data.isEmpty())
        return;
    carrier.received += data;
    takeAnswers(carrier);
}

// Heartbeats are answered wherever they fall; an answer is matched to the
// oldest document sent; bytes that are neither make that document malformed.
void Type5Traffic::takeAnswers(Carrier &carrier) {
    QByteArray &received = carrier.received;
    const QByteArray &expected = m_settings.expectedAnswer;
    while (!received.isEmpty()) {
        if (received.startsWith(kHeartbeat)) {
            carrier.socket->write(kHeartbeatAnswer);
            ++m_tally.heartbeatsAnswered;
            received.remove(0, kHeartbeat.size());
            continue;
        }
        if (received.startsWith(expected)) {
            received.remove(0, expected.size());
            if (carrier.outstanding.empty()) {
                m_tally.countFault(Fault::Malformed); // an answer to nothing sent
                continue;
            }
            m_tally.countAnswer(now() - carrier.outstanding.front());
            carrier.outstanding.pop_front();
            --m_tally.inFlight;
            continue;
        }
        if (expected.startsWith(received) || kHeartbeat.startsWith(received))
            return;
        received.clear();
        m_tally.countFault(Fault::Malformed);
        if (!carrier.outstanding.empty()) {
            carrier.outstanding.pop_front();
            --m_tally.inFlight;
        }
    }
}

void Type5Traffic::onError(size_t index) {
    Carrier &carrier = m_carriers[index];
    if (carrier.socket)
        drop(index, faultOf(*carrier.socket, carrier.probe));
}

void Type5Traffic::drop(size_t index, Fault fault) {
    Carrier &carrier = m_carriers[index];
    const qint64 lost = qint64(carrier.waiting.size() + carrier.outstanding.size());
    for (qint64 i = 0; i < lost; ++i)
        m_tally.countFault(fault);
    m_tally.inFlight -= lost;
    close(carrier);
}

// Ready to connect again, with the same connect object.
void Type5Traffic::close(Carrier &carrier) {
    OutgoingConnection *connection = carrier.connect;
    if (carrier.connecting && connection)
        connection->cancel();
    if (carrier.socket)
        discard(carrier.socket, false);
    carrier = Carrier();
    carrier.connect = connection;
}

void Type5Traffic::sweep() {
    const qint64 cutoff = now() - m_settings.timeoutUs;
    for (size_t i = 0; i < m_carriers.size(); ++i) {
        const Carrier &carrier = m_carriers[i];
        const std::deque<qint64> &oldest =
            carrier.outstanding.empty() ? carrier.waiting : carrier.outstanding;
        if (!oldest.empty() && oldest.front() <= cutoff)
            drop(i, carrier.probe.saysReset() ? Fault::Reset : Fault::Unanswered);
    }
}

void Type5Traffic::abandon() {
    for (Carrier &carrier : m_carriers)
        close(carrier);
    m_tally.inFlight = 0;
}
