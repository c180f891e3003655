#include "receivertestsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

constexpr int kRunTimeoutMs = 20'000;

QStringList words(const char *line) {
    return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// talvrecv on ports of its own choosing; collects what it prints.
class Talvrecv {
public:
    explicit Talvrecv(const QStringList &arguments) {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                         [this] { out += process.readAllStandardOutput(); });
        process.start(QStringLiteral(TALVRECV_PATH),
                      words("--type4-port 0 --type5-port 0") + arguments);
    }

    // The Type 4 port, once the listening line is out; 0 before.
    quint16 type4Port() const {
        static const QRegularExpression listening(
            QStringLiteral("^talvrecv listening: Type 4 on 127\\.0\\.0\\.1 port (\\d+), Type 5 "
                           "on 127\\.0\\.0\\.1 port \\d+$"),
            QRegularExpression::MultilineOption);
        return quint16(listening.match(QString::fromLocal8Bit(out)).captured(1).toUInt());
    }

    bool finished() const { return process.state() == QProcess::NotRunning; }

    QProcess process;
    QByteArray out;
};

} // namespace

class TestTalvrecvProcess : public QObject {
    Q_OBJECT

private slots:
    // The run ends after --duration, or on SIGTERM when no duration is given.
    void oneFrameThenTheSummary_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<int>("exitCode");
        const QString ok = QStringLiteral("type 3 fields 52 OK");
        QTest::newRow("valid") << words("--duration 2") << standardFrame() << ok << 0;
        QTest::newRow("invalid") << words("--duration 2") << frameCannedRecord("999", "|A|B", false)
                                 << QStringLiteral("type 3 fields 2 INVALID: type 3 with 2 "
                                                   "fields, expected 52")
                                 << 1;
        QTest::newRow("SIGTERM") << QStringList() << standardFrame() << ok << 0;
    }

    void oneFrameThenTheSummary() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, frame);
        QFETCH(QString, verdict);
        QFETCH(int, exitCode);
        Talvrecv talvrecv(arguments);
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.type4Port() != 0, kRunTimeoutMs);
        Client client(talvrecv.type4Port());
        QTRY_VERIFY(!client.peer().isEmpty());
        client.socket.write(frame);
        // Each line reaches the pipe as soon as it is printed.
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.out.contains(" T4 "), kRunTimeoutMs);
        if (arguments.isEmpty())
            talvrecv.process.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.finished(), kRunTimeoutMs);
        QCOMPARE(client.data, QByteArray(exitCode == 0 ? "ACK" : ""));
        QCOMPARE(talvrecv.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(talvrecv.process.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(talvrecv.out);
        const QRegularExpression line(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} T4 %1 "
                           "term 999 len \\d{4} %2$")
                .arg(QRegularExpression::escape(client.peer()),
                     QRegularExpression::escape(verdict)),
            QRegularExpression::MultilineOption);
        QVERIFY2(line.match(out).hasMatch(), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("\nsummary: frames received 1, valid %1, invalid %2\n")
                                 .arg(1 - exitCode)
                                 .arg(exitCode)));
    }

    // start: how stdout begins, or stderr when it fails (2); the other stays empty.
    void withoutFrames_data() {
        QVERIFY(m_taken.isListening() || m_taken.listen(QHostAddress::LocalHost, 0));
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("start");
        QTest::newRow("help") << words("--help") << 0 << QStringLiteral("Usage: ");
        QTest::newRow("quiet: only the summary")
            << words("--quiet --duration 0.5") << 0 << QStringLiteral("summary: frames received 0");
        QTest::newRow("bad option") << words("--bogus") << 2
                                    << QStringLiteral("talvrecv: Unknown option 'bogus'.\nUsage: ");
        const QString taken = QString::number(m_taken.serverPort());
        QTest::newRow("port in use")
            << QStringList{QStringLiteral("--type5-port"), taken} << 2
            << QStringLiteral("talvrecv: cannot listen on 127.0.0.1 port %1 for Type 5: ")
                   .arg(taken);
    }

    void withoutFrames() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, start);
        Talvrecv talvrecv(arguments);
        QTRY_VERIFY_WITH_TIMEOUT(talvrecv.finished(), kRunTimeoutMs);
        QCOMPARE(talvrecv.process.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(talvrecv.out);
        const QString err = QString::fromLocal8Bit(talvrecv.process.readAllStandardError());
        QVERIFY2((exitCode == 2 ? err : out).startsWith(start), qPrintable(out + err));
        QVERIFY2((exitCode == 2 ? out : err).isEmpty(), qPrintable(out + err));
    }

private:
    QTcpServer m_taken;
};

QTEST_GUILESS_MAIN(TestTalvrecvProcess)
#include "tst_talvrecvprocess.moc"
