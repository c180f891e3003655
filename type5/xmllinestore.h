// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <functional>

// The lines of the loaded XML data file, and their loader.
//
// OpenXMLFile yields to the event loop after "Getting File" and after each
// line, so a second load can start inside the first (the operator picks
// another file meanwhile). The newest load wins: it runs to its end, and
// the older load, once it regains control, stops without touching the
// store or the log again. A load whose file cannot be opened changes
// nothing, so it does not stop a load already running.
class XmlLineStore {
public:
    static constexpr int kMaxLines = 501;

    // Collaborators; the window sets them to its log, its event loop and
    // its clock. Left empty, they do nothing (the clock reads the time).
    std::function<void(const QString &)> log;
    std::function<void()> clearLog;
    std::function<void()> yield;
    std::function<QDateTime()> clock;

    // Written only by OpenXMLFile; entries from gXmlLineCount on may hold
    // lines of an earlier, longer file and are not part of the load.
    std::array<QByteArray, kMaxLines> gXmlLines;
    qint16 gXmlLineCount = 0;

    // Loads the file line by line, restamping the send date, send time and
    // positioning time, and logs every line. Failures are log lines.
    void OpenXMLFile(const QString &fileName);

    bool isLoading() const { return m_activeLoads > 0; }

private:
    void logLine(const QString &message) const;
    void logError(const QString &fileName) const;
    void clearTheLog() const;
    void yieldToEvents() const;
    QDateTime now() const;
    // False once a newer load has started.
    bool isCurrent(quint64 load) const { return load == m_newestLoad; }

    quint64 m_newestLoad = 0;
    int m_activeLoads = 0;
};

// What Send leaves pending on link 2: with no file loaded the canned
// document, replacing whatever was pending; otherwise the pending text
// followed by the loaded lines, joined with nothing between them.
QByteArray nextType5Packet(const QByteArray &pending, const XmlLineStore &store);
