// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class CsvWriter;

// The report files a run was asked for, made before it sends anything, so that
// one that cannot be written stops the run first: the CSV with its header (kept
// open in csv) and an empty JUnit report for the end of the run to fill. An
// empty name asks for no file. False, with "cannot create FILE: WHY" in
// *problem, when one cannot be made.
bool createReportFiles(CsvWriter &csv, const QString &csvFile, const QStringList &csvHeader,
                       const QString &junitFile, QString *problem);
