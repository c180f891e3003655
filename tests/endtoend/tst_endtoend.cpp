// The window, offscreen, against talvrecv running as a separate process:
// every frame and document the window sends is one talvrecv reports valid,
// and the window shows what talvrecv's answers, delays and refusals mean.
#include "talvrecvprocess.h"
#include "windowfixture.h"

#include "amllayout.h"
#include "clickablelineedit.h"
#include "ipnddatafile.h"
#include "linktestsupport.h"
#include "type4frame.h"
#include "type4link.h"
#include "type5link.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr int kWaitMs = 15'000; // generous: sanitizer builds on a busy machine

const QRegularExpression kResponseLine(
    QStringLiteral("^Response Time \\d+ milliseconds    127\\.0\\.0\\.1> Data Pkt Rxd$"));

QString sample(const char *name) {
    return QStringLiteral(TALVGEN_SOURCE_DIR) + QStringLiteral("/samples/") + QLatin1String(name);
}

// The window with its one-second timer stopped (tests step it) and both
// socket rows pointed at talvrecv.
struct EndToEndWindow : WindowFixture {
    EndToEndWindow(quint16 type4Port, quint16 type5Port) {
        w().Timer1->stop();
        w().frmTCP1().timerTCP().stop();
        setRow(0, type4Port, false);
        setRow(1, type5Port, false);
    }
    void setRow(int row, quint16 port, bool enabled) {
        w().txbAddress[row]->setText(QStringLiteral("127.0.0.1"));
        w().txbPort[row]->setText(QString::number(port));
        w().chkEnable[row]->setChecked(enabled);
    }
    void startCycle(const char *dataFile, int period) {
        dialog->answer = sample(dataFile);
        w().lbIPNDfile_Click();
        w().PktPer->setText(QString::number(period));
        w().PktPer_LostFocus();
        w().RunControl_Click();
    }
    // Link 1's send poll, stepped by hand: a tick of the real 100 ms poll
    // closes a link still waiting for its answer, which would make these
    // tests depend on how quickly talvrecv is scheduled.
    bool link1Connects() {
        Type4Link &link = w().frmTCP1();
        link.SendTCPPacket();
        return QTest::qWaitFor(
            [&] { return link.wskMessage().socketState() == SocketState::Connected; }, kWaitMs);
    }
    // Sends the pending packet, if any, and waits for link 1 to close on its answer.
    bool link1Delivers() {
        Type4Link &link = w().frmTCP1();
        if (link.gPendingType4Packet.isEmpty())
            return true;
        if (!link1Connects())
            return false;
        link.SendTCPPacket();
        return QTest::qWaitFor(
            [&] { return link.wskMessage().socketState() == SocketState::Closed; }, kWaitMs);
    }
    QByteArrayList sentBodies() const {
        QByteArrayList bodies;
        for (const QString &line : logLines())
            if (line.startsWith(QLatin1String("RSFP: Data Sent: ")))
                bodies << line.mid(17).toLatin1();
        return bodies;
    }
    qsizetype responsesLogged() const { return logLines().filter(kResponseLine).size(); }
};

using ButtonMember = QPushButton *frmIPNDZandrel::*;
const ButtonMember kCannedButtons[] = {&frmIPNDZandrel::cmdStandard, &frmIPNDZandrel::cmdNoAdd,
                                       &frmIPNDZandrel::cmdLongAdd, &frmIPNDZandrel::cmdMinAdd,
                                       &frmIPNDZandrel::cmdMaxAdd};

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { m_receiver.reset(); }
    void cannedButtons_data();
    void cannedButtons();
    void dataFileCycle_data();
    void dataFileCycle();
    void amlDocuments();
    void heartbeatsAnswered();
    void delayedResponseIsCounted();
    void refusedConnectionDropsThePacket();

private:
    bool startReceiver(const QStringList &arguments, quint16 type4Port = 0) {
        m_receiver = std::make_unique<TalvrecvProcess>(arguments, type4Port);
        return m_receiver->waitListening();
    }
    QList<TalvrecvProcess::Line> receiverLines() const { return m_receiver->lines(); }
    // SIGTERM ends talvrecv with exit 0 and a summary that counts everything sent as valid.
    void finishReceiver(int frames, int documents);

    std::unique_ptr<TalvrecvProcess> m_receiver;
};

void TestEndToEnd::finishReceiver(int frames, int documents) {
    QVERIFY(m_receiver->terminate());
    const QString out = m_receiver->output();
    QVERIFY2(m_receiver->exitedCleanly(), qPrintable(out));
    QVERIFY2(
        out.contains(
            QStringLiteral("\nsummary: frames received %1, valid %1, invalid 0\n").arg(frames)),
        qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("\nsummary: documents received %1, valid %1, invalid 0\n")
                              .arg(documents)),
             qPrintable(out));
}

void TestEndToEnd::cannedButtons_data() {
    QTest::addColumn<int>("shape"); // -1: "MOLI Data" off
    QTest::newRow("MOLI Data off") << -1;
    const char *shapes[] = {"Point", "Circular", "Circular Arc", "Polygon", "Ellipsoid", "None"};
    for (int shape = 0; shape < 6; ++shape)
        QTest::newRow(shapes[shape]) << shape;
}

// Each button in turn, each press answered before the next.
void TestEndToEnd::cannedButtons() {
    QFETCH(int, shape);
    QVERIFY(startReceiver({}));
    EndToEndWindow f(m_receiver->type4Port(), m_receiver->type5Port());
    const bool moli = shape >= 0;
    if (moli) {
        f.w().chkMOLI->click();
        f.w().optMOLI[shape]->click();
    }
    const QRegularExpression verdict(
        QStringLiteral("^term 999 len (\\d{4}) type ([34]) fields 52(\\+\\d+)? OK$"));
    int sent = 0;
    for (ButtonMember button : kCannedButtons) {
        QTest::mouseClick(f.w().*button, Qt::LeftButton);
        const QString frame = f.logLines().last().mid(4); // after "--> "
        QVERIFY(f.link1Delivers());
        ++sent;
        QTRY_COMPARE_WITH_TIMEOUT(f.w().lbProcessed->text(), QString::number(sent), kWaitMs);
        QCOMPARE(f.responsesLogged(), sent);
        QVERIFY(f.w().txbMessage->toPlainText().endsWith(QStringLiteral(" ACK")));
        QTRY_COMPARE_WITH_TIMEOUT(receiverLines().size(), sent, kWaitMs);
        const TalvrecvProcess::Line line = receiverLines().last();
        QCOMPARE(line.side, QStringLiteral("T4"));
        const QRegularExpressionMatch match = verdict.match(line.text);
        QVERIFY2(match.hasMatch(), qPrintable(line.text));
        QCOMPARE(match.captured(1), frame.mid(3, 4));
        QCOMPARE(match.captured(2), moli ? QStringLiteral("4") : QStringLiteral("3"));
        QCOMPARE(match.hasCaptured(3), moli);
    }
    finishReceiver(sent, 0);
}

void TestEndToEnd::dataFileCycle_data() {
    QTest::addColumn<bool>("row1");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("ticks");
    // Period 1: every tick after the first is a boundary.
    QTest::newRow("row 0, period 1: four boundaries") << false << 1 << 5;
    // Both rows, period 2: each record goes to row 0 at a boundary and to row 1
    // (talvrecv's Type 5 port) on link 1 one tick later.
    QTest::newRow("both rows, period 2: two records twice") << true << 2 << 6;
}

void TestEndToEnd::dataFileCycle() {
    QFETCH(bool, row1);
    QFETCH(int, period);
    QFETCH(int, ticks);
    QVERIFY(startReceiver({}));
    EndToEndWindow f(m_receiver->type4Port(), m_receiver->type5Port());
    f.setRow(0, m_receiver->type4Port(), true);
    f.setRow(1, m_receiver->type5Port(), row1);
    f.startCycle("ipnd3.x01", period);
    QVERIFY(f.w().ipndDataFile().isOpen());
    for (int tick = 0; tick < ticks; ++tick) {
        f.w().Timer1_Timer();
        QVERIFY(f.link1Delivers());
    }
    const QByteArrayList bodies = f.sentBodies();
    QCOMPARE(bodies.size(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(receiverLines().size(), bodies.size(), kWaitMs);
    for (int i = 0; i < bodies.size(); ++i) {
        const QByteArray &body = bodies[i];
        const TalvrecvProcess::Line line = receiverLines().at(i);
        const QString frame = QStringLiteral("term %1 len %2 type %3 fields ")
                                  .arg(QString::fromLatin1(fileRecordTerminalId(body)),
                                       QString::fromLatin1(type4LengthField(body.size())),
                                       QString::fromLatin1(body.left(1)));
        QVERIFY2(line.text.startsWith(frame) && line.text.endsWith(QStringLiteral(" OK")),
                 qPrintable(line.text));
        QCOMPARE(line.side, QStringLiteral("T4"));
        QCOMPARE(line.onPort, row1 && i % 2 == 1 ? m_receiver->type5Port() : quint16(0));
        if (row1 && i % 2 == 1)
            QCOMPARE(body, bodies[i - 1]);
    }
    QCOMPARE(f.w().lbProcessed->text(), QString::number(bodies.size()));
    QCOMPARE(f.responsesLogged(), bodies.size());
    finishReceiver(int(bodies.size()), 0);
}

// The canned document, then samples/aml.xml, on one lasting connection.
void TestEndToEnd::amlDocuments() {
    QVERIFY(startReceiver({}));
    EndToEndWindow f(m_receiver->type4Port(), m_receiver->type5Port());
    f.w().optRecType[1]->click();
    QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(f.w().lbProcessed->text(), QStringLiteral("1"), kWaitMs);
    f.dialog->answer = sample("aml.xml");
    QTest::keyClick(f.w().txbFileName, Qt::Key_Space);
    QCOMPARE(f.logLines().last(), QStringLiteral("End of File"));
    QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(f.w().lbProcessed->text(), QStringLiteral("2"), kWaitMs);
    QVERIFY(f.w().txbMessage->toPlainText().endsWith(QStringLiteral(" ACK")));
    QTRY_COMPARE_WITH_TIMEOUT(receiverLines().size(), 2, kWaitMs);
    const QRegularExpression verdict(QStringLiteral("^document (\\d+) lines (\\d+) bytes OK$"));
    const QList<TalvrecvProcess::Line> lines = receiverLines();
    for (const TalvrecvProcess::Line &line : lines) {
        QCOMPARE(line.side, QStringLiteral("T5"));
        QCOMPARE(line.onPort, quint16(0));
        QVERIFY2(verdict.match(line.text).hasMatch(), qPrintable(line.text));
    }
    QCOMPARE(verdict.match(lines[0].text).captured(2).toLongLong(), cannedAmlDocument().size());
    QCOMPARE(lines[1].peerPort, lines[0].peerPort);
    finishReceiver(0, 2);
}

void TestEndToEnd::heartbeatsAnswered() {
    QVERIFY(startReceiver({QStringLiteral("--heartbeat"), QStringLiteral("1")}));
    EndToEndWindow f(m_receiver->type4Port(), m_receiver->type5Port());
    f.w().optRecType[1]->click();
    QTest::mouseClick(f.w().cmdSend5, Qt::LeftButton);
    const auto answered = [this] {
        for (const TalvrecvProcess::Line &line : receiverLines())
            if (line.text.startsWith(QLatin1String("heartbeat answered in ")))
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(answered(), kWaitMs);
    QVERIFY(f.logLines().contains(QStringLiteral("Rxed Heartbeat. Send back ACK")));
    QCOMPARE(receiverLines().first().peerPort, receiverLines().last().peerPort);
    QCOMPARE(f.w().lbProcessed->text(), QStringLiteral("1")); // the document's answer only
    finishReceiver(0, 1);
    QVERIFY(m_receiver->output().contains(QLatin1String(", not answered 0, ")));
}

// Link 1 closes on the poll after its send, so talvrecv's late answer never
// arrives and the response timer (real, 10 ms ticks) counts the packet as delayed.
void TestEndToEnd::delayedResponseIsCounted() {
    QVERIFY(startReceiver({QStringLiteral("--delay"), QStringLiteral("2500")}));
    EndToEndWindow f(m_receiver->type4Port(), m_receiver->type5Port());
    f.setRow(0, m_receiver->type4Port(), true);
    f.startCycle("ipnd3.x01", 1);
    f.w().Timer1_Timer();
    f.w().Timer1_Timer();
    QCOMPARE(f.sentBodies().size(), 1);
    Type4Link &link = f.w().frmTCP1();
    QVERIFY(f.link1Connects());
    link.SendTCPPacket();
    QTRY_COMPARE_WITH_TIMEOUT(receiverLines().size(), 1, kWaitMs);
    link.SendTCPPacket();
    QCOMPARE(f.logLines().last(), QStringLiteral("Close Socket"));
    QCOMPARE(f.w().lbLastDelayed->text(), QStringLiteral("No Delayed packets"));
    QTRY_COMPARE_WITH_TIMEOUT(f.w().txbDelayedCt->text(), QStringLiteral(" 1"), kWaitMs);
    QCOMPARE(f.w().lbLastDelayed->text(), QStringLiteral("2024-03-05 09:07:03"));
    QCOMPARE(f.w().lbProcessed->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(receiverLines().size(), 2, kWaitMs);
    QVERIFY(receiverLines().first().text.endsWith(QLatin1String(" OK")));
    QCOMPARE(receiverLines().last().text,
             QStringLiteral("reply not sent, the connection closed before the delay ended"));
    finishReceiver(1, 0);
}

void TestEndToEnd::refusedConnectionDropsThePacket() {
    const quint16 port = unusedPort();
    QVERIFY(startReceiver({QStringLiteral("--refuse"), QStringLiteral("type4")}, port));
    QCOMPARE(m_receiver->type4Port(), quint16(0));
    EndToEndWindow f(port, m_receiver->type5Port());
    QTest::mouseClick(f.w().cmdStandard, Qt::LeftButton);
    QVERIFY(!f.w().frmTCP1().gPendingType4Packet.isEmpty());
    f.w().frmTCP1().SendTCPPacket();
    const QString refused = QStringLiteral("Event: Socket error Connection refused");
    QTRY_VERIFY_WITH_TIMEOUT(f.logLines().contains(refused), kWaitMs);
    QCOMPARE(f.logLines().last(), refused);
    QVERIFY(f.w().frmTCP1().gPendingType4Packet.isEmpty());
    QCOMPARE(f.w().frmTCP1().wskMessage().socketState(), SocketState::Closed);
    QCOMPARE(f.w().lbProcessed->text(), QString());
    finishReceiver(0, 0);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
