// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchangereport.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

namespace {

QString optionalNumber(const std::optional<qint64> &value) {
    return value ? QString::number(*value) : QString();
}

// XML 1.0 has no place for most control characters, and a log line may hold them.
QString xmlSafe(const QString &text) {
    QString safe;
    for (const QChar c : text)
        safe += c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t')
                    ? QStringLiteral("<%1>").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper()
                    : QString(c);
    return safe;
}

QString seconds(qint64 usec) {
    return QString::number(double(usec) / 1e6, 'f', 6);
}

} // namespace

QString Exchange::name() const {
    return QStringLiteral("type%1.%2.%3").arg(type).arg(order, 3, 10, QLatin1Char('0')).arg(sent);
}

QString Exchange::outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Answered:
        return QStringLiteral("answered");
    case Outcome::Delayed:
        return QStringLiteral("delayed");
    case Outcome::Unanswered:
        return QStringLiteral("unanswered");
    case Outcome::ClosedBeforeAnswer:
        return QStringLiteral("closed by link 1 before an answer");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::Error:
        break;
    }
    return QStringLiteral("error");
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
            QStringLiteral("type%1").arg(exchange.type),
            exchange.sent,
            QString::number(exchange.bytes),
            optionalNumber(exchange.connectUs),
            optionalNumber(exchange.responseUs),
            exchange.countedMs ? QString::number(*exchange.countedMs) : QString(),
            Exchange::outcomeText(exchange.outcome),
            printableBytes(exchange.answer, kAnswerBytes)};
}

bool ExchangeReport::writeJunit(QString *error) {
    m_junitStale = false;
    m_sinceJunit.restart();
    const qint64 runUs = m_run.isValid() ? m_run.nsecsElapsed() / 1000 : 0;
    int failures = 0;
    int errors = 0;
    for (const Exchange &exchange : m_done)
        (exchange.socketError() ? errors : failures) += exchange.failed() ? 1 : 0;
    QSaveFile file(m_junitFile);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    const auto counts = [&](const QString &name) {
        xml.writeAttribute(QStringLiteral("name"), name);
        xml.writeAttribute(QStringLiteral("tests"), QString::number(m_done.size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
        xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
        xml.writeAttribute(QStringLiteral("time"), seconds(runUs));
    };
    xml.writeStartElement(QStringLiteral("testsuites"));
    counts(QStringLiteral("talvgen-cli"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    counts(QStringLiteral("talvgen-cli"));
    for (const Exchange &exchange : m_done) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"),
                           QStringLiteral("type%1").arg(exchange.type));
        xml.writeAttribute(QStringLiteral("name"), exchange.name());
        xml.writeAttribute(QStringLiteral("time"), seconds(exchange.responseUs.value_or(0)));
        if (exchange.failed()) {
            xml.writeStartElement(exchange.socketError() ? QStringLiteral("error")
                                                         : QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("type"), Exchange::outcomeText(exchange.outcome));
            xml.writeAttribute(QStringLiteral("message"), xmlSafe(exchange.reason));
            xml.writeCharacters(xmlSafe(exchange.logLines.join(QLatin1Char('\n'))));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
