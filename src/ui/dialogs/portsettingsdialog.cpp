#include "ui/dialogs/portsettingsdialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ui {

PortSettingsDialog::PortSettingsDialog(port::PortManager &ports, const port::PortMap &map,
                                       QWidget *parent)
    : QDialog(parent), m_controller(ports, map)
{
    setWindowTitle(QStringLiteral("COM Port Setup"));

    auto *frame = new QGroupBox(QStringLiteral("Select Serial Port"), this);
    m_portCombo = new QComboBox(frame);
    m_portCombo->setObjectName(QStringLiteral("portCombo"));
    m_portCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_bitRateCombo = new QComboBox(frame);
    m_bitRateCombo->setObjectName(QStringLiteral("bitRateCombo"));
    m_status = new QLabel(frame);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setAccessibleName(tr("Port status"));
    m_status->setWordWrap(true);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for the longer explanations without a tall, narrow column of text.
    m_status->setMinimumSize(55 * fontMetrics().averageCharWidth(),
                             4 * fontMetrics().lineSpacing());

    auto *portLabel = new QLabel(QStringLiteral("Port # :"), frame);
    portLabel->setBuddy(m_portCombo);
    auto *bitRateLabel = new QLabel(QStringLiteral("Baud Rate:"), frame);
    bitRateLabel->setBuddy(m_bitRateCombo);
    auto *rows = new QGridLayout(frame);
    rows->addWidget(portLabel, 0, 0);
    rows->addWidget(m_portCombo, 0, 1);
    rows->addWidget(bitRateLabel, 1, 0);
    rows->addWidget(m_bitRateCombo, 1, 1);
    rows->addWidget(m_status, 2, 0, 1, 2);
    rows->setColumnStretch(1, 1);

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
    m_status->setText(m_controller.statusText());

    connect(m_portCombo, &QComboBox::activated, &m_controller,
            &control::PortSettingsController::choosePort);
    connect(m_bitRateCombo, &QComboBox::activated, &m_controller,
            &control::PortSettingsController::chooseBitRate);
    connect(&m_controller, &control::PortSettingsController::statusTextChanged, m_status,
            &QLabel::setText);
}

} // namespace ui
