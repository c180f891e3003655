// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostlookup.h"

#include <QHostInfo>

std::optional<QHostAddress> lookUpHost(const QString &host, QString *problem) {
    QHostAddress address;
    if (address.setAddress(host))
        return address;
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        *problem = QStringLiteral("cannot find host \"%1\": %2").arg(host, info.errorString());
        return std::nullopt;
    }
    return info.addresses().constFirst();
}
