// SPDX-License-Identifier: GPL-3.0-or-later
#include "plandocument.h"

#include "plandata.h"
#include "plantext.h"
#include "textlinereader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <array>
#include <exception>
#include <limits>
#include <sstream>
#include <tuple>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

using Settings = QList<std::pair<QString, QString>>;

const std::array<std::pair<const char *, OnFailure>, 3> kOnFailureWords = {{
    {"continue", OnFailure::Continue},
    {"stop_case", OnFailure::StopCase},
    {"stop_plan", OnFailure::StopPlan},
}};
const std::array<std::pair<const char *, PlanLink>, 2> kLinkWords = {{
    {"type4", PlanLink::Type4},
    {"type5", PlanLink::Type5},
}};
const std::array<std::pair<const char *, PlanData::Order>, 2> kOrderWords = {{
    {"sequential", PlanData::Order::Sequential},
    {"random", PlanData::Order::Random},
}};
// YAML's yes, on and 1 are not booleans here: a scalar is text.
const std::array<std::pair<const char *, bool>, 2> kBoolWords = {
    {{"true", true}, {"false", false}}};

// The keys each map of the plan takes, in the order the error lines list them.
const QStringList kPlanKeys = {u"plan"_s,     u"targets"_s,    u"vars"_s, u"data"_s,
                               u"defaults"_s, u"thresholds"_s, u"seed"_s, u"cases"_s};
const QStringList kTargetKeys = {u"type4"_s, u"type5"_s};
const QStringList kDataKeys = {u"file"_s, u"order"_s};
const QStringList kDefaultKeys = {u"within"_s, u"on_failure"_s};
const QStringList kThresholdKeys = {u"p50"_s, u"p90"_s, u"p95"_s,
                                    u"p99"_s, u"max"_s, u"failures"_s};
const QStringList kCaseKeys = {u"name"_s, u"steps"_s};
const QStringList kStepKeys = {u"send"_s,  u"expect"_s, u"capture"_s, u"on_failure"_s,
                               u"pause"_s, u"repeat"_s, u"steps"_s};
const QStringList kSendKinds = {u"type4"_s, u"type5"_s, u"type4_file"_s, u"raw"_s};
const QStringList kSendKeys =
    kSendKinds + QStringList{u"moli"_s, u"term_id"_s, u"link"_s, u"split"_s, u"gap"_s};
const QStringList kExpectKeys = {u"answer"_s, u"within"_s, u"no_answer"_s, u"closed"_s,
                                 u"heartbeat"_s};
const QStringList kRepeatKeys = {u"count"_s, u"duration"_s, u"rate"_s};
const QStringList kType5FileKeys = {u"file"_s};

constexpr qint64 kMaxRepeatCount = 1'000'000;
const QString kDurationForm = u"write it as \"500 ms\" or \"2 s\", at most 24 h"_s;

// "a, b or c", for error lines.
QString alternatives(const QStringList &names) {
    if (names.size() < 2)
        return names.join(QString());
    return names.first(names.size() - 1).join(u", "_s) + u" or "_s + names.last();
}

template<typename Word, size_t N>
QStringList names(const std::array<std::pair<const char *, Word>, N> &words) {
    QStringList all;
    for (const auto &entry : words)
        all << QString::fromLatin1(entry.first);
    return all;
}

QString kindOf(const YAML::Node &node) {
    switch (node.Type()) {
    case YAML::NodeType::Scalar:
        return u"a text"_s;
    case YAML::NodeType::Sequence:
        return u"a list"_s;
    case YAML::NodeType::Map:
        return u"a map"_s;
    case YAML::NodeType::Null:
    case YAML::NodeType::Undefined:
        break;
    }
    return u"nothing"_s;
}

PlanPlace placeOf(const YAML::Mark &mark) {
    if (mark.is_null())
        return {1, 1};
    return {mark.line + 1, mark.column + 1};
}

PlanPlace placeOf(const YAML::Node &node) {
    return placeOf(node.Mark());
}

// Var and capture names: what a {{name}} can spell and no built-in name is.
bool isPlainName(const QString &name) {
    static const QRegularExpression form(u"^[A-Za-z_][A-Za-z0-9_.-]*$"_s);
    return form.match(name).hasMatch();
}

bool isTargetName(const QString &name) {
    return kTargetKeys.contains(name);
}

// One key of a YAML map with its value; the key's node gives its place.
struct Entry {
    QString key;
    YAML::Node keyNode;
    YAML::Node value;
};
using Entries = std::vector<Entry>;

const Entry *find(const Entries &entries, const QString &key) {
    for (const Entry &entry : entries)
        if (entry.key == key)
            return &entry;
    return nullptr;
}

// Where a value stands; an empty value ("key:") has no place of its own, its key has.
PlanPlace valuePlace(const Entry &entry) {
    return entry.value.IsNull() ? placeOf(entry.keyNode) : placeOf(entry.value);
}

class PlanReader {
public:
    PlanReader(const QString &path, const Settings &settings)
        : m_path(path)
        , m_folder(QFileInfo(TextLineReader::toFileSystemPath(path)).path())
        , m_settings(settings) {}

    std::optional<Plan> read(const QByteArray &yaml, QString *error);

private:
    bool fail(PlanPlace place, const QString &problem);
    bool fail(const YAML::Node &at, const QString &problem) { return fail(placeOf(at), problem); }
    bool failValue(const Entry &entry, const QString &problem) {
        return fail(valuePlace(entry), entry.key + u": "_s + problem);
    }
    bool failLine(const QString &line);

    std::optional<Entries> mapEntries(const YAML::Node &node, PlanPlace place, const QString &what,
                                      const QStringList &allowed);
    std::optional<Entries> valueEntries(const Entry &entry, const QString &what,
                                        const QStringList &allowed) {
        return mapEntries(entry.value, valuePlace(entry), what, allowed);
    }
    std::optional<QString> text(const Entry &entry, const QString &expected);
    template<typename Word, size_t N>
    bool readWord(const Entry &entry, const std::array<std::pair<const char *, Word>, N> &words,
                  Word *word);
    bool readDuration(const Entry &entry, bool positive, qint64 *us);
    bool readWhole(const Entry &entry, qint64 low, qint64 high, qint64 *number);
    bool readEndpoint(const Entry &entry, std::optional<Endpoint> *endpoint);
    bool readFile(const Entry &entry, QString *path);
    bool readWireText(const Entry &entry, QString *text);
    bool readPattern(const Entry &entry, bool needsGroup, QString *pattern);
    bool checkBytes(const Entry &entry, const QString &text);
    bool checkNames(const Entry &entry, const QString &text);
    bool isDefined(const QString &name) const;
    QString undefinedProblem(const QString &name) const;

    bool readPlan(const YAML::Node &root);
    bool readTargets(const Entry &entry);
    bool readVars(const Entry &entry);
    bool applySettings();
    bool readData(const Entry &entry);
    bool readDefaults(const Entry &entry);
    bool readThresholds(const Entry &entry);
    bool readCases(const Entry &entry);
    bool readCase(const YAML::Node &node, PlanCase *planCase);
    bool readSteps(const Entry &entry, const QString &owner, int depth, QList<Step> *steps);
    bool readStep(const YAML::Node &node, int depth, Step *step);
    bool readSendStep(const Entries &entries, const Entry &send, Step *step);
    bool readExpectStep(const Entries &entries, const Entry &expect, Step *step);
    bool readSend(const Entry &entry, SendSpec *send);
    bool readType4(const Entry &entry, SendSpec *send);
    bool readType5(const Entry &entry, SendSpec *send);
    bool readSendShape(const Entries &entries, SendSpec *send);
    bool readExpect(const Entry &entry, bool afterSend, ExpectSpec *expect);
    bool readCaptures(const Entry &entry, QList<Capture> *captures);
    bool readRepeat(const Entry &repeat, const Entry *steps, int depth, RepeatSpec *into);
    void noteLink(PlanLink link, PlanPlace place);
    bool checkTargets();

    const QString m_path;
    const QString m_folder;
    const Settings m_settings;
    Plan m_plan;
    QString m_error;
    QSet<QString> m_varNames;
    QSet<QString> m_columns;
    QSet<QString> m_captured;
    int m_steps = 0;
    std::array<std::optional<PlanPlace>, 2> m_firstUse; // by PlanLink
};

bool PlanReader::fail(PlanPlace place, const QString &problem) {
    return failLine(u"%1:%2:%3: %4"_s.arg(m_path).arg(place.line).arg(place.column).arg(problem));
}

bool PlanReader::failLine(const QString &line) {
    if (m_error.isEmpty())
        m_error = oneLine(line);
    return false;
}

std::optional<Entries> PlanReader::mapEntries(const YAML::Node &node, PlanPlace place,
                                              const QString &what, const QStringList &allowed) {
    if (!node.IsMap()) {
        fail(place,
             u"%1 is a map of %2; this is %3"_s.arg(what, allowed.join(u", "_s), kindOf(node)));
        return std::nullopt;
    }
    Entries entries;
    for (auto it = node.begin(); it != node.end(); ++it) {
        const YAML::Node key = it->first;
        if (!key.IsScalar()) {
            fail(key, u"a key in %1 is a word; this is %2"_s.arg(what, kindOf(key)));
            return std::nullopt;
        }
        const QString name = QString::fromStdString(key.Scalar());
        if (!allowed.isEmpty() && !allowed.contains(name)) {
            fail(key, u"unknown key \"%1\" in %2; allowed here: %3"_s.arg(name, what,
                                                                          allowed.join(u", "_s)));
            return std::nullopt;
        }
        if (find(entries, name)) {
            fail(key, u"\"%1\" is given twice in %2"_s.arg(name, what));
            return std::nullopt;
        }
        entries.push_back({name, key, it->second});
    }
    return entries;
}

std::optional<QString> PlanReader::text(const Entry &entry, const QString &expected) {
    if (!entry.value.IsScalar()) {
        failValue(entry, u"expected %1; this is %2"_s.arg(expected, kindOf(entry.value)));
        return std::nullopt;
    }
    return QString::fromStdString(entry.value.Scalar());
}

template<typename Word, size_t N>
bool PlanReader::readWord(const Entry &entry,
                          const std::array<std::pair<const char *, Word>, N> &words, Word *word) {
    const QString choices = alternatives(names(words));
    const std::optional<QString> written = text(entry, choices);
    if (!written)
        return false;
    const std::optional<Word> found = lookUp(words, *written);
    if (!found)
        return failValue(entry, u"\"%1\" is not %2"_s.arg(*written, choices));
    *word = *found;
    return true;
}

bool PlanReader::readDuration(const Entry &entry, bool positive, qint64 *us) {
    const std::optional<QString> written = text(entry, u"a duration (\"500 ms\", \"2 s\")"_s);
    if (!written)
        return false;
    const std::optional<qint64> duration = parseDuration(*written);
    if (!duration)
        return failValue(entry, u"\"%1\" is not a duration: %2"_s.arg(*written, kDurationForm));
    if (positive && *duration <= 0)
        return failValue(entry, u"\"%1\": give a time longer than 0"_s.arg(*written));
    *us = *duration;
    return true;
}

bool PlanReader::readWhole(const Entry &entry, qint64 low, qint64 high, qint64 *number) {
    const QString expected = u"a whole number from %1 to %2"_s.arg(low).arg(high);
    const std::optional<QString> written = text(entry, expected);
    if (!written)
        return false;
    const std::optional<qint64> value = wholeNumber(*written, low, high);
    if (!value)
        return failValue(entry, u"\"%1\" is not %2"_s.arg(*written, expected));
    *number = *value;
    return true;
}

bool PlanReader::readEndpoint(const Entry &entry, std::optional<Endpoint> *endpoint) {
    const std::optional<QString> written = text(entry, u"HOST:PORT"_s);
    if (!written)
        return false;
    *endpoint = parseEndpoint(*written);
    if (!*endpoint)
        return failValue(entry,
                         u"\"%1\" is not HOST:PORT with a port from 1 to 65535"_s.arg(*written));
    return true;
}

// A file named in the plan, relative to the plan's folder; it must be readable now,
// not halfway through the run.
bool PlanReader::readFile(const Entry &entry, QString *path) {
    const std::optional<QString> written = text(entry, u"a file name"_s);
    if (!written)
        return false;
    if (written->isEmpty())
        return failValue(entry, u"the file name is empty"_s);
    QString resolved = *written;
    if (QDir::isRelativePath(resolved))
        resolved = m_folder + u'/' + resolved;
    resolved = QDir::cleanPath(TextLineReader::toFileSystemPath(resolved));
    const QString reason = whyFileUnreadable(resolved);
    if (!reason.isEmpty())
        return fail(valuePlace(entry), u"%1: cannot be read: %2"_s.arg(resolved, reason));
    *path = resolved;
    return true;
}

// A text that goes on the wire (or is matched against what comes off it).
bool PlanReader::readWireText(const Entry &entry, QString *wireText) {
    const std::optional<QString> written = text(entry, u"a text"_s);
    if (!written || !checkBytes(entry, *written) || !checkNames(entry, *written))
        return false;
    *wireText = *written;
    return true;
}

bool PlanReader::readPattern(const Entry &entry, bool needsGroup, QString *pattern) {
    if (!readWireText(entry, pattern))
        return false;
    // Each {{name}} stands for some text when the step runs; "0" stands for it here,
    // which also reads as a count inside a quantifier's braces.
    const QString probe =
        expandTemplate(*pattern, [](const QString &) { return std::optional<QString>(u"0"_s); });
    const QRegularExpression expression(probe);
    if (!expression.isValid()) {
        const QString where = probe == *pattern
                                  ? u" at character %1"_s.arg(expression.patternErrorOffset() + 1)
                                  : QString();
        return failValue(entry,
                         u"not a regular expression: %1%2"_s.arg(expression.errorString(), where));
    }
    if (needsGroup && expression.captureCount() < 1)
        return failValue(entry, u"the pattern has no group; what its first ( ) matches is "
                                u"captured"_s);
    return true;
}

bool PlanReader::checkBytes(const Entry &entry, const QString &text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).unicode() > 0xff)
            return failValue(entry, u"character %1 (U+%2) is not one byte, and the wire carries "
                                    u"one byte a character; write it as \\xHH bytes in a raw "
                                    u"step"_s.arg(i + 1)
                                        .arg(codePointText(text, i)));
    }
    return true;
}

bool PlanReader::checkNames(const Entry &entry, const QString &text) {
    QString problem;
    const std::optional<QList<TemplateRef>> refs = templateRefs(text, &problem);
    if (!refs)
        return failValue(entry, problem);
    for (const TemplateRef &ref : *refs) {
        if (isDefined(ref.name))
            continue;
        if (ref.name.startsWith(u"random:"_s))
            return failValue(entry, u"{{%1}}: write random:LOW-HIGH, digits only (at most 18), "
                                    u"LOW at most HIGH"_s.arg(ref.name));
        return failValue(entry, undefinedProblem(ref.name));
    }
    return true;
}

bool PlanReader::isDefined(const QString &name) const {
    return m_varNames.contains(name) || m_columns.contains(name) || m_captured.contains(name) ||
           isBuiltInName(name);
}

QString PlanReader::undefinedProblem(const QString &name) const {
    if (!m_plan.data)
        return u"nothing defines {{%1}}: it is no var, --set or earlier capture, and the plan "
               u"has no data file"_s.arg(name);
    return u"nothing defines {{%1}}: it is no var, --set, earlier capture or column of %2 (%3)"_s
        .arg(name, m_plan.data->path, m_plan.data->columns.join(u", "_s));
}

// yaml-cpp 0.7 can emit events without end for some short inputs (",!.a" and a
// few bytes more; a run of commas): a first pass counts them and stops the
// parser at a bound no real plan comes near, before any node is built.
class EventBound : public YAML::EventHandler {
public:
    explicit EventBound(qsizetype inputBytes)
        : m_left(8 * qint64(inputBytes) + 1024) {}
    void OnDocumentStart(const YAML::Mark &mark) override { count(mark); }
    void OnDocumentEnd() override { count({}); }
    void OnNull(const YAML::Mark &mark, YAML::anchor_t) override { count(mark); }
    void OnAlias(const YAML::Mark &mark, YAML::anchor_t) override { count(mark); }
    void OnScalar(const YAML::Mark &mark, const std::string &, YAML::anchor_t,
                  const std::string &) override {
        count(mark);
    }
    void OnSequenceStart(const YAML::Mark &mark, const std::string &, YAML::anchor_t,
                         YAML::EmitterStyle::value) override {
        count(mark);
    }
    void OnSequenceEnd() override { count({}); }
    void OnMapStart(const YAML::Mark &mark, const std::string &, YAML::anchor_t,
                    YAML::EmitterStyle::value) override {
        count(mark);
    }
    void OnMapEnd() override { count({}); }

private:
    void count(const YAML::Mark &mark) {
        if (--m_left < 0)
            throw YAML::ParserException(mark, "more YAML events than the file's size allows");
    }
    qint64 m_left;
};

void boundEvents(const std::string &yaml) {
    std::istringstream input(yaml);
    YAML::Parser parser(input);
    EventBound bound(qsizetype(yaml.size()));
    while (parser.HandleNextDocument(bound)) {
    }
}

std::optional<Plan> PlanReader::read(const QByteArray &yaml, QString *error) {
    bool read = false;
    try {
        boundEvents(yaml.toStdString());
        const std::vector<YAML::Node> documents = YAML::LoadAll(yaml.toStdString());
        if (documents.size() > 1)
            fail(documents.at(1), u"a plan file holds one YAML document; a second begins here"_s);
        else
            read = readPlan(documents.empty() ? YAML::Node() : documents.front());
    } catch (const YAML::DeepRecursion &problem) {
        fail(placeOf(problem.mark), u"not valid YAML: nested too deep"_s);
    } catch (const YAML::Exception &problem) {
        fail(placeOf(problem.mark),
             u"not valid YAML: %1"_s.arg(QString::fromStdString(problem.msg)));
    } catch (const std::exception &problem) {
        failLine(u"%1: cannot be read as a plan: %2"_s.arg(m_path,
                                                           QString::fromLocal8Bit(problem.what())));
    } catch (...) {
        failLine(u"%1: cannot be read as a plan"_s.arg(m_path));
    }
    if (!read || !m_error.isEmpty()) {
        if (error)
            *error = m_error.isEmpty() ? u"%1: cannot be read as a plan"_s.arg(m_path) : m_error;
        return std::nullopt;
    }
    return m_plan;
}

bool PlanReader::readPlan(const YAML::Node &root) {
    if (root.IsNull())
        return fail(PlanPlace{1, 1}, u"the plan is empty; it needs cases:, a list of at least "
                                     u"one case"_s);
    const std::optional<Entries> entries = mapEntries(root, placeOf(root), u"a plan"_s, kPlanKeys);
    if (!entries)
        return false;
    m_plan.file = m_path;
    m_plan.name = QFileInfo(m_path).completeBaseName();
    if (const Entry *name = find(*entries, u"plan"_s)) {
        const std::optional<QString> written = text(*name, u"the plan's name"_s);
        if (!written)
            return false;
        if (written->trimmed().isEmpty())
            return failValue(*name, u"the plan's name is empty"_s);
        m_plan.name = *written;
    }
    const Entry *targets = find(*entries, u"targets"_s);
    const Entry *vars = find(*entries, u"vars"_s);
    const Entry *data = find(*entries, u"data"_s);
    const Entry *defaults = find(*entries, u"defaults"_s);
    const Entry *thresholds = find(*entries, u"thresholds"_s);
    const Entry *seed = find(*entries, u"seed"_s);
    const Entry *cases = find(*entries, u"cases"_s);
    if ((targets && !readTargets(*targets)) || (vars && !readVars(*vars)) || !applySettings() ||
        (data && !readData(*data)) || (defaults && !readDefaults(*defaults)) ||
        (thresholds && !readThresholds(*thresholds)))
        return false;
    if (seed) {
        qint64 number = 0;
        if (!readWhole(*seed, 0, std::numeric_limits<qint64>::max(), &number))
            return false;
        m_plan.seed = quint64(number);
    }
    if (!cases)
        return fail(root, u"a plan needs cases:, a list of at least one case"_s);
    return readCases(*cases) && checkTargets();
}

bool PlanReader::readTargets(const Entry &entry) {
    const std::optional<Entries> entries = valueEntries(entry, u"targets"_s, kTargetKeys);
    if (!entries)
        return false;
    for (const Entry &target : *entries) {
        if (!readEndpoint(target, target.key == u"type4"_s ? &m_plan.type4 : &m_plan.type5))
            return false;
    }
    return true;
}

bool PlanReader::readVars(const Entry &entry) {
    const std::optional<Entries> entries = valueEntries(entry, u"vars"_s, {});
    if (!entries)
        return false;
    for (const Entry &var : *entries) {
        if (!isPlainName(var.key))
            return fail(var.keyNode, u"\"%1\" is not a var name: letters, digits, _, - and ., "
                                     u"beginning with a letter or _"_s.arg(var.key));
        if (isBuiltInName(var.key) || isTargetName(var.key))
            return fail(var.keyNode, u"\"%1\" is a name the plan gives itself (seq, now, "
                                     u"random:LOW-HIGH, and type4 and type5 for --set); choose "
                                     u"another"_s.arg(var.key));
        const std::optional<QString> value = text(var, u"a text"_s);
        if (!value || !checkBytes(var, *value))
            return false;
        if (value->contains(u"{{"_s))
            return failValue(var, u"a var's value goes out as written and holds no {{name}}"_s);
        m_plan.vars.append({var.key, *value});
        m_varNames.insert(var.key);
    }
    return true;
}

bool PlanReader::applySettings() {
    for (const auto &[name, value] : m_settings) {
        const QString setting = u"--set %1=%2"_s.arg(name, value);
        if (isTargetName(name)) {
            const std::optional<Endpoint> endpoint = parseEndpoint(value);
            if (!endpoint)
                return failLine(
                    u"%1: expected HOST:PORT with a port from 1 to 65535"_s.arg(setting));
            (name == u"type4"_s ? m_plan.type4 : m_plan.type5) = endpoint;
            continue;
        }
        if (!isPlainName(name) || isBuiltInName(name))
            return failLine(
                u"%1: \"%2\" is not a var name: letters, digits, _, - and ., "
                u"beginning with a letter or _, and not seq or now"_s.arg(setting, name));
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (value.at(i).unicode() > 0xff)
                return failLine(
                    u"%1: character %2 (U+%3) is not one byte"_s.arg(setting).arg(i + 1).arg(
                        codePointText(value, i)));
        }
        if (value.contains(u"{{"_s))
            return failLine(
                u"%1: a var's value goes out as written and holds no {{name}}"_s.arg(setting));
        const QString &setName = name; // a lambda may not capture a structured binding (clang 14)
        auto var =
            std::find_if(m_plan.vars.begin(), m_plan.vars.end(),
                         [&setName](const auto &written) { return written.first == setName; });
        if (var != m_plan.vars.end())
            var->second = value;
        else
            m_plan.vars.append({name, value});
        m_varNames.insert(name);
    }
    return true;
}

bool PlanReader::readData(const Entry &entry) {
    const std::optional<Entries> entries = valueEntries(entry, u"data"_s, kDataKeys);
    if (!entries)
        return false;
    const Entry *file = find(*entries, u"file"_s);
    if (!file)
        return fail(valuePlace(entry), u"data needs file:, the CSV file whose columns the steps "
                                       u"use"_s);
    PlanData data;
    if (!readFile(*file, &data.path))
        return false;
    if (const Entry *order = find(*entries, u"order"_s);
        order && !readWord(*order, kOrderWords, &data.order))
        return false;
    QString problem;
    if (!readCsvData(data.path, &data.columns, &data.rows, &problem))
        return failLine(problem);
    if (data.rows.isEmpty())
        return failValue(*file, u"%1 has a header and no rows"_s.arg(data.path));
    for (const QString &column : std::as_const(data.columns)) {
        if (isBuiltInName(column) || m_varNames.contains(column))
            return failValue(*file, u"%1: the column \"%2\" has the name of %3; rename one"_s.arg(
                                        data.path, column,
                                        isBuiltInName(column) ? u"a built-in"_s : u"a var"_s));
        m_columns.insert(column);
    }
    m_plan.data = std::move(data);
    return true;
}

bool PlanReader::readDefaults(const Entry &entry) {
    const std::optional<Entries> entries = valueEntries(entry, u"defaults"_s, kDefaultKeys);
    if (!entries)
        return false;
    if (const Entry *within = find(*entries, u"within"_s);
        within && !readDuration(*within, true, &m_plan.defaultWithinUs))
        return false;
    const Entry *onFailure = find(*entries, u"on_failure"_s);
    return !onFailure || readWord(*onFailure, kOnFailureWords, &m_plan.defaultOnFailure);
}

bool PlanReader::readThresholds(const Entry &entry) {
    const std::optional<Entries> entries = valueEntries(entry, u"thresholds"_s, kThresholdKeys);
    if (!entries)
        return false;
    Thresholds &limits = m_plan.thresholds;
    const std::pair<QString, std::optional<qint64> *> times[] = {{u"p50"_s, &limits.p50Us},
                                                                 {u"p90"_s, &limits.p90Us},
                                                                 {u"p95"_s, &limits.p95Us},
                                                                 {u"p99"_s, &limits.p99Us},
                                                                 {u"max"_s, &limits.maxUs}};
    for (const auto &[key, limit] : times) {
        qint64 us = 0;
        if (const Entry *time = find(*entries, key)) {
            if (!readDuration(*time, false, &us))
                return false;
            *limit = us;
        }
    }
    if (const Entry *failures = find(*entries, u"failures"_s)) {
        qint64 count = 0;
        if (!readWhole(*failures, 0, std::numeric_limits<int>::max(), &count))
            return false;
        limits.failures = int(count);
    }
    return true;
}

bool PlanReader::readCases(const Entry &entry) {
    if (!entry.value.IsSequence())
        return failValue(entry, u"expected a list of cases (\"- name: ...\"); this is %1"_s.arg(
                                    kindOf(entry.value)));
    if (entry.value.size() == 0)
        return failValue(entry, u"a plan needs at least one case"_s);
    for (auto it = entry.value.begin(); it != entry.value.end(); ++it) {
        PlanCase planCase;
        if (!readCase(*it, &planCase))
            return false;
        m_plan.cases.append(std::move(planCase));
    }
    return true;
}

bool PlanReader::readCase(const YAML::Node &node, PlanCase *planCase) {
    planCase->place = placeOf(node);
    const std::optional<Entries> entries =
        mapEntries(node, planCase->place, u"a case"_s, kCaseKeys);
    if (!entries)
        return false;
    const Entry *name = find(*entries, u"name"_s);
    if (!name)
        return fail(planCase->place, u"a case needs a name:"_s);
    const std::optional<QString> written = text(*name, u"the case's name"_s);
    if (!written)
        return false;
    if (written->trimmed().isEmpty())
        return failValue(*name, u"the case's name is empty"_s);
    planCase->name = *written;
    const Entry *steps = find(*entries, u"steps"_s);
    if (!steps)
        return fail(planCase->place, u"a case needs steps:, a list of at least one step"_s);
    return readSteps(*steps, u"a case"_s, 0, &planCase->steps);
}

bool PlanReader::readSteps(const Entry &entry, const QString &owner, int depth,
                           QList<Step> *steps) {
    if (entry.value.IsNull() || (entry.value.IsSequence() && entry.value.size() == 0))
        return failValue(entry, u"%1 needs at least one step"_s.arg(owner));
    if (!entry.value.IsSequence())
        return failValue(entry, u"expected a list of steps (\"- send: ...\"); this is %1"_s.arg(
                                    kindOf(entry.value)));
    for (auto it = entry.value.begin(); it != entry.value.end(); ++it) {
        Step step;
        if (!readStep(*it, depth, &step))
            return false;
        steps->append(std::move(step));
    }
    return true;
}

bool PlanReader::readStep(const YAML::Node &node, int depth, Step *step) {
    step->place = placeOf(node);
    if (++m_steps > kMaxPlanSteps)
        return fail(step->place, u"more than %1 steps in the plan"_s.arg(kMaxPlanSteps));
    const std::optional<Entries> entries = mapEntries(node, step->place, u"a step"_s, kStepKeys);
    if (!entries)
        return false;
    const Entry *action = nullptr;
    for (const Entry &entry : *entries) {
        if (entry.key != u"send"_s && entry.key != u"pause"_s && entry.key != u"repeat"_s)
            continue;
        if (action)
            return fail(entry.keyNode, u"a step does one thing, and this one has both %1 and %2; "
                                       u"make it two steps"_s.arg(action->key, entry.key));
        action = &entry;
    }
    const Entry *expect = find(*entries, u"expect"_s);
    const Entry *steps = find(*entries, u"steps"_s);
    const Entry *onFailure = find(*entries, u"on_failure"_s);
    if (!action && !expect)
        return fail(step->place, u"a step needs send, expect, pause or repeat"_s);
    if (steps && (!action || action->key != u"repeat"_s))
        return fail(steps->keyNode, u"steps: only a repeat holds steps"_s);
    const QString kind = action ? action->key : QString();
    if (kind == u"pause"_s || kind == u"repeat"_s) {
        for (const QString &key : {u"expect"_s, u"capture"_s}) {
            if (const Entry *extra = find(*entries, key))
                return fail(extra->keyNode, u"%1 goes with a send, not with %2"_s.arg(key, kind));
        }
    }
    if (onFailure) {
        if (kind == u"pause"_s)
            return fail(onFailure->keyNode, u"on_failure: a pause cannot fail"_s);
        OnFailure choice = OnFailure::Continue;
        if (!readWord(*onFailure, kOnFailureWords, &choice))
            return false;
        step->onFailure = choice;
    }
    if (kind == u"send"_s)
        return readSendStep(*entries, *action, step);
    if (kind == u"pause"_s) {
        step->kind = Step::Kind::Pause;
        return readDuration(*action, false, &step->pauseUs);
    }
    if (kind == u"repeat"_s) {
        step->kind = Step::Kind::Repeat;
        return readRepeat(*action, steps, depth, &step->repeat);
    }
    return readExpectStep(*entries, *expect, step);
}

bool PlanReader::readSendStep(const Entries &entries, const Entry &send, Step *step) {
    step->kind = Step::Kind::Send;
    if (!readSend(send, &step->send))
        return false;
    const Entry *expect = find(entries, u"expect"_s);
    if (expect) {
        step->expect.emplace();
        if (!readExpect(*expect, true, &*step->expect))
            return false;
    }
    const Entry *capture = find(entries, u"capture"_s);
    if (!capture)
        return true;
    if (!step->expect || !step->expect->answer)
        return fail(capture->keyNode, u"capture needs an expect with an answer in the same "
                                      u"step, to take its groups from"_s);
    return readCaptures(*capture, &step->expect->captures);
}

bool PlanReader::readExpectStep(const Entries &entries, const Entry &expect, Step *step) {
    step->kind = Step::Kind::Expect;
    step->expect.emplace();
    if (!readExpect(expect, false, &*step->expect))
        return false;
    if (const Entry *capture = find(entries, u"capture"_s))
        return fail(capture->keyNode, u"capture needs a send and an answer in the same step"_s);
    noteLink(PlanLink::Type5, step->expect->place);
    return true;
}

bool PlanReader::readSend(const Entry &entry, SendSpec *send) {
    send->place = placeOf(entry.keyNode);
    const std::optional<Entries> entries = valueEntries(entry, u"a send"_s, kSendKeys);
    if (!entries)
        return false;
    const Entry *what = nullptr;
    for (const Entry &part : *entries) {
        if (!kSendKinds.contains(part.key))
            continue;
        if (what)
            return fail(part.keyNode,
                        u"a send sends one thing, and this one has both %1 and %2"_s.arg(what->key,
                                                                                         part.key));
        what = &part;
    }
    if (!what)
        return fail(valuePlace(entry), u"a send needs one of %1"_s.arg(alternatives(kSendKinds)));
    bool read = false;
    if (what->key == u"type4"_s) {
        read = readType4(*what, send);
    } else if (what->key == u"type5"_s) {
        read = readType5(*what, send);
    } else if (what->key == u"type4_file"_s) {
        send->kind = SendSpec::Kind::FileType4;
        read = readFile(*what, &send->path);
    } else {
        send->kind = SendSpec::Kind::Raw;
        QString problem;
        read = readWireText(*what, &send->text) &&
               (decodeRawText(send->text, &problem) || failValue(*what, problem));
    }
    if (!read || !readSendShape(*entries, send))
        return false;
    noteLink(send->link, send->place);
    return true;
}

bool PlanReader::readType4(const Entry &entry, SendSpec *send) {
    send->link = PlanLink::Type4;
    const std::optional<QString> written =
        text(entry, u"a canned record (%1) or a record body with \"|\""_s.arg(
                        alternatives(names(kCannedRecordWords))));
    if (!written)
        return false;
    if (written->contains(u'|')) {
        send->kind = SendSpec::Kind::InlineType4;
        return readWireText(entry, &send->text);
    }
    send->kind = SendSpec::Kind::CannedType4;
    const std::optional<CannedRecord> canned = lookUp(kCannedRecordWords, *written);
    if (!canned)
        return failValue(
            entry, u"no canned record \"%1\"; the canned records are %2 (a record "
                   u"body has \"|\")"_s.arg(*written, alternatives(names(kCannedRecordWords))));
    send->canned = *canned;
    return true;
}

bool PlanReader::readType5(const Entry &entry, SendSpec *send) {
    send->link = PlanLink::Type5;
    if (entry.value.IsMap()) {
        send->kind = SendSpec::Kind::FileType5;
        const std::optional<Entries> entries = valueEntries(entry, u"type5"_s, kType5FileKeys);
        if (!entries)
            return false;
        const Entry *file = find(*entries, u"file"_s);
        if (!file)
            return fail(valuePlace(entry), u"type5 needs file:, the XML file to send"_s);
        return readFile(*file, &send->path);
    }
    const std::optional<QString> written =
        text(entry, u"canned, {file: NAME} or a document's text"_s);
    if (!written)
        return false;
    if (*written == u"canned"_s) {
        send->kind = SendSpec::Kind::CannedType5;
        return true;
    }
    if (!written->contains(u'<'))
        return failValue(entry, u"\"%1\" is neither canned, {file: NAME} nor a document's text "
                                u"(it has no \"<\")"_s.arg(*written));
    send->kind = SendSpec::Kind::InlineType5;
    return readWireText(entry, &send->text);
}

// The keys beside what a send sends: moli, term_id, link, split and gap.
bool PlanReader::readSendShape(const Entries &entries, SendSpec *send) {
    const bool canned = send->kind == SendSpec::Kind::CannedType4;
    const bool inlineBody = send->kind == SendSpec::Kind::InlineType4;
    const bool raw = send->kind == SendSpec::Kind::Raw;
    if (const Entry *moli = find(entries, u"moli"_s)) {
        if (!canned)
            return fail(moli->keyNode, u"moli goes only with a canned type4 record"_s);
        int shape = kMoliNone;
        if (!readWord(*moli, kMoliShapeWords, &shape))
            return false;
        send->moliShape = shape;
    }
    if (const Entry *termId = find(entries, u"term_id"_s)) {
        if (!canned && !inlineBody)
            return fail(termId->keyNode, u"term_id goes only with type4 (a canned record or a "
                                         u"record body)"_s);
        if (!readWireText(*termId, &send->termId))
            return false;
    }
    if (const Entry *link = find(entries, u"link"_s)) {
        if (!raw)
            return fail(link->keyNode, u"link goes only with raw; the other sends imply their "
                                       u"link"_s);
        if (!readWord(*link, kLinkWords, &send->link))
            return false;
    }
    const Entry *split = find(entries, u"split"_s);
    if (split) {
        if (!split->value.IsSequence() || split->value.size() == 0)
            return failValue(*split,
                             u"expected a list of segment sizes in bytes ([3, 4]); this "
                             u"is %1"_s.arg(split->value.IsSequence() ? u"an empty list"_s
                                                                      : kindOf(split->value)));
        for (auto it = split->value.begin(); it != split->value.end(); ++it) {
            qint64 size = 0;
            if (!readWhole({split->key, split->keyNode, *it}, 1, std::numeric_limits<int>::max(),
                           &size))
                return false;
            send->split.append(int(size));
        }
    }
    if (const Entry *gap = find(entries, u"gap"_s)) {
        if (!split)
            return fail(gap->keyNode, u"gap goes only with split: it is the time between "
                                      u"segments"_s);
        if (!readDuration(*gap, false, &send->gapUs))
            return false;
    }
    return true;
}

bool PlanReader::readExpect(const Entry &entry, bool afterSend, ExpectSpec *expect) {
    expect->place = placeOf(entry.keyNode);
    const std::optional<Entries> entries = valueEntries(entry, u"an expect"_s, kExpectKeys);
    if (!entries)
        return false;
    const std::pair<QString, bool *> flags[] = {{u"no_answer"_s, &expect->noAnswer},
                                                {u"closed"_s, &expect->closed},
                                                {u"heartbeat"_s, &expect->heartbeat}};
    for (const auto &[key, flag] : flags) {
        if (const Entry *given = find(*entries, key); given && !readWord(*given, kBoolWords, flag))
            return false;
    }
    const Entry *answer = find(*entries, u"answer"_s);
    if (answer) {
        if (expect->noAnswer)
            return fail(find(*entries, u"no_answer"_s)->keyNode,
                        u"no_answer contradicts answer; keep one"_s);
        QString pattern;
        if (!readPattern(*answer, false, &pattern))
            return false;
        expect->answer = pattern;
    }
    if (const Entry *within = find(*entries, u"within"_s)) {
        qint64 us = 0;
        if (!readDuration(*within, true, &us))
            return false;
        expect->withinUs = us;
    }
    if (expect->heartbeat) {
        const Entry *heartbeat = find(*entries, u"heartbeat"_s);
        if (afterSend)
            return fail(heartbeat->keyNode, u"heartbeat goes in an expect without a send: it "
                                            u"watches link 2 for the receiver's heartbeat"_s);
        if (answer || expect->noAnswer || expect->closed)
            return fail(heartbeat->keyNode, u"heartbeat stands alone: no answer, no_answer or "
                                            u"closed beside it"_s);
        return true;
    }
    if (!answer && !expect->noAnswer && !expect->closed)
        return fail(valuePlace(entry), u"an expect needs answer, no_answer, closed or heartbeat"_s);
    if (!afterSend && answer)
        return fail(answer->keyNode, u"answer needs a send in the same step; an expect alone "
                                     u"watches link 2 for heartbeat, no_answer or closed"_s);
    return true;
}

bool PlanReader::readCaptures(const Entry &entry, QList<Capture> *captures) {
    const std::optional<Entries> entries = valueEntries(entry, u"capture"_s, {});
    if (!entries)
        return false;
    if (entries->empty())
        return failValue(entry, u"name at least one capture (NAME: PATTERN)"_s);
    QList<Capture> read;
    for (const Entry &capture : *entries) {
        if (!isPlainName(capture.key) || isBuiltInName(capture.key) || isTargetName(capture.key))
            return fail(capture.keyNode, u"\"%1\" is not a capture name: letters, digits, _, - "
                                         u"and ., beginning with a letter or _, and not seq, "
                                         u"now, type4 or type5"_s.arg(capture.key));
        if (m_varNames.contains(capture.key) || m_columns.contains(capture.key))
            return fail(capture.keyNode,
                        u"\"%1\" is already a %2; a capture takes a name of its "
                        u"own"_s.arg(capture.key, m_varNames.contains(capture.key)
                                                      ? u"var"_s
                                                      : u"column of the data file"_s));
        Capture taken{capture.key, {}};
        if (!readPattern(capture, true, &taken.pattern))
            return false;
        read.append(taken);
    }
    // Defined only now: the step's own texts cannot use what it captures.
    for (const Capture &capture : std::as_const(read))
        m_captured.insert(capture.name);
    *captures = read;
    return true;
}

bool PlanReader::readRepeat(const Entry &repeat, const Entry *steps, int depth, RepeatSpec *into) {
    if (depth + 1 > kMaxRepeatDepth)
        return fail(repeat.keyNode, u"repeats nest at most %1 deep"_s.arg(kMaxRepeatDepth));
    const std::optional<Entries> entries = valueEntries(repeat, u"a repeat"_s, kRepeatKeys);
    if (!entries)
        return false;
    const Entry *count = find(*entries, u"count"_s);
    const Entry *duration = find(*entries, u"duration"_s);
    if (count && duration) {
        const Entry *second =
            count->keyNode.Mark().pos < duration->keyNode.Mark().pos ? duration : count;
        return fail(second->keyNode, u"a repeat has count or duration, not both"_s);
    }
    if (count) {
        qint64 times = 0;
        if (!readWhole(*count, 1, kMaxRepeatCount, &times))
            return false;
        into->count = int(times);
    } else if (duration) {
        qint64 us = 0;
        if (!readDuration(*duration, true, &us))
            return false;
        into->durationUs = us;
    } else {
        return fail(valuePlace(repeat),
                    u"a repeat needs count (1 to %1) or duration"_s.arg(kMaxRepeatCount));
    }
    if (const Entry *rate = find(*entries, u"rate"_s)) {
        const std::optional<QString> written = text(*rate, u"a rate (\"20/s\", \"1200/min\")"_s);
        if (!written)
            return false;
        const std::optional<double> perSecond = parseRate(*written);
        if (!perSecond)
            return failValue(*rate, u"\"%1\" is not a rate: write it as \"20/s\" or \"1200/min\", "
                                    u"more than 0 and at most 1000000/s"_s.arg(*written));
        into->perSecond = *perSecond;
    }
    if (!steps)
        return fail(repeat.keyNode, u"a repeat needs steps: beside it, the steps it repeats"_s);
    return readSteps(*steps, u"a repeat"_s, depth + 1, &into->steps);
}

void PlanReader::noteLink(PlanLink link, PlanPlace place) {
    std::optional<PlanPlace> &first = m_firstUse.at(link == PlanLink::Type4 ? 0 : 1);
    if (!first)
        first = place;
}

// A step on a link with no target would fail only when the run reaches it.
bool PlanReader::checkTargets() {
    const std::tuple<PlanLink, const std::optional<Endpoint> *, const char *> links[] = {
        {PlanLink::Type4, &m_plan.type4, "type4"}, {PlanLink::Type5, &m_plan.type5, "type5"}};
    for (const auto &[link, target, name] : links) {
        const std::optional<PlanPlace> &first = m_firstUse.at(link == PlanLink::Type4 ? 0 : 1);
        if (first && !*target)
            return fail(*first,
                        u"this step uses link %1 and the plan has no %2 target; add "
                        u"targets: {%2: HOST:PORT} or --set %2=HOST:PORT"_s.arg(
                            link == PlanLink::Type4 ? u"1"_s : u"2"_s, QLatin1String(name)));
    }
    return true;
}

} // namespace

std::optional<Plan> readPlanText(const QByteArray &yaml, const QString &path,
                                 const Settings &settings, QString *error) {
    return PlanReader(path, settings).read(yaml, error);
}

std::optional<Plan> readPlan(const QString &path, const Settings &settings, QString *error) {
    const QString fileName = TextLineReader::toFileSystemPath(path);
    const auto failed = [&](const QString &problem) {
        if (error)
            *error = u"%1: %2"_s.arg(path, problem);
        return std::nullopt;
    };
    const QString reason = whyFileUnreadable(fileName);
    if (!reason.isEmpty())
        return failed(u"cannot be read: %1"_s.arg(reason));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return failed(u"cannot be read: %1"_s.arg(file.errorString()));
    const QByteArray yaml = file.read(kMaxPlanFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failed(u"cannot be read: %1"_s.arg(file.errorString()));
    if (yaml.size() > kMaxPlanFileBytes)
        return failed(
            u"larger than the %1 MiB a plan file may be"_s.arg(kMaxPlanFileBytes / (1024 * 1024)));
    return readPlanText(yaml, path, settings, error);
}
