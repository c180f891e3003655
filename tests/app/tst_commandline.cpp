#include "commandline.h"

#include <QTest>

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void fields_data();
    void fields();
    void badTokensKeepDefaults_data();
    void badTokensKeepDefaults();
};

namespace {
struct Expect {
    QString type4Port, type4Address;
    bool type4Enable = false;
    QString type5Port, type5Address;
    bool type5Enable = false;
    qint32 period = 0;
    QString titlePrefix;
    bool unlimited = false;
    QString dataFile;
};
} // namespace
Q_DECLARE_METATYPE(Expect)

namespace {
Expect first(const char *port, const char *address = "", bool enable = false) {
    Expect e;
    e.type4Port = QString::fromLatin1(port);
    e.type4Address = QString::fromLatin1(address);
    e.type4Enable = enable;
    return e;
}
} // namespace

void TestCommandLine::fields_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<Expect>("expect");
    QTest::newRow("empty") << QString() << Expect{};
    QTest::newRow("only port") << QStringLiteral("8000") << first("8000");
    QTest::newRow("two spaces store nothing extra")
        << QStringLiteral("8000  10.1.1.1") << first("8000", "10.1.1.1");
    QTest::newRow("tabs separate")
        << QStringLiteral("8000\t10.1.1.1\t1") << first("8000", "10.1.1.1", true);
    QTest::newRow("trailing space and tab") << QStringLiteral("8000 \t") << first("8000");
    QTest::newRow("leading separators") << QStringLiteral("  \t8000") << first("8000");
    QTest::newRow("full") << QStringLiteral(
                                 "8000 127.0.0.1 1 8001 127.0.0.1 0 5 Lab1- True ipnd3.x01")
                          << Expect{QStringLiteral("8000"),
                                    QStringLiteral("127.0.0.1"),
                                    true,
                                    QStringLiteral("8001"),
                                    QStringLiteral("127.0.0.1"),
                                    false,
                                    5,
                                    QStringLiteral("Lab1-"),
                                    true,
                                    QStringLiteral(".\\ipnd3.x01")};
    QTest::newRow("eleven tokens: the rest ignored")
        << QStringLiteral("1 a true 2 b FALSE 7 P- -1 f.x01 extra more")
        << Expect{QStringLiteral("1"),
                  QStringLiteral("a"),
                  true,
                  QStringLiteral("2"),
                  QStringLiteral("b"),
                  false,
                  7,
                  QStringLiteral("P-"),
                  true,
                  QStringLiteral(".\\f.x01")};
    QTest::newRow("EOC as a real token is stored") << QStringLiteral("EOC") << first("EOC");
    QTest::newRow("boolean any case and numbers") << QStringLiteral("p a tRuE p a 0 0 x 2.5")
                                                  << Expect{QStringLiteral("p"),
                                                            QStringLiteral("a"),
                                                            true,
                                                            QStringLiteral("p"),
                                                            QStringLiteral("a"),
                                                            false,
                                                            0,
                                                            QStringLiteral("x"),
                                                            true,
                                                            {}};
    QTest::newRow("negative period kept as number") << QStringLiteral("p a 0 p a 0 -5")
                                                    << Expect{QStringLiteral("p"),
                                                              QStringLiteral("a"),
                                                              false,
                                                              QStringLiteral("p"),
                                                              QStringLiteral("a"),
                                                              false,
                                                              -5,
                                                              {},
                                                              false,
                                                              {}};
}

void TestCommandLine::fields() {
    QFETCH(QString, commandLine);
    QFETCH(Expect, expect);
    const ParsedCommandLine parsed = ParseCommandLine(commandLine);
    const StartupArgs &a = parsed.args;
    QCOMPARE(parsed.problems, QStringList());
    QCOMPARE(a.Type4Port, expect.type4Port);
    QCOMPARE(a.Type4Address, expect.type4Address);
    QCOMPARE(a.Type4Enable, expect.type4Enable);
    QCOMPARE(a.Type5Port, expect.type5Port);
    QCOMPARE(a.Type5Address, expect.type5Address);
    QCOMPARE(a.Type5Enable, expect.type5Enable);
    QCOMPARE(a.Period, expect.period);
    QCOMPARE(a.TitlePrefix, expect.titlePrefix);
    QCOMPARE(a.Unlimited, expect.unlimited);
    QCOMPARE(a.DataFile, expect.dataFile);
}

void TestCommandLine::badTokensKeepDefaults_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("problem");
    QTest::newRow("enable yes") << QStringLiteral("8000 h yes")
                                << QStringLiteral(
                                       "Command line: Type4Enable token \"yes\" is not "
                                       "True, False or a number; Type4Enable stays False");
    QTest::newRow("type 5 enable")
        << QStringLiteral("1 h 1 2 h maybe")
        << QStringLiteral("Command line: Type5Enable token \"maybe\" is "
                          "not True, False or a number; Type5Enable stays False");
    QTest::newRow("period letters") << QStringLiteral("1 h 1 2 h 1 abc")
                                    << QStringLiteral("Command line: Period token \"abc\" is not a "
                                                      "whole number; Period stays 0");
    QTest::newRow("period beyond 32 bits")
        << QStringLiteral("1 h 1 2 h 1 99999999999")
        << QStringLiteral("Command line: Period token \"99999999999\" is not a whole number; "
                          "Period stays 0");
    QTest::newRow("unlimited") << QStringLiteral("1 h 1 2 h 1 5 T- on")
                               << QStringLiteral(
                                      "Command line: Unlimited token \"on\" is not True, "
                                      "False or a number; Unlimited stays False");
}

void TestCommandLine::badTokensKeepDefaults() {
    QFETCH(QString, commandLine);
    QFETCH(QString, problem);
    const ParsedCommandLine parsed = ParseCommandLine(commandLine);
    QCOMPARE(parsed.problems, QStringList{problem});
    QCOMPARE(parsed.args.Type4Port, commandLine.section(QLatin1Char(' '), 0, 0));
    QCOMPARE(parsed.args.Period, commandLine.count(QLatin1Char(' ')) >= 7 ? 5 : 0);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
