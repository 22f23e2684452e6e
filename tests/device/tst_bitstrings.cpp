#include "device/bitstrings.h"

#include <QTest>

using namespace device;

class TestBitStrings : public QObject
{
    Q_OBJECT

private slots:
    void byteConversion_data();
    void byteConversion();
    void fiveBitConversion_data();
    void fiveBitConversion();
    void dataBits_data();
    void dataBits();
    void addressByte();
    void registerAboveByteIsFatal();
};

void TestBitStrings::byteConversion_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("bits");
    QTest::newRow("0") << 0.0 << "00000000";
    QTest::newRow("23") << 23.0 << "00010111";
    QTest::newRow("c1 register") << 18.0 << "00010010";
    QTest::newRow("255") << 255.0 << "11111111";
    QTest::newRow("fraction dropped") << 23.9 << "00010111";
    QTest::newRow("negative") << -4.0 << "00000000";
}

void TestBitStrings::byteConversion()
{
    QFETCH(double, value);
    QFETCH(QString, bits);
    QCOMPARE(decmal_to_binary8(value), bits);
}

void TestBitStrings::fiveBitConversion_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("bits");
    QTest::newRow("19") << 19.0 << "10011";
    QTest::newRow("23") << 23.0 << "10111";
    QTest::newRow("31") << 31.0 << "11111";
    QTest::newRow("40 saturates") << 40.0 << "11111";
    QTest::newRow("0") << 0.0 << "00000";
}

void TestBitStrings::fiveBitConversion()
{
    QFETCH(double, value);
    QFETCH(QString, bits);
    QCOMPARE(decmal_to_binary5(value), bits);
}

void TestBitStrings::dataBits_data()
{
    QTest::addColumn<double>("code");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("low");
    QTest::newRow("512") << 512.0 << "00000010" << "00000000";
    QTest::newRow("1023") << 1023.0 << "00000011" << "11111111";
    QTest::newRow("full scale 1024") << 1024.0 << "00000011" << "11111111";
    QTest::newRow("5000") << 5000.0 << "00000011" << "11111111";
    QTest::newRow("65535 from a silent chip") << 65535.0 << "00000011" << "11111111";
    QTest::newRow("fraction dropped") << 512.7 << "00000010" << "00000000";
    QTest::newRow("negative") << -3.0 << "00000000" << "00000000";
    QTest::newRow("0") << 0.0 << "00000000" << "00000000";
    QTest::newRow("0x2AA") << 682.0 << "00000010" << "10101010";
}

void TestBitStrings::dataBits()
{
    QFETCH(double, code);
    QFETCH(QString, high);
    QFETCH(QString, low);
    const DataBits bits = codeToDataBits(code);
    QCOMPARE(bits.high, high);
    QCOMPARE(bits.low, low);
}

void TestBitStrings::addressByte()
{
    QCOMPARE(chipAddressBits(QStringLiteral("0")), QStringLiteral("11101000"));
    QCOMPARE(chipAddressBits(QStringLiteral("1")), QStringLiteral("11101010"));
}

void TestBitStrings::registerAboveByteIsFatal()
{
    QStringList messages;
    setFatalHandler([&messages](const QString &message) { messages.append(message); });
    QCOMPARE(decmal_to_binary8(255), QStringLiteral("11111111"));
    QVERIFY(messages.isEmpty());
    decmal_to_binary8(256);
    setFatalHandler({});
    QCOMPARE(messages, QStringList{QStringLiteral("Problem in decmal_to_binary8")});
}

QTEST_GUILESS_MAIN(TestBitStrings)
#include "tst_bitstrings.moc"
