// SPDX-License-Identifier: GPL-3.0-or-later
#include "junitreport.h"

#include <QSaveFile>

#include <QXmlStreamWriter>
#include <algorithm>

namespace {

int countOf(const JunitSuite &suite, JunitCase::Verdict verdict) {
    return int(std::count_if(suite.cases.begin(), suite.cases.end(),
                             [verdict](const JunitCase &c) { return c.verdict == verdict; }));
}

void writeCounts(QXmlStreamWriter &xml, const JunitSuite &suite) {
    xml.writeAttribute(QStringLiteral("name"), suite.name);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(suite.cases.size()));
    xml.writeAttribute(QStringLiteral("failures"),
                       QString::number(countOf(suite, JunitCase::Verdict::Failure)));
    xml.writeAttribute(QStringLiteral("errors"),
                       QString::number(countOf(suite, JunitCase::Verdict::Error)));
    xml.writeAttribute(QStringLiteral("skipped"),
                       QString::number(countOf(suite, JunitCase::Verdict::Skipped)));
    xml.writeAttribute(QStringLiteral("time"), suite.time);
}

void writeCase(QXmlStreamWriter &xml, const JunitCase &c) {
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"), c.classname);
    xml.writeAttribute(QStringLiteral("name"), xmlSafe(c.name));
    xml.writeAttribute(QStringLiteral("time"), c.time);
    switch (c.verdict) {
    case JunitCase::Verdict::Passed:
        break;
    case JunitCase::Verdict::Skipped:
        xml.writeStartElement(QStringLiteral("skipped"));
        xml.writeAttribute(QStringLiteral("message"), xmlSafe(c.message));
        xml.writeEndElement();
        break;
    case JunitCase::Verdict::Failure:
    case JunitCase::Verdict::Error:
        xml.writeStartElement(c.verdict == JunitCase::Verdict::Error ? QStringLiteral("error")
                                                                     : QStringLiteral("failure"));
        if (!c.type.isEmpty())
            xml.writeAttribute(QStringLiteral("type"), c.type);
        xml.writeAttribute(QStringLiteral("message"), xmlSafe(c.message));
        xml.writeCharacters(xmlSafe(c.detail));
        xml.writeEndElement();
        break;
    }
    if (!c.systemOut.isEmpty())
        xml.writeTextElement(QStringLiteral("system-out"), xmlSafe(c.systemOut));
    xml.writeEndElement();
}

} // namespace

QByteArray junitDocument(const JunitSuite &suite) {
    QByteArray document;
    QXmlStreamWriter xml(&document);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    writeCounts(xml, suite);
    xml.writeStartElement(QStringLiteral("testsuite"));
    writeCounts(xml, suite);
    if (!suite.properties.isEmpty()) {
        xml.writeStartElement(QStringLiteral("properties"));
        for (const auto &[name, value] : suite.properties) {
            xml.writeStartElement(QStringLiteral("property"));
            xml.writeAttribute(QStringLiteral("name"), name);
            xml.writeAttribute(QStringLiteral("value"), xmlSafe(value));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    for (const JunitCase &c : suite.cases)
        writeCase(xml, c);
    if (!suite.systemOut.isEmpty())
        xml.writeTextElement(QStringLiteral("system-out"), xmlSafe(suite.systemOut));
    xml.writeEndDocument();
    return document;
}

bool writeJunitFile(const QString &path, const QByteArray &document, QString *error) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(document) == document.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

QString xmlSafe(const QString &text) {
    QString safe;
    safe.reserve(text.size());
    for (const QChar c : text)
        safe += c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t')
                    ? QStringLiteral("<%1>").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper()
                    : QString(c);
    return safe;
}
