// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>

class QWidget;

// The file-open dialog as the system sees it: a title, an initial name and
// the filter entries; it returns the chosen path, or the initial name when
// the operator cancels. Tests install their own.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    // filterText lists description|pattern|description|pattern...
    virtual QString showOpen(QWidget *parent, const QString &title, const QString &initialName,
                             const QString &filterText) = 0;
};

class QtFileDialog : public FileDialog {
public:
    QString showOpen(QWidget *parent, const QString &title, const QString &initialName,
                     const QString &filterText) override;
};

// The start-up message box (text, caption); tests install their own.
using MessageBox = std::function<void(const QString &text, const QString &caption)>;
MessageBox qtMessageBox(QWidget *parent);

// True when a directory search for the path finds an entry; false for every
// failure. Attribute mask 0 asks for normal files.
bool FileExists(const QString &path, int attributes = 0);
