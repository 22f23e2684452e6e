// SPDX-License-Identifier: MIT
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
#include "ui/widgets/pressonenter.h"
#include "ui/widgets/spinarrows.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace ui {

namespace {

// A number box with its names, wide enough for the widest text it shows. Numbers are
// right-aligned in a fixed-pitch font, so the digits of a column line up.
EditBox *makeBox(QWidget *parent, const QString &name, const QString &spokenName,
                 const QString &widest)
{
    auto *box = new EditBox(parent);
    box->setObjectName(name);
    box->setAccessibleName(spokenName);
    QFont numbers = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    numbers.setPointSizeF(box->font().pointSizeF());
    box->setFont(numbers);
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->fitWidthTo(widest);
    return box;
}

// A box the user cannot type into looks like it: the window's colour instead of a field's.
void lookReadOnly(EditBox *box)
{
    box->setReadOnly(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    box->setPalette(palette);
}

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
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
    m_vsupBox->describe(tr("volts"), tr("empty"));
    m_maxBankBox->describe(tr("hexadecimal"), tr("not read"));
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
    pressOnEnter(m_changeAddress);
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
    // Row 0 heads the columns: what a box holds, in the unit its caption gives.
    block->addWidget(heading(tr("Voltage"), this), 0, 1);
    block->addWidget(heading(tr("Code"), this), 0, 3);
    for (int row = 0; row < indices.size(); ++row) {
        const int index = indices[row];
        const int gridRow = row + 1;
        const QString label = device::channelLabel(index);

        auto *voltage = makeBox(this, QStringLiteral("voltageBox%1").arg(index),
                                tr("Voltage of channel %1").arg(label), QStringLiteral("-99.999"));
        auto *hex = makeBox(this, QStringLiteral("hexBox%1").arg(index),
                            tr("Code of channel %1").arg(label), QStringLiteral("FFFF"));
        lookReadOnly(hex);
        voltage->describe(tr("volts"), tr("not known: not read from the chip"));
        hex->describe(tr("hexadecimal code"), tr("not known: not read from the chip"));
        hex->setFocusPolicy(Qt::ClickFocus);
        // A channel not read from the chip shows empty boxes: "?" says that nothing is known.
        voltage->setPlaceholderText(QStringLiteral("?"));
        hex->setPlaceholderText(QStringLiteral("?"));
        m_voltageBoxes[index] = voltage;
        m_hexBoxes[index] = hex;

        m_captions[index] = new ChannelCaption(index, this);
        block->addWidget(m_captions[index], gridRow, 0);
        block->addWidget(voltage, gridRow, 1);
        block->addWidget(caption(QStringLiteral("V"), this, Qt::AlignLeft), gridRow, 2);
        block->addWidget(hex, gridRow, 3);
        block->addWidget(caption(QStringLiteral("h"), this, Qt::AlignLeft), gridRow, 4);

        m_checks->watch(voltage);
        connect(voltage, &EditBox::textEdited, this, [this, index](const QString &text) {
            m_checks->edited(m_voltageBoxes[index]);
            m_grid.voltageBoxEdited(index, text);
        });
        connect(voltage, &EditBox::clicked, this, [this, index] {
            m_grid.voltageBoxClicked(index);
            markSelectedChannel();
        });
        // The marked channel is the one the keys and the arrows step: a box entered from the
        // keyboard takes the mark, as a click does.
        connect(voltage, &EditBox::enteredByKeyboard, this, [this, index] {
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
        block->addWidget(m_spin, 1, 5, int(indices.size()), 1);
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

    QBoxLayout *file = addGroup(layout, tr("File"), 0, 0, QBoxLayout::LeftToRight);
    addCommand(
        file,
        {QStringLiteral("&Save to File"), tr("Saves Vsup and the 24 codes on screen to a file")},
        [this] { saveToFile(); });
    addCommand(file,
               {QStringLiteral("&Load From File"),
                tr("Writes the 24 codes of a file to the chip's DAC registers")},
               [this] { loadFromFile(); });
    addCommand(file,
               {QStringLiteral("Run &Batch"),
                tr("Writes the register-set files of a folder to the chip, one by one")},
               [this] { openBatchRunner(); });

    QBoxLayout *chip = addGroup(layout, tr("Chip"), 0, 1, QBoxLayout::LeftToRight);
    addCommand(
        chip,
        {QStringLiteral("&Read DAC"),
         tr("Reads the 24 DAC registers and the max bank, then writes each code back as shown")},
        [&c] { c.readAllRegisters(); });
    addCommand(chip,
               {QStringLiteral("R&eset"),
                tr("Sends a general-call reset: the chips reload their registers from "
                   "OTP. Then reads all registers")},
               [&c] { c.resetChip(); });

    QBoxLayout *windows = addGroup(layout, tr("Windows"), 1, 0, QBoxLayout::LeftToRight);
    addCommand(windows, {QStringLiteral("Control &Panel"), tr("A slider for each channel's code")},
               [this] { openControlPanel(); });
    addCommand(windows,
               {QStringLiteral("C&OM Setting"), tr("Chooses the serial port of the board")},
               [this] { openPortSettings(); });
    addCommand(windows, {QStringLiteral("Abou&t"), QString()}, [&c] { c.showAbout(); });

    // The two commands that cannot be undone stand apart, in a warning colour and with a
    // warning sign; both ask before they burn.
    QBoxLayout *otp =
        addGroup(layout, tr("OTP memory: a burn cannot be undone"), 1, 1, QBoxLayout::TopToBottom);
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const auto burnLook = [&warning](QPushButton *button) {
        auto *colour = static_cast<ColourButton *>(button);
        colour->setColour(QColor(255, 190, 90));
        colour->setIcon(warning);
        colour->setAccessibleDescription(tr("A burn cannot be undone"));
    };
    burnLook(addCommand(
        otp,
        {QStringLiteral("Program OTP &All Channels"),
         tr("Burns the 24 codes into the chip's one-time-programmable memory. "
            "A burn cannot be undone")},
        [&c] { c.programOtpAllChannels(); }, ButtonKind::Burn));
    burnLook(addCommand(
        otp,
        {QStringLiteral("Program OTP O&ne Channel"),
         tr("Burns one channel's code into OTP, after a question. A burn "
            "cannot be undone")},
        [this] { openOtpDialog(); }, ButtonKind::Burn));
    return area;
}

QBoxLayout *MainWindow::addGroup(QGridLayout *layout, const QString &title, int row, int column,
                                 QBoxLayout::Direction direction)
{
    auto *group = new QGroupBox(title, layout->parentWidget());
    auto *inner = new QBoxLayout(direction, group);
    layout->addWidget(group, row, column);
    return inner;
}

QPushButton *MainWindow::addCommand(QBoxLayout *layout, const Command &command,
                                    const std::function<void()> &action, ButtonKind kind)
{
    QWidget *parent = layout->parentWidget();
    QPushButton *button =
        kind == ButtonKind::Burn ? new ColourButton(parent) : new QPushButton(parent);
    button->setText(command.caption);
    button->setToolTip(command.toolTip);
    pressOnEnter(button);
    layout->addWidget(button);
    m_commands.insert(QString(command.caption).remove(QLatin1Char('&')), button);
    // A button that takes the focus has run the check already; one that does not (or a key
    // that activates it) runs it here, before its own action.
    connect(button, &QPushButton::clicked, this, [this, action] { runAfterCheck(action); });
    if (m_busy)
        m_busy->addCommandWidget(button);
    return button;
}

} // namespace ui
