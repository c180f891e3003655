// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// talvrecv, the reference receiver, run as a separate process on ports of its
// own choosing; keeps everything it prints, stdout and stderr together.

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

class TalvrecvProcess {
public:
    static constexpr int kWaitMs = 20'000;

    explicit TalvrecvProcess(const QStringList &arguments) {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                         [this] { m_out += m_process.readAllStandardOutput(); });
        m_process.start(QStringLiteral(TALVRECV_PATH),
                        QStringLiteral("--type4-port 0 --type5-port 0").split(u' ') + arguments);
    }
    ~TalvrecvProcess() {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Waits for the listening line and reads the ports from it (0 for a refused side).
    bool waitListening() {
        static const QRegularExpression listening(
            QStringLiteral("^talvrecv listening: Type 4 (?:refused|on \\S+ port (\\d+)), "
                           "Type 5 (?:refused|on \\S+ port (\\d+))$"),
            QRegularExpression::MultilineOption);
        QRegularExpressionMatch match;
        (void)QTest::qWaitFor(
            [&] {
                match = listening.match(output());
                return match.hasMatch() || !isRunning();
            },
            kWaitMs);
        type4Port = quint16(match.captured(1).toUInt());
        type5Port = quint16(match.captured(2).toUInt());
        return match.hasMatch();
    }

    quint16 type4Port = 0; // once listening
    quint16 type5Port = 0;
    // Lines end in LF, as on Linux, also where the console writes CR LF (Windows).
    QString output() const {
        return QString::fromLocal8Bit(QByteArray(m_out).replace("\r\n", "\n"));
    }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    // Exit code once it has ended by itself, or -1; SIGTERM first when asked.
    int waitExit(bool terminate = false) {
        if (terminate)
            m_process.terminate();
        if (!QTest::qWaitFor([this] { return !isRunning(); }, kWaitMs) ||
            m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        m_out += m_process.readAllStandardOutput();
        return m_process.exitCode();
    }

private:
    QProcess m_process;
    QByteArray m_out;
};
