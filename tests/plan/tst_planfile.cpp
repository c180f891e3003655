// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a test plan: its value rules (durations, rates, raw bytes, {{names}}),
// its data file, the one-line error each broken plan gets, and a good plan read
// back into the model.
#include "plandata.h"
#include "plandocument.h"
#include "plantext.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

using Settings = QList<std::pair<QString, QString>>;

// Every plan below starts with this line, so that its links have targets.
const QByteArray kTargets = "targets: {type4: 127.0.0.1:7005, type5: 127.0.0.1:7018}\n";

void writeFile(const QString &name, const QByteArray &bytes) {
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

std::optional<Plan> planFrom(const QByteArray &yaml, QString *error,
                             const Settings &settings = {}) {
    return readPlanText(yaml, u"plan.yaml"_s, settings, error);
}

// What the system says of a file that is not there.
QString missingReason() {
    QFile file(u"no such file"_s);
    return file.open(QIODevice::ReadOnly) ? QString() : file.errorString();
}

// A plan that must read; fails the test with its error otherwise.
Plan goodPlan(const QByteArray &yaml, const Settings &settings = {}) {
    QString error;
    const std::optional<Plan> plan = planFrom(yaml, &error, settings);
    if (!plan)
        qWarning("%s", qPrintable(error));
    return plan.value_or(Plan());
}

} // namespace

class TestPlanFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_startFolder;

private slots:
    // Plans name their files relative to their own folder: run in one holding them.
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_startFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        writeFile(u"callers.csv"_s, "phone,name,street\r\n0800123456,Alice,\"1 High St, Town\"\r\n"
                                    "0299998888,\"Bob \"\"B\"\" Jr\",\r\n");
        writeFile(u"short.csv"_s, "phone,name\n1,2\n3\n");
        writeFile(u"header.csv"_s, "phone,name\n");
        writeFile(u"seq.csv"_s, "phone,seq\n1,2\n");
        writeFile(u"ipnd3.x01"_s, "3|0299990000|SAMPLE|\n");
        writeFile(u"doc.xml"_s, "<doc/>\n");
        QVERIFY(QDir().mkpath(u"sub"_s));
        writeFile(u"sub/inner.x01"_s, "3|1|\n");
    }

    void cleanupTestCase() { QDir::setCurrent(m_startFolder); }

    void durations_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("us"); // -1: refused
        const std::pair<const char *, qint64> rows[] = {
            {"500 ms", 500'000},
            {"500ms", 500'000},
            {"2 s", 2'000'000},
            {"1.5 s", 1'500'000},
            {"0 s", 0},
            {"0.0005 ms", 1}, // half a microsecond rounds up
            {"0.0004 ms", 0},
            {"86400 s", 86'400'000'000},
            {"86400000 ms", 86'400'000'000},
            {"86400.5 s", -1},
            {"86400001 ms", -1},
            {"2", -1},
            {"2  s", -1},
            {" 2 s", -1},
            {"2 s ", -1},
            {"2 sec", -1},
            {"2 S", -1},
            {"1 h", -1},
            {"-1 s", -1},
            {"1e3 ms", -1},
            {"s", -1},
            {"ms", -1},
            {"", -1},
        };
        for (const auto &[text, us] : rows)
            QTest::addRow("\"%s\"", text) << QString::fromUtf8(text) << us;
    }

    void durations() {
        QFETCH(QString, text);
        QFETCH(qint64, us);
        QCOMPARE(parseDuration(text).value_or(-1), us);
    }

    void rates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("perSecond"); // -1: refused
        const std::pair<const char *, double> rows[] = {
            {"20/s", 20},
            {"1200/min", 20},
            {"0.5/s", 0.5},
            {"1000000/s", 1'000'000},
            {"60000000/min", 1'000'000},
            {"1000000.5/s", -1},
            {"60000001/min", -1},
            {"0/s", -1},
            {"20 /s", -1},
            {"20/sec", -1},
            {"20/h", -1},
            {"20", -1},
            {"1e2/s", -1},
        };
        for (const auto &[text, perSecond] : rows)
            QTest::addRow("\"%s\"", text) << QString::fromUtf8(text) << perSecond;
    }

    void rates() {
        QFETCH(QString, text);
        QFETCH(double, perSecond);
        QCOMPARE(parseRate(text).value_or(-1), perSecond);
    }

    void rawText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error"); // empty: decoded
        const auto decoded = [](const char *name, const QString &text, const QByteArray &bytes) {
            QTest::newRow(name) << text << bytes << QString();
        };
        const auto refused = [](const char *name, const QString &text, const char *error) {
            QTest::newRow(name) << text << QByteArray() << QString::fromUtf8(error);
        };
        decoded("plain", u"999000X3|x"_s, "999000X3|x");
        decoded("hex both cases", u"\\x4a\\x4A\\xfF"_s, "JJ\xff");
        decoded("NUL byte", u"a\\x00b"_s, QByteArray("a\0b", 3));
        decoded("backslash", u"\\\\"_s, "\\");
        decoded("escaped backslash before x41", u"\\\\x41"_s, "\\x41");
        decoded("Latin-1 character", u"caf\u00e9"_s, "caf\xe9");
        decoded("template kept", u"{{seq}}|"_s, "{{seq}}|");
        decoded("empty", QString(), QByteArray());
        refused("one hex digit", u"a\\x4"_s,
                "\"\\x\" at character 2 is not an escape: \\xHH (two hex digits) is a byte, \\\\ "
                "a backslash");
        refused("not hex", u"\\x4g"_s,
                "\"\\x\" at character 1 is not an escape: \\xHH (two hex digits) is a byte, \\\\ "
                "a backslash");
        refused("newline escape", u"ab\\n"_s,
                "\"\\n\" at character 3 is not an escape: \\xHH (two hex digits) is a byte, \\\\ "
                "a backslash");
        refused("trailing backslash", u"ab\\"_s,
                "\"\\\" at character 3 is not an escape: \\xHH (two hex digits) is a byte, \\\\ "
                "a backslash");
        refused("beyond Latin-1", u"ab\u0100"_s,
                "character 3 (U+0100) is not a byte; write it as \\xHH bytes");
        refused("beyond the BMP", u"\U0001F600"_s,
                "character 1 (U+1F600) is not a byte; write it as \\xHH bytes");
    }

    void rawText() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        QString problem;
        const std::optional<QByteArray> decoded = decodeRawText(text, &problem);
        QCOMPARE(decoded.has_value(), error.isEmpty());
        QCOMPARE(decoded.value_or(QByteArray()), bytes);
        QCOMPARE(problem, error);
    }

    void templates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names"); // name@offset
        QTest::addColumn<QString>("error");
        const auto row = [](const char *text, const QStringList &names, const char *error) {
            QTest::addRow("%s", text)
                << QString::fromUtf8(text) << names << QString::fromUtf8(error);
        };
        row("no names {x} }}", {}, "");
        row("{{term}}", {u"term@0"_s}, "");
        row("a{{ term }}b{{seq}}", {u"term@1"_s, u"seq@12"_s}, "");
        row("{{a}}{{b}}", {u"a@0"_s, u"b@5"_s}, "");
        row("{{random:1-9}}", {u"random:1-9@0"_s}, "");
        row("x{{", {}, "\"{{\" at character 2 is not closed with \"}}\"");
        row("{{a}} {{b}", {}, "\"{{\" at character 7 is not closed with \"}}\"");
        row("{{}}", {}, "\"{{}}\" at character 1 names nothing");
        row("a{{  }}", {}, "\"{{}}\" at character 2 names nothing");
        row("{{{x}}}", {}, "\"{{{x}}\" at character 1: a name holds no braces");
    }

    void templates() {
        QFETCH(QString, text);
        QFETCH(QStringList, names);
        QFETCH(QString, error);
        QString problem;
        const std::optional<QList<TemplateRef>> refs = templateRefs(text, &problem);
        QCOMPARE(problem, error);
        QCOMPARE(refs.has_value(), error.isEmpty());
        QStringList found;
        for (const TemplateRef &ref : refs.value_or(QList<TemplateRef>()))
            found << u"%1@%2"_s.arg(ref.name).arg(ref.offset);
        QCOMPARE(found, names);
    }

    void expand_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expanded");
        // The look-up knows x (as "1") and loop (as "{{loop}}"), nothing else.
        QTest::newRow("known and unknown")
            << u"A{{x}}B{{ unknown }}C{{ x }}"_s << u"A1B{{ unknown }}C1"_s;
        QTest::newRow("a value is not expanded again") << u"<{{loop}}>"_s << u"<{{loop}}>"_s;
        QTest::newRow("unclosed stays") << u"{{x}}{{x"_s << u"1{{x"_s;
        QTest::newRow("empty name stays") << u"{{}}{{x}}"_s << u"{{}}1"_s;
        QTest::newRow("nothing to do") << u"3|a|b"_s << u"3|a|b"_s;
    }

    void expand() {
        QFETCH(QString, text);
        QFETCH(QString, expanded);
        const auto lookUp = [](const QString &name) -> std::optional<QString> {
            if (name == u"x"_s)
                return u"1"_s;
            if (name == u"loop"_s)
                return u"{{loop}}"_s;
            return std::nullopt;
        };
        QCOMPARE(expandTemplate(text, lookUp), expanded);
    }

    void builtIns_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("builtIn");
        QTest::addColumn<qint64>("low"); // -1: no range
        QTest::addColumn<qint64>("high");
        const auto row = [](const char *name, bool builtIn, qint64 low, qint64 high) {
            QTest::addRow("%s", name) << QString::fromUtf8(name) << builtIn << low << high;
        };
        row("seq", true, -1, -1);
        row("now", true, -1, -1);
        row("Seq", false, -1, -1);
        row("random", false, -1, -1);
        row("random:1-9", true, 1, 9);
        row("random:5-5", true, 5, 5);
        row("random:0-999999999999999999", true, 0, 999'999'999'999'999'999);
        row("random:0-1000000000000000000", false, -1, -1);
        row("random:0000000000000000001-2", false, -1, -1);
        row("random:9-1", false, -1, -1);
        row("random:1-", false, -1, -1);
        row("random:-1-5", false, -1, -1);
        row("random:1-9-", false, -1, -1);
        row("random:1 -9", false, -1, -1);
        row("random:1..9", false, -1, -1);
    }

    void builtIns() {
        QFETCH(QString, name);
        QFETCH(bool, builtIn);
        QFETCH(qint64, low);
        QFETCH(qint64, high);
        QCOMPARE(isBuiltInName(name), builtIn);
        const std::optional<std::pair<qint64, qint64>> range = randomRange(name);
        QCOMPARE(range.has_value(), low >= 0);
        if (range) {
            QCOMPARE(range->first, low);
            QCOMPARE(range->second, high);
        }
    }

    void csv_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<QString>("error"); // empty: read
        const auto read = [](const char *name, const QByteArray &bytes, const QStringList &columns,
                             const QList<QStringList> &rows) {
            QTest::newRow(name) << bytes << columns << rows << QString();
        };
        const auto refused = [](const char *name, const QByteArray &bytes, const char *error) {
            QTest::newRow(name) << bytes << QStringList() << QList<QStringList>()
                                << QString::fromUtf8(error);
        };
        const QStringList ab = {u"a"_s, u"b"_s};
        read("LF, no last line end", "a,b\n1,2\n3,4", ab, {{u"1"_s, u"2"_s}, {u"3"_s, u"4"_s}});
        read("CR LF", "a,b\r\n1,2\r\n", ab, {{u"1"_s, u"2"_s}});
        read("lone CR", "a,b\r1,2\r", ab, {{u"1"_s, u"2"_s}});
        read("phone numbers stay text", "a,b\n0800123456,007\n", ab, {{u"0800123456"_s, u"007"_s}});
        read("quoted comma and doubled quote", "a,b\n\"x, y\",\"say \"\"hi\"\"\"\n", ab,
             {{u"x, y"_s, u"say \"hi\""_s}});
        read("a quoted line end is kept as written", "a,b\r\n\"1\r\n2\",3\r\n", ab,
             {{u"1\r\n2"_s, u"3"_s}});
        read("empty fields", "a,b\n,\n\"\",\n", ab,
             {{QString(), QString()}, {QString(), QString()}});
        read("empty lines skipped", "\na,b\n\n1,2\n\n\n", ab, {{u"1"_s, u"2"_s}});
        read("byte-order mark dropped, header trimmed", "\xEF\xBB\xBF a , b\n 1 , 2 \n", ab,
             {{u" 1 "_s, u" 2 "_s}});
        read("bytes are Latin-1", "a,b\n\xe9,\xc3\xa9\n", ab, {{u"\u00e9"_s, u"\u00c3\u00a9"_s}});
        read("header only", "a,b\n", ab, {});
        refused("empty file", "", "t.csv: empty; the first line names the columns");
        refused("empty lines only", "\r\n\n", "t.csv: empty; the first line names the columns");
        refused("too few fields", "a,b\n1,2\n3\n", "t.csv:3: 1 field, the header has 2");
        refused("too many fields", "a,b\n1,2,3\n", "t.csv:2: 3 fields, the header has 2");
        refused("lines counted inside quotes", "a,b\n\"1\n\n2\",3\n4\n",
                "t.csv:5: 1 field, the header has 2");
        refused("lines counted after skipped empty lines", "a,b\r\n\r\n\r\n1\r\n",
                "t.csv:4: 1 field, the header has 2");
        refused("unclosed quote", "a,b\n1,2\n3,\"4\n5\n",
                "t.csv:3: the quote that opens field 2 is never closed");
        refused("text after a closing quote", "a,b\n\"1\"x,2\n",
                "t.csv:2: text after the closing quote of field 1");
        refused("quote inside an unquoted field", "a,b\n1,2\"\n",
                "t.csv:2: a quote inside field 2; put the whole field in quotes and double the "
                "quote (\"a \"\"b\"\"\")");
        refused("unnamed column", "a,,b\n1,2,3\n", "t.csv:1: column 2 has no name");
        refused("a line end in a column name", "\"a\nb\",\"a\nb\"\n1,2\n",
                "t.csv:1: two columns are named \"a\\nb\"");
        refused("two columns of a name", "a, a\n1,2\n", "t.csv:1: two columns are named \"a\"");
        refused("overlong line", "a,b\n1,2\n" + QByteArray(kMaxCsvLineBytes + 1, 'x') + "\n",
                "t.csv:3: a line longer than 1 MiB");
        read("longest line", "a\n" + QByteArray(kMaxCsvLineBytes, 'x') + "\n", {u"a"_s},
             {{QString(kMaxCsvLineBytes, u'x')}});
    }

    void csv() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, columns);
        QFETCH(QList<QStringList>, rows);
        QFETCH(QString, error);
        writeFile(u"t.csv"_s, bytes);
        QStringList readColumns{u"stale"_s};
        QList<QStringList> readRows{{u"stale"_s}};
        QString problem;
        QCOMPARE(readCsvData(u"t.csv"_s, &readColumns, &readRows, &problem), error.isEmpty());
        QCOMPARE(problem, error);
        QCOMPARE(readColumns, columns);
        QCOMPARE(readRows, rows);
    }

    // Files that are not there, not files, or too big: refused before reading, and
    // a pipe with no writer does not hang the reader.
    void unreadableFiles() {
        QStringList columns;
        QList<QStringList> rows;
        QString problem;
        QVERIFY(!readCsvData(u"missing.csv"_s, &columns, &rows, &problem));
        QCOMPARE(problem, u"missing.csv: cannot be read: "_s + missingReason());
        QVERIFY(!readCsvData(u"sub"_s, &columns, &rows, &problem));
        QCOMPARE(problem, u"sub: cannot be read: it is a folder"_s);
        QFile big(u"big.csv"_s);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(kMaxCsvFileBytes + 1));
        big.close();
        QVERIFY(!readCsvData(u"big.csv"_s, &columns, &rows, &problem));
        QCOMPARE(problem, u"big.csv: larger than the 64 MiB a data file may be"_s);
        QVERIFY(big.resize(kMaxPlanFileBytes + 1));
        QVERIFY(!readPlan(u"big.csv"_s, {}, &problem));
        QCOMPARE(problem, u"big.csv: larger than the 4 MiB a plan file may be"_s);
        QVERIFY(big.remove());
        QVERIFY(!readPlan(u"missing.yaml"_s, {}, &problem));
        QCOMPARE(problem, u"missing.yaml: cannot be read: "_s + missingReason());
#ifdef Q_OS_UNIX
        QVERIFY(::mkfifo("pipe.csv", 0600) == 0);
        QVERIFY(!readCsvData(u"pipe.csv"_s, &columns, &rows, &problem));
        QCOMPARE(problem, u"pipe.csv: cannot be read: not a regular file"_s);
        QVERIFY(!readPlan(u"pipe.csv"_s, {}, &problem));
        QCOMPARE(problem, u"pipe.csv: cannot be read: not a regular file"_s);
        QVERIFY(QFile::remove(u"pipe.csv"_s));
#endif
        QVERIFY(columns.isEmpty() && rows.isEmpty());
    }

    void errors_data() {
        QTest::addColumn<QByteArray>("yaml");
        QTest::addColumn<QString>("error");
        // yaml follows kTargets, so its first line is line 2.
        const auto row = [](const char *name, const QByteArray &yaml, const char *error) {
            QTest::newRow(name) << kTargets + yaml << u"plan.yaml:"_s + QString::fromUtf8(error);
        };
        const QByteArray step = "cases:\n- name: c\n  steps:\n  - ";
        // Steps in `step` begin at line 5, column 5.

        // The document as a whole.
        QTest::newRow("empty file") << QByteArray()
                                    << u"plan.yaml:1:1: the plan is empty; it needs cases:, a list "
                                       u"of at least one case"_s;
        row("not YAML", "cases: [\n", "3:1: not valid YAML: end of sequence flow not found");
        // The YAML parser would emit events for ever on these: stopped, not hung.
        QTest::newRow("a short input the parser loops on")
            << QByteArray(",!.a\xff\xff\xffUL\n#")
            << u"plan.yaml:1:1: not valid YAML: more YAML events than the file's size allows"_s;
        QTest::newRow("a run of commas")
            << QByteArray(123, ',') + "f"
            << u"plan.yaml:1:1: not valid YAML: more YAML events than the file's size allows"_s;
        row("two documents", "cases: []\n---\ncases: []\n",
            "4:1: a plan file holds one YAML document; a second begins here");
        QTest::newRow("a list, not a map")
            << QByteArray("- a\n")
            << u"plan.yaml:1:1: a plan is a map of plan, targets, vars, data, defaults, "
               u"thresholds, seed, cases; this is a list"_s;
        row("unknown top key", "colour: red\n",
            "2:1: unknown key \"colour\" in a plan; allowed here: plan, targets, vars, data, "
            "defaults, thresholds, seed, cases");
        row("a key given twice", "seed: 1\nseed: 2\n", "3:1: \"seed\" is given twice in a plan");
        row("a map as a key", "{a: 1}: 2\n", "2:1: a key in a plan is a word; this is a map");
        row("no cases key", "seed: 1\n", "1:1: a plan needs cases:, a list of at least one case");
        row("no cases", "cases: []\n", "2:8: cases: a plan needs at least one case");
        row("cases a map", "cases: {name: x}\n",
            "2:8: cases: expected a list of cases (\"- name: ...\"); this is a map");
        row("empty plan name", "plan: \"\"\ncases: []\n", "2:7: plan: the plan's name is empty");
        row("seed with a fraction", "seed: 1.5\ncases: []\n",
            "2:7: seed: \"1.5\" is not a whole number from 0 to 9223372036854775807");

        // Targets, vars, data, defaults, thresholds.
        QTest::newRow("unknown target")
            << QByteArray("targets: {type6: h:1}\n")
            << u"plan.yaml:1:11: unknown key \"type6\" in targets; allowed here: type4, type5"_s;
        QTest::newRow("target without port")
            << QByteArray("targets: {type4: localhost}\n")
            << u"plan.yaml:1:18: type4: \"localhost\" is not HOST:PORT with a port from 1 to "
               u"65535"_s;
        row("var name with a space", "vars: {\"my var\": 1}\n",
            "2:8: \"my var\" is not a var name: letters, digits, _, - and ., beginning with a "
            "letter or _");
        row("var named like a built-in", "vars: {seq: 1}\n",
            "2:8: \"seq\" is a name the plan gives itself (seq, now, random:LOW-HIGH, and type4 "
            "and type5 for --set); choose another");
        row("var named like a target", "vars: {type5: 1}\n",
            "2:8: \"type5\" is a name the plan gives itself (seq, now, random:LOW-HIGH, and type4 "
            "and type5 for --set); choose another");
        row("var holding a template", "vars: {a: \"{{seq}}\"}\n",
            "2:11: a: a var's value goes out as written and holds no {{name}}");
        row("var of no value", "vars:\n  a:\n", "3:3: a: expected a text; this is nothing");
        row("var beyond Latin-1", "vars: {a: \"x\u20ac\"}\n",
            "2:11: a: character 2 (U+20AC) is not one byte, and the wire carries one byte a "
            "character; write it as \\xHH bytes in a raw step");
        row("data without file", "data: {order: random}\n",
            "2:7: data needs file:, the CSV file whose columns the steps use");
        row("data file missing", "data: {file: nobody.csv}\n",
            "2:14: nobody.csv: cannot be read: <missing>");
        row("data order unknown", "data: {file: callers.csv, order: shuffled}\n",
            "2:34: order: \"shuffled\" is not sequential or random");
        // A problem inside the data file is its own file's line.
        QTest::newRow("data file line short") << kTargets + "data: {file: short.csv}\n"
                                              << u"short.csv:3: 1 field, the header has 2"_s;
        row("data file without rows", "data: {file: header.csv}\n",
            "2:14: file: header.csv has a header and no rows");
        row("data column named like a built-in", "data: {file: seq.csv}\n",
            "2:14: file: seq.csv: the column \"seq\" has the name of a built-in; rename one");
        row("data column named like a var", "vars: {phone: 1}\ndata: {file: callers.csv}\n",
            "3:14: file: callers.csv: the column \"phone\" has the name of a var; rename one");
        row("default within 0", "defaults: {within: 0 s}\n",
            "2:20: within: \"0 s\": give a time longer than 0");
        row("threshold not a duration", "thresholds: {p99: 300}\n",
            "2:19: p99: \"300\" is not a duration: write it as \"500 ms\" or \"2 s\", at most 24 "
            "h");
        row("threshold failures negative", "thresholds: {failures: -1}\n",
            "2:24: failures: \"-1\" is not a whole number from 0 to 2147483647");
        row("unknown threshold", "thresholds: {p100: 1 s}\n",
            "2:14: unknown key \"p100\" in thresholds; allowed here: p50, p90, p95, p99, max, "
            "failures");

        // Cases.
        row("case a text", "cases: [hello]\n",
            "2:9: a case is a map of name, steps; this is a text");
        row("case without name", "cases:\n- steps: [{pause: 1 s}]\n", "3:3: a case needs a name:");
        row("case name a map", "cases:\n- name: {a: b}\n  steps: [{pause: 1 s}]\n",
            "3:9: name: expected the case's name; this is a map");
        row("case without steps", "cases:\n- name: c\n",
            "3:3: a case needs steps:, a list of at "
            "least one step");
        row("case with no steps", "cases:\n- name: c\n  steps: []\n",
            "4:10: steps: a case needs at least one step");
        row("case with empty steps", "cases:\n- name: c\n  steps:\n",
            "4:3: steps: a case needs at least one step");

        // Steps.
        row("step a text", step + "hello\n",
            "5:5: a step is a map of send, expect, capture, "
            "on_failure, pause, repeat, steps; this is a text");
        row("unknown step key", step + "sned: {type4: min}\n",
            "5:5: unknown key \"sned\" in a step; allowed here: send, expect, capture, "
            "on_failure, pause, repeat, steps");
        row("step of nothing", step + "capture: {a: (x)}\n",
            "5:5: a step needs send, expect, pause or repeat");
        row("send and pause", step + "send: {type4: min}\n    pause: 1 s\n",
            "6:5: a step does one thing, and this one has both send and pause; make it two steps");
        row("pause with expect", step + "pause: 1 s\n    expect: {closed: true}\n",
            "6:5: expect goes with a send, not with pause");
        row("pause not a duration", step + "pause: 1\n",
            "5:12: pause: \"1\" is not a duration: write it as \"500 ms\" or \"2 s\", at most 24 "
            "h");
        row("pause with on_failure", step + "pause: 1 s\n    on_failure: stop_case\n",
            "6:5: on_failure: a pause cannot fail");
        row("on_failure unknown", step + "send: {type4: min}\n    on_failure: halt\n",
            "6:17: on_failure: \"halt\" is not continue, stop_case or stop_plan");
        row("steps without repeat", step + "send: {type4: min}\n    steps: []\n",
            "6:5: steps: only a repeat holds steps");

        // Sends.
        row("send a text", step + "send: standard\n",
            "5:11: a send is a map of type4, type5, type4_file, raw, moli, term_id, link, split, "
            "gap; this is a text");
        row("send of nothing", step + "send: {moli: point}\n",
            "5:11: a send needs one of type4, type5, type4_file or raw");
        row("send of two kinds", step + "send: {type4: min, raw: x}\n",
            "5:24: a send sends one thing, and this one has both type4 and raw");
        row("unknown send key", step + "send: {type4: min, colour: red}\n",
            "5:24: unknown key \"colour\" in a send; allowed here: type4, type5, type4_file, raw, "
            "moli, term_id, link, split, gap");
        row("unknown canned record", step + "send: {type4: medium}\n",
            "5:19: type4: no canned record \"medium\"; the canned records are standard, noadd, "
            "long, min or max (a record body has \"|\")");
        row("unknown MOLI shape", step + "send: {type4: standard, moli: square}\n",
            "5:35: moli: \"square\" is not point, circular, arc, polygon, ellipsoid or "
            "none");
        row("moli with a body", step + "send: {type4: \"3|a\", moli: point}\n",
            "5:26: moli goes only with a canned type4 record");
        row("term_id with type5", step + "send: {type5: canned, term_id: \"1\"}\n",
            "5:27: term_id goes only with type4 (a canned record or a record body)");
        row("term_id beyond Latin-1", step + "send: {type4: min, term_id: \"9\u0101\"}\n",
            "5:33: term_id: character 2 (U+0101) is not one byte, and the wire carries one "
            "byte a character; write it as \\xHH bytes in a raw step");
        row("type5 word", step + "send: {type5: canned_aml}\n",
            "5:19: type5: \"canned_aml\" is neither canned, {file: NAME} nor a document's text "
            "(it has no \"<\")");
        row("type5 file missing", step + "send: {type5: {file: gone.xml}}\n",
            "5:26: gone.xml: cannot be read: <missing>");
        row("type4_file missing", step + "send: {type4_file: ../gone.x01}\n",
            "5:24: ../gone.x01: cannot be read: <missing>");
        row("type4_file a folder", step + "send: {type4_file: sub}\n",
            "5:24: sub: cannot be read: it is a folder");
        row("link without raw", step + "send: {type4: min, link: type5}\n",
            "5:24: link goes only with raw; the other sends imply their link");
        row("link unknown", step + "send: {raw: x, link: type6}\n",
            "5:26: link: \"type6\" is not type4 or type5");
        row("raw escape", step + "send: {raw: 'ab\\q'}\n",
            "5:17: raw: \"\\q\" at character 3 is not an escape: \\xHH (two hex digits) is a "
            "byte, \\\\ a backslash");
        row("split a number", step + "send: {raw: x, split: 3}\n",
            "5:27: split: expected a list of segment sizes in bytes ([3, 4]); this is a text");
        row("split empty", step + "send: {raw: x, split: []}\n",
            "5:27: split: expected a list of segment sizes in bytes ([3, 4]); this is an empty "
            "list");
        row("split of 0", step + "send: {raw: x, split: [3, 0]}\n",
            "5:31: split: \"0\" is not a whole number from 1 to 2147483647");
        row("gap without split", step + "send: {raw: x, gap: 5 ms}\n",
            "5:20: gap goes only with split: it is the time between segments");

        // Expects.
        row("unknown expect key", step + "send: {type4: min}\n    expect: {anser: ACK}\n",
            "6:14: unknown key \"anser\" in an expect; allowed here: answer, within, no_answer, "
            "closed, heartbeat");
        row("bad within", step + "send: {type4: min}\n    expect: {answer: ACK, within: 2 sec}\n",
            "6:35: within: \"2 sec\" is not a duration: write it as \"500 ms\" or \"2 s\", at most "
            "24 h");
        row("a line end in a value stays on the line",
            step + "send: {type4: min}\n    expect: {answer: ACK, within: \"2\\n\\x01s\"}\n",
            "6:35: within: \"2\\n\\x01s\" is not a duration: write it as \"500 ms\" or \"2 s\", at "
            "most 24 h");
        row("within a list", step + "send: {type4: min}\n    expect: {answer: ACK, within: [1]}\n",
            "6:35: within: expected a duration (\"500 ms\", \"2 s\"); this is a list");
        row("closed yes", step + "send: {type4: min}\n    expect: {closed: yes}\n",
            "6:22: closed: \"yes\" is not true or false");
        row("answer and no_answer",
            step + "send: {type4: min}\n    expect: {answer: A, no_answer: true}\n",
            "6:25: no_answer contradicts answer; keep one");
        row("expect of nothing", step + "send: {type4: min}\n    expect: {within: 1 s}\n",
            "6:13: an expect needs answer, no_answer, closed or heartbeat");
        row("expect of false", step + "expect: {heartbeat: false}\n",
            "5:13: an expect needs answer, no_answer, closed or heartbeat");
        row("heartbeat after a send", step + "send: {type4: min}\n    expect: {heartbeat: true}\n",
            "6:14: heartbeat goes in an expect without a send: it watches link 2 for the "
            "receiver's heartbeat");
        row("heartbeat and closed", step + "expect: {heartbeat: true, closed: true}\n",
            "5:14: heartbeat stands alone: no answer, no_answer or closed beside it");
        row("answer without a send", step + "expect: {answer: ACK}\n",
            "5:14: answer needs a send in the same step; an expect alone watches link 2 for "
            "heartbeat, no_answer or closed");
        row("answer not a pattern", step + "send: {type4: min}\n    expect: {answer: \"(ACK\"}\n",
            "6:22: answer: not a regular expression: missing closing parenthesis at character 5");
        row("answer beyond Latin-1",
            step + "send: {type4: min}\n    expect: {answer: \"\u00e9\u0151\"}\n",
            "6:22: answer: character 2 (U+0151) is not one byte, and the wire carries one byte a "
            "character; write it as \\xHH bytes in a raw step");

        // Captures.
        row("capture without expect", step + "send: {type4: min}\n    capture: {a: (x)}\n",
            "6:5: capture needs an expect with an answer in the same step, to take its groups "
            "from");
        row("capture without a group",
            step + "send: {type4: min}\n    expect: {answer: A}\n"
                   "    capture: {a: A+}\n",
            "7:18: a: the pattern has no group; what its first ( ) matches is captured");
        row("capture named like a var",
            "vars: {a: 1}\n" + step +
                "send: {type4: min}\n    expect: {answer: A}\n"
                "    capture: {a: (A)}\n",
            "8:15: \"a\" is already a var; a capture takes a name of its own");
        row("capture of no names",
            step + "send: {type4: min}\n    expect: {answer: A}\n"
                   "    capture: {}\n",
            "7:14: capture: name at least one capture (NAME: PATTERN)");
        row("capture in an expect alone", step + "expect: {closed: true}\n    capture: {a: (x)}\n",
            "6:5: capture needs a send and an answer in the same step");

        // Names.
        row("undefined name", step + "send: {type4: min, term_id: \"{{term}}\"}\n",
            "5:33: term_id: nothing defines {{term}}: it is no var, --set or earlier capture, "
            "and the plan has no data file");
        row("undefined name in a body", step + "send: {type4: \"3|{{ phone }}|\"}\n",
            "5:19: type4: nothing defines {{phone}}: it is no var, --set or earlier capture, and "
            "the plan has no data file");
        row("column the data file lacks",
            "data: {file: callers.csv}\n" + step + "send: {raw: \"{{surname}}\"}\n",
            "6:17: raw: nothing defines {{surname}}: it is no var, --set, earlier capture or "
            "column of callers.csv (phone, name, street)");
        row("capture used before it is made",
            step + "send: {raw: \"{{ack}}\"}\n  - send: {raw: x}\n"
                   "    expect: {answer: A}\n    capture: {ack: (A)}\n",
            "5:17: raw: nothing defines {{ack}}: it is no var, --set or earlier capture, and the "
            "plan has no data file");
        row("capture used in its own step",
            step + "send: {raw: x}\n    expect: {answer: "
                   "\"{{ack}}\"}\n    capture: {ack: (A)}\n",
            "6:22: answer: nothing defines {{ack}}: it is no var, --set or earlier capture, and "
            "the plan has no data file");
        row("bad random range", step + "send: {raw: \"{{random:9-1}}\"}\n",
            "5:17: raw: {{random:9-1}}: write random:LOW-HIGH, digits only (at most 18), LOW at "
            "most HIGH");
        row("unclosed template", step + "send: {type4: min, term_id: \"{{term\"}\n",
            "5:33: term_id: \"{{\" at character 1 is not closed with \"}}\"");
        row("template in a capture pattern",
            step + "send: {raw: x}\n    expect: {answer: A}\n"
                   "    capture: {a: \"({{b}})\"}\n",
            "7:18: a: nothing defines {{b}}: it is no var, --set or earlier capture, and the plan "
            "has no data file");

        // Repeats.
        row("repeat with count and duration",
            step + "repeat: {count: 2, duration: 1 s}\n"
                   "    steps: [{pause: 1 s}]\n",
            "5:24: a repeat has count or duration, not both");
        row("repeat of neither", step + "repeat: {rate: 2/s}\n    steps: [{pause: 1 s}]\n",
            "5:13: a repeat needs count (1 to 1000000) or duration");
        row("repeat count 0", step + "repeat: {count: 0}\n    steps: [{pause: 1 s}]\n",
            "5:21: count: \"0\" is not a whole number from 1 to 1000000");
        row("repeat bad rate",
            step + "repeat: {count: 2, rate: 20 per s}\n    steps: [{pause: 1 s}]\n",
            "5:30: rate: \"20 per s\" is not a rate: write it as \"20/s\" or \"1200/min\", more "
            "than 0 "
            "and at most 1000000/s");
        row("repeat without steps", step + "repeat: {count: 2}\n",
            "5:5: a repeat needs steps: beside it, the steps it repeats");
        row("repeat with no steps", step + "repeat: {count: 2}\n    steps: []\n",
            "6:12: steps: a repeat needs at least one step");
        row("repeat with steps inside", step + "repeat: {count: 2, steps: [{pause: 1 s}]}\n",
            "5:24: unknown key \"steps\" in a repeat; allowed here: count, duration, rate");
        row("repeat with expect",
            step + "repeat: {count: 2}\n    expect: {closed: true}\n"
                   "    steps: [{pause: 1 s}]\n",
            "6:5: expect goes with a send, not with repeat");
        // Nine repeats, each the only step of the one around it.
        const QByteArray open = "{repeat: {count: 1}, steps: [";
        row("repeats too deep",
            step + open.repeated(kMaxRepeatDepth + 1) + "{pause: 1 s}" +
                QByteArray("]}").repeated(kMaxRepeatDepth + 1) + "\n",
            "5:238: repeats nest at most 8 deep");

        // Targets for the links a plan uses.
        QTest::newRow("no type4 target")
            << QByteArray("targets: {type5: h:1}\ncases:\n- name: c\n  steps:\n  - expect: "
                          "{closed: true}\n  - send: {raw: x}\n")
            << u"plan.yaml:6:5: this step uses link 1 and the plan has no type4 target; add "
               u"targets: {type4: HOST:PORT} or --set type4=HOST:PORT"_s;
        QTest::newRow("no type5 target")
            << QByteArray("cases:\n- name: c\n  steps:\n  - expect: {no_answer: true}\n")
            << u"plan.yaml:4:5: this step uses link 2 and the plan has no type5 target; add "
               u"targets: {type5: HOST:PORT} or --set type5=HOST:PORT"_s;
    }

    void errors() {
        QFETCH(QByteArray, yaml);
        QFETCH(QString, error);
        QString problem;
        const std::optional<Plan> plan = planFrom(yaml, &problem);
        QVERIFY(!plan);
        QCOMPARE(problem, QString(error).replace(u"<missing>"_s, missingReason()));
        QVERIFY(!problem.contains(u'\n'));
    }

    void settings_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const QString &value, const char *error) {
            QTest::addRow("%s=%s", name, qPrintable(value))
                << QString::fromUtf8(name) << value << QString::fromUtf8(error);
        };
        row("type4", u"nohost"_s,
            "--set type4=nohost: expected HOST:PORT with a port from 1 to "
            "65535");
        row("type5", u"h:0"_s, "--set type5=h:0: expected HOST:PORT with a port from 1 to 65535");
        row("my var", u"1"_s,
            "--set my var=1: \"my var\" is not a var name: letters, digits, _, "
            "- and ., beginning with a letter or _, and not seq or now");
        row("now", u"1"_s,
            "--set now=1: \"now\" is not a var name: letters, digits, _, - and ., "
            "beginning with a letter or _, and not seq or now");
        row("term", u"\u0100"_s, "--set term=\u0100: character 1 (U+0100) is not one byte");
        row("term", u"{{seq}}"_s,
            "--set term={{seq}}: a var's value goes out as written and "
            "holds no {{name}}");
        row("phone", u"1"_s,
            "plan.yaml:2:14: file: callers.csv: the column \"phone\" has the "
            "name of a var; rename one");
    }

    void settings() {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, error);
        QString problem;
        QVERIFY(!planFrom(kTargets + "data: {file: callers.csv}\ncases: [{name: c, steps: "
                                     "[{send: {type4: min}}]}]\n",
                          &problem, {{name, value}}));
        QCOMPARE(problem, error);
    }

    // Inputs that could hang, crash or eat memory: each ends in one error line.
    void hostileInput_data() {
        QTest::addColumn<QByteArray>("yaml");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::newRow("deep nesting") << QByteArray(100'000, '[') << u"plan.yaml:1:"_s
                                      << u": not valid YAML: nested too deep"_s;
        QTest::newRow("NUL and control bytes")
            << QByteArray("cases:\0\x01\x02\xff\xfe[", 13) << u"plan.yaml:"_s << QString();
        QTest::newRow("tab indentation")
            << QByteArray("cases:\n\t- name: x\n") << u"plan.yaml:"_s << QString();
        // Ten repeats of ten repeats of ... eight deep: 10^8 pauses through aliases.
        QByteArray aliases = "targets: {type4: h:1}\ncases:\n- name: a\n  steps: &s0 [";
        for (int i = 0; i < 10; ++i)
            aliases += "{pause: 0 s},";
        aliases.chop(1);
        aliases += "]\n";
        for (int level = 1; level < kMaxRepeatDepth; ++level) {
            aliases += "- name: l" + QByteArray::number(level) + "\n  steps: &s" +
                       QByteArray::number(level) + " [";
            for (int i = 0; i < 10; ++i)
                aliases += "{repeat: {count: 1}, steps: *s" + QByteArray::number(level - 1) + "},";
            aliases.chop(1);
            aliases += "]\n";
        }
        QTest::newRow("alias bomb")
            << aliases << u"plan.yaml:"_s << u": more than 100000 steps in the plan"_s;
    }

    void hostileInput() {
        QFETCH(QByteArray, yaml);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QString problem;
        QVERIFY(!planFrom(yaml, &problem));
        QVERIFY2(problem.startsWith(start) && problem.endsWith(end), qPrintable(problem));
        QVERIFY(!problem.contains(u'\n'));
    }

    // Double-quoted YAML decodes \x41 itself, single-quoted and plain keep the
    // backslash: every form of a raw text ends as the same bytes.
    void rawQuoting_data() {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("double-quoted")
            << QByteArray(R"("\x41\x00\\\\|\xe9")") << QByteArray("A\0\\|\xe9", 5);
        QTest::newRow("single-quoted")
            << QByteArray(R"('\x41\x00\\|\xE9')") << QByteArray("A\0\\|\xe9", 5);
        QTest::newRow("plain") << QByteArray(R"(\x41\x00\\|\xe9)") << QByteArray("A\0\\|\xe9", 5);
        QTest::newRow("double-quoted UTF-8")
            << QByteArray("\"A\\0\\\\\\\\|\xc3\xa9\"") << QByteArray("A\0\\|\xe9", 5);
    }

    void rawQuoting() {
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, bytes);
        const Plan plan =
            goodPlan(kTargets + "cases: [{name: c, steps: [{send: {raw: " + written + "}}]}]\n");
        QCOMPARE(plan.cases.size(), 1);
        QString problem;
        QCOMPARE(decodeRawText(plan.cases[0].steps[0].send.text, &problem).value_or("?"), bytes);
    }

    void goodPlanReadBack() {
        const QByteArray yaml = R"yaml(# a comment
plan: Receiver acceptance
targets:
  type4: 127.0.0.1:7005
  type5: "[::1]:7018"
vars: {term: "999", phone_no: 0800123456, answer_word: NO, empty: ""}
data: {file: callers.csv, order: random}
defaults: {within: 2.5 s, on_failure: stop_case}
thresholds: {p99: 300 ms, max: 1 s, failures: 0}
seed: 7
cases:
  - name: Standard record, point MOLI
    steps:
      - send: {type4: standard, moli: point, term_id: "{{term}}"}
        expect: {answer: "^ACK", within: 500 ms}
  - name: A caller from the CSV
    steps:
      - send: {type4: "3|{{phone}}|{{ name }}|{{street}}|{{seq}}|{{random:100-999}}"}
        expect: {answer: ".+"}
        capture: {ack: "^(A)", rest: "(.*)"}
      - send: {type5: canned}
        expect: {answer: "{{ack}}", no_answer: false, closed: true}
  - name: Files and raw
    steps:
      - send: {type5: {file: doc.xml}}
      - send: {type5: "<doc>{{ack}}</doc>"}
      - send: {type4_file: sub/inner.x01, split: [3], gap: 0 s}
        on_failure: stop_plan
      - send: {raw: "999000X3|x", link: type5, split: [3, 4], gap: 50 ms}
        expect: {closed: true, within: 1 s}
  - name: A burst
    steps:
      - repeat: {count: 100, rate: 1200/min}
        steps:
          - repeat: {duration: 10 s}
            steps:
              - send: {type4: max, moli: none}
                expect: {answer: ACK, within: 200 ms}
      - pause: 1 s
      - expect: {heartbeat: true, within: 35 s}
      - expect: {no_answer: true}
        on_failure: continue
)yaml";
        const Plan plan = goodPlan(
            yaml, {{u"term"_s, u"123"_s}, {u"added"_s, u"x"_s}, {u"type4"_s, u"10.0.0.1:9005"_s}});
        QCOMPARE(plan.file, u"plan.yaml"_s);
        QCOMPARE(plan.name, u"Receiver acceptance"_s);
        QCOMPARE(plan.type4, (Endpoint{u"10.0.0.1"_s, 9005}));
        QCOMPARE(plan.type5, (Endpoint{u"::1"_s, 7018}));
        const QList<std::pair<QString, QString>> vars = {{u"term"_s, u"123"_s},
                                                         {u"phone_no"_s, u"0800123456"_s},
                                                         {u"answer_word"_s, u"NO"_s},
                                                         {u"empty"_s, QString()},
                                                         {u"added"_s, u"x"_s}};
        QCOMPARE(plan.vars, vars);
        QVERIFY(plan.data);
        QCOMPARE(plan.data->path, u"callers.csv"_s);
        QCOMPARE(plan.data->order, PlanData::Order::Random);
        QCOMPARE(plan.data->columns, (QStringList{u"phone"_s, u"name"_s, u"street"_s}));
        QCOMPARE(plan.data->rows,
                 (QList<QStringList>{{u"0800123456"_s, u"Alice"_s, u"1 High St, Town"_s},
                                     {u"0299998888"_s, u"Bob \"B\" Jr"_s, QString()}}));
        QCOMPARE(plan.defaultWithinUs, 2'500'000);
        QCOMPARE(plan.defaultOnFailure, OnFailure::StopCase);
        QCOMPARE(plan.thresholds.p99Us, 300'000);
        QCOMPARE(plan.thresholds.maxUs, 1'000'000);
        QVERIFY(!plan.thresholds.p50Us && !plan.thresholds.p90Us && !plan.thresholds.p95Us);
        QCOMPARE(plan.thresholds.failures, 0);
        QCOMPARE(plan.seed, 7u);
        QCOMPARE(plan.cases.size(), 4);

        const PlanCase &first = plan.cases[0];
        QCOMPARE(first.name, u"Standard record, point MOLI"_s);
        QCOMPARE(first.place, (PlanPlace{12, 5}));
        const Step &canned = first.steps[0];
        QCOMPARE(canned.kind, Step::Kind::Send);
        QCOMPARE(canned.place, (PlanPlace{14, 9}));
        QCOMPARE(canned.send.place, (PlanPlace{14, 9}));
        QCOMPARE(canned.send.kind, SendSpec::Kind::CannedType4);
        QCOMPARE(canned.send.canned, CannedRecord::Standard);
        QCOMPARE(canned.send.moliShape, kMoliPoint);
        QCOMPARE(canned.send.termId, u"{{term}}"_s);
        QCOMPARE(canned.send.link, PlanLink::Type4);
        QVERIFY(canned.expect);
        QCOMPARE(canned.expect->place, (PlanPlace{15, 9}));
        QCOMPARE(canned.expect->answer, u"^ACK"_s);
        QCOMPARE(canned.expect->withinUs, 500'000);
        QVERIFY(!canned.onFailure);

        const QList<Step> &csv = plan.cases[1].steps;
        QCOMPARE(csv[0].send.kind, SendSpec::Kind::InlineType4);
        QCOMPARE(csv[0].send.text,
                 u"3|{{phone}}|{{ name }}|{{street}}|{{seq}}|{{random:100-999}}"_s);
        QCOMPARE(csv[0].send.termId, u"999"_s);
        QVERIFY(!csv[0].send.moliShape);
        QVERIFY(!csv[0].expect->withinUs);
        QCOMPARE(csv[0].expect->captures.size(), 2);
        QCOMPARE(csv[0].expect->captures[0].name, u"ack"_s);
        QCOMPARE(csv[0].expect->captures[0].pattern, u"^(A)"_s);
        QCOMPARE(csv[0].expect->captures[1].name, u"rest"_s);
        QCOMPARE(csv[1].send.kind, SendSpec::Kind::CannedType5);
        QCOMPARE(csv[1].send.link, PlanLink::Type5);
        QCOMPARE(csv[1].expect->answer, u"{{ack}}"_s);
        QVERIFY(csv[1].expect->closed && !csv[1].expect->noAnswer && !csv[1].expect->heartbeat);

        const QList<Step> &files = plan.cases[2].steps;
        QCOMPARE(files[0].send.kind, SendSpec::Kind::FileType5);
        QCOMPARE(files[0].send.path, u"doc.xml"_s);
        QVERIFY(!files[0].expect);
        QCOMPARE(files[1].send.kind, SendSpec::Kind::InlineType5);
        QCOMPARE(files[1].send.text, u"<doc>{{ack}}</doc>"_s);
        QCOMPARE(files[2].send.kind, SendSpec::Kind::FileType4);
        QCOMPARE(files[2].send.path, u"sub/inner.x01"_s);
        QCOMPARE(files[2].onFailure, OnFailure::StopPlan);
        QCOMPARE(files[3].send.kind, SendSpec::Kind::Raw);
        QCOMPARE(files[3].send.link, PlanLink::Type5);
        QCOMPARE(files[3].send.split, (QList<int>{3, 4}));
        QCOMPARE(files[3].send.gapUs, 50'000);
        QCOMPARE(files[3].expect->withinUs, 1'000'000);

        const QList<Step> &burst = plan.cases[3].steps;
        QCOMPARE(burst.size(), 4);
        QCOMPARE(burst[0].kind, Step::Kind::Repeat);
        QCOMPARE(burst[0].repeat.count, 100);
        QVERIFY(!burst[0].repeat.durationUs);
        QCOMPARE(burst[0].repeat.perSecond, 20.0);
        const Step &inner = burst[0].repeat.steps.at(0);
        QCOMPARE(inner.kind, Step::Kind::Repeat);
        QCOMPARE(inner.repeat.durationUs, 10'000'000);
        QCOMPARE(inner.repeat.perSecond, 0.0);
        QCOMPARE(inner.repeat.steps.at(0).send.canned, CannedRecord::Max);
        QCOMPARE(inner.repeat.steps.at(0).send.moliShape, kMoliNone);
        QCOMPARE(inner.repeat.steps.at(0).place, (PlanPlace{37, 17}));
        QCOMPARE(burst[1].kind, Step::Kind::Pause);
        QCOMPARE(burst[1].pauseUs, 1'000'000);
        QCOMPARE(burst[2].kind, Step::Kind::Expect);
        QVERIFY(burst[2].expect->heartbeat);
        QCOMPARE(burst[2].expect->withinUs, 35'000'000);
        QCOMPARE(burst[3].kind, Step::Kind::Expect);
        QVERIFY(burst[3].expect->noAnswer);
        QCOMPARE(burst[3].onFailure, OnFailure::Continue);
    }

    // What a plan leaves out, and paths taken from the plan's own folder.
    void defaultsAndFolders() {
        writeFile(u"sub/plan.yaml"_s, kTargets + "cases:\n- name: c\n  steps:\n  - send: "
                                                 "{type4_file: inner.x01}\n  - send: {type4_file: "
                                                 "../ipnd3.x01}\n");
        QString problem;
        const std::optional<Plan> plan = readPlan(u"sub/plan.yaml"_s, {}, &problem);
        QVERIFY2(plan, qPrintable(problem));
        QCOMPARE(plan->name, u"plan"_s);
        QCOMPARE(plan->file, u"sub/plan.yaml"_s);
        QCOMPARE(plan->cases[0].steps[0].send.path, u"sub/inner.x01"_s);
        QCOMPARE(plan->cases[0].steps[1].send.path, u"ipnd3.x01"_s);
        QCOMPARE(plan->defaultWithinUs, Plan::kDefaultWithinUs);
        QCOMPARE(plan->defaultOnFailure, OnFailure::Continue);
        QCOMPARE(plan->seed, 1u);
        QVERIFY(!plan->data && plan->vars.isEmpty());
        QVERIFY(!plan->thresholds.p99Us && !plan->thresholds.failures);
        // A plan elsewhere names its errors by the path it was given.
        writeFile(u"sub/broken.yaml"_s, "cases: 1\n");
        QVERIFY(!readPlan(u"sub/broken.yaml"_s, {}, &problem));
        QCOMPARE(problem, u"sub/broken.yaml:1:8: cases: expected a list of cases (\"- name: "
                          u"...\"); this is a text"_s);
    }

    // A capture names a value for every case after its own.
    void captureReachesLaterCases() {
        const Plan plan = goodPlan(kTargets + "cases:\n- name: a\n  steps:\n  - send: {raw: x}\n"
                                              "    expect: {answer: A}\n    capture: {ack: "
                                              "(A)}\n- name: b\n  steps:\n  - send: {raw: "
                                              "\"{{ack}}\"}\n");
        QCOMPARE(plan.cases.size(), 2);
        QCOMPARE(plan.cases[1].steps[0].send.text, u"{{ack}}"_s);
    }
};

QTEST_GUILESS_MAIN(TestPlanFile)
#include "tst_planfile.moc"
