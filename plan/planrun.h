// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QIODevice;

// True when talvgen-cli's first argument is "plan".
bool isPlanCommand(int argc, char *argv[]);

// `talvgen-cli plan FILE ...`: reads and checks the plan (an error in it is one
// line, FILE:LINE:COLUMN: ..., and exit 2, before anything is sent), runs it on
// the event loop until its end, Ctrl-C or SIGTERM, prints a line per step, a line
// per case and the plan's summary, writes the reports; returns the exit status.
int runPlan(const QStringList &arguments, QIODevice &out, QIODevice &err);

// The whole program for `talvgen-cli plan ...`, from main().
int planMain(int argc, char *argv[]);
