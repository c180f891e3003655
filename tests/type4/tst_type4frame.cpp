#include "ipnddatafile.h"
#include "type4frame.h"

#include <QTest>

namespace {

QByteArray bodyOf(qsizetype chars) {
    QByteArray body = "3|12345678|";
    body += QByteArray(chars - body.size(), 'b');
    return body;
}

} // namespace

class TestType4Frame : public QObject {
    Q_OBJECT

private slots:
    void fileRecordFrames_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("example") << QByteArray("3|12345678|x") << QByteArray("01200123|12345678|x");
        QTest::newRow("terminal 07")
            << QByteArray("3|0712345|x") << QByteArray("00700113|0712345|x");
        QTest::newRow("terminal 99")
            << QByteArray("4|9912345|x") << QByteArray("09900114|9912345|x");
        QTest::newRow("letters kept")
            << QByteArray("3|AB12345|x") << QByteArray("AB00113|AB12345|x");
        QTest::newRow("blank kept") << QByteArray("3| 712345|x") << QByteArray(" 700113| 712345|x");
        QTest::newRow("sign kept") << QByteArray("3|+712345|x") << QByteArray("+700113|+712345|x");
        QTest::newRow("11 characters")
            << QByteArray("3|123456789") << QByteArray("01200113|123456789");
    }

    void fileRecordFrames() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, frame);
        QCOMPARE(frameFileRecord(body), frame);
    }

    void lengthDigits_data() {
        QTest::addColumn<qsizetype>("chars");
        QTest::addColumn<QByteArray>("lengthField");
        QTest::newRow("9999") << qsizetype(9999) << QByteArray("9999");
        QTest::newRow("10000") << qsizetype(10000) << QByteArray("10000");
        QTest::newRow("123456") << qsizetype(123456) << QByteArray("123456");
    }

    void lengthDigits() {
        QFETCH(qsizetype, chars);
        QFETCH(QByteArray, lengthField);
        const QByteArray body = bodyOf(chars);
        QCOMPARE(frameFileRecord(body), "012" + lengthField + body);
    }

    void cannedFrames_data() {
        QTest::addColumn<QByteArray>("termId");
        QTest::addColumn<bool>("moliChecked");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("example") << QByteArray("999") << false << QByteArray("99900053|A|B");
        QTest::newRow("MOLI checked") << QByteArray("999") << true << QByteArray("99900054|A|B");
        QTest::newRow("two characters") << QByteArray("12") << false << QByteArray("1200053|A|B");
        QTest::newRow("empty") << QByteArray() << false << QByteArray("00053|A|B");
        QTest::newRow("four characters")
            << QByteArray("1234") << false << QByteArray("123400053|A|B");
    }

    void cannedFrames() {
        QFETCH(QByteArray, termId);
        QFETCH(bool, moliChecked);
        QFETCH(QByteArray, frame);
        QCOMPARE(frameCannedRecord(termId, "|A|B", moliChecked), frame);
    }

    void sendableBodies() {
        QVERIFY(!IpndDataFile::isSendable("3|12345678"));
        QVERIFY(IpndDataFile::isSendable("3|123456789"));
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

    // Frames written back to back come out one by one, whatever the chunking.
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
        QTest::addColumn<QString>("reason");
        QTest::newRow("letter for length") << QByteArray("999A0053|A|B")
                                           << QStringLiteral("no length of at least 4 digits, "
                                                             "type digit and \"|\" after the "
                                                             "terminal ID");
        QTest::newRow("two-character terminal") << QByteArray("1200053|A|B")
                                                << QStringLiteral("no length of at least 4 digits, "
                                                                  "type digit and \"|\" after the "
                                                                  "terminal ID");
        QTest::newRow("no bar after type") << QByteArray("99900053A|B")
                                           << QStringLiteral("no length of at least 4 digits, "
                                                             "type digit and \"|\" after the "
                                                             "terminal ID");
        QTest::newRow("five digits, leading zero") << QByteArray("999000053|A|B")
                                                   << QStringLiteral("length field 00005 has a "
                                                                     "leading zero beyond four "
                                                                     "digits");
        QTest::newRow("length too small") << QByteArray("99900013|")
                                          << QStringLiteral("length 1 cannot hold a type digit "
                                                            "and \"|\"");
        QTest::newRow("nine digits") << QByteArray("9991000000003|")
                                     << QStringLiteral("length field is longer than 8 digits");
    }

    void parseGarbage() {
        QFETCH(QByteArray, buffer);
        QFETCH(QString, reason);
        Type4Frame frame;
        qsizetype consumed = 0;
        QString why;
        QCOMPARE(Type4Frame::parse(buffer, consumed, frame, &why),
                 Type4Frame::ParseResult::Garbage);
        QCOMPARE(why, reason);
        QCOMPARE(consumed, buffer.size());
    }

    void parseLimit() {
        Type4Frame frame;
        qsizetype consumed = 0;
        QString why;
        QCOMPARE(Type4Frame::parse("999100013|", consumed, frame, &why, 5000),
                 Type4Frame::ParseResult::Garbage);
        QCOMPARE(why, QStringLiteral("length 10001 is over the limit of 5000"));
    }

    void parseNeedsMore_data() {
        QTest::addColumn<QByteArray>("buffer");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("terminal only") << QByteArray("999");
        QTest::newRow("length digits") << QByteArray("9990012");
        QTest::newRow("type digit") << QByteArray("99900123");
        QTest::newRow("body part") << QByteArray("99900123|1234");
        QTest::newRow("long length digits") << QByteArray("99910000");
    }

    void parseNeedsMore() {
        QFETCH(QByteArray, buffer);
        Type4Frame frame;
        qsizetype consumed = -1;
        QCOMPARE(Type4Frame::parse(buffer, consumed, frame), Type4Frame::ParseResult::NeedMore);
        QCOMPARE(consumed, 0);
    }
};

QTEST_GUILESS_MAIN(TestType4Frame)
#include "tst_type4frame.moc"
