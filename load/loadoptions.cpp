// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadoptions.h"

#include "optionreader.h"

#include <QDir>
#include <QFileInfo>

#include <array>
#include <utility>

namespace {

const char kDescription[] =
    "Drives receivers at a chosen rate to find what they can take: Type 4 frames on\n"
    "one connection each, as link 1 sends them, and Type 5 documents over --carriers\n"
    "lasting connections that answer the receiver's heartbeats, as link 2 sends them.\n"
    "Every byte sent is what the window would send for that record. The window is\n"
    "not used.\n"
    "\n"
    "Arrivals are open loop: each link gets the rate on its own, and an arrival\n"
    "goes out when it is due whatever the receiver does. A slow receiver gets more\n"
    "exchanges in flight, up to --max-inflight; arrivals beyond that are not sent and\n"
    "are counted as shortfall. Each exchange is timed from the moment it was due,\n"
    "not from when it went out, so a stalled sender cannot hide slow answers.\n"
    "\n"
    "An answer is the --expect text (talvrecv answers \"ACK\"); anything else is\n"
    "malformed. Faults are counted by kind (refused, reset, closed without an\n"
    "answer, unanswered after --timeout, malformed, other socket errors); none stops\n"
    "the run. A Type 5 carrier whose answer is overdue is closed and opened again,\n"
    "so a late answer is not taken for the next document's: documents still waiting\n"
    "on it count as unanswered. Data-file frames keep the terminal ID of their body,\n"
    "as the window sends them; --term-ids applies to canned frames.\n"
    "\n"
    "Data-file lines the reader refuses are never sent: they are counted by reason\n"
    "at the start and in the summary.\n"
    "\n"
    "On a terminal one status line, cut to the terminal's width, is redrawn every\n"
    "second; otherwise one line is printed a second. Ctrl-C (SIGINT) or SIGTERM\n"
    "stops the run: the summary is printed (exchanges in flight are not counted)\n"
    "and the reports are finished, marked as stopped.\n"
    "\n"
    "Exit status: 0 every link passed: some arrival answered, no more failures than\n"
    "--max-failures and p99 within --p99-limit; 1 a link failed (a link with\n"
    "arrivals due and none answered fails whatever --max-failures says); 2 bad usage\n"
    "or a file that cannot be read or written; 130 (SIGINT) or 143 (SIGTERM) a run\n"
    "stopped by that signal before any link had failed.";

const char kProgram[] = "talvgen-cli load";

constexpr double kMaxRate = 1'000'000.0;
constexpr double kMaxSeconds = 30.0 * 24 * 3600;

class LoadOptionReader {
public:
    explicit LoadOptionReader(OptionReader &reader)
        : m_reader(reader) {}

    void read(LoadOptions &options) {
        for (const auto step : {&LoadOptionReader::readLinks, &LoadOptionReader::readRate,
                                &LoadOptionReader::readRecords, &LoadOptionReader::readLimits}) {
            (this->*step)(options);
            if (m_reader.failed())
                return;
        }
    }

private:
    bool isSet(const char *name) const { return m_reader.isSet(name); }
    void fail(const QString &problem) { m_reader.fail(problem); }

    void readLinks(LoadOptions &options) {
        for (const auto &[name, target] :
             {std::pair{"type4", &options.type4}, std::pair{"type5", &options.type5}}) {
            const QString text = m_reader.once(name);
            if (m_reader.failed())
                return;
            if (!isSet(name))
                continue;
            *target = parseEndpoint(text);
            if (!*target)
                return fail(QStringLiteral("--%1 wants HOST:PORT, not \"%2\"")
                                .arg(QLatin1String(name), text));
        }
        if (!options.type4 && !options.type5)
            return fail(QStringLiteral("nothing to load: give --type4 or --type5 HOST:PORT"));
        const QString carriers = m_reader.once("carriers");
        if (m_reader.failed())
            return;
        if (isSet("carriers")) {
            const std::optional<qint64> n = wholeNumber(carriers, 1, 10000);
            if (!n)
                return fail(QStringLiteral("--carriers wants a number from 1 to 10000, not \"%1\"")
                                .arg(carriers));
            if (!options.type5)
                return fail(QStringLiteral("--carriers needs --type5 HOST:PORT"));
            options.carriers = int(*n);
        }
    }

    void readRate(LoadOptions &options) {
        const QString rate = m_reader.once("rate");
        const QString ramp = m_reader.once("ramp");
        const QString duration = m_reader.once("duration");
        const QString count = m_reader.once("count");
        const QString seed = m_reader.once("seed");
        if (m_reader.failed())
            return;
        if (isSet("rate") && isSet("ramp"))
            return fail(QStringLiteral("--rate and --ramp cannot both be given"));
        if (isSet("rate")) {
            QString text = rate;
            if (text.endsWith(QLatin1String("/s")))
                text.chop(2);
            const std::optional<double> perSecond = decimalNumber(text, 0.001, kMaxRate);
            if (!perSecond)
                return fail(
                    QStringLiteral("--rate wants arrivals a second such as 500/s, not \"%1\"")
                        .arg(rate));
            options.rate.startPerSecond = options.rate.endPerSecond = *perSecond;
        }
        if (isSet("ramp") && !readRamp(ramp, options))
            return fail(QStringLiteral("--ramp wants R0:R1:SECONDS such as 100:1000:60, not \"%1\"")
                            .arg(ramp));
        options.rate.poisson = isSet("poisson");
        if (isSet("seed")) {
            const auto n = wholeNumber(seed, 0, 999'999'999'999);
            if (!n)
                return fail(QStringLiteral("--seed wants a whole number, not \"%1\"").arg(seed));
            options.rate.seed = quint64(*n);
        }
        if (isSet("duration")) {
            const auto seconds = decimalNumber(duration, 0.001, kMaxSeconds);
            if (!seconds)
                return fail(QStringLiteral("--duration wants seconds, not \"%1\"").arg(duration));
            options.durationSeconds = *seconds;
        }
        if (isSet("count")) {
            const auto n = wholeNumber(count, 1, 999'999'999'999);
            if (!n)
                return fail(
                    QStringLiteral("--count wants a number of arrivals, not \"%1\"").arg(count));
            options.count = *n;
        }
        if (options.durationSeconds == 0.0 && options.count == 0)
            return fail(QStringLiteral("give --duration SECONDS or --count N"));
    }

    static bool readRamp(const QString &text, LoadOptions &options) {
        const QStringList parts = text.split(QLatin1Char(':'));
        if (parts.size() != 3)
            return false;
        // -1 stands for a value that cannot be read.
        const double from = decimalNumber(parts[0], 0, kMaxRate).value_or(-1);
        const double to = decimalNumber(parts[1], 0, kMaxRate).value_or(-1);
        const double over = decimalNumber(parts[2], 0.001, kMaxSeconds).value_or(-1);
        if (from < 0 || to < 0 || over < 0 || (from == 0 && to == 0))
            return false;
        options.rate.startPerSecond = from;
        options.rate.endPerSecond = to;
        options.rate.rampSeconds = over;
        options.durationSeconds = over;
        return true;
    }

    void readRecords(LoadOptions &options) {
        const QString moli = m_reader.once("moli");
        const QString termIds = m_reader.once("term-ids");
        const QString termId = m_reader.once("term-id");
        const QString expect = m_reader.once("expect");
        options.dataFile = m_reader.once("data-file");
        options.xmlFile = m_reader.once("xml");
        if (m_reader.failed())
            return;
        for (const QString &word : m_reader.values("record")) {
            if (word == QLatin1String("all")) {
                options.records << QList<CannedRecord>(kCannedRecords.begin(),
                                                       kCannedRecords.end());
                continue;
            }
            const auto record = lookUp(kCannedRecordWords, word);
            if (!record)
                return fail(QStringLiteral("--record wants all|%1, not \"%2\"")
                                .arg(wordList(kCannedRecordWords), word));
            options.records << *record;
        }
        if (options.records.isEmpty() && options.dataFile.isEmpty())
            options.records = QList<CannedRecord>(kCannedRecords.begin(), kCannedRecords.end());
        if (isSet("moli")) {
            options.moliShape = lookUp(kMoliShapeWords, moli);
            if (!options.moliShape)
                return fail(QStringLiteral("--moli wants one of %1, not \"%2\"")
                                .arg(wordList(kMoliShapeWords), moli));
        }
        if (isSet("term-id") && isSet("term-ids"))
            return fail(QStringLiteral("--term-id and --term-ids cannot both be given"));
        if (isSet("term-id")) {
            if (termId.isEmpty() || termId.size() > 3 || !isLatin1(termId))
                return fail(
                    QStringLiteral("--term-id wants up to 3 single-byte characters, not \"%1\"")
                        .arg(termId));
            options.termIds = {termId.toLatin1()};
        }
        if (isSet("term-ids")) {
            const QStringList ends = termIds.split(QLatin1Char('-'));
            const auto low = ends.size() == 2 ? wholeNumber(ends[0], 0, 999) : std::nullopt;
            const auto high = ends.size() == 2 ? wholeNumber(ends[1], 0, 999) : std::nullopt;
            if (!low || !high || *low > *high)
                return fail(QStringLiteral("--term-ids wants a range such as 100-149, not \"%1\"")
                                .arg(termIds));
            options.termIds.clear();
            for (qint64 id = *low; id <= *high; ++id)
                options.termIds << QByteArray::number(id).rightJustified(3, '0');
        }
        if (isSet("expect")) {
            if (expect.isEmpty() || !isLatin1(expect))
                return fail(
                    QStringLiteral("--expect wants single-byte text, not \"%1\"").arg(expect));
            options.expectedAnswer = expect.toLatin1();
        }
        if (!options.type4 && (isSet("record") || isSet("moli") || !options.dataFile.isEmpty()))
            return fail(QStringLiteral("--record, --moli and --data-file need --type4 HOST:PORT"));
        if (!options.type5 && !options.xmlFile.isEmpty())
            return fail(QStringLiteral("--xml needs --type5 HOST:PORT"));
    }

    void readLimits(LoadOptions &options) {
        const QString inflight = m_reader.once("max-inflight");
        const QString timeout = m_reader.once("timeout");
        const QString p99 = m_reader.once("p99-limit");
        const QString failures = m_reader.once("max-failures");
        options.csvFile = m_reader.once("csv");
        options.junitFile = m_reader.once("junit");
        if (m_reader.failed())
            return;
        if (const QString reports = readReports(options); !reports.isEmpty())
            return fail(reports);
        if (isSet("max-inflight")) {
            const auto n = wholeNumber(inflight, 1, 100'000);
            if (!n)
                return fail(
                    QStringLiteral("--max-inflight wants a number from 1 to 100000, not \"%1\"")
                        .arg(inflight));
            options.maxInFlight = int(*n);
        }
        if (isSet("timeout")) {
            const auto ms = wholeNumber(timeout, 1, 3'600'000);
            if (!ms)
                return fail(
                    QStringLiteral("--timeout wants milliseconds, not \"%1\"").arg(timeout));
            options.timeoutMs = int(*ms);
        }
        if (isSet("p99-limit")) {
            options.p99LimitMs = decimalNumber(p99, 0.001, 3'600'000);
            if (!options.p99LimitMs)
                return fail(QStringLiteral("--p99-limit wants milliseconds, not \"%1\"").arg(p99));
        }
        if (isSet("max-failures")) {
            const auto n = wholeNumber(failures, 0, 999'999'999'999);
            if (!n)
                return fail(
                    QStringLiteral("--max-failures wants a number, not \"%1\"").arg(failures));
            options.maxFailures = *n;
        }
        m_reader.noArguments();
    }

    // Each report a file of its own, never one the run reads.
    QString readReports(const LoadOptions &options) const {
        for (const auto &[name, file] :
             {std::pair{"csv", &options.csvFile}, std::pair{"junit", &options.junitFile}}) {
            if (isSet(name) && file->isEmpty())
                return QStringLiteral("--%1 wants a file name").arg(QLatin1String(name));
            for (const auto &[input, read] :
                 {std::pair{"data-file", &options.dataFile}, std::pair{"xml", &options.xmlFile}}) {
                if (sameFile(*file, *read))
                    return QStringLiteral("--%1 names the --%2 file \"%3\"; the report would "
                                          "overwrite it")
                        .arg(QLatin1String(name), QLatin1String(input), *file);
            }
        }
        if (sameFile(options.junitFile, options.csvFile))
            return QStringLiteral("--junit and --csv name the same file \"%1\"; each report "
                                  "needs its own")
                .arg(options.csvFile);
        return {};
    }

    // Two names of one file: the same path once made absolute and clean, or
    // the same file reached through a link.
    static bool sameFile(const QString &a, const QString &b) {
        if (a.isEmpty() || b.isEmpty())
            return false;
        const QFileInfo first(a);
        const QFileInfo second(b);
        if (QDir::cleanPath(first.absoluteFilePath()) == QDir::cleanPath(second.absoluteFilePath()))
            return true;
        return first.exists() && second.exists() &&
               first.canonicalFilePath() == second.canonicalFilePath();
    }

    static bool isLatin1(const QString &text) {
        for (const QChar c : text) {
            if (c.unicode() > 0xff)
                return false;
        }
        return true;
    }

    OptionReader &m_reader;
};

void addOptions(OptionReader &reader) {
    reader.addOption("type4", "Send Type 4 frames there, one connection each.", "HOST:PORT");
    reader.addOption("type5", "Send Type 5 documents there over lasting connections.", "HOST:PORT");
    reader.addOption("carriers", "Lasting Type 5 connections (default 1).", "N");
    reader.addOption("rate", "Arrivals a second on each link, such as 500/s (default 10/s).",
                     "R/s");
    reader.addOption("ramp", "Rate from R0 to R1 over SECONDS, then R1 (sets --duration).",
                     "R0:R1:SECONDS");
    reader.addOption("poisson", "Poisson arrivals (random gaps, same mean) instead of even ones.");
    reader.addOption("seed", "Seed of the Poisson arrivals (default 1).", "N");
    reader.addOption("duration", "Seconds of arrivals.", "SECONDS");
    reader.addOption("count", "Arrivals on each link (with --duration, whichever ends first).",
                     "N");
    reader.addOption("max-inflight", "Exchanges in flight on each link (default 1000).", "N");
    reader.addOption("timeout", "Milliseconds before an exchange is unanswered (default 2000).",
                     "MS");
    reader.addOption(
        "record",
        "Canned Type 4 record: all (in turn, the default), standard, noadd, long, min or "
        "max. Repeatable; with --data-file, canned and file records alternate.",
        "RECORD");
    reader.addOption(
        "moli",
        "Tick \"MOLI Data\" with this shape: point, circular, arc, polygon, ellipsoid or "
        "none.",
        "SHAPE");
    reader.addOption("data-file",
                     "IPND data file: its records in order, from the top again at its end.",
                     "FILE");
    reader.addOption("xml", "XML data file sent as the Type 5 document (default the canned one).",
                     "FILE");
    reader.addOption("term-id", "Terminal ID of the canned frames (default 999).", "ID");
    reader.addOption(
        "term-ids", "Terminal IDs taken in turn by the canned frames, such as 100-149.", "FROM-TO");
    reader.addOption("expect", "The answer that counts as one (default ACK).", "TEXT");
    reader.addOption("csv", "Write a CSV row a second for each link.", "FILE");
    reader.addOption("junit", "Write a JUnit XML report: a test case per link.", "FILE");
    reader.addOption("p99-limit", "Fail a link whose p99 is over MS milliseconds.", "MS");
    reader.addOption("max-failures", "Fail a link with more failures than N (default 0).", "N");
}

} // namespace

QString loadUsageError(const QString &problem) {
    return usageErrorText(QString::fromLatin1(kProgram), problem, HelpHint::Short);
}

QString loadVersionText() {
    return versionLine(QStringLiteral("talvgen-cli"));
}

ParsedLoadOptions parseLoadOptions(const QStringList &arguments) {
    OptionReader reader(QString::fromLatin1(kProgram), QString::fromLatin1(kDescription));
    addOptions(reader);
    ParsedLoadOptions parsed;
    switch (reader.parse(withoutCommandWord(arguments))) {
    case OptionReader::Request::UsageError:
        parsed.message = reader.problem();
        return parsed;
    case OptionReader::Request::Help:
        parsed.action = ParsedLoadOptions::Action::Help;
        parsed.message = reader.helpText();
        return parsed;
    case OptionReader::Request::Version:
        parsed.action = ParsedLoadOptions::Action::Version;
        parsed.message = loadVersionText();
        return parsed;
    case OptionReader::Request::Options:
        break;
    }
    LoadOptionReader(reader).read(parsed.options);
    parsed.message = reader.problem();
    if (parsed.message.isEmpty())
        parsed.action = ParsedLoadOptions::Action::Run;
    return parsed;
}
