// SPDX-License-Identifier: GPL-3.0-or-later
#include "reportfiles.h"

#include "csvwriter.h"
#include "junitreport.h"

bool createReportFiles(CsvWriter &csv, const QString &csvFile, const QStringList &csvHeader,
                       const QString &junitFile, QString *problem) {
    QString why;
    if (!csvFile.isEmpty() && !csv.open(csvFile, csvHeader, &why)) {
        *problem = QStringLiteral("cannot create %1: %2").arg(csvFile, why);
        return false;
    }
    if (!junitFile.isEmpty() && !writeJunitFile(junitFile, {}, &why)) {
        *problem = QStringLiteral("cannot create %1: %2").arg(junitFile, why);
        return false;
    }
    return true;
}
