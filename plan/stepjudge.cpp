// SPDX-License-Identifier: GPL-3.0-or-later
#include "stepjudge.h"

#include "csvwriter.h"

#include <QStringList>

namespace {

constexpr qsizetype kShownAnswerBytes = 60;

QString shown(const QByteArray &bytes) {
    return QStringLiteral("\"%1\"").arg(printableBytes(bytes, kShownAnswerBytes));
}

} // namespace

QString durationText(qint64 us) {
    if (us % 1'000'000 == 0)
        return QStringLiteral("%1 s").arg(us / 1'000'000);
    if (us >= 1'000'000)
        return QStringLiteral("%1 s").arg(double(us) / 1e6, 0, 'g', 6);
    if (us % 1000 == 0)
        return QStringLiteral("%1 ms").arg(us / 1000);
    return QStringLiteral("%1 ms").arg(double(us) / 1e3, 0, 'f', 3);
}

QString Expectation::text() const {
    QStringList parts;
    if (answer)
        parts << QStringLiteral("answer /%1/").arg(answer->pattern());
    if (noAnswer)
        parts << QStringLiteral("no answer");
    if (closed)
        parts << QStringLiteral("closed");
    if (heartbeat)
        parts << QStringLiteral("heartbeat");
    if (parts.isEmpty())
        return QStringLiteral("sent");
    return QStringLiteral("%1 within %2")
        .arg(parts.join(QStringLiteral(", ")), durationText(withinUs));
}

StepJudge::Verdict StepJudge::settle(Verdict verdict, const QString &outcome,
                                     const QString &detail) {
    m_verdict = verdict;
    m_outcome = outcome;
    m_detail = detail;
    return verdict;
}

StepJudge::Verdict StepJudge::sent() {
    if (m_verdict != Verdict::Waiting)
        return m_verdict;
    if (m_expectation.waitsForNothing())
        return settle(Verdict::Passed, QStringLiteral("sent"));
    return m_verdict;
}

StepJudge::Verdict StepJudge::arrived(const QByteArray &received, qsizetype *used) {
    *used = 0;
    if (m_verdict != Verdict::Waiting || m_answered || received.isEmpty())
        return m_verdict;
    if (m_expectation.noAnswer) {
        m_answer = received;
        *used = received.size();
        return settle(Verdict::Failed, QStringLiteral("answered"),
                      QStringLiteral("an answer came: %1").arg(shown(received)));
    }
    if (!m_expectation.answer)
        return m_verdict; // a step that waits for a close or a heartbeat ignores answers
    const QString text = QString::fromLatin1(received);
    const QRegularExpressionMatch match = m_expectation.answer->match(text);
    m_answer = received;
    if (!match.hasMatch())
        return m_verdict;
    m_answered = true;
    m_answer = received.first(match.capturedEnd());
    *used = match.capturedEnd();
    if (m_expectation.closed)
        return m_verdict;
    return settle(Verdict::Passed, QStringLiteral("answered"));
}

StepJudge::Verdict StepJudge::heartbeat() {
    if (m_verdict != Verdict::Waiting || !m_expectation.heartbeat)
        return m_verdict;
    return settle(Verdict::Passed, QStringLiteral("heartbeat answered"));
}

StepJudge::Verdict StepJudge::ended(Outcome why, const QString &systemDetail) {
    if (m_verdict != Verdict::Waiting)
        return m_verdict;
    const QString outcome = outcomeText(why);
    if (why != Outcome::Reset && why != Outcome::Closed) {
        m_socketOutcome = why;
        QString detail = why == Outcome::Refused ? QStringLiteral("the connection was refused")
                                                 : QStringLiteral("the connection failed");
        if (!systemDetail.isEmpty())
            detail += QStringLiteral(": ") + systemDetail;
        return settle(Verdict::Error, outcome, detail);
    }
    if (m_expectation.answer && !m_answered) {
        m_socketOutcome = why;
        const QString got = m_answer.isEmpty() ? QStringLiteral("nothing came")
                                               : QStringLiteral("got %1").arg(shown(m_answer));
        return settle(Verdict::Failed, outcome,
                      QStringLiteral("%1 before an answer matching /%2/ (%3)")
                          .arg(outcome, m_expectation.answer->pattern(), got));
    }
    if (m_expectation.heartbeat)
        return settle(Verdict::Failed, outcome,
                      QStringLiteral("link 2 %1 before a heartbeat").arg(outcome));
    // The close expected, a close with no answer, or one after all was sent: no fault.
    return settle(Verdict::Passed, outcome);
}

StepJudge::Verdict StepJudge::deadline() {
    if (m_verdict != Verdict::Waiting)
        return m_verdict;
    const QString within = durationText(m_expectation.withinUs);
    if (m_expectation.answer && !m_answered) {
        if (m_answer.isEmpty())
            return settle(Verdict::Failed, outcomeText(Outcome::Unanswered),
                          QStringLiteral("no answer within %1").arg(within));
        return settle(Verdict::Failed, outcomeText(Outcome::Malformed),
                      QStringLiteral("the answer %1 does not match /%2/")
                          .arg(shown(m_answer), m_expectation.answer->pattern()));
    }
    if (m_expectation.closed)
        return settle(Verdict::Failed, QStringLiteral("still open"),
                      QStringLiteral("not closed within %1").arg(within));
    if (m_expectation.heartbeat)
        return settle(Verdict::Failed, QStringLiteral("no heartbeat"),
                      QStringLiteral("no heartbeat within %1").arg(within));
    if (m_expectation.noAnswer)
        return settle(Verdict::Passed, QStringLiteral("no answer"));
    return settle(Verdict::Failed, QStringLiteral("not sent"),
                  QStringLiteral("not sent within %1").arg(within));
}

StepJudge::Verdict StepJudge::stopped(const QString &why) {
    if (m_verdict != Verdict::Waiting)
        return m_verdict;
    return settle(Verdict::Failed, QStringLiteral("stopped"), why);
}
