// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// talvrecv's whole run: reads the command line, listens, prints a line per
// frame, document or heartbeat until --duration, SIGINT or SIGTERM ends it,
// then the summary. Returns the exit status: 0 all valid, 1 something was
// not, 2 usage error or a port that cannot be had. Needs a
// QCoreApplication.
int runReceiverApp(const QStringList &arguments);
