// SPDX-License-Identifier: MIT
#include "ui/dialogs/portsettingsdialog.h"

#include "control/portmodes.h"
#include "ui/widgets/statelabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ui {

namespace {

QLabel *statusLabel(QWidget *frame)
{
    auto *status = new QLabel(frame);
    status->setObjectName(QStringLiteral("statusText"));
    nameStateLabel(status, PortSettingsDialog::tr("Port status"));
    status->setWordWrap(true);
    status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for the longer explanations without a tall, narrow column of text.
    status->setMinimumSize(55 * frame->fontMetrics().averageCharWidth(),
                           4 * frame->fontMetrics().lineSpacing());
    return status;
}

} // namespace

PortSettingsDialog::PortSettingsDialog(port::PortManager &ports, const port::PortMap &map,
                                       QWidget *parent)
    : QDialog(parent), m_ports(ports), m_controller(ports, map)
{
    setWindowTitle(QStringLiteral("COM Port Setup"));

    auto *frame = new QGroupBox(QStringLiteral("Select Serial Port"), this);
    m_portCombo = new QComboBox(frame);
    m_portCombo->setObjectName(QStringLiteral("portCombo"));
    m_portCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_bitRateCombo = new QComboBox(frame);
    m_bitRateCombo->setObjectName(QStringLiteral("bitRateCombo"));
    m_status = statusLabel(frame);

    auto *portLabel = new QLabel(QStringLiteral("Port # :"), frame);
    portLabel->setBuddy(m_portCombo);
    auto *bitRateLabel = new QLabel(QStringLiteral("Baud Rate:"), frame);
    bitRateLabel->setBuddy(m_bitRateCombo);
    auto *rows = new QGridLayout(frame);
    rows->addWidget(portLabel, 0, 0);
    rows->addWidget(m_portCombo, 0, 1);
    // The port's modes, once attached, belong right under the port they are for.
    m_modeRows = new QVBoxLayout;
    rows->addLayout(m_modeRows, 1, 1);
    rows->addWidget(bitRateLabel, 2, 0);
    rows->addWidget(m_bitRateCombo, 2, 1);
    rows->addWidget(m_status, 3, 0, 1, 2);
    rows->setColumnStretch(1, 1);
    m_rows = rows;

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(buttons);
    // Neither button undoes anything: every choice has taken effect already.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // Pre-selecting what is in force is no choice: only the user's picks (activated) re-open.
    m_controller.load();
    for (const control::PortSettingsController::PortEntry &entry : m_controller.portEntries())
        m_portCombo->addItem(entry.text, entry.portNumber);
    m_portCombo->setCurrentIndex(m_controller.selectedPortRow());
    m_bitRateCombo->addItems(control::PortSettingsController::bitRateEntries());
    m_bitRateCombo->setCurrentIndex(m_controller.selectedBitRateRow());
    showState(m_status, m_controller.statusText());

    connect(m_portCombo, &QComboBox::activated, &m_controller,
            &control::PortSettingsController::choosePort);
    connect(m_bitRateCombo, &QComboBox::activated, &m_controller,
            &control::PortSettingsController::chooseBitRate);
    connect(&m_controller, &control::PortSettingsController::statusTextChanged, this,
            [this](const QString &text) { showState(m_status, text); });
}

void PortSettingsDialog::attachChip(control::ChipOperations &operations, const QString &a0Pin,
                                    control::UserPrompts &prompts)
{
    QWidget *frame = m_status->parentWidget();
    m_wiring = new QLabel(frame);
    m_wiring->setObjectName(QStringLiteral("wiringText"));
    nameStateLabel(m_wiring, tr("Wiring check"));
    m_wiring->setWordWrap(true);
    auto *find = new QPushButton(tr("&Find chips"), frame);
    find->setToolTip(tr("Sends each chip's address alone (nothing is written) and says which "
                        "chips answer"));
    m_chips = new QLabel(frame);
    m_chips->setObjectName(QStringLiteral("chipsText"));
    nameStateLabel(m_chips, tr("Chips found"));
    m_chips->setWordWrap(true);
    m_rows->addWidget(m_wiring, 4, 0, 1, 2);
    m_rows->addWidget(find, 5, 0);
    m_rows->addWidget(m_chips, 5, 1);
    m_checks = new control::PortChipChecks(m_ports, operations, a0Pin, prompts, this);
    connect(find, &QPushButton::clicked, m_checks, &control::PortChipChecks::findChips);
    connect(m_checks, &control::PortChipChecks::changed, this, [this] {
        showState(m_wiring, m_checks->wiringText());
        showState(m_chips, m_checks->chipsText());
    });
    m_controller.attachChecks(*m_checks);
}

void PortSettingsDialog::attachModes(control::PortModes &modes)
{
    QWidget *frame = m_status->parentWidget();
    m_fastModeAvailable = new QLabel(tr("fast mode available"), frame);
    m_fastModeAvailable->setObjectName(QStringLiteral("fastModeAvailable"));
    m_fastMode =
        new QCheckBox(tr("Fast mode (FT232R bit-bang: a whole frame per USB transfer)"), frame);
    m_fastMode->setObjectName(QStringLiteral("fastModeBox"));
    m_fastMode->setAccessibleName(tr("Fast mode"));
    m_skipIdleWrites = new QCheckBox(
        tr("Skip idle writes (line writes that change nothing; saves a USB round trip each)"),
        frame);
    m_skipIdleWrites->setObjectName(QStringLiteral("skipIdleWritesBox"));
    m_skipIdleWrites->setAccessibleName(tr("Skip idle writes"));
    m_modeRows->addWidget(m_fastModeAvailable);
    m_modeRows->addWidget(m_fastMode);
    m_modeRows->addWidget(m_skipIdleWrites);

    // Clicked comes from the user only, so mirroring the controller never calls it back.
    connect(m_fastMode, &QCheckBox::clicked, &m_controller,
            &control::PortSettingsController::setFastMode);
    connect(m_skipIdleWrites, &QCheckBox::clicked, &m_controller,
            &control::PortSettingsController::setSkipIdleWrites);
    connect(&m_controller, &control::PortSettingsController::modesChanged, this,
            &PortSettingsDialog::showModes);
    m_controller.attachModes(modes);
}

void PortSettingsDialog::showModes()
{
    m_fastModeAvailable->setVisible(m_controller.fastModeAvailable());
    m_fastMode->setChecked(m_controller.fastMode());
    m_fastMode->setEnabled(m_controller.fastModeEditable());
    // A greyed box says why it is greyed.
    if (m_controller.fastModeEditable())
        m_fastMode->setToolTip(tr("Drives the FT232R in synchronous bit-bang mode: a whole frame "
                                  "per USB transfer"));
    else if (m_controller.fastMode())
        m_fastMode->setToolTip(tr("This adapter knows no other mode"));
    else
        m_fastMode->setToolTip(tr("Fast mode needs an FT232R adapter; this port has none"));
    m_skipIdleWrites->setChecked(m_controller.skipIdleWrites());
    m_skipIdleWrites->setEnabled(m_controller.skipIdleWritesEditable());
    m_skipIdleWrites->setToolTip(m_controller.isUsbAdapter()
                                     ? tr("On unless chosen otherwise: the port is a USB adapter")
                                     : tr("Off unless chosen otherwise: the port is no USB "
                                          "adapter"));
}

} // namespace ui
