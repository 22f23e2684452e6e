// SPDX-License-Identifier: MIT
#include "ui/dialogs/otpdialog.h"

#include "control/chipoperations.h"
#include "ui/dialogs/burnlogdialog.h"
#include "ui/widgets/spinarrows.h"
#include "ui/widgets/statelabel.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace ui {

OtpDialog::OtpDialog(device::DeviceModel &model, control::RegisterGrid &grid,
                     control::ChipOperations &operations, control::UserPrompts &prompts,
                     QWidget *parent)
    : QDialog(parent), m_logic(model, grid, operations, prompts), m_operations(operations)
{
    setWindowTitle(QStringLiteral("Write OTP Reg"));
    setModal(false);

    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("registerName"));
    nameStateLabel(m_name, tr("OTP register"));
    m_name->setToolTip(tr("Up and Down choose the register, PageUp and PageDown six at a time"));
    m_name->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00")) * 2);
    m_spin = new SpinArrows(this);
    // Copies of the main window's texts: the burn takes the model's code, never these fields.
    m_voltage = new QLineEdit(this);
    m_voltage->setObjectName(QStringLiteral("voltageText"));
    m_voltage->setReadOnly(true);
    m_voltage->setAccessibleName(tr("Voltage of the register"));
    m_hex = new QLineEdit(this);
    m_hex->setObjectName(QStringLiteral("hexText"));
    m_hex->setReadOnly(true);
    m_hex->setAccessibleName(tr("Code of the register"));
    m_burn = new QPushButton(QStringLiteral("&Write Selected Reg to OTP"), this);
    m_burn->setAutoDefault(false);
    m_burn->setToolTip(tr("Burns this channel's code into the chip's one-time-programmable "
                          "memory, after a question. A burn cannot be undone"));

    m_burnLog = new QPushButton(tr("Burn &Log..."), this);
    m_burnLog->setAutoDefault(false);
    m_burnLog->setToolTip(tr("Every burn so far: when, on which port and chip, the codes, and "
                             "whether it verified"));
    m_burnLog->setEnabled(m_operations.burnLog().has_value());

    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("OTP Register:"), this), 0, 0);
    layout->addWidget(m_name, 0, 1);
    layout->addWidget(m_spin, 0, 2, 3, 1);
    layout->addWidget(m_voltage, 1, 0);
    layout->addWidget(new QLabel(QStringLiteral("V"), this), 1, 1);
    layout->addWidget(m_hex, 2, 0);
    layout->addWidget(new QLabel(QStringLiteral("h"), this), 2, 1);
    layout->addWidget(m_burn, 3, 0, 1, 3);
    layout->addWidget(m_burnLog, 4, 0, 1, 3);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_spin, &SpinArrows::stepped, this, [this](int step) {
        // The down arrow goes to the next name, the up arrow to the previous one.
        if (step < 0)
            m_logic.nextRegister();
        else
            m_logic.previousRegister();
    });
    connect(m_burn, &QPushButton::clicked, this, [this] { m_logic.burnShownRegister(); });
    connect(m_burnLog, &QPushButton::clicked, this, [this] {
        if (const auto &log = m_operations.burnLog())
            BurnLogDialog(*log, this).exec();
    });
    connect(&m_logic, &control::OtpRegisterDialog::registerShown, this, &OtpDialog::mirror);

    // Up and Down choose the previous and the next register, PageUp and PageDown a quarter of
    // the 24 at a time, wherever the focus is in the dialog.
    constexpr int registersPerPage = 6;
    const auto chooseBy = [this](Qt::Key key, int steps) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, steps] {
            for (int k = 0; k < std::abs(steps); ++k)
                steps > 0 ? m_logic.nextRegister() : m_logic.previousRegister();
        });
    };
    chooseBy(Qt::Key_Up, -1);
    chooseBy(Qt::Key_Down, 1);
    chooseBy(Qt::Key_PageUp, -registersPerPage);
    chooseBy(Qt::Key_PageDown, registersPerPage);
}

void OtpDialog::showDialog()
{
    if (!isVisible())
        m_logic.open();
    show();
    raise();
    activateWindow();
}

void OtpDialog::mirror()
{
    showState(m_name, m_logic.name());
    m_voltage->setText(m_logic.voltageText());
    m_hex->setText(m_logic.hexText());
}

} // namespace ui
