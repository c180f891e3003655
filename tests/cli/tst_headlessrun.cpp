#include "clipeer.h"
#include "headlessrun.h"

#include "amllayout.h"
#include "cannedrecords.h"
#include "frmipndzandrel.h"

#include <QBuffer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct CliResult {
    int status = -1;
    QStringList out;
    QString err;
};

QStringList words(const char *line) {
    return QString::fromLatin1(line).split(QLatin1Char(' '));
}

// Expected printed lines, separated by "|".
QStringList expectLines(const char *text) {
    return QString::fromLatin1(text).split(QLatin1Char('|'));
}

QStringList lines(const QByteArray &bytes) {
    return QString::fromLatin1(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// "@4" and "@5" stand for the two peers' HOST:PORT, "@refused" for a port
// nobody listens on.
QStringList withEndpoints(QStringList args, const AnsweringPeer &type4,
                          const AnsweringPeer &type5) {
    args.prepend(QStringLiteral("talvgen-cli"));
    args.replaceInStrings(QStringLiteral("@4"), type4.endpoint());
    args.replaceInStrings(QStringLiteral("@5"), type5.endpoint());
    args.replaceInStrings(QStringLiteral("@refused"), refusingEndpoint());
    return args;
}

CliResult runCli(const QStringList &arguments) {
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    CliResult result;
    result.status = runTalvgenCli(arguments, out, err);
    result.out = lines(out.data());
    result.err = QString::fromLatin1(err.data());
    return result;
}

QByteArray standardFrame() {
    return QByteArrayLiteral("9990307") + "3" + cannedIpndRecord(CannedRecord::Standard);
}

QString writeFile(const QTemporaryDir &dir, const char *name, const QByteArray &bytes) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

qsizetype indexOfPrefix(const QStringList &list, const QString &prefix) {
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].startsWith(prefix))
            return i;
    }
    return -1;
}

} // namespace

class tst_HeadlessRun : public QObject {
    Q_OBJECT
private slots:
    void bytesOnTheWire_data();
    void bytesOnTheWire();
    void xmlFileGoesOutRestampedAndJoined();
    void dataFileCycleSendsFirstRecordThenStops();
    void exitStatus_data();
    void exitStatus();
    void fileProblems_data();
    void fileProblems();
    void logLinesArePrintedOldestFirst();
    void quietPrintsOnlyTheSummary();
    void statusBarShowsTheResponses();
};

void tst_HeadlessRun::bytesOnTheWire_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<QByteArray>>("type4Connections");
    QTest::addColumn<QByteArray>("type5Bytes");

    const QByteArray standard = cannedIpndRecord(CannedRecord::Standard);
    const auto moli = cannedMoliRecords();
    QTest::newRow("standard") << words("--type4 @4 --send standard")
                              << QList<QByteArray>{standardFrame()} << QByteArray();
    QTest::newRow("term-id as typed")
        << words("--type4 @4 --term-id 123 --send standard")
        << QList<QByteArray>{QByteArrayLiteral("1230307") + "3" + standard} << QByteArray();
    QTest::newRow("moli point") << words("--type4 @4 --moli point --send standard")
                                << QList<QByteArray>{QByteArrayLiteral("9990412") + "4" + standard +
                                                     moli[kMoliPoint]}
                                << QByteArray();
    QTest::newRow("max with moli takes the full record")
        << words("--type4 @4 --moli circular --send max")
        << QList<QByteArray>{QByteArrayLiteral("9991291") + "4" +
                             cannedIpndRecord(CannedRecord::Max) + moli[kMoliFull]}
        << QByteArray();
    QTest::newRow("two presses, two connections, in order")
        << words("--type4 @4 --send noadd --send min")
        << QList<QByteArray>{QByteArrayLiteral("9990159") + "3" +
                                 cannedIpndRecord(CannedRecord::NoAdd),
                             QByteArrayLiteral("9990114") + "3" +
                                 cannedIpndRecord(CannedRecord::Min)}
        << QByteArray();
    QTest::newRow("send5") << words("--type5 @5 --send5") << QList<QByteArray>{}
                           << cannedAmlDocument();
    QTest::newRow("type 4 first, then type 5")
        << words("--type5 @5 --send5 --type4 @4 --send standard")
        << QList<QByteArray>{standardFrame()} << cannedAmlDocument();
}

void tst_HeadlessRun::bytesOnTheWire() {
    QFETCH(QStringList, arguments);
    QFETCH(QList<QByteArray>, type4Connections);
    QFETCH(QByteArray, type5Bytes);
    AnsweringPeer type4;
    AnsweringPeer type5;
    const CliResult result = runCli(withEndpoints(arguments, type4, type5));
    QCOMPARE(result.err, QString());
    QCOMPARE(result.status, 0);
    QCOMPARE(type4.connectionCount(), type4Connections.size());
    for (int i = 0; i < type4Connections.size(); ++i)
        QCOMPARE(type4.received(i), type4Connections[i]);
    QCOMPARE(type5.allReceived(), type5Bytes);
}

void tst_HeadlessRun::xmlFileGoesOutRestampedAndJoined() {
    QTemporaryDir dir;
    const QString xml = writeFile(dir, "small.xml",
                                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<CLI_Data>\r\n"
                                  "<Date_Sent>2019-11-04</Date_Sent>\r\n"
                                  "<Time_Sent>13:40:06</Time_Sent><Extra>x</Extra>\r\n"
                                  "</CLI_Data>\r\n");
    AnsweringPeer type4;
    AnsweringPeer type5;
    const CliResult result =
        runCli(withEndpoints(words("--type5 @5 --send5 --xml") << xml, type4, type5));
    QCOMPARE(result.status, 0);
    // The canned document first, then the file's lines with nothing between them.
    const QByteArray received = type5.allReceived();
    QVERIFY(received.startsWith(cannedAmlDocument()));
    const QString sentFile = QString::fromLatin1(received.mid(cannedAmlDocument().size()));
    static const QRegularExpression joined(QStringLiteral(
        "^<\\?xml version=\"1.0\" encoding=\"UTF-8\"\\?><CLI_Data>"
        "<Date_Sent>\\d{4}-\\d\\d-\\d\\d</Date_Sent><Time_Sent>\\d\\d:\\d\\d:\\d\\d</Time_Sent>"
        "</CLI_Data>$"));
    QVERIFY2(joined.match(sentFile).hasMatch(), qPrintable(sentFile));
    QVERIFY(!sentFile.contains(QLatin1String("2019-11-04")));
    QVERIFY(result.out.contains(QStringLiteral("End of File")));
    QVERIFY(
        result.out.contains(QStringLiteral("Packets handed over: Type 4 0 of 0, Type 5 2 of 2")));
}

void tst_HeadlessRun::dataFileCycleSendsFirstRecordThenStops() {
    QTemporaryDir dir;
    const QString data = writeFile(dir, "small.x01",
                                   "a\tb\tc\t3|12345678|first\r\n"
                                   "a\tb\tc\t3|87654321|second\r\n");
    AnsweringPeer type4;
    AnsweringPeer type5;
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    ParsedRunOptions parsed = parseRunOptions(withEndpoints(
        words("--type4 @4 --period 1 --periods 1 --data-file") << data, type4, type5));
    QCOMPARE(parsed.action, ParsedRunOptions::Action::Run);
    HeadlessRun run(parsed.options, out, err);
    QCOMPARE(run.exec(), 0);
    QCOMPARE(type4.allReceived(), QByteArrayLiteral("01200163|12345678|first"));
    QCOMPARE(run.window().RunControl->text(), QStringLiteral("Start"));
    QVERIFY(!run.window().gRunning);
    QCOMPARE(run.window().gPktPeriod, qint16(1));
    const QStringList printed = lines(out.data());
    QVERIFY(printed.contains(QStringLiteral("Open log file: ") + data));
    QVERIFY(printed.contains(QStringLiteral("RSFP: Data Sent: 3|12345678|first")));
}

void tst_HeadlessRun::exitStatus_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QByteArray>("beforeAnswer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("printed"); // among the lines printed

    QTest::newRow("all answered") << words("--type4 @4 --send standard --send long") << 0
                                  << QByteArray() << 0
                                  << expectLines(
                                         "Packets handed over: Type 4 2 of 2, Type 5 0 of 0|"
                                         "Responses processed: Type 4 2, Type 5 0 (window total 2)|"
                                         "Result: PASS: every packet answered within 2000 ms");
    QTest::newRow("heartbeat is not a response")
        << words("--type5 @5 --send5") << 100 << QByteArrayLiteral("\x02H\x03") << 0
        << expectLines("Responses measured: Type 4 0, Type 5 1|"
                       "Responses processed: Type 4 0, Type 5 1 (window total 1)|"
                       "Rxed Heartbeat. Send back ACK");
    QTest::newRow("type 5 answered after 2.5 s is delayed")
        << words("--type5 @5 --send5 --wait 4") << 2500 << QByteArray() << 1
        << expectLines("Delayed (over 2000 ms): 1|Unanswered: 0|Result: FAIL: 1 delayed");
    QTest::newRow("type 4 peer too slow for link 1")
        << words("--type4 @4 --send min") << 2500 << QByteArray() << 1
        << expectLines("Unanswered: 1|Result: FAIL: 1 unanswered");
    QTest::newRow("refused")
        << words("--type4 @refused --send standard") << 0 << QByteArray() << 1
        << expectLines("Packets handed over: Type 4 0 of 1, Type 5 0 of 0|Socket errors: 1|"
                       "Result: FAIL: 1 not handed over");
}

void tst_HeadlessRun::exitStatus() {
    QFETCH(QStringList, arguments);
    QFETCH(int, delayMs);
    QFETCH(QByteArray, beforeAnswer);
    QFETCH(int, status);
    QFETCH(QStringList, printed);
    AnsweringPeer type4;
    AnsweringPeer type5;
    for (AnsweringPeer *peer : {&type4, &type5}) {
        peer->answerDelayMs = delayMs;
        peer->beforeAnswer = beforeAnswer;
    }
    const CliResult result = runCli(withEndpoints(arguments, type4, type5));
    QCOMPARE(result.status, status);
    for (const QString &line : printed)
        QVERIFY2(result.out.contains(line),
                 qPrintable(line + QLatin1Char('\n') + result.out.join(QLatin1Char('\n'))));
}

void tst_HeadlessRun::fileProblems_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // in stderr or stdout
    QTest::addColumn<int>("type5Bytes");

    QTest::newRow("missing data file") << words("--type4 @4 --data-file @dir/none.x01")
                                       << "talvgen-cli: cannot open @dir/none.x01: " << 0;
    QTest::newRow("missing xml file") << words("--type5 @5 --xml @dir/none.xml")
                                      << "talvgen-cli: cannot open @dir/none.xml: " << 0;
    QTest::newRow("empty xml file: the window cannot load it")
        << words("--type5 @5 --xml @dir/empty.xml")
        << "ERROR on File search on file name @dir/empty.xml" << 0;
    QTest::newRow("bad usage") << words("--type4 @4 --send everything")
                               << "talvgen-cli: --send wants one of" << 0;
}

void tst_HeadlessRun::fileProblems() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QFETCH(int, type5Bytes);
    QTemporaryDir dir;
    writeFile(dir, "empty.xml", QByteArray());
    arguments.replaceInStrings(QStringLiteral("@dir"), dir.path());
    expected.replace(QStringLiteral("@dir"), dir.path());
    AnsweringPeer type4;
    AnsweringPeer type5;
    const CliResult result = runCli(withEndpoints(arguments, type4, type5));
    QCOMPARE(result.status, 2);
    const QString everything = result.err + result.out.join(QLatin1Char('\n'));
    QVERIFY2(everything.contains(expected), qPrintable(everything));
    QCOMPARE(type4.connectionCount(), 0);
    QCOMPARE(type5.allReceived().size(), type5Bytes);
}

void tst_HeadlessRun::logLinesArePrintedOldestFirst() {
    AnsweringPeer type4;
    AnsweringPeer type5;
    const CliResult result =
        runCli(withEndpoints(words("--type4 @4 --send standard"), type4, type5));
    QCOMPARE(result.status, 0);
    const QStringList expectedOrder = {
        QStringLiteral("--> ") + QString::fromLatin1(standardFrame()),
        QStringLiteral("TCP TCP Originate: Remote port <"),
        QStringLiteral("TCP Current: Local port <"),
        QStringLiteral("Event: Connected"),
        QStringLiteral("Response Time "),
        QStringLiteral("==== talvgen-cli summary ===="),
    };
    qsizetype previous = -1;
    for (const QString &prefix : expectedOrder) {
        const qsizetype at = indexOfPrefix(result.out, prefix);
        QVERIFY2(at > previous, qPrintable(prefix));
        previous = at;
    }
}

void tst_HeadlessRun::quietPrintsOnlyTheSummary() {
    AnsweringPeer type4;
    AnsweringPeer type5;
    const CliResult result =
        runCli(withEndpoints(words("--type4 @4 --send standard --quiet"), type4, type5));
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out.value(0), QStringLiteral("==== talvgen-cli summary ===="));
    QCOMPARE(indexOfPrefix(result.out, QStringLiteral("Response Time ")), -1);
    QVERIFY(result.out.last().startsWith(QLatin1String("Result: PASS")));
}

void tst_HeadlessRun::statusBarShowsTheResponses() {
    AnsweringPeer type4;
    AnsweringPeer type5;
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    const ParsedRunOptions parsed = parseRunOptions(
        withEndpoints(words("--type4 @4 --send standard --send noadd --send max"), type4, type5));
    HeadlessRun run(parsed.options, out, err);
    QCOMPARE(run.exec(), 0);
    QVERIFY2(run.window().responseStatus->text().startsWith(QLatin1String("Type 4: 3 responses")),
             qPrintable(run.window().responseStatus->text()));
    QCOMPARE(run.tally().type4.answered, 3);
    QVERIFY(lines(out.data())
                .contains(QStringLiteral("Response times: ") + run.window().responseStatistics()));
}

QTEST_MAIN(tst_HeadlessRun)
#include "tst_headlessrun.moc"
