// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "loadoptions.h"

#include <QByteArray>
#include <QList>

// What the load engine sends: Type 4 frames built exactly as the window's
// canned buttons and packet cycle build them, and the Type 5 document its
// Send button would send.
class LoadRecords {
public:
    // Reads the data files; false with the reason when one cannot be read
    // or holds nothing sendable.
    bool prepare(const LoadOptions &options, QString *error);

    // Canned records in turn (each with the next terminal ID), data-file
    // records in file order from the top again at its end, or one of each
    // in turn when there are both.
    QByteArray nextType4Frame();
    const QByteArray &type5Document() const { return m_document; }

    // The data-file lines the reader refuses, by reason in the order first
    // met: "7 of its 8 lines refused, never sent: 2 not standard packet, 1 header
    // is Non Numeric, ..."; empty when the data file has none refused.
    QString refusalText() const;

private:
    struct RefusedLines {
        QString reason; // "not standard packet", as the window's log words it
        qint64 count = 0;
    };

    QByteArray nextCannedFrame();
    void readDataFile(const QString &name);

    QList<QByteArray> m_cannedRecords; // with their MOLI record when ticked
    bool m_moliTicked = false;
    QList<QByteArray> m_termIds;
    QList<QByteArray> m_cannedFrames; // record by terminal ID, when built ahead
    QList<QByteArray> m_fileFrames;
    qint64 m_fileLines = 0;
    QList<RefusedLines> m_refused;
    QByteArray m_document;
    qsizetype m_nextCanned = 0;
    qsizetype m_nextTermId = 0;
    qsizetype m_nextFile = 0;
    bool m_fileTurn = false;
};
