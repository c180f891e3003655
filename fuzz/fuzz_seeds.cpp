// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed inputs of every fuzz target into a folder per target,
// made from the canned records and the files in samples/, so that the
// repository keeps only the regression inputs found by fuzzing.
//
//   fuzz_seeds OUTPUT_FOLDER
#include "amllayout.h"
#include "cannedrecords.h"
#include "ipnddatafile.h"
#include "type4frame.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

QString g_root;

void write(const char *target, const QString &name, const QByteArray &bytes) {
    QDir().mkpath(g_root + QLatin1Char('/') + QLatin1String(target));
    QFile file(g_root + QLatin1Char('/') + QLatin1String(target) + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
}

QByteArray sample(const char *name) {
    QFile file(QStringLiteral(TALVGEN_SOURCE_DIR "/samples/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "fuzz_seeds: cannot read samples/%s\n", name);
        std::exit(1);
    }
    return file.readAll();
}

// Every canned record, with and without each MOLI record.
QList<QByteArray> cannedFrames() {
    QList<QByteArray> frames;
    const auto moli = cannedMoliRecords();
    for (const CannedRecord which : kCannedRecords) {
        frames << frameCannedRecord("999", cannedIpndRecord(which), false);
        for (const int shape : {kMoliPoint, kMoliPolygon, kMoliFull})
            frames << frameCannedRecord("999", cannedIpndRecord(which) + moli[size_t(shape)], true);
    }
    return frames;
}

// The bodies the RAWLOG sample holds, framed as the data-file sender frames them.
QList<QByteArray> fileFrames() {
    QList<QByteArray> frames;
    IpndDataFile file([](const QString &) {}, [](const QString &) {});
    file.OpenDataFile(QStringLiteral(TALVGEN_SOURCE_DIR "/samples/ipnd3.x01"));
    for (int i = 0; i < 6; ++i)
        if (file.ReadRawLogRecord())
            frames << frameFileRecord(file.gDataRecord);
    return frames;
}

QByteArray uncut(const QByteArray &payload) {
    return QByteArray(1, '\0') + payload;
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTPUT_FOLDER\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);
    const QList<QByteArray> canned = cannedFrames();
    const QList<QByteArray> fromFile = fileFrames();
    const QByteArray answer = QByteArrayLiteral("\x02\x06\x03");
    const QByteArray document = cannedAmlDocument();
    const QByteArray amlSample = sample("aml.xml");

    int n = 0;
    const auto name = [&n] {
        return QStringLiteral("seed-%1").arg(++n, 3, 10, QLatin1Char('0'));
    };
    for (const QByteArray &frame : canned + fromFile) {
        write("fuzz_type4_body", name(), frame);
        write("fuzz_type4_body", name(), frame.sliced(7)); // the body
        write("fuzz_connection_stream", name(), uncut(frame));
    }
    // Frames back to back, cut in two reads; heartbeat answers first.
    write("fuzz_connection_stream", name(),
          QByteArray("\x01\x20\x00", 3) + answer + canned[0] + canned[1] + fromFile.value(0));
    write("fuzz_connection_stream", name(), uncut(answer + document + answer + amlSample));
    write("fuzz_connection_stream", name(), QByteArray("\x12\x10\x00", 3) + document + document);
    write("fuzz_connection_stream", name(), uncut(canned[0].first(20)));

    for (const QByteArray &text : {document, amlSample, document + document, document.first(900)})
        write("fuzz_aml_document", name(), text);

    for (const QByteArray &line : amlSample.split('\n'))
        if (line.startsWith("<Date_Sent>") || line.startsWith("<Time_Sent>") ||
            line.startsWith("<AML_Time_of_Positioning_TOP>") || line.startsWith("<CLI_Data"))
            write("fuzz_restamp_xml_line", name(), QByteArray(1, '\x07') + line.trimmed());

    for (const char *file : {"ipnd3.x01", "refusals.x01", "multipkt.x01"})
        for (char mode : {'\0', '\x01', '\x02'})
            write("fuzz_data_file", name(), QByteArray(1, mode) + sample(file));

    for (const char *line : {"8000 127.0.0.1 1 8001 127.0.0.1 0 5 Lab1- True ipnd3.x01",
                             "7005\t127.0.0.1\tTRUE 7018 ::1 -1 +32768 X yes a b c",
                             "  1e3 x 0.0 y z nan 99999999999 T False"})
        write("fuzz_command_line", name(), QByteArray(line));
    std::printf("fuzz_seeds: %d seeds in %s\n", n, argv[1]);
    return 0;
}
