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
    void layoutsAgreeWithTheCannedRecords() {
        // The IPND widths are the widths the Max record fills.
        const QList<QByteArray> max = cannedIpndRecord(CannedRecord::Max).split('|');
        QCOMPARE(max.size(), kIpndFieldCount + 1);
        for (int i = 0; i < kIpndFieldCount; ++i)
            QCOMPARE(ipndFields()[i].width, int(max[i + 1].size()));
        QCOMPARE(ipndFields()[5].name, QStringLiteral("Customer_Name_1"));
        QCOMPARE(moliFields()[1].name, QStringLiteral("Shape"));
        QCOMPARE(moliFields()[39].name, QStringLiteral("Polygon_Y16"));
        QCOMPARE(moliFields()[45].name, QStringLiteral("ESO_Name"));
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
        const QByteArray standard = standardBody();
        const QByteArray point = pointBody();
        QTest::newRow("empty") << QByteArray() << QStringLiteral("empty body");
        QTest::newRow("type 5") << '5' + standard.mid(1)
                                << QStringLiteral("type digit \"5\" is not 3 or 4");
        QTest::newRow("no bar") << QByteArray("3A|B")
                                << QStringLiteral("record does not start with \"|\"");
        QTest::newRow("field missing") << standard.left(standard.lastIndexOf('|'))
                                       << QStringLiteral("type 3 with 51 fields, expected 52");
        QTest::newRow("field extra")
            << standard + "|" << QStringLiteral("type 3 with 53 fields, expected 52");
        QTest::newRow("type 3 with MOLI")
            << '3' + point.mid(1) << QStringLiteral("type 3 with 98 fields, expected 52");
        QTest::newRow("type 4 alone")
            << '4' + standard.mid(1) << QStringLiteral("type 4 without MOLI record");
        QTest::newRow("MOLI field missing")
            << point.left(point.lastIndexOf('|'))
            << QStringLiteral("type 4 with 97 fields, expected 52 IPND and 46 MOLI");
        QTest::newRow("name too wide")
            << withField(standard, 6, QByteArray(41, 'N'))
            << QStringLiteral("field 6 Customer_Name_1 is 41 wide, at most 40");
        QTest::newRow("flag too wide")
            << withField(standard, 52, "FF")
            << QStringLiteral("field 52 Confirm_Address_Flag is 2 wide, at most 1");
        QTest::newRow("ESO name too wide")
            << withField(point, 98, QByteArray(41, 'E'))
            << QStringLiteral("MOLI field 46 ESO_Name is 41 wide, at most 40");
        QTest::newRow("shape letter")
            << withField(point, 54, "Q")
            << QStringLiteral("MOLI shape \"Q\" is not one of O, C, A, P, E, N, X");
        QTest::newRow("shape lower case")
            << withField(point, 54, "o")
            << QStringLiteral("MOLI shape \"o\" is not one of O, C, A, P, E, N, X");
        QTest::newRow("shape empty")
            << withField(point, 54, "") << QStringLiteral("MOLI shape is empty");
    }

    void refusals() {
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        const Type4Check check = checkType4Body(body);
        QVERIFY(!check.ok);
        QCOMPARE(check.reason, reason);
    }

    void frameRefusals_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("reason");
        const QByteArray body = standardBody();
        QTest::newRow("length one short")
            << "9990306" + body << QStringLiteral("length 306, but the body has 307 characters");
        QTest::newRow("length one long")
            << "9990308" + body << QStringLiteral("length 308, but the body has 307 characters");
        QTest::newRow("two-character terminal")
            << frameCannedRecord("12", body.mid(1), false)
            << QStringLiteral(
                   "no length of at least 4 digits, type digit and \"|\" after the terminal ID");
        QTest::newRow("good frame, bad body") << frameCannedRecord("999", body.mid(1), true)
                                              << QStringLiteral("type 4 without MOLI record");
    }

    void frameRefusals() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, reason);
        const Type4Check check = checkType4Frame(frame);
        QVERIFY(!check.ok);
        QCOMPARE(check.reason, reason);
    }
};

QTEST_GUILESS_MAIN(TestType4Check)
#include "tst_type4check.moc"
