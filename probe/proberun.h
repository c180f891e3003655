// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QIODevice;

// True when talvgen-cli's first argument is "probe".
bool isProbeCommand(int argc, char *argv[]);

// `talvgen-cli probe ...`: checks the options (exit 2 for bad usage), checks the
// receiver is alive, sends each case with a liveness check after it, prints a
// line per case and the summary by family (on Ctrl-C too), writes the reports;
// returns the exit status.
int runProbe(const QStringList &arguments, QIODevice &out, QIODevice &err);

// The whole program for `talvgen-cli probe ...`, from main().
int probeMain(int argc, char *argv[]);
