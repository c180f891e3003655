// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

// The operator's running record, newest message first. Only the first
// kShownChars characters are ever shown, so only those are kept.
class Log : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kShownChars = 20000;

    using QObject::QObject;

    // Puts the message, followed by CR LF, on top of the log.
    void LogMessage(const QString &message);
    void ClearLog();

    // What the log box shows: the first kShownChars characters of the log text.
    const QString &shownText() const { return m_gLogText; }

signals:
    // The whole new text of the log box.
    void shownTextChanged(const QString &text);
    // Each message as it is logged, for listeners that print the log oldest first.
    void messageLogged(const QString &message);

private:
    QString m_gLogText;
};
