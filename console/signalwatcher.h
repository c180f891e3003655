// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <csignal>

class QSocketNotifier;

// Turns SIGINT and SIGTERM (on Windows: Ctrl-C, Ctrl-Break, closing the
// console, and QProcess::terminate's WM_CLOSE) into a Qt signal on the event
// loop; the handler only notes the signal, everything else runs in the loop.
// One watcher at a time. The system calls are in signalwatcher_posix.cpp and
// signalwatcher_win.cpp.
class SignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void signalled(int number);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};

// "SIGINT", "SIGTERM", or "signal N", as the reports name what stopped a run.
inline QString signalName(int number) {
    switch (number) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    default:
        return QStringLiteral("signal %1").arg(number);
    }
}
