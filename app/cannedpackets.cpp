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
constexpr qint16 kOriginate = 2;
} // namespace

void frmIPNDZandrel::cmdStandard_Click() {
    sendCannedRecord(cannedRecordWithMoli(CannedRecord::Standard, GetMOLIShape(), gMOLIRecords));
}

void frmIPNDZandrel::cmdNoAdd_Click() {
    sendCannedRecord(cannedRecordWithMoli(CannedRecord::NoAdd, GetMOLIShape(), gMOLIRecords));
}

void frmIPNDZandrel::cmdLongAdd_Click() {
    sendCannedRecord(cannedRecordWithMoli(CannedRecord::Long, GetMOLIShape(), gMOLIRecords));
}

void frmIPNDZandrel::cmdMinAdd_Click() {
    sendCannedRecord(cannedRecordWithMoli(CannedRecord::Min, GetMOLIShape(), gMOLIRecords));
}

void frmIPNDZandrel::cmdMaxAdd_Click() {
    sendCannedRecord(cannedRecordWithMoli(CannedRecord::Max, GetMOLIShape(), gMOLIRecords));
}

void frmIPNDZandrel::sendCannedRecord(const QByteArray &record) {
    Type4Link &link = frmTCP1();
    SocketControl &socket = link.wskMessage();
    if (socket.socketState() != SocketState::Closed)
        socket.Close();
    if (!setLink1RemoteFromRow(0))
        return;
    BuildType4Packet(record);
    if (!link.gPendingType4Packet.isEmpty())
        emit type4PacketStored(false);
    LogMessage(QStringLiteral("--> ") + QString::fromLatin1(link.gPendingType4Packet));
}

std::optional<int> frmIPNDZandrel::GetMOLIShape() const {
    if (!chkMOLI->isChecked())
        return std::nullopt;
    for (int i = 0; i < int(optMOLI.size()); ++i) {
        if (optMOLI[i]->isChecked())
            return i;
    }
    return -1;
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
