// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// talvrecv as a process of its own, on ports chosen by the caller, with the
// summary it prints when it is stopped.
class ReceiverProcess {
public:
    struct Summary {
        bool read = false; // the summary lines were found
        int exitCode = -1;
        qint64 framesValid = 0, framesInvalid = 0;
        qint64 documentsValid = 0, documentsInvalid = 0;
        qint64 heartbeatsSent = 0, heartbeatsAnswered = 0, heartbeatsNotAnswered = 0;
        qint64 connections = 0, connectionsDropped = 0;
    };

    explicit ReceiverProcess(QString program);
    ~ReceiverProcess();

    // Starts it and waits for its listening line; false (with the reason
    // on stderr) when it does not come.
    bool start(quint16 type4Port, quint16 type5Port, const QStringList &options);
    // SIGTERM, then the summary it printed.
    Summary stop();

    qint64 pid() const { return m_process.processId(); }
    // Its resident memory and the peak of it, in KiB, from /proc.
    qint64 residentKb() const;
    qint64 peakResidentKb() const;
    // Lines printed so far that contain text.
    int countLines(const QString &text) const;

private:
    qint64 statusField(const char *name) const;

    QString m_program;
    QProcess m_process;
    QByteArray m_out;
};

// A port on 127.0.0.1 nobody listens on now.
quint16 freePort();
// Resident memory of this process, in KiB.
qint64 ownResidentKb();
