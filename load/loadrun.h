// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <functional>

class QIODevice;

// True when talvgen-cli's first argument is "load".
bool isLoadCommand(int argc, char *argv[]);

// Where the status line goes: on a terminal it is redrawn in place, cut to
// the terminal's width, which is asked again each second (the window may be
// resized); elsewhere a line is printed a second, whole.
struct StatusConsole {
    bool terminal = false;
    // The terminal's width in columns now; unset, or 0 when the system
    // cannot tell: the COLUMNS environment variable, else 80.
    std::function<int()> columns;
};

// `talvgen-cli load`: parses the options, runs the engine on the event loop
// until the arrivals are over, Ctrl-C or SIGTERM, prints a status line each
// second and the summary, writes the reports; returns the exit status.
int runLoad(const QStringList &arguments, QIODevice &out, QIODevice &err,
            const StatusConsole &console = {});

// The whole program for `talvgen-cli load ...`, from main().
int loadMain(int argc, char *argv[]);
