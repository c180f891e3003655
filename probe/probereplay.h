// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "probecase.h"

#include <QByteArray>
#include <QString>

#include <optional>

// A failed case kept to be sent again exactly: a JSON file with its family,
// seed and number, what it does to the connection, and each write's bytes
// (in hex) with the wait before it.
QByteArray replayDocument(const ProbeCase &probe);
bool writeReplayFile(const QString &path, const ProbeCase &probe, QString *error);
// The case a replay file holds; unset with what is wrong ("FILE: ...").
std::optional<ProbeCase> readReplayFile(const QString &path, QString *error);
std::optional<ProbeCase> readReplayDocument(const QByteArray &json, QString *error);
