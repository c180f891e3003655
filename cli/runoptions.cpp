// SPDX-License-Identifier: GPL-3.0-or-later
#include "runoptions.h"

#include "optionreader.h"
#include "textlinereader.h"

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
    "--row1 HOST:PORT fills and enables socket row 1 (\"Type 5 Socket\") for the\n"
    "cycle: each record goes to --type4 at the period boundary and, as the window\n"
    "does it, to row 1 one tick (a second) later, over link 1 with link 1's rules.\n"
    "The window drops the row 1 send when link 1 is still busy with row 0's packet\n"
    "at that tick; the run counts it as dropped and fails. Stop is pressed one tick\n"
    "after the last boundary, so that row 1 gets the last record too. Row 1's\n"
    "exchanges are \"Type 4 row 1\" in the summary and type4-row1 in the reports.\n"
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
    "of its own: see talvgen-cli load --help. A receiver acceptance test written as a\n"
    "YAML file runs as a test plan: see talvgen-cli plan --help.";

bool isLatin1(const QString &text) {
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return false;
    }
    return true;
}

// Reads the parsed command line into options; the reader keeps what is wrong.
class RunOptionReader {
public:
    explicit RunOptionReader(OptionReader &reader)
        : m_reader(reader) {}

    void read(RunOptions &options);
    const QStringList &warnings() const { return m_warnings; }

private:
    void readEndpoints(RunOptions &options);
    void readFiles(RunOptions &options);
    void readCycle(RunOptions &options);
    void readType4(RunOptions &options);
    void readWait(RunOptions &options);
    void readTiming(RunOptions &options);
    void checkCombination(const RunOptions &options);

    OptionReader &m_reader;
    QStringList m_warnings;
};

void RunOptionReader::read(RunOptions &options) {
    for (auto step :
         {&RunOptionReader::readEndpoints, &RunOptionReader::readFiles, &RunOptionReader::readCycle,
          &RunOptionReader::readType4, &RunOptionReader::readWait, &RunOptionReader::readTiming}) {
        (this->*step)(options);
        if (m_reader.failed())
            return;
    }
    options.send5 = m_reader.isSet("send5");
    options.quiet = m_reader.isSet("quiet");
    checkCombination(options);
}

void RunOptionReader::readEndpoints(RunOptions &options) {
    for (const char *name : {"type4", "type5", "row1"}) {
        const QString text = m_reader.once(name);
        if (m_reader.failed())
            return;
        if (!m_reader.isSet(name))
            continue;
        const std::optional<Endpoint> endpoint = parseEndpoint(text);
        if (!endpoint)
            return m_reader.fail(
                QStringLiteral("--%1 wants HOST:PORT with a port from 1 to 65535, not \"%2\"")
                    .arg(QLatin1String(name), text));
        const QLatin1String option(name);
        (option == QLatin1String("type4")   ? options.type4
         : option == QLatin1String("type5") ? options.type5
                                            : options.row1) = endpoint;
    }
}

void RunOptionReader::readFiles(RunOptions &options) {
    options.dataFile = m_reader.once("data-file");
    options.xmlFile = m_reader.once("xml");
    options.junitFile = m_reader.once("junit");
    options.csvFile = m_reader.once("csv");
    if (m_reader.failed())
        return;
    for (const char *name : {"junit", "csv"})
        if (m_reader.isSet(name) && m_reader.value(name).isEmpty())
            return m_reader.fail(QStringLiteral("--%1 wants a file name").arg(QLatin1String(name)));
    if (m_reader.isSet("data-file") && options.dataFile.isEmpty())
        return m_reader.fail(QStringLiteral("--data-file wants a file name"));
    if (m_reader.isSet("xml") && options.xmlFile.isEmpty())
        return m_reader.fail(QStringLiteral("--xml wants a file name"));
    if (!options.junitFile.isEmpty() && !options.csvFile.isEmpty() &&
        QFileInfo(options.junitFile).absoluteFilePath() ==
            QFileInfo(options.csvFile).absoluteFilePath())
        return m_reader.fail(QStringLiteral("--junit and --csv name the same file \"%1\"; each "
                                            "report needs its own")
                                 .arg(options.csvFile));
    const QString form = m_reader.once("data-file-form");
    if (m_reader.failed() || !m_reader.isSet("data-file-form"))
        return;
    const std::optional<DataFileForm> chosen = lookUp(kDataFileFormWords, form);
    if (!chosen)
        return m_reader.fail(QStringLiteral("--data-file-form wants one of %1, not \"%2\"")
                                 .arg(wordList(kDataFileFormWords), form));
    options.dataFileForm = *chosen;
}

void RunOptionReader::readCycle(RunOptions &options) {
    const QString period = m_reader.once("period");
    const QString periods = m_reader.once("periods");
    if (m_reader.failed())
        return;
    if (m_reader.isSet("period")) {
        options.periodSeconds = wholeNumber(period, 1, RunOptions::kMaxPeriodSeconds);
        if (!options.periodSeconds)
            return m_reader.fail(
                QStringLiteral("--period wants whole seconds from 1 to 32767, not \"%1\"")
                    .arg(period));
    }
    if (m_reader.isSet("periods")) {
        const std::optional<int> count = wholeNumber(periods, 1, RunOptions::kMaxPeriods);
        if (!count)
            return m_reader.fail(
                QStringLiteral("--periods wants a count from 1 to 1000000, not \"%1\"")
                    .arg(periods));
        options.periods = *count;
    }
    options.unlimited = m_reader.isSet("unlimited");
}

void RunOptionReader::readType4(RunOptions &options) {
    for (const QString &word : m_reader.values("send")) {
        const std::optional<CannedSend> send = lookUp(kSendWords, word);
        if (!send)
            return m_reader.fail(QStringLiteral("--send wants one of %1, not \"%2\"")
                                     .arg(wordList(kSendWords), word));
        options.sends << *send;
    }
    const QString moli = m_reader.once("moli");
    const QString termId = m_reader.once("term-id");
    if (m_reader.failed())
        return;
    if (m_reader.isSet("moli")) {
        options.moli = lookUp(kMoliWords, moli);
        if (!options.moli)
            return m_reader.fail(QStringLiteral("--moli wants one of %1, not \"%2\"")
                                     .arg(wordList(kMoliWords), moli));
    }
    if (m_reader.isSet("term-id")) {
        if (!isLatin1(termId))
            return m_reader.fail(QStringLiteral("--term-id must be single-byte (Latin-1) text"));
        options.termId = termId;
        if (termId.size() != RunOptions::kTermIdChars)
            m_warnings << QStringLiteral("warning: --term-id \"%1\" is not three characters; "
                                         "the frames carry it as given")
                              .arg(termId);
    }
}

void RunOptionReader::readWait(RunOptions &options) {
    const QString wait = m_reader.once("wait");
    if (m_reader.failed() || !m_reader.isSet("wait"))
        return;
    const std::optional<double> value = decimalNumber(wait, 0.0, RunOptions::kMaxWaitSeconds);
    // No time at all would stop every exchange before its packet is handed over.
    if (!value || static_cast<int>(*value * 1000.0 + 0.5) == 0)
        return m_reader.fail(
            QStringLiteral("--wait wants seconds over 0 and up to 3600, not \"%1\"").arg(wait));
    options.waitSeconds = *value;
}

void RunOptionReader::readTiming(RunOptions &options) {
    const std::pair<const char *, int *> timings[] = {{"type4-hold", &options.type4HoldMs},
                                                      {"delay-limit", &options.delayLimitMs}};
    for (const auto &[name, target] : timings) {
        const QString text = m_reader.once(name);
        if (m_reader.failed())
            return;
        if (!m_reader.isSet(name))
            continue;
        const std::optional<int> value = wholeNumber(text, 1, RunOptions::kMaxMs);
        if (!value)
            return m_reader.fail(
                QStringLiteral("--%1 wants whole milliseconds from 1 to 3600000, not \"%2\"")
                    .arg(QLatin1String(name), text));
        *target = *value;
    }
}

void RunOptionReader::checkCombination(const RunOptions &options) {
    if (!m_reader.noArguments())
        return;
    const auto fail = [this](const char *problem) {
        m_reader.fail(QString::fromLatin1(problem));
    };
    if (options.sends.isEmpty() && !options.send5 && options.xmlFile.isEmpty() &&
        options.dataFile.isEmpty())
        return fail("nothing to do: give --send, --send5, --xml or --data-file");
    if (!options.sends.isEmpty() && !options.type4)
        return fail("--send needs --type4 HOST:PORT");
    if ((options.send5 || !options.xmlFile.isEmpty()) && !options.type5)
        return fail("--send5 and --xml need --type5 HOST:PORT");
    if (!options.dataFile.isEmpty() && !options.type4)
        return fail("--data-file needs --type4 HOST:PORT");
    if (options.row1 && options.type5)
        return fail("--row1 cannot go with --type5: both fill socket row 1");
    // The window's cycle sends its IPND frames, over link 1, to the Type 5 row too.
    if (!options.dataFile.isEmpty() && options.type5)
        return fail("--data-file cannot go with --type5: the cycle would send its IPND frames to "
                    "the Type 5 port too; run the Type 5 sends apart (--row1 sends the frames to "
                    "row 1 on purpose)");
    if (options.row1 && options.dataFile.isEmpty())
        return fail("--row1 needs --data-file: only the packet cycle sends to row 1");
    // Every tick is then a period boundary, and only the ticks between boundaries reach row 1.
    if (options.row1 && options.periodSeconds == 1)
        return fail("--row1 needs a --period of 2 or more: with a period of 1 the cycle never "
                    "sends to row 1");
    if (m_reader.isSet("data-file-form") && options.dataFile.isEmpty())
        return fail("--data-file-form needs --data-file");
    if (options.type4HoldMs > 0 && !options.type4)
        return fail("--type4-hold needs --type4 HOST:PORT");
    const bool cycleOption =
        options.periodSeconds || m_reader.isSet("periods") || options.unlimited;
    if (cycleOption && options.dataFile.isEmpty())
        return fail("--period, --periods and --unlimited need --data-file");
    if ((options.moli || options.termId) && options.sends.isEmpty())
        return fail("--moli and --term-id need --send");
}

void addOptions(OptionReader &reader) {
    reader.addOption("type4", "Fill and enable the Type 4 socket row.", "HOST:PORT");
    reader.addOption("type5", "Fill and enable the Type 5 socket row.", "HOST:PORT");
    reader.addOption(
        "row1",
        "Fill and enable the Type 5 socket row (row 1) for the packet cycle: each "
        "record goes there too, one tick after --type4. Needs --data-file and a period "
        "of 2 or more; not with --type5.",
        "HOST:PORT");
    reader.addOption("data-file", "IPND data file replayed by the packet cycle.", "FILE");
    reader.addOption(
        "data-file-form",
        "How the cycle reads the data file: rawlog (default; the window's only form) or "
        "multipkt (multi-part lines).",
        "FORM");
    reader.addOption("period", "Period of the packet cycle in seconds (window default 20).",
                     "SECONDS");
    reader.addOption("periods", "Press Stop after N period boundaries (default 1).", "N");
    reader.addOption("unlimited", "Tick \"Unlimited Pkts\" (already ticked by default).");
    reader.addOption("send",
                     "Press a canned Type 4 button: standard, noadd, long, min or max. "
                     "Repeatable; pressed in order.",
                     "RECORD");
    reader.addOption("moli",
                     "Tick \"MOLI Data\" and choose the shape: point, circular, arc, polygon, "
                     "ellipsoid or none.",
                     "SHAPE");
    reader.addOption(
        "term-id",
        "Terminal ID of the canned Type 4 frames (default 999); other than three characters "
        "is sent as given, with a warning.",
        "ID");
    reader.addOption("send5", "Select \"AML (Type5)\" and send the canned AML document.");
    reader.addOption(
        "xml",
        "Load an XML data file and send it as a Type 5 packet, as the window does: a file "
        "of more than 501 lines sends its first 501, one with no lines the canned document.",
        "FILE");
    reader.addOption("wait", "Seconds to wait for each response and the last ones (default 3).",
                     "SECONDS");
    reader.addOption(
        "type4-hold",
        "Keep link 1's connection open up to MS after sending, so that a Type 4 answer "
        "slower than link 1's 100 ms poll can be timed (the window never does this).",
        "MS");
    reader.addOption("delay-limit", "An answer later than MS fails as delayed (default 2000).",
                     "MS");
    reader.addOption("quiet", "Print the summary only, not the log lines.");
    reader.addOption("junit", "Write a JUnit XML report: a test case per packet handed over.",
                     "FILE");
    reader.addOption("csv", "Write a CSV file: a row per exchange, with its times and outcome.",
                     "FILE");
}

} // namespace

QString versionText() {
    return versionLine(QStringLiteral("talvgen-cli"));
}

ParsedRunOptions parseRunOptions(const QStringList &arguments) {
    OptionReader reader(QStringLiteral("talvgen-cli"), QString::fromLatin1(kDescription));
    addOptions(reader);

    ParsedRunOptions parsed;
    switch (reader.parse(arguments)) {
    case OptionReader::Request::UsageError:
        parsed.message = reader.problem();
        return parsed;
    case OptionReader::Request::Help:
        parsed.action = ParsedRunOptions::Action::Help;
        parsed.message = reader.helpText();
        return parsed;
    case OptionReader::Request::Version:
        parsed.action = ParsedRunOptions::Action::Version;
        parsed.message = versionText();
        return parsed;
    case OptionReader::Request::Options:
        break;
    }
    RunOptionReader runReader(reader);
    runReader.read(parsed.options);
    parsed.message = reader.problem();
    parsed.warnings = runReader.warnings();
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
