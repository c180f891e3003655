// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

// Peers that misuse talvrecv, on a thread of their own so that they burden
// talvrecv and not the window beside it. Each step is bounded in count and
// time: connections held open, a peer that sends one byte a second, a peer
// that never reads its replies, and a flood of garbage.
class HostilePeers : public QThread {
public:
    struct Plan {
        quint16 type4Port = 0;
        quint16 type5Port = 0;
        qint64 receiverPid = 0;
        int heldConnections = 2000;
        int holdSeconds = 15;
        int slowSeconds = 10;
        int nonReaderSeconds = 10;
        qint64 garbageBytes = 100LL * 1024 * 1024;
        int garbageSeconds = 90;
        bool onlyHold = false; // the benchmark wants the held connections only
    };

    struct Findings {
        int connected = 0;      // of heldConnections
        int stillOpen = 0;      // at the end of the hold
        qint64 rssBeforeKb = 0; // talvrecv before the first step
        qint64 rssHeldKb = 0;   // while holding the connections
        bool slowPeersKept = false;
        qint64 nonReaderSentBytes = 0;
        qint64 nonReaderRssKb = 0; // at the end of its step
        qint64 garbageSentBytes = 0;
        int garbageConnections = 0;
        qint64 rssAfterKb = 0; // after the last step
        qint64 peakRssKb = 0;  // talvrecv's peak over the whole run
        QStringList problems;
    };

    explicit HostilePeers(const Plan &plan)
        : m_plan(plan) {}

    // Valid once the thread has finished.
    const Findings &findings() const { return m_findings; }
    QStringList report() const;

protected:
    void run() override;

private:
    void hold();
    void slowPeers();
    void nonReader();
    void garbage();
    qint64 receiverKb(const char *field) const;

    Plan m_plan;
    Findings m_findings;
};
