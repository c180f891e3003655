// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform.h"

#include "systempaths.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

// "Data file (*.x01)|*.x01|All (*.*)|*.*" becomes Qt's "Data file (*.x01);;All (*)".
QString qtFilter(const QString &filterText) {
    const QStringList parts = filterText.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*"); // *.* means every file, dotted or not, on every system
        QString description = parts[i];
        const qsizetype paren = description.indexOf(QLatin1Char('('));
        if (paren > 0)
            description = description.left(paren).trimmed();
        entries << QStringLiteral("%1 (%2)").arg(description, pattern);
    }
    return entries.join(QLatin1String(";;"));
}

} // namespace

QString QtFileDialog::showOpen(QWidget *parent, const QString &title, const QString &initialName,
                               const QString &filterText) {
    const QFileInfo initial(fileSystemPath(initialName));
    const QString chosen =
        QFileDialog::getOpenFileName(parent, title, initial.absolutePath(), qtFilter(filterText));
    return chosen.isEmpty() ? initialName : shownPath(chosen);
}

MessageBox qtMessageBox(QWidget *parent) {
    return [parent](const QString &text, const QString &caption) {
        QMessageBox::information(parent, caption, text, QMessageBox::Ok);
    };
}

bool FileExists(const QString &path, int attributes) {
    if (path.isEmpty() || path.contains(QLatin1Char('*')) || path.contains(QLatin1Char('?')))
        return false;
    const QFileInfo info(fileSystemPath(path));
    if (!info.exists())
        return false;
    // Mask 0 finds normal files only; folders need their attribute in the mask.
    constexpr int kDirectoryAttribute = 16;
    return info.isFile() || (info.isDir() && (attributes & kDirectoryAttribute));
}
