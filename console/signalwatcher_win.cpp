// SPDX-License-Identifier: GPL-3.0-or-later
#include "signalwatcher.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWinEventNotifier>

#include <atomic>
#include <csignal>
#include <windows.h>

// A console program hears of Ctrl-C, Ctrl-Break and the closing of its
// console through a control handler, which the system calls on a thread of
// its own: the handler notes the event as the signal a POSIX system would
// send (Ctrl-C as SIGINT, the rest as SIGTERM) and wakes the loop. Closing
// the console ends the process as soon as the handler returns, so that
// handler waits until the program has finished its reports (the watcher
// goes) or the system's grace of five seconds is nearly over.
// QProcess::terminate() closes a program by posting WM_CLOSE to its main
// thread; a console program has no window to take it, so the watcher does,
// as SIGTERM. A signal the program raises itself (raise()) comes through the
// C runtime's own handlers.

namespace {

std::atomic<int> g_signal{0};
HANDLE g_noted = nullptr;    // set by the handler: a signal waits
HANDLE g_finished = nullptr; // set when the watcher goes: the program is done
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI noteControlEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        g_signal.store(SIGINT);
        ::SetEvent(g_noted);
        return TRUE;
    case CTRL_BREAK_EVENT:
        g_signal.store(SIGTERM);
        ::SetEvent(g_noted);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_signal.store(SIGTERM);
        ::SetEvent(g_noted);
        ::WaitForSingleObject(g_finished, kCloseGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}

void noteRaisedSignal(int number) {
    std::signal(number, noteRaisedSignal); // the runtime resets it to the default each time
    g_signal.store(number);
    ::SetEvent(g_noted);
}

class CloseMessageFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override {
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->hwnd != nullptr || msg->message != WM_CLOSE)
            return false;
        g_signal.store(SIGTERM);
        ::SetEvent(g_noted);
        return true;
    }
};

CloseMessageFilter g_closeFilter;

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent) {
    // Kept for the life of the process: a handler may still hold them.
    if (!g_noted) {
        g_noted = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ::ResetEvent(g_finished);
    auto *notifier = new QWinEventNotifier(g_noted, this);
    connect(notifier, &QWinEventNotifier::activated, this, &SignalWatcher::readSignal);
    ::SetConsoleCtrlHandler(noteControlEvent, TRUE);
    std::signal(SIGINT, noteRaisedSignal);
    std::signal(SIGTERM, noteRaisedSignal);
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installNativeEventFilter(&g_closeFilter);
}

SignalWatcher::~SignalWatcher() {
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeNativeEventFilter(&g_closeFilter);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    ::SetConsoleCtrlHandler(noteControlEvent, FALSE);
    ::SetEvent(g_finished);
}

void SignalWatcher::readSignal() {
    if (const int number = g_signal.exchange(0))
        emit signalled(number);
}
