// SPDX-License-Identifier: GPL-3.0-or-later
// The canned Type 4 test packets and the Type 5 panel.
#include "frmipndzandrel.h"

#include "clickablelineedit.h"

#include "cannedrecords.h"
#include "ipnddatafile.h"
#include "socketcontrol.h"
#include "type4frame.h"
#include "type4link.h"
#include "type5link.h"
#include "xmllinestore.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

namespace {
constexpr int kFullMoliRecordIndex = 6;
constexpr qint16 kOriginate = 2;
} // namespace

void frmIPNDZandrel::cmdStandard_Click() {
    sendCannedRecord(cannedIpndRecord(CannedRecord::Standard) + GetMOLIRecord());
}

void frmIPNDZandrel::cmdNoAdd_Click() {
    sendCannedRecord(cannedIpndRecord(CannedRecord::NoAdd) + GetMOLIRecord());
}

void frmIPNDZandrel::cmdLongAdd_Click() {
    sendCannedRecord(cannedIpndRecord(CannedRecord::Long) + GetMOLIRecord());
}

void frmIPNDZandrel::cmdMinAdd_Click() {
    sendCannedRecord(cannedIpndRecord(CannedRecord::Min) + GetMOLIRecord());
}

void frmIPNDZandrel::cmdMaxAdd_Click() {
    QByteArray record = cannedIpndRecord(CannedRecord::Max);
    if (chkMOLI->isChecked())
        record += gMOLIRecords[kFullMoliRecordIndex];
    sendCannedRecord(record);
}

void frmIPNDZandrel::sendCannedRecord(const QByteArray &record) {
    Type4Link &link = frmTCP1();
    SocketControl &socket = link.wskMessage();
    if (socket.socketState() != SocketState::Closed)
        socket.Close();
    if (!setLink1RemoteFromRow(0))
        return;
    BuildType4Packet(record);
    LogMessage(QStringLiteral("--> ") + QString::fromLatin1(link.gPendingType4Packet));
}

QByteArray frmIPNDZandrel::GetMOLIRecord() const {
    if (!chkMOLI->isChecked())
        return {};
    for (int i = 0; i < int(optMOLI.size()); ++i) {
        if (optMOLI[i]->isChecked())
            return gMOLIRecords[i];
    }
    return {};
}

void frmIPNDZandrel::BuildType4Packet(const QByteArray &record) {
    if (!optRecType[0]->isChecked())
        return;
    frmTCP1().gPendingType4Packet =
        frameCannedRecord(txbTermID->text().toLatin1(), record, chkMOLI->isChecked());
}

// ---------------------------------------------------------------- Type 5

void frmIPNDZandrel::cmdSend5_Click() {
    SendType5Packet();
}

void frmIPNDZandrel::SendType5Packet() {
    if (!optRecType[1]->isChecked())
        return;
    Type5Link &link = frmTCP2();
    link.gPendingType5Packet = nextType5Packet(link.gPendingType5Packet, *m_xml);
    link.tmrPacketResponse2().start();
    link.SetTCP2(kOriginate);
}

void frmIPNDZandrel::txbFileName_Click() {
    OpenDataFileDialog2();
}

void frmIPNDZandrel::OpenDataFileDialog2() {
    m_ipnd->close();
    QString source = QStringLiteral(".\\*.xml");
    OpenDialogBox(QStringLiteral("XML Data File"), source,
                  QStringLiteral("XML file (*.xml)|*.xml|All (*.*)|*.*"));
    txbFileName->setText(source);
    LogMessage(QStringLiteral("Open LOG file: ") + source);
    OpenXMLFile(source);
}

void frmIPNDZandrel::OpenXMLFile(const QString &fileName) {
    m_xml->OpenXMLFile(fileName);
}
