#include "bus/chipbus.h"
#include "bus/lineengine.h"
#include "device/bitstrings.h"
#include "sim/simulatedboard.h"

#include <QTest>

// The engine and the register transactions end to end against the simulated board, which
// decodes nothing but the line levels.
class TestChipBus : public QObject
{
    Q_OBJECT

private slots:
    void writtenCodesReadBack_data()
    {
        QTest::addColumn<QString>("a0");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("code");
        QTest::newRow("A0=0 reg 0, 0") << "0" << 0 << 0;
        QTest::newRow("A0=0 reg 0x17, 1023") << "0" << 0x17 << 1023;
        QTest::newRow("A0=1 reg 0x12, 341") << "1" << 0x12 << 341;
    }

    void writtenCodesReadBack()
    {
        QFETCH(QString, a0);
        QFETCH(int, reg);
        QFETCH(int, code);
        Bench b;
        b.write(QStringLiteral("0"), reg, 77); // so that a write to the wrong chip shows
        b.write(QStringLiteral("1"), reg, 77);
        b.write(a0, reg, code);
        QCOMPARE(b.read(a0, reg), code);
        const QString other = a0 == QLatin1String("0") ? QStringLiteral("1") : QStringLiteral("0");
        QCOMPARE(b.read(other, reg), 77);
    }

    void otpBanks()
    {
        Bench b;
        const QString a0 = QStringLiteral("0");
        const QString other = QStringLiteral("1");
        QCOMPARE(b.chip.readMaxBank(a0), 0);
        b.burn(a0, 4, 1023);
        b.burn(a0, 5, 100);
        b.burn(other, 5, 600);
        b.write(a0, 4, 1);
        b.write(a0, 6, 9);
        b.write(other, 5, 4);
        QCOMPARE(b.read(a0, 4), 1); // a burn does not load the DAC register
        b.chip.generalCallReset();  // reaches both chips
        QCOMPARE(b.chip.readMaxBank(a0), 1);
        QCOMPARE(b.chip.readMaxBank(other), 1);
        QCOMPARE(b.read(a0, 4), 1023);
        QCOMPARE(b.read(a0, 5), 100);
        QCOMPARE(b.read(other, 5), 600);
        QCOMPARE(b.read(a0, 6), 0); // never burned: reset loads 0
    }

private:
    struct Bench
    {
        sim::SimulatedBoard board;
        bus::LineEngine engine{board};
        bus::ChipBus chip{engine};

        void write(const QString &a0, int reg, double code, bool burn = false)
        {
            const device::DataBits data = device::codeToDataBits(code);
            const auto send =
                burn ? &bus::ChipBus::writeOtpRegister : &bus::ChipBus::writeDacRegister;
            (chip.*send)(data.low, data.high, device::chipAddressBits(a0),
                         device::decmal_to_binary8(reg));
        }
        void burn(const QString &a0, int reg, double code) { write(a0, reg, code, true); }
        int read(const QString &a0, int reg)
        {
            chip.readDacRegister(device::decmal_to_binary5(reg), a0);
            return chip.registerWord();
        }
    };
};

QTEST_GUILESS_MAIN(TestChipBus)
#include "tst_chipbus.moc"
