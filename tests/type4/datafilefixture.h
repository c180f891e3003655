#pragma once

#include "ipnddatafile.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

inline QString sample(const char *name) {
    return QStringLiteral(TALVGEN_SOURCE_DIR "/samples/") + QLatin1String(name);
}

// Bytes of every value in no particular order, the same on every run.
inline QByteArray pseudoRandomBytes(qsizetype count) {
    QByteArray bytes(count, Qt::Uninitialized);
    quint32 seed = 12345;
    for (char &byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = char(seed >> 24);
    }
    return bytes;
}

// A fresh data file object whose log lines and displayed names are kept for
// the test to compare, and a scratch folder to write data files into.
struct DataFileFixture {
    QTemporaryDir dir;
    QStringList logLines;
    QStringList shownNames;
    IpndDataFile file{[this](const QString &line) { logLines << line; },
                      [this](const QString &name) {
                          shownNames << name;
                      }};

    QString path(const QString &name) const { return dir.filePath(name); }

    QString write(const QString &name, const QByteArray &content) const {
        QFile out(path(name));
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            qFatal("cannot write test file");
        return out.fileName();
    }

    // Writes the lines with CR LF and opens them as the data file.
    QString openLines(const QList<QByteArray> &lines) {
        const QString name = write(QStringLiteral("data.x01"), lines.join("\r\n") + "\r\n");
        file.OpenDataFile(name);
        logLines.clear();
        shownNames.clear();
        return name;
    }

    QStringList takeLog() {
        QStringList lines = logLines;
        logLines.clear();
        return lines;
    }
};
