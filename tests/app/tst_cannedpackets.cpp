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

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

void clickOption(QAbstractButton *button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

struct PanelFixture : WindowFixture {
    Peer type4;
    Peer type5;
    PanelFixture() {
        w().Timer1->stop();
        w().txbAddress[0]->setText(QStringLiteral("127.0.0.1"));
        w().txbPort[0]->setText(type4.portText());
        w().txbAddress[1]->setText(QStringLiteral("127.0.0.1"));
        w().txbPort[1]->setText(type5.portText());
        type4.answer = "OK";
    }
    QPushButton *button(const QString &name) {
        const std::pair<const char *, QPushButton *> buttons[] = {{"Standard", w().cmdStandard},
                                                                  {"No Add", w().cmdNoAdd},
                                                                  {"Long", w().cmdLongAdd},
                                                                  {"Min", w().cmdMinAdd},
                                                                  {"Max", w().cmdMaxAdd}};
        for (const auto &[caption, b] : buttons)
            if (name == QLatin1String(caption))
                return b;
        return nullptr;
    }
};

} // namespace

class TestCannedPackets : public QObject {
    Q_OBJECT
private slots:
    void buttonsSendTheirExactFrame_data();
    void buttonsSendTheirExactFrame();
    void terminalIdAsTyped();
    void buttonWhileType5IsSelected();
    void badPortSkipsTheButton();
    void send5CannedDocument();
    void send5TwicePendingHoldsOneDocument();
    void send5WithLoadedFile();
    void send5WhileType4IsSelected();
    void heartbeatAnsweredOnLink2();
    void xmlDialogCancelled();
};

void TestCannedPackets::buttonsSendTheirExactFrame_data() {
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<bool>("moli");
    QTest::addColumn<int>("shape");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("record");
    const auto moli = cannedMoliRecords();
    const QByteArray standard = cannedIpndRecord(CannedRecord::Standard);
    QTest::newRow("Standard") << "Standard" << false << 5 << QByteArray("99903073") << standard;
    QTest::newRow("No Add") << "No Add" << false << 5 << QByteArray("99901593")
                            << cannedIpndRecord(CannedRecord::NoAdd);
    QTest::newRow("Long") << "Long" << false << 5 << QByteArray("99906883")
                          << cannedIpndRecord(CannedRecord::Long);
    QTest::newRow("Min") << "Min" << false << 5 << QByteArray("99901143")
                         << cannedIpndRecord(CannedRecord::Min);
    QTest::newRow("Max") << "Max" << false << 5 << QByteArray("99907063")
                         << cannedIpndRecord(CannedRecord::Max);
    QTest::newRow("Standard + Point")
        << "Standard" << true << 0 << QByteArray("99904124") << standard + moli[0];
    QTest::newRow("Standard + None")
        << "Standard" << true << 5 << QByteArray("99903804") << standard + moli[5];
    QTest::newRow("Min + None") << "Min" << true << 5 << QByteArray("99901874")
                                << cannedIpndRecord(CannedRecord::Min) + moli[5];
    QTest::newRow("Max + MOLI takes the full record whatever the shape")
        << "Max" << true << 1 << QByteArray("99912914")
        << cannedIpndRecord(CannedRecord::Max) + moli[6];
    QTest::newRow("Long + Polygon") << "Long" << true << 3 << QByteArray("99909284")
                                    << cannedIpndRecord(CannedRecord::Long) + moli[3];
}

void TestCannedPackets::buttonsSendTheirExactFrame() {
    QFETCH(QString, buttonName);
    QFETCH(bool, moli);
    QFETCH(int, shape);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, record);
    PanelFixture f;
    f.w().chkMOLI->setChecked(moli);
    clickOption(f.w().optMOLI[shape]);
    QTest::mouseClick(f.button(buttonName), Qt::LeftButton);
    const QByteArray frame = header + record;
    QCOMPARE(f.logLines().last(), QStringLiteral("--> ") + QString::fromLatin1(frame));
    QTRY_COMPARE(f.type4.received(0), frame);
    QTRY_COMPARE(f.w().lbProcessed->text(), QStringLiteral("1"));
    QVERIFY(f.w().txbMessage->toPlainText().endsWith(QStringLiteral(" OK")));
    if (buttonName == QLatin1String("Min") && moli)
        QVERIFY(frame.contains("||N|"));
}

void TestCannedPackets::terminalIdAsTyped() {
    PanelFixture f;
    f.w().txbTermID->setText(QStringLiteral("12"));
    QTest::mouseClick(f.w().cmdStandard, Qt::LeftButton);
    QTRY_COMPARE(f.type4.received(0).left(7), QByteArray("1203073"));
    f.w().txbTermID->setText(QStringLiteral("12345"));
    QTRY_COMPARE(f.w().lbProcessed->text(), QStringLiteral("1"));
    QTest::mouseClick(f.w().cmdStandard, Qt::LeftButton);
    QTRY_COMPARE(f.type4.received(1).left(10), QByteArray("1234503073"));
}

void TestCannedPackets::buttonWhileType5IsSelected() {
    PanelFixture f;
    clickOption(f.w().optRecType[1]);
    f.w().cmdStandard_Click();
    QCOMPARE(f.logLines().last(), QStringLiteral("--> "));
    QVERIFY(f.w().frmTCP1().gPendingType4Packet.isEmpty());
    QCOMPARE(f.w().frmTCP1().wskMessage().RemotePort(), qint32(f.type4.port()));
}

void TestCannedPackets::badPortSkipsTheButton() {
    PanelFixture f;
    f.w().txbPort[0]->setText(QStringLiteral("port"));
    QTest::mouseClick(f.w().cmdMaxAdd, Qt::LeftButton);
    QCOMPARE(f.logLines(),
             QStringList{QStringLiteral(
                 "Port \"port\" of the Type 4 socket is not a number from 1 to 65535; "
                 "packet not sent")});
    QVERIFY(f.w().frmTCP1().gPendingType4Packet.isEmpty());
}

void TestCannedPackets::send5CannedDocument() {
    PanelFixture f;
    f.type5.answer = "DOC-OK";
    clickOption(f.w().optRecType[1]);
    QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
    QTRY_COMPARE(f.type5.received(0), cannedAmlDocument());
    QTRY_COMPARE(f.w().lbProcessed->text(), QStringLiteral("1"));
    QVERIFY(f.w().txbMessage->toPlainText().endsWith(QStringLiteral(" DOC-OK")));
    // The connection lasts: a second document goes out on it.
    QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
    QTRY_COMPARE(f.type5.received(0), cannedAmlDocument() + cannedAmlDocument());
    QCOMPARE(f.type5.connectionCount(), 1);
}

void TestCannedPackets::send5TwicePendingHoldsOneDocument() {
    PanelFixture f;
    clickOption(f.w().optRecType[1]);
    f.w().frmTCP2().timerTCP2().stop();
    f.w().cmdSend5_Click();
    f.w().cmdSend5_Click();
    QCOMPARE(f.w().frmTCP2().gPendingType5Packet, cannedAmlDocument());
}

void TestCannedPackets::send5WithLoadedFile() {
    PanelFixture f;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("three.xml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<a>\r\n<Date_Sent>2019-11-04</Date_Sent>\r\n</a>\r\n");
    file.close();
    f.dialog->answer = path;
    clickOption(f.w().optRecType[1]);
    QTest::keyClick(f.w().txbFileName, Qt::Key_Space);
    QCOMPARE(f.w().txbFileName->text(), path);
    QCOMPARE(f.logLines(), (QStringList{QStringLiteral("Getting File"), QStringLiteral("<a>"),
                                        QStringLiteral("<Date_Sent>2024-03-05</Date_Sent>"),
                                        QStringLiteral("</a>"), QStringLiteral("End of File")}));
    f.w().frmTCP2().timerTCP2().stop();
    f.w().cmdSend5_Click();
    f.w().cmdSend5_Click();
    const QByteArray joined = "<a><Date_Sent>2024-03-05</Date_Sent></a>";
    QCOMPARE(f.w().frmTCP2().gPendingType5Packet, joined + joined);
    f.w().frmTCP2().timerTCP2().start();
    // The second press found link 2 still connecting and started again: the last connection counts.
    QTRY_COMPARE(f.type5.received(int(f.type5.connectionCount()) - 1), joined + joined);
}

void TestCannedPackets::send5WhileType4IsSelected() {
    PanelFixture f;
    f.w().SendType5Packet();
    QVERIFY(f.w().frmTCP2().gPendingType5Packet.isEmpty());
    QCOMPARE(f.w().logText(), QString());
}

void TestCannedPackets::heartbeatAnsweredOnLink2() {
    PanelFixture f;
    clickOption(f.w().optRecType[1]);
    QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
    QTRY_COMPARE(f.type5.received(0), cannedAmlDocument());
    f.type5.send(QByteArray("\x02H\x03"));
    QTRY_COMPARE(f.type5.received(0), cannedAmlDocument() + QByteArray("\x02\x06\x03"));
    QCOMPARE(f.logLines().last(), QStringLiteral("Rxed Heartbeat. Send back ACK"));
    QCOMPARE(f.w().lbProcessed->text(), QString());
}

void TestCannedPackets::xmlDialogCancelled() {
    PanelFixture f;
    clickOption(f.w().optRecType[1]);
    f.dialog->cancel = true;
    f.w().txbFileName_Click();
    QCOMPARE(f.w().txbFileName->text(), QStringLiteral(".\\*.xml"));
    QCOMPARE(f.logLines(),
             (QStringList{QStringLiteral("Open LOG file: .\\*.xml"),
                          QStringLiteral("ERROR on File search on file name .\\*.xml")}));
    QCOMPARE(f.w().xmlLineStore().gXmlLineCount, qint16(0));
}

QTEST_MAIN(TestCannedPackets)
#include "tst_cannedpackets.moc"
