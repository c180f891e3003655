// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "arrivalschedule.h"
#include "linktally.h"
#include "loadoptions.h"
#include "precisetimer.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class LoadRecords;
class LoadTraffic;

// Runs the arrivals of every link on one clock: each arrival is launched
// when it falls due, whatever the receiver is doing, and every exchange is
// timed from that moment. finished() comes once the arrivals are over and
// the last exchange has ended (answered or failed), or after stop().
class LoadEngine : public QObject {
    Q_OBJECT

public:
    // Addresses already resolved; a link without an endpoint in options is left out.
    LoadEngine(const LoadOptions &options, LoadRecords &records, const QHostAddress &type4,
               const QHostAddress &type5, QObject *parent = nullptr);
    ~LoadEngine() override;

    void start();
    // Ends the run now: no more arrivals; exchanges in flight are dropped
    // without being counted.
    void stop();

    bool isRunning() const { return m_running; }
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }
    double elapsedSeconds() const { return double(nowUs()) / 1e6; }
    // The whole seconds of the run that have ended, the last one with secondEnded().
    int secondsEnded() const { return m_secondsEnded; }
    // The arrivals each link had due in the second that has just ended: the
    // mean target rate over the same second as that second's counts.
    double targetLastSecond() const;
    // Each link's tally, Type 4 first.
    std::vector<LinkTally *> tallies();

signals:
    // Each whole second of the run, before the arrivals due at its end go out.
    void secondEnded();
    void finished();

private:
    static constexpr qint64 kNoRoomYet = -1;

    struct Pacer {
        ArrivalSchedule schedule;
        LoadTraffic *traffic = nullptr;
        qint64 nextUs = 0;
        qint64 launched = 0;
        bool done = false;
        // The link was full when last looked at: its arrivals wake nobody and
        // are shortfall, until it makes room (at roomSinceUs).
        bool waitingForRoom = false;
        qint64 roomSinceUs = kNoRoomYet;
    };

    void launchDue();
    // Each pacer's arrivals due before endUs: launched, or shortfall when
    // they fell due while its link was full.
    void takeArrivalsBefore(qint64 endUs);
    void roomMade(Pacer &pacer);
    void wakeForNextArrival();
    void wakeAtNextTurn();
    void sweep();
    void advance(Pacer &pacer);
    void finishIfOver();
    void stopTimers();

    LoadOptions m_options;
    std::vector<std::unique_ptr<LinkTally>> m_tallies;
    std::vector<std::unique_ptr<LoadTraffic>> m_traffic;
    std::vector<Pacer> m_pacers;
    QElapsedTimer m_clock;
    PreciseTimer m_arrivalTimer; // wakes the loop for the next arrival or second
    qint64 m_arrivalTimerDueUs = 0;
    // Wakes launchDue at the loop's next turn: for an arrival due already, or
    // for room made on a full link. Costs no system call, where arming the
    // precise timer that close ahead is dear.
    QTimer m_nextTurnTimer;
    qint64 m_nextSecondUs = 0;
    int m_secondsEnded = 0;
    QTimer m_sweepTimer;
    bool m_running = false;
};
