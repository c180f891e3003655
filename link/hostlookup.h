// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

// The address to connect to, looked up once before a run: an address as
// written, else the first the name resolves to; unset with the reason
// ("cannot find host "x": ...").
std::optional<QHostAddress> lookUpHost(const QString &host, QString *problem);
