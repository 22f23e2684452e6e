// SPDX-License-Identifier: MIT
#include "control/portchipchecks.h"
#include "control/portmodes.h"
#include "control/portsettingscontroller.h"
#include "controlfixture.h"
#include "fakecomport.h"
#include "ui/dialogs/controlpanelwindow.h"
#include "ui/dialogs/otpdialog.h"
#include "ui/dialogs/portsettingsdialog.h"
#include "ui/widgets/spinarrows.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <algorithm>

using control::PortSettingsController;
using port::OpenResult;

namespace {

// The program's port state on the simulated board, present at the given numbers, probed once.
struct Ports
{
    Ports(const QList<int> &present, int portNumber, qint32 bitRate)
    {
        stack::PortRouting routing{missingDevicePorts(dir), false, {}};
        for (int n : present) {
            port::PortOverride board;
            board.portNumber = n;
            board.simulated = true;
            routing.overrides.append(board);
        }
        stack.route(routing);
        manager.setYieldFunction([] {});
        manager.probeComPorts();
        manager.setPortNumber(qint16(portNumber));
        manager.setBitRate(bitRate);
    }

    int openPort() const { return manager.comPort().openPortNumber(); }

    QTemporaryDir dir;
    stack::BusStack stack;
    port::PortManager &manager = stack.ports();
    const port::PortMap &map = stack.portMap();
};

QStringList names(const PortSettingsController &controller)
{
    QStringList result;
    for (const PortSettingsController::PortEntry &entry : controller.portEntries())
        result.append(entry.name);
    return result;
}

// The ports offered, the rows selected, the bit rate in force and the status text.
QString shown(const PortSettingsController &controller, const port::PortManager &manager)
{
    return QStringLiteral("%1 | rows %2 %3 | %4 | %5")
        .arg(names(controller).join(u' '))
        .arg(controller.selectedPortRow())
        .arg(controller.selectedBitRateRow())
        .arg(manager.bitRate())
        .arg(controller.statusText());
}

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

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void portDialogFindsTheChipsAndChecksTheWiring_data()
    {
        using Dsr = sim::SimulatedBoard::DsrWiring;
        QTest::addColumn<bool>("chip0Present");
        QTest::addColumn<Dsr>("dsr");
        QTest::addColumn<QString>("wiring");
        QTest::addColumn<QString>("chips");
        QTest::addColumn<bool>("offered");
        QTest::newRow("all fine") << true << Dsr::Normal << "COM1: Wiring fine"
                                  << "A0 = 0: a chip answered. A0 = 1: a chip answered." << false;
        QTest::newRow("only the other chip")
            << false << Dsr::Normal << "COM1: Wiring fine"
            << "A0 = 0: no answer. A0 = 1: a chip answered." << true;
        QTest::newRow("no DSR") << true << Dsr::Missing << "COM1: No DSR"
                                << "No chip answered" << false;
        // An idle bus reads as SDA low: nothing can answer, and no A0 is offered.
        QTest::newRow("DSR inverted") << true << Dsr::Inverted << "COM1: DSR is inverted"
                                      << "SDA is held low" << false;
        QTest::newRow("DSR stuck asserted") << true << Dsr::StuckAsserted << "COM1: SDA stuck low"
                                            << "SDA is held low" << false;
    }

    void portDialogFindsTheChipsAndChecksTheWiring()
    {
        QFETCH(bool, chip0Present);
        QFETCH(sim::SimulatedBoard::DsrWiring, dsr);
        QFETCH(QString, wiring);
        QFETCH(QString, chips);
        QFETCH(bool, offered);
        ControlFixture f;
        f.board.setChipPresent(0, chip0Present);
        f.board.setDsrWiring(dsr);
        f.prompts.answerYes = true;
        PortSettingsController controller(f.stack.ports(), f.stack.portMap());
        controller.load();
        control::PortChipChecks checks(f.stack.ports(), *f.operations, QStringLiteral("0"),
                                       f.prompts);
        controller.attachChecks(checks);
        QVERIFY2(checks.wiringText().startsWith(wiring), qPrintable(checks.wiringText()));
        checks.findChips();
        QVERIFY2(checks.chipsText().contains(chips), qPrintable(checks.chipsText()));
        QCOMPARE(checks.switchA0Chosen(), offered);
        QCOMPARE(f.prompts.questions.size(), int(offered));
        QVERIFY(f.chip0().events().isEmpty() && f.board.chip(1).events().isEmpty());
    }

    void skipIdleWritesIsRememberedAndReopensThePort()
    {
        ControlFixture f;
        control::PortModes modes(f.stack.mappedPort(), f.settings);
        modes.apply();
        PortSettingsController controller(f.stack.ports(), f.stack.portMap());
        controller.load();
        controller.attachModes(modes);
        QVERIFY(!controller.fastModeAvailable() && !controller.isUsbAdapter());
        QVERIFY(!controller.skipIdleWrites()); // the board is no USB adapter
        QSignalSpy opened(&f.stack.ports(), &port::PortManager::portOpened);
        for (bool on : {true, false}) {
            controller.setSkipIdleWrites(on);
            QCOMPARE(opened.size(), on ? 1 : 2);
            QCOMPARE(f.stack.mappedPort().skipsIdleWrites(), on);
            QCOMPARE(controller.skipIdleWrites(), on);
            QCOMPARE(controller.statusText(), QString());
            // Routing drops the map's modes; a fresh store and modes bring the choice back.
            f.stack.route({missingDevicePorts(f.dir), true, {}});
            device::SettingsStore store(f.settings.location());
            control::PortModes fresh(f.stack.mappedPort(), store);
            fresh.apply();
            QCOMPARE(fresh.skipIdleWrites(1), on);
        }
    }

    void portSettingsLoad_data()
    {
        QTest::addColumn<QList<int>>("present");
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<QString>("expected");
        // A row of -1 selects nothing.
        QTest::newRow("first run")
            << QList<int>{1} << 0 << 0 << "COM1 | rows -1 1 | 9600 | Please select a COM port.";
        QTest::newRow("stored port gone") << QList<int>{1, 3} << 5 << 9600
                                          << "COM1 COM3 | rows -1 1 | 9600 | COM5 is unavailable. "
                                             "Please select a different port.";
        QTest::newRow("stored port present")
            << QList<int>{1, 3, 12} << 12 << 38400 << "COM1 COM3 COM12 | rows 2 4 | 38400 | ";
        QTest::newRow("no ports at all")
            << QList<int>{} << 1 << 9600
            << " | rows -1 1 | 9600 | No serial port was found. Plug the adapter in; if it is, "
               "your user may lack access to it. \"kalventa --simulate\" runs the program on a "
               "simulated board.";
        QTest::newRow("rate not offered")
            << QList<int>{1} << 1 << 57600 << "COM1 | rows 0 -1 | 57600 | ";
    }

    void portSettingsLoad()
    {
        QFETCH(QList<int>, present);
        QFETCH(int, portNumber);
        QFETCH(int, bitRate);
        QFETCH(QString, expected);

        Ports ports(present, portNumber, bitRate);
        PortSettingsController controller(ports.manager, ports.map);
        controller.load();
        QCOMPARE(shown(controller, ports.manager), expected);
        QCOMPARE(ports.openPort(), 0); // loading opens nothing
    }

    void refusedPortsAreExplained()
    {
        FakeComPort com;
        com.results = {
            {1, OpenResult::Opened}, {4, OpenResult::NoPermission}, {6, OpenResult::Busy}};
        QTemporaryDir dir;
        port::PortMap map;
        map.mapToDevice(4, dir.filePath(QStringLiteral("ttyUSB-forbidden")));
        port::PortManager manager(com);
        manager.setYieldFunction([] {});
        manager.probeComPorts();
        manager.setPortNumber(4);

        PortSettingsController controller(manager, map);
        controller.load();
        QCOMPARE(names(controller), (QStringList{"COM1", "COM6"}));
        const QStringList lines = controller.statusText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("COM4 is unavailable. Please select a different port."));
        QVERIFY(lines[1].startsWith(QStringLiteral("You may not open COM4 (%1).")
                                        .arg(dir.filePath(QStringLiteral("ttyUSB-forbidden")))));
        QVERIFY(lines[1].contains(QStringLiteral("\"dialout\"")));

        // Held by another program, now and on the next try; a working port brings back the load's
        // message, which stays until the window closes.
        for (int attempt = 0; attempt < 2; ++attempt) {
            controller.choosePort(1);
            QCOMPARE(controller.statusText(),
                     QStringLiteral("COM6 could not be opened: another program is using it."));
        }
        controller.choosePort(0);
        QCOMPARE(com.openPortNumber(), 1);
        QCOMPARE(controller.statusText(), lines.join(QLatin1Char('\n')));
    }

    void portChoicesTakeEffectAtOnce()
    {
        Ports ports({1, 12}, 1, 19200);
        ports.manager.openSelectedComPort();
        QSignalSpy opened(&ports.manager, &port::PortManager::portOpened);
        ui::PortSettingsDialog dialog(ports.manager, ports.map);
        dialog.show();
        auto *portCombo = dialog.findChild<QComboBox *>(QStringLiteral("portCombo"));
        auto *rateCombo = dialog.findChild<QComboBox *>(QStringLiteral("bitRateCombo"));
        QCOMPARE(portCombo->count(), 2);
        QCOMPARE(portCombo->currentText(), QStringLiteral("COM1  simulated evaluation board"));
        QCOMPARE(rateCombo->currentText(), QStringLiteral("19200"));
        QVERIFY(opened.isEmpty()); // showing what is in force re-opens nothing

        QTest::keyClick(portCombo, Qt::Key_Down);
        QCOMPARE(ports.openPort(), 12);
        QTest::keyClick(rateCombo, Qt::Key_Up);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.last(), (QVariantList{12, 9600}));
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Cancel"))
                QTest::mouseClick(button, Qt::LeftButton);
        }
        QVERIFY(!dialog.isVisible()); // and undoes nothing
        QCOMPARE(std::tuple(ports.manager.portNumber(), ports.manager.bitRate(), ports.openPort()),
                 std::tuple(qint16(12), 9600, 12));
    }

    void controlPanelLayout()
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
        QMap<int, QString> scale; // by the height of the mark's centre
        for (QLabel *label : f.window.findChildren<QLabel *>()) {
            if (marks.contains(label->text()) && label->geometry().right() < sliders.first()->x())
                scale.insert(label->geometry().center().y(), label->text());
        }
        QCOMPARE(scale.values(), marks);
        const QRect track = sliders.first()->geometry();
        QVERIFY(scale.firstKey() < track.top() + track.height() / 8);
        QVERIFY(scale.lastKey() > track.bottom() - track.height() / 8);

        // It fits a 1024 x 768 screen by scrolling, and a slider out of sight still works.
        QVERIFY(f.window.minimumSizeHint().boundedTo(QSize(1024, 768)) ==
                f.window.minimumSizeHint());
        f.window.resize(800, 600);
        QTest::keyClick(sliders.last(), Qt::Key_PageUp);
        QVERIFY(!f.dacWrites().isEmpty());

        QSlider *slider = f.slider("19"); // keys move towards their arrow
        QTest::keyClick(slider, Qt::Key_Up);
        QCOMPARE(f.chip0().dacRegister(0x14), quint16(513));
        QTest::keyClick(slider, Qt::Key_PageDown);
        QCOMPARE(f.chip0().dacRegister(0x14), quint16(508));

        slider = f.slider("Vc2");
        slider->setSliderDown(true);
        for (int height = 24; height <= 924; height += 100)
            slider->setSliderPosition(height);
        QCOMPARE(f.chip0().dacRegister(0x13), quint16(512)); // gathered while the bus is busy
        slider->setSliderDown(false);
        QCOMPARE(f.chip0().dacRegister(0x13), quint16(924));
        QCOMPARE(f.grid().hexText(20), QStringLiteral("39C"));

        // The thumbs follow the grid while open; a closed panel is loaded again when reopened.
        f.grid().voltageBoxEdited(3, QStringLiteral("2.5"));
        f.grid().voltageBoxLeft(3);
        QCOMPARE(f.slider(QStringLiteral("3"))->value(), 256); // the thumb's height is the code
        f.window.close();
        QCOMPARE(f.model.controlPanelOpen, 0);
        f.grid().voltageBoxEdited(3, QStringLiteral("7.5"));
        f.grid().voltageBoxLeft(3);
        f.window.showPanel();
        QCOMPARE(f.slider(QStringLiteral("3"))->value(), 768);
    }

    // A short window keeps the rows under the sliders in sight: the tracks get shorter instead.
    void controlPanelCaptionsStayInSight()
    {
        PanelFixture f(512);
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        const int fullHeight = f.window.height();
        f.window.resize(800, 150);
        QTRY_VERIFY(f.window.height() < fullHeight - 100);
        const auto *scroll = f.window.findChild<QScrollArea *>();
        const QRect inSight(scroll->viewport()->mapTo(&f.window, QPoint()),
                            scroll->viewport()->size());
        int seen = 0;
        for (const QLabel *label : f.window.findChildren<QLabel *>()) {
            const QString text = label->text();
            if (!QStringList{"Channel", "Vout", "Code ", "1", "Vc1", "Vc2", "8", "9"}.contains(
                    text))
                continue;
            ++seen;
            const QRect at(label->mapTo(&f.window, QPoint()), label->size());
            QVERIFY2(at.top() >= inSight.top() && at.bottom() <= inSight.bottom(),
                     qPrintable(QStringLiteral("%1 at %2..%3, window %4..%5")
                                    .arg(text)
                                    .arg(at.top())
                                    .arg(at.bottom())
                                    .arg(inSight.top())
                                    .arg(inSight.bottom())));
        }
        QCOMPARE(seen, 8);
        // Each track keeps room for its five scale marks.
        const int mark = f.window.fontMetrics().height();
        for (const QSlider *slider : f.window.findChildren<QSlider *>())
            QVERIFY(slider->height() >= 5 * mark);
    }

    // The thumbs stand out from the panel in a dark palette as in a light one: the style's own
    // outline, a darker shade of the window, is lost on a dark one.
    void controlPanelThumbsStayVisible_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QApplication::style()->standardPalette();
        QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x35, 0x35, 0x35));
        for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            dark.setColor(role, Qt::white);
        dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
        dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
        QTest::newRow("dark") << dark;
        QPalette black(Qt::black, Qt::black);
        for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            black.setColor(role, QColor(0xd0, 0xd0, 0xd0));
        QTest::newRow("black") << black;
    }

    void controlPanelThumbsStayVisible()
    {
        QFETCH(QPalette, palette);
        PanelFixture f(512);
        f.window.setPalette(palette);
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        for (const QString caption : {"1", "Vc2", "22"}) {
            QSlider *slider = f.slider(caption);
            QStyleOptionSlider option;
            option.initFrom(slider);
            option.orientation = Qt::Vertical;
            option.minimum = slider->minimum();
            option.maximum = slider->maximum();
            option.sliderPosition = option.sliderValue = slider->value();
            option.upsideDown = !slider->invertedAppearance();
            option.tickPosition = slider->tickPosition();
            option.tickInterval = slider->tickInterval();
            const QRect thumb = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                                QStyle::SC_SliderHandle, slider);
            const QImage shown = slider->grab().toImage();
            const int behind = slider->palette().color(QPalette::Window).lightness();
            // The thumb's middle rows, where the track does not run out of it.
            int contrast = 0;
            const QRect middle = thumb.adjusted(0, thumb.height() / 4, 0, -thumb.height() / 4)
                                     .intersected(shown.rect());
            for (int y = middle.top(); y <= middle.bottom(); ++y) {
                for (int x = middle.left(); x <= middle.right(); ++x)
                    contrast =
                        std::max(contrast, std::abs(shown.pixelColor(x, y).lightness() - behind));
            }
            // A quarter of the way from black to white at least.
            QVERIFY2(contrast >= 64,
                     qPrintable(QStringLiteral("%1: %2").arg(caption).arg(contrast)));
        }
    }

    void escapeClosesTheControlPanel()
    {
        PanelFixture f(512);
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        f.slider(QStringLiteral("Vc1"))->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!f.window.isVisible());
        QCOMPARE(f.model.controlPanelOpen, 0);
        QVERIFY(f.dacWrites().isEmpty());
    }

    void otpChooseBurnAndReload()
    {
        ControlFixture f;
        for (int i = 1; i <= device::channelCount; ++i)
            f.model.dacCode[i] = 100 + i;
        f.grid().refreshAllChannels();
        ui::OtpDialog dialog(f.model, f.grid(), *f.operations, f.prompts);
        dialog.showDialog();
        QVERIFY(!dialog.isModal());
        auto *arrows = dialog.findChild<ui::SpinArrows *>();
        const auto *name = dialog.findChild<QLabel *>(QStringLiteral("registerName"));
        arrows->upArrow()->click();
        QCOMPARE(name->text(), QStringLiteral("1"));
        for (int k = 0; k < 22; ++k)
            arrows->downArrow()->click();
        QCOMPARE(name->text(), QStringLiteral("c1"));
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("voltageText"))->text(),
                 f.grid().voltageText(19));
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("hexText"))->text(),
                 QStringLiteral("77"));

        f.prompts.answerYes = true;
        dialog.findChild<QPushButton *>()->click();
        QCOMPARE(f.chip0().otpCell(0, 0x12), std::optional<quint16>(119));
        QVERIFY(dialog.isVisible());

        dialog.showDialog(); // brought forward, not loaded again
        QCOMPARE(name->text(), QStringLiteral("c1"));
        dialog.close();
        dialog.showDialog();
        QCOMPARE(name->text(), QStringLiteral("1"));
        // The keyboard chooses too, wherever the focus is; the burn button has it now.
        auto *burn = dialog.findChild<QPushButton *>();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        burn->setFocus();
        QTest::keyClick(burn, Qt::Key_Down);
        QCOMPARE(name->text(), QStringLiteral("2"));
        QTest::keyClick(burn, Qt::Key_PageDown);
        QCOMPARE(name->text(), QStringLiteral("8"));
        QTest::keyClick(burn, Qt::Key_PageUp);
        QTest::keyClick(burn, Qt::Key_Up);
        QCOMPARE(name->text(), QStringLiteral("1"));
    }

    // A greyed "Fast mode" says why: the simulated board's own port is no FT232R.
    void greyedFastModeSaysWhy()
    {
        ControlFixture f;
        control::PortModes modes(f.stack.mappedPort(), f.settings);
        ui::PortSettingsDialog dialog(f.stack.ports(), f.stack.portMap());
        dialog.attachModes(modes);
        auto *fast = dialog.findChild<QCheckBox *>(QStringLiteral("fastModeBox"));
        QVERIFY(fast && !fast->isEnabled());
        QCOMPARE(fast->toolTip(),
                 QStringLiteral("Fast mode needs an FT232R adapter; this port has none"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
