#pragma once

#include "frmipndzandrel.h"

#include <QStringList>
#include <memory>

// A file dialog that answers with a prepared path (or the initial name, as a cancel does).
class FakeFileDialog : public FileDialog {
public:
    QString answer;
    bool cancel = false;
    QStringList calls;
    QString showOpen(QWidget *, const QString &title, const QString &initialName,
                     const QString &filterText) override {
        calls << title + QLatin1Char('|') + initialName + QLatin1Char('|') + filterText;
        return cancel ? initialName : answer;
    }
};

struct WindowFixture {
    std::shared_ptr<FakeFileDialog> dialog = std::make_shared<FakeFileDialog>();
    QStringList messageBoxes;
    QDateTime now = QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3));
    std::unique_ptr<frmIPNDZandrel> window;

    explicit WindowFixture(const QString &commandLine = {},
                           const QString &marker = QStringLiteral("/nonexistent/development.txt"),
                           const QString &folder = QStringLiteral("/nonexistent")) {
        frmIPNDZandrel::Platform platform;
        platform.fileDialog = dialog;
        platform.messageBox = [this](const QString &text, const QString &caption) {
            messageBoxes << caption + QLatin1Char('|') + text;
        };
        platform.clock = [this] {
            return now;
        };
        platform.developmentMarker = marker;
        platform.developmentFolder = folder;
        window = std::make_unique<frmIPNDZandrel>(platform);
        window->Form_Load(commandLine);
    }

    frmIPNDZandrel &w() { return *window; }
    // Log lines oldest first.
    QStringList logLines() const {
        QStringList lines = window->logText().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        std::reverse(lines.begin(), lines.end());
        return lines;
    }
};
