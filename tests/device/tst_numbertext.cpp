#include "device/numbertext.h"
#include "device/paths.h"
#include "device/waitseconds.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace device;

class TestNumberText : public QObject
{
    Q_OBJECT

private slots:
    void numberTexts_data();
    void numberTexts();
    void shownVoltages_data();
    void shownVoltages();
    void shownCodes_data();
    void shownCodes();
    void leadingNumbers_data();
    void leadingNumbers();
    void shownTextsReadBack();
    void integerRounding_data();
    void integerRounding();
    void fileNumbers_data();
    void fileNumbers();
    void folders_data();
    void folders();
    void waitServesEvents();
};

void TestNumberText::numberTexts_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("5.009") << 5.009 << " 5.009";
    QTest::newRow("0.25") << 0.25 << " .25";
    QTest::newRow("10") << 10.0 << " 10";
    QTest::newRow("-0.001") << -0.001 << "-.001";
    QTest::newRow("0") << 0.0 << " 0";
    QTest::newRow("3.3") << 3.3 << " 3.3";
    QTest::newRow("15 digits") << 1.0 / 3 << " .333333333333333";
}

void TestNumberText::numberTexts()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(numberText(value), text);
}

void TestNumberText::shownVoltages_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<QString>("text");
    QTest::newRow("truncated, not rounded") << 5.0097 << " 5.009";
    QTest::newRow("code 1023 of 10 V") << 10.0 * 1023 / 1024 << " 9.99";
    QTest::newRow("code 513 of 10 V") << 10.0 * 513 / 1024 << " 5.009";
    QTest::newRow("quarter") << 0.25 << " .25";
    QTest::newRow("negative rounds down") << -0.0005 << "-.001";
}

void TestNumberText::shownVoltages()
{
    QFETCH(double, volts);
    QFETCH(QString, text);
    QCOMPARE(shownVoltage(volts), text);
}

void TestNumberText::shownCodes_data()
{
    QTest::addColumn<double>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("1023") << 1023.0 << "3FF";
    QTest::newRow("0") << 0.0 << "0";
    QTest::newRow("full scale") << 1024.0 << "400";
    QTest::newRow("silent chip") << 65535.0 << "FFFF";
    QTest::newRow("half to even, down") << 512.5 << "200";
    QTest::newRow("half to even, up") << 513.5 << "202";
    QTest::newRow("huge does not overflow") << 1e300 << "0";
}

void TestNumberText::shownCodes()
{
    QFETCH(double, code);
    QFETCH(QString, text);
    QCOMPARE(shownCode(code), text);
}

void TestNumberText::leadingNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "5.2" << 5.2;
    QTest::newRow("leading blank") << " 5.009" << 5.009;
    QTest::newRow("no leading zero") << ".25" << 0.25;
    QTest::newRow("negative") << "-.001" << -0.001;
    QTest::newRow("unit after") << "3.3V" << 3.3;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2;
    QTest::newRow("exponent") << "1e2" << 100.0;
    QTest::newRow("dangling exponent") << "2e" << 2.0;
    QTest::newRow("comma is no decimal point") << "2,5" << 2.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("point only") << "." << 0.0;
    QTest::newRow("overflow") << "1e999" << 0.0;
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("\u0663") << 0.0;
}

void TestNumberText::leadingNumbers()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(leadingNumber(text), value);
}

void TestNumberText::shownTextsReadBack()
{
    for (double v : {5.009, 0.25, 10.0, -0.001, 3.3, 1e-5, 123456.789})
        QCOMPARE(leadingNumber(numberText(v)), v);
}

void TestNumberText::integerRounding_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("bits");
    QTest::addColumn<qint64>("result"); // -1 stands for "does not fit"
    QTest::newRow("2.5 to even") << 2.5 << 16 << qint64(2);
    QTest::newRow("3.5 to even") << 3.5 << 16 << qint64(4);
    QTest::newRow("16-bit top") << 32767.0 << 16 << qint64(32767);
    QTest::newRow("16-bit overflow") << 32768.0 << 16 << qint64(-1);
    QTest::newRow("32-bit overflow") << 3e9 << 32 << qint64(-1);
    QTest::newRow("32-bit") << 38400.0 << 32 << qint64(38400);
}

void TestNumberText::integerRounding()
{
    QFETCH(double, value);
    QFETCH(int, bits);
    QFETCH(qint64, result);
    const std::optional<qint64> rounded = roundToInteger(value, bits);
    QCOMPARE(rounded.value_or(-1), result);
}

void TestNumberText::fileNumbers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 512.0 << "512";
    QTest::newRow("fraction") << 3.3 << "3.3";
    QTest::newRow("negative") << -2.0 << "-2";
    QTest::newRow("small") << 1e-7 << "0.0000001";
}

void TestNumberText::fileNumbers()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(plainDecimal(value), text);
}

void TestNumberText::folders_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::newRow("file in folder") << "/data/set1.csv" << "/data/";
    QTest::newRow("bare name") << "set1.csv" << "";
    QTest::newRow("root") << "/set1.csv" << "/";
#ifdef Q_OS_WIN
    QTest::newRow("backslashes") << "c:\\data\\set1.csv" << "c:\\data\\";
#endif
}

void TestNumberText::folders()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QCOMPARE(folderOfPath(path), folder);
    if (!folder.isEmpty())
        QCOMPARE(joinPath(folder, QStringLiteral("x.csv")), folder + QStringLiteral("x.csv"));
    QCOMPARE(joinPath(QStringLiteral("/data"), QStringLiteral("x.csv")),
             QStringLiteral("/data/x.csv"));
}

void TestNumberText::waitServesEvents()
{
    bool handled = false;
    QTimer::singleShot(10, this, [&handled] { handled = true; });
    QElapsedTimer clock;
    clock.start();
    waitSeconds(0.1);
    QVERIFY(handled);
    QVERIFY(clock.elapsed() >= 99);
}

QTEST_GUILESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
