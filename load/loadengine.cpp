// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadengine.h"

#include "loadtraffic.h"

#include <algorithm>

namespace {

constexpr int kSweepIntervalMs = 10;

} // namespace

LoadEngine::LoadEngine(const LoadOptions &options, LoadRecords &records, const QHostAddress &type4,
                       const QHostAddress &type5, QObject *parent)
    : QObject(parent)
    , m_options(options) {
    const auto settings = [this, &options](const QHostAddress &address, quint16 port) {
        TrafficSettings s;
        s.address = address;
        s.port = port;
        s.maxInFlight = options.maxInFlight;
        s.timeoutUs = qint64(options.timeoutMs) * 1000;
        s.expectedAnswer = options.expectedAnswer;
        s.nowUs = [this] {
            return nowUs();
        };
        // The pacer this link's traffic will have.
        s.roomMade = [this, pacer = m_pacers.size()] {
            roomMade(m_pacers[pacer]);
        };
        return s;
    };
    // The same plan on each link; the second link's Poisson gaps differ.
    RatePlan plan = options.rate;
    if (options.type4) {
        m_tallies.push_back(std::make_unique<LinkTally>());
        m_tallies.back()->name = QStringLiteral("type4");
        m_traffic.push_back(std::make_unique<Type4Traffic>(settings(type4, options.type4->port),
                                                           records, *m_tallies.back()));
        m_pacers.push_back({ArrivalSchedule(plan), m_traffic.back().get()});
        ++plan.seed;
    }
    if (options.type5) {
        m_tallies.push_back(std::make_unique<LinkTally>());
        m_tallies.back()->name = QStringLiteral("type5");
        m_traffic.push_back(std::make_unique<Type5Traffic>(
            settings(type5, options.type5->port), records, *m_tallies.back(), options.carriers));
        m_pacers.push_back({ArrivalSchedule(plan), m_traffic.back().get()});
    }
    connect(&m_arrivalTimer, &PreciseTimer::timeout, this, &LoadEngine::launchDue);
    m_nextTurnTimer.setSingleShot(true);
    connect(&m_nextTurnTimer, &QTimer::timeout, this, &LoadEngine::launchDue);
    m_sweepTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sweepTimer, &QTimer::timeout, this, &LoadEngine::sweep);
}

LoadEngine::~LoadEngine() = default;

std::vector<LinkTally *> LoadEngine::tallies() {
    std::vector<LinkTally *> list;
    for (const auto &tally : m_tallies)
        list.push_back(tally.get());
    return list;
}

double LoadEngine::targetLastSecond() const {
    if (m_pacers.empty() || m_secondsEnded == 0)
        return 0.0;
    // Arrivals are due until --duration, and --count of them at most.
    const auto dueBy = [this](double seconds) {
        if (m_options.durationSeconds > 0.0)
            seconds = std::min(seconds, m_options.durationSeconds);
        const double arrivals = m_pacers.front().schedule.arrivalsBy(seconds);
        return m_options.count > 0 ? std::min(arrivals, double(m_options.count)) : arrivals;
    };
    return dueBy(double(m_secondsEnded)) - dueBy(double(m_secondsEnded - 1));
}

void LoadEngine::start() {
    m_running = true;
    m_nextSecondUs = 1'000'000;
    m_secondsEnded = 0;
    m_clock.start();
    for (Pacer &pacer : m_pacers)
        advance(pacer);
    m_sweepTimer.start(kSweepIntervalMs);
    launchDue();
}

void LoadEngine::stop() {
    if (!m_running)
        return;
    m_running = false;
    stopTimers();
    for (const auto &traffic : m_traffic)
        traffic->abandon();
    emit finished();
}

void LoadEngine::stopTimers() {
    m_arrivalTimer.stop();
    m_nextTurnTimer.stop();
    m_sweepTimer.stop();
}

// Takes the pacer's next arrival, or marks it done when the run has no more.
void LoadEngine::advance(Pacer &pacer) {
    const qint64 durationUs = qint64(m_options.durationSeconds * 1e6);
    pacer.nextUs = pacer.schedule.nextUs();
    pacer.done = pacer.nextUs == ArrivalSchedule::kNever ||
                 (durationUs > 0 && pacer.nextUs >= durationUs) ||
                 (m_options.count > 0 && pacer.launched >= m_options.count);
}

void LoadEngine::launchDue() {
    if (!m_running)
        return;
    const qint64 now = nowUs();
    // Arrivals due before a second's end belong to that second's figures.
    while (m_nextSecondUs <= now) {
        takeArrivalsBefore(m_nextSecondUs);
        m_nextSecondUs += 1'000'000;
        ++m_secondsEnded;
        emit secondEnded();
        if (!m_running)
            return;
    }
    takeArrivalsBefore(now + 1);
    // Room is made only by an exchange that ends, which roomMade() hears of.
    for (Pacer &pacer : m_pacers) {
        pacer.waitingForRoom = !pacer.traffic->hasRoom();
        pacer.roomSinceUs = kNoRoomYet;
    }
    wakeForNextArrival();
    finishIfOver();
}

void LoadEngine::takeArrivalsBefore(qint64 endUs) {
    for (Pacer &pacer : m_pacers) {
        while (!pacer.done && pacer.nextUs < endUs) {
            ++pacer.launched;
            const bool cameWhileFull = pacer.waitingForRoom && (pacer.roomSinceUs == kNoRoomYet ||
                                                                pacer.nextUs < pacer.roomSinceUs);
            if (cameWhileFull)
                pacer.traffic->refuse();
            else
                pacer.traffic->launch(pacer.nextUs);
            advance(pacer);
        }
    }
}

void LoadEngine::roomMade(Pacer &pacer) {
    if (!pacer.waitingForRoom || pacer.roomSinceUs != kNoRoomYet)
        return;
    pacer.roomSinceUs = nowUs();
    wakeAtNextTurn();
}

void LoadEngine::wakeAtNextTurn() {
    if (!m_nextTurnTimer.isActive())
        m_nextTurnTimer.start(0);
}

// A link that is full needs no wake for its arrivals: they can only be
// shortfall, which is counted once room is made or the second ends.
void LoadEngine::wakeForNextArrival() {
    qint64 next = m_nextSecondUs;
    for (const Pacer &pacer : m_pacers)
        if (!pacer.done && !pacer.waitingForRoom)
            next = std::min(next, pacer.nextUs);
    const qint64 waitUs = next - nowUs();
    if (waitUs <= 0) {
        wakeAtNextTurn();
        return;
    }
    // Re-arming costs a system call, even for the same moment.
    if (m_arrivalTimer.isActive() && m_arrivalTimerDueUs == next)
        return;
    m_arrivalTimerDueUs = next;
    m_arrivalTimer.start(waitUs * 1000);
}

void LoadEngine::sweep() {
    for (const auto &traffic : m_traffic)
        traffic->sweep();
    finishIfOver();
}

void LoadEngine::finishIfOver() {
    if (!m_running)
        return;
    const bool arrivalsOver =
        std::all_of(m_pacers.begin(), m_pacers.end(), [](const Pacer &p) { return p.done; });
    const bool nothingInFlight = std::all_of(m_tallies.begin(), m_tallies.end(),
                                             [](const auto &t) { return t->inFlight == 0; });
    if (arrivalsOver && nothingInFlight) {
        m_running = false;
        stopTimers();
        for (const auto &traffic : m_traffic)
            traffic->abandon(); // idle carriers
        emit finished();
    }
}
