// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

// What a link may touch of the main window. The links never reach into
// widgets; the window (or a test) implements this narrow interface.
class LinkHost {
public:
    virtual ~LinkHost() = default;

    virtual void LogMessage(const QString &message) = 0;

    // Text of the socket row boxes, index 0 (Type 4) or 1 (Type 5).
    virtual QString txbAddressText(int index) const = 0;
    virtual QString txbPortText(int index) const = 0;

    // Main window fields written by the receive path.
    virtual void setTxbMessage(const QString &text) = 0;
    virtual void setLbProcessed(const QString &text) = 0;
    virtual void setLbLastDelayed(const QString &text) = 0;
    virtual void setTxbDelayedCt(const QString &text) = 0;

    // gProcessedCount is shared by both links and lives with the window.
    virtual qint32 &gProcessedCount() = 0;

    // Local date and time; tests set a fixed clock.
    virtual QDateTime currentDateTime() const { return QDateTime::currentDateTime(); }
};
