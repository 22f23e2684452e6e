// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace control {
class BurnLog;
}

namespace ui {

// "Burn Log": every burn the log holds, oldest first and scrolled to the newest, read when the
// window opens.
class BurnLogDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BurnLogDialog(const control::BurnLog &log, QWidget *parent = nullptr);

private:
    QPlainTextEdit *m_text = nullptr;
};

} // namespace ui
