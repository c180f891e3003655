// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exchangeoutcome.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <optional>

// What one step expects, with its templates filled in.
struct Expectation {
    std::optional<QRegularExpression> answer;
    qint64 withinUs = 0;
    bool noAnswer = false;
    bool closed = false;
    bool heartbeat = false;

    // Nothing to wait for: the step is over once its bytes are sent.
    bool waitsForNothing() const { return !answer && !noAnswer && !closed && !heartbeat; }
    // "answer /^ACK/, closed within 500 ms"
    QString text() const;
};

// Judges one step from what happens on its connection, in the order it
// happens: no socket, no clock, so every rule can be tried alone.
class StepJudge {
public:
    enum class Verdict { Waiting, Passed, Failed, Error };

    explicit StepJudge(Expectation expectation)
        : m_expectation(std::move(expectation)) {}

    // Every byte sent.
    Verdict sent();
    // What has come so far for this step; *used: the bytes the matching answer
    // takes, from the start (the rest may be the next step's).
    Verdict arrived(const QByteArray &received, qsizetype *used);
    Verdict heartbeat();
    // The connection ended: refused, reset, closed or an error.
    Verdict ended(Outcome why, const QString &systemDetail = {});
    // `within` is up.
    Verdict deadline();
    // The run was stopped before the step was judged.
    Verdict stopped(const QString &why);

    Verdict verdict() const { return m_verdict; }
    bool answered() const { return m_answered; }
    // The answer that matched, or what came when none did.
    const QByteArray &answer() const { return m_answer; }
    // "answered", "closed", "no answer", "refused", ...
    const QString &outcome() const { return m_outcome; }
    // Why it failed, in a few words; empty when it passed.
    const QString &detail() const { return m_detail; }
    // The socket's own outcome when the connection failed.
    std::optional<Outcome> socketOutcome() const { return m_socketOutcome; }
    const Expectation &expectation() const { return m_expectation; }

private:
    Verdict settle(Verdict verdict, const QString &outcome, const QString &detail = {});

    Expectation m_expectation;
    Verdict m_verdict = Verdict::Waiting;
    bool m_answered = false;
    QByteArray m_answer;
    QString m_outcome;
    QString m_detail;
    std::optional<Outcome> m_socketOutcome;
};

// "500 ms", "2 s", "1.5 s": a duration as the plan's lines word it.
QString durationText(qint64 us);
