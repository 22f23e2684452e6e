#include "ui/main/mainwindow.h"

#include "control/batchrunner.h"
#include "control/busthread.h"
#include "control/chipoperations.h"
#include "control/maincontroller.h"
#include "control/registergrid.h"
#include "control/statusline.h"
#include "device/devicemodel.h"
#include "port/portmanager.h"
#include "ui/batch/batchwindow.h"
#include "ui/dialogs/controlpanelwindow.h"
#include "ui/dialogs/otpdialog.h"
#include "ui/dialogs/portsettingsdialog.h"
#include "ui/main/busyindicator.h"
#include "ui/main/channelcaption.h"
#include "ui/main/editbox.h"
#include "ui/main/pendingcheck.h"
#include "ui/widgets/colourbutton.h"
#include "ui/widgets/spinarrows.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>

namespace ui {

namespace {

// The first column keeps the classic nine rows beside the spin control; the other fifteen
// channels follow in register order, nine rows to a column.
const QList<int> firstColumn = {1, 2, 3, 4, 5, 6, 7, 8, 19};
const QList<int> secondColumn = {9, 10, 11, 12, 13, 14, 15, 16, 17};
const QList<int> thirdColumn = {18, 20, 21, 22, 23, 24};

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

MainWindow::MainWindow(const Parts &parts, QWidget *parent)
    : QMainWindow(parent), m_parts(parts), m_controller(parts.controller), m_grid(parts.grid),
      m_runFileDialog(runFileDialog)
{
    setWindowTitle(QStringLiteral("KALVENTA"));
    m_checks = new PendingCheck([this](EditBox *box) { runCheck(box); }, this);
    m_bus = parts.operations.busThread();
    if (m_bus) {
        m_busy = new BusyIndicator(*m_bus, parts.operations, this);
        // Once what ran when the user closed the window has ended, it closes.
        connect(m_bus, &control::BusThread::idle, this, [this] {
            if (m_closeWhenFree)
                QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        });
    }

    auto *central = new QWidget(this);
    auto *layout = new QGridLayout(central);
    const int blockGap = 3 * layout->horizontalSpacing();
    layout->addWidget(buildTopArea(), 0, 0);
    layout->addLayout(buildChannelBlock(firstColumn, true), 1, 0, Qt::AlignTop);
    layout->addLayout(buildChannelBlock(secondColumn, false), 1, 1, Qt::AlignTop);
    layout->addLayout(buildChannelBlock(thirdColumn, false), 1, 2, Qt::AlignTop);
    layout->addWidget(buildCommands(), 2, 0, Qt::AlignTop);
    layout->setHorizontalSpacing(blockGap);
    layout->setColumnStretch(3, 1);
    layout->setRowStretch(3, 1);
    setCentralWidget(central);

    m_portLabel = new QLabel(this);
    m_portLabel->setObjectName(QStringLiteral("portStatus"));
    m_portLabel->setAccessibleName(tr("Port status"));
    m_a0Label = new QLabel(this);
    m_a0Label->setObjectName(QStringLiteral("a0Status"));
    m_a0Label->setAccessibleName(tr("A0 status"));
    statusBar()->addWidget(m_portLabel, 1);
    if (m_busy) {
        statusBar()->addWidget(m_busy, 1);
        m_busy->makeRoomFrom(m_portLabel);
    }
    statusBar()->addPermanentWidget(m_a0Label);

    mirrorGrid();
    connect(&m_controller, &control::MainController::changeAddressLookChanged, this, [this] {
        updateChangeAddressLook();
        updateStatus();
    });
    connect(&m_parts.status, &control::StatusLine::changed, this, &MainWindow::updateStatus);
    connect(m_spin, &SpinArrows::stepped, this, [this](int step) {
        m_checks->finish();
        m_grid.stepChannelCode(step);
        markSelectedChannel();
    });
    markSelectedChannel();
    updateChangeAddressLook();
    updateStatus();
}

MainWindow::~MainWindow()
{
    // The boxes outlive this part of the window while it is torn down; no check may run then.
    m_closing = true;
    m_checks->drop();
    for (EditBox *box : m_voltageBoxes) {
        if (box)
            box->disconnect(this);
    }
    m_vsupBox->disconnect(this);
}

void MainWindow::setFileDialogRunner(std::function<QString(QFileDialog &)> runner)
{
    m_runFileDialog = runner ? std::move(runner) : runFileDialog;
}

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
    addCommand(layout,
               {2, 0, QStringLiteral("Read DAC"),
                tr("Reads the 24 DAC registers and the max bank; writes nothing")},
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

void MainWindow::mirrorGrid()
{
    control::RegisterGrid &grid = m_grid;
    for (int i = 1; i <= device::channelCount; ++i) {
        m_voltageBoxes[i]->showText(grid.voltageText(i));
        m_hexBoxes[i]->showText(grid.hexText(i));
    }
    m_vsupBox->showText(grid.vsupText());
    m_maxBankBox->showText(grid.maxBankText());
    // Every write the grid makes moves the selection to its channel.
    connect(&grid, &control::RegisterGrid::voltageTextChanged, this,
            [this](int index, const QString &text) {
                m_voltageBoxes[index]->showText(text);
                markSelectedChannel();
            });
    connect(&grid, &control::RegisterGrid::hexTextChanged, this,
            [this](int index, const QString &text) { m_hexBoxes[index]->showText(text); });
    connect(&grid, &control::RegisterGrid::vsupTextChanged, m_vsupBox, &EditBox::showText);
    connect(&grid, &control::RegisterGrid::maxBankTextChanged, m_maxBankBox, &EditBox::showText);
}

void MainWindow::markSelectedChannel()
{
    const int selected = m_parts.model.selectedChannel;
    if (selected == m_markedChannel || selected < 1 || selected > device::channelCount)
        return;
    if (m_markedChannel > 0)
        m_captions[m_markedChannel]->setMarked(false);
    m_captions[selected]->setMarked(true);
    m_markedChannel = selected;
}

void MainWindow::runCheck(EditBox *box)
{
    if (m_closing)
        return;
    if (box == m_vsupBox) {
        m_grid.vsupBoxLeft();
        return;
    }
    for (int i = 1; i <= device::channelCount; ++i) {
        if (m_voltageBoxes[i] == box) {
            m_grid.voltageBoxLeft(i);
            markSelectedChannel();
            return;
        }
    }
}

QString MainWindow::chooseFile(FilePurpose purpose)
{
    const std::unique_ptr<QFileDialog> dialog =
        makeRegisterSetDialog(purpose, m_parts.model.defaultDir, this);
    return m_runFileDialog(*dialog);
}

void MainWindow::saveToFile()
{
    m_controller.saveToFile(chooseFile(FilePurpose::Save));
}

void MainWindow::loadFromFile()
{
    m_controller.loadFromFile(chooseFile(FilePurpose::Load));
}

void MainWindow::openBatchRunner()
{
    // A fresh window each time (folder, selection and delay start anew); the runner's state stays.
    m_controller.openingBatchWindow();
    BatchWindow window(m_parts.batchRunner, this);
    window.placeBeside(this);
    window.exec();
}

void MainWindow::openControlPanel()
{
    if (!m_controlPanel)
        m_controlPanel = new ControlPanelWindow(m_parts.model, m_grid, this);
    m_controlPanel->showPanel();
}

void MainWindow::openPortSettings()
{
    const int portBefore = m_parts.ports.comPort().openPortNumber();
    PortSettingsDialog dialog(m_parts.ports, m_parts.portMap, this);
    dialog.attachChip(m_parts.operations, m_parts.model.a0Pin, m_parts.prompts);
    if (m_parts.portModes)
        dialog.attachModes(*m_parts.portModes);
    dialog.exec();
    // Switching reads the other chip; otherwise a newly opened port is read.
    if (dialog.switchA0Chosen())
        m_controller.changeAddress();
    else
        m_controller.portSettingsClosed(portBefore);
}

void MainWindow::openOtpDialog()
{
    if (!m_otpDialog)
        m_otpDialog =
            new OtpDialog(m_parts.model, m_grid, m_parts.operations, m_parts.prompts, this);
    m_otpDialog->showDialog();
}

void MainWindow::updateChangeAddressLook()
{
    QString text = m_controller.changeAddressCaption();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    m_changeAddress->setText(text);
    const control::Rgb c = m_controller.changeAddressColour();
    m_changeAddress->setColour(QColor(c.red, c.green, c.blue));
}

void MainWindow::updateStatus()
{
    QStringList parts{m_parts.status.portText()};
    for (const QString &note : {m_parts.status.silenceText(), m_parts.status.settingsNote()}) {
        if (!note.isEmpty())
            parts << note;
    }
    const QString text = parts.join(QStringLiteral(" \u00b7 "));
    m_portLabel->setText(text);
    // The bar may cut a long text; the whole of it is a hover away.
    m_portLabel->setToolTip(text);
    m_a0Label->setText(m_parts.status.a0Text());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    if (m_bus && m_bus->busy()) {
        // The transaction under way ends whole (a burn: all of it, with its report); a read or
        // a load stops there. Then the window closes.
        m_bus->cancel();
        m_closeWhenFree = true;
        event->ignore();
        return;
    }
    m_closing = true;
    m_checks->drop();
    m_controller.saveSettingsAtExit();
    event->accept();
    emit closed();
}

} // namespace ui
