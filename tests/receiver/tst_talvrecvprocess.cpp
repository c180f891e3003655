#include "cannedrecords.h"
#include "type4frame.h"

#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

namespace {

constexpr int kRunTimeoutMs = 20'000;

const QRegularExpression
    kListening(QStringLiteral("^talvrecv listening: Type 4 on 127\\.0\\.0\\.1 port (\\d+), Type 5 "
                              "on 127\\.0\\.0\\.1 port (\\d+)$"),
               QRegularExpression::MultilineOption);

// talvrecv on ports of its own choosing; collects what it prints.
class Talvrecv {
public:
    explicit Talvrecv(const QStringList &arguments) {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                         [this] { out += process.readAllStandardOutput(); });
        process.start(QStringLiteral(TALVRECV_PATH),
                      QStringList{QStringLiteral("--type4-port"), QStringLiteral("0"),
                                  QStringLiteral("--type5-port"), QStringLiteral("0")} +
                          arguments);
    }

    // The Type 4 port, once the listening line is out; 0 before.
    quint16 type4Port() const {
        const QRegularExpressionMatch match = kListening.match(QString::fromLocal8Bit(out));
        return match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
    }

    bool finished() const { return process.state() == QProcess::NotRunning; }

    QProcess process;
    QByteArray out;
};

QByteArray standardFrame() {
    return frameCannedRecord("999", cannedIpndRecord(CannedRecord::Standard), false);
}

} // namespace

class TestTalvrecvProcess : public QObject {
    Q_OBJECT

private slots:
    void oneFrameThenTheSummary_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("valid") << standardFrame() << QStringLiteral("type 3 fields 52 OK")
                               << QByteArray("ACK") << 0;
        QTest::newRow("invalid") << frameCannedRecord("999", "|A|B", false)
                                 << QStringLiteral("type 3 fields 2 INVALID: type 3 with 2 "
                                                   "fields, expected 52")
                                 << QByteArray() << 1;
    }

    void oneFrameThenTheSummary() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, verdict);
        QFETCH(QByteArray, reply);
        QFETCH(int, exitCode);
        Talvrecv talvrecv({QStringLiteral("--duration"), QStringLiteral("2")});
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.type4Port() != 0, kRunTimeoutMs);
        QTcpSocket client;
        QByteArray received;
        connect(&client, &QTcpSocket::readyRead, &client, [&] { received += client.readAll(); });
        client.connectToHost(QHostAddress::LocalHost, talvrecv.type4Port());
        QTRY_COMPARE(client.state(), QAbstractSocket::ConnectedState);
        const quint16 clientPort = client.localPort();
        client.write(frame);
        // Each line reaches the pipe as soon as it is printed.
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.out.contains(" T4 "), kRunTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.finished(), kRunTimeoutMs);
        QCOMPARE(received, reply);
        QCOMPARE(talvrecv.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(talvrecv.process.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(talvrecv.out);
        const QRegularExpression line(
            QStringLiteral(
                "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} T4 127\\.0\\.0\\.1:%1 "
                "term 999 len \\d{4} %2$")
                .arg(clientPort)
                .arg(QRegularExpression::escape(verdict)),
            QRegularExpression::MultilineOption);
        QVERIFY2(line.match(out).hasMatch(), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("summary: frames received 1, valid %1, invalid %2")
                                 .arg(1 - exitCode)
                                 .arg(exitCode)));
    }

    void sigtermEndsWithTheSummary() {
        Talvrecv talvrecv({});
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.type4Port() != 0, kRunTimeoutMs);
        talvrecv.process.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.finished(), kRunTimeoutMs);
        QCOMPARE(talvrecv.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(talvrecv.process.exitCode(), 0);
        QVERIFY(talvrecv.out.contains("\nsummary: frames received 0, valid 0, invalid 0\n"));
    }

    void quietPrintsOnlyTheSummary() {
        Talvrecv talvrecv(
            {QStringLiteral("--quiet"), QStringLiteral("--duration"), QStringLiteral("0.5")});
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.finished(), kRunTimeoutMs);
        QCOMPARE(talvrecv.process.exitCode(), 0);
        const QList<QByteArray> lines = talvrecv.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 5);
        for (const QByteArray &line : lines)
            QVERIFY2(line.startsWith("summary: "), line.constData());
    }

    void helpAndUsageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stdoutStart");
        QTest::addColumn<QString>("stderrStart");
        QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0
                              << QStringLiteral("Usage: ") << QString();
        QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0
                                 << QStringLiteral("talvrecv 1.10.69") << QString();
        QTest::newRow("bad option") << QStringList{QStringLiteral("--bogus")} << 2 << QString()
                                    << QStringLiteral("talvrecv: Unknown option 'bogus'.\nUsage: ");
        QTest::newRow("bad value")
            << QStringList{QStringLiteral("--refuse"), QStringLiteral("all")} << 2 << QString()
            << QStringLiteral("talvrecv: bad value \"all\" for --refuse\n");
    }

    void helpAndUsageErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, stdoutStart);
        QFETCH(QString, stderrStart);
        QProcess process;
        process.start(QStringLiteral(TALVRECV_PATH), arguments);
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, kRunTimeoutMs);
        QCOMPARE(process.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(out.startsWith(stdoutStart) && (stdoutStart.isEmpty() == out.isEmpty()),
                 qPrintable(out));
        QVERIFY2(err.startsWith(stderrStart) && (stderrStart.isEmpty() == err.isEmpty()),
                 qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestTalvrecvProcess)
#include "tst_talvrecvprocess.moc"
