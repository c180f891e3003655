// The talvgen-cli program itself, run as a pipeline would run it.
#include "clipeer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

constexpr int kProcessTimeoutMs = 30000;

const QString kProgram = QStringLiteral(TALVGEN_BINARY_DIR "/cli/talvgen-cli");

} // namespace

class tst_CliProcess : public QObject {
    Q_OBJECT
private slots:
    // Qt's own notices about running without a screen stay out of stderr.
    void withoutARun_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // how stdout begins; empty: nothing
        QTest::addColumn<QString>("err"); // how stderr begins; empty: nothing
        QTest::newRow("help") << "--help" << 0 << "Usage: talvgen-cli [options]"
                              << "";
        QTest::newRow("-h wins over bad values") << "--wait x -h" << 0 << "Usage: talvgen-cli"
                                                 << "";
        QTest::newRow("version") << "--version" << 0 << "talvgen-cli 1.10.69\n"
                                 << "";
        QTest::newRow("bad option") << "--bogus" << 2 << ""
                                    << "talvgen-cli: Unknown option 'bogus'.";
    }

    void withoutARun() {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess process;
        process.start(kProgram, arguments.split(QLatin1Char(' ')));
        QVERIFY2(process.waitForFinished(kProcessTimeoutMs), qPrintable(process.errorString()));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        const QString printed = QString::fromLatin1(process.readAllStandardOutput());
        const QString complaints = QString::fromLatin1(process.readAllStandardError());
        QVERIFY2(out.isEmpty() ? printed.isEmpty() : printed.startsWith(out), qPrintable(printed));
        QVERIFY2(err.isEmpty() ? complaints.isEmpty() : complaints.startsWith(err),
                 qPrintable(complaints));
    }

    // The peer lives in this process, so the test waits with the event loop running.
    void realRunPrintsAsItGoes() {
        AnsweringPeer peer;
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(kProgram, {QStringLiteral("--type4"), peer.endpoint(),
                                 QStringLiteral("--send"), QStringLiteral("standard")});
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kProcessTimeoutMs);
        QCOMPARE(process.exitCode(), 0);
        const QStringList printed =
            QString::fromLatin1(process.readAllStandardOutput()).split(QLatin1Char('\n'));
        QVERIFY(printed.value(0).startsWith(QLatin1String("--> 99903073|9990302|")));
        QVERIFY(printed.contains(QStringLiteral("Event: Connected")));
        QVERIFY(
            printed.contains(QStringLiteral("Result: PASS: every packet answered within 2000 ms")));
        QCOMPARE(peer.received().size(), 1);
    }

    // A run killed mid-cycle keeps every report row written before it died.
    void killedRunKeepsItsReports() {
        QTemporaryDir dir;
        QFile data(dir.filePath(QStringLiteral("cycle.x01")));
        QVERIFY(data.open(QIODevice::WriteOnly));
        data.write("a\tb\tc\t3|11111111|one\r\na\tb\tc\t3|22222222|two\r\n");
        data.close();
        const QString csvFile = dir.filePath(QStringLiteral("times.csv"));
        const QString junitFile = dir.filePath(QStringLiteral("report.xml"));
        AnsweringPeer peer;
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(kProgram,
                      {QStringLiteral("--type4"), peer.endpoint(), QStringLiteral("--data-file"),
                       data.fileName(), QStringLiteral("--period"), QStringLiteral("1"),
                       QStringLiteral("--periods"), QStringLiteral("100"), QStringLiteral("--csv"),
                       csvFile, QStringLiteral("--junit"), junitFile, QStringLiteral("--quiet")});
        const auto csvRows = [&csvFile] {
            QFile csv(csvFile);
            return csv.open(QIODevice::ReadOnly) ? csv.readAll().count("\r\n") : 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(csvRows() >= 3, kProcessTimeoutMs);
        process.kill();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kProcessTimeoutMs);
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QVERIFY(csvRows() >= 3);
        QFile junit(junitFile);
        QVERIFY(junit.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&junit);
        int cases = 0;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"testcase")
                ++cases;
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(cases >= 1 && cases <= csvRows() - 1);
    }
};

QTEST_GUILESS_MAIN(tst_CliProcess)
#include "tst_cliprocess.moc"
