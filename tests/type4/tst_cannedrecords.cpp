#include "cannedrecords.h"
#include "type4frame.h"

#include <QTest>

// The canned records and the frames the Type 4 buttons build from them.
class TestCannedRecords : public QObject {
    Q_OBJECT

private slots:
    void ipndRecords_data() {
        QTest::addColumn<CannedRecord>("which");
        QTest::addColumn<int>("chars");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("end");
        QTest::newRow("Standard") << CannedRecord::Standard << 306 << QByteArray("|9990302|")
                                  << QByteArray("|FIXED NETWORK VIC|VIC|F|F");
        QTest::newRow("No Add") << CannedRecord::NoAdd << 158 << QByteArray("|9990306|")
                                << QByteArray("|FIXED NETWORK VIC|VIC||");
        QTest::newRow("Long") << CannedRecord::Long << 687 << QByteArray("|9990304|")
                              << QByteArray("|FIXED NETWORK VIC|VIC|T|T");
        QTest::newRow("Min") << CannedRecord::Min << 113 << QByteArray("|9990303|")
                             << QByteArray("|034|MELBOURNE|VIC||");
        QTest::newRow("Max") << CannedRecord::Max << 705 << QByteArray("|9990305|")
                             << QByteArray("|993|FIXED NETWORK VIC|VIC|X|F");
    }

    void ipndRecords() {
        QFETCH(CannedRecord, which);
        QFETCH(int, chars);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, end);
        const QByteArray record = cannedIpndRecord(which);
        QCOMPARE(record.size(), chars);
        QCOMPARE(record.count('|'), 52);
        QVERIFY(record.startsWith(start));
        QVERIFY(record.endsWith(end));
    }

    void longRecordKeepsItsBlank() {
        QVERIFY(cannedIpndRecord(CannedRecord::Long).contains("|NEXT_DOOR_ QQQQQQQQQQQQQQQQQQW|"));
    }

    void moliRecords_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("chars");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("Point") << kMoliPoint << 105 << QByteArray("|WGS84|O|33 49 07.250S|");
        QTest::newRow("Circular") << kMoliCircular << 109 << QByteArray("|WGS84|C|");
        QTest::newRow("Circular Arc") << kMoliCircularArc << 117 << QByteArray("|WGS84|A|");
        QTest::newRow("Polygon") << kMoliPolygon << 240 << QByteArray("|WGS84|P|||||||30 45");
        QTest::newRow("Ellipsoid") << kMoliEllipsoid << 114 << QByteArray("|WGS84|E|||||| ||");
        QTest::newRow("None") << kMoliNone << 73 << QByteArray("||N|");
        QTest::newRow("full") << kMoliFull << 585 << QByteArray("|WGS84|X|");
    }

    void moliRecords() {
        QFETCH(int, index);
        QFETCH(int, chars);
        QFETCH(QByteArray, start);
        const QByteArray record = cannedMoliRecords().at(index);
        QCOMPARE(record.size(), chars);
        QCOMPARE(record.count('|'), 46);
        QVERIFY(record.startsWith(start));
        QVERIFY(record.endsWith("|NSW-POL,TUGGERAH-NEWCASTLE"));
    }

    void slotSevenIsEmpty() { QVERIFY(cannedMoliRecords().at(7).isEmpty()); }

    void buttonFrames_data() {
        QTest::addColumn<QByteArray>("termId");
        QTest::addColumn<CannedRecord>("which");
        QTest::addColumn<bool>("moliChecked");
        QTest::addColumn<int>("moliIndex"); // -1: no MOLI record appended
        QTest::addColumn<QByteArray>("head");
        const QByteArray t = "999";
        QTest::newRow("Standard") << t << CannedRecord::Standard << false << -1
                                  << QByteArray("99903073|");
        QTest::newRow("No Add") << t << CannedRecord::NoAdd << false << -1
                                << QByteArray("99901593|");
        QTest::newRow("Long") << t << CannedRecord::Long << false << -1 << QByteArray("99906883|");
        QTest::newRow("Min") << t << CannedRecord::Min << false << -1 << QByteArray("99901143|");
        QTest::newRow("Max") << t << CannedRecord::Max << false << -1 << QByteArray("99907063|");
        QTest::newRow("Standard + Point")
            << t << CannedRecord::Standard << true << kMoliPoint << QByteArray("99904124|");
        QTest::newRow("Standard + None")
            << t << CannedRecord::Standard << true << kMoliNone << QByteArray("99903804|");
        QTest::newRow("Max + full")
            << t << CannedRecord::Max << true << kMoliFull << QByteArray("99912914|");
        QTest::newRow("checked, no shape chosen")
            << t << CannedRecord::Standard << true << -1 << QByteArray("99903074|");
        QTest::newRow("terminal 12 unpadded")
            << QByteArray("12") << CannedRecord::Standard << false << -1 << QByteArray("1203073|");
    }

    void buttonFrames() {
        QFETCH(QByteArray, termId);
        QFETCH(CannedRecord, which);
        QFETCH(bool, moliChecked);
        QFETCH(int, moliIndex);
        QFETCH(QByteArray, head);
        QByteArray record = cannedIpndRecord(which);
        if (moliIndex >= 0)
            record += cannedMoliRecords().at(moliIndex);
        const QByteArray frame = frameCannedRecord(termId, record, moliChecked);
        QCOMPARE(frame.left(head.size()), head);
        QCOMPARE(frame.mid(head.size() - 1), record);
    }

    void minWithNoneHoldsEmptyDatum() {
        const QByteArray record =
            cannedIpndRecord(CannedRecord::Min) + cannedMoliRecords().at(kMoliNone);
        const QByteArray frame = frameCannedRecord("999", record, true);
        QVERIFY(frame.contains("||N|"));
        QVERIFY(frame.startsWith("99901874|"));
    }
};

QTEST_GUILESS_MAIN(TestCannedRecords)
#include "tst_cannedrecords.moc"
