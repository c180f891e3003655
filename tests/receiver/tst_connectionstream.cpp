#include "receiverlines.h"
#include "receivertestsupport.h"

#include <QTest>

namespace {

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
QStringList run(ConnectionStream &stream, const QByteArray &data, qsizetype piece) {
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

// "term 999 len <the frame's length field> <rest>"
QString frameLine(const QByteArray &frame, const char *rest) {
    return QStringLiteral("term 999 len %1 %2")
        .arg(QString::fromLatin1(frame.sliced(3, 4)), QString::fromLatin1(rest));
}

void row(const char *name, const QByteArray &wire, const QStringList &lines,
         StreamKind kind = StreamKind::Type4) {
    QTest::newRow(name) << wire << lines << kind;
}

void row(const char *name, const QByteArray &wire, const char *line) {
    row(name, wire, QStringList{QString::fromLatin1(line)},
        wire.startsWith('<') ? StreamKind::Type5 : StreamKind::Type4);
}

} // namespace

class TestConnectionStream : public QObject {
    Q_OBJECT

private slots:
    // Each stream is fed a byte at a time (lines in wire order), whole, and in
    // pieces of 7 and 100.
    void stream_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<StreamKind>("kind");
        const char *names[] = {"Standard", "No Add", "Long", "Min", "Max"};
        for (const CannedRecord which : kCannedRecords) {
            for (int shape = -1; shape <= kMoliFull; ++shape) { // -1: no MOLI
                const QByteArray moli = shape < 0 ? QByteArray() : cannedMoliRecords().at(shape);
                const QByteArray frame =
                    frameCannedRecord("999", cannedIpndRecord(which) + moli, shape >= 0);
                const QByteArray name = QByteArray(names[int(which)]) +
                                        (shape < 0 ? "" : " + MOLI " + QByteArray::number(shape));
                row(name.constData(), frame,
                    {frameLine(frame,
                               shape < 0 ? "type 3 fields 52 OK" : "type 4 fields 52+46 OK")});
            }
        }
        const QByteArray standard = standardFrame();
        const QByteArray point = pointFrame();
        const QByteArray doc = cannedAmlDocument();
        const QByteArray answer = heartbeatAnswerBytes();
        const QString docOk = QStringLiteral("document 116 lines %1 bytes OK").arg(doc.size());
        const QString hb = QStringLiteral("heartbeat answer");
        row("frames back to back", standard + point + standard,
            {kStandardOk, frameLine(point, "type 4 fields 52+46 OK"), kStandardOk});
        row("documents back to back", doc + doc + doc, QStringList(3, docOk), StreamKind::Type5);
        row("answers around documents", answer + answer + doc + answer + doc + answer,
            {hb, hb, docOk, hb, docOk, hb}, StreamKind::Type5);
        row("answer inside a document", doc.first(300) + answer + doc.sliced(300), {hb, docOk},
            StreamKind::Type5);
        row("answer, then a frame", answer + standard, {hb, kStandardOk});
        row("piece of an answer", answer.first(2), {}, StreamKind::Undecided);

        row("length one too many", "999" + type4LengthField(308) + standard.sliced(7),
            "incomplete frame 314 bytes INVALID: length 308, but the body has 307 characters");
        row("length one short", "999" + type4LengthField(306) + standard.sliced(7),
            textList({"term 999 len 0306 type 3 fields 52 OK",
                      "incomplete frame 1 bytes INVALID: frame is incomplete"}));
        row("field missing", shortFrame(),
            "term 999 len 0305 type 3 fields 51 INVALID: type 3 with 51 fields, expected 52");
        row("field too wide", withField(standard, 4, QByteArray(21, '0')),
            "term 999 len 0318 type 3 fields 52 INVALID: field 4 Service_Number is 21 wide, at "
            "most 20");
        row("bad shape letter", withField(point, 52 + 2, "Z"),
            {frameLine(point, "type 4 fields 52+46 INVALID: MOLI shape \"Z\" is not one of O, C, "
                              "A, P, E, N, X")});
        row("type 4 without MOLI",
            frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), true),
            "term 999 len 0307 type 4 fields 52 INVALID: type 4 without MOLI record");
        // Nothing marks where the next frame starts: the stream takes nothing more.
        row("garbage, then a frame", frameCannedRecord("99", "|A|B", false) + standard,
            "garbage INVALID: no length of at least 4 digits, type digit and \"|\" after the "
            "terminal ID");
        row("cut in the header", "99900", "incomplete frame 5 bytes INVALID: frame is incomplete");
        row("announces more than the limit", "99910485773|" + standard,
            "term 999 len 1048577 INVALID: frame too long, the limit is 1048576 characters");
        QByteArray noShape = doc;
        noShape.replace("<Shape>O</Shape>", "");
        row("element out of order", noShape,
            {QStringLiteral("document 116 lines %1 bytes INVALID: element 2 of Push_MoLI_Data is "
                            "Centre_X, expected Shape")
                 .arg(noShape.size())},
            StreamKind::Type5);
        row("document cut short", doc.first(500),
            "incomplete document 500 bytes INVALID: connection ended before </CLI_Data>");
    }

    void stream() {
        QFETCH(QByteArray, wire);
        QFETCH(QStringList, lines);
        QFETCH(StreamKind, kind);
        for (const qsizetype piece : {1, 0, 7, 100}) {
            ConnectionStream stream;
            QStringList got = run(stream, wire, piece);
            QCOMPARE(stream.kind(), kind);
            if (piece != 1) { // answers in a read are reported ahead of what else it ends
                got.sort();
                lines.sort();
            }
            QCOMPARE(got, lines);
        }
    }
};

QTEST_GUILESS_MAIN(TestConnectionStream)
#include "tst_connectionstream.moc"
