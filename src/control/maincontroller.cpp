// SPDX-License-Identifier: MIT
#include "control/maincontroller.h"

#include "control/burnreport.h"
#include "control/busthread.h"
#include "control/chipoperations.h"
#include "control/registergrid.h"
#include "control/userprompts.h"
#include "device/numbertext.h"
#include "device/paths.h"
#include "device/registersetfile.h"
#include "device/settingsstore.h"
#include "device/waitseconds.h"
#include "port/portmanager.h"
#include "version.h"

#include <QDir>
#include <QFileInfo>

namespace control {

using device::channelCount;

MainController::MainController(device::DeviceModel &model, RegisterGrid &grid,
                               ChipOperations &operations, port::PortManager &ports,
                               device::SettingsStore &settings, UserPrompts &prompts,
                               QObject *parent)
    : QObject(parent), m_model(model), m_grid(grid), m_operations(operations), m_ports(ports),
      m_settings(settings), m_prompts(prompts)
{}

void MainController::start()
{
    runCommand(m_operations.busThread(), tr("Reading the chip"), Cancel::Allowed,
               [this] { startNow(); });
}

void MainController::startNow()
{
    m_model.vsup = 10;
    m_model.vlow = 0;
    m_grid.setVsupText(device::numberText(10));
    m_model.a0Pin = QStringLiteral("0");
    m_model.selectedChannel = 1;
    // On a USB adapter the first read takes seconds, in a window already on screen.
    m_grid.forgetAllCodes();
    loadSettings();
    m_ports.probeComPorts();
    m_ports.openSelectedComPort();
    emit changeAddressLookChanged();
    readAllRegisters();
}

void MainController::loadSettings()
{
    device::StoredPort stored;
    m_settings.loadSettings(m_model, stored);
    m_ports.setSelection({stored.portNumber, stored.bitRate});
    // A fallback changes the Vsup in use too, and the box must say so.
    m_grid.showVsup();
    emit changeAddressLookChanged();
}

void MainController::openingBatchWindow()
{
    // Without the store the reload would bring back older values than those in use: then there
    // is nothing to reload.
    const port::PortSelection selection = m_ports.selection();
    if (m_settings.saveAtExit(m_model, {selection.portNumber, selection.bitRate}))
        loadSettings();
}

void MainController::portSettingsClosed(int portBefore)
{
    const port::ComPort &port = m_ports.comPort();
    if (port.isOpen() && port.openPortNumber() != portBefore)
        readAllRegisters();
}

void MainController::readAllRegisters()
{
    runCommand(m_operations.busThread(), tr("Read DAC"), Cancel::Allowed, [this] {
        device::waitSeconds(0.1);
        m_grid.showReading(m_operations.readAll(m_model.a0Pin));
    });
}

void MainController::resetChip()
{
    runCommand(m_operations.busThread(), tr("Reset"), Cancel::Allowed, [this] {
        m_operations.reset();
        readAllRegisters();
    });
}

void MainController::programOtpAllChannels()
{
    // Not cancellable: a burn stopped half-way leaves a bank part burned.
    runCommand(m_operations.busThread(), tr("Program OTP All Channels"), Cancel::Never,
               [this] { burnAllChannels(); });
}

void MainController::burnAllChannels()
{
    const QString title = tr("Program OTP All Channels");
    if (refuseUnknownBurn(title) ||
        !burnMayGoAhead(m_operations.burnLogProblem(), m_prompts, title))
        return;
    ChannelCodes codes;
    for (int i = 1; i <= channelCount; ++i)
        codes[std::size_t(i - 1)] = m_model.dacCode[i];
    const double vlow = m_model.vlow;
    const double vsup = m_model.vsup;
    const BurnResult burned = m_operations.burn(
        m_model.a0Pin, ChipOperations::allChannels(), codes, [this, &title](const BurnResult &) {
            return m_prompts.confirm(
                title, tr("Burn the codes of all 24 channels into the one-time-programmable "
                          "memory of the device with A0 = %1?\n\nThis cannot be undone.")
                           .arg(m_model.a0Pin));
        });
    m_grid.showBurn(burned);
    BurnReport report(burned);
    report.setShownBefore(codes, vlow, vsup);
    report.show(m_prompts, title);
}

// Why the unknown channels' codes are not the chip's: never read, or written without an
// acknowledge.
QString MainController::unknownCodesText() const
{
    QStringList neverRead;
    QStringList unacknowledged;
    for (int i = 1; i <= channelCount; ++i) {
        if (m_model.codeUnknown[i])
            (m_model.writeUnacknowledged[i] ? unacknowledged : neverRead)
                .append(device::channelLabel(i));
    }
    const QString separator = QStringLiteral(", ");
    QStringList parts;
    if (!neverRead.isEmpty())
        parts << tr("Channels %1 were never read from the chip").arg(neverRead.join(separator));
    if (!unacknowledged.isEmpty()) {
        parts << (parts.isEmpty() ? tr("Channels %1 were not acknowledged by the chip")
                                  : tr("channels %1 were not acknowledged by it"))
                     .arg(unacknowledged.join(separator));
    }
    return parts.join(tr(", and "));
}

bool MainController::refuseUnknownBurn(const QString &title)
{
    if (m_model.unknownChannels().isEmpty())
        return false;
    m_prompts.showError(title, tr("%1, so their codes are not known. Read DAC first; nothing was "
                                  "burned.")
                                   .arg(unknownCodesText()));
    return true;
}

void MainController::changeAddress()
{
    runCommand(m_operations.busThread(), tr("Change Address"), Cancel::Allowed,
               [this] { switchChip(); });
}

void MainController::switchChip()
{
    m_model.a0Pin = m_model.a0Pin == QLatin1String("0") ? QStringLiteral("1") : QStringLiteral("0");
    emit changeAddressLookChanged();
    m_model.vsup = m_model.vrefHigh[m_model.a0Index()];
    m_grid.showVsup();
    readAllRegisters();
}

void MainController::showAbout()
{
    m_prompts.showMessage(aboutTitle(), aboutText());
}

QString MainController::changeAddressCaption() const
{
    return QStringLiteral("Change Address\r\nA0= %1 ")
        .arg(m_model.a0Pin == QLatin1String("1") ? 1 : 0);
}

Rgb MainController::changeAddressColour() const
{
    if (m_model.a0Pin == QLatin1String("1"))
        return {192, 192, 255}; // light blue
    return {255, 128, 128};     // light red
}

QString MainController::aboutTitle()
{
    return QStringLiteral("KALVENTA Program.");
}

QString MainController::aboutText()
{
    return QStringLiteral(
               "KALVENTA Eval Software  Rev. %1.%2.%3\r\nKALVENTA evaluation software team\r\n"
               "Free software under the MIT licence.")
        .arg(version::major)
        .arg(version::minor)
        .arg(version::revision);
}

QString MainController::fileFilters()
{
    return QStringLiteral("Csv Files (*.csv);;All Files (*)");
}

void MainController::rememberFolderOf(const QString &path)
{
    m_model.lastFileDir = device::folderOfPath(path);
    if (!m_settings.saveDefaultDir(m_model.lastFileDir))
        reportError(tr("The folder could not be remembered: %1").arg(m_settings.lastError()));
}

void MainController::reportError(const QString &text)
{
    m_prompts.showError(QStringLiteral("KALVENTA"), text);
}

void MainController::saveToFile(const QString &path)
{
    if (path.isEmpty())
        return;
    rememberFolderOf(path);
    if (!m_model.unknownChannels().isEmpty() &&
        !m_prompts.confirm(tr("Save to File"),
                           tr("%1: the file would get codes the chip may not hold.\n\nSave "
                              "anyway?")
                               .arg(unknownCodesText()))) {
        return;
    }
    device::RegisterSet set;
    set.vsup = m_model.vsup;
    for (int i = 1; i <= channelCount; ++i)
        set.codes[i - 1] = m_model.dacCode[i];
    QString error;
    if (!device::writeRegisterSetFile(path, set, &error)) {
        reportError(error);
        return;
    }
    rememberRecentFile(path);
}

void MainController::loadFromFile(const QString &path)
{
    if (path.isEmpty())
        return;
    rememberFolderOf(path);
    if (const std::optional<device::RegisterSet> set = readSetOrSay(path))
        sendSet(path, *set);
}

void MainController::offerFile(const QString &path)
{
    const auto offer = [this, path] {
        const std::optional<device::RegisterSet> set = readSetOrSay(path);
        if (!set)
            return;
        const QString question =
            tr("Write the 24 codes of %1 to the chip (A0 = %2)?\n\nThe chip's registers "
               "change at once; nothing is burned into OTP.")
                .arg(QDir::toNativeSeparators(path), m_model.a0Pin);
        if (!m_prompts.confirm(tr("Load From File"), question))
            return;
        rememberFolderOf(path);
        sendSet(path, *set);
    };
    // After the first read, so the question comes with the chip's codes on screen.
    if (BusThread *bus = m_operations.busThread())
        bus->whenFree(offer);
    else
        offer();
}

// The whole file is checked before anything changes, so a bad file sends nothing.
std::optional<device::RegisterSet> MainController::readSetOrSay(const QString &path)
{
    QString error;
    std::optional<device::RegisterSet> set = device::readRegisterSetFile(path, &error);
    if (!set)
        reportError(tr("%1\n\nNothing was sent to the chip.").arg(error));
    return set;
}

void MainController::sendSet(const QString &path, const device::RegisterSet &set)
{
    rememberRecentFile(path);
    runCommand(m_operations.busThread(), tr("Load From File"), Cancel::Allowed,
               [this, set] { m_grid.loadRegisterSet(set); });
}

QStringList MainController::recentFiles() const
{
    return m_settings.recentFiles();
}

void MainController::rememberRecentFile(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList paths = m_settings.recentFiles();
    paths.removeAll(absolute);
    paths.prepend(absolute);
    while (paths.size() > device::SettingsStore::recentFileLimit)
        paths.removeLast();
    // Only a convenience: a store that cannot take it loses nothing the user made.
    m_settings.saveRecentFiles(paths);
}

void MainController::saveSettingsAtExit()
{
    const port::PortSelection &selection = m_ports.selection();
    if (!m_settings.saveAtExit(m_model, {selection.portNumber, selection.bitRate}))
        reportError(tr("The settings could not be saved: %1").arg(m_settings.lastError()));
}

} // namespace control
