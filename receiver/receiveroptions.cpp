// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiveroptions.h"

#include "commandwords.h"
#include "optionreader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace {

constexpr double kMaxSeconds = 366.0 * 24 * 3600; // keeps milliseconds within an int

struct Options {
    QCommandLineOption listen{QStringLiteral("listen"),
                              QStringLiteral("Address to listen on (default 127.0.0.1)."),
                              QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1")};
    QCommandLineOption type4Port{QStringLiteral("type4-port"),
                                 QStringLiteral("Port for Type 4 frames (default 7005; 0: any free "
                                                "port, named in the \"talvrecv listening\" line)."),
                                 QStringLiteral("PORT"), QStringLiteral("7005")};
    QCommandLineOption type5Port{
        QStringLiteral("type5-port"),
        QStringLiteral(
            "Port for Type 5 documents (default 7018; 0: any free port, as for --type4-port)."),
        QStringLiteral("PORT"), QStringLiteral("7018")};
    QCommandLineOption delay{QStringLiteral("delay"),
                             QStringLiteral("Wait MS milliseconds before each reply."),
                             QStringLiteral("MS"), QStringLiteral("0")};
    QCommandLineOption noReply{QStringLiteral("no-reply"), QStringLiteral("Never answer.")};
    QCommandLineOption reply{QStringLiteral("reply"),
                             QStringLiteral("The answer to a valid frame or document "
                                            "(default ACK)."),
                             QStringLiteral("TEXT"), QStringLiteral("ACK")};
    QCommandLineOption heartbeat{QStringLiteral("heartbeat"),
                                 QStringLiteral("Send a heartbeat on each Type 5 connection "
                                                "every SECONDS (default 30, 0 turns it off)."),
                                 QStringLiteral("SECONDS"), QStringLiteral("30")};
    QCommandLineOption refuse{QStringLiteral("refuse"),
                              QStringLiteral("Do not listen on the type4 or type5 port "
                                             "(may be given twice)."),
                              QStringLiteral("type4|type5")};
    QCommandLineOption closeAfterReply{
        QStringLiteral("close-after-reply"),
        QStringLiteral("Close a Type 4 connection once its reply has gone.")};
    QCommandLineOption reset{QStringLiteral("reset"),
                             QStringLiteral("Reset each connection with a TCP reset where its "
                                            "first reply would go.")};
    QCommandLineOption duration{QStringLiteral("duration"),
                                QStringLiteral("Stop after SECONDS (default: run until "
                                               "interrupted)."),
                                QStringLiteral("SECONDS"), QStringLiteral("0")};
    QCommandLineOption quiet{QStringLiteral("quiet"),
                             QStringLiteral("Print only the listening line and the summary.")};
    QCommandLineOption csv{QStringLiteral("csv"),
                           QStringLiteral("Write a CSV row per frame, document and heartbeat, "
                                          "with its verdict and reason, to FILE."),
                           QStringLiteral("FILE")};

    QList<QCommandLineOption> all() const {
        return {listen, type4Port,       type5Port, delay,    noReply, reply, heartbeat,
                refuse, closeAfterReply, reset,     duration, quiet,   csv};
    }
};

// Seconds, fractions allowed, as milliseconds; a positive value stays
// positive.
std::optional<int> secondsValue(const QString &text) {
    const std::optional<double> seconds = decimalNumber(text, 0.0, kMaxSeconds);
    if (!seconds)
        return std::nullopt;
    const int ms = int(std::lround(*seconds * 1000));
    return *seconds > 0 ? std::max(ms, 1) : 0;
}

class ReceiverOptionReader {
public:
    ReceiverOptionReader(OptionReader &reader, ReceiverOptions &options)
        : m_reader(reader)
        , m_options(options) {}

    void read(const Options &o) {
        readAddress(o.listen);
        readPort(o.type4Port, m_options.type4Port);
        readPort(o.type5Port, m_options.type5Port);
        readDelay(o.delay);
        readSeconds(o.heartbeat, m_options.heartbeatIntervalMs);
        readSeconds(o.duration, m_options.durationMs);
        readRefusals(o.refuse);
        readReply(o.reply);
        m_options.noReply = isSet(o.noReply);
        m_options.closeAfterReply = isSet(o.closeAfterReply);
        m_options.resetConnections = isSet(o.reset);
        m_options.quiet = isSet(o.quiet);
        readCsvFile(o.csv);
    }

private:
    static QString nameOf(const QCommandLineOption &option) { return option.names().constFirst(); }
    bool isSet(const QCommandLineOption &option) const { return m_reader.isSet(nameOf(option)); }
    QString value(const QCommandLineOption &option) const { return m_reader.value(nameOf(option)); }

    void fail(const QCommandLineOption &option, const QString &text) {
        m_reader.fail(QStringLiteral("bad value \"%1\" for --%2").arg(text, nameOf(option)));
    }

    void readAddress(const QCommandLineOption &option) {
        const QString text = value(option);
        if (!m_options.listenAddress.setAddress(text))
            fail(option, text);
    }

    void readPort(const QCommandLineOption &option, quint16 &port) {
        const QString text = value(option);
        if (const auto number = wholeNumber(text, 0, 65535))
            port = quint16(*number);
        else
            fail(option, text);
    }

    void readDelay(const QCommandLineOption &option) {
        const QString text = value(option);
        if (const auto ms = wholeNumber(text, 0, INT_MAX))
            m_options.delayMs = int(*ms);
        else
            fail(option, text);
    }

    void readSeconds(const QCommandLineOption &option, int &ms) {
        const QString text = value(option);
        if (const auto read = secondsValue(text))
            ms = *read;
        else
            fail(option, text);
    }

    void readRefusals(const QCommandLineOption &option) {
        for (const QString &side : m_reader.values(nameOf(option))) {
            if (side == QLatin1String("type4"))
                m_options.refuseType4 = true;
            else if (side == QLatin1String("type5"))
                m_options.refuseType5 = true;
            else
                fail(option, side);
        }
    }

    void readCsvFile(const QCommandLineOption &option) {
        if (!isSet(option))
            return;
        m_options.csvFile = value(option);
        if (m_options.csvFile.isEmpty())
            fail(option, m_options.csvFile);
    }

    void readReply(const QCommandLineOption &option) {
        const QString text = value(option);
        if (text.isEmpty())
            fail(option, text); // an empty answer is --no-reply
        else
            m_options.reply = text.toLatin1();
    }

    OptionReader &m_reader;
    ReceiverOptions &m_options;
};

ReceiverCommandLine usageError(ReceiverCommandLine result, const QString &error) {
    result.action = ReceiverCommandLine::Action::UsageError;
    result.error = error;
    return result;
}

} // namespace

ReceiverCommandLine parseReceiverCommandLine(const QStringList &arguments) {
    OptionReader reader(
        QStringLiteral("talvrecv"),
        QStringLiteral("Reference receiver for talvgen: listens for Type 4 frames and Type 5 "
                       "documents, checks and answers each one, sends heartbeats on Type 5 "
                       "connections, and prints one line per frame, document or heartbeat."));
    const Options options;
    for (const QCommandLineOption &option : options.all())
        reader.addOption(option);
    reader.addOption("wireshark-fields",
                     "Print the record layouts as the Lua table of the Wireshark dissector.");

    ReceiverCommandLine result;
    result.helpText = reader.helpText();
    const OptionReader::Request request = reader.parse(arguments);
    if (request == OptionReader::Request::UsageError)
        return usageError(result, reader.problem());
    if (request == OptionReader::Request::Help || reader.isSet("help-all")) {
        result.action = ReceiverCommandLine::Action::Help;
        return result;
    }
    if (reader.isSet("wireshark-fields")) {
        result.action = ReceiverCommandLine::Action::WiresharkFields;
        return result;
    }
    if (request == OptionReader::Request::Version) {
        result.action = ReceiverCommandLine::Action::Version;
        return result;
    }
    if (!reader.noArguments())
        return usageError(result, reader.problem());
    ReceiverOptionReader(reader, result.options).read(options);
    if (reader.failed())
        return usageError(result, reader.problem());
    return result;
}
