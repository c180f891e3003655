// The packet cycle driven tick by tick against real receivers on 127.0.0.1.
#include "windowfixture.h"

#include "clickablelineedit.h"
#include "ipnddatafile.h"
#include "linktestsupport.h"
#include "type4frame.h"
#include "type4link.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QByteArray kBody1 = "3|0120001|2024-01-02|10:00:00|0299990001|A|ONE";
const QByteArray kBody2 = "3|0130002|2024-01-02|10:00:01|0299990002|A|TWO";
const QByteArray kBody3 = "3|0140003|2024-01-02|10:00:02|0299990003|A|THREE";

QByteArray rawLogLine(const QByteArray &body) {
    return "2024-01-02\t10:00:00\tCH1\t" + body + "\r\n";
}

// A window with its one-second timer stopped, so each test steps time itself,
// and a three-record data file chosen through the file dialog.
struct CycleFixture : WindowFixture {
    QTemporaryDir dir;
    Peer row0;
    Peer row1;

    CycleFixture() {
        w().Timer1->stop();
        const QString path = dir.filePath(QStringLiteral("cycle.x01"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(rawLogLine(kBody1) + rawLogLine(kBody2) + rawLogLine(kBody3));
        file.close();
        dialog->answer = path;
        w().lbIPNDfile_Click();
        row0.answer = "ACK0";
        row1.answer = "ACK1";
        setRow(0, row0.portText(), false);
        setRow(1, row1.portText(), false);
    }
    void setRow(int row, const QString &port, bool enabled) {
        w().txbAddress[row]->setText(QStringLiteral("127.0.0.1"));
        w().txbPort[row]->setText(port);
        w().chkEnable[row]->setChecked(enabled);
    }
    void ticks(int count) {
        for (int i = 0; i < count; ++i)
            w().Timer1_Timer();
    }
    // Waits until link 1 has had its answer and closed, so the next send can go.
    bool link1Idle() {
        return QTest::qWaitFor([this] {
            Type4Link &link = w().frmTCP1();
            return link.gPendingType4Packet.isEmpty() &&
                   link.wskMessage().socketState() == SocketState::Closed;
        });
    }
    QStringList sentBodies() const {
        QStringList bodies;
        for (const QString &line : logLines())
            if (line.startsWith(QLatin1String("RSFP: Data Sent: ")))
                bodies << line.mid(17);
        return bodies;
    }
};

} // namespace

class TestPacketCycle : public QObject {
    Q_OBJECT
private slots:
    void firstPacketAtTheTwentyFirstTick();
    void enableCombinations_data();
    void enableCombinations();
    void countedRunRunsOutAndRestartsFromTheTop();
    void stopAndStartKeepTheTickCount();
    void boundaryWhileLink1IsConnected();
    void lowerPeriodMakesTheNextTickABoundary();
    void badPeriodIsKept_data();
    void badPeriodIsKept();
    void badPortSkipsTheSend();
    void endOfFileRewinds();
    void cancelledDialog();
};

void TestPacketCycle::firstPacketAtTheTwentyFirstTick() {
    CycleFixture f;
    f.setRow(0, f.row0.portText(), true);
    QTest::mouseClick(f.w().RunControl, Qt::LeftButton);
    QCOMPARE(f.w().RunControl->text(), QStringLiteral("Stop"));
    f.ticks(20);
    QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 19"));
    QVERIFY(f.sentBodies().isEmpty());
    f.ticks(1);
    QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 20"));
    QCOMPARE(f.w().PktNum->text(), QStringLiteral("9999"));
    QCOMPARE(f.sentBodies(), QStringList{QString::fromLatin1(kBody1)});
    QTRY_COMPARE(f.row0.received(0), frameFileRecord(kBody1));
    QCOMPARE(frameFileRecord(kBody1).left(7), QByteArray("0010046"));
    QVERIFY(f.link1Idle());
    // The next boundary comes 20 ticks later; the label runs 1 to 20 from now on.
    f.ticks(19);
    QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 19"));
    QCOMPARE(f.sentBodies().size(), 1);
    f.ticks(1);
    QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 20"));
    QCOMPARE(f.sentBodies().size(), 2);
    QTRY_COMPARE(f.row0.received(1), frameFileRecord(kBody2));
    QCOMPARE(f.w().PktNum->text(), QStringLiteral("9999"));
}

void TestPacketCycle::enableCombinations_data() {
    QTest::addColumn<bool>("row0");
    QTest::addColumn<bool>("row1");
    QTest::addColumn<QByteArrayList>("toRow0");
    QTest::addColumn<QByteArrayList>("toRow1");
    const QByteArray frame1 = frameFileRecord(kBody1);
    const QByteArray frame2 = frameFileRecord(kBody2);
    // Period 2, three ticks after Start: B (tick 0), A (boundary), B.
    QTest::newRow("row 0 only") << true << false << QByteArrayList{frame1} << QByteArrayList{};
    QTest::newRow("row 1 only: first tick after Start, then after the boundary")
        << false << true << QByteArrayList{} << QByteArrayList{frame1, frame2};
    QTest::newRow("both: the same record one tick apart")
        << true << true << QByteArrayList{frame1} << QByteArrayList{frame1};
    QTest::newRow("neither") << false << false << QByteArrayList{} << QByteArrayList{};
}

void TestPacketCycle::enableCombinations() {
    QFETCH(bool, row0);
    QFETCH(bool, row1);
    QFETCH(QByteArrayList, toRow0);
    QFETCH(QByteArrayList, toRow1);
    CycleFixture f;
    f.setRow(0, f.row0.portText(), row0);
    f.setRow(1, f.row1.portText(), row1);
    f.w().PktPer->setText(QStringLiteral("2"));
    f.w().PktPer_LostFocus();
    f.w().RunControl_Click();
    for (int tick = 0; tick < 4; ++tick) {
        f.ticks(1);
        QVERIFY(f.link1Idle());
    }
    QCOMPARE(f.row0.connectionCount(), toRow0.size());
    QCOMPARE(f.row1.connectionCount(), toRow1.size());
    for (int i = 0; i < toRow0.size(); ++i)
        QCOMPARE(f.row0.received(i), toRow0[i]);
    for (int i = 0; i < toRow1.size(); ++i)
        QCOMPARE(f.row1.received(i), toRow1[i]);
    // The count runs down at every boundary, sent or not (ticks 2 and 4 were boundaries).
    QCOMPARE(f.w().gPktRemaining, qint16(9999));
}

void TestPacketCycle::countedRunRunsOutAndRestartsFromTheTop() {
    CycleFixture f;
    f.setRow(0, f.row0.portText(), true);
    QTest::mouseClick(f.w().chkUnlimited, Qt::LeftButton);
    QVERIFY(!f.w().chkUnlimited->isChecked());
    QVERIFY(f.w().PktNum->isEnabled());
    f.w().gPktRemaining = 2;
    f.w().PktPer->setText(QStringLiteral("1"));
    f.w().PktPer_LostFocus();
    f.w().RunControl_Click();
    f.ticks(1); // the first tick of a period of 1 is inside it
    for (int boundary = 0; boundary < 3; ++boundary) {
        f.ticks(1);
        QVERIFY(f.link1Idle());
    }
    QCOMPARE(f.sentBodies(),
             (QStringList{QString::fromLatin1(kBody1), QString::fromLatin1(kBody2)}));
    QCOMPARE(f.w().PktNum->text(), QStringLiteral("0"));
    QCOMPARE(f.w().RunControl->text(), QStringLiteral("Stop"));
    f.w().RunControl_Click();
    f.w().RunControl_Click();
    QCOMPARE(f.w().gPktRemaining, qint16(10000));
    QCOMPARE(f.logLines().last(),
             QStringLiteral("Open log file: ") + f.w().ipndDataFile().gDataFileName);
    f.ticks(1);
    QVERIFY(f.link1Idle());
    QCOMPARE(f.sentBodies().last(), QString::fromLatin1(kBody1));
    QCOMPARE(f.row0.received(2), frameFileRecord(kBody1));
}

void TestPacketCycle::stopAndStartKeepTheTickCount() {
    CycleFixture f;
    f.setRow(0, f.row0.portText(), true);
    f.w().RunControl_Click();
    f.ticks(12);
    f.w().RunControl_Click();
    QCOMPARE(f.w().RunControl->text(), QStringLiteral("Start"));
    f.ticks(30); // stopped: nothing moves
    QCOMPARE(f.w().gTickCount, qint16(12));
    f.w().RunControl_Click();
    f.ticks(8);
    QVERIFY(f.sentBodies().isEmpty());
    f.ticks(1);
    QCOMPARE(f.sentBodies().size(), 1);
}

void TestPacketCycle::boundaryWhileLink1IsConnected() {
    CycleFixture f;
    f.row0.answer.clear(); // a receiver that never answers
    f.setRow(0, f.row0.portText(), true);
    Type4Link &link = f.w().frmTCP1();
    link.timerTCP().stop(); // step the send poll by hand
    f.w().PktPer->setText(QStringLiteral("1"));
    f.w().PktPer_LostFocus();
    f.w().RunControl_Click();
    f.ticks(2);
    QCOMPARE(f.sentBodies().size(), 1);
    link.SendTCPPacket();
    QTRY_COMPARE(link.wskMessage().socketState(), SocketState::Connected);
    link.SendTCPPacket();
    QTRY_COMPARE(f.row0.received(0), frameFileRecord(kBody1));
    f.ticks(1);
    QCOMPARE(f.sentBodies().size(), 1);
    QCOMPARE(f.w().gPktRemaining, qint16(9999)); // unlimited: restored, then counted down
    QCOMPARE(f.w().PktNum->text(), QStringLiteral("9999"));
    link.SendTCPPacket();
    QCOMPARE(f.logLines().last(), QStringLiteral("Close Socket"));
    f.ticks(1);
    QCOMPARE(f.sentBodies(),
             (QStringList{QString::fromLatin1(kBody1), QString::fromLatin1(kBody2)}));
}

void TestPacketCycle::lowerPeriodMakesTheNextTickABoundary() {
    CycleFixture f;
    f.setRow(0, f.row0.portText(), true);
    f.w().RunControl_Click();
    f.ticks(10);
    f.w().PktPer->setText(QStringLiteral("5"));
    f.w().PktPer_LostFocus();
    QCOMPARE(f.w().gPktPeriod, qint16(5));
    f.ticks(1);
    QCOMPARE(f.sentBodies().size(), 1);
    QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 10"));
}

void TestPacketCycle::badPeriodIsKept_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("letters") << QStringLiteral("abc");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("negative") << QStringLiteral("-3");
    QTest::newRow("beyond 16 bits") << QStringLiteral("40000");
    QTest::newRow("empty") << QString();
}

void TestPacketCycle::badPeriodIsKept() {
    QFETCH(QString, text);
    CycleFixture f;
    f.w().PktPer->setText(text);
    f.w().PktPer_LostFocus();
    QCOMPARE(f.w().gPktPeriod, qint16(20));
    QCOMPARE(f.w().PktPer->text(), QStringLiteral("20"));
    QCOMPARE(
        f.logLines().last(),
        QStringLiteral("Period \"%1\" is not a whole number from 1 to 32767; the period stays 20")
            .arg(text));
}

void TestPacketCycle::badPortSkipsTheSend() {
    CycleFixture f;
    f.setRow(0, QStringLiteral("70000"), true);
    f.w().PktPer->setText(QStringLiteral("1"));
    f.w().PktPer_LostFocus();
    f.w().RunControl_Click();
    f.ticks(2);
    QVERIFY(f.sentBodies().isEmpty());
    QCOMPARE(f.logLines().last(),
             QStringLiteral("Port \"70000\" of the Type 4 socket is not a number "
                            "from 1 to 65535; packet not sent"));
    QCOMPARE(f.w().gPktRemaining, qint16(9999));
    f.setRow(0, f.row0.portText(), true);
    f.ticks(1);
    QCOMPARE(f.sentBodies(), QStringList{QString::fromLatin1(kBody1)});
}

void TestPacketCycle::endOfFileRewinds() {
    CycleFixture f;
    f.setRow(0, f.row0.portText(), true);
    f.w().PktPer->setText(QStringLiteral("1"));
    f.w().PktPer_LostFocus();
    f.w().RunControl_Click();
    f.ticks(1);
    for (int boundary = 0; boundary < 5; ++boundary) {
        f.ticks(1);
        QVERIFY(f.link1Idle());
    }
    const QString name = f.w().ipndDataFile().gDataFileName;
    // Three records, then the end of the file costs a period, then the first record again.
    QCOMPARE(f.sentBodies(),
             (QStringList{QString::fromLatin1(kBody1), QString::fromLatin1(kBody2),
                          QString::fromLatin1(kBody3), QString::fromLatin1(kBody1)}));
    QVERIFY(f.logLines().contains(QStringLiteral("Close log file: ") + name));
    QCOMPARE(f.row0.received(3), frameFileRecord(kBody1));
}

void TestPacketCycle::cancelledDialog() {
    CycleFixture f;
    f.dialog->cancel = true;
    f.w().lbIPNDfile_Click();
    QCOMPARE(f.w().lbIPNDfile->text(), QStringLiteral(".\\ipnd3.x01"));
    QVERIFY(f.logLines().last().startsWith(
        QStringLiteral("Unable to open log file, windows reports: ")));
    QVERIFY(!f.w().ipndDataFile().isOpen());
    // The file chosen before stays the one a new run reopens.
    QVERIFY(f.w().ipndDataFile().gDataFileName.endsWith(QStringLiteral("cycle.x01")));
}

QTEST_MAIN(TestPacketCycle)
#include "tst_packetcycle.moc"
