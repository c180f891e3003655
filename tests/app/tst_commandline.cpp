#include "commandline.h"

#include <QTest>

namespace {
// Every field, "|"-separated, flags as 0 or 1.
QString fields(const StartupArgs &a) {
    const auto flag = [](bool on) {
        return on ? QStringLiteral("1") : QStringLiteral("0");
    };
    return QStringList{
        a.Type4Port,       a.Type4Address,      flag(a.Type4Enable),       a.Type5Port,
        a.Type5Address,    flag(a.Type5Enable), QString::number(a.Period), a.TitlePrefix,
        flag(a.Unlimited), a.DataFile}
        .join(QLatin1Char('|'));
}
} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void fields_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("expect");
        const auto row = [](const char *tag, const char *commandLine, const char *expect) {
            QTest::newRow(tag) << QString::fromLatin1(commandLine) << QString::fromLatin1(expect);
        };
        row("empty", "", "||0|||0|0||0|");
        row("only port", "8000", "8000||0|||0|0||0|");
        row("two spaces store nothing extra", "8000  10.1.1.1", "8000|10.1.1.1|0|||0|0||0|");
        row("tabs separate", "8000\t10.1.1.1\t1", "8000|10.1.1.1|1|||0|0||0|");
        row("trailing space and tab", "8000 \t", "8000||0|||0|0||0|");
        row("leading separators", "  \t8000", "8000||0|||0|0||0|");
        row("full", "8000 127.0.0.1 1 8001 127.0.0.1 0 5 Lab1- True ipnd3.x01",
            "8000|127.0.0.1|1|8001|127.0.0.1|0|5|Lab1-|1|.\\ipnd3.x01");
        row("eleven tokens: the rest ignored", "1 a true 2 b FALSE 7 P- -1 f.x01 extra more",
            "1|a|1|2|b|0|7|P-|1|.\\f.x01");
        row("EOC as a real token is stored", "EOC", "EOC||0|||0|0||0|");
        row("boolean any case and numbers", "p a tRuE p a 0 0 x 2.5", "p|a|1|p|a|0|0|x|1|");
        row("negative period kept as number", "p a 0 p a 0 -5", "p|a|0|p|a|0|-5||0|");
    }

    void fields() {
        QFETCH(QString, commandLine);
        QFETCH(QString, expect);
        const ParsedCommandLine parsed = ParseCommandLine(commandLine);
        QCOMPARE(parsed.problems, QStringList());
        QCOMPARE(::fields(parsed.args), expect);
    }

    void badTokensKeepDefaults_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("problem");
        const auto row = [](const char *tag, const char *commandLine, const char *problem) {
            QTest::newRow(tag) << QString::fromLatin1(commandLine)
                               << QStringLiteral("Command line: ") + QString::fromLatin1(problem);
        };
        row("enable yes", "8000 h yes",
            "Type4Enable token \"yes\" is not True, False or a number; Type4Enable stays False");
        row("type 5 enable", "1 h 1 2 h maybe",
            "Type5Enable token \"maybe\" is not True, False or a number; Type5Enable stays False");
        row("period letters", "1 h 1 2 h 1 abc",
            "Period token \"abc\" is not a whole number; Period stays 0");
        row("period beyond 32 bits", "1 h 1 2 h 1 99999999999",
            "Period token \"99999999999\" is not a whole number; Period stays 0");
        row("unlimited", "1 h 1 2 h 1 5 T- on",
            "Unlimited token \"on\" is not True, False or a number; Unlimited stays False");
    }

    void badTokensKeepDefaults() {
        QFETCH(QString, commandLine);
        QFETCH(QString, problem);
        const ParsedCommandLine parsed = ParseCommandLine(commandLine);
        QCOMPARE(parsed.problems, QStringList{problem});
        QCOMPARE(parsed.args.Type4Port, commandLine.section(QLatin1Char(' '), 0, 0));
        QCOMPARE(parsed.args.Period, commandLine.count(QLatin1Char(' ')) >= 7 ? 5 : 0);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
