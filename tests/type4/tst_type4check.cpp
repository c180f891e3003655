#include "cannedrecords.h"
#include "recordfields.h"
#include "type4frame.h"

#include <QTest>

namespace {

QByteArray standardBody() {
    return '3' + cannedIpndRecord(CannedRecord::Standard);
}

QByteArray pointBody() {
    return '4' + cannedIpndRecord(CannedRecord::Standard) + cannedMoliRecords().at(kMoliPoint);
}

// Replaces field n (counted from 1 after the type digit) of a body.
QByteArray withField(const QByteArray &body, int n, const QByteArray &value) {
    QList<QByteArray> parts = body.split('|');
    parts[n] = value;
    return parts.join('|');
}

} // namespace

class TestType4Check : public QObject {
    Q_OBJECT

private slots:
    void ipndWidthsAreTheWidthsTheMaxRecordFills() {
        const QList<QByteArray> max = cannedIpndRecord(CannedRecord::Max).split('|');
        QCOMPARE(max.size(), kIpndFieldCount + 1);
        for (int i = 0; i < kIpndFieldCount; ++i)
            QCOMPARE(ipndFields()[i].width, int(max[i + 1].size()));
    }

    void acceptsEveryCannedCombination_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("moliFields");
        const char *names[] = {"Standard", "No Add", "Long", "Min", "Max"};
        const auto moli = cannedMoliRecords();
        for (const CannedRecord which : kCannedRecords) {
            const QByteArray record = cannedIpndRecord(which);
            const char *name = names[int(which)];
            QTest::addRow("%s", name) << '3' + record << 0;
            for (int shape = 0; shape <= kMoliFull; ++shape)
                QTest::addRow("%s + MOLI %d", name, shape) << '4' + record + moli[shape] << 46;
        }
    }

    void acceptsEveryCannedCombination() {
        QFETCH(QByteArray, body);
        QFETCH(int, moliFields);
        const Type4Check check = checkType4Body(body);
        QVERIFY2(check.ok, qPrintable(check.reason));
        QVERIFY(check.reason.isEmpty());
        QCOMPARE(check.ipndFields, 52);
        QCOMPARE(check.moliFields, moliFields);
        QVERIFY(checkType4Frame(frameCannedRecord("999", body.mid(1), body[0] == '4')).ok);
    }

    void refusals_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("wholeFrame");
        const QByteArray standard = standardBody();
        const QByteArray point = pointBody();
        const auto row = [](const char *name, const QByteArray &body, const char *reason,
                            bool wholeFrame = false) {
            QTest::newRow(name) << body << QString::fromLatin1(reason) << wholeFrame;
        };
        row("empty", QByteArray(), "empty body");
        row("type 5", '5' + standard.mid(1), "type digit \"5\" is not 3 or 4");
        row("no bar", "3A|B", "record does not start with \"|\"");
        row("field missing", standard.left(standard.lastIndexOf('|')),
            "type 3 with 51 fields, expected 52");
        row("field extra", standard + "|", "type 3 with 53 fields, expected 52");
        row("type 3 with MOLI", '3' + point.mid(1), "type 3 with 98 fields, expected 52");
        row("type 4 alone", '4' + standard.mid(1), "type 4 without MOLI record");
        row("MOLI field missing", point.left(point.lastIndexOf('|')),
            "type 4 with 97 fields, expected 52 IPND and 46 MOLI");
        row("name too wide", withField(standard, 6, QByteArray(41, 'N')),
            "field 6 Customer_Name_1 is 41 wide, at most 40");
        row("flag too wide", withField(standard, 52, "FF"),
            "field 52 Confirm_Address_Flag is 2 wide, at most 1");
        row("ESO name too wide", withField(point, 98, QByteArray(41, 'E')),
            "MOLI field 46 ESO_Name is 41 wide, at most 40");
        row("shape letter", withField(point, 54, "Q"),
            "MOLI shape \"Q\" is not one of O, C, A, P, E, N, X");
        row("shape lower case", withField(point, 54, "o"),
            "MOLI shape \"o\" is not one of O, C, A, P, E, N, X");
        row("shape empty", withField(point, 54, ""), "MOLI shape is empty");
        row("frame length one short", "9990306" + standard,
            "length 306, but the body has 307 characters", true);
        row("frame length one long", "9990308" + standard,
            "length 308, but the body has 307 characters", true);
        row("good frame, bad body", frameCannedRecord("999", standard.mid(1), true),
            "type 4 without MOLI record", true);
    }

    void refusals() {
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        QFETCH(bool, wholeFrame);
        const Type4Check check = wholeFrame ? checkType4Frame(body) : checkType4Body(body);
        QVERIFY(!check.ok);
        QCOMPARE(check.reason, reason);
    }
};

QTEST_GUILESS_MAIN(TestType4Check)
#include "tst_type4check.moc"
