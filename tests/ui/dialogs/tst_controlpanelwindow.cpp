#include "controlfixture.h"
#include "ui/dialogs/controlpanelwindow.h"

#include <QLabel>
#include <QSlider>
#include <QTest>
#include <algorithm>

namespace {

// The program with every channel at one code, shown in the grid, and the control panel open.
struct PanelFixture : ControlFixture
{
    explicit PanelFixture(double code)
    {
        model.dacCode.fill(code);
        grid().refreshAllChannels();
        clearEvents();
        window.showPanel();
    }
    QSlider *slider(const QString &caption)
    {
        for (QSlider *slider : window.findChildren<QSlider *>()) {
            if (slider->accessibleName() == QStringLiteral("Channel ") + caption)
                return slider;
        }
        return nullptr;
    }

    ui::ControlPanelWindow window{model, grid()};
};

} // namespace

class TestControlPanelWindow : public QObject
{
    Q_OBJECT

private slots:
    void layout();
    void keysMoveTowardsTheirArrow_data();
    void keysMoveTowardsTheirArrow();
    void dragReachesChipWhenLetGo();
    void reopeningLoadsAgain();
};

void TestControlPanelWindow::layout()
{
    PanelFixture f(512);
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    QVERIFY(f.dacWrites().isEmpty());
    QVERIFY(f.window.width() <= 1366);

    QList<QSlider *> sliders = f.window.findChildren<QSlider *>();
    std::sort(sliders.begin(), sliders.end(),
              [](QSlider *a, QSlider *b) { return a->x() < b->x(); });
    QStringList captions;
    for (QSlider *slider : sliders)
        captions.append(slider->accessibleName().mid(8));
    QCOMPARE(captions, (QStringList{"1",   "2",   "3",  "4",  "5",  "6",  "7",  "8",
                                    "Vc1", "Vc2", "9",  "10", "11", "12", "13", "14",
                                    "15",  "16",  "17", "18", "19", "20", "21", "22"}));

    // The scale stands left of the tracks, full scale level with their tops.
    const QStringList marks{" 10", " 7.5", " 5", " 2.5", " 0"};
    QList<QLabel *> scale;
    for (QLabel *label : f.window.findChildren<QLabel *>()) {
        if (marks.contains(label->text()) && label->geometry().right() < sliders.first()->x())
            scale.append(label);
    }
    std::sort(scale.begin(), scale.end(), [](QLabel *a, QLabel *b) { return a->y() < b->y(); });
    QStringList shown;
    for (QLabel *label : scale)
        shown.append(label->text());
    QCOMPARE(shown, marks);
    const QRect track = sliders.first()->geometry();
    QVERIFY(scale.first()->geometry().center().y() < track.top() + track.height() / 8);
    QVERIFY(scale.last()->geometry().center().y() > track.bottom() - track.height() / 8);
}

void TestControlPanelWindow::keysMoveTowardsTheirArrow_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<double>("code");
    QTest::newRow("up") << int(Qt::Key_Up) << 513.0;
    QTest::newRow("page down") << int(Qt::Key_PageDown) << 507.0;
}

void TestControlPanelWindow::keysMoveTowardsTheirArrow()
{
    QFETCH(int, key);
    QFETCH(double, code);
    PanelFixture f(512);
    QTest::keyClick(f.slider(QStringLiteral("19")), Qt::Key(key));
    QCOMPARE(f.model.dacCode[21], code);
    QCOMPARE(f.chip0().dacRegister(0x14), quint16(code));
}

void TestControlPanelWindow::dragReachesChipWhenLetGo()
{
    PanelFixture f(0);
    QSlider *slider = f.slider(QStringLiteral("Vc2"));
    slider->setSliderDown(true);
    for (int height = 24; height <= 924; height += 100)
        slider->setSliderPosition(height);
    QCOMPARE(f.chip0().dacRegister(0x13), quint16(0)); // gathered while the bus is busy
    slider->setSliderDown(false);
    QCOMPARE(f.chip0().dacRegister(0x13), quint16(924));
    QCOMPARE(f.grid().hexText(20), QStringLiteral("39C"));
}

void TestControlPanelWindow::reopeningLoadsAgain()
{
    PanelFixture f(0);
    QSlider *slider = f.slider(QStringLiteral("3"));
    f.grid().voltageBoxEdited(3, QStringLiteral("5"));
    f.grid().voltageBoxLeft(3);
    QCOMPARE(slider->value(), 512); // the thumb's height is the code

    f.window.close();
    QCOMPARE(f.model.controlPanelOpen, 0);
    f.grid().voltageBoxEdited(3, QStringLiteral("7.5"));
    f.grid().voltageBoxLeft(3);
    f.window.showPanel();
    QCOMPARE(slider->value(), 768);
    QCOMPARE(f.model.controlPanelOpen, 1);
}

QTEST_MAIN(TestControlPanelWindow)
#include "tst_controlpanelwindow.moc"
