// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line programs' one rule for numbers: what the shared readers take,
// and that talvgen-cli, its load mode and talvrecv each take exactly that; and how
// a command word answers --help, --version and a usage error.
#include "commandwords.h"
#include "loadoptions.h"
#include "optionreader.h"
#include "receiveroptions.h"
#include "runoptions.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

enum class Kind { Seconds, Whole };

// Whether each program takes text for its option of that kind, and the one it
// refuses it with otherwise.
struct Verdict {
    QString program;
    QString problem; // empty: taken
};

QList<Verdict> programVerdicts(Kind kind, const QString &text) {
    const bool seconds = kind == Kind::Seconds;
    const ParsedRunOptions cli =
        parseRunOptions(QStringList{u"talvgen-cli"_s, u"--type4"_s, u"h:1"_s, u"--send"_s, u"min"_s,
                                    seconds ? u"--wait"_s : u"--delay-limit"_s, text});
    const ParsedLoadOptions load =
        parseLoadOptions(QStringList{u"talvgen-cli"_s, u"load"_s, u"--type4"_s, u"h:1"_s,
                                     seconds ? u"--count"_s : u"--duration"_s, u"1"_s,
                                     seconds ? u"--duration"_s : u"--timeout"_s, text});
    const ReceiverCommandLine receiver = parseReceiverCommandLine(
        QStringList{u"talvrecv"_s, seconds ? u"--heartbeat"_s : u"--delay"_s, text});
    return {
        {u"talvgen-cli"_s, cli.action == ParsedRunOptions::Action::Run ? QString() : cli.message},
        {u"talvgen-cli load"_s,
         load.action == ParsedLoadOptions::Action::Run ? QString() : load.message},
        {u"talvrecv"_s, receiver.error}};
}

} // namespace

class TestConsole : public QObject {
    Q_OBJECT

private slots:
    // Seconds (and rates and milliseconds with a fraction) are plain decimals;
    // counts, ports and whole milliseconds plain digits. No sign, exponent,
    // spaces or words: "1e3" is not a thousand seconds anywhere.
    void numbers_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value"); // -1: refused
        const auto row = [](Kind kind, const char *text, double value) {
            QTest::addRow("%s \"%s\"", kind == Kind::Seconds ? "seconds" : "whole", text)
                << kind << QString::fromUtf8(text) << value;
        };
        const std::pair<const char *, double> seconds[] = {
            {"2", 2.0},  {"0.5", 0.5}, {".5", 0.5}, {"2.", 2.0},   {"007", 7.0}, {"1e3", -1},
            {"inf", -1}, {"-0", -1},   {"+2", -1},  {" 2", -1},    {"2s", -1},   {"0x10", -1},
            {"1,5", -1}, {".", -1},    {"", -1},    {"\u0662", -1}};
        for (const auto &[text, value] : seconds)
            row(Kind::Seconds, text, value);
        // More digits than a double holds: no overflow to infinity taken as a number.
        QTest::newRow("seconds: 400 digits")
            << Kind::Seconds << u"1"_s + QString(400, u'0') << -1.0;
        const std::pair<const char *, double> whole[] = {
            {"250", 250.0}, {"0250", 250.0}, {"250.0", -1}, {"2.5e2", -1}, {"+250", -1},
            {" 250", -1},   {"-0", -1},      {"0x10", -1},  {"", -1}};
        for (const auto &[text, value] : whole)
            row(Kind::Whole, text, value);
    }

    void numbers() {
        QFETCH(Kind, kind);
        QFETCH(QString, text);
        QFETCH(double, value);
        const std::optional<double> read = kind == Kind::Seconds
                                               ? decimalNumber(text, 0, 3600)
                                               : std::optional<double>(wholeNumber(text, 0, 3600));
        QCOMPARE(read.value_or(-1), value);
        for (const Verdict &verdict : programVerdicts(kind, text))
            QVERIFY2(verdict.problem.isEmpty() == (value >= 0),
                     qPrintable(verdict.program + u": "_s +
                                (verdict.problem.isEmpty() ? u"taken"_s : verdict.problem)));
    }

    // A command word's own options after the word; its help, the whole program's
    // version and its usage error answered with their exit status.
    void commandWordOpening_data() {
        QTest::addColumn<QString>("arguments"); // after "talvgen-cli word"
        QTest::addColumn<int>("status");        // -1: the options are to be acted on
        QTest::addColumn<QString>("out");       // a pattern
        QTest::addColumn<QString>("err");
        QTest::newRow("options") << u"--rate 5"_s << -1 << u"^$"_s << u""_s;
        QTest::newRow("help") << u"--rate 5 --help"_s << 0
                              << u"^Usage: talvgen-cli word \\[options\\] FILE\nSays a word.\n"_s
                              << u""_s;
        QTest::newRow("version") << u"--version"_s << 0 << u"^talvgen-cli \\d+\\.\\d+\\.\\d+\n$"_s
                                 << u""_s;
        QTest::newRow("unknown option")
            << u"--bogus"_s << 2 << u"^$"_s
            << u"talvgen-cli word: Unknown option 'bogus'.\n"
               u"Try 'talvgen-cli word --help' for more information.\n"_s;
    }

    void commandWordOpening() {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        OptionReader reader(u"talvgen-cli word"_s, u"Says a word."_s, u"FILE"_s);
        reader.addOption("rate", "How often.", "N");
        QBuffer printed;
        QBuffer complaint;
        printed.open(QIODevice::WriteOnly);
        complaint.open(QIODevice::WriteOnly);
        const std::optional<int> answered = reader.parseCommand(
            QStringList{u"talvgen-cli"_s, u"word"_s} + arguments.split(u' '), printed, complaint);
        QCOMPARE(answered.value_or(-1), status);
        QVERIFY2(QRegularExpression(out).match(QString::fromLocal8Bit(printed.data())).hasMatch(),
                 printed.data().constData());
        QCOMPARE(QString::fromLocal8Bit(complaint.data()), err);
        if (!answered)
            QCOMPARE(reader.value("rate"), u"5"_s);
    }
};

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
