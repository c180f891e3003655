// SPDX-License-Identifier: GPL-3.0-or-later
#include "clickablelineedit.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QTimer>

namespace {

// What assistive technology sees of a file-name box: a read-only text with
// its file name, and a Press action that opens the dialog as a click does.
// Qt's own line-edit interface offers no Press action, so this one stands in
// for it, text interface included, so screen readers still read the name.
class FileNameBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit FileNameBoxAccessible(ClickableLineEdit *box)
        : QAccessibleWidget(box, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return box()->text();
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = box()->isReadOnly();
        state.editable = !box()->isReadOnly();
        return state;
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (box()->isEnabled())
            names.prepend(pressAction());
        return names;
    }
    QStringList keyBindingsForAction(const QString &action) const override {
        if (action == pressAction())
            return {QStringLiteral("Return"), QStringLiteral("Space")};
        return QAccessibleWidget::keyBindingsForAction(action);
    }
    void doAction(const QString &action) override {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (!box()->isEnabled())
            return;
        // Later, as a button's animated click is: the dialog is modal, and the
        // caller of the action must not wait until it closes.
        QTimer::singleShot(0, box(), [box = QPointer<ClickableLineEdit>(box())] {
            if (box)
                emit box->activated();
        });
    }

    // Text interface, over the box's text.
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && box()->hasSelectedText()) {
            *startOffset = box()->selectionStart();
            *endOffset = box()->selectionEnd();
        }
    }
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int) override { box()->deselect(); }
    void setSelection(int, int startOffset, int endOffset) override {
        box()->setSelection(startOffset, endOffset - startOffset);
    }
    int cursorPosition() const override { return box()->cursorPosition(); }
    void setCursorPosition(int position) override { box()->setCursorPosition(position); }
    QString text(int startOffset, int endOffset) const override {
        return box()->text().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(box()->text().size()); }
    QRect characterRect(int offset) const override {
        const QString text = box()->text();
        if (offset < 0 || offset >= text.size())
            return {};
        // Measured from the text's left edge; a scrolled box is not accounted for.
        const QFontMetrics metrics = box()->fontMetrics();
        const QRect area = box()->contentsRect().marginsRemoved(box()->textMargins());
        const int x = area.left() + metrics.horizontalAdvance(text.left(offset));
        const QRect local(x, area.top(), metrics.horizontalAdvance(text.at(offset)), area.height());
        return QRect(box()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint &point) const override {
        return box()->cursorPositionAt(box()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int endIndex) override { box()->setCursorPosition(endIndex); }
    QString attributes(int offset, int *startOffset, int *endOffset) const override {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    ClickableLineEdit *box() const { return static_cast<ClickableLineEdit *>(widget()); }
};

QAccessibleInterface *fileNameBoxFactory(const QString &className, QObject *object) {
    if (className == QLatin1String("ClickableLineEdit") && object && object->isWidgetType())
        return new FileNameBoxAccessible(static_cast<ClickableLineEdit *>(object));
    return nullptr;
}

} // namespace

ClickableLineEdit::ClickableLineEdit(QWidget *parent)
    : QLineEdit(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(fileNameBoxFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
