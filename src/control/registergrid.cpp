#include "control/registergrid.h"

#include "device/numbertext.h"

#include <cmath>

namespace control {

using device::channelCount;

RegisterGrid::RegisterGrid(device::DeviceModel &model, device::ChannelGlue &glue,
                           QObject *parent)
    : QObject(parent), m_model(model), m_glue(glue)
{
    // Until the first refresh the boxes hold their channel's label; the hexadecimal box the
    // label read as a number, in hexadecimal, then "h" ("c1h" for the "c" channels).
    for (int i = 1; i <= channelCount; ++i) {
        const QString label = device::channelLabel(i);
        m_voltageText[i] = label;
        const bool numeric = label.front().isDigit();
        m_hexText[i] = (numeric ? QString::number(label.toInt(), 16).toUpper() : label) +
                       QLatin1Char('h');
    }
}

void RegisterGrid::setVoltageText(int index, const QString &text)
{
    if (m_voltageText[index] == text)
        return;
    m_voltageText[index] = text;
    emit voltageTextChanged(index, text);
    voltageBoxChanged(index);
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

double RegisterGrid::displayedVoltage(int index) const
{
    const double code = m_model.dacCode[index];
    return code > 1023 ? m_model.vsup : m_model.voltageOfCode(code);
}

void RegisterGrid::refreshAllChannels()
{
    for (int i = 1; i <= channelCount; ++i) {
        setHexText(i, device::shownCode(m_model.dacCode[i]));
        m_model.channelVoltage[i] = displayedVoltage(i);
        setVoltageText(i, device::shownVoltage(m_model.channelVoltage[i]));
    }
    m_model.vrefHigh[m_model.a0Index()] = m_model.vsup;
    m_model.vrefLow[m_model.a0Index()] = 0;
    if (m_model.controlPanelOpen == 1 && m_refreshControlPanel)
        m_refreshControlPanel();
}

void RegisterGrid::parseChannelVoltage()
{
    const int s = m_model.selectedChannel;
    const double span = m_model.vsup - m_model.vlow;
    if (!(span > 0))
        return;
    // The program's own text for the current code means that code. Reading the truncated
    // millivolts back would move codes down whenever one code step is under 2 mV.
    if (m_voltageText[s] == device::shownVoltage(displayedVoltage(s))) {
        m_model.channelVoltage[s] = displayedVoltage(s);
        return;
    }
    double volts = device::leadingNumber(m_voltageText[s]);
    if (volts > m_model.vsup)
        volts = m_model.vsup;
    if (volts < m_model.vlow)
        volts = m_model.vlow;
    m_model.channelVoltage[s] = volts;
    m_model.dacCode[s] = std::floor(1024 * (volts - m_model.vlow) / span + 0.5);
}

void RegisterGrid::stepChannelCode(int step)
{
    const int s = m_model.selectedChannel;
    double &code = m_model.dacCode[s];
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
        m_glue.writeSelectedChannel();
    }
    setHexText(s, device::shownCode(m_model.dacCode[s]));
}

void RegisterGrid::voltageBoxChanged(int index)
{
    m_model.selectedChannel = index;
    parseChannelVoltage();
    m_glue.writeSelectedChannel();
}

void RegisterGrid::voltageBoxClicked(int index)
{
    m_model.selectedChannel = index;
}

void RegisterGrid::voltageBoxEdited(int index, const QString &text)
{
    setVoltageText(index, text);
}

void RegisterGrid::voltageBoxLeft(int index)
{
    m_model.selectedChannel = index;
    parseChannelVoltage();
    refreshAllChannels();
    m_glue.writeSelectedChannel();
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

void RegisterGrid::setControlPanelRefresh(std::function<void()> refresh)
{
    m_refreshControlPanel = std::move(refresh);
}

} // namespace control
