// The talvgen-cli program itself, run as a pipeline would run it.
#include "clipeer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr int kProcessTimeoutMs = 30000;

QString program() {
    return QStringLiteral(TALVGEN_BINARY_DIR "/cli/talvgen-cli");
}

} // namespace

class tst_CliProcess : public QObject {
    Q_OBJECT
private slots:
    void withoutARun_data();
    void withoutARun();
    void realRunPrintsAsItGoes();
};

void tst_CliProcess::withoutARun_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0
                          << "Usage: talvgen-cli [options]"
                          << "";
    QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0
                             << "talvgen-cli 1.10.69"
                             << "";
    QTest::newRow("bad option") << QStringList{QStringLiteral("--bogus")} << 2 << ""
                                << "talvgen-cli: Unknown option 'bogus'.";
    QTest::newRow("nothing to do") << QStringList{} << 2 << ""
                                   << "talvgen-cli: nothing to do";
}

void tst_CliProcess::withoutARun() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess process;
    process.start(program(), arguments);
    QVERIFY2(process.waitForFinished(kProcessTimeoutMs), qPrintable(process.errorString()));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    const QString printed = QString::fromLatin1(process.readAllStandardOutput());
    const QString complaints = QString::fromLatin1(process.readAllStandardError());
    QVERIFY2(out.isEmpty() ? printed.isEmpty() : printed.contains(out), qPrintable(printed));
    // Qt's own notices about running without a screen stay out of stderr.
    QVERIFY2(err.isEmpty() ? complaints.isEmpty() : complaints.startsWith(err),
             qPrintable(complaints));
}

// The peer lives in this process, so the test waits with the event loop running.
void tst_CliProcess::realRunPrintsAsItGoes() {
    AnsweringPeer peer;
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(program(), {QStringLiteral("--type4"), peer.endpoint(), QStringLiteral("--send"),
                              QStringLiteral("standard")});
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kProcessTimeoutMs);
    QCOMPARE(process.exitCode(), 0);
    const QStringList printed =
        QString::fromLatin1(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    QVERIFY(printed.value(0).startsWith(QLatin1String("--> 99903073|9990302|")));
    QVERIFY(printed.contains(QStringLiteral("Event: Connected")));
    QVERIFY(printed.contains(QStringLiteral("Result: PASS: every packet answered within 2000 ms")));
    QCOMPARE(peer.connectionCount(), 1);
}

QTEST_GUILESS_MAIN(tst_CliProcess)
#include "tst_cliprocess.moc"
