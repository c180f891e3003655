#pragma once

#include "frmipndzandrel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <memory>

// Option buttons stretch across their layout cell; click on their caption.
inline void clickOption(QAbstractButton *button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

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

// The five canned Type 4 buttons, in the panel's order.
using ButtonMember = QPushButton *frmIPNDZandrel::*;
inline constexpr ButtonMember kCannedButtons[] = {
    &frmIPNDZandrel::cmdStandard, &frmIPNDZandrel::cmdNoAdd, &frmIPNDZandrel::cmdLongAdd,
    &frmIPNDZandrel::cmdMinAdd, &frmIPNDZandrel::cmdMaxAdd};

inline const QString kNoMarker = QStringLiteral("/nonexistent/development.txt");
inline const QString kNoFolder = QStringLiteral("/nonexistent");

struct WindowFixture {
    std::shared_ptr<FakeFileDialog> dialog = std::make_shared<FakeFileDialog>();
    QStringList messageBoxes;
    QDateTime now = QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3));
    std::unique_ptr<frmIPNDZandrel> window;

    explicit WindowFixture(const QString &commandLine = {}, const QString &marker = kNoMarker,
                           const QString &folder = kNoFolder) {
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
    void setRow(int row, const QString &port, bool enabled) {
        w().txbAddress[row]->setText(QStringLiteral("127.0.0.1"));
        w().txbPort[row]->setText(port);
        w().chkEnable[row]->setChecked(enabled);
    }
    void setPeriod(int ticks) {
        w().PktPer->setText(QString::number(ticks));
        w().PktPer_LostFocus();
    }
    // The data file records the cycle has sent, as logged.
    QByteArrayList sentBodies() const {
        QByteArrayList bodies;
        for (const QString &line : logLines())
            if (line.startsWith(QLatin1String("RSFP: Data Sent: ")))
                bodies << line.mid(17).toLatin1();
        return bodies;
    }
};
