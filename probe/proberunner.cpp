// SPDX-License-Identifier: GPL-3.0-or-later
#include "proberunner.h"

#include "planconnection.h"
#include "planrunner.h"
#include "probereplay.h"

#include <QDir>
#include <QFile>
#include <QTimer>

namespace {

constexpr int kRecoveryCheckMs = 200;
// A half-closed connection is given this long to be answered or closed.
constexpr int kHalfCloseSettleMs = 200;

PlanConnection::HeartbeatAnswer heartbeatAnswerOf(ProbeHeartbeat answer) {
    switch (answer) {
    case ProbeHeartbeat::Late:
        return PlanConnection::HeartbeatAnswer::Late;
    case ProbeHeartbeat::Never:
        return PlanConnection::HeartbeatAnswer::Never;
    case ProbeHeartbeat::Twice:
        return PlanConnection::HeartbeatAnswer::Twice;
    case ProbeHeartbeat::Normal:
        break;
    }
    return PlanConnection::HeartbeatAnswer::AtOnce;
}

// The liveness check as a plan of two steps: the canned frame and the canned
// document, each answered within aliveMs.
Plan livenessPlan(const ProbeSettings &settings) {
    Plan plan;
    plan.name = QStringLiteral("liveness");
    plan.defaultWithinUs = settings.aliveMs * 1000;
    PlanCase alive;
    alive.name = QStringLiteral("alive");
    ExpectSpec answered;
    answered.answer = QStringLiteral(".");
    if (settings.type4) {
        plan.type4 = Endpoint{settings.type4Host, settings.type4Port};
        Step frame;
        frame.send.kind = SendSpec::Kind::CannedType4;
        frame.expect = answered;
        alive.steps << frame;
    }
    if (settings.type5) {
        plan.type5 = Endpoint{settings.type5Host, settings.type5Port};
        Step document;
        document.send.kind = SendSpec::Kind::CannedType5;
        document.expect = answered;
        alive.steps << document;
    }
    plan.cases << alive;
    return plan;
}

} // namespace

ProbeRunner::ProbeRunner(const ProbeSettings &settings, std::optional<ProbeCase> replay,
                         QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_replay(std::move(replay)) {}

ProbeRunner::~ProbeRunner() {
    for (const QPointer<PlanConnection> &connection : std::as_const(m_connections))
        if (connection)
            connection->close();
}

double ProbeRunner::elapsedSeconds() const {
    return m_clock.isValid() ? double(m_clock.elapsed()) / 1000.0 : 0.0;
}

void ProbeRunner::start() {
    m_running = true;
    m_clock.start();
    QMetaObject::invokeMethod(this, &ProbeRunner::checkFirst, Qt::QueuedConnection);
}

void ProbeRunner::stop(const QString &why) {
    if (!m_running || !m_stoppedBecause.isEmpty())
        return;
    m_stoppedBecause = why;
    for (const QPointer<PlanConnection> &connection : std::as_const(m_connections))
        if (connection)
            connection->close();
    m_connections.clear();
    if (m_check)
        m_check->stop(why);
    else
        QMetaObject::invokeMethod(this, &ProbeRunner::finish, Qt::QueuedConnection);
}

bool ProbeRunner::overTime() const {
    return m_settings.durationUs && m_clock.nsecsElapsed() / 1000 >= *m_settings.durationUs;
}

// A receiver that is not alive before the first case tells nothing about the cases.
void ProbeRunner::checkFirst() {
    checkAlive([this](bool alive, const QString &) {
        if (!m_stoppedBecause.isEmpty())
            return finish();
        if (!alive) {
            m_deadAtStart = true;
            return finish();
        }
        nextCase();
    });
}

void ProbeRunner::nextCase() {
    if (!m_stoppedBecause.isEmpty() || m_receiverLost)
        return finish();
    if (m_replay) {
        if (m_number > 0)
            return finish();
        m_current = *m_replay;
    } else {
        if ((m_settings.cases && m_number >= *m_settings.cases) || overTime())
            return finish();
        const std::optional<ProbeCase> next =
            probeCase(m_settings.families, m_settings.seed, m_number, m_settings.limits);
        if (!next)
            return finish();
        m_current = *next;
    }
    ++m_number;
    sendCase();
}

void ProbeRunner::sendCase() {
    const bool type4 = m_current.link == ProbeLink::Type4;
    const std::optional<QHostAddress> &address = type4 ? m_settings.type4 : m_settings.type5;
    if (!address) { // a case for a link not given: nothing to send it to
        m_pending = {};
        m_pending.probe = m_current;
        m_pending.detail = QStringLiteral("not sent: no target for its link");
        m_pending.at = QDateTime::currentDateTime();
        m_results << m_pending;
        emit caseDone(m_pending);
        QMetaObject::invokeMethod(this, &ProbeRunner::nextCase, Qt::QueuedConnection);
        return;
    }
    QList<PlanConnection::Write> writes;
    for (const ProbeWrite &write : std::as_const(m_current.writes))
        writes.append({write.bytes, write.delayUsBefore});
    if (writes.isEmpty())
        writes.append(PlanConnection::Write{}); // nothing to send: the ending follows the connect

    const quint16 port = type4 ? m_settings.type4Port : m_settings.type5Port;
    const int connections = std::clamp(m_current.connections, 1, m_settings.limits.maxConnections);
    m_connectionsOpen = connections;
    for (int i = 0; i < connections; ++i) {
        auto *connection = new PlanConnection(*address, port, !type4, this);
        m_connections << connection;
        connection->setHeartbeatAnswer(heartbeatAnswerOf(m_current.heartbeat),
                                       m_current.heartbeatLateMs * 1000);
        if (m_current.ending == ProbeEnding::HalfClose)
            connection->halfCloseWhenSent();
        connect(connection, &PlanConnection::ended, this,
                [this, connection] { connectionDone(connection); });
        connect(connection, &PlanConnection::allSent, this, [this, connection] {
            switch (m_current.ending) {
            case ProbeEnding::Close:
                connectionDone(connection);
                break;
            case ProbeEnding::Reset:
                connection->reset();
                connectionDone(connection);
                break;
            case ProbeEnding::HalfClose:
                QTimer::singleShot(kHalfCloseSettleMs, connection,
                                   [this, connection] { connectionDone(connection); });
                break;
            case ProbeEnding::HoldOpen:
                QTimer::singleShot(int(m_current.holdMs), connection,
                                   [this, connection] { connectionDone(connection); });
                break;
            }
        });
        connection->send(writes);
    }
}

// Each connection of the case ends once, by the receiver or by the case; the
// check follows the last.
void ProbeRunner::connectionDone(PlanConnection *connection) {
    if (!m_connections.contains(connection))
        return;
    m_connections.removeOne(connection);
    disconnect(connection, nullptr, this, nullptr);
    connection->close();
    connection->deleteLater();
    if (--m_connectionsOpen > 0)
        return;
    caseSent();
}

void ProbeRunner::caseSent() {
    m_pending = {};
    m_pending.probe = m_current;
    m_pending.at = QDateTime::currentDateTime();
    checkAlive([this](bool alive, const QString &detail) { afterCheck(alive, detail); });
}

void ProbeRunner::checkAlive(std::function<void(bool, const QString &)> then) {
    PlanRunner::Targets targets;
    targets.type4 = m_settings.type4;
    targets.type4Port = m_settings.type4Port;
    targets.type5 = m_settings.type5;
    targets.type5Port = m_settings.type5Port;
    auto *check = new PlanRunner(livenessPlan(m_settings), targets, false, this);
    m_check = check;
    connect(check, &PlanRunner::finished, this, [check, then = std::move(then)] {
        check->deleteLater();
        const CaseResult &result = check->cases().constFirst();
        const bool alive = result.state == CaseResult::State::Passed && !check->wasStopped();
        QString detail;
        if (!result.failures.isEmpty()) {
            const StepResult &failed = result.failures.constFirst();
            detail = QStringLiteral("%1 not answered: %2").arg(failed.action, failed.detail);
        }
        then(alive, detail);
    });
    check->start();
}

void ProbeRunner::afterCheck(bool alive, const QString &detail) {
    if (!m_stoppedBecause.isEmpty())
        return finish(); // the case in flight is left unjudged
    if (alive) {
        m_results << m_pending;
        emit caseDone(m_pending);
        QMetaObject::invokeMethod(this, &ProbeRunner::nextCase, Qt::QueuedConnection);
        return;
    }
    m_pending.alive = false;
    m_pending.detail = detail.isEmpty() ? m_stoppedBecause : detail;
    m_pending.replayFile = writeReplay(m_pending.probe);
    m_failedAtMs = m_clock.elapsed();
    waitForRecovery();
}

void ProbeRunner::waitForRecovery() {
    QTimer::singleShot(kRecoveryCheckMs, this, [this] {
        checkAlive([this](bool alive, const QString &) {
            const qint64 waitedMs = m_clock.elapsed() - m_failedAtMs;
            if (alive)
                m_pending.recoveryMs = waitedMs;
            if (alive || waitedMs >= m_settings.recoverS * 1000 || !m_stoppedBecause.isEmpty()) {
                m_receiverLost = !alive && m_stoppedBecause.isEmpty();
                m_results << m_pending;
                emit caseDone(m_pending);
                QMetaObject::invokeMethod(this, &ProbeRunner::nextCase, Qt::QueuedConnection);
                return;
            }
            waitForRecovery();
        });
    });
}

void ProbeRunner::finish() {
    if (!m_running)
        return;
    m_running = false;
    emit finished();
}

QString ProbeRunner::writeReplay(const ProbeCase &probe) {
    if (!QDir().mkpath(m_settings.outDir))
        return {};
    const QString name = QStringLiteral("%1/%2-seed%3-case%4.json")
                             .arg(m_settings.outDir, probe.family)
                             .arg(probe.seed)
                             .arg(probe.number);
    QString error;
    return writeReplayFile(name, probe, &error) ? name : QString();
}
