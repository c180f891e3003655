// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

// A file-name box: a click, Enter, Space or the accessible Press action opens
// its file dialog.
class ClickableLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit ClickableLineEdit(QWidget *parent = nullptr);

signals:
    void activated();

protected:
    void mousePressEvent(QMouseEvent *event) override {
        QLineEdit::mousePressEvent(event);
        if (event->button() == Qt::LeftButton)
            emit activated();
    }
    void keyPressEvent(QKeyEvent *event) override {
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            emit activated();
            return;
        default:
            QLineEdit::keyPressEvent(event);
        }
    }
};
