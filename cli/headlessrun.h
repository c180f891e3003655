// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exchangereport.h"
#include "responsestats.h"
#include "runoptions.h"
#include "runtally.h"

#include <QObject>

#include <functional>
#include <memory>

class QAbstractButton;
class QIODevice;
class SocketControl;
class TcpLink;
class Type4Link;
class Type5Link;
class frmIPNDZandrel;

// One unattended run of the real main window, offscreen: sets its controls
// and presses its buttons as an operator would, in the order canned Type 4
// sends, Type 5 sends, packet cycle, then waits for the last responses.
// Every log line goes to out as it is logged (oldest first, Latin-1), then
// the summary. Needs a QApplication; waits run the event loop, never sleep.
class HeadlessRun : public QObject {
    Q_OBJECT
public:
    HeadlessRun(const RunOptions &options, QIODevice &out, QIODevice &err,
                QObject *parent = nullptr);
    ~HeadlessRun() override;

    // Creates the report files asked for; false with what is wrong. Call before exec().
    bool openReports(QString *error);
    // Runs once; returns the exit status (RunTally::ExitStatus).
    int exec();
    // SIGINT or SIGTERM: every wait ends, the cycle stops, exec() prints the summary.
    void stopBySignal(int number);

    // The window stays until the run is destroyed, for a look at its fields.
    frmIPNDZandrel &window() { return *m_window; }
    const RunTally &tally() const { return m_tally; }
    const ExchangeReport &report() const { return m_report; }

signals:
    // Something a wait may be waiting for has happened.
    void progressed();

private:
    static constexpr int kStateCheckMs = 50;
    static constexpr qint64 kCycleMarginMs = 5000;

    void setControls();
    void sendCanned();
    void sendType5();
    void pressSend5(const QString &sent);
    void runCycle();
    void stopCycle();
    void onPeriodBoundary();
    void onCycleTick();
    void onLogged(const QString &line);
    void onType4PacketStored(bool fromDataFile);
    void printSummary();

    // The exchange of each link (0: link 1, 1: link 2), stored to outcome.
    void beginExchange(int link, const QString &sent);
    void finishExchange(int link, Outcome outcome, const QString &reason);
    void finishLink1IfClosedUnanswered();
    void finishOpenExchanges();

    Type4Link &link1();
    Type5Link &link2();
    void attach(TcpLink &link, int which, SocketControl &socket);
    // The tally of link 2 (which 1), or of the row link 1's last packet went to (which 0).
    RunnerLinkTally &tallyOf(int which);
    RunnerLinkTally &link1Tally(int row) { return row == 1 ? m_tally.row1 : m_tally.type4; }
    bool link1Settled();
    bool link2Settled();
    bool settled();
    bool aborted() const { return m_tally.dataFileFailures > 0 || m_tally.stoppedBySignal > 0; }
    // How long to wait for link 1 to settle: --wait, or the hold and a poll if longer.
    qint64 link1WaitMs() const;
    QAbstractButton *cannedButton(CannedSend send) const;

    // Runs the event loop until done() or timeoutMs; returns done().
    bool waitUntil(const std::function<bool()> &done, qint64 timeoutMs);

    RunOptions m_options;
    QIODevice &m_out;
    QIODevice &m_err;
    std::unique_ptr<frmIPNDZandrel> m_window;
    RunTally m_tally;
    bool m_link1Attached = false;
    bool m_link2Attached = false;
    qint32 m_lastProcessed = 0;
    int m_boundaries = 0;
    bool m_ran = false;
    ExchangeReport m_report;
    std::optional<Exchange> m_exchange[2];
    int m_exchangeCount[3] = {0, 0, 0}; // link 1 to row 0, link 2, link 1 to row 1
    // Link 1 carries one packet at a time: its events belong to the row of the last.
    int m_link1Row = 0;
    ResponseStats m_link1Responses[2]; // by socket row
    ResponseStats m_link1Connects[2];
    int m_row1DueTicks = 0; // ticks left for the record sent to row 0 to go to row 1 too
    int m_stopTicks = 0;    // ticks left before Stop, once the last boundary has passed
    QString m_nextCanned;   // what the canned button about to be pressed sends
};

// talvgen-cli: parses and checks arguments (program name first), runs, and
// returns the exit status: 0 passed, 1 failed, 2 bad usage or unreadable file.
int runTalvgenCli(const QStringList &arguments, QIODevice &out, QIODevice &err);
