// SPDX-License-Identifier: GPL-3.0-or-later
#include "headlessrun.h"

#include "frmipndzandrel.h"
#include "ipnddatafile.h"
#include "socketcontrol.h"
#include "textlinereader.h"
#include "type4link.h"
#include "type5link.h"

#include "csvwriter.h"
#include "optionreader.h"
#include "signalwatcher.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFileDevice>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace {

// A report's case name holds the file's own name; a backslash separates folders,
// as it does for the window.
QString caseFileName(const QString &operatorPath) {
    return QFileInfo(TextLineReader::toFileSystemPath(operatorPath)).fileName();
}

// Answers each file dialog with the file named on the command line, as an
// operator picking it would; a dialog nobody named a file for is cancelled
// (the initial name comes back, as the platform's dialog does on Cancel).
class PresetFileDialog : public FileDialog {
public:
    PresetFileDialog(QString dataFile, QString xmlFile)
        : m_dataFile(std::move(dataFile))
        , m_xmlFile(std::move(xmlFile)) {}

    QString showOpen(QWidget *, const QString &title, const QString &initialName,
                     const QString &) override {
        if (title == QLatin1String("IPND Data File") && !m_dataFile.isEmpty())
            return m_dataFile;
        if (title == QLatin1String("XML Data File") && !m_xmlFile.isEmpty())
            return m_xmlFile;
        return initialName;
    }

private:
    QString m_dataFile;
    QString m_xmlFile;
};

// A log line as the CSV shows packet bytes: control bytes, ESC and bytes past
// 0x7e as <XX>, so that nothing a packet holds reaches the terminal raw.
QString printableLine(const QString &line) {
    return printableBytes(line.toLatin1(), line.size());
}

QString endpointText(const Endpoint &endpoint) {
    const QString host = endpoint.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + endpoint.host + QLatin1Char(']')
                             : endpoint.host;
    return host + QLatin1Char(':') + QString::number(endpoint.port);
}

void writeLine(QIODevice &device, const QString &line) {
    device.write(line.toLatin1());
    device.write("\n", 1);
    if (auto *file = qobject_cast<QFileDevice *>(&device))
        file->flush();
}

} // namespace

HeadlessRun::HeadlessRun(const RunOptions &options, QIODevice &out, QIODevice &err, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(out)
    , m_err(err) {
    WindowPlatform platform;
    platform.fileDialog = std::make_shared<PresetFileDialog>(options.dataFile, options.xmlFile);
    // Nobody is there to press OK: the start-up notice is printed instead.
    platform.messageBox = [this](const QString &text, const QString &caption) {
        writeLine(m_err, caption + QStringLiteral(": ") + text);
    };
    m_window = std::make_unique<frmIPNDZandrel>(platform);
    connect(&m_window->log(), &Log::messageLogged, this, &HeadlessRun::onLogged);
    connect(m_window.get(), &frmIPNDZandrel::type4PacketStored, this,
            &HeadlessRun::onType4PacketStored);
    // The XML file's "ERROR on File search" is no stop: the window then sends what it loaded
    // (the first 501 lines, or the canned document for a file with no lines).
    m_window->ipndDataFile().setUnreadableHandler([this] {
        ++m_tally.dataFileFailures;
        emit progressed();
    });
    m_window->Form_Load(QString());
    m_tally.delayLimitUs = options.delayLimitUs();
    m_tally.row1Used = options.row1.has_value();
    if (options.dataFileForm == DataFileForm::MultiPkt)
        m_window->setDataFileForm(QStringLiteral("MULTIPKT"));
}

HeadlessRun::~HeadlessRun() {
    disconnect(m_window.get(), nullptr, this, nullptr);
    disconnect(&m_window->log(), nullptr, this, nullptr);
    m_window->ipndDataFile().setUnreadableHandler(nullptr);
    m_window.reset();
}

bool HeadlessRun::openReports(QString *error) {
    return m_report.open(m_options.junitFile, m_options.csvFile, error);
}

int HeadlessRun::exec() {
    if (m_ran)
        return m_tally.exitStatus();
    m_ran = true;
    setControls();
    sendCanned();
    sendType5();
    runCycle();
    if (!aborted())
        waitUntil([this] { return settled() || aborted(); }, link1WaitMs());
    printSummary();
    return m_tally.exitStatus();
}

void HeadlessRun::stopBySignal(int number) {
    if (m_tally.stoppedBySignal == 0)
        m_tally.stoppedBySignal = number;
    stopCycle();
    emit progressed();
}

qint64 HeadlessRun::link1WaitMs() const {
    if (m_options.type4HoldMs == 0)
        return m_options.waitMs();
    return std::max<qint64>(m_options.waitMs(),
                            m_options.type4HoldMs + 2 * TcpLink::kPollIntervalMs);
}

// ---------------------------------------------------------------- controls

void HeadlessRun::setControls() {
    frmIPNDZandrel &w = *m_window;
    const std::optional<Endpoint> rows[] = {m_options.type4,
                                            m_options.row1 ? m_options.row1 : m_options.type5};
    for (int row = 0; row < 2; ++row) {
        if (!rows[row])
            continue;
        w.txbAddress[row]->setText(rows[row]->host);
        w.txbPort[row]->setText(QString::number(rows[row]->port));
        w.chkEnable[row]->setChecked(true);
    }
    if (m_options.termId)
        w.txbTermID->setText(*m_options.termId);
    if (m_options.moli) {
        if (!w.chkMOLI->isChecked())
            w.chkMOLI->click();
        w.optMOLI[static_cast<size_t>(*m_options.moli)]->click();
    }
    if (m_options.periodSeconds) {
        w.PktPer->setText(QString::number(*m_options.periodSeconds));
        w.PktPer_LostFocus(); // as the focus leaving the box would
    }
    if (m_options.unlimited && !w.chkUnlimited->isChecked())
        w.chkUnlimited->click();
}

QAbstractButton *HeadlessRun::cannedButton(CannedSend send) const {
    switch (send) {
    case CannedSend::Standard:
        return m_window->cmdStandard;
    case CannedSend::NoAdd:
        return m_window->cmdNoAdd;
    case CannedSend::Long:
        return m_window->cmdLongAdd;
    case CannedSend::Min:
        return m_window->cmdMinAdd;
    case CannedSend::Max:
        return m_window->cmdMaxAdd;
    }
    return m_window->cmdStandard;
}

// ---------------------------------------------------------------- steps

// Each canned button closes link 1 first, so the next press waits until the
// exchange before it is over: answered, given up by the link, or --wait.
void HeadlessRun::sendCanned() {
    for (const CannedSend send : m_options.sends) {
        if (aborted())
            return;
        link1(); // attached before the press, so its signals are heard
        m_nextCanned = sendWord(send);
        if (m_options.moli)
            m_nextCanned += QLatin1Char('+') + moliWord(*m_options.moli);
        cannedButton(send)->click();
        waitUntil([this] { return link1Settled() || aborted(); }, link1WaitMs());
        finishLink1IfClosedUnanswered(); // its queued call may not have come yet
    }
}

void HeadlessRun::sendType5() {
    if (!m_options.send5 && m_options.xmlFile.isEmpty())
        return;
    m_window->optRecType[1]->click(); // "AML (Type5)"
    if (m_options.send5 && !aborted())
        pressSend5(QStringLiteral("canned"));
    if (m_options.xmlFile.isEmpty() || aborted())
        return;
    m_window->txbFileName_Click();
    if (!aborted())
        pressSend5(caseFileName(m_options.xmlFile));
}

void HeadlessRun::pressSend5(const QString &sent) {
    Type5Link &link = link2();
    const int answeredBefore = m_tally.type5.answered;
    m_window->cmdSend5->click();
    if (!link.gPendingType5Packet.isEmpty()) {
        ++m_tally.type5.stored;
        beginExchange(1, sent);
    }
    // Link 2 keeps its connection: done when answered, or dropped on a refusal.
    waitUntil(
        [this, &link, answeredBefore] {
            return m_tally.type5.answered > answeredBefore || aborted() ||
                   (link.gPendingType5Packet.isEmpty() &&
                    link.wskMessage2().socketState() == SocketState::Closed);
        },
        m_options.waitMs());
}

void HeadlessRun::runCycle() {
    if (!m_options.runsCycle() || aborted())
        return;
    frmIPNDZandrel &w = *m_window;
    w.lbIPNDfile_Click();
    if (aborted())
        return;
    link1(); // the cycle hands every packet to link 1
    connect(&w, &frmIPNDZandrel::periodBoundary, this, &HeadlessRun::onPeriodBoundary);
    // After the window's own handler, so each call sees what its tick did.
    connect(w.Timer1, &QTimer::timeout, this, &HeadlessRun::onCycleTick);
    w.RunControl->click();
    // The first boundary comes one period and a tick after Start at the latest.
    const qint64 limitMs =
        (static_cast<qint64>(m_options.periods) + 1) * w.gPktPeriod * 1000 + kCycleMarginMs;
    waitUntil([this] { return !m_window->gRunning || aborted(); }, limitMs);
    if (w.gRunning) {
        if (!aborted())
            writeLine(m_err, QStringLiteral("talvgen-cli: the cycle did not reach %1 period "
                                            "boundaries in time; pressing Stop")
                                 .arg(m_options.periods));
        stopCycle();
    }
    disconnect(&w, &frmIPNDZandrel::periodBoundary, this, nullptr);
    disconnect(w.Timer1, &QTimer::timeout, this, nullptr);
}

void HeadlessRun::stopCycle() {
    if (m_window->gRunning)
        m_window->RunControl->click();
}

void HeadlessRun::onPeriodBoundary() {
    if (++m_boundaries < m_options.periods)
        return;
    // Row 1 gets the record at the next tick: this tick's end, then the next one's.
    if (m_options.row1)
        m_stopTicks = 2;
    else
        stopCycle();
}

void HeadlessRun::onCycleTick() {
    if (!m_window->gRunning) { // the tick did nothing: stopped meanwhile
        m_row1DueTicks = 0;
        return;
    }
    if (m_row1DueTicks > 0 && --m_row1DueTicks == 0) {
        ++m_tally.row1Dropped;
        if (!m_options.quiet)
            writeLine(m_out, QStringLiteral("talvgen-cli: link 1 was still busy at this tick; the "
                                            "window dropped the record for row 1"));
    }
    if (m_stopTicks > 0 && --m_stopTicks == 0)
        stopCycle();
}

// ---------------------------------------------------------------- links

Type4Link &HeadlessRun::link1() {
    Type4Link &link = m_window->frmTCP1();
    if (!m_link1Attached) {
        m_link1Attached = true;
        link.setHoldAfterSendMs(m_options.type4HoldMs);
        attach(link, 0, link.wskMessage());
        connect(&link.wskMessage(), &SocketControl::connectEvent, this, [this, &link] {
            const SocketControl &socket = link.wskMessage();
            m_link1Connects[m_link1Row].add((socket.connectedNs() - socket.connectStartedNs()) /
                                            1000);
        });
    }
    return link;
}

Type5Link &HeadlessRun::link2() {
    Type5Link &link = m_window->frmTCP2();
    if (!m_link2Attached) {
        m_link2Attached = true;
        attach(link, 1, link.wskMessage2());
    }
    return link;
}

RunnerLinkTally &HeadlessRun::tallyOf(int which) {
    return which == 1 ? m_tally.type5 : link1Tally(m_link1Row);
}

void HeadlessRun::attach(TcpLink &link, int which, SocketControl &socket) {
    // The window's own line when it cannot even start a connection: no socket event says so.
    connect(&link, &TcpLink::socketNotSet, this, [this] {
        m_tally.socketError(QStringLiteral("Unable to set socket"));
        emit progressed();
    });
    // Link 1 closes at its next poll when no answer came; its own handlers run first.
    connect(&link, &TcpLink::closedByPoll, this, [this] {
        if (m_exchange[0])
            QTimer::singleShot(0, this, &HeadlessRun::finishLink1IfClosedUnanswered);
    });
    connect(&link, &TcpLink::packetHandedOver, this, [this, &socket, which] {
        ++tallyOf(which).handedOver;
        if (std::optional<Exchange> &exchange = m_exchange[which]) {
            exchange->handedOverAt = QDateTime::currentDateTime();
            if (which == 0 && socket.connectedNs() > socket.connectStartedNs())
                exchange->connectUs = (socket.connectedNs() - socket.connectStartedNs()) / 1000;
        }
        emit progressed();
    });
    connect(&link, &TcpLink::responseArrived, this,
            [this, which](const QByteArray &data, qint32 countedMs) {
                if (std::optional<Exchange> &exchange = m_exchange[which];
                    exchange && exchange->handedOverAt) {
                    exchange->answer = data;
                    exchange->countedMs = countedMs;
                }
            });
    connect(&link, &TcpLink::responseMeasured, this, [this, which](qint64 usec) {
        m_tally.measured(tallyOf(which), usec);
        if (which == 0)
            m_link1Responses[m_link1Row].add(usec);
        if (std::optional<Exchange> &exchange = m_exchange[which]) {
            exchange->responseUs = usec;
            if (usec > m_tally.delayLimitUs)
                finishExchange(which, Outcome::Delayed,
                               QStringLiteral("answered after %1, over %2 ms")
                                   .arg(msToTheMicrosecond(usec))
                                   .arg(m_options.delayLimitMs));
            else
                finishExchange(which, Outcome::Answered, {});
        }
        emit progressed();
    });
    connect(&socket, &SocketControl::errorEvent, this,
            [this, which](qint16 number, const QString &description) {
                const QString reason = socketErrorText(number, description);
                m_tally.socketError(reason);
                if (m_exchange[which])
                    finishExchange(which,
                                   number == SocketControl::kErrorConnectionRefused
                                       ? Outcome::Refused
                                       : Outcome::SocketError,
                                   reason);
            });
    // Connected after the link's own handler: the processed count has
    // already moved when this runs, so the step belongs to this link.
    connect(&socket, &SocketControl::dataArrivalEvent, this, [this, which] {
        const qint32 processed = m_window->gProcessedCount();
        tallyOf(which).processed += processed - m_lastProcessed;
        m_lastProcessed = processed;
    });
}

bool HeadlessRun::link1Settled() {
    Type4Link &link = m_window->frmTCP1();
    return link.gPendingType4Packet.isEmpty() &&
           link.wskMessage().socketState() == SocketState::Closed;
}

bool HeadlessRun::link2Settled() {
    const RunnerLinkTally &tally = m_tally.type5;
    return m_window->frmTCP2().gPendingType5Packet.isEmpty() && tally.answered >= tally.handedOver;
}

bool HeadlessRun::settled() {
    return (!m_link1Attached || link1Settled()) && (!m_link2Attached || link2Settled());
}

// ---------------------------------------------------------------- waiting and output

bool HeadlessRun::waitUntil(const std::function<bool()> &done, qint64 timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    const auto check = [&loop, &done] {
        if (done())
            loop.quit();
    };
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // A socket closes without a signal of its own: look now and then as well.
    QTimer stateCheck;
    connect(&stateCheck, &QTimer::timeout, &loop, check);
    // Queued, so that the handler that reported progress has finished first.
    connect(this, &HeadlessRun::progressed, &loop, check, Qt::QueuedConnection);
    deadline.start(static_cast<int>(std::clamp<qint64>(timeoutMs, 0, INT_MAX)));
    stateCheck.start(kStateCheckMs);
    loop.exec();
    return done();
}

void HeadlessRun::onType4PacketStored(bool fromDataFile) {
    m_link1Row = m_window->link1Row();
    ++link1Tally(m_link1Row).stored;
    if (m_link1Row == 1) {
        m_row1DueTicks = 0;
        if (!m_options.quiet && m_options.row1)
            writeLine(m_out, QStringLiteral("talvgen-cli: the record again, to row 1 (%1)")
                                 .arg(endpointText(*m_options.row1)));
    } else if (fromDataFile && m_options.row1) {
        m_row1DueTicks = 2; // this tick's end, then the next tick's
    }
    beginExchange(0, fromDataFile ? QStringLiteral("%1:line %2")
                                        .arg(caseFileName(m_options.dataFile))
                                        .arg(m_window->ipndDataFile().lineNumber())
                                  : m_nextCanned);
}

void HeadlessRun::onLogged(const QString &line) {
    for (std::optional<Exchange> &exchange : m_exchange)
        if (exchange)
            exchange->logLines << line;
    if (!m_options.quiet)
        writeLine(m_out, printableLine(line));
    emit progressed();
}

void HeadlessRun::beginExchange(int link, const QString &sent) {
    if (m_exchange[link])
        finishExchange(link, Outcome::Unanswered,
                       QStringLiteral("the next packet took its place before an answer came"));
    Exchange exchange;
    exchange.type = link == 0 ? 4 : 5;
    exchange.row = link == 0 ? m_link1Row : 1;
    exchange.order = ++m_exchangeCount[link == 0 && m_link1Row == 1 ? 2 : link];
    exchange.sent = sent;
    exchange.bytes = link == 0 ? m_window->frmTCP1().gPendingType4Packet.size()
                               : m_window->frmTCP2().gPendingType5Packet.size();
    exchange.storedAt = QDateTime::currentDateTime();
    m_exchange[link] = exchange;
}

void HeadlessRun::finishExchange(int link, Outcome outcome, const QString &reason) {
    Exchange exchange = *std::exchange(m_exchange[link], std::nullopt);
    exchange.outcome = outcome;
    exchange.reason = reason;
    m_report.finished(exchange);
}

void HeadlessRun::finishLink1IfClosedUnanswered() {
    if (!m_exchange[0] || !link1Settled())
        return;
    if (!m_exchange[0]->handedOverAt) {
        finishExchange(0, Outcome::Unanswered, QStringLiteral("closed before it was handed over"));
        return;
    }
    ++link1Tally(m_exchange[0]->row).closedBeforeAnswer;
    finishExchange(0, Outcome::ClosedBeforeAnswer,
                   m_options.type4HoldMs > 0
                       ? QStringLiteral("closed by link 1 before an answer: none came within "
                                        "--type4-hold %1 ms")
                             .arg(m_options.type4HoldMs)
                       : QStringLiteral("closed by link 1 before an answer: link 1 closes at "
                                        "its first 100 ms poll after sending (--type4-hold MS "
                                        "keeps it open)"));
}

void HeadlessRun::finishOpenExchanges() {
    finishLink1IfClosedUnanswered();
    const QString unanswered = m_tally.stoppedBySignal > 0
                                   ? QStringLiteral("no answer before %1 stopped the run")
                                         .arg(signalName(m_tally.stoppedBySignal))
                                   : QStringLiteral("no answer by the end of the run");
    for (int link = 0; link < 2; ++link)
        if (m_exchange[link])
            finishExchange(link, Outcome::Unanswered,
                           m_exchange[link]->handedOverAt ? unanswered
                                                          : QStringLiteral("never handed over"));
    m_report.finish();
}

void HeadlessRun::printSummary() {
    finishOpenExchanges();
    const bool row0 = m_link1Attached;
    const bool row1 = m_link1Attached && m_tally.row1Used;
    const QStringList lines =
        summaryLines(m_tally, m_window->gProcessedCount(), row0 ? &m_link1Responses[0] : nullptr,
                     m_link2Attached ? &m_window->frmTCP2().responseStats() : nullptr,
                     row0 ? &m_link1Connects[0] : nullptr, row1 ? &m_link1Responses[1] : nullptr,
                     row1 ? &m_link1Connects[1] : nullptr);
    for (const QString &line : lines)
        writeLine(m_out, line);
}

// ---------------------------------------------------------------- entry point

int runTalvgenCli(const QStringList &arguments, QIODevice &out, QIODevice &err) {
    const ParsedRunOptions parsed = parseRunOptions(arguments);
    switch (parsed.action) {
    case ParsedRunOptions::Action::Help:
    case ParsedRunOptions::Action::Version:
        writeLine(out, parsed.message.trimmed());
        return RunTally::kPassed;
    case ParsedRunOptions::Action::UsageError:
        writeLine(err, usageErrorText(QStringLiteral("talvgen-cli"), parsed.message));
        return RunTally::kUsageOrFile;
    case ParsedRunOptions::Action::Run:
        break;
    }
    const QString unreadable = unreadableFile(parsed.options);
    if (!unreadable.isEmpty()) {
        writeLine(err, QStringLiteral("talvgen-cli: cannot open ") + unreadable);
        return RunTally::kUsageOrFile;
    }
    for (const QString &warning : parsed.warnings)
        writeLine(err, QStringLiteral("talvgen-cli: ") + warning);
    HeadlessRun run(parsed.options, out, err);
    QString reportProblem;
    if (!run.openReports(&reportProblem)) {
        writeLine(err, QStringLiteral("talvgen-cli: ") + reportProblem);
        return RunTally::kUsageOrFile;
    }
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::signalled, &run, &HeadlessRun::stopBySignal);
    return run.exec();
}
