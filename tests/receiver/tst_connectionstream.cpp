#include "amllayout.h"
#include "cannedrecords.h"
#include "connectionstream.h"
#include "receiverlines.h"
#include "type4frame.h"

#include <QTest>

namespace {

QByteArray standardFrame() {
    return frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false);
}

QByteArray pointFrame() {
    return frameCannedRecord(
        "999", cannedIpndRecord(CannedRecord::Standard) + cannedMoliRecords().at(kMoliPoint), true);
}

// Replaces field n (counted from 1 after the type digit) of a frame's body
// and frames it again.
QByteArray withField(const QByteArray &frame, int n, const QByteArray &value) {
    QList<QByteArray> parts = frame.sliced(7).split('|');
    parts[n] = value;
    const QByteArray body = parts.join('|');
    return "999" + type4LengthField(body.size()) + body;
}

// Feeds data in pieces of the given size (0: all at once), then ends the
// connection; returns each event as its line text.
QStringList run(ConnectionStream &stream, const QByteArray &data, qsizetype piece = 0) {
    QList<StreamEvent> events;
    const qsizetype step = piece > 0 ? piece : qMax<qsizetype>(data.size(), 1);
    for (qsizetype at = 0; at < data.size(); at += step)
        events += stream.feed(QByteArrayView(data).sliced(at, qMin(step, data.size() - at)));
    events += stream.finish();
    QStringList texts;
    for (const StreamEvent &event : events)
        texts << describeEvent(event);
    return texts;
}

QStringList run(const QByteArray &data, qsizetype piece = 0) {
    ConnectionStream stream;
    return run(stream, data, piece);
}

const QString kStandardOk = QStringLiteral("term 999 len 0307 type 3 fields 52 OK");

QString documentOk() {
    return QStringLiteral("document 116 lines %1 bytes OK").arg(cannedAmlDocument().size());
}

} // namespace

class TestConnectionStream : public QObject {
    Q_OBJECT

private slots:
    void everyCannedFrameIsValid_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("fields");
        const char *names[] = {"Standard", "No Add", "Long", "Min", "Max"};
        const auto moli = cannedMoliRecords();
        for (const CannedRecord which : kCannedRecords) {
            const QByteArray record = cannedIpndRecord(which);
            const char *name = names[int(which)];
            QTest::addRow("%s", name)
                << frameCannedRecord("999", record, false) << QStringLiteral("type 3 fields 52 OK");
            for (int shape = kMoliPoint; shape <= kMoliFull; ++shape)
                QTest::addRow("%s + MOLI %d", name, shape)
                    << frameCannedRecord("999", record + moli[shape], true)
                    << QStringLiteral("type 4 fields 52+46 OK");
        }
    }

    void everyCannedFrameIsValid() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, fields);
        const QString expected = QStringLiteral("term 999 len %1 %2")
                                     .arg(QString::fromLatin1(frame.sliced(3, 4)), fields);
        for (const qsizetype piece : {0, 1, 7, 100}) {
            ConnectionStream stream;
            QCOMPARE(run(stream, frame, piece), QStringList{expected});
            QCOMPARE(stream.kind(), StreamKind::Type4);
            QVERIFY(!stream.isBroken());
        }
    }

    void refusals_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("lines");
        const QByteArray standard = standardFrame();
        const QByteArray point = pointFrame();
        QTest::newRow("length one too many")
            << "999" + type4LengthField(308) + standard.sliced(7)
            << QStringList{QStringLiteral("incomplete frame 314 bytes INVALID: length 308, but "
                                          "the body has 307 characters")};
        QTest::newRow("length one short")
            << "999" + type4LengthField(306) + standard.sliced(7)
            << QStringList{QStringLiteral("term 999 len 0306 type 3 fields 52 OK"),
                           QStringLiteral("incomplete frame 1 bytes INVALID: frame is incomplete")};
        QTest::newRow("field missing")
            << frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard).chopped(2), false)
            << QStringList{QStringLiteral("term 999 len 0305 type 3 fields 51 INVALID: type 3 "
                                          "with 51 fields, expected 52")};
        QTest::newRow("field too wide")
            << withField(standard, 4, QByteArray(21, '0'))
            << QStringList{QStringLiteral("term 999 len 0318 type 3 fields 52 INVALID: field 4 "
                                          "Service_Number is 21 wide, at most 20")};
        QTest::newRow("bad shape letter")
            << withField(point, 52 + 2, "Z")
            << QStringList{QStringLiteral("term 999 len %1 type 4 fields 52+46 INVALID: MOLI "
                                          "shape \"Z\" is not one of O, C, A, P, E, N, X")
                               .arg(QString::fromLatin1(point.sliced(3, 4)))};
        QTest::newRow("type 4 without MOLI")
            << frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), true)
            << QStringList{QStringLiteral(
                   "term 999 len 0307 type 4 fields 52 INVALID: type 4 without MOLI record")};
        QTest::newRow("two-character terminal ID")
            << frameCannedRecord("99", "|A|B", false)
            << QStringList{QStringLiteral("garbage INVALID: no length of at least 4 digits, type "
                                          "digit and \"|\" after the terminal ID")};
        QTest::newRow("cut in the header")
            << QByteArray("99900")
            << QStringList{QStringLiteral("incomplete frame 5 bytes INVALID: frame is incomplete")};
        QTest::newRow("announces more than the limit")
            << QByteArray("99910485773|")
            << QStringList{QStringLiteral("term 999 len 1048577 INVALID: frame too long, the "
                                          "limit is 1048576 characters")};
    }

    void refusals() {
        QFETCH(QByteArray, wire);
        QFETCH(QStringList, lines);
        QCOMPARE(run(wire), lines);
        QCOMPARE(run(wire, 1), lines);
    }

    void brokenStreamTakesNothingMore() {
        ConnectionStream stream;
        QCOMPARE(stream.feed("ABCDEFGH").size(), 1);
        QVERIFY(stream.isBroken());
        QVERIFY(stream.feed(standardFrame()).isEmpty());
        QVERIFY(stream.finish().isEmpty());
        QCOMPARE(stream.bufferedBytes(), 0);
    }

    // A frame announcing 90 MB is refused at its header, before its body.
    void hugeFrameIsRefusedBeforeItsBody() {
        ConnectionStream stream;
        const QList<StreamEvent> events = stream.feed("999900000003|");
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().kind, StreamEvent::Kind::FrameTooLong);
        QVERIFY(stream.isBroken());
        QVERIFY(stream.peakBufferedBytes() < 100);
    }

    void severalFramesSplitAnywhere() {
        const QByteArray wire = standardFrame() + pointFrame() + standardFrame();
        const QStringList expected{kStandardOk,
                                   QStringLiteral("term 999 len %1 type 4 fields 52+46 OK")
                                       .arg(QString::fromLatin1(pointFrame().sliced(3, 4))),
                                   kStandardOk};
        for (qsizetype cut = 1; cut < wire.size(); cut += 13) {
            ConnectionStream stream;
            QList<StreamEvent> events = stream.feed(wire.first(cut));
            events += stream.feed(wire.sliced(cut));
            events += stream.finish();
            QStringList texts;
            for (const StreamEvent &event : events)
                texts << describeEvent(event);
            QCOMPARE(texts, expected);
        }
    }

    void documentsBackToBack() {
        const QByteArray document = cannedAmlDocument();
        for (const qsizetype piece : {0, 1, 97, 4096}) {
            ConnectionStream stream;
            QCOMPARE(run(stream, document + document + document, piece),
                     QStringList(3, documentOk()));
            QCOMPARE(stream.kind(), StreamKind::Type5);
        }
    }

    void refusedDocuments_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("line");
        const QByteArray document = cannedAmlDocument();
        QByteArray noShape = document;
        noShape.replace("<Shape>O</Shape>", "");
        QTest::newRow("element missing")
            << noShape
            << QStringLiteral("document 116 lines %1 bytes INVALID: element 2 of Push_MoLI_Data "
                              "is Centre_X, expected Shape")
                   .arg(noShape.size());
        QTest::newRow("cut short") << document.first(500)
                                   << QStringLiteral("incomplete document 500 bytes INVALID: "
                                                     "connection ended before </CLI_Data>");
    }

    void refusedDocuments() {
        QFETCH(QByteArray, wire);
        QFETCH(QString, line);
        QCOMPARE(run(wire), QStringList{line});
    }

    void documentOverTheLimitBreaksTheStream() {
        ConnectionStream stream({1024, 1000});
        const QStringList texts = run(stream, '<' + QByteArray(2000, 'x'), 300);
        QCOMPARE(texts, QStringList{QStringLiteral("document 1200 bytes INVALID: document too "
                                                   "long, no </CLI_Data> within 1000 bytes")});
        QVERIFY(stream.isBroken());
        QVERIFY(stream.peakBufferedBytes() <= 1000 + 300);
    }

    void heartbeatAnswersAreTakenOut_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("answers");
        const QByteArray doc = cannedAmlDocument();
        const QByteArray answer = heartbeatAnswerBytes();
        QTest::newRow("before the first document") << answer + doc << 1;
        QTest::newRow("after a document") << doc + answer << 1;
        QTest::newRow("between documents") << doc + answer + doc << 1;
        QTest::newRow("inside a document") << doc.first(300) + answer + doc.sliced(300) << 1;
        QTest::newRow("several") << answer + answer + doc + answer << 3;
        QTest::newRow("alone") << answer << 1;
    }

    void heartbeatAnswersAreTakenOut() {
        QFETCH(QByteArray, wire);
        QFETCH(int, answers);
        for (const qsizetype piece : {0, 1, 2, 301}) {
            ConnectionStream stream;
            const QStringList texts = run(stream, wire, piece);
            QCOMPARE(texts.count(QStringLiteral("heartbeat answer")), answers);
            QCOMPARE(texts.count(documentOk()), wire.count(kAmlDocumentEnd));
            QCOMPARE(texts.size(), answers + wire.count(kAmlDocumentEnd));
        }
    }

    void kindIsSniffedAfterLeadingAnswers_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<StreamKind>("kind");
        const QByteArray answer = heartbeatAnswerBytes();
        QTest::newRow("frame") << standardFrame() << StreamKind::Type4;
        QTest::newRow("document") << QByteArray("<") << StreamKind::Type5;
        QTest::newRow("answer, then frame") << answer + "9" << StreamKind::Type4;
        QTest::newRow("answer, then document") << answer + "<" << StreamKind::Type5;
        QTest::newRow("piece of an answer") << answer.first(2) << StreamKind::Undecided;
        QTest::newRow("nothing") << QByteArray() << StreamKind::Undecided;
    }

    void kindIsSniffedAfterLeadingAnswers() {
        QFETCH(QByteArray, wire);
        QFETCH(StreamKind, kind);
        ConnectionStream stream;
        stream.feed(wire);
        QCOMPARE(stream.kind(), kind);
        QVERIFY(stream.finish().size() <= 1);
    }
};

QTEST_GUILESS_MAIN(TestConnectionStream)
#include "tst_connectionstream.moc"
