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
    // A frame on its own port or on the Type 5 port is covered in tst_receiver.
    void peer_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<StreamKind>("stream");
        QTest::addColumn<QString>("text");
        const QString v4 = QStringLiteral("10.0.0.1");
        QTest::newRow("document on the Type 4 port")
            << v4 << StreamKind::Type5 << QStringLiteral("10.0.0.1:40512 on port 7018");
        QTest::newRow("not yet known")
            << v4 << StreamKind::Undecided << QStringLiteral("10.0.0.1:40512");
        QTest::newRow("IPv6") << QStringLiteral("::1") << StreamKind::Type4
                              << QStringLiteral("[::1]:40512");
    }

    void peer() {
        QFETCH(QString, address);
        QFETCH(StreamKind, stream);
        QFETCH(QString, text);
        QCOMPARE(peerText(address, 40512, stream, StreamKind::Type4, 7018), text);
    }

    // Data can carry "%1"; it must come out as it went in.
    void placeMarkersInDataStayPut() {
        StreamEvent e = makeEvent(StreamEvent::Kind::Frame, false, QStringLiteral("field %1 %2"));
        e.frame.terminalId = "%1%";
        e.frame.body = "3";
        QCOMPARE(describeEvent(e),
                 QStringLiteral("term %1% len 0000 type 3 fields 0 INVALID: field %1 %2"));
    }

    // Bad frames and unanswered heartbeats failing a run are covered in tst_receiver.
    void invalidDocumentFailsTheRun() {
        ReceiverStats stats;
        stats.count(makeEvent(StreamEvent::Kind::Document, true));
        QCOMPARE(stats.exitStatus(), 0);
        stats.count(makeEvent(StreamEvent::Kind::Document, false, QStringLiteral("bad tag")));
        QCOMPARE(stats.exitStatus(), 1);
        QVERIFY(stats.summaryLines().contains(QStringLiteral("summary: invalid 1 x T5 bad tag")));
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
