// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiverapp.h"

#include <QCoreApplication>

#define TALVGEN_STRINGIFY2(x) #x
#define TALVGEN_STRINGIFY(x) TALVGEN_STRINGIFY2(x)

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talvrecv"));
    QCoreApplication::setApplicationVersion(
        QStringLiteral(TALVGEN_STRINGIFY(TALVGEN_VERSION_MAJOR) "." TALVGEN_STRINGIFY(
            TALVGEN_VERSION_MINOR) "." TALVGEN_STRINGIFY(TALVGEN_VERSION_PATCH)));
    return runReceiverApp(QCoreApplication::arguments());
}
