// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadtraffic.h"

#include "heartbeat.h"
#include "loadrecords.h"
#include "outgoingconnection.h"

#include <QNetworkProxy>
#include <QTcpSocket>

#include <optional>

namespace {

// Enough for any answer in one read; a longer one takes several.
constexpr qint64 kReadChunkBytes = 1024;

void discard(QTcpSocket *socket) {
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
}

// How a send or a receive ended the exchange, if it did; a reset is told
// from an orderly close as for a QTcpSocket with a reset probe.
} // namespace

void LoadTraffic::refuse() {
    ++m_tally.due;
    ++m_tally.shortfall;
    ++m_tally.failedLastSecond;
}

void LoadTraffic::noteEnded(qint64 inFlightBefore) {
    if (inFlightBefore >= m_settings.maxInFlight && hasRoom() && m_settings.roomMade)
        m_settings.roomMade();
}

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

Outcome LoadTraffic::faultOf(const QTcpSocket &socket, const ResetProbe &probe) {
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return Outcome::Refused;
    case QAbstractSocket::RemoteHostClosedError:
        return probe.saysReset() ? Outcome::Reset : Outcome::Closed;
    default:
        return Outcome::SocketError;
    }
}

// ---------------------------------------------------------------- Type 4

// The slot of an ended exchange, its connect object ready again, or a new one.
size_t Type4Traffic::idleExchange() {
    if (!m_idle.empty()) {
        const size_t index = m_idle.back();
        m_idle.pop_back();
        return index;
    }
    const size_t index = m_exchanges.size();
    m_exchanges.emplace_back();
    OutgoingConnection *connection = newConnect([this, index] { onConnectFinished(index); });
    connect(connection, &OutgoingConnection::writable, this, [this, index] { sendFrame(index); });
    connect(connection, &OutgoingConnection::readable, this, [this, index] { onReadable(index); });
    m_exchanges[index].connection = connection;
    return index;
}

void Type4Traffic::launch(qint64 dueUs) {
    if (m_live >= m_settings.maxInFlight) {
        refuse();
        return;
    }
    ++m_tally.due;
    const size_t index = idleExchange();
    Exchange &exchange = m_exchanges[index];
    exchange.live = true;
    exchange.id = m_nextId++;
    exchange.dueUs = dueUs;
    exchange.frame = m_records.nextType4Frame();
    exchange.frameSent = 0;
    exchange.answer.clear();
    m_launchOrder.emplace_back(exchange.id, index);
    ++m_live;
    m_tally.countSent();
    m_tally.inFlight = m_live;
    exchange.connectStartUs = now();
    if (!exchange.connection->start(m_settings.address, m_settings.port))
        fail(index, outcomeOfConnectError(exchange.connection->error()));
}

void Type4Traffic::onConnectFinished(size_t index) {
    Exchange &exchange = m_exchanges[index];
    if (!exchange.live)
        return;
    if (const int error = exchange.connection->error()) {
        fail(index, outcomeOfConnectError(error));
        return;
    }
    exchange.connected = true;
    m_tally.connect.record(now() - exchange.connectStartUs);
    // Out now: the connect has just been seen writable.
    sendFrame(index);
}

// As much of the frame as the system takes; the rest once it is writable again.
void Type4Traffic::sendFrame(size_t index) {
    Exchange &exchange = m_exchanges[index];
    if (!exchange.live)
        return;
    qint64 sent = 0;
    const OutgoingConnection::Transfer transfer =
        exchange.connection->send(exchange.frame.constData() + exchange.frameSent,
                                  exchange.frame.size() - exchange.frameSent, &sent);
    if (const std::optional<Outcome> fault = exchange.connection->endingOf(transfer)) {
        fail(index, *fault);
        return;
    }
    exchange.frameSent += sent;
    exchange.connection->watch(true, exchange.frameSent < exchange.frame.size());
}

void Type4Traffic::onReadable(size_t index) {
    Exchange &exchange = m_exchanges[index];
    if (!exchange.live)
        return;
    // A reset already known wins over data waiting, as for a QTcpSocket read.
    if (exchange.connection->takePendingReset()) {
        fail(index, Outcome::Reset);
        return;
    }
    // What has come, into a buffer of the stack: an answer is a few bytes.
    char data[kReadChunkBytes];
    qint64 got = 0;
    const OutgoingConnection::Transfer transfer =
        exchange.connection->receive(data, sizeof data, &got);
    if (const std::optional<Outcome> fault = exchange.connection->endingOf(transfer)) {
        fail(index, *fault);
        return;
    }
    if (got == 0)
        return;
    exchange.answer.append(data, got);
    switch (judge(exchange.answer)) {
    case AnswerState::Complete:
        finish(index, nullptr);
        break;
    case AnswerState::Wrong:
        fail(index, Outcome::Malformed);
        break;
    case AnswerState::Partial:
        break;
    }
}

// Closed after the answer, as link 1 does; at once, whatever the outcome.
void Type4Traffic::finish(size_t index, const Outcome *fault) {
    Exchange &exchange = m_exchanges[index];
    if (fault)
        m_tally.countFault(*fault);
    else
        m_tally.countAnswer(now() - exchange.dueUs);
    exchange.live = false;
    exchange.connected = false;
    exchange.frame.clear();
    exchange.connection->cancel();
    --m_live;
    m_tally.inFlight = m_live;
    m_idle.push_back(index);
    noteEnded(m_live + 1);
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
        const bool reset = exchange.connected && exchange.connection->wasReset();
        fail(index, reset ? Outcome::Reset : Outcome::Unanswered);
    }
}

void Type4Traffic::abandon() {
    for (Exchange &exchange : m_exchanges) {
        if (exchange.live) {
            exchange.live = false;
            exchange.connected = false;
            exchange.connection->cancel();
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
    if (!hasRoom()) {
        refuse();
        return;
    }
    ++m_tally.due;
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
        drop(index, outcomeOfConnectError(carrier.connect->error()));
}

void Type5Traffic::send(Carrier &carrier, qint64 dueUs) {
    carrier.socket->write(m_records.type5Document());
    carrier.outstanding.push_back(dueUs);
}

void Type5Traffic::onConnectFinished(size_t index) {
    Carrier &carrier = m_carriers[index];
    if (const int error = carrier.connect->error()) {
        drop(index, outcomeOfConnectError(error));
        return;
    }
    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    if (!adopt(*socket, *carrier.connect)) {
        delete socket;
        drop(index, Outcome::SocketError);
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
        drop(index, Outcome::Reset);
        return;
    }
    const QByteArray data = carrier.socket->readAll();
    if (!carrier.socket || data.isEmpty())
        return;
    carrier.received += data;
    const qint64 inFlightBefore = m_tally.inFlight;
    takeAnswers(carrier);
    noteEnded(inFlightBefore);
}

// Heartbeats are answered wherever they fall; an answer is matched to the
// oldest document sent; bytes that are neither make that document malformed.
void Type5Traffic::takeAnswers(Carrier &carrier) {
    QByteArray &received = carrier.received;
    const QByteArray &expected = m_settings.expectedAnswer;
    const QByteArray heartbeat = heartbeatBytes();
    while (!received.isEmpty()) {
        if (received.startsWith(heartbeat)) {
            carrier.socket->write(heartbeatAnswerBytes());
            ++m_tally.heartbeatsAnswered;
            received.remove(0, heartbeat.size());
            continue;
        }
        if (received.startsWith(expected)) {
            received.remove(0, expected.size());
            if (carrier.outstanding.empty()) {
                m_tally.countFault(Outcome::Malformed); // an answer to nothing sent
                continue;
            }
            m_tally.countAnswer(now() - carrier.outstanding.front());
            carrier.outstanding.pop_front();
            --m_tally.inFlight;
            continue;
        }
        if (expected.startsWith(received) || heartbeat.startsWith(received))
            return;
        received.clear();
        m_tally.countFault(Outcome::Malformed);
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

void Type5Traffic::drop(size_t index, Outcome fault) {
    Carrier &carrier = m_carriers[index];
    const qint64 lost = qint64(carrier.waiting.size() + carrier.outstanding.size());
    for (qint64 i = 0; i < lost; ++i)
        m_tally.countFault(fault);
    const qint64 inFlightBefore = m_tally.inFlight;
    m_tally.inFlight -= lost;
    close(carrier);
    noteEnded(inFlightBefore);
}

// Ready to connect again, with the same connect object.
void Type5Traffic::close(Carrier &carrier) {
    OutgoingConnection *connection = carrier.connect;
    if (carrier.connecting && connection)
        connection->cancel();
    if (carrier.socket)
        discard(carrier.socket);
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
            drop(i, carrier.probe.saysReset() ? Outcome::Reset : Outcome::Unanswered);
    }
}

void Type5Traffic::abandon() {
    for (Carrier &carrier : m_carriers)
        close(carrier);
    m_tally.inFlight = 0;
}
