// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "packetledger.h"
#include "receiverprocess.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <memory>

class HostilePeers;
class frmIPNDZandrel;

// One turn of the soak: talvrecv started with its options, the window
// pressed as an operator would until the turn's counts are reached.
struct TurnPlan {
    QString name;
    QStringList options;        // talvrecv's
    int type4 = 0;              // packets on link 1 (canned, or the cycle's)
    int type5 = 0;              // documents on link 2
    bool cycle = false;         // the data-file cycle produces link 1's packets
    bool heartbeatSync = false; // a document only right after a heartbeat is answered
    bool loadXml = false;       // load samples/aml.xml before the turn
    bool hostile = false;       // hostile peers beside the window
    bool holdOnly = false;      // the hostile peers only hold connections
    int answerWaitMs = 2500;    // how long a handed-over document waits for its answer
    bool wellBehaved = false;   // every packet must be answered within 2000 ms
};

// The real window, offscreen, driven headless against talvrecv, turn by
// turn; every packet it produces is kept in the ledger.
class SoakRun : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString talvrecv;
        QString samples; // folder with ipnd3.x01 and aml.xml
    };

    explicit SoakRun(const Settings &settings);
    ~SoakRun() override;

    // Runs every turn; false when something went wrong beyond what the
    // turns provoke (the problems say what).
    bool run(const QList<TurnPlan> &plans);

    // The window's CPU time over seconds with both links enabled against a
    // talvrecv sending heartbeats, as a percentage of one core.
    double idleCpuPercent(int seconds);

    const PacketLedger &ledger() const { return m_ledger; }
    const QStringList &problems() const { return m_problems; }
    QStringList hostileReport() const { return m_hostileReport; }
    // The window's resident memory once 100 and 2000 packets had settled.
    qint64 rssAt100Kb() const { return m_rssAt100Kb; }
    qint64 rssAt2000Kb() const { return m_rssAt2000Kb; }
    qint64 heldRssKb() const { return m_heldRssKb; }
    qint64 idleRssKb() const { return m_idleRssKb; }

private:
    struct Watch {
        QString why; // how the exchange ended, as the link's socket told it
        bool heartbeatWhilePending = false;
        bool dataArrived = false;
        QElapsedTimer since; // produced
        QElapsedTimer handedOverAt;
    };

    void runTurn(const TurnPlan &plan);
    void prepare(const TurnPlan &plan);
    void step();
    bool turnDone() const;
    void pressType4();
    void pressType5();
    void checkLink1();
    void checkLink2();
    void onLogged(const QString &line);
    void produced(PacketLedger::Link link);
    void finishTurn(const ReceiverProcess::Summary &summary);
    void problem(const QString &text);

    Settings m_settings;
    std::unique_ptr<frmIPNDZandrel> m_window;
    ReceiverProcess m_receiver;
    PacketLedger m_ledger;
    Watch m_watch[2];
    const TurnPlan *m_plan = nullptr;
    std::unique_ptr<HostilePeers> m_hostile;
    quint16 m_type4Port = 0;
    quint16 m_type5Port = 0;
    bool m_heartbeatAnswerSending = false;
    bool m_heartbeatWindow = false;
    int m_heartbeatsAnsweredByWindow = 0;
    QStringList m_problems;
    QStringList m_hostileReport;
    qint64 m_rssAt100Kb = 0;
    qint64 m_rssAt2000Kb = 0;
    qint64 m_heldRssKb = 0;
    qint64 m_idleRssKb = 0;
};
