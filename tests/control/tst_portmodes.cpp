// SPDX-License-Identifier: MIT
#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "control/portmodes.h"
#include "device/bitstrings.h"
#include "device/settingsstore.h"
#include "port/bitbangcomport.h"
#include "port/mappedcomport.h"
#include "sim/simulatedboard.h"
#include "sim/simulatedcomport.h"
#include "sim/virtualft232r.h"

#include <QTemporaryDir>
#include <QTest>

using port::PortMap;
using port::UsbAdapter;

namespace {

// Three device paths that are never opened, each with the adapter a system would describe:
// COM1 an FT232R, COM2 a CH340, COM3 a built-in UART; COM5 the simulated board behind a virtual
// FT232R, COM6 the board's own port.
struct Rig
{
    Rig() : settings(dir.filePath(QStringLiteral("settings.ini")))
    {
        port.factory().setAdapterLookup([this](const QString &path) {
            if (path == ft232r)
                return UsbAdapter{true, 0x0403, 0x6001, QStringLiteral("A1"), {}, 1, 5};
            if (path == ch340)
                return UsbAdapter{true, 0x1a86, 0x7523, {}, {}, 1, 7};
            return UsbAdapter{};
        });
        map.mapToDevice(1, ft232r);
        map.mapToDevice(2, ch340);
        map.mapToDevice(3, builtIn);
        map.mapToSimulated(5, &fast);
        map.mapToSimulated(6, &serial);
        port.setPortMap(map);
    }

    QTemporaryDir dir;
    const QString ft232r = dir.filePath(QStringLiteral("ttyUSB0"));
    const QString ch340 = dir.filePath(QStringLiteral("ttyUSB1"));
    const QString builtIn = dir.filePath(QStringLiteral("ttyS0"));
    device::SettingsStore settings;
    sim::SimulatedBoard board;
    sim::VirtualFt232r adapter{board};
    port::BitBangComPort fast{adapter};
    sim::SimulatedComPort serial{board};
    PortMap map;
    port::MappedComPort port;
    control::PortModes modes{port, settings};
};

} // namespace

class TestPortModes : public QObject
{
    Q_OBJECT

private slots:
    void defaultsFollowTheAdapter_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<bool>("usb");
        QTest::addColumn<bool>("fastAvailable");
        QTest::addColumn<bool>("skips");
        QTest::newRow("FT232R") << 1 << true << true << true;
        QTest::newRow("other USB adapter") << 2 << true << false << true;
        QTest::newRow("built-in port") << 3 << false << false << false;
        QTest::newRow("no target") << 4 << false << false << false;
    }

    // Without a choice, a USB adapter skips idle writes (each costs a round trip) and a built-in
    // port does not; the port's open and the dialog's state agree on it.
    void defaultsFollowTheAdapter()
    {
        QFETCH(int, portNumber);
        QFETCH(bool, usb);
        QFETCH(bool, fastAvailable);
        QFETCH(bool, skips);
        Rig rig;
        const control::PortModes::State state = rig.modes.stateOf(portNumber);
        QCOMPARE(state.usbAdapter, usb);
        QCOMPARE(state.fastModeAvailable, fastAvailable);
        QVERIFY(!state.fastMode && !state.onlyFastMode);
        QCOMPARE(state.skipIdleWrites, skips);
        QCOMPARE(rig.port.skipsIdleWritesAt(portNumber), skips);
    }

    // A choice overrides the default either way, but fast mode never skips a write: each one is a
    // step of the adapter's clock.
    void choicesAndFastMode()
    {
        Rig rig;
        QVERIFY(rig.modes.setSkipIdleWrites(1, false));
        QVERIFY(rig.modes.setSkipIdleWrites(3, true));
        QVERIFY(!rig.port.skipsIdleWritesAt(1));
        QVERIFY(rig.port.skipsIdleWritesAt(3));
        QVERIFY(rig.modes.setSkipIdleWrites(1, true));
        QVERIFY(rig.modes.setFastMode(1, true));
        QVERIFY(rig.modes.fastMode(1));
        QVERIFY(!rig.port.skipsIdleWritesAt(1));
    }

    // The virtual FT232R sends whole frames: a skip choice on it is not applied either.
    void wholeFramePortNeverSkips()
    {
        Rig rig;
        PortMap map = rig.port.portMap();
        map.setIdleWriteSkipping(5, true);
        map.setIdleWriteSkipping(6, true);
        rig.port.setPortMap(map);
        QCOMPARE(rig.port.open(5, {}), port::OpenResult::Opened);
        QVERIFY(rig.port.inFastMode() && !rig.port.skipsIdleWrites());
        QVERIFY(rig.modes.stateOf(5).onlyFastMode);
        QCOMPARE(rig.port.open(6, {}), port::OpenResult::Opened);
        QVERIFY(!rig.port.inFastMode() && rig.port.skipsIdleWrites());
    }

    // What is remembered comes back in a later run; a remembered "off" leaves a fast mode that
    // the command line asked for in place.
    void rememberedChoicesComeBack()
    {
        Rig rig;
        QVERIFY(rig.modes.setFastMode(1, false));
        QVERIFY(rig.modes.setFastMode(2, true));
        QVERIFY(rig.modes.setSkipIdleWrites(3, true));

        PortMap commandLine = rig.map;
        commandLine.setFastMode(1, true);
        rig.port.setPortMap(commandLine);
        device::SettingsStore store(rig.settings.location());
        control::PortModes later(rig.port, store);
        later.apply();
        QVERIFY(later.fastMode(1));
        QVERIFY(later.fastMode(2));
        QVERIFY(later.skipIdleWrites(3));
        QVERIFY(rig.port.skipsIdleWritesAt(3));
    }

    // Fast mode on a device: the factory makes an FT232R port for the adapter the system names
    // (here a virtual one on the simulated board), which carries every write; a device whose
    // adapter is no FT232R is refused with a word why.
    void fastModeOnADevice()
    {
        Rig rig;
        rig.board.chip(0).setDacRegister(5, 777);
        QList<port::FtdiSelection> made;
        rig.port.factory().setAdapterMaker([&](const port::FtdiSelection &selection) {
            made.append(selection);
            return std::make_unique<sim::VirtualFt232r>(rig.board);
        });
        QVERIFY(rig.modes.setFastMode(1, true));
        QVERIFY(rig.modes.setSkipIdleWrites(1, true));
        QCOMPARE(rig.port.open(1, {}), port::OpenResult::Opened);
        QVERIFY(rig.port.inFastMode() && !rig.port.skipsIdleWrites());
        QCOMPARE(made.size(), 1);
        QCOMPARE(made[0].serial, QStringLiteral("A1"));
        QCOMPARE(made[0].busNumber, 1);
        QCOMPARE(made[0].deviceAddress, 5);
        bus::LineEngine engine(rig.port);
        bus::ChipBus chip(engine);
        chip.readDacRegister(device::decmal_to_binary5(5), QStringLiteral("0"));
        QVERIFY(chip.chipAnswered());
        QCOMPARE(chip.registerWord() & 0x3FF, 777);
        rig.port.close();

        QVERIFY(rig.modes.setFastMode(2, true));
        QCOMPARE(rig.port.open(2, {}), port::OpenResult::NotPresent);
        QVERIFY2(rig.port.lastError().contains(QStringLiteral("is not an FT232R adapter")),
                 qPrintable(rig.port.lastError()));
        QCOMPARE(made.size(), 1);
    }

    void kindsOfAdapter()
    {
        Rig rig;
        PortMap map = rig.port.portMap();
        map.setFastMode(1, true);
        using port::AdapterKind;
        using port::PortFactory;
        QCOMPARE(PortFactory::kindOf(map.target(1)), AdapterKind::Ft232r);
        QCOMPARE(PortFactory::kindOf(map.target(2)), AdapterKind::Serial);
        QCOMPARE(PortFactory::kindOf(map.target(5)), AdapterKind::VirtualFt232r);
        QCOMPARE(PortFactory::kindOf(map.target(6)), AdapterKind::Simulated);
        QCOMPARE(PortFactory::kindOf(port::PortTarget()), AdapterKind::None);
        QCOMPARE(PortFactory::kindOf(map.target(7)), AdapterKind::Serial); // its default device
    }
};

QTEST_GUILESS_MAIN(TestPortModes)
#include "tst_portmodes.moc"
