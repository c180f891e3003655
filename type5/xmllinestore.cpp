// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmllinestore.h"

#include "amllayout.h"
#include "textlinereader.h"
#include "xmlrestamp.h"

#include <span>

namespace {

struct ActiveLoad {
    explicit ActiveLoad(int &count)
        : m_count(count) {
        ++m_count;
    }
    ~ActiveLoad() { --m_count; }
    ActiveLoad(const ActiveLoad &) = delete;
    ActiveLoad &operator=(const ActiveLoad &) = delete;
    int &m_count;
};

} // namespace

void XmlLineStore::logLine(const QString &message) const {
    if (log)
        log(message);
}

void XmlLineStore::logError(const QString &fileName) const {
    logLine(QStringLiteral("ERROR on File search on file name ") + fileName);
}

void XmlLineStore::clearTheLog() const {
    if (clearLog)
        clearLog();
}

void XmlLineStore::yieldToEvents() const {
    if (yield)
        yield();
}

QDateTime XmlLineStore::now() const {
    return clock ? clock() : QDateTime::currentDateTime();
}

void XmlLineStore::OpenXMLFile(const QString &fileName) {
    TextLineReader reader;
    if (!reader.open(fileName)) {
        logError(fileName);
        return;
    }
    const ActiveLoad active(m_activeLoads);
    const quint64 load = ++m_newestLoad;

    clearTheLog();
    logLine(QStringLiteral("Getting File"));
    yieldToEvents();
    if (!isCurrent(load))
        return;

    int index = 0;
    gXmlLineCount = 0;
    while (index < kMaxLines) {
        QByteArray line;
        if (reader.readLine(line) != TextLineReader::Result::Line)
            break; // no lines at all, a read failure, or a line too long to send whole
        if (isRestampedXmlLine(line))
            line = restampXmlLine(line, now());
        gXmlLines[index] = line;
        logLine(QString::fromLatin1(line));
        ++index;
        gXmlLineCount = static_cast<qint16>(index);

        yieldToEvents();
        if (!isCurrent(load))
            return;
        if (reader.atEnd()) {
            logLine(QStringLiteral("End of File"));
            return;
        }
    }
    logError(fileName);
}

QByteArray nextType5Packet(const QByteArray &pending, const XmlLineStore &store) {
    if (store.gXmlLineCount <= 0)
        return cannedAmlDocument();
    const auto lines = std::span(store.gXmlLines).first(store.gXmlLineCount);
    qsizetype size = pending.size();
    for (const QByteArray &line : lines)
        size += line.size();
    QByteArray packet;
    packet.reserve(size);
    packet += pending;
    for (const QByteArray &line : lines)
        packet += line;
    return packet;
}
