// SPDX-License-Identifier: MIT
#include "control/burnlog.h"
#include "control/burnreport.h"
#include "control/statusline.h"
#include "controlfixture.h"
#include "device/numbertext.h"
#include "sim/simulatedcomport.h"
#include "version.h"

#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

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

// The channels a report line lists, e.g. "Burned (sent whole): 1, 2, 3."
QSet<QString> listed(const QString &report, const char *heading)
{
    const QRegularExpression line(QRegularExpression::escape(QLatin1String(heading)) +
                                  QStringLiteral(": ([^.\n]*)\\."));
    const QString names = line.match(report).captured(1);
    if (names.isEmpty() || names == QLatin1String("none"))
        return {};
    const QStringList list = names.split(QStringLiteral(", "));
    return {list.cbegin(), list.cend()};
}

} // namespace

class TestMainController : public QObject
{
    Q_OBJECT

private slots:
    void firstRunWithEmptyStore()
    {
        ControlFixture f(false);
        f.controller->showAbout();
        const QString release = QStringLiteral("%1.%2.%3")
                                    .arg(version::major)
                                    .arg(version::minor)
                                    .arg(version::revision);
        QCOMPARE(f.prompts.messages,
                 QStringList{"KALVENTA Program.|KALVENTA Eval Software  Rev. " + release +
                             "\r\nKALVENTA evaluation software team"
                             "\r\nFree software under the MIT licence."});
        f.controller->start();
        QCOMPARE(f.model.a0Pin, QStringLiteral("0"));
        QCOMPARE(f.grid().vsupText(), QStringLiteral(" 0"));
        QVERIFY(!f.stack.ports().comPort().isOpen()); // port number 0: nothing opened
        // Nothing answers a closed port: nothing is known.
        QCOMPARE(f.model.unknownChannels().size(), channelCount);
        QCOMPARE(f.grid().hexText(1), QString());
        QCOMPARE(f.grid().maxBankText(), QString());

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
        QList<int> registers;
        for (int r = 0; r < channelCount; ++r) {
            f.chip0().setDacRegister(r, quint16(r * 40));
            expected.append({r, r * 40});
            registers.append(r);
        }
        f.controller->start();
        QCOMPARE(f.grid().vsupText(), QStringLiteral(" 10"));
        QCOMPARE(f.grid().maxBankText(), QStringLiteral("0"));
        QCOMPARE(f.grid().voltageText(2), QStringLiteral(" .39"));
        QCOMPARE(f.grid().hexText(24), QStringLiteral("398"));
        QList<int> read;
        for (const ChipEvent &e : f.events(ChipEvent::Kind::RegisterRead))
            read.append(e.reg);
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
        QCOMPARE((QPair<int, int>{port.portNumber, port.bitRate}), (QPair<int, int>{1, 9600}));
    }

    void otpAllThenReset()
    {
        ControlFixture f;
        f.model.a0Pin = QStringLiteral("1");
        QList<ChipEvent> burns;
        for (int i = 1; i <= channelCount; ++i) {
            f.model.dacCode[i] = i == 5 ? 1024 : i;
            burns.append({ChipEvent::Kind::OtpWrite, i - 1, quint16(i == 5 ? 1023 : i)});
        }
        f.controller->programOtpAllChannels();
        QCOMPARE(f.prompts.questions.size(), 1);
        QVERIFY(f.prompts.questions[0].contains(QStringLiteral("A0 = 1")));
        QCOMPARE(f.events(ChipEvent::Kind::RegisterRead, 1).size(), 1); // the max bank

        f.prompts.answerYes = true;
        f.controller->programOtpAllChannels();
        QCOMPARE(f.events(ChipEvent::Kind::OtpWrite, 1), burns);
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

    // A burn from the windows goes into the burn log; a log that cannot take it is asked about
    // before anything is burned.
    void burnsFromTheWindowsAreLogged()
    {
        ControlFixture f;
        QTemporaryDir dir;
        const control::BurnSource source{QStringLiteral("kalventa test"),
                                         QStringLiteral("COM1 (simulated board)"), QString()};
        f.operations->setBurnLog(control::BurnLog(dir.filePath(QStringLiteral("burns.log"))),
                                 [source] { return source; });
        f.prompts.answerYes = true;
        f.controller->programOtpAllChannels();
        QString error;
        const auto contents = f.operations->burnLog()->read(&error);
        QVERIFY2(contents && contents->entries.size() == 1, qPrintable(error));
        const QJsonObject entry = contents->entries.first();
        QCOMPARE(entry.value(QStringLiteral("program")).toString(), source.program);
        QCOMPARE(entry.value(QStringLiteral("verified")).toBool(), true);
        QCOMPARE(entry.value(QStringLiteral("maxBankAfter")).toInt(), 1);

        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        f.operations->setBurnLog(control::BurnLog(dir.filePath(QStringLiteral("file/burns.log"))),
                                 [source] { return source; });
        f.prompts.answerYes = false;
        f.prompts.questions.clear();
        const qsizetype writes = f.events(ChipEvent::Kind::OtpWrite, 0).size();
        f.controller->programOtpAllChannels();
        QCOMPARE(f.prompts.questions.size(), 1);
        QVERIFY2(f.prompts.questions.first().contains(QStringLiteral("burn log cannot be written")),
                 qPrintable(f.prompts.questions.first()));
        QCOMPARE(f.events(ChipEvent::Kind::OtpWrite, 0).size(), writes);
    }

    void saveAndLoad()
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

        // Loading writes in order.
        f.showCodes(10, 512);
        // One value short: the whole file is checked before the first write.
        QByteArray content = "5\r\n";
        f.controller->loadFromFile(
            f.writeFile(QStringLiteral("in.csv"), content + QByteArray("7\r\n").repeated(23)));
        QCOMPARE(f.prompts.errors.size(), 1);
        QVERIFY2(f.prompts.errors[0].contains("in.csv"), qPrintable(f.prompts.errors[0]));
        QVERIFY(f.prompts.errors[0].endsWith(QStringLiteral("\n\nNothing was sent to the chip.")));
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

    // `kalventa FILE.csv`: the file is offered, not sent; a file that cannot be read says so.
    void offeredFileAsksFirst_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("sent"); // the file's codes went to the chip
        QTest::addColumn<QString>("error");
        const QByteArray set = "5\r\n" + QByteArray("7\r\n").repeated(24);
        QTest::newRow("yes") << set << true << true << "";
        QTest::newRow("no") << set << false << false << "";
        QTest::newRow("a bad file")
            << QByteArray("5\r\nx\r\n") << true << false << "Nothing was sent to the chip.";
    }

    void offeredFileAsksFirst()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, answer);
        QFETCH(bool, sent);
        QFETCH(QString, error);
        ControlFixture f;
        f.showCodes(10, 512);
        f.prompts.answerYes = answer;
        f.controller->offerFile(f.writeFile(QStringLiteral("offered.csv"), content));
        QCOMPARE(f.prompts.questions.size(), error.isEmpty() ? 1 : 0);
        if (error.isEmpty())
            QVERIFY2(f.prompts.questions[0].contains(QStringLiteral("offered.csv")) &&
                         f.prompts.questions[0].contains(QStringLiteral("A0 = 0")),
                     qPrintable(f.prompts.questions[0]));
        QCOMPARE(f.prompts.errors.size(), error.isEmpty() ? 0 : 1);
        if (!error.isEmpty())
            QVERIFY(f.prompts.errors[0].endsWith(error));
        QCOMPARE(f.dacWrites().isEmpty(), !sent);
        if (sent)
            QCOMPARE(f.chip0().dacRegister(23), quint16(7));
        QCOMPARE(f.controller->recentFiles().size(), sent ? 1 : 0);
    }

    // An adapter pulled out mid-operation: the user learns what reached the chip, and the screen
    // claims nothing it did not read.
    void interruptedBurnSaysWhatWasBurned_data()
    {
        QTest::addColumn<int>("unplugAfter");
        QTest::newRow("at the first line operation") << 0;
        QTest::newRow("in the last write") << 5250;
        QTest::newRow("in the read-back") << 9000;
    }

    // The report is checked against the simulated chip's OTP cells, not against the code's count.
    void interruptedBurnSaysWhatWasBurned()
    {
        QFETCH(int, unplugAfter);
        ControlFixture f;
        control::ChannelCodes codes;
        QList<int> channels;
        for (int i = 1; i <= device::channelCount; ++i) {
            codes[std::size_t(i - 1)] = 100 + i;
            channels.append(i);
        }
        f.stack.simulatedPort().unplugAfter(unplugAfter);
        const control::BurnResult burned =
            f.operations->burn(QStringLiteral("0"), control::ChipOperations::allChannels(), codes);
        QVERIFY(!burned.portHeld());

        const QString report = control::BurnReport(burned).interruptionText();
        const QSet<QString> sent = listed(report, "Burned (sent whole)");
        const QSet<QString> cut = listed(report, "Cut off while being sent, burned or not");
        const QSet<QString> notSent = listed(report, "Not sent");
        QCOMPARE(sent.size() + cut.size() + notSent.size(), device::channelCount);
        for (int i = 1; i <= device::channelCount; ++i) {
            const QString label = device::channelLabel(i);
            const std::optional<quint16> cell = f.chip0().otpCell(0, device::registerOfChannel(i));
            if (sent.contains(label))
                QCOMPARE(cell, std::optional<quint16>(quint16(100 + i)));
            else if (notSent.contains(label))
                QVERIFY2(!cell, qPrintable(label));
        }

        // The reset reloaded the chip from OTP, and nothing of that was read back whole.
        f.grid().showReading(burned.readBack, false);
        QCOMPARE(f.grid().voltageText(24), QString());
        QCOMPARE(f.model.unknownChannels().size(),
                 device::channelCount - burned.readBack.registersRead);
    }

    // A chip that does not answer is named in the status bar until one answers; what it never
    // acknowledged is not shown as held.
    void silentChipIsNamedAndItsValuesUnknown()
    {
        ControlFixture f;
        control::StatusLine status{f.stack.ports(), f.stack.portMap(), f.model, f.prompts};
        connect(f.operations.get(), &control::ChipOperations::chipHeard, &status,
                &control::StatusLine::chipHeard);
        f.showCodes(10, 100);
        f.board.setChipPresent(0, false);
        f.grid().voltageBoxEdited(5, QStringLiteral("2"));
        QVERIFY(f.model.codeUnknown[5]);
        QVERIFY(status.silenceText().startsWith(QStringLiteral("No chip answered at A0 = 0")));
        // Its boxes say nothing is known, and Save says why.
        QCOMPARE(f.grid().voltageText(5), QString());
        QCOMPARE(f.grid().hexText(5), QString());
        f.controller->saveToFile(f.dir.filePath(QStringLiteral("unacknowledged.csv")));
        QCOMPARE(f.prompts.questions.size(), 1);
        QVERIFY2(f.prompts.questions[0].startsWith(
                     QStringLiteral("Channels 5 were not acknowledged by the chip: the file")),
                 qPrintable(f.prompts.questions[0]));
        f.controller->readAllRegisters();
        QCOMPARE(f.model.unknownChannels().size(), channelCount);
        QCOMPARE(f.grid().maxBankText(), QString());

        f.board.setChipPresent(0, true);
        f.controller->readAllRegisters();
        QVERIFY(f.model.unknownChannels().isEmpty());
        QCOMPARE(status.silenceText(), QString());
    }

    void interruptedReadLeavesTheRestUnknown()
    {
        ControlFixture f;
        f.prompts.answerYes = false;
        f.model.vsup = 10;
        f.chip0().setDacRegister(0, 200);
        f.chip0().setDacRegister(23, 300);
        f.stack.simulatedPort().unplugAfter(3000);
        f.controller->readAllRegisters();

        QCOMPARE((QStringList{f.grid().hexText(1), f.grid().hexText(24), f.grid().voltageText(24)}),
                 (QStringList{"C8", "", ""}));
        QVERIFY(f.model.codeUnknown[24]);

        // Leaving an unknown box, saving it or burning it puts no guess anywhere.
        f.stack.ports().openSelectedComPort();
        f.clearEvents();
        f.grid().voltageBoxLeft(24);
        const QString path = f.dir.filePath(QStringLiteral("set.csv"));
        f.controller->saveToFile(path);
        QCOMPARE(f.prompts.questions.size(), 1);
        QVERIFY(!QFile::exists(path));
        f.prompts.answerYes = true;
        f.controller->programOtpAllChannels();
        QVERIFY(f.dacWrites().isEmpty());
        QVERIFY(!f.chip0().otpCell(0, 0));
        QCOMPARE(f.prompts.errors.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestMainController)
#include "tst_maincontroller.moc"
