// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiverprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>

#include <cstdio>

namespace {

constexpr int kStartTimeoutMs = 20'000;

qint64 statusFieldOf(const QString &path, const char *name) {
    QFile status(path);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

} // namespace

ReceiverProcess::ReceiverProcess(QString program)
    : m_program(std::move(program)) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                     [this] { m_out += m_process.readAllStandardOutput(); });
}

ReceiverProcess::~ReceiverProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool ReceiverProcess::start(quint16 type4Port, quint16 type5Port, const QStringList &options) {
    m_out.clear();
    m_process.start(m_program,
                    QStringList{QStringLiteral("--type4-port"), QString::number(type4Port),
                                QStringLiteral("--type5-port"), QString::number(type5Port)} +
                        options);
    QElapsedTimer waited;
    waited.start();
    while (!m_out.contains("talvrecv listening:") && waited.elapsed() < kStartTimeoutMs) {
        if (m_process.state() == QProcess::NotRunning && !m_process.waitForStarted(0))
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (m_out.contains("talvrecv listening:"))
        return true;
    std::fprintf(stderr, "soak: talvrecv %s did not start: %s\n",
                 qPrintable(options.join(QLatin1Char(' '))), m_out.constData());
    return false;
}

ReceiverProcess::Summary ReceiverProcess::stop() {
    Summary summary;
    m_process.terminate();
    QElapsedTimer waited;
    waited.start();
    while (m_process.state() != QProcess::NotRunning && waited.elapsed() < kStartTimeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
    m_out += m_process.readAllStandardOutput();
    summary.exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    const QString out = QString::fromLocal8Bit(m_out);
    const auto numbers = [&out](const char *pattern) {
        const QRegularExpressionMatch match =
            QRegularExpression(QLatin1String(pattern), QRegularExpression::MultilineOption)
                .match(out);
        QList<qint64> found;
        for (int i = 1; i <= match.lastCapturedIndex(); ++i)
            found << match.captured(i).toLongLong();
        return found;
    };
    const auto frames = numbers("^summary: frames received \\d+, valid (\\d+), invalid (\\d+)$");
    const auto documents =
        numbers("^summary: documents received \\d+, valid (\\d+), invalid (\\d+)$");
    const auto heartbeats =
        numbers("^summary: heartbeats sent (\\d+), answered (\\d+), not answered (\\d+)");
    const auto connections =
        numbers("^summary: connections (\\d+), dropped by the receiver (\\d+)$");
    summary.read = frames.size() == 2 && documents.size() == 2 && heartbeats.size() == 3 &&
                   connections.size() == 2;
    if (!summary.read)
        return summary;
    summary.framesValid = frames[0];
    summary.framesInvalid = frames[1];
    summary.documentsValid = documents[0];
    summary.documentsInvalid = documents[1];
    summary.heartbeatsSent = heartbeats[0];
    summary.heartbeatsAnswered = heartbeats[1];
    summary.heartbeatsNotAnswered = heartbeats[2];
    summary.connections = connections[0];
    summary.connectionsDropped = connections[1];
    return summary;
}

qint64 ReceiverProcess::statusField(const char *name) const {
    return statusFieldOf(QStringLiteral("/proc/%1/status").arg(pid()), name);
}

qint64 ReceiverProcess::residentKb() const {
    return statusField("VmRSS");
}

qint64 ReceiverProcess::peakResidentKb() const {
    return statusField("VmHWM");
}

int ReceiverProcess::countLines(const QString &text) const {
    return int(QString::fromLocal8Bit(m_out).count(text));
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

qint64 ownResidentKb() {
    return statusFieldOf(QStringLiteral("/proc/self/status"), "VmRSS");
}
