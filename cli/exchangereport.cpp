// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchangereport.h"

#include "junitreport.h"

namespace {

QString optionalNumber(const std::optional<qint64> &value) {
    return value ? QString::number(*value) : QString();
}

QString seconds(qint64 usec) {
    return QString::number(double(usec) / 1e6, 'f', 6);
}

} // namespace

QString Exchange::link() const {
    const QString link = QStringLiteral("type%1").arg(type);
    return type == 4 && row == 1 ? link + QStringLiteral("-row1") : link;
}

QString Exchange::name() const {
    return QStringLiteral("%1.%2.%3").arg(link()).arg(order, 3, 10, QLatin1Char('0')).arg(sent);
}

bool ExchangeReport::open(const QString &junitFile, const QString &csvFile, QString *error) {
    m_run.start();
    QString why;
    if (!csvFile.isEmpty() && !m_csv.open(csvFile, csvHeader(), &why)) {
        *error = QStringLiteral("cannot create %1: %2").arg(csvFile, why);
        return false;
    }
    m_junitFile = junitFile;
    if (!m_junitFile.isEmpty() && !writeJunit(&why)) {
        *error = QStringLiteral("cannot create %1: %2").arg(junitFile, why);
        return false;
    }
    m_sinceJunit.start();
    return true;
}

void ExchangeReport::finished(const Exchange &exchange) {
    m_csv.writeRow(csvFields(exchange));
    if (m_junitFile.isEmpty())
        return;
    m_done << exchange;
    m_done.last().logLines = exchange.logLines.mid(0, kLogLinesPerCase);
    m_junitStale = true;
    if (m_sinceJunit.elapsed() >= kJunitRewriteMs)
        flush();
}

void ExchangeReport::flush() {
    if (m_junitStale && !m_junitFile.isEmpty())
        writeJunit();
}

void ExchangeReport::finish() {
    if (!m_junitFile.isEmpty())
        writeJunit();
}

QStringList ExchangeReport::csvHeader() {
    return {
        QStringLiteral("handed_over"), QStringLiteral("link"),       QStringLiteral("sent"),
        QStringLiteral("bytes"),       QStringLiteral("connect_us"), QStringLiteral("response_us"),
        QStringLiteral("counted_ms"),  QStringLiteral("outcome"),    QStringLiteral("answer")};
}

QStringList ExchangeReport::csvFields(const Exchange &exchange) {
    return {isoTimeWithOffset(exchange.handedOverAt.value_or(exchange.storedAt)),
            exchange.link(),
            exchange.sent,
            QString::number(exchange.bytes),
            optionalNumber(exchange.connectUs),
            optionalNumber(exchange.responseUs),
            exchange.countedMs ? QString::number(*exchange.countedMs) : QString(),
            outcomeText(exchange.outcome),
            printableBytes(exchange.answer, kAnswerBytes)};
}

bool ExchangeReport::writeJunit(QString *error) {
    m_junitStale = false;
    m_sinceJunit.restart();
    JunitSuite suite;
    suite.name = QStringLiteral("talvgen-cli");
    suite.time = seconds(m_run.isValid() ? m_run.nsecsElapsed() / 1000 : 0);
    for (const Exchange &exchange : m_done) {
        JunitCase c;
        c.classname = exchange.link();
        c.name = exchange.name();
        c.time = seconds(exchange.responseUs.value_or(0));
        if (exchange.failed()) {
            c.verdict =
                exchange.socketError() ? JunitCase::Verdict::Error : JunitCase::Verdict::Failure;
            c.type = outcomeText(exchange.outcome);
            c.message = exchange.reason;
            c.detail = exchange.logLines.join(QLatin1Char('\n'));
        }
        suite.cases << c;
    }
    return writeJunitFile(m_junitFile, junitDocument(suite), error);
}
