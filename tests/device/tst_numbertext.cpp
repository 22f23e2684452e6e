// SPDX-License-Identifier: MIT
#include "device/bitstrings.h"
#include "device/numbertext.h"
#include "device/paths.h"
#include "device/waitseconds.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <span>

using namespace device;

namespace {

QString rounded(double value, int bits)
{
    const std::optional<qint64> integer = roundToInteger(value, bits);
    return integer ? QString::number(*integer) : QStringLiteral("none");
}

// Every way a number becomes text: shown, stored, or spelled as bits for the wire.
struct Form
{
    const char *name;
    QString (*text)(double);
};
enum FormIndex { Number, Voltage, Code, Plain, Byte, FiveBits, DataWord, Int16, Int32 };
const Form forms[] = {{"numberText", numberText},
                      {"shownVoltage", shownVoltage},
                      {"shownCode", shownCode},
                      {"plainDecimal", plainDecimal},
                      {"byte", decmal_to_binary8},
                      {"five bits", decmal_to_binary5},
                      {"data bits",
                       [](double code) -> QString {
                           return codeToDataBits(code).high + u' ' + codeToDataBits(code).low;
                       }},
                      {"16-bit integer", [](double value) { return rounded(value, 16); }},
                      {"32-bit integer", [](double value) { return rounded(value, 32); }}};

// A value and its text.
using Shown = std::pair<double, const char *>;

} // namespace

class TestNumberText : public QObject
{
    Q_OBJECT

private slots:
    void texts_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        const Shown number[] = {{5.009, " 5.009"},
                                {0.25, " .25"},
                                {10, " 10"},
                                {-0.001, "-.001"},
                                {0, " 0"},
                                {3.3, " 3.3"},
                                {1 / 3.0, " .333333333333333"}};
        // Truncated to millivolts, never rounded up; below zero that is away from zero.
        const Shown voltage[] = {
            {5.0097, " 5.009"}, {10.0 * 1023 / 1024, " 9.99"}, {-0.0005, "-.001"}};
        // Halves go to even; a silent chip reads 65535; a code too large for any integer shows 0.
        const Shown code[] = {{1023, "3FF"},  {0, "0"},       {1024, "400"}, {65535, "FFFF"},
                              {512.5, "200"}, {513.5, "202"}, {1e300, "0"}};
        const Shown plain[] = {{512, "512"}, {3.3, "3.3"}, {-2, "-2"}, {1e-7, "0.0000001"}};
        // Fractions are dropped, negatives give zeros, five bits saturate.
        const Shown byte[] = {{0, "00000000"},   {23, "00010111"},   {18, "00010010"},
                              {255, "11111111"}, {23.9, "00010111"}, {-4, "00000000"}};
        const Shown fiveBits[] = {{23, "10111"}, {31, "11111"}, {40, "11111"}, {0, "00000"}};
        // Codes above 1023 (full scale 1024, a silent chip's 65535) saturate.
        const Shown dataWord[] = {{512, "00000010 00000000"},   {1023, "00000011 11111111"},
                                  {1024, "00000011 11111111"},  {65535, "00000011 11111111"},
                                  {512.7, "00000010 00000000"}, {-3, "00000000 00000000"},
                                  {0, "00000000 00000000"},     {682, "00000010 10101010"}};
        // Halves to even, as everywhere.
        const Shown int16[] = {{2.5, "2"},      {3.5, "4"},         {32767, "32767"},
                               {32768, "none"}, {-32768, "-32768"}, {-32769, "none"}};
        const Shown int32[] = {
            {3e9, "none"}, {1e300, "none"}, {38400, "38400"}, {-2147483649.0, "none"}};
        // In the order of FormIndex.
        const std::span<const Shown> all[] = {number,   voltage,  code,  plain, byte,
                                              fiveBits, dataWord, int16, int32};
        for (int form = Number; form <= Int32; ++form) {
            for (const auto &[value, text] : all[form])
                QTest::addRow("%s %.17g", forms[form].name, value) << form << value << text;
        }
    }

    void texts()
    {
        QFETCH(int, form);
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(forms[form].text(value), text);
    }

    void leadingNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        const Shown rows[] = {{5.2, "5.2"},  {5.009, " 5.009"}, {0.25, ".25"}, {-0.001, "-.001"},
                              {3.3, "3.3V"}, {1.2, "1.2.3"},    {100, "1e2"},  {2, "2e"},
                              {2, "2,5"},    {0, ""},           {0, "abc"},    {0, "-"},
                              {0, "."},      {0, "1e999"},      {0, "\u0663"}};
        for (const auto &[value, text] : rows)
            QTest::addRow("\"%s\"", text) << QString::fromUtf8(text) << value;
    }

    void leadingNumbers()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(leadingNumber(text), value);
    }

    void shownTextsReadBack()
    {
        for (double v : {5.009, 0.25, 10.0, -0.001, 3.3, 1e-5, 123456.789})
            QCOMPARE(leadingNumber(numberText(v)), v);
    }

    void folders()
    {
        // The folder keeps its last separator; a bare name has none.
        const QStringList cases{
            "/data/set1.csv",     "/data/",     "set1.csv", "", "/set1.csv", "/",
#ifdef Q_OS_WIN
            "c:\\data\\set1.csv", "c:\\data\\",
#endif
        };
        for (qsizetype i = 0; i < cases.size(); i += 2)
            QCOMPARE(folderOfPath(cases[i]), cases[i + 1]);
        for (const QString &folder : {QStringLiteral("/data"), QStringLiteral("/data/")})
            QCOMPARE(joinPath(folder, QStringLiteral("x.csv")), QStringLiteral("/data/x.csv"));
        QCOMPARE(joinPath(QString(), QStringLiteral("x.csv")), QStringLiteral("x.csv"));
    }

    void addressAndFatalByte()
    {
        QCOMPARE(chipAddressBits(QStringLiteral("0")), QStringLiteral("11101000"));
        QCOMPARE(chipAddressBits(QStringLiteral("1")), QStringLiteral("11101010"));

        // A register number above a byte is a program fault that ends the program.
        QStringList messages;
        setFatalHandler([&messages](const QString &message) { messages.append(message); });
        decmal_to_binary8(255);
        decmal_to_binary8(256);
        setFatalHandler({});
        QCOMPARE(messages, QStringList{QStringLiteral("Problem in decmal_to_binary8")});
    }

    void waitServesEvents()
    {
        bool handled = false;
        QTimer::singleShot(10, this, [&handled] { handled = true; });
        QElapsedTimer clock;
        clock.start();
        waitSeconds(0.1);
        QVERIFY(handled);
        QVERIFY(clock.elapsed() >= 99);
    }

    // A stop ends every wait under way at once: one started by a handler served inside another,
    // and the other.
    void nestedWaitsAreCutShortTogether()
    {
        Waits waits;
        bool innerEnded = false;
        QTimer::singleShot(10, this, [&] {
            QTimer::singleShot(10, this, [&waits] { waits.cutShort(); });
            waitSeconds(5, &waits);
            innerEnded = true;
        });
        QElapsedTimer clock;
        clock.start();
        waitSeconds(5, &waits);
        QVERIFY(innerEnded);
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
