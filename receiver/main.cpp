// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiverapp.h"

#include <QCoreApplication>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talvrecv"));
    return runReceiverApp(QCoreApplication::arguments());
}
