// SPDX-License-Identifier: GPL-3.0-or-later
// The packet cycle: Start and Stop, the one-second tick, the period box.
#include "frmipndzandrel.h"

#include "clickablelineedit.h"

#include "ipnddatafile.h"
#include "socketcontrol.h"
#include "type4frame.h"
#include "type4link.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr qint16 kPacketsPerRun = 10000;
constexpr int kMaxPort = 65535;
} // namespace

void frmIPNDZandrel::RunControl_Click() {
    if (gRunning) {
        RunControl->setText(QStringLiteral("Start"));
        gRunning = false;
        return;
    }
    if (gPktRemaining <= 0) {
        m_ipnd->close();
        gPktRemaining = kPacketsPerRun;
        OpenDataFile(m_ipnd->gDataFileName);
    }
    RunControl->setText(QStringLiteral("Stop"));
    gRunning = true;
}

void frmIPNDZandrel::Timer1_Timer() {
    if (!gRunning)
        return;
    if (gTickCount >= gPktPeriod) {
        timerlabel->setText(QStringLiteral("Timer ") + QString::number(gTickCount));
        if (chkUnlimited->isChecked())
            gPktRemaining = kPacketsPerRun;
        gTickCount = 1;
        if (gPktRemaining <= 0) {
            emit periodBoundary();
            return;
        }
        --gPktRemaining;
        PktNum->setText(QString::number(gPktRemaining));
        gPeriodSent = false;
        if (rowEnabled(0) && link1Closed() && setLink1RemoteFromRow(0))
            sendOnePacket();
        emit periodBoundary();
        return;
    }

    timerlabel->setText(QStringLiteral("Timer ") + QString::number(gTickCount));
    ++gTickCount;
    if (!rowEnabled(1))
        return;
    QByteArray &gDataRecord = m_ipnd->gDataRecord;
    if (!gDataRecord.isEmpty()) {
        if (rowEnabled(0) && link1Closed() && setLink1RemoteFromRow(1))
            SendFileRecord();
        gDataRecord.clear();
    }
    if (gDataRecord.isEmpty()) {
        if (rowEnabled(0) || gPeriodSent)
            return;
        if (link1Closed() && setLink1RemoteFromRow(1))
            sendOnePacket();
        gPeriodSent = true;
    }
}

void frmIPNDZandrel::PktPer_LostFocus() {
    bool ok = false;
    const int period = PktPer->text().trimmed().toInt(&ok);
    if (!ok || period < 1 || period > SHRT_MAX) {
        LogMessage(QStringLiteral("Period \"%1\" is not a whole number from 1 to 32767; "
                                  "the period stays %2")
                       .arg(PktPer->text())
                       .arg(gPktPeriod));
        PktPer->setText(QString::number(gPktPeriod));
        return;
    }
    gPktPeriod = static_cast<qint16>(period);
}

void frmIPNDZandrel::chkUnlimited_Click() {
    const bool limited = !chkUnlimited->isChecked();
    lbNoPackets->setEnabled(limited);
    PktNum->setEnabled(limited);
}

bool frmIPNDZandrel::rowEnabled(int row) const {
    return chkEnable.at(row)->isChecked();
}

bool frmIPNDZandrel::link1Closed() {
    return frmTCP1().wskMessage().socketState() == SocketState::Closed;
}

bool frmIPNDZandrel::setLink1RemoteFromRow(int row) {
    const QString portText = txbPort.at(row)->text();
    bool ok = false;
    const int port = portText.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > kMaxPort) {
        LogMessage(
            QStringLiteral("Port \"%1\" of the %2 socket is not a number from 1 to 65535; "
                           "packet not sent")
                .arg(portText, row == 0 ? QStringLiteral("Type 4") : QStringLiteral("Type 5")));
        return false;
    }
    SocketControl &socket = frmTCP1().wskMessage();
    socket.setRemoteHost(txbAddress.at(row)->text());
    socket.setRemotePort(port);
    m_link1Row = row;
    return true;
}

void frmIPNDZandrel::sendOnePacket() {
    if (m_dataFileForm == QLatin1String("MULTIPKT")) {
        do {
            if (m_ipnd->ReadMultiPartRecord() && m_ipnd->gSeqComplete)
                SendFileRecord();
        } while (!m_ipnd->gSeqComplete && !m_ipnd->endOfInput());
        return;
    }
    if (m_ipnd->ReadRawLogRecord())
        SendFileRecord();
}

void frmIPNDZandrel::setDataFileForm(const QString &form) {
    m_dataFileForm = form;
    lbFileType->setText(form);
}

void frmIPNDZandrel::SendFileRecord() {
    const QByteArray &body = m_ipnd->gDataRecord;
    if (!IpndDataFile::isSendable(body))
        return;
    Type4Link &link = frmTCP1();
    link.gPendingType4Packet = frameFileRecord(body);
    emit type4PacketStored(true);
    LogMessage(QStringLiteral("RSFP: Data Sent: ") + QString::fromLatin1(body));
    link.gResponseTime = 0;
    link.tmrPacketResponse().start();
}

// ---------------------------------------------------------------- IPND data file

QString frmIPNDZandrel::OpenDialogBox(const QString &title, QString &source,
                                      const QString &filterText) {
    const QString chosen = m_platform.fileDialog->showOpen(this, title, source, filterText);
    if (!chosen.isEmpty())
        source = chosen;
    return chosen;
}

void frmIPNDZandrel::lbIPNDfile_Click() {
    SelectDataFile();
}

void frmIPNDZandrel::SelectDataFile() {
    m_ipnd->close();
    lbIPNDfile->setText(QStringLiteral(".\\ipnd3.x01"));
    QString source = QStringLiteral(".\\*.x01");
    OpenDialogBox(QStringLiteral("IPND Data File"), source,
                  QStringLiteral("Data file (*.x01)|*.x01|All (*.*)|*.*"));
    m_ipnd->openChosenFile(source);
}

void frmIPNDZandrel::OpenDataFile(const QString &name) {
    m_ipnd->OpenDataFile(name);
}
