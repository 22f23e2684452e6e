// The main window's widgets as it builds them: the Vsup and max-bank area, the channel blocks
// and the command buttons, each wired to the grid and the controller.
#include "control/busthread.h"
#include "control/maincontroller.h"
#include "control/registergrid.h"
#include "device/devicemodel.h"
#include "ui/main/busyindicator.h"
#include "ui/main/channelcaption.h"
#include "ui/main/editbox.h"
#include "ui/main/mainwindow.h"
#include "ui/main/pendingcheck.h"
#include "ui/widgets/colourbutton.h"
#include "ui/widgets/spinarrows.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace ui {

namespace {

// A box with its names, wide enough for the widest text it shows.
EditBox *makeBox(QWidget *parent, const QString &name, const QString &spokenName,
                 const QString &widest)
{
    auto *box = new EditBox(parent);
    box->setObjectName(name);
    box->setAccessibleName(spokenName);
    box->fitWidthTo(widest);
    return box;
}

QLabel *caption(const QString &text, QWidget *parent, Qt::Alignment alignment = Qt::AlignRight)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

} // namespace

QWidget *MainWindow::buildTopArea()
{
    auto *area = new QWidget(this);
    auto *layout = new QGridLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);

    m_vsupBox =
        makeBox(area, QStringLiteral("vsupBox"), QStringLiteral("Vsup"), QStringLiteral(" 99.999"));
    m_maxBankBox = makeBox(area, QStringLiteral("maxBankBox"), QStringLiteral("Max Bank"),
                           QStringLiteral("65535"));
    layout->addWidget(caption(QStringLiteral("Vsup"), area), 0, 0);
    layout->addWidget(m_vsupBox, 0, 1);
    layout->addWidget(caption(QStringLiteral("Max Bank:"), area), 1, 0);
    layout->addWidget(m_maxBankBox, 1, 1);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(2, 1);

    m_changeAddress = new ColourButton(area);
    m_changeAddress->setObjectName(QStringLiteral("changeAddressButton"));
    m_changeAddress->setToolTip(tr("Switches to the other chip on the bus (A0 = 0 or 1) and "
                                   "reads it"));
    layout->addWidget(m_changeAddress, 2, 0, 1, 3);
    connect(m_changeAddress, &QPushButton::clicked, this, [this] {
        m_checks->finish();
        m_controller.changeAddress();
    });
    if (m_busy)
        m_busy->addCommandWidget(m_changeAddress);

    m_checks->watch(m_vsupBox);
    connect(m_vsupBox, &EditBox::textEdited, this, [this](const QString &text) {
        m_checks->edited(m_vsupBox);
        m_grid.vsupBoxEdited(text);
    });
    connect(m_maxBankBox, &EditBox::textEdited, this,
            [this](const QString &text) { m_grid.maxBankBoxEdited(text); });
    return area;
}

QGridLayout *MainWindow::buildChannelBlock(const QList<int> &indices, bool withSpin)
{
    auto *block = new QGridLayout;
    block->setVerticalSpacing(2);
    for (int row = 0; row < indices.size(); ++row) {
        const int index = indices[row];
        const QString label = device::channelLabel(index);

        auto *voltage = makeBox(this, QStringLiteral("voltageBox%1").arg(index),
                                tr("Voltage of channel %1").arg(label), QStringLiteral("-99.999"));
        auto *hex = makeBox(this, QStringLiteral("hexBox%1").arg(index),
                            tr("Code of channel %1").arg(label), QStringLiteral("FFFF"));
        hex->setReadOnly(true);
        hex->setFocusPolicy(Qt::ClickFocus);
        // A channel not read from the chip shows empty boxes: "?" says that nothing is known.
        voltage->setPlaceholderText(QStringLiteral("?"));
        hex->setPlaceholderText(QStringLiteral("?"));
        m_voltageBoxes[index] = voltage;
        m_hexBoxes[index] = hex;

        m_captions[index] = new ChannelCaption(index, this);
        block->addWidget(m_captions[index], row, 0);
        block->addWidget(voltage, row, 1);
        block->addWidget(caption(QStringLiteral("V"), this, Qt::AlignLeft), row, 2);
        block->addWidget(hex, row, 3);
        block->addWidget(caption(QStringLiteral("h"), this, Qt::AlignLeft), row, 4);

        m_checks->watch(voltage);
        connect(voltage, &EditBox::textEdited, this, [this, index](const QString &text) {
            m_checks->edited(m_voltageBoxes[index]);
            m_grid.voltageBoxEdited(index, text);
        });
        connect(voltage, &EditBox::clicked, this, [this, index] {
            m_grid.voltageBoxClicked(index);
            markSelectedChannel();
        });
        connect(voltage, &EditBox::stepped, this, [this, index](int step) {
            m_checks->finish();
            m_grid.voltageBoxClicked(index);
            m_grid.stepChannelCode(step);
            markSelectedChannel();
        });
    }
    if (withSpin) {
        m_spin = new SpinArrows(this);
        m_spin->setObjectName(QStringLiteral("spinArrows"));
        block->addWidget(m_spin, 0, 5, int(indices.size()), 1);
    }
    // Spare width goes beyond the rows, which keep their parts together.
    block->setColumnStretch(6, 1);
    return block;
}

QWidget *MainWindow::buildCommands()
{
    auto *area = new QWidget(this);
    auto *layout = new QGridLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    control::MainController &c = m_controller;
    addCommand(layout,
               {0, 0, QStringLiteral("Save to File"),
                tr("Saves Vsup and the 24 codes on screen to a file")},
               [this] { saveToFile(); });
    addCommand(layout,
               {0, 1, QStringLiteral("Load From File"),
                tr("Writes the 24 codes of a file to the chip's DAC registers")},
               [this] { loadFromFile(); });
    addCommand(layout,
               {1, 0, QStringLiteral("Reset"),
                tr("Sends a general-call reset: the chips reload their registers from "
                   "OTP. Then reads all registers")},
               [&c] { c.resetChip(); });
    addCommand(layout,
               {1, 1, QStringLiteral("Run Batch"),
                tr("Writes the register-set files of a folder to the chip, one by one")},
               [this] { openBatchRunner(); });
    addCommand(
        layout,
        {2, 0, QStringLiteral("Read DAC"),
         tr("Reads the 24 DAC registers and the max bank, then writes each code back as shown")},
        [&c] { c.readAllRegisters(); });
    addCommand(layout, {2, 1, QStringLiteral("Control Panel"), QString()},
               [this] { openControlPanel(); });
    addCommand(layout,
               {3, 0, QStringLiteral("Program OTP All Channels"),
                tr("Burns the 24 codes into the chip's one-time-programmable memory. "
                   "A burn cannot be undone")},
               [&c] { c.programOtpAllChannels(); });
    addCommand(layout, {3, 1, QStringLiteral("COM Setting"), QString()},
               [this] { openPortSettings(); });
    addCommand(layout,
               {4, 0, QStringLiteral("Program OTP One Channel"),
                tr("Burns one channel's code into OTP, after a question. A burn cannot "
                   "be undone")},
               [this] { openOtpDialog(); });
    addCommand(layout, {4, 1, QStringLiteral("About"), QString()}, [&c] { c.showAbout(); });
    return area;
}

QPushButton *MainWindow::addCommand(QGridLayout *layout, const Command &command,
                                    const std::function<void()> &action)
{
    auto *button = new QPushButton(command.caption, layout->parentWidget());
    button->setToolTip(command.toolTip);
    layout->addWidget(button, command.row, command.column);
    // A button that takes the focus has run the check already; one that does not (or a key
    // that activates it) runs it here, before its own action.
    // A dialog may close the port: nothing starts while a transaction is on the bus.
    connect(button, &QPushButton::clicked, this, [this, action] {
        m_checks->finish();
        if (m_bus)
            m_bus->whenFree(action);
        else
            action();
    });
    if (m_busy)
        m_busy->addCommandWidget(button);
    return button;
}

} // namespace ui
