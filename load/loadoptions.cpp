// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadoptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <array>
#include <utility>

namespace {

const std::array<std::pair<const char *, CannedRecord>, 5> kRecordWords = {{
    {"standard", CannedRecord::Standard},
    {"noadd", CannedRecord::NoAdd},
    {"long", CannedRecord::Long},
    {"min", CannedRecord::Min},
    {"max", CannedRecord::Max},
}};

const std::array<std::pair<const char *, int>, 6> kMoliWords = {{
    {"point", kMoliPoint},
    {"circular", kMoliCircular},
    {"arc", kMoliCircularArc},
    {"polygon", kMoliPolygon},
    {"ellipsoid", kMoliEllipsoid},
    {"none", kMoliNone},
}};

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

std::optional<double> number(const QString &text, double low, double high) {
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,6})?$"));
    if (!decimal.match(text).hasMatch())
        return std::nullopt;
    const double value = text.toDouble();
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

constexpr double kMaxRate = 1'000'000.0;
constexpr double kMaxSeconds = 30.0 * 24 * 3600;

class OptionReader {
public:
    explicit OptionReader(const QCommandLineParser &parser)
        : m_parser(parser) {}

    QString read(LoadOptions &options) {
        for (const auto step : {&OptionReader::readLinks, &OptionReader::readRate,
                                &OptionReader::readRecords, &OptionReader::readLimits}) {
            const QString problem = (this->*step)(options);
            if (!problem.isEmpty())
                return problem;
        }
        return {};
    }

private:
    bool isSet(const char *name) const { return m_parser.isSet(QString::fromLatin1(name)); }
    // The value of an option given at most once.
    QString value(const char *name, QString &problem) const {
        const QStringList values = m_parser.values(QString::fromLatin1(name));
        if (values.size() > 1 && problem.isEmpty())
            problem = QStringLiteral("--%1 given more than once").arg(QLatin1String(name));
        return values.isEmpty() ? QString() : values.constLast();
    }

    QString readLinks(LoadOptions &options) const {
        QString problem;
        for (const auto &[name, target] :
             {std::pair{"type4", &options.type4}, std::pair{"type5", &options.type5}}) {
            const QString text = value(name, problem);
            if (!problem.isEmpty())
                return problem;
            if (!isSet(name))
                continue;
            *target = parseEndpoint(text);
            if (!*target)
                return QStringLiteral("--%1 wants HOST:PORT, not \"%2\"")
                    .arg(QLatin1String(name), text);
        }
        if (!options.type4 && !options.type5)
            return QStringLiteral("nothing to load: give --type4 or --type5 HOST:PORT");
        const QString carriers = value("carriers", problem);
        if (!problem.isEmpty())
            return problem;
        if (isSet("carriers")) {
            const std::optional<qint64> n = wholeNumber(carriers, 1, 10000);
            if (!n)
                return QStringLiteral("--carriers wants a number from 1 to 10000, not \"%1\"")
                    .arg(carriers);
            if (!options.type5)
                return QStringLiteral("--carriers needs --type5 HOST:PORT");
            options.carriers = int(*n);
        }
        return {};
    }

    QString readRate(LoadOptions &options) const {
        QString problem;
        const QString rate = value("rate", problem);
        const QString ramp = value("ramp", problem);
        const QString duration = value("duration", problem);
        const QString count = value("count", problem);
        const QString seed = value("seed", problem);
        if (!problem.isEmpty())
            return problem;
        if (isSet("rate") && isSet("ramp"))
            return QStringLiteral("--rate and --ramp cannot both be given");
        if (isSet("rate")) {
            QString text = rate;
            if (text.endsWith(QLatin1String("/s")))
                text.chop(2);
            const std::optional<double> perSecond = number(text, 0.001, kMaxRate);
            if (!perSecond)
                return QStringLiteral("--rate wants arrivals a second such as 500/s, not \"%1\"")
                    .arg(rate);
            options.rate.startPerSecond = options.rate.endPerSecond = *perSecond;
        }
        if (isSet("ramp") && !readRamp(ramp, options))
            return QStringLiteral("--ramp wants R0:R1:SECONDS such as 100:1000:60, not \"%1\"")
                .arg(ramp);
        options.rate.poisson = isSet("poisson");
        if (isSet("seed")) {
            const auto n = wholeNumber(seed, 0, 999'999'999'999);
            if (!n)
                return QStringLiteral("--seed wants a whole number, not \"%1\"").arg(seed);
            options.rate.seed = quint64(*n);
        }
        if (isSet("duration")) {
            const auto seconds = number(duration, 0.001, kMaxSeconds);
            if (!seconds)
                return QStringLiteral("--duration wants seconds, not \"%1\"").arg(duration);
            options.durationSeconds = *seconds;
        }
        if (isSet("count")) {
            const auto n = wholeNumber(count, 1, 999'999'999'999);
            if (!n)
                return QStringLiteral("--count wants a number of arrivals, not \"%1\"").arg(count);
            options.count = *n;
        }
        if (options.durationSeconds == 0.0 && options.count == 0)
            return QStringLiteral("give --duration SECONDS or --count N");
        return {};
    }

    static bool readRamp(const QString &text, LoadOptions &options) {
        const QStringList parts = text.split(QLatin1Char(':'));
        if (parts.size() != 3)
            return false;
        // -1 stands for a value that cannot be read.
        const double from = number(parts[0], 0, kMaxRate).value_or(-1);
        const double to = number(parts[1], 0, kMaxRate).value_or(-1);
        const double over = number(parts[2], 0.001, kMaxSeconds).value_or(-1);
        if (from < 0 || to < 0 || over < 0 || (from == 0 && to == 0))
            return false;
        options.rate.startPerSecond = from;
        options.rate.endPerSecond = to;
        options.rate.rampSeconds = over;
        options.durationSeconds = over;
        return true;
    }

    QString readRecords(LoadOptions &options) const {
        QString problem;
        const QString moli = value("moli", problem);
        const QString termIds = value("term-ids", problem);
        const QString termId = value("term-id", problem);
        const QString expect = value("expect", problem);
        options.dataFile = value("data-file", problem);
        options.xmlFile = value("xml", problem);
        if (!problem.isEmpty())
            return problem;
        for (const QString &word : m_parser.values(QStringLiteral("record"))) {
            if (word == QLatin1String("all")) {
                options.records << QList<CannedRecord>(kCannedRecords.begin(),
                                                       kCannedRecords.end());
                continue;
            }
            const auto record = lookUp(kRecordWords, word);
            if (!record)
                return QStringLiteral("--record wants all|%1, not \"%2\"")
                    .arg(wordList(kRecordWords), word);
            options.records << *record;
        }
        if (options.records.isEmpty() && options.dataFile.isEmpty())
            options.records = QList<CannedRecord>(kCannedRecords.begin(), kCannedRecords.end());
        if (isSet("moli")) {
            options.moliShape = lookUp(kMoliWords, moli);
            if (!options.moliShape)
                return QStringLiteral("--moli wants one of %1, not \"%2\"")
                    .arg(wordList(kMoliWords), moli);
        }
        if (isSet("term-id") && isSet("term-ids"))
            return QStringLiteral("--term-id and --term-ids cannot both be given");
        if (isSet("term-id")) {
            if (termId.isEmpty() || termId.size() > 3 || !isLatin1(termId))
                return QStringLiteral("--term-id wants up to 3 single-byte characters, not \"%1\"")
                    .arg(termId);
            options.termIds = {termId.toLatin1()};
        }
        if (isSet("term-ids")) {
            const QStringList ends = termIds.split(QLatin1Char('-'));
            const auto low = ends.size() == 2 ? wholeNumber(ends[0], 0, 999) : std::nullopt;
            const auto high = ends.size() == 2 ? wholeNumber(ends[1], 0, 999) : std::nullopt;
            if (!low || !high || *low > *high)
                return QStringLiteral("--term-ids wants a range such as 100-149, not \"%1\"")
                    .arg(termIds);
            options.termIds.clear();
            for (qint64 id = *low; id <= *high; ++id)
                options.termIds << QByteArray::number(id).rightJustified(3, '0');
        }
        if (isSet("expect")) {
            if (expect.isEmpty() || !isLatin1(expect))
                return QStringLiteral("--expect wants single-byte text, not \"%1\"").arg(expect);
            options.expectedAnswer = expect.toLatin1();
        }
        if (!options.type4 && (isSet("record") || isSet("moli") || !options.dataFile.isEmpty()))
            return QStringLiteral("--record, --moli and --data-file need --type4 HOST:PORT");
        if (!options.type5 && !options.xmlFile.isEmpty())
            return QStringLiteral("--xml needs --type5 HOST:PORT");
        return {};
    }

    QString readLimits(LoadOptions &options) const {
        QString problem;
        const QString inflight = value("max-inflight", problem);
        const QString timeout = value("timeout", problem);
        const QString p99 = value("p99-limit", problem);
        const QString failures = value("max-failures", problem);
        options.csvFile = value("csv", problem);
        options.junitFile = value("junit", problem);
        if (!problem.isEmpty())
            return problem;
        const QString reports = readReports(options);
        if (!reports.isEmpty())
            return reports;
        if (isSet("max-inflight")) {
            const auto n = wholeNumber(inflight, 1, 100'000);
            if (!n)
                return QStringLiteral("--max-inflight wants a number from 1 to 100000, not \"%1\"")
                    .arg(inflight);
            options.maxInFlight = int(*n);
        }
        if (isSet("timeout")) {
            const auto ms = wholeNumber(timeout, 1, 3'600'000);
            if (!ms)
                return QStringLiteral("--timeout wants milliseconds, not \"%1\"").arg(timeout);
            options.timeoutMs = int(*ms);
        }
        if (isSet("p99-limit")) {
            options.p99LimitMs = number(p99, 0.001, 3'600'000);
            if (!options.p99LimitMs)
                return QStringLiteral("--p99-limit wants milliseconds, not \"%1\"").arg(p99);
        }
        if (isSet("max-failures")) {
            const auto n = wholeNumber(failures, 0, 999'999'999'999);
            if (!n)
                return QStringLiteral("--max-failures wants a number, not \"%1\"").arg(failures);
            options.maxFailures = *n;
        }
        if (!m_parser.positionalArguments().isEmpty())
            return QStringLiteral("unexpected argument \"%1\"")
                .arg(m_parser.positionalArguments().constFirst());
        return {};
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

    const QCommandLineParser &m_parser;
};

void addOptions(QCommandLineParser &parser) {
    const auto option = [&parser](const char *name, const char *description,
                                  const char *valueName = nullptr) {
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                               valueName ? QString::fromLatin1(valueName) : QString()));
    };
    option("type4", "Send Type 4 frames there, one connection each.", "HOST:PORT");
    option("type5", "Send Type 5 documents there over lasting connections.", "HOST:PORT");
    option("carriers", "Lasting Type 5 connections (default 1).", "N");
    option("rate", "Arrivals a second on each link, such as 500/s (default 10/s).", "R/s");
    option("ramp", "Rate from R0 to R1 over SECONDS, then R1 (sets --duration).", "R0:R1:SECONDS");
    option("poisson", "Poisson arrivals (random gaps, same mean) instead of even ones.");
    option("seed", "Seed of the Poisson arrivals (default 1).", "N");
    option("duration", "Seconds of arrivals.", "SECONDS");
    option("count", "Arrivals on each link (with --duration, whichever ends first).", "N");
    option("max-inflight", "Exchanges in flight on each link (default 1000).", "N");
    option("timeout", "Milliseconds before an exchange is unanswered (default 2000).", "MS");
    option("record",
           "Canned Type 4 record: all (in turn, the default), standard, noadd, long, min or "
           "max. Repeatable; with --data-file, canned and file records alternate.",
           "RECORD");
    option("moli",
           "Tick \"MOLI Data\" with this shape: point, circular, arc, polygon, ellipsoid or "
           "none.",
           "SHAPE");
    option("data-file", "IPND data file: its records in order, from the top again at its end.",
           "FILE");
    option("xml", "XML data file sent as the Type 5 document (default the canned one).", "FILE");
    option("term-id", "Terminal ID of the canned frames (default 999).", "ID");
    option("term-ids", "Terminal IDs taken in turn by the canned frames, such as 100-149.",
           "FROM-TO");
    option("expect", "The answer that counts as one (default ACK).", "TEXT");
    option("csv", "Write a CSV row a second for each link.", "FILE");
    option("junit", "Write a JUnit XML report: a test case per link.", "FILE");
    option("p99-limit", "Fail a link whose p99 is over MS milliseconds.", "MS");
    option("max-failures", "Fail a link with more failures than N (default 0).", "N");
}

} // namespace

QString loadUsageHint() {
    return QStringLiteral("Try 'talvgen-cli load --help'");
}

QString loadVersionText() {
    return QStringLiteral("talvgen-cli %1.%2.%3")
        .arg(TALVGEN_VERSION_MAJOR)
        .arg(TALVGEN_VERSION_MINOR)
        .arg(TALVGEN_VERSION_PATCH);
}

ParsedLoadOptions parseLoadOptions(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    addOptions(parser);
    // The parser takes the first argument as the program; drop "load".
    QStringList rest = arguments;
    if (rest.size() > 1)
        rest.removeAt(1);

    ParsedLoadOptions parsed;
    if (!parser.parse(rest)) {
        parsed.message = parser.errorText();
        return parsed;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parsed.action = ParsedLoadOptions::Action::Help;
        const QString text = parser.helpText();
        parsed.message = QStringLiteral("Usage: talvgen-cli load [options]") +
                         text.mid(text.indexOf(QLatin1Char('\n')));
        return parsed;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parsed.action = ParsedLoadOptions::Action::Version;
        parsed.message = loadVersionText();
        return parsed;
    }
    parsed.message = OptionReader(parser).read(parsed.options);
    if (parsed.message.isEmpty())
        parsed.action = ParsedLoadOptions::Action::Run;
    return parsed;
}
