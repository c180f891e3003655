// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

// The JUnit report every mode writes: one testsuite inside testsuites, a
// testcase per thing judged. Counts are taken from the cases, so a report can
// never say more passed than it holds.
struct JunitCase {
    enum class Verdict { Passed, Failure, Error, Skipped };
    QString classname;
    QString name;
    QString time; // seconds, as the mode words it
    Verdict verdict = Verdict::Passed;
    QString type;      // the failure's or error's type attribute; none when empty
    QString message;   // why it failed or was skipped
    QString detail;    // the failure's or error's text
    QString systemOut; // none when empty
};

struct JunitSuite {
    QString name;
    QString time; // seconds
    QList<std::pair<QString, QString>> properties;
    QList<JunitCase> cases;
    QString systemOut; // the suite's own; none when empty
};

QByteArray junitDocument(const JunitSuite &suite);

// Writes the document whole through a temporary file, so that the file on disk
// is always a complete report; false with the system's reason.
bool writeJunitFile(const QString &path, const QByteArray &document, QString *error);

// XML 1.0 has no place for most control characters, and a log line may hold
// them: each is shown as <XX>.
QString xmlSafe(const QString &text);
