// SPDX-License-Identifier: MIT
#pragma once

#include "device/devicemodel.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>

namespace control {

class RegisterGrid;

// The control panel behind its window: one slider per channel, each with its code and voltage,
// and a voltage scale beside them. A slider's position is 1024 - code, so position 0 (the top)
// is full scale and the bottom is code 0. The positions and texts live here; the window mirrors
// them and forwards the user's moves. Positions set by a refresh show what the model holds and
// write nothing. Channel indices run 1 to 24.
class ControlPanel : public QObject
{
    Q_OBJECT

public:
    static constexpr int topPosition = 0;
    static constexpr int bottomPosition = 1024;
    static constexpr int scaleMarkCount = 5; // top, three quarter marks, bottom

    // The panel must not outlive the grid: it hooks itself into the grid's refresh.
    ControlPanel(device::DeviceModel &model, RegisterGrid &grid, QObject *parent = nullptr);
    ~ControlPanel() override;

    // The window's load and unload. The panel counts as open only after its first refresh.
    void open();
    void close();
    bool isOpen() const { return m_model.controlPanelOpen == 1; }

    // Sets every position and label from the model.
    void refreshControlPanel();

    int position(int index) const { return m_position[index]; }
    QString codeText(int index) const { return m_codeText[index]; }
    QString voltageText(int index) const { return m_voltageText[index]; }
    // Mark 0 is the top of the track, 4 the bottom.
    QString scaleText(int mark) const { return m_scaleText[mark]; }

    // A single step of the user (arrow or page key, a click on the track, the wheel): written
    // at once.
    void sliderMoved(int index, int position);
    // One position of a drag. While the bus is busy the hand runs ahead, so positions are
    // gathered and only the newest is written once control returns to the event loop.
    void sliderDragged(int index, int position);
    // The thumb is let go: the newest position of the drag reaches the chip now.
    void sliderReleased(int index);
    bool hasPendingMove() const { return m_pendingIndex != 0; }

    // Window layout: caption of each channel's column, and the columns left to right in two
    // groups ("1" to "8", "Vc1" | "Vc2", "9" to "22").
    static QString caption(int index);
    static const std::array<int, device::channelCount> &columnOrder();
    static constexpr int firstGroupSize = 9;

    // Where a code sits on the track. Codes outside 0 to 1024 (a chip that does not answer, a
    // file) have no position of their own and show at the nearer end.
    static int positionOfCode(double code);

signals:
    void positionChanged(int index, int position);
    void codeTextChanged(int index, const QString &text);
    void voltageTextChanged(int index, const QString &text);
    void scaleTextChanged(int mark, const QString &text);

private:
    void applyMove(int index, int position);
    void flushPendingMove();
    void setPosition(int index, int position);
    void setCodeText(int index, const QString &text);
    void setVoltageText(int index, const QString &text);
    void setScaleText(int mark, const QString &text);

    device::DeviceModel &m_model;
    RegisterGrid &m_grid;
    std::array<int, 26> m_position{};
    std::array<QString, 26> m_codeText;
    std::array<QString, 26> m_voltageText;
    std::array<QString, scaleMarkCount> m_scaleText;
    // The newest dragged position not yet written; index 0 when there is none.
    int m_pendingIndex = 0;
    int m_pendingPosition = 0;
    QTimer m_pendingTimer;
};

} // namespace control
