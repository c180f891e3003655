#include "receiveroptions.h"

#include <QTest>

namespace {

QStringList strings(std::initializer_list<const char *> texts) {
    QStringList list;
    for (const char *text : texts)
        list << QString::fromLatin1(text);
    return list;
}

ReceiverCommandLine parse(std::initializer_list<const char *> arguments) {
    return parseReceiverCommandLine(strings({"talvrecv"}) + strings(arguments));
}

} // namespace

class TestReceiverOptions : public QObject {
    Q_OBJECT

private slots:
    void defaults() {
        const ReceiverCommandLine line = parse({});
        QCOMPARE(line.action, ReceiverCommandLine::Action::Run);
        const ReceiverOptions &o = line.options;
        QCOMPARE(o.listenAddress, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(o.type4Port, 7005);
        QCOMPARE(o.type5Port, 7018);
        QCOMPARE(o.delayMs, 0);
        QCOMPARE(o.noReply, false);
        QCOMPARE(o.reply, QByteArray("ACK"));
        QCOMPARE(o.heartbeatIntervalMs, 30000);
        QCOMPARE(o.heartbeatAnswerTimeoutMs, 2000);
        QCOMPARE(o.refuseType4 || o.refuseType5, false);
        QCOMPARE(o.closeAfterReply, false);
        QCOMPARE(o.durationMs, 0);
        QCOMPARE(o.quiet, false);
    }

    void everyOption() {
        const ReceiverCommandLine line = parse({"--listen",     "::1",
                                                "--type4-port", "0",
                                                "--type5-port", "65535",
                                                "--delay",      "250",
                                                "--no-reply",   "--reply",
                                                "OK\xe9",       "--heartbeat",
                                                "0.5",          "--refuse",
                                                "type5",        "--refuse",
                                                "type4",        "--close-after-reply",
                                                "--duration",   "2",
                                                "--quiet"});
        QCOMPARE(line.action, ReceiverCommandLine::Action::Run);
        const ReceiverOptions &o = line.options;
        QCOMPARE(o.listenAddress, QHostAddress(QHostAddress::LocalHostIPv6));
        QCOMPARE(o.type4Port, 0);
        QCOMPARE(o.type5Port, 65535);
        QCOMPARE(o.delayMs, 250);
        QVERIFY(o.noReply);
        QCOMPARE(o.reply, QByteArray("OK\xe9"));
        QCOMPARE(o.heartbeatIntervalMs, 500);
        QVERIFY(o.refuseType4 && o.refuseType5);
        QVERIFY(o.closeAfterReply);
        QCOMPARE(o.durationMs, 2000);
        QVERIFY(o.quiet);
    }

    void heartbeatZeroTurnsItOff() {
        QCOMPARE(parse({"--heartbeat", "0"}).options.heartbeatIntervalMs, 0);
        QCOMPARE(parse({"--heartbeat", "0.0001"}).options.heartbeatIntervalMs, 1);
    }

    void helpAndVersion_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<ReceiverCommandLine::Action>("action");
        QTest::newRow("--help") << QStringLiteral("--help") << ReceiverCommandLine::Action::Help;
        QTest::newRow("-h") << QStringLiteral("-h") << ReceiverCommandLine::Action::Help;
        QTest::newRow("--help-all")
            << QStringLiteral("--help-all") << ReceiverCommandLine::Action::Help;
        QTest::newRow("--version")
            << QStringLiteral("--version") << ReceiverCommandLine::Action::Version;
    }

    void helpAndVersion() {
        QFETCH(QString, argument);
        QFETCH(ReceiverCommandLine::Action, action);
        const ReceiverCommandLine line =
            parseReceiverCommandLine({QStringLiteral("talvrecv"), argument});
        QCOMPARE(line.action, action);
        QVERIFY(line.helpText.contains(QStringLiteral("--close-after-reply")));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown option")
            << strings({"--bogus"}) << QStringLiteral("Unknown option 'bogus'.");
        QTest::newRow("missing value")
            << strings({"--delay"}) << QStringLiteral("Missing value after '--delay'.");
        QTest::newRow("stray argument")
            << strings({"7005"}) << QStringLiteral("unexpected argument \"7005\"");
        const auto bad = [](const char *option, const char *value) {
            return QStringLiteral("bad value \"%1\" for --%2")
                .arg(QLatin1String(value), QLatin1String(option));
        };
        QTest::newRow("address") << strings({"--listen", "localhost"})
                                 << bad("listen", "localhost");
        QTest::newRow("port too big")
            << strings({"--type4-port", "65536"}) << bad("type4-port", "65536");
        QTest::newRow("port negative")
            << strings({"--type5-port", "-1"}) << bad("type5-port", "-1");
        QTest::newRow("delay negative") << strings({"--delay", "-5"}) << bad("delay", "-5");
        QTest::newRow("delay fraction") << strings({"--delay", "1.5"}) << bad("delay", "1.5");
        QTest::newRow("heartbeat word")
            << strings({"--heartbeat", "often"}) << bad("heartbeat", "often");
        QTest::newRow("heartbeat negative")
            << strings({"--heartbeat", "-1"}) << bad("heartbeat", "-1");
        QTest::newRow("duration infinite")
            << strings({"--duration", "inf"}) << bad("duration", "inf");
        QTest::newRow("duration huge")
            << strings({"--duration", "1e12"}) << bad("duration", "1e12");
        QTest::newRow("refuse what") << strings({"--refuse", "type6"}) << bad("refuse", "type6");
        QTest::newRow("empty reply") << strings({"--reply", ""}) << bad("reply", "");
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        const ReceiverCommandLine line =
            parseReceiverCommandLine(QStringList{QStringLiteral("talvrecv")} + arguments);
        QCOMPARE(line.action, ReceiverCommandLine::Action::UsageError);
        QCOMPARE(line.error, error);
        QVERIFY(line.helpText.startsWith(QStringLiteral("Usage:")));
    }
};

QTEST_GUILESS_MAIN(TestReceiverOptions)
#include "tst_receiveroptions.moc"
