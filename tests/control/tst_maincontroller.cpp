#include "control/statusline.h"
#include "controlfixture.h"
#include "device/numbertext.h"
#include "version.h"

#include <QSettings>
#include <QTest>
#include <numeric>

using device::channelCount;
using sim::ChipEvent;
using Writes = QList<QPair<int, int>>;

namespace {

// A store as the program leaves it at exit: A0 0 and COM1 at 9600 bit/s.
void storeVsups(ControlFixture &f, double vsup0, double vsup1)
{
    device::DeviceModel stored;
    stored.vrefHigh = {vsup0, vsup1};
    f.settings.saveAtExit(stored, {1, 9600});
}

QString storedFolder(ControlFixture &f)
{
    return QSettings(f.settings.location(), QSettings::IniFormat)
        .value(QStringLiteral("Startup/Default_Dir"))
        .toString();
}

} // namespace

class TestMainController : public QObject
{
    Q_OBJECT

private slots:
    void firstRunWithEmptyStore()
    {
        ControlFixture f(false);
        f.controller->start();
        QCOMPARE(f.model.a0Pin, QStringLiteral("0"));
        QCOMPARE(f.grid().vsupText(), QStringLiteral(" 0"));
        QVERIFY(!f.stack.ports().comPort().isOpen()); // port number 0: nothing opened
        for (int i = 1; i <= channelCount; ++i) {
            QCOMPARE(f.grid().voltageText(i), QStringLiteral(" 0"));
            QCOMPARE(f.grid().hexText(i), QStringLiteral("FFFF")); // nothing answers a closed port
        }
        QCOMPARE(f.grid().maxBankText(), QStringLiteral("65535"));

        // A port chosen in the settings dialog is read at once.
        control::StatusLine status{f.stack.ports(), f.stack.portMap(), f.model, f.prompts};
        QVERIFY(status.portText().contains(QStringLiteral("\"COM Setting\"")));
        f.openPort();
        f.controller->portSettingsClosed(0);
        QCOMPARE(f.events(ChipEvent::Kind::RegisterRead).size(), channelCount + 1);
        QCOMPARE(f.grid().maxBankText(), QStringLiteral("0"));
    }

    void startReadsChipAndWritesBack()
    {
        ControlFixture f(false);
        storeVsups(f, 10, 5);
        Writes expected;
        for (int r = 0; r < channelCount; ++r) {
            f.chip0().setDacRegister(r, quint16(r * 40));
            expected.append({r, r * 40});
        }
        f.controller->start();
        QCOMPARE(f.grid().vsupText(), QStringLiteral(" 10"));
        QCOMPARE(f.grid().maxBankText(), QStringLiteral("0"));
        QCOMPARE(f.grid().voltageText(2), QStringLiteral(" .39"));
        QCOMPARE(f.grid().hexText(24), QStringLiteral("398"));
        QList<int> read;
        for (const ChipEvent &e : f.events(ChipEvent::Kind::RegisterRead))
            read.append(e.reg);
        QList<int> registers(channelCount);
        std::iota(registers.begin(), registers.end(), 0);
        QCOMPARE(read, registers << 0x3F); // the channels in order, then the max bank
        // Every box changed from its placeholder, so every channel went back to the chip once,
        // with the code it holds.
        QCOMPARE(f.dacWritesWithRegister(), expected);
    }

    void changeAddressTwiceRestoresVsupAndExitSavesIt()
    {
        ControlFixture f(false);
        storeVsups(f, 10, 3.3);
        f.board.chip(1).setDacRegister(0, 1023);
        f.controller->start();
        f.controller->changeAddress();
        QCOMPARE(f.controller->changeAddressCaption(), QStringLiteral("Change Address\r\nA0= 1 "));
        QCOMPARE(f.grid().vsupText(), QStringLiteral(" 3.3"));
        QCOMPARE(f.grid().voltageText(1), QStringLiteral(" 3.296"));
        f.grid().vsupBoxEdited(QStringLiteral("2.5"));
        f.grid().vsupBoxLeft();
        f.controller->changeAddress();
        QCOMPARE(f.model.vsup, 10.0);
        f.controller->changeAddress();
        QCOMPARE(f.model.vsup, 2.5);        // each device keeps its own "Vsup"
        f.controller->openingBatchWindow(); // its reload brings back what is in use
        QCOMPARE(f.model.a0Pin, QStringLiteral("1"));
        QCOMPARE(f.model.vsup, 2.5);

        // What the next start finds.
        f.controller->saveSettingsAtExit();
        device::DeviceModel next;
        device::StoredPort port;
        QVERIFY(f.settings.loadSettings(next, port));
        QCOMPARE(next.a0Pin, QStringLiteral("1"));
        QCOMPARE(next.vrefHigh, (std::array<double, 2>{10, 2.5}));
        QCOMPARE(port.portNumber, qint16(1));
        QCOMPARE(port.bitRate, 9600);
    }

    void otpAllThenReset()
    {
        ControlFixture f;
        f.model.a0Pin = QStringLiteral("1");
        for (int i = 1; i <= channelCount; ++i)
            f.model.dacCode[i] = i == 5 ? 1024 : i;
        f.controller->programOtpAllChannels();
        QCOMPARE(f.prompts.questions.size(), 1);
        QVERIFY(f.prompts.questions[0].contains(QStringLiteral("A0 = 1")));
        QCOMPARE(f.events(ChipEvent::Kind::RegisterRead, 1).size(), 1); // the max bank

        f.prompts.answerYes = true;
        f.controller->programOtpAllChannels();
        const QList<ChipEvent> burns = f.events(ChipEvent::Kind::OtpWrite, 1);
        QCOMPARE(burns.size(), channelCount);
        for (int r = 0; r < channelCount; ++r)
            QCOMPARE(burns[r],
                     (ChipEvent{ChipEvent::Kind::OtpWrite, r, quint16(r == 4 ? 1023 : r + 1)}));
        // Each attempt reads the max bank first; after the burn, the max bank and every register.
        QCOMPARE(f.events(ChipEvent::Kind::RegisterRead, 1).size(), 1 + 2 + channelCount);
        QCOMPARE(f.grid().maxBankText(), QStringLiteral("1"));
        QCOMPARE(f.board.chip(0).maxBank(), 0);
        QCOMPARE(f.prompts.errors, QStringList());
        QCOMPARE(f.prompts.messages.size(), 1);
        QVERIFY(f.prompts.messages[0].contains(QStringLiteral("Max Bank: 0 before, 1 after.")));
        QVERIFY(
            f.prompts.messages[0].contains(QStringLiteral("every burned register holds its code")));
        for (int i = 1; i <= channelCount; ++i) // what the chip reloaded from OTP
            QCOMPARE(f.grid().hexText(i), device::shownCode(f.board.chip(1).dacRegister(i - 1)));

        // Reset reloads the burned codes, and the grid shows them.
        for (int r = 0; r < channelCount; ++r)
            f.board.chip(1).setDacRegister(r, 1);
        f.controller->resetChip();
        QCOMPARE(f.model.dacCode[24], 24.0);
        QCOMPARE(f.grid().hexText(5), QStringLiteral("3FF"));
    }

    void aboutText()
    {
        ControlFixture f;
        f.controller->showAbout();
        const QString release = QStringLiteral("%1.%2.%3")
                                    .arg(version::major)
                                    .arg(version::minor)
                                    .arg(version::revision);
        QCOMPARE(f.prompts.messages,
                 QStringList{"KALVENTA Program.|KALVENTA Eval Software  Rev. " + release +
                             "\r\nKALVENTA evaluation software team"});
    }

    void saveAndLoadFullScale()
    {
        ControlFixture f;
        f.controller->saveToFile(QString()); // cancelled dialogs change nothing
        f.controller->loadFromFile(QString());
        QCOMPARE(storedFolder(f), QString());
        QVERIFY(f.model.lastFileDir.isEmpty() && f.prompts.errors.isEmpty());
        QVERIFY(f.chip0().events().isEmpty());
        f.showCodes(10, 512);
        f.grid().voltageBoxEdited(9, QStringLiteral("10"));
        f.grid().voltageBoxLeft(9);
        f.clearEvents();
        const QString path = f.dir.filePath(QStringLiteral("set.csv"));
        f.controller->saveToFile(path); // the file's format is the register-set file's own test
        QVERIFY(f.chip0().events().isEmpty());
        // The folder is stored at once, but dialogs keep their folder until the next load.
        QCOMPARE(storedFolder(f), f.dir.path() + u'/');
        QCOMPARE(f.model.defaultDir, QString());

        f.showCodes(3, 0);
        f.controller->loadFromFile(path);
        QCOMPARE(f.model.dacCode[9], 1024.0);
        QCOMPARE(f.model.dacCode[10], 512.0);
        QCOMPARE(f.grid().voltageText(9), QStringLiteral(" 10"));
        QCOMPARE(f.chip0().dacRegister(8), quint16(1023));
    }

    void loadWritesInOrder()
    {
        ControlFixture f;
        f.showCodes(10, 512);
        // One value short: the whole file is checked before the first write.
        QByteArray content = "5\r\n";
        f.controller->loadFromFile(
            f.writeFile(QStringLiteral("in.csv"), content + QByteArray("7\r\n").repeated(23)));
        QCOMPARE(f.prompts.errors.size(), 1);
        QVERIFY2(f.prompts.errors[0].contains("in.csv"), qPrintable(f.prompts.errors[0]));
        QVERIFY(f.chip0().events().isEmpty());
        QCOMPARE(f.model.vsup, 10.0);

        QList<int> codes;
        for (int i = 1; i <= channelCount; ++i) {
            codes.append(i * 41);
            content += QByteArray::number(i * 41) + "\r\n";
        }
        f.controller->loadFromFile(f.writeFile(QStringLiteral("in.csv"), content));
        QCOMPARE(f.prompts.errors.size(), 1);
        QCOMPARE(f.grid().vsupText(), QStringLiteral(" 5"));
        // Channel 1 goes out, and the refresh after it writes it again; the new "Vsup" changes
        // every other text, so channels 2 to 24 go out with their old codes. Then each channel in
        // its own step: its code, and once more from the refresh.
        Writes expected{{0, 41}, {0, 41}};
        for (int r = 1; r < channelCount; ++r)
            expected.append({r, 512});
        for (int r = 1; r < channelCount; ++r)
            expected += Writes{{r, codes[r]}, {r, codes[r]}};
        QCOMPARE(f.dacWritesWithRegister(), expected);
    }
};

QTEST_GUILESS_MAIN(TestMainController)
#include "tst_maincontroller.moc"
