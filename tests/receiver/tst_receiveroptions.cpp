#include "receiveroptions.h"

#include <QTest>
#include <QTextStream>

using Action = ReceiverCommandLine::Action;

namespace {

// The program name, then the words of line.
QStringList argv(const char *line) {
    return QStringList{QStringLiteral("talvrecv")} +
           QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Every setting the command line reaches, in one line: address, ports,
// delay, no-reply, reply, heartbeat interval and answer timeout, refusals,
// close-after-reply, duration, quiet.
QString settings(const ReceiverOptions &o) {
    QString text;
    QTextStream(&text) << o.listenAddress.toString() << ' ' << o.type4Port << ' ' << o.type5Port
                       << ' ' << o.delayMs << ' ' << o.noReply << ' '
                       << QString::fromLatin1(o.reply) << ' ' << o.heartbeatIntervalMs << ' '
                       << o.heartbeatAnswerTimeoutMs << ' ' << o.refuseType4 << ' ' << o.refuseType5
                       << ' ' << o.closeAfterReply << ' ' << o.durationMs << ' ' << o.quiet;
    return text;
}

void row(const char *name, const QStringList &arguments, Action action, const char *text) {
    QTest::newRow(name) << arguments << action << QString::fromLatin1(text);
}

void badValue(const char *option, const char *value) {
    QTest::addRow("--%s %s", option, value)
        << (argv("") << QStringLiteral("--") + QLatin1String(option) << QString::fromLatin1(value))
        << Action::UsageError
        << QStringLiteral("bad value \"%1\" for --%2")
               .arg(QLatin1String(value), QLatin1String(option));
}

} // namespace

class TestReceiverOptions : public QObject {
    Q_OBJECT

private slots:
    // text: the settings a run gets, what the help contains, or the usage error.
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("text");
        row("defaults", argv(""), Action::Run, "127.0.0.1 7005 7018 0 0 ACK 30000 2000 0 0 0 0 0");
        row("every option",
            argv("--listen ::1 --type4-port 0 --type5-port 65535 --delay 250 --no-reply --reply "
                 "OK\xe9 --heartbeat 0.5 --refuse type5 --refuse type4 --close-after-reply "
                 "--duration 2 --quiet"),
            Action::Run, "::1 0 65535 250 1 OK\xe9 500 2000 1 1 1 2000 1");
        row("heartbeat 0 turns it off", argv("--heartbeat 0"), Action::Run,
            "127.0.0.1 7005 7018 0 0 ACK 0 2000 0 0 0 0 0");
        row("heartbeat rounds up to 1 ms", argv("--heartbeat 0.0001"), Action::Run,
            "127.0.0.1 7005 7018 0 0 ACK 1 2000 0 0 0 0 0");
        row("--help", argv("--help"), Action::Help, "--close-after-reply");
        row("--version", argv("--version"), Action::Version, "");
        row("unknown option", argv("--bogus"), Action::UsageError, "Unknown option 'bogus'.");
        row("missing value", argv("--delay"), Action::UsageError, "Missing value after '--delay'.");
        row("stray argument", argv("7005"), Action::UsageError, "unexpected argument \"7005\"");
        badValue("listen", "localhost");
        badValue("type4-port", "65536");
        badValue("type5-port", "-1");
        badValue("delay", "-5");
        badValue("delay", "1.5");
        badValue("heartbeat", "often");
        badValue("heartbeat", "-1");
        badValue("duration", "inf");
        badValue("duration", "1e12");
        badValue("refuse", "type6");
        badValue("reply", "");
    }

    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(Action, action);
        QFETCH(QString, text);
        const ReceiverCommandLine line = parseReceiverCommandLine(arguments);
        QCOMPARE(line.action, action);
        if (action == Action::Run)
            QCOMPARE(settings(line.options), text);
        else if (action == Action::UsageError)
            QCOMPARE(line.error, text);
        else
            QVERIFY(line.helpText.contains(text));
    }

    void resetOption() {
        QVERIFY(!parseReceiverCommandLine(argv("")).options.resetConnections);
        QVERIFY(parseReceiverCommandLine(argv("--reset")).options.resetConnections);
    }
};

QTEST_GUILESS_MAIN(TestReceiverOptions)
#include "tst_receiveroptions.moc"
