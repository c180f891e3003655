// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "linktally.h"
#include "resetprobe.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <deque>
#include <functional>
#include <vector>

class LoadRecords;
class OutgoingConnection;
class QTcpSocket;

struct TrafficSettings {
    QHostAddress address;
    quint16 port = 0;
    int maxInFlight = 1000;
    qint64 timeoutUs = 2'000'000;
    QByteArray expectedAnswer;
    std::function<qint64()> nowUs; // the run's monotonic clock
    // An exchange has ended on a link that was full: arrivals may go out again.
    std::function<void()> roomMade;
};

// One link's exchanges, each connection made by link/'s single-attempt
// connect and watched by its reset probe. launch() is called for each arrival at the moment it
// falls due (dueUs on the run's clock); sweep() fails the overdue ones.
class LoadTraffic : public QObject {
public:
    LoadTraffic(const TrafficSettings &settings, LoadRecords &records, LinkTally &tally)
        : m_settings(settings)
        , m_records(records)
        , m_tally(tally) {}

    virtual void launch(qint64 dueUs) = 0;
    virtual void sweep() = 0;
    // Closes everything at once, counting nothing more.
    virtual void abandon() = 0;

    // Fewer than --max-inflight out: an arrival due now would go out.
    bool hasRoom() const { return m_tally.inFlight < m_settings.maxInFlight; }
    // An arrival that fell due while the link was full: shortfall.
    void refuse();

    LinkTally &tally() { return m_tally; }

protected:
    // An answer that is complete, one still arriving, or neither.
    enum class AnswerState { Complete, Partial, Wrong };
    AnswerState judge(const QByteArray &received) const;
    // A single-attempt connect, kept for the next connection once this one has ended.
    OutgoingConnection *newConnect(std::function<void()> onFinished);
    // The connected descriptor as an unbuffered socket, which reads nothing by
    // itself, so a reset can be told from an orderly close before the first
    // read; false (the descriptor closed) when Qt will not take it.
    static bool adopt(QTcpSocket &socket, OutgoingConnection &connect);
    // What Qt's socket error means; a close the probe shows was a reset is one.
    static Outcome faultOf(const QTcpSocket &socket, const ResetProbe &probe);
    qint64 now() const { return m_settings.nowUs(); }
    // Tells the engine when exchanges that ended have made room on a full link.
    void noteEnded(qint64 inFlightBefore);

    TrafficSettings m_settings;
    LoadRecords &m_records;
    LinkTally &m_tally;
};

// Type 4: a connection per frame, closed once the answer is in, as link 1
// does it. The connect object carries the whole exchange, with no QTcpSocket,
// and is kept for the next exchange once its own has ended: a connection
// then costs no object, no signal connections and no system calls beyond
// its own.
class Type4Traffic : public LoadTraffic {
public:
    using LoadTraffic::LoadTraffic;
    ~Type4Traffic() override { abandon(); }

    void launch(qint64 dueUs) override;
    void sweep() override;
    void abandon() override;

private:
    struct Exchange {
        OutgoingConnection *connection = nullptr;
        bool live = false;
        bool connected = false;
        quint64 id = 0; // launch number
        qint64 dueUs = 0;
        qint64 connectStartUs = 0;
        QByteArray frame;
        qint64 frameSent = 0; // bytes the system has taken
        QByteArray answer;
    };

    size_t idleExchange();
    void onConnectFinished(size_t index);
    void sendFrame(size_t index);
    void onReadable(size_t index);
    // Ends the exchange: answered when fault is null.
    void finish(size_t index, const Outcome *fault);
    void fail(size_t index, Outcome fault) { finish(index, &fault); }

    std::vector<Exchange> m_exchanges;
    std::vector<size_t> m_idle;
    // Live exchanges in launch order, for the time-outs; ended ones are
    // skipped when they come to the front.
    std::deque<std::pair<quint64, size_t>> m_launchOrder;
    qint64 m_live = 0;
    quint64 m_nextId = 0;
};

// Type 5: documents over lasting connections (carriers), taken in turn,
// each answering the receiver's heartbeats, as link 2 does it. Answers on a
// carrier belong to its documents in the order they were sent.
class Type5Traffic : public LoadTraffic {
public:
    Type5Traffic(const TrafficSettings &settings, LoadRecords &records, LinkTally &tally,
                 int carriers);
    ~Type5Traffic() override { abandon(); }

    void launch(qint64 dueUs) override;
    void sweep() override;
    void abandon() override;
    int openCarriers() const;

private:
    struct Carrier {
        OutgoingConnection *connect = nullptr; // kept when the carrier closes
        QTcpSocket *socket = nullptr;
        ResetProbe probe;
        bool connecting = false;
        bool connected = false;
        QByteArray received;
        std::deque<qint64> waiting;     // due times of documents not yet sent
        std::deque<qint64> outstanding; // due times of documents sent
    };

    void open(size_t index);
    void send(Carrier &carrier, qint64 dueUs);
    void onConnectFinished(size_t index);
    void onReadyRead(size_t index);
    void onError(size_t index);
    void takeAnswers(Carrier &carrier);
    // Closes the carrier; every document on it fails with fault.
    void drop(size_t index, Outcome fault);
    void close(Carrier &carrier);

    std::vector<Carrier> m_carriers;
    size_t m_nextCarrier = 0;
};
