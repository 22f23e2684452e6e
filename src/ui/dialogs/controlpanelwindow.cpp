// SPDX-License-Identifier: MIT
#include "ui/dialogs/controlpanelwindow.h"

#include "control/registergrid.h"
#include "ui/widgets/visiblethumbstyle.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

namespace ui {

using control::ControlPanel;

namespace {

constexpr int sliderRow = 0;
constexpr int voltageRow = 1;
constexpr int codeRow = 2;
constexpr int captionRow = 3;
constexpr int trackHeight = 300;
// The shortest a track gets in a short window, in lines of text: room for its five scale marks.
constexpr int shortestTrackLines = 6;

QLabel *makeCentredLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// Where the centre of a slider's thumb sits for a value, in the slider's own coordinates. The
// option is filled as the slider paints itself, so the scale follows any style.
int thumbCentre(const QSlider *slider, int value)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    option.tickPosition = slider->tickPosition();
    option.tickInterval = slider->tickInterval();
    option.upsideDown = !slider->invertedAppearance(); // vertical tracks run bottom-up
    option.sliderPosition = value;
    option.sliderValue = value;
    option.subControls = QStyle::SC_SliderHandle;
    return slider->style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
        .center()
        .y();
}

} // namespace

ControlPanelWindow::ControlPanelWindow(device::DeviceModel &model, control::RegisterGrid &grid,
                                       QWidget *parent)
    : QWidget(parent, Qt::Window), m_panel(model, grid)
{
    setWindowTitle(QStringLiteral("Control Panel"));

    // The panel scrolls sideways inside its window, so it fits a narrow screen. It never
    // scrolls up or down: a short window shortens the tracks instead, and the rows under them,
    // the captions among them, stay in sight.
    m_content = new QWidget;
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(m_scroll);
    m_thumbStyle = new VisibleThumbStyle;
    m_thumbStyle->setParent(this);
    auto *layout = new QGridLayout(m_content);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(6);

    m_scaleArea = new QWidget(m_content);
    layout->addWidget(m_scaleArea, sliderRow, 0);
    for (QLabel *&label : m_scaleLabels) {
        label = new QLabel(m_content);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    layout->addWidget(new QLabel(QStringLiteral("Vout"), m_content), voltageRow, 0);
    layout->addWidget(new QLabel(QStringLiteral("Code "), m_content), codeRow, 0);
    layout->addWidget(new QLabel(QStringLiteral("Channel"), m_content), captionRow, 0);

    int column = 1;
    const auto &order = ControlPanel::columnOrder();
    for (int k = 0; k < int(order.size()); ++k) {
        if (k == ControlPanel::firstGroupSize) {
            auto *divider = new QFrame(m_content);
            divider->setFrameShape(QFrame::VLine);
            divider->setFrameShadow(QFrame::Sunken);
            layout->addWidget(divider, sliderRow, column, captionRow + 1, 1);
            ++column;
        }
        addColumn(layout, column++, order[k]);
    }

    m_scroll->setWidget(m_content);

    // The scale follows the tracks wherever the layout puts them.
    m_sliders[order.front()]->installEventFilter(this);
    m_scaleArea->installEventFilter(this);

    connect(&m_panel, &ControlPanel::positionChanged, this,
            [this](int index, int position) { showPosition(index, position); });
    connect(&m_panel, &ControlPanel::codeTextChanged, this,
            [this](int index, const QString &text) { showCode(index, text); });
    connect(&m_panel, &ControlPanel::voltageTextChanged, this,
            [this](int index, const QString &text) { m_voltageLabels[index]->setText(text); });
    connect(&m_panel, &ControlPanel::scaleTextChanged, this, [this](int mark, const QString &text) {
        m_scaleLabels[mark]->setText(text);
        placeScale();
    });
}

void ControlPanelWindow::addColumn(QGridLayout *layout, int column, int index)
{
    auto *slider = new QSlider(Qt::Vertical, m_content);
    // The slider's value is the thumb's height above the bottom, bottomPosition - position:
    // full scale at the top, up keys, page keys and the wheel raise the voltage, and the style
    // fills the track below the thumb like a level.
    slider->setRange(ControlPanel::topPosition, ControlPanel::bottomPosition);
    slider->setSingleStep(1);
    slider->setPageStep(5);
    slider->setTickPosition(QSlider::TicksLeft);
    slider->setTickInterval(ControlPanel::bottomPosition / 4);
    slider->setMinimumHeight(shortestTrackLines * fontMetrics().height());
    slider->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    slider->setStyle(m_thumbStyle);
    slider->setAccessibleName(tr("Channel %1").arg(ControlPanel::caption(index)));
    m_sliders[index] = slider;

    const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral(" 10.000"));
    m_voltageLabels[index] = makeCentredLabel(QString(), m_content);
    m_voltageLabels[index]->setMinimumWidth(labelWidth);
    m_codeLabels[index] = makeCentredLabel(QString(), m_content);

    layout->addWidget(slider, sliderRow, column, Qt::AlignHCenter);
    layout->addWidget(m_voltageLabels[index], voltageRow, column);
    layout->addWidget(m_codeLabels[index], codeRow, column);
    layout->addWidget(makeCentredLabel(ControlPanel::caption(index), m_content), captionRow,
                      column);

    // A drag may run ahead of the bus; single steps (keys, clicks on the track, the wheel) are
    // written as they come.
    connect(slider, &QSlider::valueChanged, this, [this, index, slider](int height) {
        const int position = ControlPanel::bottomPosition - height;
        if (slider->isSliderDown())
            m_panel.sliderDragged(index, position);
        else
            m_panel.sliderMoved(index, position);
    });
    connect(slider, &QSlider::sliderReleased, this,
            [this, index] { m_panel.sliderReleased(index); });
}

void ControlPanelWindow::showPanel()
{
    if (!m_panel.isOpen()) {
        m_panel.open();
        mirrorPanel();
    }
    // Never shorter than the panel's shortest tracks and the rows under them, with room for the
    // sideways scroll bar: nothing scrolls out of sight upwards or downwards.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    m_scroll->setMinimumHeight(m_content->minimumSizeHint().height() + bar);
    if (!m_sized) {
        m_sized = true;
        // The tracks at their full height when the screen has room for it.
        const QSlider *reference = m_sliders[ControlPanel::columnOrder().front()];
        const int shortest = reference->sizeHint().expandedTo(reference->minimumSize()).height();
        const QSize whole =
            m_content->sizeHint() + QSize(2, bar + std::max(0, trackHeight - shortest));
        const QScreen *room = screen();
        resize(room ? whole.boundedTo(room->availableGeometry().size() - QSize(40, 60)) : whole);
        // Below the main window where the screen has room, not over its buttons.
        const QWidget *main = parentWidget() ? parentWidget()->window() : nullptr;
        if (room && main) {
            const QRect beside = main->frameGeometry();
            if (beside.bottom() + height() < room->availableGeometry().bottom())
                move(beside.left(), beside.bottom() + 1);
        }
    }
    show();
    raise();
    activateWindow();
}

// Codes read as hexadecimal with the "h" the main window puts after them.
void ControlPanelWindow::showCode(int index, const QString &text)
{
    m_codeLabels[index]->setText(text.isEmpty() ? text : text + u'h');
}

void ControlPanelWindow::mirrorPanel()
{
    for (int index : ControlPanel::columnOrder()) {
        showPosition(index, m_panel.position(index));
        m_voltageLabels[index]->setText(m_panel.voltageText(index));
        showCode(index, m_panel.codeText(index));
    }
    for (int mark = 0; mark < ControlPanel::scaleMarkCount; ++mark)
        m_scaleLabels[mark]->setText(m_panel.scaleText(mark));
    placeScale();
}

void ControlPanelWindow::placeScale()
{
    int widest = 0;
    for (QLabel *label : m_scaleLabels)
        widest = std::max(widest, label->sizeHint().width());
    if (m_scaleArea->minimumWidth() != widest)
        m_scaleArea->setMinimumWidth(widest); // relayouts, and comes back here

    const QSlider *reference = m_sliders[ControlPanel::columnOrder().front()];
    const int left = m_scaleArea->mapTo(m_content, QPoint(0, 0)).x();
    for (int mark = 0; mark < ControlPanel::scaleMarkCount; ++mark) {
        QLabel *label = m_scaleLabels[mark];
        const int value = ControlPanel::bottomPosition - mark * ControlPanel::bottomPosition / 4;
        const int centre =
            reference->mapTo(m_content, QPoint(0, thumbCentre(reference, value))).y();
        const int height = label->sizeHint().height();
        label->setGeometry(left, centre - height / 2, m_scaleArea->width(), height);
    }
}

void ControlPanelWindow::showPosition(int index, int position)
{
    const QSignalBlocker blocker(m_sliders[index]);
    m_sliders[index]->setValue(ControlPanel::bottomPosition - position);
}

void ControlPanelWindow::keyPressEvent(QKeyEvent *event)
{
    // As a dialog's Escape; the sliders leave the key to the window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ControlPanelWindow::closeEvent(QCloseEvent *event)
{
    m_panel.close();
    QWidget::closeEvent(event);
}

bool ControlPanelWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
        placeScale();
    return QWidget::eventFilter(watched, event);
}

} // namespace ui
