#include "control/portsettingscontroller.h"
#include "missingdeviceports.h"
#include "stack/busstack.h"
#include "ui/dialogs/portsettingsdialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using control::PortSettingsController;
using port::OpenResult;

namespace {

// The program's port state on the simulated board, present at the given numbers, probed once.
struct Ports
{
    Ports(const QList<int> &present, int portNumber, qint32 bitRate)
    {
        stack::PortRouting routing{missingDevicePorts(dir), false, {}};
        for (int n : present)
            routing.overrides.append({n, QString(), true, QString()});
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

// A port whose open results a test decides, for the cases the board cannot show. A held port
// looks present until it is opened.
class ScriptedComPort : public port::ComPort
{
public:
    QHash<int, OpenResult> results;
    int openNumber = 0;

    OpenResult presence(int n) const override
    {
        const OpenResult result = results.value(n, OpenResult::NotPresent);
        return result == OpenResult::Busy ? OpenResult::Opened : result;
    }
    OpenResult open(int n, const port::LineSettings &) override
    {
        const OpenResult result = results.value(n, OpenResult::NotPresent);
        openNumber = result == OpenResult::Opened ? n : 0;
        return result;
    }
    void close() override { openNumber = 0; }
    int openPortNumber() const override { return openNumber; }
    port::PortTimeouts timeouts() const override { return {}; }
    void setTimeouts(const port::PortTimeouts &) override {}
    bool isOpen() const override { return openNumber != 0; }
    void setDtr(bool) override {}
    void setRts(bool) override {}
    bool dsr() override { return false; }
    void writeData(const QByteArray &) override {}
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

} // namespace

class TestPortSettings : public QObject
{
    Q_OBJECT

private slots:
    void load_data();
    void load();
    void refusedPortsAreExplained();
    void dialogChoicesTakeEffectAtOnce();
};

void TestPortSettings::load_data()
{
    QTest::addColumn<QList<int>>("present");
    QTest::addColumn<int>("portNumber");
    QTest::addColumn<int>("bitRate");
    QTest::addColumn<QString>("expected");
    // A row of -1 selects nothing.
    QTest::newRow("first run") << QList<int>{1} << 0 << 0
                               << "COM1 | rows -1 1 | 9600 | Please select a COM port.";
    QTest::newRow("stored port gone")
        << QList<int>{1, 3} << 5 << 9600
        << "COM1 COM3 | rows -1 1 | 9600 | COM5 is unavailable. Please select a different port.";
    QTest::newRow("stored port present")
        << QList<int>{1, 3, 12} << 12 << 38400 << "COM1 COM3 COM12 | rows 2 4 | 38400 | ";
    QTest::newRow("rate not offered")
        << QList<int>{1} << 1 << 57600 << "COM1 | rows 0 -1 | 57600 | ";
}

void TestPortSettings::load()
{
    QFETCH(QList<int>, present);
    QFETCH(int, portNumber);
    QFETCH(int, bitRate);
    QFETCH(QString, expected);

    Ports ports(present, portNumber, bitRate);
    PortSettingsController controller(ports.manager, ports.map);
    controller.load();
    QCOMPARE(shown(controller, ports.manager), expected);
    QCOMPARE(controller.portEntries().first().text,
             QStringLiteral("COM1  simulated evaluation board"));
    QCOMPARE(ports.openPort(), 0); // loading opens nothing
}

void TestPortSettings::refusedPortsAreExplained()
{
    ScriptedComPort com;
    com.results = {{1, OpenResult::Opened}, {4, OpenResult::NoPermission}, {6, OpenResult::Busy}};
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

void TestPortSettings::dialogChoicesTakeEffectAtOnce()
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
    QCOMPARE(ports.manager.portNumber(), qint16(12));
    QCOMPARE(ports.manager.bitRate(), 9600);
    QCOMPARE(ports.openPort(), 12);
}

QTEST_MAIN(TestPortSettings)
#include "tst_portsettings.moc"
