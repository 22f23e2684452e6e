// SPDX-License-Identifier: MIT
#include "ui/main/editbox.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>

namespace ui {

namespace {

// The focus stays with the box while another window or a popup menu is in front.
bool isLeave(Qt::FocusReason reason)
{
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

} // namespace

EditBox::EditBox(QWidget *parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, &EditBox::updateDescription);
}

void EditBox::describe(const QString &shown, const QString &empty)
{
    m_shownDescription = shown;
    m_emptyDescription = empty;
    updateDescription();
}

void EditBox::updateDescription()
{
    setAccessibleDescription(text().isEmpty() ? m_emptyDescription : m_shownDescription);
}

void EditBox::showText(const QString &text)
{
    if (this->text() == text)
        return;
    const QSignalBlocker blocker(this);
    const int cursor = cursorPosition();
    setText(text);
    setCursorPosition(qMin(cursor, int(text.size())));
    updateDescription(); // the blocker keeps textChanged from doing it
}

void EditBox::fitWidthTo(const QString &widest)
{
    const QFontMetrics metrics(font());
    setFixedWidth(metrics.horizontalAdvance(widest) + 4 * metrics.averageCharWidth());
}

void EditBox::keyPressEvent(QKeyEvent *event)
{
    const bool plain =
        event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (plain && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        emit stepped(event->key() == Qt::Key_Up ? 1 : -1);
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void EditBox::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void EditBox::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // A popup menu closing hands the focus back to the box it was opened from.
    if (event->reason() != Qt::PopupFocusReason)
        emit focusEntered();
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        emit enteredByKeyboard();
}

void EditBox::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (isLeave(event->reason()))
        emit focusLeft();
}

} // namespace ui
