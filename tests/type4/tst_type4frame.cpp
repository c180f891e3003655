#include "cannedrecords.h"
#include "ipnddatafile.h"
#include "type4frame.h"

#include <QTest>

// The Type 4 frame (terminal ID, length, body) of data-file and canned
// records, the canned records themselves, and the stream parser.
namespace {

QByteArray bodyOf(qsizetype chars) {
    const QByteArray body = "3|12345678|";
    return body + QByteArray(chars - body.size(), 'b');
}

} // namespace

class TestType4Frame : public QObject {
    Q_OBJECT

private slots:
    void fileRecordFrames_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("frame");
        const auto row = [](const char *name, const QByteArray &body, const QByteArray &frame) {
            QTest::newRow(name) << body << frame;
        };
        row("example", "3|12345678|x", "01200123|12345678|x");
        row("terminal 07", "3|0712345|x", "00700113|0712345|x");
        row("terminal 99", "4|9912345|x", "09900114|9912345|x");
        row("letters kept", "3|AB12345|x", "AB00113|AB12345|x");
        row("blank kept", "3| 712345|x", " 700113| 712345|x");
        row("sign kept", "3|+712345|x", "+700113|+712345|x");
        row("11 characters", "3|123456789", "01200113|123456789");
        row("9999 characters", bodyOf(9999), "0129999" + bodyOf(9999));
        row("10000 characters: every digit", bodyOf(10000), "01210000" + bodyOf(10000));
        row("123456 characters", bodyOf(123456), "012123456" + bodyOf(123456));
    }

    void fileRecordFrames() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, frame);
        QCOMPARE(frameFileRecord(body), frame);
    }

    void sendableBodies() {
        QVERIFY(!IpndDataFile::isSendable("3|12345678"));
        QVERIFY(IpndDataFile::isSendable("3|123456789"));
    }

    // In the order of the MOLI shape option buttons, then the full record and
    // an empty slot.
    void moliRecords() {
        QList<qsizetype> sizes;
        QByteArray shapes;
        for (const QByteArray &record : cannedMoliRecords()) {
            sizes << record.size();
            shapes += record.split('|').value(2);
        }
        QCOMPARE(sizes, (QList<qsizetype>{105, 109, 117, 240, 114, 73, 585, 0}));
        QCOMPARE(shapes, QByteArray("OCAPENX"));
        QVERIFY(cannedMoliRecords()[kMoliNone].startsWith("||N|")); // an empty datum
    }

    // The operator's terminal ID as typed, the length of record and type
    // digit, the type digit, the record. head: the frame up to the canned
    // record's job reference, or its first "|".
    void cannedFrames_data() {
        QTest::addColumn<QByteArray>("termId");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("moliChecked");
        QTest::addColumn<QByteArray>("head");
        const auto row = [](const char *name, const char *termId, const QByteArray &record,
                            bool checked, const char *head) {
            QTest::newRow(name) << QByteArray(termId) << record << checked << QByteArray(head);
        };
        const auto ipnd = cannedIpndRecord;
        const auto moli = cannedMoliRecords();
        using enum CannedRecord;
        row("example", "999", "|A|B", false, "99900053|A|B");
        row("MOLI checked", "999", "|A|B", true, "99900054|A|B");
        row("terminal 12 unpadded", "12", "|A|B", false, "1200053|A|B");
        row("terminal empty", "", "|A|B", false, "00053|A|B");
        row("four characters", "1234", "|A|B", false, "123400053|A|B");
        row("Standard", "999", ipnd(Standard), false, "99903073|9990302|");
        row("No Add", "999", ipnd(NoAdd), false, "99901593|9990306|");
        row("Long", "999", ipnd(Long), false, "99906883|9990304|");
        row("Min", "999", ipnd(Min), false, "99901143|9990303|");
        row("Max", "999", ipnd(Max), false, "99907063|9990305|");
        row("Standard + Point", "999", ipnd(Standard) + moli[kMoliPoint], true, "99904124|");
        row("Standard + None", "999", ipnd(Standard) + moli[kMoliNone], true, "99903804|");
        row("Max + full", "999", ipnd(Max) + moli[kMoliFull], true, "99912914|");
        row("Min + None", "999", ipnd(Min) + moli[kMoliNone], true, "99901874|");
        row("checked, no shape chosen", "999", ipnd(Standard), true, "99903074|");
    }

    void cannedFrames() {
        QFETCH(QByteArray, termId);
        QFETCH(QByteArray, record);
        QFETCH(bool, moliChecked);
        QFETCH(QByteArray, head);
        const QByteArray frame = frameCannedRecord(termId, record, moliChecked);
        QVERIFY(frame.startsWith(head));
        QCOMPARE(frame.mid(termId.size() + 5), record); // after four length digits and the type
    }

    void longRecordKeepsItsBlank() {
        QVERIFY(cannedIpndRecord(CannedRecord::Long).contains("|NEXT_DOOR_ QQQQQQQQQQQQQQQQQQW|"));
    }

    void parseStream_data() {
        QTest::addColumn<QList<QByteArray>>("bodies");
        QTest::addColumn<int>("chunk");
        const QList<QByteArray> bodies = {"3|12345678|x", bodyOf(10000),  "4|9912|a|b",
                                          bodyOf(9999),   bodyOf(123456), "3|0"};
        QTest::newRow("whole") << bodies << 1000000;
        QTest::newRow("byte by byte") << bodies << 1;
        QTest::newRow("7 bytes") << bodies << 7;
        QTest::newRow("4096 bytes") << bodies << 4096;
    }

    // Frames written back to back come out one by one, whatever the chunking;
    // byte by byte, every prefix of a frame needs more.
    void parseStream() {
        QFETCH(QList<QByteArray>, bodies);
        QFETCH(int, chunk);
        QByteArray stream;
        for (const QByteArray &body : bodies)
            stream += frameFileRecord(body);

        QList<QByteArray> seen;
        QByteArray buffer;
        for (qsizetype at = 0; at < stream.size(); at += chunk) {
            buffer += stream.mid(at, chunk);
            for (;;) {
                Type4Frame frame;
                qsizetype consumed = -1;
                const auto result = Type4Frame::parse(buffer, consumed, frame);
                QVERIFY(result != Type4Frame::ParseResult::Garbage);
                if (result == Type4Frame::ParseResult::NeedMore) {
                    QCOMPARE(consumed, 0);
                    break;
                }
                QCOMPARE(frame.terminalId, fileRecordTerminalId(frame.body));
                QCOMPARE(frame.length, frame.body.size());
                seen << frame.body;
                buffer.remove(0, consumed);
            }
        }
        QVERIFY(buffer.isEmpty());
        QCOMPARE(seen, bodies);
    }

    void parseGarbage_data() {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<qsizetype>("limit");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char *name, const char *buffer, const char *reason,
                            qsizetype limit = Type4Frame::kMaxBodyChars) {
            QTest::newRow(name) << QByteArray(buffer) << limit << QString::fromLatin1(reason);
        };
        const char *noLength =
            "no length of at least 4 digits, type digit and \"|\" after the terminal ID";
        row("letter for length", "999A0053|A|B", noLength);
        row("two-character terminal", "1200053|A|B", noLength);
        row("no bar after type", "99900053A|B", noLength);
        row("five digits, leading zero", "999000053|A|B",
            "length field 00005 has a leading zero beyond four digits");
        row("length too small", "99900013|", "length 1 cannot hold a type digit and \"|\"");
        row("nine digits", "9991000000003|", "length field is longer than 8 digits");
        row("over the limit", "999100013|", "length 10001 is over the limit of 5000", 5000);
    }

    void parseGarbage() {
        QFETCH(QByteArray, buffer);
        QFETCH(qsizetype, limit);
        QFETCH(QString, reason);
        Type4Frame frame;
        qsizetype consumed = 0;
        QString why;
        QCOMPARE(Type4Frame::parse(buffer, consumed, frame, &why, limit),
                 Type4Frame::ParseResult::Garbage);
        QCOMPARE(why, reason);
        QCOMPARE(consumed, buffer.size());
    }
};

QTEST_GUILESS_MAIN(TestType4Frame)
#include "tst_type4frame.moc"
