#include "control/burnreport.h"
#include "controlfixture.h"
#include "sim/simulatedcomport.h"

#include <QRegularExpression>
#include <QTest>

namespace {

// The channels a report line lists, e.g. "Burned (sent whole): 1, 2, 3."
QSet<QString> listed(const QString &report, const QString &heading)
{
    const QRegularExpression line(QRegularExpression::escape(heading) +
                                  QStringLiteral(": ([^.\n]*)\\."));
    const QString names = line.match(report).captured(1);
    if (names.isEmpty() || names == QLatin1String("none"))
        return {};
    const QStringList list = names.split(QStringLiteral(", "));
    return {list.cbegin(), list.cend()};
}

} // namespace

// An adapter pulled out mid-operation: the user learns what reached the chip, and the screen
// claims nothing it did not read.
class TestInterruptions : public QObject
{
    Q_OBJECT

private slots:
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
        const control::BurnResult burned = f.operations->burnAll(QStringLiteral("0"), codes);
        QVERIFY(!burned.portHeld());

        const QString report =
            control::BurnReport(QStringLiteral("0"), 0, channels, codes, burned).interruptionText();
        const QSet<QString> sent = listed(report, QStringLiteral("Burned (sent whole)"));
        const QSet<QString> cut =
            listed(report, QStringLiteral("Cut off while being sent, burned or not"));
        const QSet<QString> notSent = listed(report, QStringLiteral("Not sent"));
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

    void interruptedReadLeavesTheRestUnknown()
    {
        ControlFixture f;
        f.prompts.answerYes = false;
        f.model.vsup = 10;
        f.chip0().setDacRegister(0, 200);
        f.chip0().setDacRegister(23, 300);
        f.stack.simulatedPort().unplugAfter(3000);
        f.controller->readAllRegisters();

        QCOMPARE(f.grid().hexText(1), QStringLiteral("C8"));
        QCOMPARE(f.grid().hexText(24), QString());
        QCOMPARE(f.grid().voltageText(24), QString());
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

QTEST_GUILESS_MAIN(TestInterruptions)
#include "tst_interruptions.moc"
