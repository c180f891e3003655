// The window, offscreen, against talvrecv running as a separate process:
// every frame and document the window sends is one talvrecv reports valid,
// and the window shows what talvrecv's answers, heartbeats and delays mean.
#include "talvrecvprocess.h"
#include "windowfixture.h"

#include "amllayout.h"
#include "clickablelineedit.h"
#include "ipnddatafile.h"
#include "linktestsupport.h"
#include "type4frame.h"
#include "type4link.h"
#include "type5link.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr int kWaitMs = 15'000; // generous: sanitizer builds on a busy machine

QString sample(const char *name) {
    return QStringLiteral(TALVGEN_SOURCE_DIR) + QStringLiteral("/samples/") + QLatin1String(name);
}

// talvrecv started with the given options, and the window with its one-second
// timer stopped (tests step it) and both socket rows pointed at talvrecv, disabled.
struct EndToEnd : WindowFixture {
    TalvrecvProcess receiver;
    bool listening;

    explicit EndToEnd(const QStringList &arguments = {}, quint16 type4Port = 0)
        : receiver(arguments, type4Port)
        , listening(receiver.waitListening()) {
        w().Timer1->stop();
        w().frmTCP1().timerTCP().stop();
        setRow(0, QString::number(type4Port ? type4Port : receiver.type4Port()), false);
        setRow(1, QString::number(receiver.type5Port()), false);
    }
    void startCycle(int period) {
        w().chkEnable[0]->setChecked(true);
        dialog->answer = sample("ipnd3.x01");
        w().lbIPNDfile_Click();
        setPeriod(period);
        w().RunControl_Click();
    }
    // Link 1's send poll, stepped by hand: a tick of the real 100 ms poll
    // closes a link still waiting for its answer, which would make these
    // tests depend on how quickly talvrecv is scheduled.
    bool link1Reaches(SocketState state) {
        Type4Link &link = w().frmTCP1();
        link.SendTCPPacket();
        return QTest::qWaitFor([&] { return link.wskMessage().socketState() == state; }, kWaitMs);
    }
    // Sends the pending packet, if any, and waits for link 1 to close on its answer.
    bool link1Delivers() {
        return w().frmTCP1().gPendingType4Packet.isEmpty() ||
               (link1Reaches(SocketState::Connected) && link1Reaches(SocketState::Closed));
    }
    qsizetype responsesLogged() const {
        static const QRegularExpression response(
            QStringLiteral("^Response Time \\d+ milliseconds    127\\.0\\.0\\.1> Data Pkt Rxd$"));
        return logLines().filter(response).size();
    }
    // Each line talvrecv printed, as "<side>[ on port <port>] <text>".
    QStringList verdicts() const {
        QStringList found;
        for (const TalvrecvProcess::Line &line : receiver.lines())
            found << line.side +
                         (line.onPort ? QStringLiteral(" on port %1").arg(line.onPort)
                                      : QString()) +
                         QLatin1Char(' ') + line.text;
        return found;
    }
    bool waitVerdicts(qsizetype count) {
        return QTest::qWaitFor([&] { return receiver.lines().size() >= count; }, kWaitMs);
    }
    // SIGTERM ends talvrecv with exit 0 and a summary that counts everything sent as valid.
    void finish(int frames, int documents) {
        QVERIFY(receiver.terminate());
        const QString out = receiver.output();
        QVERIFY2(receiver.exitedCleanly(), qPrintable(out));
        for (const auto &[what, count] : {std::pair{"frames", frames}, {"documents", documents}})
            QVERIFY2(out.contains(QStringLiteral("\nsummary: %1 received %2, valid %2, invalid 0\n")
                                      .arg(QLatin1String(what))
                                      .arg(count)),
                     qPrintable(out));
    }
};

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void cannedButtons_data() {
        QTest::addColumn<int>("shape"); // -1: "MOLI Data" off
        QTest::newRow("MOLI Data off") << -1;
        QTest::newRow("Polygon") << 3;
        QTest::newRow("None") << 5;
    }

    // Each button in turn, each press answered before the next.
    void cannedButtons() {
        QFETCH(int, shape);
        EndToEnd f;
        QVERIFY(f.listening);
        const bool moli = shape >= 0;
        if (moli) {
            f.w().chkMOLI->click();
            f.w().optMOLI[shape]->click();
        }
        const QRegularExpression expected(
            moli ? QStringLiteral("^T4 term 999 len (\\d{4}) type 4 fields 52\\+\\d+ OK$")
                 : QStringLiteral("^T4 term 999 len (\\d{4}) type 3 fields 52 OK$"));
        int sent = 0;
        for (ButtonMember button : kCannedButtons) {
            QTest::mouseClick(f.w().*button, Qt::LeftButton);
            const QString frame = f.logLines().last().mid(4); // after "--> "
            QVERIFY(f.link1Delivers());
            ++sent;
            QTRY_COMPARE_WITH_TIMEOUT(f.w().lbProcessed->text(), QString::number(sent), kWaitMs);
            QVERIFY(f.waitVerdicts(sent));
            const QString verdict = f.verdicts().last();
            QVERIFY2(expected.match(verdict).hasMatch(), qPrintable(verdict));
            QCOMPARE(expected.match(verdict).captured(1), frame.mid(3, 4)); // the length field
        }
        f.finish(sent, 0);
    }

    // Both rows, period 2: each record goes to row 0 at a boundary and to row 1
    // (talvrecv's Type 5 port) on link 1 one tick later.
    void dataFileCycle() {
        EndToEnd f;
        QVERIFY(f.listening);
        f.w().chkEnable[1]->setChecked(true);
        f.startCycle(2);
        QVERIFY(f.w().ipndDataFile().isOpen());
        for (int tick = 0; tick < 6; ++tick) {
            f.w().Timer1_Timer();
            QVERIFY(f.link1Delivers());
        }
        const QByteArrayList bodies = f.sentBodies();
        QCOMPARE(bodies.size(), 4);
        QVERIFY(f.waitVerdicts(bodies.size()));
        QStringList expected;
        for (int i = 0; i < bodies.size(); ++i) {
            const bool toRow1 = i % 2 == 1; // the record row 0 had, again
            if (toRow1)
                QCOMPARE(bodies[i], bodies[i - 1]);
            expected << QStringLiteral("T4%1 term %2 len %3 type %4 fields OK")
                            .arg(toRow1 ? QStringLiteral(" on port %1").arg(f.receiver.type5Port())
                                        : QString(),
                                 QString::fromLatin1(fileRecordTerminalId(bodies[i])),
                                 QString::fromLatin1(type4LengthField(bodies[i].size())),
                                 QString::fromLatin1(bodies[i].left(1)));
        }
        static const QRegularExpression fieldCount(QStringLiteral(" fields \\d+(\\+\\d+)? "));
        QCOMPARE(f.verdicts().replaceInStrings(fieldCount, QStringLiteral(" fields ")), expected);
        QCOMPARE(f.w().lbProcessed->text(), QString::number(bodies.size()));
        QCOMPARE(f.responsesLogged(), bodies.size());
        f.finish(int(bodies.size()), 0);
    }

    // The canned document, then samples/aml.xml, on one lasting connection that
    // talvrecv also sends heartbeats on.
    void amlDocumentsAndHeartbeats() {
        EndToEnd f({QStringLiteral("--heartbeat"), QStringLiteral("1")});
        QVERIFY(f.listening);
        f.w().optRecType[1]->click();
        QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.w().lbProcessed->text(), QStringLiteral("1"), kWaitMs);
        f.dialog->answer = sample("aml.xml");
        QTest::keyClick(f.w().txbFileName, Qt::Key_Space);
        QCOMPARE(f.logLines().last(), QStringLiteral("End of File"));
        QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.w().lbProcessed->text(), QStringLiteral("2"), kWaitMs);
        static const QRegularExpression answered(QStringLiteral("^T5 heartbeat answered in "));
        QTRY_VERIFY_WITH_TIMEOUT(!f.verdicts().filter(answered).isEmpty(), kWaitMs);
        QVERIFY(f.logLines().contains(QStringLiteral("Rxed Heartbeat. Send back ACK")));
        static const QRegularExpression valid(
            QStringLiteral("^T5 document \\d+ lines \\d+ bytes OK$"));
        const QStringList documents = f.verdicts().filter(valid);
        QCOMPARE(documents.size(), 2);
        QVERIFY2(documents[0].endsWith(
                     QStringLiteral(" lines %1 bytes OK").arg(cannedAmlDocument().size())),
                 qPrintable(documents[0]));
        for (const TalvrecvProcess::Line &line : f.receiver.lines())
            QCOMPARE(line.peerPort, f.receiver.lines().first().peerPort);
        QCOMPARE(f.w().lbProcessed->text(), QStringLiteral("2")); // the documents' answers only
        f.finish(0, 2);
        QVERIFY(f.receiver.output().contains(QLatin1String(", not answered 0, ")));
    }

    // Link 1 closes on the poll after its send, so talvrecv's late answer never
    // arrives and the response timer (real, 10 ms ticks) counts the packet as delayed.
    void delayedResponseIsCounted() {
        EndToEnd f({QStringLiteral("--delay"), QStringLiteral("2500")});
        QVERIFY(f.listening);
        f.startCycle(1);
        f.w().Timer1_Timer();
        f.w().Timer1_Timer();
        QVERIFY(f.link1Reaches(SocketState::Connected));
        f.w().frmTCP1().SendTCPPacket();
        QVERIFY(f.waitVerdicts(1));
        f.w().frmTCP1().SendTCPPacket();
        QCOMPARE(f.logLines().last(), QStringLiteral("Close Socket"));
        QTRY_COMPARE_WITH_TIMEOUT(f.w().txbDelayedCt->text(), QStringLiteral(" 1"), kWaitMs);
        QCOMPARE(f.w().lbLastDelayed->text(), QStringLiteral("2024-03-05 09:07:03"));
        QCOMPARE(f.w().lbProcessed->text(), QString());
        QVERIFY(f.waitVerdicts(2));
        QCOMPARE(f.verdicts().last(),
                 QStringLiteral("T4 reply not sent, the connection closed before the delay ended"));
        f.finish(1, 0);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
