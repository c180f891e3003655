#include "datafilefixture.h"
#include "recordfields.h"
#include "type4frame.h"

#include <QSet>

// Our sample data files read as they are meant to.
namespace {

QString sample(const char *name) {
    return QStringLiteral(TALVGEN_SOURCE_DIR "/samples/") + QLatin1String(name);
}

} // namespace

class TestType4Samples : public QObject {
    Q_OBJECT

private slots:
    void rawLogSampleIsAllValid() {
        DataFileFixture f;
        f.file.OpenDataFile(sample("ipnd3.x01"));
        QVERIFY(f.file.isOpen());
        f.takeLog();
        int records = 0;
        QSet<char> shapes;
        while (f.file.ReadRawLogRecord()) {
            ++records;
            const QByteArray body = f.file.gDataRecord;
            const Type4Check check = checkType4Body(body);
            QVERIFY2(check.ok,
                     qPrintable(QStringLiteral("record %1: ").arg(records) + check.reason));
            QVERIFY(IpndDataFile::isSendable(body));
            const QByteArray frame = frameFileRecord(body);
            QVERIFY(checkType4Frame(frame).ok);
            QCOMPARE(frame.left(3), "0" + body.mid(2, 2)); // terminal from the job reference
            if (check.moliFields > 0)
                shapes.insert(body.split('|').at(kIpndFieldCount + kMoliShapeField).front());
        }
        QVERIFY(f.file.endOfInput());
        QVERIFY(records >= 24);
        QCOMPARE(shapes, QSet<char>({'O', 'C', 'A', 'P', 'E', 'N'}));
        const QStringList log = f.takeLog();
        QCOMPARE(log.size(), 2); // only the start again at the end
        QVERIFY(log[0].startsWith(QStringLiteral("Close log file: ")));
    }

    void refusalsSample() {
        DataFileFixture f;
        f.file.OpenDataFile(sample("refusals.x01"));
        f.takeLog();
        const QString notStandard = QStringLiteral("SRLP: Not standard packet --> ");
        QByteArray results;
        QList<QByteArray> bodies;
        while (true) {
            const bool ok = f.file.ReadRawLogRecord();
            if (f.file.endOfInput())
                break;
            results += ok ? 'T' : 'F';
            if (ok)
                bodies << f.file.gDataRecord;
        }
        QCOMPARE(results, QByteArray("FFFFFFTT"));
        const QStringList log = f.takeLog();
        QCOMPARE(log.size(), 3 + 2);
        QVERIFY(log[0].startsWith(notStandard + QStringLiteral("no tab anywhere")));
        QVERIFY(
            log[1].startsWith(notStandard + QString(100, QLatin1Char('X')) + QLatin1Char('\t')));
        QCOMPARE(log[2], QStringLiteral("SRLP: Unable to send packet. Header is Non Numeric"));
        QCOMPARE(bodies.size(), 2);
        QCOMPARE(bodies[0].size(), 8);
        QVERIFY(!IpndDataFile::isSendable(bodies[0]));
        QVERIFY(checkType4Body(bodies[1]).ok);
    }

    void multiPartSample() {
        DataFileFixture f;
        f.file.OpenDataFile(sample("multipkt.x01"));
        f.takeLog();
        QByteArray results;
        QList<QByteArray> bodies;
        while (true) {
            const bool ok = f.file.ReadMultiPartRecord();
            if (f.file.endOfInput())
                break;
            results += !ok ? 'F' : (f.file.gSeqComplete ? 'C' : 'T');
            if (ok && f.file.gSeqComplete)
                bodies << f.file.gDataRecord;
        }
        QCOMPARE(results, QByteArray("CTTCTTFFTTCFFFTTCTFTTC"));
        const auto part = [](int p) {
            return QStringLiteral("SFIP: Part packet:[%1]").arg(p);
        };
        const QString complete = QStringLiteral("SFIP: Packet sequence complete");
        const QString outOfSequence = QStringLiteral("SFIP: Dumping pkt out of sequence");
        const QString duplicate = QStringLiteral("SFIP: Found duplicate sequence pkt");
        QStringList expected = {complete,
                                part(1),
                                part(2),
                                complete,
                                part(1),
                                part(2),
                                duplicate,
                                QStringLiteral("SFIP: Dumping duplicate sequence pkt"),
                                outOfSequence,
                                duplicate,
                                QStringLiteral("SFIP: Found new start sequence pkt"),
                                part(1),
                                part(2),
                                complete,
                                outOfSequence,
                                outOfSequence,
                                QStringLiteral("SFIP: Unable to send packet header: Non Numeric"),
                                part(1),
                                part(2),
                                complete,
                                part(1),
                                QStringLiteral("SFIP: Found different terminal id in sequence pkt"),
                                part(1),
                                part(2),
                                complete};
        QStringList log = f.takeLog();
        QCOMPARE(log.mid(0, expected.size()), expected);
        QCOMPARE(bodies.size(), 5);
        for (const QByteArray &body : bodies) {
            const Type4Check check = checkType4Body(body);
            QVERIFY2(check.ok, qPrintable(check.reason));
        }
        QCOMPARE(fileRecordTerminalId(bodies.last()), QByteArray("099"));
    }
};

QTEST_GUILESS_MAIN(TestType4Samples)
#include "tst_type4samples.moc"
