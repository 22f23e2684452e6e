// SPDX-License-Identifier: MIT
#pragma once

#include "control/controlpanel.h"

#include <QWidget>
#include <array>

class QGridLayout;
class QLabel;
class QScrollArea;
class QSlider;

namespace control {
class RegisterGrid;
}

namespace ui {

class VisibleThumbStyle;

// "Control Panel": a slider per channel with its voltage, code and caption beneath, and the
// voltage scale beside the tracks. Modeless, one instance; the model and the grid must outlive it.
// Escape closes it.
class ControlPanelWindow : public QWidget
{
    Q_OBJECT

public:
    ControlPanelWindow(device::DeviceModel &model, control::RegisterGrid &grid,
                       QWidget *parent = nullptr);

    // Loads the panel unless it is open already, then brings the window forward.
    void showPanel();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void addColumn(QGridLayout *layout, int column, int index);
    void showCode(int index, const QString &text);
    void mirrorPanel();
    void showPosition(int index, int position);
    void placeScale();

    control::ControlPanel m_panel;
    std::array<QSlider *, 26> m_sliders{};
    std::array<QLabel *, 26> m_voltageLabels{};
    std::array<QLabel *, 26> m_codeLabels{};
    std::array<QLabel *, control::ControlPanel::scaleMarkCount> m_scaleLabels{};
    QWidget *m_scaleArea = nullptr;
    QWidget *m_content = nullptr; // everything, inside a scroll area
    QScrollArea *m_scroll = nullptr;
    VisibleThumbStyle *m_thumbStyle = nullptr; // the sliders'; owned by the window
    bool m_sized = false;
};

} // namespace ui
