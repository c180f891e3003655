// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "probecase.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>

class PlanConnection;
class PlanRunner;

// What a probe run is asked to do, its values checked.
struct ProbeSettings {
    std::optional<QHostAddress> type4;
    quint16 type4Port = 0;
    QString type4Host; // as given, for the liveness plan's targets
    std::optional<QHostAddress> type5;
    quint16 type5Port = 0;
    QString type5Host;
    QStringList families; // in the order the cases take them
    quint64 seed = 1;
    std::optional<qint64> cases;      // unset: until durationUs
    std::optional<qint64> durationUs; // unset: until cases
    qint64 aliveMs = 2000;
    qint64 recoverS = 30;
    ProbeLimits limits;
    QString outDir = QStringLiteral("probe-failures");
};

// How one case went.
struct ProbeResult {
    ProbeCase probe;
    bool alive = true;                // the liveness check after it passed
    QString detail;                   // why the receiver was judged not alive
    std::optional<qint64> recoveryMs; // how long it took to answer again; unset: never
    QString replayFile;               // written for a failed case
    QDateTime at;
};

// Sends each case to the receiver, then checks that it is alive: a valid canned
// frame on link 1 and the canned document on link 2 answered within aliveMs.
// A receiver that fails the check is waited for, up to recoverS, checked again
// every 200 ms; one that does not come back ends the run. Each failed case is
// written to a replay file in outDir.
class ProbeRunner : public QObject {
    Q_OBJECT
public:
    // replay: run this case alone instead of the generated ones.
    explicit ProbeRunner(const ProbeSettings &settings, std::optional<ProbeCase> replay = {},
                         QObject *parent = nullptr);
    ~ProbeRunner() override;

    void start();
    void stop(const QString &why);
    bool isRunning() const { return m_running; }
    const QString &stoppedBecause() const { return m_stoppedBecause; }
    // The receiver did not come back within recoverS: the run ended there.
    bool receiverLost() const { return m_receiverLost; }
    // The receiver was not alive before the first case: nothing was probed.
    bool deadAtStart() const { return m_deadAtStart; }
    const QList<ProbeResult> &results() const { return m_results; }
    double elapsedSeconds() const;

signals:
    void caseDone(const ProbeResult &result);
    void finished();

private:
    void checkFirst();
    void nextCase();
    void sendCase();
    void connectionDone(PlanConnection *connection);
    void caseSent();
    void checkAlive(std::function<void(bool alive, const QString &detail)> then);
    void afterCheck(bool alive, const QString &detail);
    void waitForRecovery();
    void finish();
    bool overTime() const;
    QString writeReplay(const ProbeCase &probe);

    ProbeSettings m_settings;
    std::optional<ProbeCase> m_replay;
    bool m_running = false;
    bool m_receiverLost = false;
    bool m_deadAtStart = false;
    QString m_stoppedBecause;
    QElapsedTimer m_clock;
    qint64 m_number = 0;
    ProbeCase m_current;
    QList<QPointer<PlanConnection>> m_connections;
    int m_connectionsOpen = 0;
    QPointer<PlanRunner> m_check;
    qint64 m_failedAtMs = 0;
    ProbeResult m_pending;
    QList<ProbeResult> m_results;
};
