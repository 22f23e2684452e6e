// SPDX-License-Identifier: MIT
#include "control/registergrid.h"

#include "control/busthread.h"
#include "control/chipoperations.h"
#include "device/numbertext.h"
#include "device/registersetfile.h"

#include <algorithm>
#include <cmath>

namespace control {

using device::channelCount;

RegisterGrid::RegisterGrid(device::DeviceModel &model, ChipOperations &operations, QObject *parent)
    : QObject(parent), m_model(model), m_operations(operations)
{
    // Until the first refresh the boxes hold their channel's label; the hexadecimal box the
    // label read as a number, in hexadecimal, then "h" ("c1h" for the "c" channels).
    for (int i = 1; i <= channelCount; ++i) {
        const QString label = device::channelLabel(i);
        m_voltageText[i] = label;
        const bool numeric = label.front().isDigit();
        m_hexText[i] =
            (numeric ? QString::number(label.toInt(), 16).toUpper() : label) + QLatin1Char('h');
    }
    if (BusThread *bus = m_operations.busThread())
        connect(bus, &BusThread::idle, this, &RegisterGrid::sendHeldWrites);
}

void RegisterGrid::setVoltageText(int index, const QString &text)
{
    if (showVoltageText(index, text))
        voltageBoxChanged(index);
}

bool RegisterGrid::showVoltageText(int index, const QString &text)
{
    if (m_voltageText[index] == text)
        return false;
    m_voltageText[index] = text;
    emit voltageTextChanged(index, text);
    return true;
}

void RegisterGrid::setHexText(int index, const QString &text)
{
    if (m_hexText[index] == text)
        return;
    m_hexText[index] = text;
    emit hexTextChanged(index, text);
}

void RegisterGrid::setVsupText(const QString &text)
{
    if (m_vsupText == text)
        return;
    m_vsupText = text;
    emit vsupTextChanged(text);
}

void RegisterGrid::setMaxBankText(const QString &text)
{
    if (m_maxBankText == text)
        return;
    m_maxBankText = text;
    emit maxBankTextChanged(text);
}

void RegisterGrid::writeSelectedChannel()
{
    const int s = m_model.selectedChannel;
    // After a cancel, the writes of a refresh are skipped: each would only send back a code the
    // chip was just found or made to hold, seconds on a slow adapter.
    if (m_refreshing && m_operations.stopRequested() && !m_operations.transactionUnderWay())
        return;
    if (!m_operations.transactionUnderWay()) {
        write(s, m_model.a0Pin, m_model.dacCode[s]);
        return;
    }
    const HeldWrite write{s, m_model.a0Pin, m_model.dacCode[s]};
    const auto same = std::find_if(m_heldWrites.begin(), m_heldWrites.end(),
                                   [s](const HeldWrite &held) { return held.index == s; });
    if (same != m_heldWrites.end())
        *same = write;
    else
        m_heldWrites.append(write);
}

// The held codes are the user's newest: the chip gets them after whatever ran meanwhile, so
// the grid shows them too, even where that run (a read) showed another code.
void RegisterGrid::sendHeldWrites()
{
    if (m_heldWrites.isEmpty())
        return;
    while (!m_heldWrites.isEmpty() && !m_operations.busThread()->busy()) {
        const HeldWrite write = m_heldWrites.takeFirst();
        if (write.a0Pin == m_model.a0Pin) {
            const int i = write.index;
            m_model.dacCode[i] = write.code;
            m_model.codeUnknown[i] = false;
            m_model.channelVoltage[i] = m_model.displayedVoltage(write.code);
            // Shown without the box's change handling: the write below is that handling.
            showVoltageText(i, device::shownVoltage(m_model.channelVoltage[i]));
            setHexText(i, device::shownCode(write.code));
        }
        this->write(write.index, write.a0Pin, write.code);
    }
    if (m_model.controlPanelOpen == 1)
        emit controlPanelRefreshDue();
}

// A code that no chip acknowledged on a working port is no chip's: the channel is unknown until
// it is written or read again, and its boxes say so; the status bar says why. (Without a port
// the status bar says so already.)
void RegisterGrid::write(int index, const QString &a0Pin, double code)
{
    const OperationResult written = m_operations.writeChannel(a0Pin, index, code);
    if (!written.chipAnswered && m_operations.portOpen() && a0Pin == m_model.a0Pin) {
        m_model.codeUnknown[index] = true;
        m_model.writeUnacknowledged[index] = true;
        showUnknown(index);
    }
}

void RegisterGrid::forgetAllCodes()
{
    for (int i = 1; i <= channelCount; ++i) {
        m_model.codeUnknown[i] = true;
        m_model.writeUnacknowledged[i] = false;
        showUnknown(i);
    }
}

void RegisterGrid::showUnknown(int index)
{
    showVoltageText(index, QString());
    setHexText(index, QString());
}

void RegisterGrid::refreshAllChannels()
{
    const bool outer = !std::exchange(m_refreshing, true);
    QList<int> changed;
    for (int i = 1; i <= channelCount; ++i) {
        if (m_model.codeUnknown[i]) {
            showUnknown(i);
            continue;
        }
        setHexText(i, device::shownCode(m_model.dacCode[i]));
        m_model.channelVoltage[i] = m_model.displayedVoltage(m_model.dacCode[i]);
        if (showVoltageText(i, device::shownVoltage(m_model.channelVoltage[i])))
            changed.append(i);
    }
    // Every box shows its new text before the change handling writes the channels in order:
    // a box's handling touches only its own channel, and on a slow adapter the writes take
    // seconds.
    for (int i : std::as_const(changed))
        voltageBoxChanged(i);
    if (outer)
        m_refreshing = false;
    m_model.vrefHigh[m_model.a0Index()] = m_model.vsup;
    m_model.vrefLow[m_model.a0Index()] = 0;
    if (m_model.controlPanelOpen == 1)
        emit controlPanelRefreshDue();
}

void RegisterGrid::parseChannelVoltage()
{
    const int s = m_model.selectedChannel;
    if (!(m_model.vsup > m_model.vlow))
        return;
    m_model.codeUnknown[s] = false;
    // The program's own text for the current code means that code. Reading the truncated
    // millivolts back would move codes down whenever one code step is under 2 mV. Only a whole
    // code the chip can take counts: anything else (a fraction, a negative code, a silent
    // chip's 65535) is read back from its text, so the model ends up with what the chip got.
    const double code = m_model.dacCode[s];
    const double shown = m_model.displayedVoltage(code);
    const bool holdable = code >= 0 && code <= 1024 && code == std::floor(code);
    if (holdable && m_voltageText[s] == device::shownVoltage(shown)) {
        m_model.channelVoltage[s] = shown;
        return;
    }
    const double volts = device::leadingNumber(m_voltageText[s]);
    m_model.channelVoltage[s] = std::clamp(volts, m_model.vlow, m_model.vsup);
    m_model.dacCode[s] = m_model.codeOfVoltage(volts);
}

void RegisterGrid::loadRegisterSet(const device::RegisterSet &set)
{
    m_model.vsup = set.vsup;
    showVsup();
    m_operations.loadCodes(m_model.a0Pin, set.codes, [this, &set](int index, bool answered) {
        m_model.dacCode[index] = set.codes[std::size_t(index - 1)];
        m_model.codeUnknown[index] = !answered;
        m_model.writeUnacknowledged[index] = !answered;
        m_model.selectedChannel = index;
        refreshAllChannels();
    });
    refreshAllChannels();
}

void RegisterGrid::showReading(const ChipReading &reading, bool withMaxBank)
{
    for (int i = 1; i <= channelCount; ++i) {
        m_model.codeUnknown[i] = !reading.wasRead(i);
        m_model.writeUnacknowledged[i] = false;
        if (reading.wasRead(i))
            m_model.dacCode[i] = reading.word(i);
    }
    if (withMaxBank) {
        const bool maxBankRead =
            reading.portHeld() && !reading.cancelled && reading.maxBankAnswered;
        setMaxBankText(maxBankRead ? QString::number(reading.maxBank) : QString());
    }
    refreshAllChannels();
}

void RegisterGrid::showBurn(const BurnResult &burned)
{
    const std::optional<int> maxBank =
        burned.started() ? burned.maxBankAfter : burned.maxBankBefore;
    setMaxBankText(maxBank ? QString::number(*maxBank) : QString());
    if (burned.resetSent)
        showReading(burned.readBack, false);
}

void RegisterGrid::showVsup()
{
    setVsupText(device::numberText(m_model.vsup));
}

void RegisterGrid::stepChannelCode(int step)
{
    const int s = m_model.selectedChannel;
    double &code = m_model.dacCode[s];
    if (m_model.codeUnknown[s] && !readUnknownChannel(s))
        return;
    const double before = code;
    code += step;
    if (step < 0 && code < 0)
        code = 0;
    if (step > 0 && code > 1023)
        code = 1023;
    m_model.channelVoltage[s] = m_model.voltageOfCode(code);
    const QString text = device::shownVoltage(m_model.channelVoltage[s]);
    if (text != m_voltageText[s]) {
        setVoltageText(s, text);
    } else if (code != before) {
        // Two codes can share a millivolt text when a step is under 1 mV; the chip must still
        // get the code the hexadecimal box is about to show.
        writeSelectedChannel();
    }
    setHexText(s, device::shownCode(m_model.dacCode[s]));
    panelFollows();
}

// The control panel shows what the chip holds after every change, whatever made it: a slider
// left behind would step from a stale code.
void RegisterGrid::panelFollows()
{
    if (m_model.controlPanelOpen == 1)
        emit controlPanelRefreshDue();
}

// A step goes one code from what the chip holds. An unknown channel is read first: its model
// code may be anything (another chip's, a cancelled read's), and a step from there could jump
// the output by volts. One that cannot be read is not stepped; the status bar says why.
bool RegisterGrid::readUnknownChannel(int index)
{
    const ChannelReading reading = m_operations.readChannel(m_model.a0Pin, index);
    if (!reading.portHeld() || reading.busHeld || !reading.chipAnswered)
        return false;
    m_model.dacCode[index] = reading.word;
    m_model.codeUnknown[index] = false;
    return true;
}

void RegisterGrid::voltageBoxChanged(int index)
{
    m_model.selectedChannel = index;
    parseChannelVoltage();
    writeSelectedChannel();
}

void RegisterGrid::voltageBoxClicked(int index)
{
    m_model.selectedChannel = index;
}

void RegisterGrid::voltageBoxEdited(int index, const QString &text)
{
    setVoltageText(index, text);
    panelFollows();
}

void RegisterGrid::voltageBoxLeft(int index)
{
    m_model.selectedChannel = index;
    // Passing through an unknown channel's empty box gives it no value.
    if (m_model.codeUnknown[index] && m_voltageText[index].isEmpty())
        return;
    const QString typed = m_voltageText[index].trimmed();
    parseChannelVoltage();
    refreshAllChannels();
    writeSelectedChannel();
    // With Vsup at or below the low reference every code gives the same voltage: a typed
    // voltage falls back to it, which would look like the box ignoring the user.
    if (m_model.vsup <= m_model.vlow && !typed.isEmpty() &&
        device::leadingNumber(typed) != m_model.vlow)
        emit hint(tr("Vsup is %1 V: every code gives %2 V, so a voltage cannot be set. Enter "
                     "Vsup first.")
                      .arg(device::numberText(m_model.vsup).trimmed(),
                           device::numberText(m_model.vlow).trimmed()));
}

void RegisterGrid::vsupBoxEdited(const QString &text)
{
    setVsupText(text);
}

void RegisterGrid::vsupBoxLeft()
{
    m_model.vsup = device::leadingNumber(m_vsupText);
    refreshAllChannels();
}

void RegisterGrid::maxBankBoxEdited(const QString &text)
{
    setMaxBankText(text);
}

} // namespace control
