// SPDX-License-Identifier: GPL-3.0-or-later
#include "soakrun.h"

#include "hostilepeers.h"

#include "frmipndzandrel.h"
#include "socketcontrol.h"
#include "type4link.h"
#include "type5link.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

namespace {

using Link = PacketLedger::Link;

constexpr int kStepMs = 5;
constexpr int kLostAfterMs = 40'000; // longer than the link's own connect time-out
constexpr int kHeldConnections = 2000;
// talvrecv may hold this much more than before the hostile peers came: four
// garbage connections at its 4 MB document limit, the socket buffers of
// 2000 connections, and the allocator's slack.
constexpr qint64 kHostileGrowthBoundKb = 64 * 1024;

// Answers each file dialog with the sample it asks for.
class SampleDialog : public FileDialog {
public:
    explicit SampleDialog(QString samples)
        : m_samples(std::move(samples)) {}

    QString showOpen(QWidget *, const QString &title, const QString &initialName,
                     const QString &) override {
        if (title == QLatin1String("IPND Data File"))
            return m_samples + QStringLiteral("/ipnd3.x01");
        if (title == QLatin1String("XML Data File"))
            return m_samples + QStringLiteral("/aml.xml");
        return initialName;
    }

private:
    QString m_samples;
};

void say(const QString &line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

SoakRun::SoakRun(const Settings &settings)
    : m_settings(settings)
    , m_receiver(settings.talvrecv) {
    WindowPlatform platform;
    platform.fileDialog = std::make_shared<SampleDialog>(settings.samples);
    platform.messageBox = [](const QString &text, const QString &caption) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    };
    m_window = std::make_unique<frmIPNDZandrel>(platform);
    frmIPNDZandrel &w = *m_window;
    w.Form_Load(QString());
    m_type4Port = freePort();
    m_type5Port = freePort();
    for (int row = 0; row < 2; ++row) {
        w.txbAddress[row]->setText(QStringLiteral("127.0.0.1"));
        w.txbPort[row]->setText(QString::number(row == 0 ? m_type4Port : m_type5Port));
        w.chkEnable[row]->setChecked(true);
    }
    connect(&w.log(), &Log::messageLogged, this, &SoakRun::onLogged);

    Type4Link &link1 = w.frmTCP1();
    Type5Link &link2 = w.frmTCP2();
    const auto watchLink = [this](TcpLink &link, SocketControl &socket, Link which) {
        connect(&link, &TcpLink::packetHandedOver, this, [this, which] {
            m_ledger.handedOver(which);
            m_watch[which].handedOverAt.start();
        });
        connect(&link, &TcpLink::responseMeasured, this,
                [this, which](qint64 usec) { m_ledger.answered(which, usec); });
        connect(&socket, &SocketControl::errorEvent, this,
                [this, which](qint16, const QString &description) {
                    m_watch[which].why = QStringLiteral("socket error: ") + description;
                });
        connect(&socket, &SocketControl::closeEvent, this, [this, which] {
            if (m_watch[which].why.isEmpty())
                m_watch[which].why = QStringLiteral("talvrecv closed the connection");
        });
        connect(&socket, &SocketControl::dataArrivalEvent, this,
                [this, which] { m_watch[which].dataArrived = true; });
    };
    watchLink(link1, link1.wskMessage(), PacketLedger::Type4);
    watchLink(link2, link2.wskMessage2(), PacketLedger::Type5);
    // The heartbeat answer has gone out: the next document can follow it.
    connect(&link2.wskMessage2(), &SocketControl::sendCompleteEvent, this, [this] {
        if (std::exchange(m_heartbeatAnswerSending, false))
            m_heartbeatWindow = true;
    });
    m_ledger.onSettled = [this] {
        if (m_ledger.settled() == 100)
            m_rssAt100Kb = ownResidentKb();
        else if (m_ledger.settled() == 2000)
            m_rssAt2000Kb = ownResidentKb();
    };
}

SoakRun::~SoakRun() {
    if (m_hostile)
        m_hostile->wait();
    disconnect(&m_window->log(), nullptr, this, nullptr);
}

bool SoakRun::run(const QList<TurnPlan> &plans) {
    for (const TurnPlan &plan : plans)
        runTurn(plan);
    if (m_ledger.lostTotal() > 0)
        problem(QStringLiteral("%1 packets lost").arg(m_ledger.lostTotal()));
    return m_problems.isEmpty();
}

namespace {

qint64 ownCpuUs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval &t) {
        return qint64(t.tv_sec) * 1'000'000 + t.tv_usec;
    };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

double SoakRun::idleCpuPercent(int seconds) {
    if (!m_receiver.start(m_type4Port, m_type5Port,
                          {QStringLiteral("--heartbeat"), QStringLiteral("5")})) {
        problem(QStringLiteral("talvrecv did not start"));
        return -1;
    }
    // Link 2 connects on its first document and stays, so heartbeats reach it.
    m_window->optRecType[1]->click();
    m_window->cmdSend5->click();
    spin(3000);
    QElapsedTimer wall;
    wall.start();
    const qint64 cpuBefore = ownCpuUs();
    spin(seconds * 1000);
    const double percent =
        100.0 * double(ownCpuUs() - cpuBefore) / double(wall.nsecsElapsed() / 1000);
    const ReceiverProcess::Summary summary = m_receiver.stop();
    if (summary.heartbeatsNotAnswered > 0 || summary.heartbeatsAnswered == 0)
        problem(QStringLiteral("idle: heartbeats %1 answered, %2 not answered")
                    .arg(summary.heartbeatsAnswered)
                    .arg(summary.heartbeatsNotAnswered));
    return percent;
}

void SoakRun::problem(const QString &text) {
    m_problems << QStringLiteral("%1: %2").arg(m_plan ? m_plan->name : QString(), text);
}

// ---------------------------------------------------------------- one turn

void SoakRun::runTurn(const TurnPlan &plan) {
    m_plan = &plan;
    QElapsedTimer took;
    took.start();
    m_ledger.beginTurn(plan.name, plan.options.join(QLatin1Char(' ')));
    if (!m_receiver.start(m_type4Port, m_type5Port, plan.options)) {
        problem(QStringLiteral("talvrecv did not start"));
        return;
    }
    prepare(plan);
    QEventLoop loop;
    QTimer stepper;
    connect(&stepper, &QTimer::timeout, &loop, [this, &loop] {
        step();
        if (turnDone())
            loop.quit();
    });
    stepper.start(kStepMs);
    loop.exec();
    stepper.stop();
    if (m_hostile) {
        m_hostile->wait();
        m_hostileReport = m_hostile->report();
        const HostilePeers::Findings &found = m_hostile->findings();
        m_heldRssKb = found.rssHeldKb;
        m_idleRssKb = found.rssBeforeKb;
        for (const QString &text : found.problems)
            problem(text);
        const qint64 growth = found.peakRssKb - found.rssBeforeKb;
        if (!plan.holdOnly && growth > kHostileGrowthBoundKb)
            problem(QStringLiteral("talvrecv grew by %1 KiB under hostile peers").arg(growth));
        m_hostile.reset();
    }
    const ReceiverProcess::Summary summary = m_receiver.stop();
    // Link 2 learns that its connection is gone before the next turn starts.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    finishTurn(summary);
    const PacketLedger::Turn &turn = m_ledger.turn();
    say(QStringLiteral("turn %1 (%2): Type 4 %3 sent, Type 5 %4 sent; heartbeats %5 sent, %6 "
                       "answered, %7 not answered; %8 s")
            .arg(plan.name, turn.receiverOptions.isEmpty() ? QStringLiteral("as it comes")
                                                           : turn.receiverOptions)
            .arg(turn.links[0].produced)
            .arg(turn.links[1].produced)
            .arg(summary.heartbeatsSent)
            .arg(summary.heartbeatsAnswered)
            .arg(summary.heartbeatsNotAnswered)
            .arg(double(took.elapsed()) / 1000, 0, 'f', 1));
    m_plan = nullptr;
}

void SoakRun::prepare(const TurnPlan &plan) {
    frmIPNDZandrel &w = *m_window;
    m_heartbeatWindow = false;
    m_heartbeatAnswerSending = false;
    if (plan.loadXml) {
        w.optRecType[1]->click();
        w.txbFileName_Click(); // the sample; yields to events while it loads
    }
    if (plan.cycle) {
        w.lbIPNDfile_Click();
        w.PktPer->setText(QStringLiteral("2")); // the Type 5 row's copy on the tick between
        w.PktPer_LostFocus();
        w.RunControl->click();
    }
    if (plan.hostile) {
        HostilePeers::Plan hostile;
        hostile.type4Port = m_type4Port;
        hostile.type5Port = m_type5Port;
        hostile.receiverPid = m_receiver.pid();
        hostile.heldConnections = kHeldConnections;
        hostile.onlyHold = plan.holdOnly;
        m_hostile = std::make_unique<HostilePeers>(hostile);
        m_hostile->start();
    }
}

void SoakRun::step() {
    checkLink1();
    checkLink2();
    const PacketLedger::Turn &turn = m_ledger.turn();
    const bool hostileRunning = m_hostile && !m_hostile->isFinished();
    frmIPNDZandrel &w = *m_window;
    if (m_plan->cycle) {
        if (w.gRunning && turn.links[0].produced >= m_plan->type4)
            w.RunControl->click(); // Stop
    } else if (!m_ledger.isOpen(PacketLedger::Type4) &&
               (turn.links[0].produced < m_plan->type4 || hostileRunning)) {
        pressType4();
    }
    if (!m_ledger.isOpen(PacketLedger::Type5) &&
        (turn.links[1].produced < m_plan->type5 || hostileRunning))
        pressType5();
}

bool SoakRun::turnDone() const {
    const PacketLedger::Turn &turn = m_ledger.turn();
    return turn.links[0].produced >= m_plan->type4 && turn.links[1].produced >= m_plan->type5 &&
           !m_ledger.isOpen(PacketLedger::Type4) && !m_ledger.isOpen(PacketLedger::Type5) &&
           !m_window->gRunning && !(m_hostile && !m_hostile->isFinished());
}

void SoakRun::finishTurn(const ReceiverProcess::Summary &summary) {
    if (!summary.read) {
        problem(QStringLiteral("talvrecv printed no summary"));
        return;
    }
    if (summary.heartbeatsNotAnswered > 0)
        problem(QStringLiteral("%1 heartbeats not answered").arg(summary.heartbeatsNotAnswered));
    if (m_plan->heartbeatSync &&
        (summary.heartbeatsSent < 5 || summary.heartbeatsAnswered < summary.heartbeatsSent - 1))
        problem(QStringLiteral("heartbeats: %1 sent, %2 answered")
                    .arg(summary.heartbeatsSent)
                    .arg(summary.heartbeatsAnswered));
    // The hostile peers' garbage is invalid by design; elsewhere nothing may be.
    if (!m_plan->hostile && (summary.framesInvalid > 0 || summary.documentsInvalid > 0))
        problem(QStringLiteral("talvrecv found %1 frames and %2 documents invalid")
                    .arg(summary.framesInvalid)
                    .arg(summary.documentsInvalid));
    if (!m_plan->wellBehaved)
        return;
    const PacketLedger::Turn &turn = m_ledger.turn();
    for (int link = 0; link < 2; ++link) {
        const PacketLedger::LinkCounts &c = turn.links[link];
        if (c.answered != c.produced)
            problem(QStringLiteral("Type %1: %2 of %3 answered within 2000 ms")
                        .arg(link == 0 ? 4 : 5)
                        .arg(c.answered)
                        .arg(c.produced));
    }
}

// ---------------------------------------------------------------- pressing

void SoakRun::pressType4() {
    frmIPNDZandrel &w = *m_window;
    Type4Link &link = w.frmTCP1();
    if (!link.gPendingType4Packet.isEmpty() ||
        link.wskMessage().socketState() != SocketState::Closed)
        return; // a press would cut the exchange before
    // Every button, with and without each MOLI shape.
    const int k = m_ledger.turn().links[0].produced;
    QPushButton *const buttons[] = {w.cmdStandard, w.cmdNoAdd, w.cmdLongAdd, w.cmdMinAdd,
                                    w.cmdMaxAdd};
    const bool moli = (k / 5) % 2 == 1;
    w.optRecType[0]->click();
    if (w.chkMOLI->isChecked() != moli)
        w.chkMOLI->click();
    if (moli)
        w.optMOLI[size_t((k / 10) % 6)]->click();
    buttons[k % 5]->click();
}

void SoakRun::pressType5() {
    frmIPNDZandrel &w = *m_window;
    Type5Link &link = w.frmTCP2();
    const bool connected = link.wskMessage2().socketState() == SocketState::Connected;
    if (m_plan->heartbeatSync && connected && !m_heartbeatWindow)
        return;
    m_heartbeatWindow = false;
    if (!link.gPendingType5Packet.isEmpty())
        return;
    w.optRecType[1]->click();
    w.cmdSend5->click();
    if (!link.gPendingType5Packet.isEmpty())
        produced(PacketLedger::Type5);
}

void SoakRun::produced(Link link) {
    m_ledger.produced(link);
    Watch &watch = m_watch[link];
    watch = Watch();
    watch.since.start();
}

void SoakRun::onLogged(const QString &line) {
    if (!m_plan)
        return;
    if ((line.startsWith(QLatin1String("--> ")) &&
         !m_window->frmTCP1().gPendingType4Packet.isEmpty()) ||
        line.startsWith(QLatin1String("RSFP: Data Sent: "))) {
        produced(PacketLedger::Type4);
    } else if (line == QLatin1String("Close Socket")) {
        if (m_watch[0].why.isEmpty())
            m_watch[0].why = QStringLiteral("link 1 closed the connection at its next poll");
    } else if (line == QLatin1String("Rxed Heartbeat. Send back ACK")) {
        ++m_heartbeatsAnsweredByWindow;
        m_heartbeatAnswerSending = true;
        if (m_ledger.isOpen(PacketLedger::Type5) && !m_ledger.isHandedOver(PacketLedger::Type5) &&
            !m_window->frmTCP2().gPendingType5Packet.isEmpty())
            m_watch[1].heartbeatWhilePending = true;
    }
}

// ---------------------------------------------------------------- outcomes

void SoakRun::checkLink1() {
    if (!m_ledger.isOpen(PacketLedger::Type4))
        return;
    Type4Link &link = m_window->frmTCP1();
    Watch &watch = m_watch[0];
    const bool settled = link.gPendingType4Packet.isEmpty() &&
                         link.wskMessage().socketState() == SocketState::Closed;
    if (!settled) {
        if (watch.since.elapsed() > kLostAfterMs)
            m_ledger.lost(PacketLedger::Type4, QStringLiteral("no outcome within 40 s"));
        return;
    }
    if (watch.dataArrived)
        m_ledger.lost(PacketLedger::Type4, QStringLiteral("an answer came but was not timed"));
    else if (m_ledger.isHandedOver(PacketLedger::Type4))
        m_ledger.unanswered(PacketLedger::Type4,
                            watch.why.isEmpty() ? QStringLiteral("no answer") : watch.why);
    else if (!watch.why.isEmpty())
        m_ledger.unanswered(PacketLedger::Type4, QStringLiteral("not handed over, ") + watch.why);
    else
        m_ledger.lost(PacketLedger::Type4,
                      QStringLiteral("left the slot without being handed over"));
}

void SoakRun::checkLink2() {
    if (!m_ledger.isOpen(PacketLedger::Type5))
        return;
    Type5Link &link = m_window->frmTCP2();
    Watch &watch = m_watch[1];
    if (m_ledger.isHandedOver(PacketLedger::Type5)) {
        if (!watch.why.isEmpty())
            m_ledger.unanswered(PacketLedger::Type5, watch.why);
        else if (watch.handedOverAt.elapsed() > m_plan->answerWaitMs)
            m_ledger.unanswered(PacketLedger::Type5,
                                QStringLiteral("no answer within %1 ms").arg(m_plan->answerWaitMs));
        return;
    }
    if (link.gPendingType5Packet.isEmpty()) {
        // Emptied by the send poll, the hand-over follows; or emptied without a send.
        if (!watch.why.isEmpty())
            m_ledger.unanswered(PacketLedger::Type5,
                                QStringLiteral("not handed over, ") + watch.why);
        else if (watch.heartbeatWhilePending)
            m_ledger.unanswered(PacketLedger::Type5,
                                QStringLiteral("not handed over, a heartbeat answer's send "
                                               "emptied the slot"));
    }
    if (m_ledger.isOpen(PacketLedger::Type5) && watch.since.elapsed() > kLostAfterMs)
        m_ledger.lost(PacketLedger::Type5, QStringLiteral("no outcome within 40 s"));
}
