#include "receiverlines.h"
#include "receiverstats.h"

#include <QTest>

namespace {

StreamEvent makeEvent(StreamEvent::Kind kind, bool ok, const QString &reason = {}) {
    StreamEvent e;
    e.kind = kind;
    e.ok = ok;
    e.reason = reason;
    return e;
}

} // namespace

class TestReceiverLines : public QObject {
    Q_OBJECT

private slots:
    void wholeLine() {
        const QDateTime when(QDate(2026, 12, 5), QTime(14, 3, 11, 204));
        StreamEvent frame = makeEvent(StreamEvent::Kind::Frame, true);
        frame.frame.terminalId = "999";
        frame.frame.length = 307;
        frame.frame.body = "3|x";
        frame.ipndFields = 52;
        const QString peer = peerText(QStringLiteral("127.0.0.1"), 40512, StreamKind::Type4,
                                      StreamKind::Type4, 7005);
        QCOMPARE(receiverLine(when, sideText(StreamKind::Type4), peer, describeEvent(frame)),
                 QStringLiteral("2026-12-05 14:03:11.204 T4 127.0.0.1:40512 term 999 len 0307 "
                                "type 3 fields 52 OK"));
    }

    void peer_data() {
        QTest::addColumn<StreamKind>("stream");
        QTest::addColumn<StreamKind>("port");
        QTest::addColumn<QString>("text");
        QTest::newRow("frame on its port")
            << StreamKind::Type4 << StreamKind::Type4 << QStringLiteral("10.0.0.1:40512");
        QTest::newRow("frame on the Type 5 port") << StreamKind::Type4 << StreamKind::Type5
                                                  << QStringLiteral("10.0.0.1:40512 on port 7018");
        QTest::newRow("document on the Type 4 port")
            << StreamKind::Type5 << StreamKind::Type4
            << QStringLiteral("10.0.0.1:40512 on port 7018");
        QTest::newRow("not yet known")
            << StreamKind::Undecided << StreamKind::Type5 << QStringLiteral("10.0.0.1:40512");
    }

    void peer() {
        QFETCH(StreamKind, stream);
        QFETCH(StreamKind, port);
        QFETCH(QString, text);
        QCOMPARE(peerText(QStringLiteral("10.0.0.1"), 40512, stream, port, 7018), text);
    }

    void ipv6PeerIsBracketed() {
        QCOMPARE(peerText(QStringLiteral("::1"), 40512, StreamKind::Type4, StreamKind::Type4, 7005),
                 QStringLiteral("[::1]:40512"));
    }

    // Data can carry "%1"; it must come out as it went in.
    void placeMarkersInDataStayPut() {
        StreamEvent e = makeEvent(StreamEvent::Kind::Frame, false, QStringLiteral("field %1 %2"));
        e.frame.terminalId = "%1%";
        e.frame.body = "3";
        QCOMPARE(describeEvent(e),
                 QStringLiteral("term %1% len 0000 type 3 fields 0 INVALID: field %1 %2"));
    }

    void heartbeatTexts() {
        QCOMPARE(heartbeatAnsweredText(3), QStringLiteral("heartbeat answered in 3 ms"));
        QCOMPARE(heartbeatNotAnsweredText(2000),
                 QStringLiteral("heartbeat not answered within 2 s"));
        QCOMPARE(heartbeatNotAnsweredText(250),
                 QStringLiteral("heartbeat not answered within 250 ms"));
    }

    void summaryAndExitStatus_data() {
        QTest::addColumn<bool>("frameOk");
        QTest::addColumn<bool>("documentOk");
        QTest::addColumn<int>("notAnswered");
        QTest::addColumn<int>("status");
        QTest::newRow("all good") << true << true << 0 << 0;
        QTest::newRow("bad frame") << false << true << 0 << 1;
        QTest::newRow("bad document") << true << false << 0 << 1;
        QTest::newRow("heartbeat not answered") << true << true << 1 << 1;
    }

    void summaryAndExitStatus() {
        QFETCH(bool, frameOk);
        QFETCH(bool, documentOk);
        QFETCH(int, notAnswered);
        QFETCH(int, status);
        ReceiverStats stats;
        stats.count(makeEvent(StreamEvent::Kind::Frame, true));
        stats.count(makeEvent(StreamEvent::Kind::Frame, frameOk, QStringLiteral("bad field")));
        stats.count(makeEvent(StreamEvent::Kind::Document, documentOk, QStringLiteral("bad tag")));
        stats.count(makeEvent(StreamEvent::Kind::HeartbeatAnswer, false));
        stats.heartbeatsSent = 2;
        stats.heartbeatsAnswered = 2 - notAnswered;
        stats.heartbeatsNotAnswered = notAnswered;
        stats.repliesSent = 3;
        QCOMPARE(stats.exitStatus(), status);
        const QStringList lines = stats.summaryLines();
        QCOMPARE(lines.first(), QStringLiteral("summary: frames received 2, valid %1, invalid %2")
                                    .arg(frameOk ? 2 : 1)
                                    .arg(frameOk ? 0 : 1));
        QCOMPARE(lines.contains(QStringLiteral("summary: invalid 1 x T4 bad field")), !frameOk);
        QCOMPARE(lines.contains(QStringLiteral("summary: invalid 1 x T5 bad tag")), !documentOk);
        QVERIFY(lines.contains(QStringLiteral("summary: heartbeats sent 2, answered %1, not "
                                              "answered %2, answers without a heartbeat 0")
                                   .arg(2 - notAnswered)
                                   .arg(notAnswered)));
        QVERIFY(lines.contains(
            QStringLiteral("summary: replies sent 3, not sent because the peer closed 0")));
    }

    // A peer that makes up reasons cannot grow the table without end.
    void reasonsAreCapped() {
        ReceiverStats stats;
        for (int i = 0; i < 3 * ReceiverStats::kMaxReasons; ++i)
            stats.count(makeEvent(StreamEvent::Kind::Garbage, false, QString::number(i)));
        QCOMPARE(stats.invalidReasons.size(), ReceiverStats::kMaxReasons + 1);
        QCOMPARE(stats.invalidReasons.value(QStringLiteral("T4 (other reasons)")),
                 2 * ReceiverStats::kMaxReasons);
        QCOMPARE(stats.framesInvalid(), 3 * ReceiverStats::kMaxReasons);
    }
};

QTEST_GUILESS_MAIN(TestReceiverLines)
#include "tst_receiverlines.moc"
