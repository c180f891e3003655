// The packet cycle driven tick by tick against real receivers on 127.0.0.1.
#include "windowfixture.h"

#include "clickablelineedit.h"
#include "ipnddatafile.h"
#include "linktestsupport.h"
#include "type4frame.h"
#include "type4link.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QByteArray kBody1 = "3|0120001|2024-01-02|10:00:00|0299990001|A|ONE";
const QByteArray kBody2 = "3|0130002|2024-01-02|10:00:01|0299990002|A|TWO";
const QByteArray kBody3 = "3|0140003|2024-01-02|10:00:02|0299990003|A|THREE";

QByteArray rawLogLine(const QByteArray &body) {
    return "2024-01-02\t10:00:00\tCH1\t" + body + "\r\n";
}

// A window with its one-second timer stopped, so each test steps time itself,
// a three-record data file chosen through the file dialog and row 0 enabled.
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
        setRow(0, row0.portText(), true);
        setRow(1, row1.portText(), false);
    }
    void start(int period) {
        setPeriod(period);
        w().RunControl_Click();
    }
    void ticks(int count) {
        for (int i = 0; i < count; ++i)
            w().Timer1_Timer();
    }
    // Each tick waits until link 1 has had its answer and closed, so the next send can go.
    bool answeredTicks(int count) {
        for (int i = 0; i < count; ++i) {
            ticks(1);
            if (!QTest::qWaitFor([this] {
                    Type4Link &link = w().frmTCP1();
                    return link.gPendingType4Packet.isEmpty() &&
                           link.wskMessage().socketState() == SocketState::Closed;
                }))
                return false;
        }
        return true;
    }
};

} // namespace

class TestPacketCycle : public QObject {
    Q_OBJECT
private slots:
    void firstPacketAtTheTwentyFirstTick() {
        CycleFixture f;
        QTest::mouseClick(f.w().RunControl, Qt::LeftButton);
        QCOMPARE(f.w().RunControl->text(), QStringLiteral("Stop"));
        f.ticks(20);
        QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 19"));
        QVERIFY(f.sentBodies().isEmpty());
        QVERIFY(f.answeredTicks(1));
        QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 20"));
        QCOMPARE(f.w().PktNum->text(), QStringLiteral("9999"));
        QCOMPARE(f.sentBodies(), QByteArrayList{kBody1});
        QCOMPARE(f.row0.received(0), frameFileRecord(kBody1));
        QCOMPARE(frameFileRecord(kBody1).left(7), QByteArray("0010046"));
        // The next boundary comes 20 ticks later; the label runs 1 to 20 from now on.
        f.ticks(19);
        QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 19"));
        QCOMPARE(f.sentBodies().size(), 1);
        f.ticks(1);
        QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 20"));
        QCOMPARE(f.sentBodies(), (QByteArrayList{kBody1, kBody2}));
        QTRY_COMPARE(f.row0.received(1), frameFileRecord(kBody2));
        QCOMPARE(f.w().PktNum->text(), QStringLiteral("9999"));
    }

    void enableCombinations_data() {
        QTest::addColumn<bool>("row0");
        QTest::addColumn<bool>("row1");
        QTest::addColumn<QByteArrayList>("toRow0");
        QTest::addColumn<QByteArrayList>("toRow1");
        const QByteArray frame1 = frameFileRecord(kBody1);
        const QByteArray frame2 = frameFileRecord(kBody2);
        // Period 2, four ticks after Start: B (tick 0), A (boundary), B, A.
        QTest::newRow("row 0 only") << true << false << QByteArrayList{frame1} << QByteArrayList{};
        QTest::newRow("row 1 only: first tick after Start, then after the boundary")
            << false << true << QByteArrayList{} << QByteArrayList{frame1, frame2};
        QTest::newRow("both: the same record one tick apart")
            << true << true << QByteArrayList{frame1} << QByteArrayList{frame1};
        QTest::newRow("neither") << false << false << QByteArrayList{} << QByteArrayList{};
    }

    void enableCombinations() {
        QFETCH(bool, row0);
        QFETCH(bool, row1);
        QFETCH(QByteArrayList, toRow0);
        QFETCH(QByteArrayList, toRow1);
        CycleFixture f;
        f.setRow(0, f.row0.portText(), row0);
        f.setRow(1, f.row1.portText(), row1);
        f.start(2);
        QVERIFY(f.answeredTicks(4));
        const auto receivedBy = [](const Peer &peer) {
            QByteArrayList all;
            for (int i = 0; i < peer.connectionCount(); ++i)
                all << peer.received(i);
            return all;
        };
        QCOMPARE(receivedBy(f.row0), toRow0);
        QCOMPARE(receivedBy(f.row1), toRow1);
        // The count runs down at every boundary, sent or not (ticks 2 and 4 were boundaries).
        QCOMPARE(f.w().gPktRemaining, qint16(9999));
    }

    void countedRunRunsOutAndRestartsFromTheTop() {
        CycleFixture f;
        QTest::mouseClick(f.w().chkUnlimited, Qt::LeftButton);
        QVERIFY(!f.w().chkUnlimited->isChecked());
        QVERIFY(f.w().PktNum->isEnabled());
        f.w().gPktRemaining = 2;
        f.start(1);
        QVERIFY(f.answeredTicks(4)); // the first tick of a period of 1 is inside it
        QCOMPARE(f.sentBodies(), (QByteArrayList{kBody1, kBody2}));
        QCOMPARE(f.w().PktNum->text(), QStringLiteral("0"));
        QCOMPARE(f.w().RunControl->text(), QStringLiteral("Stop"));
        f.w().RunControl_Click();
        f.w().RunControl_Click();
        QCOMPARE(f.w().gPktRemaining, qint16(10000));
        QCOMPARE(f.logLines().last(),
                 QStringLiteral("Open log file: ") + f.w().ipndDataFile().gDataFileName);
        QVERIFY(f.answeredTicks(1));
        QCOMPARE(f.sentBodies(), (QByteArrayList{kBody1, kBody2, kBody1}));
        QCOMPARE(f.row0.received(2), frameFileRecord(kBody1));
    }

    void stopAndStartKeepTheTickCount() {
        CycleFixture f;
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

    void boundaryWhileLink1IsConnected() {
        CycleFixture f;
        f.row0.answer.clear(); // a receiver that never answers
        Type4Link &link = f.w().frmTCP1();
        link.timerTCP().stop(); // step the send poll by hand
        f.start(1);
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
        QCOMPARE(f.sentBodies(), (QByteArrayList{kBody1, kBody2}));
    }

    void lowerPeriodMakesTheNextTickABoundary() {
        CycleFixture f;
        f.w().RunControl_Click();
        f.ticks(10);
        f.setPeriod(5);
        QCOMPARE(f.w().gPktPeriod, qint16(5));
        f.ticks(1);
        QCOMPARE(f.sentBodies().size(), 1);
        QCOMPARE(f.w().timerlabel->text(), QStringLiteral("Timer 10"));
    }

    void badPeriodIsKept_data() {
        QTest::addColumn<QString>("text");
        for (const char *text : {"abc", "0", "-3", "40000", ""})
            QTest::newRow(*text ? text : "empty") << QString::fromLatin1(text);
    }

    void badPeriodIsKept() {
        QFETCH(QString, text);
        CycleFixture f;
        f.w().PktPer->setText(text);
        f.w().PktPer_LostFocus();
        QCOMPARE(f.w().gPktPeriod, qint16(20));
        QCOMPARE(f.w().PktPer->text(), QStringLiteral("20"));
        QCOMPARE(f.logLines().last(),
                 QStringLiteral(
                     "Period \"%1\" is not a whole number from 1 to 32767; the period stays 20")
                     .arg(text));
    }

    void badPortSkipsTheSend() {
        CycleFixture f;
        f.setRow(0, QStringLiteral("70000"), true);
        f.start(1);
        f.ticks(2);
        QVERIFY(f.sentBodies().isEmpty());
        QCOMPARE(f.logLines().last(),
                 QStringLiteral("Port \"70000\" of the Type 4 socket is not a number "
                                "from 1 to 65535; packet not sent"));
        QCOMPARE(f.w().gPktRemaining, qint16(9999));
        f.setRow(0, f.row0.portText(), true);
        f.ticks(1);
        QCOMPARE(f.sentBodies(), QByteArrayList{kBody1});
    }

    void endOfFileRewinds() {
        CycleFixture f;
        f.start(1);
        QVERIFY(f.answeredTicks(6));
        // Three records, then the end of the file costs a period, then the first record again.
        QCOMPARE(f.sentBodies(), (QByteArrayList{kBody1, kBody2, kBody3, kBody1}));
        QVERIFY(f.logLines().contains(QStringLiteral("Close log file: ") +
                                      f.w().ipndDataFile().gDataFileName));
        QCOMPARE(f.row0.received(3), frameFileRecord(kBody1));
    }

    void cancelledDialog() {
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
};

QTEST_MAIN(TestPacketCycle)
#include "tst_packetcycle.moc"
