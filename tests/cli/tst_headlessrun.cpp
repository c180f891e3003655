#include "clipeer.h"
#include "headlessrun.h"

#include "amllayout.h"
#include "cannedrecords.h"
#include "frmipndzandrel.h"

#include <QBuffer>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList texts(std::initializer_list<const char *> list) {
    QStringList all;
    for (const char *text : list)
        all << QString::fromLatin1(text);
    return all;
}

QStringList words(const char *line) {
    return QString::fromLatin1(line).split(QLatin1Char(' '));
}

QStringList lines(const QByteArray &bytes) {
    return QString::fromLatin1(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray frame(const char *head, CannedRecord which, const QByteArray &moli = {}) {
    return head + cannedIpndRecord(which) + moli;
}

// A peer for each link and a folder of files: "@4" and "@5" in the arguments
// stand for the peers' HOST:PORT, "@refused" for a port nobody listens on,
// "@dir" for the folder, which holds small.x01, small.xml, empty.xml and sub/.
struct Run {
    explicit Run(const QStringList &arguments, int answerDelayMs = 0,
                 const QByteArray &beforeAnswer = {}) {
        write("small.x01", "a\tb\tc\t3|12345678|first\r\na\tb\tc\t3|87654321|second\r\n");
        write("small.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<CLI_Data>\r\n"
                           "<Date_Sent>2019-11-04</Date_Sent>\r\n"
                           "<Time_Sent>13:40:06</Time_Sent><Extra>x</Extra>\r\n</CLI_Data>\r\n");
        write("empty.xml", {});
        QDir(dir.path()).mkdir(QStringLiteral("sub"));
        for (AnsweringPeer *peer : {&type4, &type5}) {
            peer->answerDelayMs = answerDelayMs;
            peer->beforeAnswer = beforeAnswer;
        }
        QStringList args = withPlaces(arguments);
        args.prepend(QStringLiteral("talvgen-cli"));
        QBuffer outBuffer;
        QBuffer errBuffer;
        outBuffer.open(QIODevice::WriteOnly);
        errBuffer.open(QIODevice::WriteOnly);
        status = runTalvgenCli(args, outBuffer, errBuffer);
        out = lines(outBuffer.data());
        err = lines(errBuffer.data());
    }

    QStringList withPlaces(QStringList list) const {
        list.replaceInStrings(QStringLiteral("@4"), type4.endpoint());
        list.replaceInStrings(QStringLiteral("@5"), type5.endpoint());
        list.replaceInStrings(QStringLiteral("@refused"), refusingEndpoint());
        return list.replaceInStrings(QStringLiteral("@dir"), dir.path());
    }

    void write(const char *name, const QByteArray &bytes) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    QTemporaryDir dir;
    AnsweringPeer type4;
    AnsweringPeer type5;
    int status = -1;
    QStringList out;
    QStringList err;
};

} // namespace

class tst_HeadlessRun : public QObject {
    Q_OBJECT
private slots:

    // type5: a pattern for all the Type 5 link carried.
    void bytesOnTheWire_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<QByteArray>>("type4Connections");
        QTest::addColumn<QString>("type5");
        const auto row = [](const char *name, const char *arguments, const QList<QByteArray> &type4,
                            const QString &type5 = {}) {
            QTest::newRow(name) << words(arguments) << type4 << type5;
        };
        const QByteArray standard = frame("99903073", CannedRecord::Standard);
        const QString document =
            QRegularExpression::escape(QString::fromLatin1(cannedAmlDocument()));
        const auto moli = cannedMoliRecords();
        row("standard", "--type4 @4 --send standard", {standard});
        row("term-id as typed", "--type4 @4 --term-id 123 --send standard",
            {frame("12303073", CannedRecord::Standard)});
        row("moli point", "--type4 @4 --moli point --send standard",
            {frame("99904124", CannedRecord::Standard, moli[kMoliPoint])});
        row("max with moli takes the full record", "--type4 @4 --moli circular --send max",
            {frame("99912914", CannedRecord::Max, moli[kMoliFull])});
        row("two presses, two connections, in order", "--type4 @4 --send noadd --send min",
            {frame("99901593", CannedRecord::NoAdd), frame("99901143", CannedRecord::Min)});
        row("send5", "--type5 @5 --send5", {}, document);
        row("type 4 first, then type 5", "--type5 @5 --send5 --type4 @4 --send standard",
            {standard}, document);
        // The file's lines joined, restamped now.
        row("send5, then xml", "--type5 @5 --send5 --xml @dir/small.xml", {},
            document + QStringLiteral("<\\?xml version=\"1.0\" encoding=\"UTF-8\"\\?><CLI_Data>"
                                      "<Date_Sent>(?!2019-11-04)\\d{4}-\\d\\d-\\d\\d</Date_Sent>"
                                      "<Time_Sent>\\d\\d:\\d\\d:\\d\\d</Time_Sent></CLI_Data>"));
        // The operator's backslash is a folder separator.
        row("data file cycle: first record, then stop",
            "--type4 @4 --period 1 --periods 1 --data-file @dir\\small.x01",
            {"01200163|12345678|first"});
    }

    void bytesOnTheWire() {
        QFETCH(QStringList, arguments);
        QFETCH(QList<QByteArray>, type4Connections);
        QFETCH(QString, type5);
        const Run run(arguments);
        QCOMPARE(run.err, QStringList());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.type4.received(), type4Connections);
        const QString type5Bytes = QString::fromLatin1(run.type5.allReceived());
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(type5))
                     .match(type5Bytes)
                     .hasMatch(),
                 qPrintable(type5Bytes));
    }

    // printed: starts of lines found in this order, in stderr and then stdout.
    void printedAndExitStatus_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("printed");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QByteArray>("beforeAnswer");
        const auto row = [](const char *name, const char *arguments, int status,
                            std::initializer_list<const char *> printed, int delayMs = 0,
                            const QByteArray &beforeAnswer = {}) {
            QTest::newRow(name) << words(arguments) << status << texts(printed) << delayMs
                                << beforeAnswer;
        };
        row("all answered, log oldest first", "--type4 @4 --send standard", 0,
            {"--> 99903073|", "TCP TCP Originate: Remote port <", "TCP Current: Local port <",
             "Event: Connected", "Response Time ",
             "==== talvgen-cli summary ====", "Packets handed over: Type 4 1 of 1, Type 5 0 of 0",
             "Responses processed: Type 4 1, Type 5 0 (window total 1)",
             "Result: PASS: every packet answered within 2000 ms"});
        row("quiet", "--type4 @4 --send standard --send long --quiet", 0,
            {"==== talvgen-cli summary ====", "Packets handed over: Type 4 2 of 2, Type 5 0 of 0",
             "Result: PASS"});
        row("heartbeat is not a response", "--type5 @5 --send5", 0,
            {"Rxed Heartbeat. Send back ACK",
             "Responses processed: Type 4 0, Type 5 1 (window total 1)",
             "Responses measured: Type 4 0, Type 5 1"},
            100, QByteArrayLiteral("\x02H\x03"));
        row("type 5 answered after 2.5 s is delayed", "--type5 @5 --send5 --wait 4", 1,
            {"Delayed (over 2000 ms): 1", "Unanswered: 0", "Result: FAIL: 1 delayed"}, 2500);
        row("type 4 peer too slow for link 1", "--type4 @4 --send min", 1,
            {"Unanswered: 1", "Result: FAIL: 1 unanswered"}, 2500);
        row("refused", "--type4 @refused --send standard", 1,
            {"Packets handed over: Type 4 0 of 1, Type 5 0 of 0", "Socket errors: 1",
             "Result: FAIL: 1 not handed over"});
        row("missing data file", "--type4 @4 --data-file @dir/none.x01", 2,
            {"talvgen-cli: cannot open @dir/none.x01: "});
        row("missing xml file", "--type5 @5 --xml @dir/none.xml", 2,
            {"talvgen-cli: cannot open @dir/none.xml: "});
        row("folder for a file", "--type4 @4 --data-file @dir/sub", 2,
            {"talvgen-cli: cannot open @dir/sub: is a folder"});
        row("empty xml file: the window cannot load it", "--type5 @5 --xml @dir/empty.xml", 2,
            {"ERROR on File search on file name @dir/empty.xml"});
        row("bad usage", "--type4 @4 --send everything", 2, {"talvgen-cli: --send wants one of"});
    }

    void printedAndExitStatus() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, printed);
        QFETCH(int, delayMs);
        QFETCH(QByteArray, beforeAnswer);
        const Run run(arguments, delayMs, beforeAnswer);
        QCOMPARE(run.status, status);
        const QStringList all = run.err + run.out;
        qsizetype at = 0;
        for (const QString &start : run.withPlaces(printed)) {
            while (at < all.size() && !all[at].startsWith(start))
                ++at;
            QVERIFY2(at < all.size(), qPrintable(start + QLatin1Char('\n') + all.join(u'\n')));
        }
        if (arguments.contains(QStringLiteral("--quiet"))) // the summary alone
            QCOMPARE(run.out.first(), printed.first());
        if (status == 2) // nothing goes out
            QCOMPARE(run.type4.allReceived() + run.type5.allReceived(), QByteArray());
    }

    void statusBarShowsTheResponses() {
        AnsweringPeer type4;
        QBuffer out;
        QBuffer err;
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
        const QStringList arguments =
            words("talvgen-cli --send standard --send noadd --send max --type4")
            << type4.endpoint();
        HeadlessRun run(parseRunOptions(arguments).options, out, err);
        QCOMPARE(run.exec(), 0);
        const QString status = run.window().responseStatus->text();
        QVERIFY2(status.startsWith(QLatin1String("Type 4: 3 responses")), qPrintable(status));
    }
};

QTEST_MAIN(tst_HeadlessRun)
#include "tst_headlessrun.moc"
