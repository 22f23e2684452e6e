#include "controlfixture.h"
#include "device/numbertext.h"

#include <QFile>
#include <QSettings>
#include <QTest>

using device::channelCount;
using sim::ChipEvent;

namespace {

void storeSettings(ControlFixture &f, const QString &a0, const QString &vref0, const QString &vref1,
                   int port = 1)
{
    QSettings s(f.settings.location(), QSettings::IniFormat);
    s.setValue(QStringLiteral("vref_high0/10"), vref0);
    s.setValue(QStringLiteral("vref_high1/10"), vref1);
    s.setValue(QStringLiteral("a0/1"), a0);
    s.setValue(QStringLiteral("PortNumb/2"), QString::number(port));
    s.setValue(QStringLiteral("BitRate/3"), QStringLiteral("9600"));
}

// The registers read, in order.
QList<int> registersRead(const sim::SimulatedChip &chip)
{
    QList<int> registers;
    for (const ChipEvent &e : chip.events()) {
        if (e.kind == ChipEvent::Kind::RegisterRead)
            registers.append(e.reg);
    }
    return registers;
}

QList<ChipEvent::Kind> kinds(const sim::SimulatedChip &chip)
{
    QList<ChipEvent::Kind> result;
    for (const ChipEvent &e : chip.events())
        result.append(e.kind);
    return result;
}

QString writeFile(ControlFixture &f, const QString &name, const QByteArray &content)
{
    const QString path = f.dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write the test file %s", qPrintable(path));
    return path;
}

// Every port is present and opens; the opens are counted. The lines lead nowhere.
class CountingComPort : public port::ComPort
{
public:
    QList<int> opened;
    int openNumber = 0;

    port::OpenResult presence(int) const override { return port::OpenResult::Opened; }
    port::OpenResult open(int n, const port::LineSettings &) override
    {
        opened.append(n);
        openNumber = n;
        return port::OpenResult::Opened;
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

QByteArray registerSetBytes(const QList<QByteArray> &values, const QByteArray &separator)
{
    return values.join(separator) + separator;
}

} // namespace

class TestMainController : public QObject
{
    Q_OBJECT

private slots:
    void firstRunWithEmptyStore();
    void startReadsChipAndWritesBack();
    void startOpensOnlyTheChosenPort_data();
    void startOpensOnlyTheChosenPort();
    void readAllOrderAndSilentChip();
    void changeAddressTwiceRestoresVsup();
    void resetReloadsFromOtp();
    void otpBurnNeedsConfirmation();
    void aboutText();
    void saveWritesExactBytes();
    void loadVariants_data();
    void loadVariants();
    void badFileChangesNothing_data();
    void badFileChangesNothing();
    void cancelledDialogChangesNothing();
    void settingsSurviveExit();
    void fullScaleRoundTripThroughFile();
};

void TestMainController::firstRunWithEmptyStore()
{
    ControlFixture f(false);
    f.controller->start();
    QCOMPARE(f.model.a0Pin, QStringLiteral("0"));
    QCOMPARE(f.model.vsup, 0.0);
    QCOMPARE(f.grid().vsupText(), QStringLiteral(" 0"));
    QVERIFY(!f.stack.ports().comPort().isOpen()); // port number 0: nothing opened
    for (int i = 1; i <= channelCount; ++i) {
        QCOMPARE(f.model.dacCode[i], 65535.0); // nothing answers on a closed port
        QCOMPARE(f.grid().voltageText(i), QStringLiteral(" 0"));
        QCOMPARE(f.grid().hexText(i), QStringLiteral("FFFF"));
    }
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("65535"));
    QCOMPARE(f.controller->changeAddressCaption(), QStringLiteral("Change Address\r\nA0= 0 "));
    QCOMPARE(f.controller->changeAddressColour(), (control::Rgb{255, 128, 128}));
}

void TestMainController::startReadsChipAndWritesBack()
{
    ControlFixture f(false);
    storeSettings(f, QStringLiteral("0"), QStringLiteral(" 10"), QStringLiteral(" 5"));
    for (int r = 0; r < channelCount; ++r)
        f.chip0().setDacRegister(r, quint16(r * 40));
    f.controller->start();
    QVERIFY(f.stack.ports().comPort().isOpen());
    QCOMPARE(f.grid().vsupText(), QStringLiteral(" 10"));
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("0"));
    QCOMPARE(f.grid().voltageText(2), QStringLiteral(" .39"));
    QCOMPARE(f.grid().hexText(24), QStringLiteral("398"));
    // Every box changed from its placeholder, so every channel went back to the chip once,
    // with the code it holds.
    QList<QPair<int, int>> expected;
    for (int r = 0; r < channelCount; ++r)
        expected.append({r, r * 40});
    QCOMPARE(f.dacWritesWithRegister(), expected);
}

void TestMainController::startOpensOnlyTheChosenPort_data()
{
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QList<int>>("opened");
    QTest::newRow("COM7") << 7 << QList<int>{7};
    QTest::newRow("none chosen") << 0 << QList<int>{};
}

// Opening a serial device raises DTR and RTS: a probe that opened every port would reset or
// hang up whatever hangs on the other adapters.
void TestMainController::startOpensOnlyTheChosenPort()
{
    QFETCH(int, chosen);
    QFETCH(QList<int>, opened);
    ControlFixture f(false);
    storeSettings(f, QStringLiteral("0"), QStringLiteral(" 10"), QStringLiteral(" 10"), chosen);
    CountingComPort com;
    port::PortManager ports(com);
    ports.setYieldFunction([] {});
    bus::LineEngine engine(com);
    bus::ChipBus chip(engine);
    control::ChipOperations operations(chip, ports);
    control::RegisterGrid grid(f.model, operations);
    control::MainController(f.model, grid, operations, ports, f.settings, f.prompts).start();
    QCOMPARE(com.opened, opened);
    QCOMPARE(ports.portCount(), qint16(16));
}

void TestMainController::readAllOrderAndSilentChip()
{
    ControlFixture f;
    f.model.vsup = 10;
    f.controller->readAllRegisters();
    QList<int> expected;
    for (int r = 0; r < channelCount; ++r)
        expected.append(r);
    expected.append(0x3F);
    QCOMPARE(registersRead(f.chip0()), expected);

    f.board.setChipPresent(0, false);
    f.controller->readAllRegisters();
    // A silent bus reads 65535, which no channel can hold: shown as what was then written.
    for (int i = 1; i <= channelCount; ++i)
        QCOMPARE(f.model.dacCode[i], 1024.0);
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("65535"));
    QCOMPARE(f.grid().voltageText(1), QStringLiteral(" 10"));
}

void TestMainController::changeAddressTwiceRestoresVsup()
{
    ControlFixture f(false);
    storeSettings(f, QStringLiteral("0"), QStringLiteral(" 10"), QStringLiteral(" 3.3"));
    f.board.chip(1).setDacRegister(0, 1023);
    f.controller->start();
    f.controller->changeAddress();
    QCOMPARE(f.model.a0Pin, QStringLiteral("1"));
    QCOMPARE(f.grid().vsupText(), QStringLiteral(" 3.3"));
    QCOMPARE(f.grid().voltageText(1), QStringLiteral(" 3.296"));
    QCOMPARE(f.controller->changeAddressCaption(), QStringLiteral("Change Address\r\nA0= 1 "));
    QCOMPARE(f.controller->changeAddressColour(), (control::Rgb{192, 192, 255}));
    f.grid().vsupBoxEdited(QStringLiteral("2.5"));
    f.grid().vsupBoxLeft();
    f.controller->changeAddress();
    QCOMPARE(f.model.a0Pin, QStringLiteral("0"));
    QCOMPARE(f.model.vsup, 10.0);
    f.controller->changeAddress();
    QCOMPARE(f.model.vsup, 2.5); // each device keeps its own "Vsup"
}

void TestMainController::resetReloadsFromOtp()
{
    ControlFixture f;
    f.model.vsup = 10;
    f.controller->readAllRegisters();
    f.prompts.answerYes = true;
    for (int i = 1; i <= channelCount; ++i)
        f.model.dacCode[i] = 10 * i;
    f.controller->programOtpAllChannels();
    for (int r = 0; r < channelCount; ++r)
        f.chip0().setDacRegister(r, 1);
    f.controller->resetChip();
    for (int i = 1; i <= channelCount; ++i)
        QCOMPARE(f.model.dacCode[i], 10.0 * i);
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("1"));
}

void TestMainController::otpBurnNeedsConfirmation()
{
    ControlFixture f;
    f.model.vsup = 10;
    f.model.a0Pin = QStringLiteral("1");
    for (int i = 1; i <= channelCount; ++i)
        f.model.dacCode[i] = i == 5 ? 1024 : i;
    f.controller->programOtpAllChannels();
    QCOMPARE(f.prompts.questions.size(), 1);
    QVERIFY(f.prompts.questions[0].contains(QStringLiteral("A0 = 1")));
    QCOMPARE(registersRead(f.board.chip(1)), QList<int>{0x3F}); // only the max bank was read

    f.prompts.answerYes = true;
    f.controller->programOtpAllChannels();
    QList<ChipEvent> burns;
    for (const ChipEvent &e : f.board.chip(1).events()) {
        if (e.kind == ChipEvent::Kind::OtpWrite)
            burns.append(e);
    }
    QCOMPARE(burns.size(), channelCount);
    for (int r = 0; r < channelCount; ++r) {
        QCOMPARE(burns[r].reg, r);
        QCOMPARE(int(burns[r].value), r == 4 ? 1023 : r + 1);
    }
    const QList<ChipEvent::Kind> tail = kinds(f.board.chip(1)).mid(4 + channelCount * 2, 3);
    QCOMPARE(tail, (QList<ChipEvent::Kind>{ChipEvent::Kind::Reset, ChipEvent::Kind::PointerWrite,
                                           ChipEvent::Kind::RegisterRead}));
    QCOMPARE(f.grid().maxBankText(), QStringLiteral("1"));
    QCOMPARE(f.board.chip(0).maxBank(), 0);
}

void TestMainController::aboutText()
{
    ControlFixture f;
    f.controller->showAbout();
    QCOMPARE(f.prompts.messages,
             QStringList{QStringLiteral("KALVENTA Program.|KALVENTA Eval Software  Rev. "
                                        "1.0.5\r\nKALVENTA evaluation software team")});
}

void TestMainController::saveWritesExactBytes()
{
    ControlFixture f;
    f.model.vsup = 10;
    for (int i = 1; i <= channelCount; ++i)
        f.model.dacCode[i] = 512;
    const QString path = f.dir.filePath(QStringLiteral("set.csv"));
    f.controller->saveToFile(path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray expected = "10\r\n";
    for (int i = 0; i < channelCount; ++i)
        expected += "512\r\n";
    QCOMPARE(file.readAll(), expected);
    QVERIFY(f.dacWrites().isEmpty());
    // The folder is stored at once, but dialogs keep their folder until the next load.
    QSettings s(f.settings.location(), QSettings::IniFormat);
    QCOMPARE(s.value(QStringLiteral("Startup/Default_Dir")).toString(), f.dir.path() + u'/');
    QCOMPARE(f.model.defaultDir, QString());
}

void TestMainController::loadVariants_data()
{
    QTest::addColumn<QByteArray>("content");
    QList<QByteArray> values{"3.3"};
    for (int i = 1; i <= channelCount; ++i)
        values.append(QByteArray::number(i * 41));
    QTest::newRow("one per line") << registerSetBytes(values, "\r\n");
    QTest::newRow("one line, commas") << values.join(",") + "\r\n";
    QTest::newRow("blanks and LF") << registerSetBytes(values, " \n ");
    QTest::newRow("trailing values ignored") << registerSetBytes(values + values, "\r\n");
}

void TestMainController::loadVariants()
{
    QFETCH(QByteArray, content);
    ControlFixture f;
    f.model.vsup = 10;
    f.model.a0Pin = QStringLiteral("0");
    const QString path = writeFile(f, QStringLiteral("in.csv"), content);
    f.controller->loadFromFile(path);
    QVERIFY(f.prompts.errors.isEmpty());
    QCOMPARE(f.model.vsup, 3.3);
    QCOMPARE(f.grid().vsupText(), QStringLiteral(" 3.3"));
    QCOMPARE(f.model.vrefHigh[0], 3.3);
    for (int i = 1; i <= channelCount; ++i) {
        QCOMPARE(f.model.dacCode[i], double(i * 41));
        QCOMPARE(int(f.chip0().dacRegister(i - 1)), i * 41);
    }
}

void TestMainController::badFileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("mentions");
    QByteArray short24 = "10\r\n";
    for (int i = 0; i < 23; ++i)
        short24 += "5\r\n";
    QByteArray letters = "10\r\n";
    for (int i = 0; i < 24; ++i)
        letters += i == 5 ? "abc\r\n" : "5\r\n";
    QTest::newRow("24 values") << short24 << "24";
    QTest::newRow("letters") << letters << "abc";
}

void TestMainController::badFileChangesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, mentions);
    ControlFixture f;
    f.model.vsup = 10;
    f.model.dacCode.fill(7);
    const QString path = writeFile(f, QStringLiteral("bad.csv"), content);
    f.controller->loadFromFile(path);
    QCOMPARE(f.prompts.errors.size(), 1);
    QVERIFY2(f.prompts.errors[0].contains(mentions), qPrintable(f.prompts.errors[0]));
    QVERIFY(f.prompts.errors[0].contains(QStringLiteral("bad.csv")));
    QVERIFY(f.board.chip(0).events().isEmpty());
    QCOMPARE(f.model.vsup, 10.0);
    QCOMPARE(f.model.dacCode[3], 7.0);
}

void TestMainController::cancelledDialogChangesNothing()
{
    ControlFixture f;
    f.controller->saveToFile(QString());
    f.controller->loadFromFile(QString());
    QSettings s(f.settings.location(), QSettings::IniFormat);
    QVERIFY(!s.contains(QStringLiteral("Startup/Default_Dir")));
    QCOMPARE(f.model.lastFileDir, QString());
    QVERIFY(f.board.chip(0).events().isEmpty());
}

void TestMainController::settingsSurviveExit()
{
    ControlFixture f(false);
    storeSettings(f, QStringLiteral("0"), QStringLiteral(" 10"), QStringLiteral(" 10"));
    f.controller->start();
    f.controller->changeAddress();
    f.grid().vsupBoxEdited(QStringLiteral("3.3"));
    f.grid().vsupBoxLeft();
    f.controller->saveSettingsAtExit();
    QSettings s(f.settings.location(), QSettings::IniFormat);
    QCOMPARE(s.value(QStringLiteral("vref_high1/10")).toString(), QStringLiteral(" 3.3"));
    QCOMPARE(s.value(QStringLiteral("a0/1")).toString(), QStringLiteral("1"));

    device::DeviceModel next;
    device::StoredPort port;
    QVERIFY(f.settings.loadSettings(next, port));
    QCOMPARE(next.a0Pin, QStringLiteral("1"));
    QCOMPARE(next.vsup, 3.3);
    QCOMPARE(port.portNumber, qint16(1));
    QCOMPARE(port.bitRate, 9600);
}

void TestMainController::fullScaleRoundTripThroughFile()
{
    ControlFixture f;
    f.model.vsup = 10;
    f.grid().refreshAllChannels();
    f.grid().voltageBoxEdited(9, QStringLiteral("10"));
    f.grid().voltageBoxLeft(9);
    const QString path = f.dir.filePath(QStringLiteral("full.csv"));
    f.controller->saveToFile(path);
    f.model.dacCode[9] = 0;
    f.grid().refreshAllChannels();
    f.controller->loadFromFile(path);
    QCOMPARE(f.model.dacCode[9], 1024.0);
    QCOMPARE(f.grid().voltageText(9), QStringLiteral(" 10"));
    QCOMPARE(f.chip0().dacRegister(8), quint16(1023));
}

QTEST_GUILESS_MAIN(TestMainController)
#include "tst_maincontroller.moc"
