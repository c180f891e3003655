// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadreport.h"

#include <QXmlStreamWriter>

namespace {

QString rateText(double perSecond) {
    return QString::number(perSecond, 'f', perSecond < 10 ? 1 : 0) + QStringLiteral("/s");
}

QString percentilesText(const LatencyHistogram &h) {
    return QStringLiteral("p50 %1, p90 %2, p99 %3, p99.9 %4, max %5")
        .arg(millisecondsText(h.valueAtPercentile(50)), millisecondsText(h.valueAtPercentile(90)),
             millisecondsText(h.valueAtPercentile(99)), millisecondsText(h.valueAtPercentile(99.9)),
             millisecondsText(h.max()));
}

QString faultsText(const LinkTally &tally) {
    QStringList parts;
    for (int kind = 0; kind < kFaultKinds; ++kind)
        parts
            << QStringLiteral("%1 %2").arg(faultName(Fault(kind))).arg(tally.faults[size_t(kind)]);
    parts << QStringLiteral("shortfall %1").arg(tally.shortfall);
    return parts.join(QStringLiteral(", "));
}

} // namespace

QString millisecondsText(qint64 us) {
    return QString::number(double(us) / 1000.0, 'f', 3) + QStringLiteral(" ms");
}

QString statusLine(double elapsedSeconds, double targetPerSecond, const Tallies &tallies) {
    QString line =
        QStringLiteral("%1 s target %2").arg(qint64(elapsedSeconds)).arg(rateText(targetPerSecond));
    for (const LinkTally *t : tallies) {
        line +=
            QStringLiteral(" | %1 sent %2 in flight %3 answered %4 failed %5 p99 %6")
                .arg(t->name, rateText(double(t->sentLastSecond)))
                .arg(t->inFlight)
                .arg(t->answered)
                .arg(t->failed())
                .arg(t->lastSecond.count() ? millisecondsText(t->lastSecond.valueAtPercentile(99))
                                           : QStringLiteral("-"));
    }
    return line;
}

QStringList csvHeader() {
    QStringList header{QStringLiteral("elapsed_s"),    QStringLiteral("link"),
                       QStringLiteral("target_per_s"), QStringLiteral("sent"),
                       QStringLiteral("answered"),     QStringLiteral("failed"),
                       QStringLiteral("in_flight"),    QStringLiteral("p50_us"),
                       QStringLiteral("p99_us"),       QStringLiteral("max_us")};
    for (int kind = 0; kind < kFaultKinds; ++kind)
        header << QStringLiteral("total_") + faultName(Fault(kind));
    header << QStringLiteral("total_shortfall");
    return header;
}

QStringList csvRow(double elapsedSeconds, double targetPerSecond, const LinkTally &t) {
    QStringList row{QString::number(elapsedSeconds, 'f', 3),
                    t.name,
                    QString::number(targetPerSecond, 'f', 1),
                    QString::number(t.sentLastSecond),
                    QString::number(t.answeredLastSecond),
                    QString::number(t.failedLastSecond),
                    QString::number(t.inFlight),
                    QString::number(t.lastSecond.valueAtPercentile(50)),
                    QString::number(t.lastSecond.valueAtPercentile(99)),
                    QString::number(t.lastSecond.max())};
    for (const qint64 n : t.faults)
        row << QString::number(n);
    row << QString::number(t.shortfall);
    return row;
}

QString limitBreach(const LinkTally &tally, const LoadOptions &options) {
    QStringList broken;
    if (tally.failed() > options.maxFailures)
        broken << QStringLiteral("%1 failures, more than the %2 allowed (%3)")
                      .arg(tally.failed())
                      .arg(options.maxFailures)
                      .arg(faultsText(tally));
    const qint64 p99 = tally.latency.valueAtPercentile(99);
    if (options.p99LimitMs && double(p99) > *options.p99LimitMs * 1000.0)
        broken << QStringLiteral("p99 %1 over the %2 ms limit")
                      .arg(millisecondsText(p99))
                      .arg(*options.p99LimitMs);
    if (tally.due == 0)
        broken << QStringLiteral("nothing was due");
    return broken.join(QStringLiteral("; "));
}

QString summaryText(double elapsedSeconds, const LoadOptions &options, const Tallies &tallies,
                    bool interrupted) {
    QStringList lines{QStringLiteral("==== talvgen-cli load summary ====")};
    lines << QStringLiteral("Ran %1 s%2")
                 .arg(elapsedSeconds, 0, 'f', 1)
                 .arg(interrupted
                          ? QStringLiteral(", stopped by Ctrl-C (exchanges in flight not counted)")
                          : QString());
    QStringList failures;
    for (const LinkTally *t : tallies) {
        lines << QStringLiteral("%1: due %2, sent %3, answered %4 (%5), failed %6 (%7)")
                     .arg(t->name)
                     .arg(t->due)
                     .arg(t->sent)
                     .arg(t->answered)
                     .arg(rateText(elapsedSeconds > 0 ? double(t->answered) / elapsedSeconds : 0))
                     .arg(t->failed())
                     .arg(faultsText(*t));
        lines << QStringLiteral("%1 latency from due time: %2")
                     .arg(t->name, percentilesText(t->latency));
        if (t->name == QLatin1String("type4"))
            lines << QStringLiteral("type4 connect: %1").arg(percentilesText(t->connect));
        else
            lines << QStringLiteral("type5: %1 carriers, heartbeats answered %2")
                         .arg(options.carriers)
                         .arg(t->heartbeatsAnswered);
        const QString breach = limitBreach(*t, options);
        if (!breach.isEmpty())
            failures << t->name + QStringLiteral(": ") + breach;
    }
    lines << (failures.isEmpty()
                  ? QStringLiteral("Result: PASS")
                  : QStringLiteral("Result: FAIL: ") + failures.join(QStringLiteral("; ")));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray junitReport(double elapsedSeconds, const LoadOptions &options, const Tallies &tallies) {
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    qint64 failing = 0;
    for (const LinkTally *t : tallies)
        failing += limitBreach(*t, options).isEmpty() ? 0 : 1;
    const QString seconds = QString::number(elapsedSeconds, 'f', 3);
    const QString tests = QString::number(tallies.size());
    writer.writeStartElement(QStringLiteral("testsuites"));
    writer.writeAttribute(QStringLiteral("tests"), tests);
    writer.writeAttribute(QStringLiteral("failures"), QString::number(failing));
    writer.writeStartElement(QStringLiteral("testsuite"));
    writer.writeAttribute(QStringLiteral("name"), QStringLiteral("talvgen-cli load"));
    writer.writeAttribute(QStringLiteral("tests"), tests);
    writer.writeAttribute(QStringLiteral("failures"), QString::number(failing));
    writer.writeAttribute(QStringLiteral("time"), seconds);
    for (const LinkTally *t : tallies) {
        writer.writeStartElement(QStringLiteral("testcase"));
        writer.writeAttribute(QStringLiteral("classname"), QStringLiteral("load"));
        writer.writeAttribute(QStringLiteral("name"), t->name);
        writer.writeAttribute(QStringLiteral("time"), seconds);
        const QString breach = limitBreach(*t, options);
        if (!breach.isEmpty()) {
            writer.writeStartElement(QStringLiteral("failure"));
            writer.writeAttribute(QStringLiteral("message"), breach);
            writer.writeCharacters(percentilesText(t->latency));
            writer.writeEndElement();
        }
        writer.writeTextElement(QStringLiteral("system-out"),
                                QStringLiteral("due %1, answered %2, %3; latency %4")
                                    .arg(t->due)
                                    .arg(t->answered)
                                    .arg(faultsText(*t), percentilesText(t->latency)));
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

int loadExitStatus(const LoadOptions &options, const Tallies &tallies) {
    for (const LinkTally *t : tallies) {
        if (!limitBreach(*t, options).isEmpty())
            return 1;
    }
    return 0;
}
