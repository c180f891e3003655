#include "runoptions.h"

#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(RunOptions)

namespace {

QStringList argv(const char *line) {
    QStringList args{QStringLiteral("talvgen-cli")};
    const QString text = QString::fromUtf8(line);
    if (!text.isEmpty())
        args << text.split(QLatin1Char(' '));
    return args;
}

Endpoint at(const char *host, quint16 port) {
    return Endpoint{QString::fromLatin1(host), port};
}

RunOptions withType4(QList<CannedSend> sends) {
    RunOptions options;
    options.type4 = at("h", 7005);
    options.sends = std::move(sends);
    return options;
}

} // namespace

class tst_RunOptions : public QObject {
    Q_OBJECT
private slots:
    void accepts_data();
    void accepts();
    void rejects_data();
    void rejects();
    void helpAndVersion_data();
    void helpAndVersion();
    void unreadableFile_data();
    void unreadableFile();
};

void tst_RunOptions::accepts_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<RunOptions>("expected");

    QTest::newRow("one standard, defaults")
        << argv("--type4 h:7005 --send standard") << withType4({CannedSend::Standard});
    QTest::newRow("every record, in the order given")
        << argv("--type4 h:7005 --send max --send min --send long --send noadd --send standard")
        << withType4({CannedSend::Max, CannedSend::Min, CannedSend::Long, CannedSend::NoAdd,
                      CannedSend::Standard});

    const std::pair<const char *, MoliShape> shapes[] = {
        {"point", MoliShape::Point},         {"circular", MoliShape::Circular},
        {"arc", MoliShape::CircularArc},     {"polygon", MoliShape::Polygon},
        {"ellipsoid", MoliShape::Ellipsoid}, {"none", MoliShape::None}};
    for (const auto &[word, shape] : shapes) {
        RunOptions options = withType4({CannedSend::Standard});
        options.moli = shape;
        QTest::addRow("moli %s", word)
            << (argv("--type4 h:7005 --send standard --moli") << QString::fromLatin1(word))
            << options;
    }

    RunOptions termId = withType4({CannedSend::Min});
    termId.termId = QStringLiteral("12");
    QTest::newRow("term-id as typed") << argv("--type4 h:7005 --send min --term-id 12") << termId;

    RunOptions send5;
    send5.type5 = at("10.0.0.5", 7018);
    send5.send5 = true;
    QTest::newRow("send5") << argv("--type5 10.0.0.5:7018 --send5") << send5;

    RunOptions xml;
    xml.type5 = at("::1", 7018);
    xml.xmlFile = QStringLiteral("aml.xml");
    xml.waitSeconds = 0.5;
    QTest::newRow("xml, IPv6, wait") << argv("--type5 [::1]:7018 --xml aml.xml --wait 0.5") << xml;

    RunOptions cycle;
    cycle.type4 = at("localhost", 1);
    cycle.type5 = at("localhost", 65535);
    cycle.dataFile = QStringLiteral("ipnd3.x01");
    cycle.periodSeconds = 32767;
    cycle.periods = 1000000;
    cycle.unlimited = true;
    cycle.quiet = true;
    QTest::newRow("cycle at its limits")
        << argv("--type4 localhost:1 --type5 localhost:65535 --data-file ipnd3.x01 --period 32767 "
                "--periods 1000000 --unlimited --quiet")
        << cycle;

    RunOptions noWait = withType4({CannedSend::Standard});
    noWait.waitSeconds = 0;
    QTest::newRow("wait 0") << argv("--type4 h:7005 --send standard --wait 0") << noWait;
}

void tst_RunOptions::accepts() {
    QFETCH(QStringList, arguments);
    QFETCH(RunOptions, expected);
    const ParsedRunOptions parsed = parseRunOptions(arguments);
    QCOMPARE(parsed.message, QString());
    QCOMPARE(parsed.action, ParsedRunOptions::Action::Run);
    QVERIFY(parsed.options == expected);
}

void tst_RunOptions::rejects_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    const auto row = [](const char *name, const char *line, const char *complaint) {
        QTest::newRow(name) << argv(line) << QString::fromUtf8(complaint);
    };
    row("unknown option", "--type4 h:1 --send standard --bogus", "Unknown option 'bogus'");
    row("single-dash word", "-type4 h:1", "Unknown option");
    row("positional argument", "--type4 h:1 --send standard extra",
        "unexpected argument \"extra\"");
    row("missing value", "--send standard --type4", "Missing value after '--type4'");
    row("nothing to do", "--type4 h:1", "nothing to do");
    row("nothing at all", "", "nothing to do");
    row("no port", "--type4 host --send standard", "--type4 wants HOST:PORT");
    row("empty port", "--type4 host: --send standard", "--type4 wants HOST:PORT");
    row("empty host", "--type4 :7005 --send standard", "--type4 wants HOST:PORT");
    row("port 0", "--type4 h:0 --send standard", "--type4 wants HOST:PORT");
    row("port 65536", "--type4 h:65536 --send standard", "--type4 wants HOST:PORT");
    row("port not a number", "--type4 h:70x5 --send standard", "--type4 wants HOST:PORT");
    row("signed port", "--type4 h:+7005 --send standard", "--type4 wants HOST:PORT");
    row("bare IPv6", "--type5 ::1:7018 --send5", "--type5 wants HOST:PORT");
    row("empty brackets", "--type5 []:7018 --send5", "--type5 wants HOST:PORT");
    row("type4 twice", "--type4 h:1 --type4 h:2 --send standard", "--type4 given more than once");
    row("unknown record", "--type4 h:1 --send maximum", "--send wants one of standard|noadd|");
    row("send without type4", "--type5 h:1 --send standard", "--send needs --type4");
    row("unknown shape", "--type4 h:1 --send standard --moli square", "--moli wants one of point|");
    row("moli without send", "--type5 h:1 --send5 --moli point",
        "--moli and --term-id need --send");
    row("term-id without send", "--type5 h:1 --send5 --term-id 12",
        "--moli and --term-id need --send");
    row("term-id not Latin-1", "--type4 h:1 --send standard --term-id €", "Latin-1");
    row("send5 without type5", "--type4 h:1 --send5", "--send5 and --xml need --type5");
    row("xml without type5", "--type4 h:1 --xml a.xml", "--send5 and --xml need --type5");
    row("data file without a row", "--data-file a.x01", "--data-file needs --type4 or --type5");
    row("period 0", "--type4 h:1 --data-file a --period 0", "--period wants whole seconds");
    row("period 32768", "--type4 h:1 --data-file a --period 32768", "--period wants whole seconds");
    row("period with a fraction", "--type4 h:1 --data-file a --period 1.5", "--period wants");
    row("negative period", "--type4 h:1 --data-file a --period -1", "--period wants");
    row("periods 0", "--type4 h:1 --data-file a --periods 0", "--periods wants a count");
    row("periods too many", "--type4 h:1 --data-file a --periods 1000001", "--periods wants");
    row("periods not a number", "--type4 h:1 --data-file a --periods x", "--periods wants");
    row("period without data file", "--type4 h:1 --send standard --period 5", "need --data-file");
    row("unlimited without data file", "--type4 h:1 --send standard --unlimited",
        "need --data-file");
    row("negative wait", "--type4 h:1 --send standard --wait -1", "--wait wants seconds");
    row("wait too long", "--type4 h:1 --send standard --wait 3601", "--wait wants seconds");
    row("wait not a number", "--type4 h:1 --send standard --wait soon", "--wait wants seconds");
    row("wait nan", "--type4 h:1 --send standard --wait nan", "--wait wants seconds");
}

void tst_RunOptions::rejects() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    const ParsedRunOptions parsed = parseRunOptions(arguments);
    QCOMPARE(parsed.action, ParsedRunOptions::Action::UsageError);
    QVERIFY2(parsed.message.contains(complaint), qPrintable(parsed.message));
}

void tst_RunOptions::helpAndVersion_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<ParsedRunOptions::Action>("action");
    QTest::addColumn<QString>("text");

    QTest::newRow("--help") << argv("--help") << ParsedRunOptions::Action::Help
                            << QStringLiteral("--send <RECORD>");
    QTest::newRow("-h wins over bad values")
        << argv("--wait x -h") << ParsedRunOptions::Action::Help
        << QStringLiteral("Usage: talvgen-cli [options]");
    QTest::newRow("--version") << argv("--version") << ParsedRunOptions::Action::Version
                               << QStringLiteral("talvgen-cli 1.10.69");
}

void tst_RunOptions::helpAndVersion() {
    QFETCH(QStringList, arguments);
    QFETCH(ParsedRunOptions::Action, action);
    QFETCH(QString, text);
    const ParsedRunOptions parsed = parseRunOptions(arguments);
    QCOMPARE(parsed.action, action);
    QVERIFY2(parsed.message.contains(text), qPrintable(parsed.message));
}

void tst_RunOptions::unreadableFile_data() {
    QTest::addColumn<QString>("dataFile");
    QTest::addColumn<QString>("xmlFile");
    QTest::addColumn<QString>("problem"); // empty: both readable

    QTest::newRow("both readable") << "ipnd.x01"
                                   << "aml.xml"
                                   << "";
    QTest::newRow("missing data file") << "gone.x01"
                                       << "aml.xml"
                                       << "gone.x01: ";
    QTest::newRow("missing xml file") << ""
                                      << "gone.xml"
                                      << "gone.xml: ";
    QTest::newRow("folder") << "sub"
                            << ""
                            << "sub: is a folder";
    QTest::newRow("operator path with backslash") << "sub\\inner.x01"
                                                  << ""
                                                  << "";
}

void tst_RunOptions::unreadableFile() {
    QFETCH(QString, dataFile);
    QFETCH(QString, xmlFile);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    for (const char *name : {"ipnd.x01", "aml.xml", "sub/inner.x01"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    RunOptions options;
    const auto inDir = [&dir](const QString &name) {
        return name.isEmpty() ? name : dir.path() + QLatin1Char('/') + name;
    };
    options.dataFile = inDir(dataFile);
    options.xmlFile = inDir(xmlFile);
    const QString found = ::unreadableFile(options);
    if (problem.isEmpty())
        QCOMPARE(found, QString());
    else
        QVERIFY2(found.startsWith(inDir(problem)), qPrintable(found));
}

QTEST_GUILESS_MAIN(tst_RunOptions)
#include "tst_runoptions.moc"
