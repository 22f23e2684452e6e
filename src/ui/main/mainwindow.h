// SPDX-License-Identifier: MIT
#pragma once

#include "ui/main/registersetdialog.h"

#include <QBoxLayout>
#include <QHash>
#include <QMainWindow>
#include <array>
#include <functional>

class QFileDialog;
class QGridLayout;
class QLabel;
class QMenu;
class QPushButton;

namespace control {
class BatchRunner;
class BusThread;
class ChipOperations;
class Diagnostics;
class MainController;
class PortModes;
class RegisterGrid;
class StatusLine;
class UserPrompts;
} // namespace control
namespace device {
struct DeviceModel;
}
namespace port {
class PortManager;
class PortMap;
} // namespace port

namespace ui {

class BusyIndicator;
class ChannelCaption;
class ColourButton;
class ControlPanelWindow;
class EditBox;
class OtpDialog;
class PendingCheck;
class SpinArrows;

// "KALVENTA": the register grid, the spin control, "Change Address" and the ten commands. The
// window mirrors the grid's texts and hands every user event to the control layer. A box's
// check (what runs when the user leaves it) always runs before the action of the control the
// user went to, and at most once per visit.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // What the window works on, owned by the program and outliving the window. The batch
    // runner's stop request, step position and list-click flag outlive its window too.
    struct Parts
    {
        device::DeviceModel &model;
        control::RegisterGrid &grid;
        control::ChipOperations &operations;
        control::MainController &controller;
        control::StatusLine &status;
        control::BatchRunner &batchRunner;
        port::PortManager &ports;
        const port::PortMap &portMap; // only names the devices behind the port numbers
        control::UserPrompts &prompts;
        // The ports' fast mode and idle-write skipping; the port dialog offers them when given.
        control::PortModes *portModes = nullptr;
        // What Help > Save Diagnostics writes; the command is there when given.
        control::Diagnostics *diagnostics = nullptr;
    };

    explicit MainWindow(const Parts &parts, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Runs the file dialog of "Save to File" and "Load From File" and returns the chosen path,
    // "" when cancelled. By default the dialog is shown to the user.
    void setFileDialogRunner(std::function<QString(QFileDialog &)> runner);

signals:
    // The window has closed and stored the settings: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildTopArea();
    QGridLayout *buildChannelBlock(const QList<int> &indices, bool withSpin);
    QWidget *buildCommands();
    void buildMenus();
    // A command button: its caption with its mnemonic, and what it sends (the tooltip).
    struct Command
    {
        QString caption;
        QString toolTip;
    };
    enum class ButtonKind { Plain, Burn };
    QBoxLayout *addGroup(QGridLayout *layout, const QString &title, int row, int column,
                         QBoxLayout::Direction direction);
    QPushButton *addCommand(QBoxLayout *layout, const Command &command,
                            const std::function<void()> &action,
                            ButtonKind kind = ButtonKind::Plain);
    void mirrorGrid();

    // What leaving a box does: the grid's check of that box.
    void runCheck(EditBox *box);
    // The selected channel's caption stands out, so the spin arrows never act unseen.
    void markSelectedChannel();

    void saveToFile();
    void loadFromFile();
    // Help > Save Diagnostics...: a file for a problem report, the bus checks only when asked.
    void saveDiagnostics();
    void fillRecentFiles();
    // What every command does first: the box's due check, then the action once the bus is free
    // (a dialog may close the port, so nothing starts while a transaction is on the bus).
    void runAfterCheck(const std::function<void()> &action);
    void openBatchRunner();
    void openControlPanel();
    void openPortSettings();
    void openOtpDialog();

    QString chooseFile(FilePurpose purpose);
    void updateChangeAddressLook();
    void updateStatus();

    Parts m_parts;
    control::MainController &m_controller;
    control::RegisterGrid &m_grid;
    ControlPanelWindow *m_controlPanel = nullptr;
    OtpDialog *m_otpDialog = nullptr;
    std::function<QString(QFileDialog &)> m_runFileDialog;

    // The command buttons by their captions without the mnemonic ("Read DAC").
    QHash<QString, QPushButton *> m_commands;
    std::array<EditBox *, 26> m_voltageBoxes{};
    std::array<EditBox *, 26> m_hexBoxes{};
    std::array<ChannelCaption *, 26> m_captions{};
    int m_markedChannel = 0;
    EditBox *m_vsupBox = nullptr;
    EditBox *m_maxBankBox = nullptr;
    ColourButton *m_changeAddress = nullptr;
    QMenu *m_recentMenu = nullptr;
    SpinArrows *m_spin = nullptr;
    QLabel *m_portLabel = nullptr;
    QLabel *m_a0Label = nullptr;

    PendingCheck *m_checks = nullptr;
    bool m_closing = false;
    control::BusThread *m_bus = nullptr; // none in the tests of the window alone
    BusyIndicator *m_busy = nullptr;
    bool m_closeWhenFree = false;
};

} // namespace ui
