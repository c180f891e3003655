#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the event loop. The handler
// only writes the signal number into a socket pair; everything else runs
// in the loop. One watcher at a time.
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
