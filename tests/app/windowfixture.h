// SPDX-License-Identifier: GPL-3.0-or-later
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

// A file dialog that answers with a prepared path and keeps the titles it was shown with.
struct FakeFileDialog : FileDialog {
    QString answer;
    QStringList titles;
    QString showOpen(QWidget *, const QString &title, const QString &, const QString &) override {
        titles << title;
        return answer;
    }
};

// The five canned Type 4 buttons, in the panel's order.
using ButtonMember = QPushButton *frmIPNDZandrel::*;
inline constexpr ButtonMember kCannedButtons[] = {
    &frmIPNDZandrel::cmdStandard, &frmIPNDZandrel::cmdNoAdd, &frmIPNDZandrel::cmdLongAdd,
    &frmIPNDZandrel::cmdMinAdd, &frmIPNDZandrel::cmdMaxAdd};

// The window as loaded with the command line; its file dialog answers as a
// test prepares it, message boxes are not shown.
struct WindowFixture {
    std::shared_ptr<FakeFileDialog> dialog = std::make_shared<FakeFileDialog>();
    std::unique_ptr<frmIPNDZandrel> window;

    explicit WindowFixture(const QString &commandLine = {}) {
        frmIPNDZandrel::Platform platform;
        platform.fileDialog = dialog;
        platform.messageBox = [](const QString &, const QString &) {
        };
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
