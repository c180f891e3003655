// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QIODevice;

// True when talvgen-cli's first argument is "load".
bool isLoadCommand(int argc, char *argv[]);

// `talvgen-cli load`: parses the options, runs the engine on the event loop
// until the arrivals are over, Ctrl-C or SIGTERM, prints a status line each
// second and the summary, writes the reports; returns the exit status.
// terminal: out is a terminal, so the status line is redrawn in place.
int runLoad(const QStringList &arguments, QIODevice &out, QIODevice &err, bool terminal);

// The whole program for `talvgen-cli load ...`, from main().
int loadMain(int argc, char *argv[]);
