// SPDX-License-Identifier: MIT
#include "ui/main/mainwindow.h"

#include "control/batchrunner.h"
#include "control/busthread.h"
#include "control/chipoperations.h"
#include "control/diagnostics.h"
#include "control/maincontroller.h"
#include "control/registergrid.h"
#include "control/statusline.h"
#include "control/userprompts.h"
#include "device/devicemodel.h"
#include "device/safefilewriter.h"
#include "log/logging.h"
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
#include "ui/widgets/statelabel.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

namespace ui {

namespace {

// The first column keeps the classic nine rows beside the spin control; the other fifteen
// channels follow in register order, nine rows to a column.
const QList<int> firstColumn = {1, 2, 3, 4, 5, 6, 7, 8, 19};
const QList<int> secondColumn = {9, 10, 11, 12, 13, 14, 15, 16, 17};
const QList<int> thirdColumn = {18, 20, 21, 22, 23, 24};

// Long enough to read a sentence.
constexpr int hintShownMs = 10000;

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
    layout->addWidget(buildCommands(), 2, 0, 1, 3, Qt::AlignTop);
    layout->setHorizontalSpacing(blockGap);
    setCentralWidget(central);
    buildMenus();
    // Everything is in view at the window's own size; a larger window would only add blank space.
    this->layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_portLabel = new QLabel(this);
    m_portLabel->setObjectName(QStringLiteral("portStatus"));
    nameStateLabel(m_portLabel, tr("Port status"));
    m_a0Label = new QLabel(this);
    m_a0Label->setObjectName(QStringLiteral("a0Status"));
    nameStateLabel(m_a0Label, tr("A0 status"));
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
    connect(&grid, &control::RegisterGrid::hint, this,
            [this](const QString &text) { statusBar()->showMessage(text, hintShownMs); });
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

void MainWindow::buildMenus()
{
    // Each menu command presses its button, so it runs exactly as the button does (the box's
    // check first, then the command when the bus is free) and is greyed while the button is.
    const auto add = [this](QMenu *menu, const QString &text, QPushButton *button,
                            const QKeySequence &shortcut = {}) {
        QAction *action = menu->addAction(text, button, &QPushButton::click);
        action->setShortcut(shortcut);
        if (m_busy)
            m_busy->addCommandAction(action);
        return action;
    };
    QMenu *file = menuBar()->addMenu(tr("&File"));
    add(file, tr("&Load From File..."), m_commands.value(QStringLiteral("Load From File")),
        QKeySequence::Open);
    add(file, tr("&Save to File..."), m_commands.value(QStringLiteral("Save to File")),
        QKeySequence::Save);
    m_recentMenu = file->addMenu(tr("&Recent Files"));
    connect(m_recentMenu, &QMenu::aboutToShow, this, &MainWindow::fillRecentFiles);
    add(file, tr("Run &Batch..."), m_commands.value(QStringLiteral("Run Batch")));
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

    QMenu *chip = menuBar()->addMenu(tr("&Chip"));
    add(chip, tr("&Read DAC"), m_commands.value(QStringLiteral("Read DAC")),
        QKeySequence(Qt::Key_F5));
    add(chip, tr("R&eset"), m_commands.value(QStringLiteral("Reset")));
    add(chip, tr("Change A&ddress"), m_changeAddress);
    chip->addSeparator();
    add(chip, tr("Program OTP &All Channels..."),
        m_commands.value(QStringLiteral("Program OTP All Channels")));
    add(chip, tr("Program OTP O&ne Channel..."),
        m_commands.value(QStringLiteral("Program OTP One Channel")));

    QMenu *windows = menuBar()->addMenu(tr("&Window"));
    add(windows, tr("Control &Panel"), m_commands.value(QStringLiteral("Control Panel")));
    add(windows, tr("C&OM Setting..."), m_commands.value(QStringLiteral("COM Setting")));

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    if (m_parts.diagnostics) {
        QAction *diagnostics =
            help->addAction(tr("Save &Diagnostics..."), this, &MainWindow::saveDiagnostics);
        diagnostics->setObjectName(QStringLiteral("saveDiagnostics"));
        // The bus checks need the bus; the rest does not, but one rule is simpler to read.
        if (m_busy)
            m_busy->addCommandAction(diagnostics);
    }
    add(help, tr("&About"), m_commands.value(QStringLiteral("About")));
}

void MainWindow::saveDiagnostics()
{
    m_checks->finish();
    QFileDialog dialog(this, tr("Save Diagnostics"), m_parts.model.defaultDir,
                       tr("Text files (*.txt);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QStringLiteral("kalventa-diagnostics.txt"));
    const QString path = m_runFileDialog(dialog);
    if (path.isEmpty())
        return;
    const bool busChecks = m_parts.prompts.confirm(
        tr("Save Diagnostics"),
        tr("Also run the wiring self-test and the chip scan on the open port?\n\nThey move "
           "the port's lines (a START and a STOP, and an address for each chip) but change no "
           "register."));
    const auto write = [this, path, busChecks] {
        control::Diagnostics::Request request;
        request.program = QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(),
                                                      QCoreApplication::applicationVersion());
        request.chosenPort = m_parts.ports.portNumber();
        request.a0Pin = m_parts.model.a0Pin;
        request.busChecks = busChecks;
        const QString text = m_parts.diagnostics->text(request);
        QString error;
        if (!device::writeFileSafely(path, text.toUtf8(), &error)) {
            qCWarning(lcUi).noquote() << error;
            m_parts.prompts.showError(tr("Save Diagnostics"), error);
            return;
        }
        qCInfo(lcUi).noquote() << QStringLiteral("diagnostics saved to ") + path;
        statusBar()->showMessage(tr("Diagnostics saved to %1").arg(QDir::toNativeSeparators(path)),
                                 hintShownMs);
    };
    runAfterCheck(write); // the check ran above, before the dialogs; nothing is due now
}

void MainWindow::runAfterCheck(const std::function<void()> &action)
{
    m_checks->finish();
    if (m_bus)
        m_bus->whenFree(action);
    else
        action();
}

void MainWindow::fillRecentFiles()
{
    m_recentMenu->clear();
    const QStringList paths = m_controller.recentFiles();
    for (int i = 0; i < paths.size(); ++i) {
        const QString path = paths[i];
        // "&1 name" gives each a number key; the whole path is a hover away.
        QAction *action = m_recentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(
            QFileInfo(path).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"))));
        action->setToolTip(QDir::toNativeSeparators(path));
        action->setEnabled(m_commands.value(QStringLiteral("Load From File"))->isEnabled());
        connect(action, &QAction::triggered, this,
                [this, path] { runAfterCheck([this, path] { m_controller.loadFromFile(path); }); });
    }
    if (paths.isEmpty())
        m_recentMenu->addAction(tr("No files yet"))->setEnabled(false);
    m_recentMenu->setToolTipsVisible(true);
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
    text.replace(QLatin1String("Change Address"), QLatin1String("Change A&ddress"));
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
    showState(m_portLabel, text);
    // The bar may cut a long text; the whole of it is a hover away.
    m_portLabel->setToolTip(text);
    showState(m_a0Label, m_parts.status.a0Text());
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
