// SPDX-License-Identifier: MIT
#include "ui/widgets/pressonenter.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>

namespace ui {

namespace {

class EnterPresses : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool plain =
            key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier;
        if (!plain || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        auto *button = static_cast<QAbstractButton *>(watched);
        if (button->isEnabled())
            button->click();
        return true;
    }
};

} // namespace

void pressOnEnter(QAbstractButton *button)
{
    static auto *filter = new EnterPresses(QCoreApplication::instance());
    button->installEventFilter(filter);
}

} // namespace ui
