// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "csvwriter.h"
#include "exchangeoutcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One packet the window stored for a link, from the moment it was stored to
// its outcome, with the log lines logged meanwhile.
struct Exchange {
    int type = 4;  // 4 or 5
    int row = 0;   // the socket row it went to: link 1 reaches row 1 with --row1
    int order = 0; // 1 for the link's first packet
    QString sent;  // "standard+point", "ipnd3.x01:line 12", "canned", "aml.xml"
    qint64 bytes = 0;
    QDateTime storedAt;
    std::optional<QDateTime> handedOverAt;
    std::optional<qint64> connectUs; // link 1's connect, when it connected
    std::optional<qint64> responseUs;
    std::optional<qint32> countedMs; // the window's own 10 ms count
    QByteArray answer;
    Outcome outcome = Outcome::Unanswered;
    QString reason; // why it failed, for all but Answered
    QStringList logLines;

    // "type4", "type5", or "type4-row1" for a Type 4 packet to socket row 1
    QString link() const;
    // "type4.003.standard+point"
    QString name() const;
    bool failed() const { return outcome != Outcome::Answered; }
    // A JUnit error rather than a failure: the socket failed, not the receiver.
    bool socketError() const {
        return outcome == Outcome::Refused || outcome == Outcome::SocketError;
    }
};

// The report files a pipeline reads: a CSV row and a JUnit test case per
// exchange (a packet refused before it went out is a failed case too), each written as its exchange
// ends. The CSV file is appended and flushed row by row; the JUnit file is a whole document,
// rewritten through a temporary file at most once a second and at the end, so what is on disk is
// always a complete report of the exchanges up to then. The suite's time is the run's duration up
// to that writing (from open()), each case's the response time it measured.
class ExchangeReport {
public:
    static constexpr qint64 kJunitRewriteMs = 1000;
    static constexpr qsizetype kAnswerBytes = 40;
    static constexpr qsizetype kLogLinesPerCase = 50;

    // Creates the files named (either may be empty); false with what is wrong.
    bool open(const QString &junitFile, const QString &csvFile, QString *error);
    void finished(const Exchange &exchange);
    // Writes the JUnit file as it stands, whatever the time since the last.
    void flush();
    // The run is over: the JUnit file once more, with the run's whole duration.
    void finish();

    const QList<Exchange> &exchanges() const { return m_done; }
    static QStringList csvHeader();
    static QStringList csvFields(const Exchange &exchange);

private:
    bool writeJunit(QString *error = nullptr);

    QString m_junitFile;
    CsvWriter m_csv;
    QList<Exchange> m_done; // for the JUnit file, which is written whole
    QElapsedTimer m_sinceJunit;
    QElapsedTimer m_run; // from open(): the suite's time is the run's duration so far
    bool m_junitStale = false;
};
