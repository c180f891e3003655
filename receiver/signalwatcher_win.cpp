#include "signalwatcher.h"

#include <QTimer>

#include <atomic>
#include <csignal>
#include <windows.h>

namespace {

// The console runs its control handler on a thread of its own: the handler
// only notes the event, and a timer on the loop looks at it.
std::atomic<int> g_signal{0};
constexpr int kPollMs = 100;

BOOL WINAPI noteControlEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        g_signal.store(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        g_signal.store(SIGTERM);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent) {
    ::SetConsoleCtrlHandler(noteControlEvent, TRUE);
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &SignalWatcher::readSignal);
    timer->start(kPollMs);
}

SignalWatcher::~SignalWatcher() {
    ::SetConsoleCtrlHandler(noteControlEvent, FALSE);
}

void SignalWatcher::readSignal() {
    if (const int number = g_signal.exchange(0))
        emit signalled(number);
}
