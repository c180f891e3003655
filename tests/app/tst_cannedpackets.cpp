// The canned Type 4 buttons and the Type 5 panel, clicked as an operator would,
// checked on the bytes a real receiver on 127.0.0.1 gets.
#include "windowfixture.h"

#include "amllayout.h"
#include "cannedrecords.h"
#include "clickablelineedit.h"
#include "linktestsupport.h"
#include "type4link.h"
#include "type5link.h"
#include "xmllinestore.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

namespace {

struct PanelFixture : WindowFixture {
    Peer type4;
    Peer type5;
    PanelFixture() {
        w().Timer1->stop();
        setRow(0, type4.portText(), false);
        setRow(1, type5.portText(), false);
        type4.answer = "OK";
    }
    void pickType5() { clickOption(w().optRecType[1]); }
};

} // namespace

class TestCannedPackets : public QObject {
    Q_OBJECT
private slots:
    void buttonsSendTheirExactFrame_data() {
        QTest::addColumn<int>("button"); // 0 Standard, 1 No Add, 2 Long, 3 Min, 4 Max
        QTest::addColumn<int>("shape");  // -1: "MOLI Data" off
        QTest::addColumn<QString>("termId");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("record");
        const auto moli = cannedMoliRecords();
        const auto row = [](const char *tag, int button, int shape, const char *header,
                            const QByteArray &record, const char *termId = "999") {
            QTest::newRow(tag) << button << shape << QString::fromLatin1(termId)
                               << QByteArray(header) << record;
        };
        using enum CannedRecord;
        row("Standard", 0, -1, "99903073", cannedIpndRecord(Standard));
        row("No Add", 1, -1, "99901593", cannedIpndRecord(NoAdd));
        row("Long", 2, -1, "99906883", cannedIpndRecord(Long));
        row("Min", 3, -1, "99901143", cannedIpndRecord(Min));
        row("Max", 4, -1, "99907063", cannedIpndRecord(Max));
        row("Standard + Point", 0, 0, "99904124", cannedIpndRecord(Standard) + moli[0]);
        row("Standard + Ellipsoid", 0, 4, "99904214", cannedIpndRecord(Standard) + moli[4]);
        row("Standard + None", 0, 5, "99903804", cannedIpndRecord(Standard) + moli[5]);
        row("Min + None: no location", 3, 5, "99901874", cannedIpndRecord(Min) + moli[5]);
        row("Max + MOLI takes the full record whatever the shape", 4, 1, "99912914",
            cannedIpndRecord(Max) + moli[6]);
        row("Long + Polygon", 2, 3, "99909284", cannedIpndRecord(Long) + moli[3]);
        row("terminal id as typed: short", 0, -1, "1203073", cannedIpndRecord(Standard), "12");
        row("terminal id as typed: long", 0, -1, "1234503073", cannedIpndRecord(Standard), "12345");
    }

    void buttonsSendTheirExactFrame() {
        QFETCH(int, button);
        QFETCH(int, shape);
        QFETCH(QString, termId);
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, record);
        PanelFixture f;
        f.w().txbTermID->setText(termId);
        f.w().chkMOLI->setChecked(shape >= 0);
        clickOption(f.w().optMOLI[shape >= 0 ? shape : 5]);
        QTest::mouseClick(f.w().*kCannedButtons[button], Qt::LeftButton);
        const QByteArray frame = header + record;
        QCOMPARE(f.logLines().last(), QStringLiteral("--> ") + QString::fromLatin1(frame));
        QTRY_COMPARE(f.type4.received(0), frame);
        QTRY_COMPARE(f.w().lbProcessed->text(), QStringLiteral("1"));
        QVERIFY(f.w().txbMessage->toPlainText().endsWith(QStringLiteral(" OK")));
    }

    void buttonWhileType5IsSelected() {
        PanelFixture f;
        f.pickType5();
        f.w().cmdStandard_Click();
        QCOMPARE(f.logLines().last(), QStringLiteral("--> "));
        QVERIFY(f.w().frmTCP1().gPendingType4Packet.isEmpty());
        QCOMPARE(f.w().frmTCP1().wskMessage().RemotePort(), qint32(f.type4.port()));
    }

    void badPortSkipsTheButton() {
        PanelFixture f;
        f.w().txbPort[0]->setText(QStringLiteral("port"));
        QTest::mouseClick(f.w().cmdMaxAdd, Qt::LeftButton);
        QCOMPARE(f.logLines(),
                 QStringList{QStringLiteral(
                     "Port \"port\" of the Type 4 socket is not a number from 1 to 65535; "
                     "packet not sent")});
        QVERIFY(f.w().frmTCP1().gPendingType4Packet.isEmpty());
    }

    void send5CannedDocument() {
        PanelFixture f;
        f.type5.answer = "DOC-OK";
        f.pickType5();
        QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
        QTRY_COMPARE(f.type5.received(0), cannedAmlDocument());
        QTRY_COMPARE(f.w().lbProcessed->text(), QStringLiteral("1"));
        QVERIFY(f.w().txbMessage->toPlainText().endsWith(QStringLiteral(" DOC-OK")));
        // The connection lasts: a second document goes out on it.
        QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
        QTRY_COMPARE(f.type5.received(0), cannedAmlDocument() + cannedAmlDocument());
        QCOMPARE(f.type5.connectionCount(), 1);
    }

    void send5TwicePendingHoldsOneDocument() {
        PanelFixture f;
        f.pickType5();
        f.w().frmTCP2().timerTCP2().stop();
        f.w().cmdSend5_Click();
        f.w().cmdSend5_Click();
        QCOMPARE(f.w().frmTCP2().gPendingType5Packet, cannedAmlDocument());
    }

    void send5WithLoadedFile() {
        PanelFixture f;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("three.xml"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<a>\r\n<Date_Sent>2019-11-04</Date_Sent>\r\n</a>\r\n");
        file.close();
        f.dialog->answer = path;
        f.pickType5();
        QTest::keyClick(f.w().txbFileName, Qt::Key_Space);
        QCOMPARE(f.w().txbFileName->text(), path);
        QCOMPARE(f.logLines(),
                 (QStringList{QStringLiteral("Getting File"), QStringLiteral("<a>"),
                              QStringLiteral("<Date_Sent>2024-03-05</Date_Sent>"),
                              QStringLiteral("</a>"), QStringLiteral("End of File")}));
        f.w().frmTCP2().timerTCP2().stop();
        f.w().cmdSend5_Click();
        f.w().cmdSend5_Click();
        const QByteArray joined = "<a><Date_Sent>2024-03-05</Date_Sent></a>";
        QCOMPARE(f.w().frmTCP2().gPendingType5Packet, joined + joined);
        f.w().frmTCP2().timerTCP2().start();
        // The second press found link 2 still connecting and started again: the last connection
        // counts.
        QTRY_COMPARE(f.type5.received(int(f.type5.connectionCount()) - 1), joined + joined);
    }

    void send5WhileType4IsSelected() {
        PanelFixture f;
        f.w().SendType5Packet();
        QVERIFY(f.w().frmTCP2().gPendingType5Packet.isEmpty());
        QCOMPARE(f.w().logText(), QString());
    }

    void heartbeatAnsweredOnLink2() {
        PanelFixture f;
        f.pickType5();
        QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
        QTRY_COMPARE(f.type5.received(0), cannedAmlDocument());
        f.type5.send(QByteArray("\x02H\x03"));
        QTRY_COMPARE(f.type5.received(0), cannedAmlDocument() + QByteArray("\x02\x06\x03"));
        QCOMPARE(f.logLines().last(), QStringLiteral("Rxed Heartbeat. Send back ACK"));
        QCOMPARE(f.w().lbProcessed->text(), QString());
    }

    void xmlDialogCancelled() {
        PanelFixture f;
        f.pickType5();
        f.dialog->cancel = true;
        f.w().txbFileName_Click();
        QCOMPARE(f.w().txbFileName->text(), QStringLiteral(".\\*.xml"));
        QCOMPARE(f.logLines(),
                 (QStringList{QStringLiteral("Open LOG file: .\\*.xml"),
                              QStringLiteral("ERROR on File search on file name .\\*.xml")}));
        QCOMPARE(f.w().xmlLineStore().gXmlLineCount, qint16(0));
    }
};

QTEST_MAIN(TestCannedPackets)
#include "tst_cannedpackets.moc"
