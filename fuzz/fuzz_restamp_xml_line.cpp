// SPDX-License-Identifier: GPL-3.0-or-later
// restampXmlLine: a line is replaced whole exactly when isRestampedXmlLine
// says so, and a replaced line is one element holding the moment.
#include "fuzzsupport.h"
#include "xmlrestamp.h"

#include <QDateTime>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the moment, so that every hour and minute is met.
    const QDateTime now =
        QDateTime(QDate(2026, 12, 5), QTime(0, 0), Qt::UTC).addSecs(qint64(data[0]) * 3607);
    const QByteArray line = bytesOf(data + 1, size - 1);
    const QByteArray result = restampXmlLine(line, now);
    if (!isRestampedXmlLine(line)) {
        require(result == line, "a line not restamped stays as it was");
        return 0;
    }
    require(result.startsWith('<') && result.endsWith('>') && result.count('<') == 2,
            "a restamped line is one element");
    require(!result.contains('\r') && !result.contains('\n'), "a restamped line is one line");
    require(restampXmlLine(result, now) == result, "restamping twice changes nothing more");
    return 0;
}
