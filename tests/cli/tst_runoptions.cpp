#include "runoptions.h"

#include <QTest>

Q_DECLARE_METATYPE(RunOptions)

using Action = ParsedRunOptions::Action;

namespace {

QStringList argv(const char *line) {
    return QStringList{QStringLiteral("talvgen-cli")} +
           QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

Endpoint at(const char *host, quint16 port) {
    return Endpoint{QString::fromLatin1(host), port};
}

// The line, with each of the values in place of "%", is refused with the
// complaint in its usage error.
void refused(const char *complaint, const char *line, std::initializer_list<const char *> values) {
    QStringList lines;
    for (const char *value : values)
        lines << QString::fromUtf8(line).replace(QLatin1Char('%'), QString::fromUtf8(value));
    QTest::newRow(complaint) << lines << QString::fromUtf8(complaint);
}

void refused(const char *complaint, const char *line) {
    refused(complaint, line, {""});
}

} // namespace

class tst_RunOptions : public QObject {
    Q_OBJECT
private slots:
    void accepts_data();
    void accepts();
    void refuses_data();
    void refuses();
};

void tst_RunOptions::accepts_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<RunOptions>("expected");

    RunOptions sends;
    sends.type4 = at("h", 7005);
    sends.sends = {CannedSend::Max, CannedSend::Min, CannedSend::Long, CannedSend::NoAdd,
                   CannedSend::Standard};
    sends.termId = QStringLiteral("12");
    sends.waitSeconds = 0;
    QTest::newRow("every record in the order given, term-id as typed, wait 0")
        << argv("--type4 h:7005 --send max --send min --send long --send noadd --send standard "
                "--term-id 12 --wait 0")
        << sends;

    // The words in the order of the shape buttons; the rest stays at its default.
    const char *shapes[] = {"point", "circular", "arc", "polygon", "ellipsoid", "none"};
    RunOptions moli;
    moli.type4 = at("h", 7005);
    moli.sends = {CannedSend::Min};
    for (int button = 0; button < 6; ++button) {
        moli.moli = MoliShape(button);
        QTest::addRow("moli %s", shapes[button])
            << (argv("--type4 h:7005 --send min --moli") << QString::fromLatin1(shapes[button]))
            << moli;
    }

    RunOptions rest;
    rest.type4 = at("localhost", 1);
    rest.type5 = at("::1", 65535);
    rest.send5 = true;
    rest.xmlFile = QStringLiteral("aml.xml");
    rest.dataFile = QStringLiteral("ipnd3.x01");
    rest.periodSeconds = 32767;
    rest.periods = 1000000;
    rest.unlimited = true;
    rest.quiet = true;
    rest.waitSeconds = 0.5;
    QTest::newRow("the rest, at its limits")
        << argv("--type4 localhost:1 --type5 [::1]:65535 --send5 --xml aml.xml --data-file "
                "ipnd3.x01 --period 32767 --periods 1000000 --unlimited --quiet --wait 0.5")
        << rest;
}

void tst_RunOptions::accepts() {
    QFETCH(QStringList, arguments);
    QFETCH(RunOptions, expected);
    const ParsedRunOptions parsed = parseRunOptions(arguments);
    QCOMPARE(parsed.message, QString());
    QCOMPARE(parsed.action, Action::Run);
    QVERIFY(parsed.options == expected);
}

void tst_RunOptions::refuses_data() {
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
    refused("--data-file needs --type4 or --type5", "--data-file a.x01");
    refused("--period wants whole seconds", "--type4 h:1 --data-file a --period %",
            {"0", "32768", "1.5", "-1"});
    refused("--periods wants a count", "--type4 h:1 --data-file a --periods %",
            {"0", "1000001", "x"});
    refused("need --data-file", "--type4 h:1 --send standard %", {"--period 5", "--unlimited"});
    refused("--wait wants seconds", "--type4 h:1 --send standard --wait %",
            {"-1", "3601", "soon", "nan"});
}

void tst_RunOptions::refuses() {
    QFETCH(QStringList, lines);
    QFETCH(QString, complaint);
    for (const QString &line : lines) {
        const ParsedRunOptions parsed = parseRunOptions(argv(line.toUtf8().constData()));
        QCOMPARE(parsed.action, Action::UsageError);
        QVERIFY2(parsed.message.contains(complaint), qPrintable(line + u'\n' + parsed.message));
    }
}

QTEST_GUILESS_MAIN(tst_RunOptions)
#include "tst_runoptions.moc"
