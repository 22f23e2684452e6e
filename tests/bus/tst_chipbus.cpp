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
        QTest::addColumn<double>("code");
        QTest::addColumn<int>("readBack");
        QTest::newRow("A0=0 reg 0, 0") << "0" << 0 << 0.0 << 0;
        QTest::newRow("A0=0 reg 0x17, 1023") << "0" << 0x17 << 1023.0 << 1023;
        QTest::newRow("A0=1 reg 0x12, 341") << "1" << 0x12 << 341.0 << 341;
        QTest::newRow("full scale arrives as 1023") << "0" << 9 << 1024.0 << 1023;
        QTest::newRow("negative arrives as 0") << "1" << 3 << -5.0 << 0;
    }

    void writtenCodesReadBack()
    {
        QFETCH(QString, a0);
        QFETCH(int, reg);
        QFETCH(double, code);
        QFETCH(int, readBack);
        Bench b;
        b.write(QStringLiteral("0"), reg, 77); // so that a write to the wrong chip shows
        b.write(QStringLiteral("1"), reg, 77);
        b.write(a0, reg, code);
        QCOMPARE(b.read(a0, reg), readBack);
        const QString other = a0 == QLatin1String("0") ? QStringLiteral("1") : QStringLiteral("0");
        QCOMPARE(b.read(other, reg), 77);
        for (int r = 0; r < 24; ++r) {
            if (r != reg)
                QCOMPARE(b.read(a0, r), 0);
        }
    }

    void missingChipReadsAllOnes()
    {
        Bench b;
        b.board.setChipPresent(1, false);
        b.write(QStringLiteral("1"), 2, 300);
        QCOMPARE(b.read(QStringLiteral("1"), 2), 65535);
        QCOMPARE(b.chip.readMaxBank(QStringLiteral("1")), 65535);
        QCOMPARE(b.read(QStringLiteral("0"), 2), 0); // the chip that is there still answers
    }

    void otpBanks()
    {
        Bench b;
        const QString a0 = QStringLiteral("0");
        const QString other = QStringLiteral("1");
        QCOMPARE(b.chip.readMaxBank(a0), 0);
        b.chip.generalCallReset(); // nothing burned: no bank closes
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

        b.burn(a0, 5, 200); // the newer bank wins for register 5 only
        b.chip.generalCallReset();
        QCOMPARE(b.chip.readMaxBank(a0), 2);
        QCOMPARE(b.read(a0, 4), 1023);
        QCOMPARE(b.read(a0, 5), 200);

        b.burn(a0, 6, 300); // the third and last bank
        b.chip.generalCallReset();
        b.burn(a0, 6, 999); // no bank left: ignored
        b.chip.generalCallReset();
        QCOMPARE(b.chip.readMaxBank(a0), 3);
        QCOMPARE(b.read(a0, 6), 300);
    }

private:
    struct Bench
    {
        sim::SimulatedBoard board;
        bus::LineEngine engine{board};
        bus::ChipBus chip{engine};

        void write(const QString &a0, int reg, double code)
        {
            const device::DataBits data = device::codeToDataBits(code);
            chip.writeDacRegister(data.low, data.high, device::chipAddressBits(a0),
                                  device::decmal_to_binary8(reg));
        }
        void burn(const QString &a0, int reg, double code)
        {
            const device::DataBits data = device::codeToDataBits(code);
            chip.writeOtpRegister(data.low, data.high, device::chipAddressBits(a0),
                                  device::decmal_to_binary8(reg));
        }
        int read(const QString &a0, int reg)
        {
            chip.readDacRegister(device::decmal_to_binary5(reg), a0);
            return chip.registerWord();
        }
    };
};

QTEST_GUILESS_MAIN(TestChipBus)
#include "tst_chipbus.moc"
