// SPDX-License-Identifier: MIT
#include "control/controlpanel.h"

#include "control/registergrid.h"
#include "device/numbertext.h"

#include <algorithm>
#include <cmath>

namespace control {

using device::channelCount;

ControlPanel::ControlPanel(device::DeviceModel &model, RegisterGrid &grid, QObject *parent)
    : QObject(parent), m_model(model), m_grid(grid)
{
    m_position.fill(bottomPosition);
    m_pendingTimer.setSingleShot(true);
    m_pendingTimer.setInterval(0);
    connect(&m_pendingTimer, &QTimer::timeout, this, &ControlPanel::flushPendingMove);
    // The grid asks only while controlPanelOpen is 1.
    connect(&m_grid, &RegisterGrid::controlPanelRefreshDue, this,
            &ControlPanel::refreshControlPanel);
}

ControlPanel::~ControlPanel()
{
    m_model.controlPanelOpen = 0;
}

void ControlPanel::open()
{
    refreshControlPanel();
    m_model.controlPanelOpen = 1;
}

void ControlPanel::close()
{
    flushPendingMove();
    m_model.controlPanelOpen = 0;
}

int ControlPanel::positionOfCode(double code)
{
    const double position = bottomPosition - code;
    if (!(position > topPosition)) // also a code that is not a number
        return topPosition;
    if (position > bottomPosition)
        return bottomPosition;
    return int(std::lround(position));
}

void ControlPanel::refreshControlPanel()
{
    for (int j = 1; j <= channelCount; ++j) {
        // A drag not yet written keeps its thumb under the hand.
        setPosition(j,
                    j == m_pendingIndex ? m_pendingPosition : positionOfCode(m_model.dacCode[j]));
        setCodeText(j, device::shownCode(m_model.dacCode[j]));
        setVoltageText(j, device::shownVoltage(m_model.channelVoltage[j]));
    }
    const double span = m_model.vsup - m_model.vlow;
    setScaleText(0, device::numberText(m_model.vsup));
    for (int quarter = 3; quarter >= 1; --quarter)
        setScaleText(4 - quarter, device::shownVoltage(m_model.vlow + quarter * span / 4));
    setScaleText(4, device::numberText(m_model.vlow));
}

void ControlPanel::sliderMoved(int index, int position)
{
    flushPendingMove();
    applyMove(index, position);
}

void ControlPanel::sliderDragged(int index, int position)
{
    if (index < 1 || index > channelCount)
        return;
    position = std::clamp(position, topPosition, bottomPosition);
    if (m_pendingIndex != 0 && m_pendingIndex != index)
        flushPendingMove();
    m_pendingIndex = index;
    m_pendingPosition = position;
    setPosition(index, position);
    if (!m_pendingTimer.isActive())
        m_pendingTimer.start();
}

void ControlPanel::sliderReleased(int)
{
    flushPendingMove();
}

void ControlPanel::flushPendingMove()
{
    m_pendingTimer.stop();
    if (m_pendingIndex == 0)
        return;
    const int index = m_pendingIndex;
    m_pendingIndex = 0;
    applyMove(index, m_pendingPosition);
}

void ControlPanel::applyMove(int index, int position)
{
    if (index < 1 || index > channelCount)
        return;
    position = std::clamp(position, topPosition, bottomPosition);
    m_model.dacCode[index] = bottomPosition - position;
    m_model.codeUnknown[index] = false; // the chip gets it now
    setCodeText(index, device::shownCode(m_model.dacCode[index]));
    m_model.selectedChannel = index;
    m_grid.writeSelectedChannel();
    m_grid.refreshAllChannels();
    refreshControlPanel();
}

void ControlPanel::setPosition(int index, int position)
{
    if (m_position[index] == position)
        return;
    m_position[index] = position;
    emit positionChanged(index, position);
}

void ControlPanel::setCodeText(int index, const QString &text)
{
    if (m_codeText[index] == text)
        return;
    m_codeText[index] = text;
    emit codeTextChanged(index, text);
}

void ControlPanel::setVoltageText(int index, const QString &text)
{
    if (m_voltageText[index] == text)
        return;
    m_voltageText[index] = text;
    emit voltageTextChanged(index, text);
}

void ControlPanel::setScaleText(int mark, const QString &text)
{
    if (m_scaleText[mark] == text)
        return;
    m_scaleText[mark] = text;
    emit scaleTextChanged(mark, text);
}

QString ControlPanel::caption(int index)
{
    if (index == 19)
        return QStringLiteral("Vc1");
    if (index == 20)
        return QStringLiteral("Vc2");
    return device::channelLabel(index);
}

const std::array<int, channelCount> &ControlPanel::columnOrder()
{
    static const std::array<int, channelCount> order{
        1, 2, 3, 4, 5, 6, 7, 8, 19, 20, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 24};
    return order;
}

} // namespace control
