// SPDX-License-Identifier: MIT
#include "ui/dialogs/burnlogdialog.h"

#include "control/burnlog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

namespace ui {

BurnLogDialog::BurnLogDialog(const control::BurnLog &log, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Burn Log"));
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_text->setAccessibleName(tr("Burn log"));
    m_text->setPlainText(log.text());
    m_text->verticalScrollBar()->setValue(m_text->verticalScrollBar()->maximum());
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 100, fontMetrics().height() * 24);
}

} // namespace ui
