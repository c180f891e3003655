// SPDX-License-Identifier: GPL-3.0-or-later
// The robustness probe against talvrecv (its own process, on 127.0.0.1): cases a
// second, each with its liveness check, in the families that do not wait on
// purpose, all together and one family at a time.
//
//   bench_probe_rate [--cases N (default 1000)]

#include "probecase.h"
#include "proberun.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// The families whose cases take no time by design.
QStringList quickFamilies() {
    QStringList quick;
    for (const QString &family : probeFamilies()) {
        bool waits = false;
        for (qint64 k = 0; k < 20 && !waits; ++k)
            waits = probeCase({family}, 1, k)->waitsOnPurpose();
        if (!waits)
            quick << family;
    }
    return quick;
}

double casesPerSecond(quint16 type4, quint16 type5, const QStringList &families, int cases,
                      const QString &out, bool *passed) {
    QStringList arguments{QStringLiteral("talvgen-cli"), QStringLiteral("probe"),
                          QStringLiteral("--type4"),     QStringLiteral("127.0.0.1:%1").arg(type4),
                          QStringLiteral("--type5"),     QStringLiteral("127.0.0.1:%1").arg(type5),
                          QStringLiteral("--cases"),     QString::number(cases),
                          QStringLiteral("--out"),       out};
    for (const QString &family : families)
        arguments << QStringLiteral("--only") << family;
    QBuffer printed;
    QBuffer errors;
    printed.open(QIODevice::WriteOnly);
    errors.open(QIODevice::WriteOnly);
    QElapsedTimer clock;
    clock.start();
    *passed = runProbe(arguments, printed, errors) == 0;
    return cases / (double(clock.nsecsElapsed()) / 1e9);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("cases"), QStringLiteral("Cases per measurement."),
                      QStringLiteral("N"), QStringLiteral("1000")});
    parser.process(app);
    const int cases = parser.value(QStringLiteral("cases")).toInt();

    QProcess talvrecv;
    talvrecv.setProgram(QStringLiteral(TALVRECV_PATH));
    talvrecv.setArguments({QStringLiteral("--type4-port"), QStringLiteral("0"),
                           QStringLiteral("--type5-port"), QStringLiteral("0"),
                           QStringLiteral("--quiet")});
    talvrecv.start();
    if (!talvrecv.waitForReadyRead(10'000)) {
        std::fprintf(stderr, "bench_probe_rate: talvrecv did not start\n");
        return 1;
    }
    const QString line = QString::fromLocal8Bit(talvrecv.readLine());
    const QRegularExpressionMatch ports =
        QRegularExpression(QStringLiteral("Type 4 on \\S+ port (\\d+), Type 5 on \\S+ port (\\d+)"))
            .match(line);
    if (!ports.hasMatch()) {
        std::fprintf(stderr, "bench_probe_rate: no ports in \"%s\"\n", qPrintable(line));
        return 1;
    }
    const quint16 type4 = quint16(ports.captured(1).toUInt());
    const quint16 type5 = quint16(ports.captured(2).toUInt());
    QTemporaryDir out;
    const QStringList quick = quickFamilies();
    std::printf(
        "talvgen-cli probe against talvrecv, %d cases per line, liveness check after each\n",
        cases);
    bool passed = false;
    const double all = casesPerSecond(type4, type5, quick, cases, out.path(), &passed);
    std::printf("%-20s %8.0f cases/s  %s\n", "quick families", all, passed ? "PASS" : "FAIL");
    for (const QString &family : quick) {
        const double rate = casesPerSecond(type4, type5, {family}, cases / 4, out.path(), &passed);
        std::printf("%-20s %8.0f cases/s  %s\n", qPrintable(family), rate,
                    passed ? "PASS" : "FAIL");
    }
    talvrecv.terminate();
    talvrecv.waitForFinished(5000);
    return 0;
}
