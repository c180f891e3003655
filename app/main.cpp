// SPDX-License-Identifier: GPL-3.0-or-later
#include "displaycheck.h"
#include "frmipndzandrel.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[]) {
    const QString noDisplay = missingDisplay();
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr,
                     "talvgen: the window needs a display (%s); talvgen-cli runs without one\n",
                     noDisplay.toLocal8Bit().constData());
        return 1;
    }
    // Qt would take its own options (-reverse, -style, -platform ...) out of the command
    // line; every token the operator typed belongs to the window's fields, in order. The
    // platform plugin still comes from QT_QPA_PLATFORM.
    int qtArgumentCount = 1;
    QApplication app(qtArgumentCount, argv);
    QStringList tokens;
    for (int i = 1; i < argc; ++i)
        tokens << QString::fromLocal8Bit(argv[i]);
    frmIPNDZandrel window;
    window.Form_Load(tokens.join(QLatin1Char(' ')));
    return app.exec();
}
