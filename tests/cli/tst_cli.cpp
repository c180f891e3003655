// SPDX-License-Identifier: GPL-3.0-or-later
// talvgen-cli as a pipeline sees it: its options, the runs it drives against
// peers on 127.0.0.1 with what they print, exit with and report, its tally, and
// the program itself run and killed as a process.
#include "headlessrun.h"
#include "linktestsupport.h"
#include "responsestats.h"
#include "runoptions.h"
#include "runtally.h"
#include "testtext.h"

#include "amllayout.h"
#include "cannedrecords.h"

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>
#include <csignal>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(RunOptions)
Q_DECLARE_METATYPE(RunTally)

using Action = ParsedRunOptions::Action;

namespace {

// The line, with each of the values in place of "%", is refused with the
// complaint in its usage error.
void refused(const char *complaint, const char *line,
             std::initializer_list<const char *> values = {""}) {
    QStringList lines;
    for (const char *value : values)
        lines << QString::fromUtf8(line).replace(u'%', QString::fromUtf8(value));
    QTest::newRow(complaint) << lines << QString::fromUtf8(complaint);
}

QStringList argv(const char *line) {
    return QStringList{u"talvgen-cli"_s} + words(line);
}

QStringList lines(const QByteArray &bytes) {
    return QString::fromLatin1(bytes).split(u'\n', Qt::SkipEmptyParts);
}

QByteArray frame(const char *head, CannedRecord which, const QByteArray &moli = {}) {
    return head + cannedIpndRecord(which) + moli;
}

// Rows of a CSV file whose fields hold no commas, quotes or line ends, as here.
QList<QStringList> csvRows(const QString &path) {
    QFile file(path);
    QList<QStringList> rows;
    if (file.open(QIODevice::ReadOnly))
        for (const QString &line :
             QString::fromUtf8(file.readAll()).split(u"\r\n"_s, Qt::SkipEmptyParts))
            rows << line.split(u',');
    return rows;
}

// A failed case's failure type, message, text and element ("failure", or "error"
// for a socket error); empty when it passed.
struct JunitCase {
    QString name;
    double time = -1;
    QString failure, message, failureText, element;
};

// The test cases of a JUnit file, whether the counts of the suite and of the file agree with
// them, and the time each gives (-1 when there is none).
struct JunitReport {
    QList<JunitCase> cases;
    bool countsAgree = false;
    double suiteTime = -1, suitesTime = -1;
};

JunitReport junitReport(const QString &path) {
    JunitReport report;
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&file);
    QStringList counts; // tests, failures and errors: of the suites, the suite, the cases
    int failed = 0, errored = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto attribute = [&](const char *name) {
            return xml.attributes().value(QLatin1String(name)).toString();
        };
        const QString element = xml.name().toString();
        if (element.startsWith(u"testsuite")) {
            (element == u"testsuite" ? report.suiteTime : report.suitesTime) =
                attribute("time").toDouble();
            counts << QStringList{attribute("tests"), attribute("failures"), attribute("errors")}
                          .join(u' ');
        } else if (element == u"testcase") {
            report.cases.append({attribute("name"), attribute("time").toDouble(), {}, {}, {}, {}});
        } else if ((element == u"failure" || element == u"error") && !report.cases.isEmpty()) {
            ++(element == u"failure" ? failed : errored);
            JunitCase &last = report.cases.last();
            last.element = element;
            last.failure = attribute("type");
            last.message = attribute("message");
            last.failureText = last.message + u'\n' + xml.readElementText();
        }
    }
    counts << u"%1 %2 %3"_s.arg(report.cases.size()).arg(failed).arg(errored);
    report.countsAgree = !xml.hasError() && counts.size() == 3 && counts.count(counts[0]) == 3;
    return report;
}

// A peer for each link and a folder of files: "@4" and "@5" in the arguments
// stand for the peers' HOST:PORT, "@refused" for a port nobody listens on,
// "@dir" for the folder, which holds small.x01, odd.x01 (control and Latin-1 bytes),
// multi.x01 (one record in two parts), small.xml and sub/. The peers answer "ACK".
struct Run {
    explicit Run(int answerDelayMs = 0) {
        write("small.x01", "a\tb\tc\t3|12345678|first\r\na\tb\tc\t3|87654321|second\r\n");
        write("small.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<CLI_Data>\r\n"
                           "<Date_Sent>2019-11-04</Date_Sent>\r\n"
                           "<Time_Sent>13:40:06</Time_Sent><Extra>x</Extra>\r\n</CLI_Data>\r\n");
        write("odd.x01", "a\tb\tc\t3|12345678|\x01\x1b[2J\xe9\r\n");
        write("multi.x01", "99902013|1234567\r\n99902028|first\r\n");
        QDir(dir.path()).mkdir(u"sub"_s);
        for (Peer *peer : {&type4, &type5}) {
            peer->answerDelayMs = answerDelayMs;
            peer->answer = "ACK";
        }
    }

    // The runner run in this process.
    void run(const QStringList &arguments) {
        QBuffer outBuffer, errBuffer;
        outBuffer.open(QIODevice::WriteOnly);
        errBuffer.open(QIODevice::WriteOnly);
        status = runTalvgenCli(argv("") + withPlaces(arguments), outBuffer, errBuffer);
        out = lines(outBuffer.data());
        err = lines(errBuffer.data());
    }

    QStringList withPlaces(QStringList list) const {
        list.replaceInStrings(u"@4"_s, type4.endpoint());
        list.replaceInStrings(u"@5"_s, type5.endpoint());
        list.replaceInStrings(u"@refused"_s, u"127.0.0.1:%1"_s.arg(unusedPort()));
        return list.replaceInStrings(u"@dir"_s, dir.path());
    }

    // Empty when each start begins a line printed, in this order, in stderr and then
    // stdout; else the first one missing, with all that was printed.
    QString missing(const QStringList &starts) const {
        const QStringList all = err + out;
        qsizetype at = 0;
        for (const QString &start : withPlaces(starts)) {
            while (at < all.size() && !all[at].startsWith(start))
                ++at;
            if (at == all.size())
                return start + u'\n' + all.join(u'\n');
        }
        return {};
    }

    void write(const char *name, const QByteArray &bytes) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    QTemporaryDir dir;
    Peer type4, type5;
    int status = -1;
    QStringList out, err;
};

// One run of the runs table; what a row leaves out is checked as nothing.
struct RunCase {
    const char *arguments = "";
    int status = 0;
    QList<const char *> printed = {};
    QList<QByteArray> type4 = {};
    QString type5 = {};
    QList<const char *> cases = {};
    int delayMs = 0;
    QList<QByteArray> row1 = {}; // what the type 5 peer got on socket row 1, a connection each
};

constexpr int kProcessTimeoutMs = 30000;

const QString kProgram = QStringLiteral(TALVGEN_CLI_PATH);

} // namespace

Q_DECLARE_METATYPE(RunCase)

class tst_Cli : public QObject {
    Q_OBJECT
private slots:
    void accepts_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<RunOptions>("expected");

        // A shape by its word; the rest stays at its default.
        RunOptions moli;
        moli.type4 = Endpoint{u"h"_s, 7005};
        moli.sends = {CannedSend::Min};
        moli.moli = MoliShape::CircularArc;
        QTest::newRow("moli arc") << argv("--type4 h:7005 --send min --moli arc") << moli;

        RunOptions rest;
        rest.type4 = Endpoint{u"localhost"_s, 1};
        using enum CannedSend;
        rest.sends = {Max, Min, Long, NoAdd, Standard};
        rest.termId = u"12"_s;
        rest.type5 = Endpoint{u"::1"_s, 65535};
        rest.send5 = true;
        rest.xmlFile = u"aml.xml"_s;
        rest.quiet = true;
        rest.waitSeconds = 0.001;
        rest.type4HoldMs = 3600000;
        rest.delayLimitMs = 1;
        QTest::newRow("every record in the order given, the rest at its limits")
            << argv("--type4 localhost:1 --send max --send min --send long --send noadd --send "
                    "standard --term-id 12 --type5 [::1]:65535 --send5 --xml aml.xml --quiet "
                    "--wait 0.001 --type4-hold 3600000 --delay-limit 1")
            << rest;
        RunOptions cycle;
        cycle.type4 = moli.type4;
        cycle.dataFile = u"ipnd3.x01"_s;
        cycle.dataFileForm = DataFileForm::MultiPkt;
        cycle.periodSeconds = 32767;
        cycle.periods = 1000000;
        cycle.unlimited = true;
        cycle.row1 = Endpoint{u"::1"_s, 7018};
        QTest::newRow("multi-part cycle to both rows at its limits")
            << argv("--type4 h:7005 --data-file ipnd3.x01 --data-file-form multipkt --period "
                    "32767 --periods 1000000 --unlimited --row1 [::1]:7018")
            << cycle;
    }

    void accepts() {
        QFETCH(QStringList, arguments);
        QFETCH(RunOptions, expected);
        const ParsedRunOptions parsed = parseRunOptions(arguments);
        QCOMPARE(parsed.message, QString());
        QCOMPARE(parsed.action, Action::Run);
        QVERIFY(parsed.options == expected);
    }

    void refuses_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("complaint");
        refused("Unknown option", "%", {"--type4 h:1 --send standard --bogus", "-type4 h:1"});
        refused("unexpected argument \"extra\"", "--type4 h:1 --send standard extra");
        refused("Missing value after '--type4'", "--send standard --type4");
        refused("nothing to do", "%", {"--type4 h:1", ""});
        refused("--type4 wants HOST:PORT", "--type4 % --send standard",
                {"host", "host:", ":7005", "h:0", "h:65536", "h:70x5", "h:+7005"});
        refused("--type5 wants HOST:PORT", "--type5 % --send5", {"::1:7018", "[]:7018"});
        refused("--type4 given more than once", "--type4 h:1 --type4 h:2 --send standard");
        refused("--send wants one of standard|noadd|", "--type4 h:1 --send maximum");
        refused("--send needs --type4", "--type5 h:1 --send standard");
        refused("--moli wants one of point|", "--type4 h:1 --send standard --moli square");
        refused("--moli and --term-id need --send", "--type5 h:1 --send5 %",
                {"--moli point", "--term-id 12"});
        refused("Latin-1", "--type4 h:1 --send standard --term-id €");
        refused("--send5 and --xml need --type5", "--type4 h:1 %", {"--send5", "--xml a.xml"});
        refused("--data-file needs --type4", "% --data-file a.x01", {"", "--type5 h:1"});
        refused("--data-file cannot go with --type5", "--type4 h:1 --type5 h:2 --data-file a.x01");
        refused("--row1 wants HOST:PORT", "--type4 h:1 --data-file a --row1 %", {"h", "h:0"});
        refused("--row1 cannot go with --type5: both fill socket row 1",
                "--type4 h:1 --type5 h:2 --row1 h:3 %", {"--data-file a", "--send5"});
        refused("--row1 needs --data-file", "--type4 h:1 --send min --row1 h:2");
        refused("--row1 needs a --period of 2 or more",
                "--type4 h:1 --data-file a --row1 h:2 --period 1");
        refused("--data-file-form wants one of rawlog|multipkt",
                "--type4 h:1 --data-file a --data-file-form raw");
        refused("--data-file-form needs --data-file",
                "--type4 h:1 --send min --data-file-form rawlog");
        refused("--junit and --csv name the same file", "--type4 h:1 --send min %",
                {"--junit r --csv r", "--junit ./r --csv r"});
        refused("wants whole milliseconds from 1 to 3600000", "--type4 h:1 --send min %",
                {"--type4-hold 0", "--type4-hold 3600001", "--delay-limit 1.5"});
        refused("--type4-hold needs --type4", "--type5 h:1 --send5 --type4-hold 500");
        refused("--period wants whole seconds", "--type4 h:1 --data-file a --period %",
                {"0", "32768", "1.5", "-1"});
        refused("--periods wants a count", "--type4 h:1 --data-file a --periods %",
                {"0", "1000001", "x"});
        refused("need --data-file", "--type4 h:1 --send standard %", {"--period 5", "--unlimited"});
        refused("--wait wants seconds over 0", "--type4 h:1 --send standard --wait %",
                {"-1", "3601", "soon", "nan", "0", "0.0004"});
    }

    void refuses() {
        QFETCH(QStringList, lines);
        QFETCH(QString, complaint);
        for (const QString &line : lines) {
            const ParsedRunOptions parsed = parseRunOptions(argv(line.toUtf8().constData()));
            QCOMPARE(parsed.action, Action::UsageError);
            QVERIFY2(parsed.message.contains(complaint), qPrintable(line + u'\n' + parsed.message));
        }
    }

    // A tally as the run leaves it: packets stored and handed over (and of those, closed by
    // link 1 before an answer), responses measured on link 1, sockets not set, data files not
    // opened, and the signal that stopped it.
    void tally_data() {
        QTest::addColumn<RunTally>("tally");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("verdict"); // how it begins
        const auto row = [](const char *name, QList<int> packets, QList<qint64> responsesUs,
                            int socketsNotSet, int dataFileFailures, int status,
                            const char *verdict, int signal = 0) {
            RunTally tally;
            tally.type4.stored = packets[0];
            tally.type4.handedOver = packets[1];
            tally.type4.closedBeforeAnswer = packets.value(2);
            tally.stoppedBySignal = signal;
            for (const qint64 usec : responsesUs)
                tally.measured(tally.type4, usec);
            for (int i = 0; i < socketsNotSet; ++i)
                tally.socketError(u"Unable to set socket"_s);
            tally.dataFileFailures = dataFileFailures;
            QTest::newRow(name) << tally << status << QString::fromLatin1(verdict);
        };
        row("exactly 2 s is in time", {1, 1}, {2'000'000}, 0, 0, 0, "PASS");
        row("one microsecond late", {1, 1}, {2'000'001}, 0, 0, 1, "FAIL: 1 delayed");
        row("nothing sent", {0, 0}, {}, 0, 0, 1, "FAIL: no packet was sent");
        row("everything wrong at once", {4, 3}, {3'000'000}, 1, 0, 1,
            "FAIL: 1 not handed over, 2 unanswered, 1 delayed");
        row("data file not opened", {1, 1}, {1}, 0, 1, 2,
            "FAIL: a data file could not be opened or read");
        row("closed by link 1, none unanswered", {2, 2, 1}, {1}, 0, 0, 1,
            "FAIL: 1 closed by link 1 before an answer");
        row("SIGTERM before anything was sent", {0, 0}, {}, 0, 0, 143, "STOPPED by SIGTERM",
            SIGTERM);
        row("SIGTERM after a failure", {1, 1}, {}, 0, 0, 1, "FAIL: 1 unanswered", SIGTERM);
        // Row 1's packets fail the run as row 0's do, and so does one the window dropped.
        RunTally row1;
        row1.row1Used = true;
        row1.row1 = {.stored = 3, .handedOver = 2, .closedBeforeAnswer = 1};
        row1.measured(row1.row1, 2'000'001);
        row1.row1Dropped = 1;
        QTest::newRow("row 1 counted") << row1 << 1
                                       << u"FAIL: 1 not handed over, 1 closed by link 1 before an "
                                          "answer, 1 delayed, 1 dropped for row 1"_s;
    }

    void tally() {
        QFETCH(RunTally, tally);
        QFETCH(int, status);
        QFETCH(QString, verdict);
        QCOMPARE(tally.exitStatus(), status);
        QVERIFY2(tally.verdict().startsWith(verdict), qPrintable(tally.verdict()));
    }

    // The summary's figures as a fast receiver makes them: to the microsecond, never
    // rounded to 0.0; a link with no responses has no figures; each socket error by its
    // reason, then the window's number.
    void summary() {
        RunTally tally;
        ResponseStats type4;
        for (const qint64 usec : {40, 90, 120}) {
            ++tally.type4.stored;
            ++tally.type4.handedOver;
            ++tally.type4.processed;
            tally.measured(tally.type4, usec);
            type4.add(usec);
        }
        for (const qint16 number : {10061, 10054, 10061})
            tally.socketError(socketErrorText(
                number, number == 10061 ? u"Connection refused"_s : u"Connection reset by peer"_s));
        tally.socketError(u"Unable to set socket"_s);
        const ResponseStats type5, connects;
        const QStringList lines = summaryLines(tally, 3, &type4, &type5, &connects);
        qsizetype at = 0;
        for (const QString &line :
             texts({"Socket errors: 4: 2 Connection refused (socket error 10061), 1 Connection "
                    "reset by peer (socket error 10054), 1 Unable to set socket",
                    "Response times: Type 4: 3 responses, median 0.090 ms, p95 0.120 ms, max "
                    "0.120 ms; Type 5: 0 responses; All: 3 responses, median 0.090 ms, p95 "
                    "0.120 ms, max 0.120 ms",
                    "Type 4 precise: 3 responses, min 0.040 ms, mean 0.083 ms, median 0.090 ms, "
                    "p95 0.120 ms, max 0.120 ms",
                    "Type 5 precise: 0 responses", "Type 4 connect: 0 connects"})) {
            at = lines.indexOf(line, at);
            QVERIFY2(at >= 0, qPrintable(line + u"\nnot in\n"_s + lines.join(u'\n')));
        }
    }

    // A run against the peers: how it ends, the starts of lines it prints (in this
    // order, stderr then stdout; stderr holds nothing else but the warnings printed
    // names), what each link carried (type5 a pattern), and when cases are given, its
    // JUnit and CSV reports, a case a line as "name: outcome" in the order the exchanges
    // ended, or "name: outcome: pattern" for its JUnit message too. Unless the run stops before it
    // starts (exit 2), only the links checked are.
    void runs_data() {
        QTest::addColumn<RunCase>("c");
        const QString document =
            QRegularExpression::escape(QString::fromLatin1(cannedAmlDocument()));
        const auto moli = cannedMoliRecords();
        // Both links, each press its own connection in order; the file's lines joined,
        // restamped now.
        QTest::newRow("canned with moli, aml and xml") << RunCase{
            .arguments = "--type5 @5 --send5 --xml @dir/small.xml --type4 @4 "
                         "--moli point --send standard --send noadd",
            .type4 = {frame("99904124", CannedRecord::Standard, moli[kMoliPoint]),
                      frame("99902644", CannedRecord::NoAdd, moli[kMoliPoint])},
            .type5 = document + QStringLiteral("<\\?xml version=\"1.0\" encoding=\"UTF-8\"\\?>"
                                               "<CLI_Data><Date_Sent>(?!2019-11-04)\\d{4}-\\d\\d-"
                                               "\\d\\d</Date_Sent><Time_Sent>\\d\\d:\\d\\d:\\d\\d"
                                               "</Time_Sent></CLI_Data>"),
            .cases = {"type4.001.standard+point: answered", "type4.002.noadd+point: answered",
                      "type5.001.canned: answered", "type5.002.small.xml: answered"}};
        // The operator's backslash is a folder separator.
        QTest::newRow("data file cycle")
            << RunCase{.arguments = "--type4 @4 --period 1 --periods 2 --data-file @dir\\small.x01",
                       .type4 = {"01200163|12345678|first", "08700173|87654321|second"},
                       .cases = {"type4.001.small.x01:line 1: answered",
                                 "type4.002.small.x01:line 2: answered"}};
        // A frame with the wrong terminal ID length is allowed, as a deliberate test.
        QTest::newRow("all answered, log oldest first, a short terminal id warned about")
            << RunCase{.arguments = "--type4 @4 --send standard --term-id 12",
                       .printed =
                           {"talvgen-cli: warning: --term-id \"12\" is not three characters; the "
                            "frames carry it as given",
                            "--> 1203073|", "TCP TCP Originate: Remote port <", "Event: Connected",
                            "Response Time ", "==== talvgen-cli summary ====",
                            "Packets handed over: Type 4 1 of 1, Type 5 0 of 0",
                            "Responses processed: Type 4 1, Type 5 0 (window total 1)",

                            "Type 4 connect: 1 connect, min ",
                            "Result: PASS: every packet answered within 2000 ms"},
                       .type4 = {frame("1203073", CannedRecord::Standard)}};
        // Quiet, the summary alone names the reason.
        QTest::newRow("refused, quiet")
            << RunCase{.arguments = "--type4 @refused --send long --quiet",
                       .status = 1,
                       .printed = {"==== talvgen-cli summary ====",
                                   "Packets handed over: Type 4 0 of 1, Type 5 0 of 0",
                                   "Socket errors: 1: 1 Connection refused (socket error 10061)",
                                   "Result: FAIL: 1 not handed over"},
                       .cases = {"type4.001.long: refused: Connection refused \\(socket error "
                                 "10061\\)"}};
        // Link 1 closes at its first poll after sending; the runner says so.
        QTest::newRow("type 4 peer too slow for link 1")
            << RunCase{.arguments = "--type4 @4 --send min",
                       .status = 1,
                       .printed = {"Closed by link 1 before an answer: 1", "Unanswered: 0",
                                   "Result: FAIL: 1 closed by link 1 before an answer"},
                       .cases = {"type4.001.min: closed by link 1 before an answer"},
                       .delayMs = 400};
        // In the cycle too: each record's exchange ends when link 1 closes it, not
        // when the next record takes its place.
        QTest::newRow("data file cycle, peer too slow for link 1")
            << RunCase{.arguments = "--type4 @4 --period 1 --periods 2 --data-file @dir/small.x01",
                       .status = 1,
                       .printed = {"Closed by link 1 before an answer: 2", "Unanswered: 0",
                                   "Result: FAIL: 2 closed by link 1 before an answer"},
                       .cases = {"type4.001.small.x01:line 1: closed by link 1 before an answer",
                                 "type4.002.small.x01:line 2: closed by link 1 before an answer"},
                       .delayMs = 400};
        QTest::newRow("link 1 held for a slow peer, judged by --delay-limit") << RunCase{
            .arguments = "--type4 @4 --send min --send max --type4-hold 1500 --delay-limit 300",
            .status = 1,
            .printed = {"Delayed (over 300 ms): 2", "Closed by link 1 before an answer: 0",
                        "Result: FAIL: 2 delayed"},
            .cases = {"type4.001.min: delayed: answered after \\d{3}\\.\\d{3} ms, over 300 ms",
                      "type4.002.max: delayed"},
            .delayMs = 400};
        // Control bytes, ESC and Latin-1 letters reach the terminal as the CSV shows them.
        QTest::newRow("packet bytes printed printable")
            << RunCase{.arguments = "--type4 @4 --period 1 --periods 1 --data-file @dir/odd.x01",
                       .printed = {"RSFP: Data Sent: 3|12345678|<01><1B>[2J<E9>"}};
        // Row 1 gets each record one tick after row 0: with a period of 2, before the next
        // record goes to row 0; and Stop waits for row 1's last.
        QTest::newRow("data file cycle to both rows") << RunCase{
            .arguments = "--type4 @4 --row1 @5 --period 2 --periods 2 --data-file @dir/small.x01",
            .printed = {"RSFP: Data Sent: 3|12345678|first",
                        "talvgen-cli: the record again, to row 1 (@5)",
                        "RSFP: Data Sent: 3|12345678|first", "RSFP: Data Sent: 3|87654321|second",
                        "talvgen-cli: the record again, to row 1 (@5)",
                        "Packets handed over: Type 4 2 of 2, Type 4 row 1 2 of 2, Type 5 0 of 0",
                        "Responses processed: Type 4 2, Type 4 row 1 2, Type 5 0 (window total 4)",
                        "Responses measured: Type 4 2, Type 4 row 1 2, Type 5 0",
                        "Dropped for row 1: 0", "Type 4 precise: 2 responses",
                        "Type 4 row 1 precise: 2 responses", "Type 4 row 1 connect: 2 connects",
                        "Result: PASS"},
            .type4 = {"01200163|12345678|first", "08700173|87654321|second"},
            .cases = {"type4.001.small.x01:line 1: answered",
                      "type4-row1.001.small.x01:line 1: answered",
                      "type4.002.small.x01:line 2: answered",
                      "type4-row1.002.small.x01:line 2: answered"},
            .row1 = {"01200163|12345678|first", "08700173|87654321|second"}};
        // Link 1 held open for row 0's slow answer is still busy at the next tick.
        QTest::newRow("row 1 dropped while link 1 is busy")
            << RunCase{.arguments = "--type4 @4 --row1 @5 --period 2 --periods 1 --data-file "
                                    "@dir/small.x01 --type4-hold 3000 --delay-limit 3000",
                       .status = 1,
                       .printed = {"talvgen-cli: link 1 was still busy at this tick; the window "
                                   "dropped the record for row 1",
                                   "Packets handed over: Type 4 1 of 1, Type 4 row 1 0 of 0",
                                   "Dropped for row 1: 1", "Result: FAIL: 1 dropped for row 1"},
                       .cases = {"type4.001.small.x01:line 1: answered"},
                       .delayMs = 1800};
        QTest::newRow("multi-part data file")
            << RunCase{.arguments = "--type4 @4 --period 1 --periods 1 --data-file "
                                    "@dir/multi.x01 --data-file-form multipkt",
                       .printed = {"SFIP: Part packet:[1]", "SFIP: Packet sequence complete",
                                   "RSFP: Data Sent: 3|12345678|first"},
                       .type4 = {"01200163|12345678|first"},
                       .cases = {"type4.001.multi.x01:line 2: answered"}};
        const auto stops = [](const char *name, const char *arguments, const char *printed) {
            QTest::newRow(name) << RunCase{
                .arguments = arguments, .status = 2, .printed = {printed}};
        };
        stops("missing data file", "--type4 @4 --data-file @dir/none.x01",
              "talvgen-cli: cannot open @dir/none.x01: ");
        stops("folder for a file", "--type4 @4 --data-file @dir/sub",
              "talvgen-cli: cannot open @dir/sub: is a folder");
        stops("bad usage", "--type4 @4 --send everything", "talvgen-cli: --send wants one of");
        stops("csv file that cannot be made", "--type4 @4 --send min --csv @dir/none/t.csv",
              "talvgen-cli: cannot create @dir/none/t.csv: ");
    }

    void runs() {
        QFETCH(RunCase, c);
        const QStringList printed = texts(c.printed);
        const QStringList cases = texts(c.cases);
        Run run(c.delayMs);
        QElapsedTimer runTime;
        runTime.start();
        run.run(words(c.arguments) +
                words(cases.isEmpty() ? "" : "--junit @dir/report.xml --csv @dir/times.csv"));
        const double runSeconds = double(runTime.nsecsElapsed()) / 1e9;
        QCOMPARE(run.status, c.status);
        QCOMPARE(run.missing(printed), QString());
        if (c.status < 2)
            QCOMPARE(run.err, printed.filter(u"talvgen-cli: warning: "_s));
        if (QByteArrayView(c.arguments).contains("--quiet"))
            QCOMPARE(run.out.first(), printed.first());
        if (c.status == 2 || !c.type4.isEmpty())
            QCOMPARE(run.type4.receivedByConnection(), c.type4);
        if (c.row1.isEmpty())
            QVERIFY(run.type5.connectionCount() <= 1); // link 2 keeps its connection
        else
            QCOMPARE(run.type5.receivedByConnection(), c.row1);
        const QString type5Bytes = QString::fromLatin1(run.type5.receivedByConnection().join());
        const QRegularExpression type5(QRegularExpression::anchoredPattern(c.type5));
        if (c.status == 2 || !c.type5.isEmpty())
            QVERIFY2(type5.match(type5Bytes).hasMatch(), qPrintable(type5Bytes));
        if (cases.isEmpty())
            return;
        const QList<QStringList> rows = csvRows(run.dir.filePath(u"times.csv"_s));
        QCOMPARE(
            rows.value(0),
            words("handed_over link sent bytes connect_us response_us counted_ms outcome answer"));
        const JunitReport report = junitReport(run.dir.filePath(u"report.xml"_s));
        QVERIFY(report.countsAgree);
        QCOMPARE(report.cases.size(), cases.size());
        QCOMPARE(rows.size(), cases.size() + 1);
        const QRegularExpression isoTime(
            QStringLiteral(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)"));
        qsizetype type4Connection = 0, row1Connection = 0;
        double caseSeconds = 0;
        QList<QDateTime> handedOver;
        for (qsizetype i = 0; i < cases.size(); ++i) {
            const QString name = cases[i].section(u": "_s, 0, 0);
            const QString outcome = cases[i].section(u": "_s, 1, 1);
            const QString message = cases[i].section(u": "_s, 2);
            const bool answered = outcome == u"answered";
            const bool measured = answered || outcome == u"delayed";
            const QStringList &fields = rows[i + 1]; // time link sent bytes connect response ...
            const JunitCase &testCase = report.cases[i];
            QCOMPARE((QStringList{testCase.name, testCase.failure, testCase.element,
                                  fields[1] + u'.' + fields[2], fields[7], fields[8]}),
                     (QStringList{name, answered ? QString() : outcome,
                                  answered                                       ? QString()
                                  : outcome == u"refused" || outcome == u"error" ? u"error"_s
                                                                                 : u"failure"_s,
                                  name.section(u'.', 0, 0) + u'.' + name.section(u'.', 2), outcome,
                                  measured ? u"ACK"_s : QString()}));
            QVERIFY2(isoTime.match(fields[0]).hasMatch(), qPrintable(fields[0]));
            QCOMPARE(!fields[5].isEmpty() && fields[5].toLongLong() >= c.delayMs * 1000, measured);
            QCOMPARE(testCase.time, measured ? fields[5].toDouble() / 1e6 : 0.0);
            // A failed case holds its exchange's own log lines.
            QVERIFY2(answered || testCase.failureText.contains(u"Event: "),
                     qPrintable(testCase.failureText));
            const QRegularExpression messagePattern(QRegularExpression::anchoredPattern(message));
            QVERIFY2(message.isEmpty() || messagePattern.match(testCase.message).hasMatch(),
                     qPrintable(testCase.message));
            caseSeconds += testCase.time;
            handedOver << QDateTime::fromString(fields[0], Qt::ISODateWithMs);
            if (fields[1] == u"type4" && outcome != u"refused")
                QCOMPARE(fields[3].toInt(),
                         run.type4.receivedByConnection().value(type4Connection++).size());
            if (fields[1] == u"type4-row1")
                QCOMPARE(fields[3].toInt(),
                         run.type5.receivedByConnection().value(row1Connection++).size());
        }
        // The suite's time is the run's: it holds every case's time and the span between the
        // first packet handed over and the last (CSV times are cut to the millisecond), and no
        // more than the run took as this test saw it.
        const auto [first, last] = std::minmax_element(handedOver.begin(), handedOver.end());
        for (const double suite : {report.suiteTime, report.suitesTime})
            QVERIFY2(suite >= caseSeconds && suite >= first->msecsTo(*last) / 1000.0 - 0.002 &&
                         suite <= runSeconds,
                     qPrintable(u"suite %1 s, cases %2 s, run %3 s"_s.arg(suite)
                                    .arg(caseSeconds)
                                    .arg(runSeconds)));
    }

    // A run ended mid-cycle, between two exchanges, keeps every line it printed and every
    // report row written before it ended, and its stderr stays clean. SIGTERM (as
    // SIGINT) first prints the summary and finishes both reports. The peer lives in this
    // process, so the test waits with the event loop running.
    void endedRunKeepsItsReports_data() {
        QTest::addColumn<int>("signal"); // 0: killed outright
        QTest::addColumn<int>("status");
        QTest::newRow("killed") << 0 << -1;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    }

    void endedRunKeepsItsReports() {
        QFETCH(int, signal);
        QFETCH(int, status);
        Run peers; // and files, for the program run as a process
        const QString csv = peers.dir.filePath(u"times.csv"_s);
        const QString junit = peers.dir.filePath(u"report.xml"_s);
        QProcess process;
        process.start(kProgram,
                      peers.withPlaces(words("--period 1 --periods 100 --type4 @4 --data-file "
                                             "@dir/small.x01 --csv @dir/times.csv --junit "
                                             "@dir/report.xml")));
        // Just after an answer the next packet is most of a second away.
        QTRY_VERIFY_WITH_TIMEOUT(csvRows(csv).size() >= 3, kProcessTimeoutMs);
        signal == 0 ? process.kill() : process.terminate();
        QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, kProcessTimeoutMs);
        QCOMPARE(process.exitStatus(), signal == 0 ? QProcess::CrashExit : QProcess::NormalExit);
        if (signal != 0)
            QCOMPARE(process.exitCode(), status);
        const QByteArray out = process.readAllStandardOutput();
        QVERIFY(out.contains("RSFP: Data Sent: 3|87654321|second"));
        QCOMPARE(out.contains("\nResult: STOPPED by SIG"), signal != 0);
        QCOMPARE(process.readAllStandardError(), QByteArray()); // Qt's offscreen notices kept out
        const JunitReport report = junitReport(junit);
        const qsizetype cases = report.cases.size();
        const qsizetype rows = csvRows(csv).size() - 1;
        QVERIFY(report.countsAgree && cases >= 1);
        QVERIFY2(signal == 0 ? cases <= rows : cases == rows, qPrintable(QString::number(cases)));
    }
};

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
