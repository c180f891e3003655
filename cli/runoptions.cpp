// SPDX-License-Identifier: GPL-3.0-or-later
#include "runoptions.h"

#include "textlinereader.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <array>
#include <utility>

namespace {

const std::array<std::pair<const char *, CannedSend>, 5> kSendWords = {{
    {"standard", CannedSend::Standard},
    {"noadd", CannedSend::NoAdd},
    {"long", CannedSend::Long},
    {"min", CannedSend::Min},
    {"max", CannedSend::Max},
}};

const std::array<std::pair<const char *, MoliShape>, 6> kMoliWords = {{
    {"point", MoliShape::Point},
    {"circular", MoliShape::Circular},
    {"arc", MoliShape::CircularArc},
    {"polygon", MoliShape::Polygon},
    {"ellipsoid", MoliShape::Ellipsoid},
    {"none", MoliShape::None},
}};

const std::array<std::pair<const char *, DataFileForm>, 2> kDataFileFormWords = {{
    {"rawlog", DataFileForm::RawLog},
    {"multipkt", DataFileForm::MultiPkt},
}};

const char kDescription[] =
    "Runs the TALV TCP 000 Test Generator without a screen: sets the main window's\n"
    "controls, presses its buttons as an operator would, prints every log line as it\n"
    "is logged (oldest first) and a summary with the measured response times.\n"
    "\n"
    "Order of a run: the --send packets (each waits for its response), then --send5,\n"
    "then --xml, then the packet cycle over --data-file, then up to --wait seconds for\n"
    "the last responses.\n"
    "\n"
    "--periods N presses Stop after N period boundaries. The window starts with\n"
    "\"Unlimited Pkts\" ticked, and talvgen-cli leaves it so; --unlimited states it\n"
    "explicitly. The window always reads its data file in the RAWLOG form;\n"
    "--data-file-form multipkt makes the cycle read multi-part lines instead.\n"
    "\n"
    "Link 1 (Type 4) closes its connection at its first 100 ms poll after sending\n"
    "when no answer has come: a Type 4 answer slower than about 100 ms is lost, and\n"
    "the packet is \"closed by link 1 before an answer\". The window always does so.\n"
    "To time a slower receiver, --type4-hold MS keeps link 1's connection open up\n"
    "to MS after sending (talvgen-cli only). Link 2 (Type 5) keeps its connection.\n"
    "\n"
    "A packet is delayed when its response came more than --delay-limit ms (default\n"
    "2000) after the packet went out (measured, not the window's 10 ms count), and\n"
    "unanswered when no response came by the end of the run.\n"
    "\n"
    "Two clocks: the log's \"Response Time N milliseconds\" is the window's own\n"
    "count in 10 ms steps. On link 1 it starts before the connection is made, so it\n"
    "holds the wait for link 1's next 100 ms poll: about 110 for a fast receiver.\n"
    "On link 2 it starts at the send. The summary and the reports measure each\n"
    "response on a monotonic clock, from the packet's last byte handed to the\n"
    "system to the answer's first byte, and print it to the microsecond\n"
    "(0.301 ms).\n"
    "\n"
    "Ctrl-C (SIGINT) or SIGTERM stops the run: the summary is printed and the\n"
    "reports are finished; a packet still waiting for its answer counts as\n"
    "unanswered.\n"
    "\n"
    "Exit status: 0 every packet answered in time; 1 a packet delayed, unanswered,\n"
    "closed before an answer or never handed over, or nothing sent; 2 bad usage or\n"
    "a data file that cannot be opened; 130 (SIGINT) or 143 (SIGTERM) a run stopped\n"
    "by that signal before anything failed.\n"
    "\n"
    "Capacity testing (rates, ramps, many carriers, latency percentiles) has a mode\n"
    "of its own: see talvgen-cli load --help.";

std::optional<double> seconds(const QString &text, double high) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value >= 0.0) || value > high)
        return std::nullopt;
    return value;
}

bool isLatin1(const QString &text) {
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return false;
    }
    return true;
}

// Reads the parsed command line into options; returns what is wrong, or
// an empty text.
class OptionReader {
public:
    explicit OptionReader(const QCommandLineParser &parser)
        : m_parser(parser) {}

    QString read(RunOptions &options);
    const QStringList &warnings() const { return m_warnings; }

private:
    QString readEndpoints(RunOptions &options);
    QString readFiles(RunOptions &options);
    QString readCycle(RunOptions &options);
    QString readType4(RunOptions &options);
    QString readWait(RunOptions &options);
    QString readTiming(RunOptions &options);
    QString checkCombination(const RunOptions &options) const;
    // The single value of an option given at most once.
    QString once(const char *name, QString &problem) const;

    const QCommandLineParser &m_parser;
    QStringList m_warnings;
};

QString OptionReader::once(const char *name, QString &problem) const {
    const QStringList values = m_parser.values(QString::fromLatin1(name));
    if (values.size() > 1)
        problem = QStringLiteral("--%1 given more than once").arg(QLatin1String(name));
    return values.value(0);
}

QString OptionReader::read(RunOptions &options) {
    for (auto step :
         {&OptionReader::readEndpoints, &OptionReader::readFiles, &OptionReader::readCycle,
          &OptionReader::readType4, &OptionReader::readWait, &OptionReader::readTiming}) {
        const QString problem = (this->*step)(options);
        if (!problem.isEmpty())
            return problem;
    }
    options.send5 = m_parser.isSet(QStringLiteral("send5"));
    options.quiet = m_parser.isSet(QStringLiteral("quiet"));
    return checkCombination(options);
}

QString OptionReader::readEndpoints(RunOptions &options) {
    for (const char *name : {"type4", "type5"}) {
        QString problem;
        const QString text = once(name, problem);
        if (!problem.isEmpty())
            return problem;
        if (!m_parser.isSet(QString::fromLatin1(name)))
            continue;
        const std::optional<Endpoint> endpoint = parseEndpoint(text);
        if (!endpoint)
            return QStringLiteral("--%1 wants HOST:PORT with a port from 1 to 65535, not \"%2\"")
                .arg(QLatin1String(name), text);
        (QLatin1String(name) == QLatin1String("type4") ? options.type4 : options.type5) = endpoint;
    }
    return {};
}

QString OptionReader::readFiles(RunOptions &options) {
    QString problem;
    options.dataFile = once("data-file", problem);
    if (problem.isEmpty())
        options.xmlFile = once("xml", problem);
    if (problem.isEmpty())
        options.junitFile = once("junit", problem);
    if (problem.isEmpty())
        options.csvFile = once("csv", problem);
    if (!problem.isEmpty())
        return problem;
    for (const char *name : {"junit", "csv"})
        if (m_parser.isSet(QString::fromLatin1(name)) &&
            m_parser.value(QString::fromLatin1(name)).isEmpty())
            return QStringLiteral("--%1 wants a file name").arg(QLatin1String(name));
    if (m_parser.isSet(QStringLiteral("data-file")) && options.dataFile.isEmpty())
        return QStringLiteral("--data-file wants a file name");
    if (m_parser.isSet(QStringLiteral("xml")) && options.xmlFile.isEmpty())
        return QStringLiteral("--xml wants a file name");
    if (!options.junitFile.isEmpty() && !options.csvFile.isEmpty() &&
        QFileInfo(options.junitFile).absoluteFilePath() ==
            QFileInfo(options.csvFile).absoluteFilePath())
        return QStringLiteral("--junit and --csv name the same file \"%1\"; each report "
                              "needs its own")
            .arg(options.csvFile);
    const QString form = once("data-file-form", problem);
    if (!problem.isEmpty())
        return problem;
    if (m_parser.isSet(QStringLiteral("data-file-form"))) {
        const std::optional<DataFileForm> chosen = lookUp(kDataFileFormWords, form);
        if (!chosen)
            return QStringLiteral("--data-file-form wants one of %1, not \"%2\"")
                .arg(wordList(kDataFileFormWords), form);
        options.dataFileForm = *chosen;
    }
    return {};
}

QString OptionReader::readCycle(RunOptions &options) {
    QString problem;
    const QString period = once("period", problem);
    const QString periods = problem.isEmpty() ? once("periods", problem) : QString();
    if (!problem.isEmpty())
        return problem;
    if (m_parser.isSet(QStringLiteral("period"))) {
        options.periodSeconds = wholeNumber(period, 1, RunOptions::kMaxPeriodSeconds);
        if (!options.periodSeconds)
            return QStringLiteral("--period wants whole seconds from 1 to 32767, not \"%1\"")
                .arg(period);
    }
    if (m_parser.isSet(QStringLiteral("periods"))) {
        const std::optional<int> count = wholeNumber(periods, 1, RunOptions::kMaxPeriods);
        if (!count)
            return QStringLiteral("--periods wants a count from 1 to 1000000, not \"%1\"")
                .arg(periods);
        options.periods = *count;
    }
    options.unlimited = m_parser.isSet(QStringLiteral("unlimited"));
    return {};
}

QString OptionReader::readType4(RunOptions &options) {
    for (const QString &word : m_parser.values(QStringLiteral("send"))) {
        const std::optional<CannedSend> send = lookUp(kSendWords, word);
        if (!send)
            return QStringLiteral("--send wants one of %1, not \"%2\"")
                .arg(wordList(kSendWords), word);
        options.sends << *send;
    }
    QString problem;
    const QString moli = once("moli", problem);
    const QString termId = problem.isEmpty() ? once("term-id", problem) : QString();
    if (!problem.isEmpty())
        return problem;
    if (m_parser.isSet(QStringLiteral("moli"))) {
        options.moli = lookUp(kMoliWords, moli);
        if (!options.moli)
            return QStringLiteral("--moli wants one of %1, not \"%2\"")
                .arg(wordList(kMoliWords), moli);
    }
    if (m_parser.isSet(QStringLiteral("term-id"))) {
        if (!isLatin1(termId))
            return QStringLiteral("--term-id must be single-byte (Latin-1) text");
        options.termId = termId;
        if (termId.size() != RunOptions::kTermIdChars)
            m_warnings << QStringLiteral("warning: --term-id \"%1\" is not three characters; "
                                         "the frames carry it as given")
                              .arg(termId);
    }
    return {};
}

QString OptionReader::readWait(RunOptions &options) {
    QString problem;
    const QString wait = once("wait", problem);
    if (!problem.isEmpty())
        return problem;
    if (!m_parser.isSet(QStringLiteral("wait")))
        return {};
    const std::optional<double> value = seconds(wait, RunOptions::kMaxWaitSeconds);
    // No time at all would stop every exchange before its packet is handed over.
    if (!value || static_cast<int>(*value * 1000.0 + 0.5) == 0)
        return QStringLiteral("--wait wants seconds over 0 and up to 3600, not \"%1\"").arg(wait);
    options.waitSeconds = *value;
    return {};
}

QString OptionReader::readTiming(RunOptions &options) {
    const std::pair<const char *, int *> timings[] = {{"type4-hold", &options.type4HoldMs},
                                                      {"delay-limit", &options.delayLimitMs}};
    for (const auto &[name, target] : timings) {
        QString problem;
        const QString text = once(name, problem);
        if (!problem.isEmpty())
            return problem;
        if (!m_parser.isSet(QString::fromLatin1(name)))
            continue;
        const std::optional<int> value = wholeNumber(text, 1, RunOptions::kMaxMs);
        if (!value)
            return QStringLiteral("--%1 wants whole milliseconds from 1 to 3600000, not \"%2\"")
                .arg(QLatin1String(name), text);
        *target = *value;
    }
    return {};
}

QString OptionReader::checkCombination(const RunOptions &options) const {
    if (!m_parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument \"%1\"")
            .arg(m_parser.positionalArguments().constFirst());
    if (options.sends.isEmpty() && !options.send5 && options.xmlFile.isEmpty() &&
        options.dataFile.isEmpty())
        return QStringLiteral("nothing to do: give --send, --send5, --xml or --data-file");
    if (!options.sends.isEmpty() && !options.type4)
        return QStringLiteral("--send needs --type4 HOST:PORT");
    if ((options.send5 || !options.xmlFile.isEmpty()) && !options.type5)
        return QStringLiteral("--send5 and --xml need --type5 HOST:PORT");
    if (!options.dataFile.isEmpty() && !options.type4)
        return QStringLiteral("--data-file needs --type4 HOST:PORT");
    // The window's cycle sends its IPND frames, over link 1, to the Type 5 row too.
    if (!options.dataFile.isEmpty() && options.type5)
        return QStringLiteral("--data-file cannot go with --type5: the cycle would send its "
                              "IPND frames to the Type 5 port too; run the Type 5 sends apart");
    if (m_parser.isSet(QStringLiteral("data-file-form")) && options.dataFile.isEmpty())
        return QStringLiteral("--data-file-form needs --data-file");
    if (options.type4HoldMs > 0 && !options.type4)
        return QStringLiteral("--type4-hold needs --type4 HOST:PORT");
    const bool cycleOption =
        options.periodSeconds || m_parser.isSet(QStringLiteral("periods")) || options.unlimited;
    if (cycleOption && options.dataFile.isEmpty())
        return QStringLiteral("--period, --periods and --unlimited need --data-file");
    if ((options.moli || options.termId) && options.sends.isEmpty())
        return QStringLiteral("--moli and --term-id need --send");
    return {};
}

void addOptions(QCommandLineParser &parser) {
    const auto option = [&parser](const char *name, const char *description,
                                  const char *valueName = nullptr) {
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                               valueName ? QString::fromLatin1(valueName) : QString()));
    };
    option("type4", "Fill and enable the Type 4 socket row.", "HOST:PORT");
    option("type5", "Fill and enable the Type 5 socket row.", "HOST:PORT");
    option("data-file", "IPND data file replayed by the packet cycle.", "FILE");
    option("data-file-form",
           "How the cycle reads the data file: rawlog (default; the window's only form) or "
           "multipkt (multi-part lines).",
           "FORM");
    option("period", "Period of the packet cycle in seconds (window default 20).", "SECONDS");
    option("periods", "Press Stop after N period boundaries (default 1).", "N");
    option("unlimited", "Tick \"Unlimited Pkts\" (already ticked by default).");
    option("send",
           "Press a canned Type 4 button: standard, noadd, long, min or max. "
           "Repeatable; pressed in order.",
           "RECORD");
    option("moli",
           "Tick \"MOLI Data\" and choose the shape: point, circular, arc, polygon, "
           "ellipsoid or none.",
           "SHAPE");
    option("term-id",
           "Terminal ID of the canned Type 4 frames (default 999); other than three characters "
           "is sent as given, with a warning.",
           "ID");
    option("send5", "Select \"AML (Type5)\" and send the canned AML document.");
    option("xml",
           "Load an XML data file and send it as a Type 5 packet, as the window does: a file "
           "of more than 501 lines sends its first 501, one with no lines the canned document.",
           "FILE");
    option("wait", "Seconds to wait for each response and the last ones (default 3).", "SECONDS");
    option("type4-hold",
           "Keep link 1's connection open up to MS after sending, so that a Type 4 answer "
           "slower than link 1's 100 ms poll can be timed (the window never does this).",
           "MS");
    option("delay-limit", "An answer later than MS fails as delayed (default 2000).", "MS");
    option("quiet", "Print the summary only, not the log lines.");
    option("junit", "Write a JUnit XML report: a test case per packet handed over.", "FILE");
    option("csv", "Write a CSV file: a row per exchange, with its times and outcome.", "FILE");
}

QString helpText(const QCommandLineParser &parser) {
    QString text = parser.helpText();
    // The first line names whatever binary parsed; name the program instead.
    const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
    return QStringLiteral("Usage: talvgen-cli [options]") + text.mid(lineEnd);
}

} // namespace

QString versionText() {
    return QStringLiteral("talvgen-cli %1.%2.%3")
        .arg(TALVGEN_VERSION_MAJOR)
        .arg(TALVGEN_VERSION_MINOR)
        .arg(TALVGEN_VERSION_PATCH);
}

ParsedRunOptions parseRunOptions(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    addOptions(parser);

    ParsedRunOptions parsed;
    if (!parser.parse(arguments)) {
        parsed.message = parser.errorText();
        return parsed;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parsed.action = ParsedRunOptions::Action::Help;
        parsed.message = helpText(parser);
        return parsed;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parsed.action = ParsedRunOptions::Action::Version;
        parsed.message = versionText();
        return parsed;
    }
    OptionReader reader(parser);
    parsed.message = reader.read(parsed.options);
    parsed.warnings = reader.warnings();
    if (parsed.message.isEmpty())
        parsed.action = ParsedRunOptions::Action::Run;
    return parsed;
}

QString sendWord(CannedSend send) {
    for (const auto &[name, word] : kSendWords)
        if (word == send)
            return QString::fromLatin1(name);
    return {};
}

QString moliWord(MoliShape shape) {
    for (const auto &[name, word] : kMoliWords)
        if (word == shape)
            return QString::fromLatin1(name);
    return {};
}

QString dataFileFormWord(DataFileForm form) {
    for (const auto &[name, word] : kDataFileFormWords)
        if (word == form)
            return QString::fromLatin1(name);
    return {};
}

QString unreadableFile(const RunOptions &options) {
    for (const QString &name : {options.dataFile, options.xmlFile}) {
        if (name.isEmpty())
            continue;
        const QString problem = TextLineReader::whyUnreadable(name);
        if (!problem.isEmpty())
            return problem;
    }
    return {};
}
