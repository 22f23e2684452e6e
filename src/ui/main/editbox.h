// SPDX-License-Identifier: MIT
#pragma once

#include <QLineEdit>

namespace ui {

// A text box of the main window. It tells a click apart from other ways of entering it, and a
// real move of the focus to another control apart from the window merely losing activation to
// another window or a popup, which is no leave.
class EditBox : public QLineEdit
{
    Q_OBJECT

public:
    explicit EditBox(QWidget *parent = nullptr);

    // Shows a text the program wrote: no edit signal, and the cursor stays where it was as far
    // as the new text allows, so a text rewritten while the user types does not jump.
    void showText(const QString &text);
    // Wide enough for this text in the box's own font, so the width follows the screen's scaling.
    void fitWidthTo(const QString &widest);
    // What a screen reader hears after the box's name and value: `shown` while the box holds a
    // value (its unit), `empty` while it holds none. Without it the "?" placeholder is heard even
    // beside a value.
    void describe(const QString &shown, const QString &empty);

signals:
    void clicked();
    void focusEntered();
    // Entered with Tab or Shift+Tab.
    void enteredByKeyboard();
    void focusLeft();
    // Up (+1) or Down (-1) pressed in the box.
    void stepped(int step);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void updateDescription();

    QString m_shownDescription;
    QString m_emptyDescription;
};

} // namespace ui
