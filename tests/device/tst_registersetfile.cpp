#include "device/registersetfile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <limits>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace device;

namespace {

RegisterSet uniformSet(double vsup, double code)
{
    RegisterSet set;
    set.vsup = vsup;
    set.codes.fill(code);
    return set;
}

// vsup, then the 24 codes: the order of the records.
QList<double> recordsOf(const RegisterSet &set)
{
    QList<double> records{set.vsup};
    for (const double code : set.codes)
        records.append(code);
    return records;
}

// 25 distinct values, so a value read into the wrong slot shows.
QList<double> countingRecords()
{
    QList<double> records{3.3};
    for (int i = 1; i <= channelCount; ++i)
        records.append(i * 10);
    return records;
}

QByteArray joined(const QList<double> &records, const QByteArray &separator)
{
    QByteArrayList texts;
    for (const double value : records)
        texts.append(QByteArray::number(value));
    return texts.join(separator);
}

QByteArray lines(const QList<QByteArray> &records)
{
    QByteArray bytes;
    for (const QByteArray &record : records)
        bytes += record + "\r\n";
    return bytes;
}

// 25 valid records with one of them replaced.
QByteArray withRecord(int lineNumber, const QByteArray &text)
{
    QList<QByteArray> records(25, QByteArrayLiteral("512"));
    records[0] = "10";
    records[lineNumber - 1] = text;
    return lines(records);
}

std::optional<RegisterSet> parse(const QByteArray &bytes, QString *error)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseRegisterSet(buffer, error);
}

// An input without end: a repeated pattern, counting what the reader has taken.
class EndlessDevice : public QIODevice
{
public:
    explicit EndlessDevice(QByteArray pattern) : m_pattern(std::move(pattern))
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    qint64 delivered() const { return m_delivered; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        for (qint64 i = 0; i < maxSize; ++i)
            data[i] = m_pattern[(m_delivered + i) % m_pattern.size()];
        m_delivered += maxSize;
        return maxSize;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_pattern;
    qint64 m_delivered = 0;
};

bool runningAsRoot()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

} // namespace

class TestRegisterSetFile : public QObject
{
    Q_OBJECT

private slots:
    void init();

    // Writing
    void formatOfUniformSet();
    void formattedRecords_data();
    void formattedRecords();
    void writeReadRoundTrip();
    void writeReplacesExistingFile();
    void writeIntoMissingFolder();
    void unwritableValues_data();
    void unwritableValues();
    void failedWriteKeepsOldFile();

    // Reading
    void readingRule_data();
    void readingRule();
    void badContent_data();
    void badContent();
    void endlessValuesStopAfter25();
    void endlessValueStopsAtCap();
    void readMissingFile();
    void readFolder();
    void readErrorNamesFile();

private:
    QString pathOf(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRegisterSetFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestRegisterSetFile::formatOfUniformSet()
{
    QByteArray expected = "10\r\n";
    for (int i = 0; i < channelCount; ++i)
        expected += "512\r\n";
    QCOMPARE(formatRegisterSet(uniformSet(10, 512)), expected);

    const QString path = pathOf(QStringLiteral("set.csv"));
    QString error;
    QVERIFY2(writeRegisterSetFile(path, uniformSet(10, 512), &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestRegisterSetFile::formattedRecords_data()
{
    QTest::addColumn<double>("vsup");
    QTest::addColumn<double>("code");
    QTest::addColumn<QByteArray>("vsupLine");
    QTest::addColumn<QByteArray>("codeLine");

    QTest::newRow("fractional vsup") << 3.3 << 512.0 << QByteArray("3.3") << QByteArray("512");
    QTest::newRow("full scale") << 10.0 << 1024.0 << QByteArray("10") << QByteArray("1024");
    QTest::newRow("silent chip") << 10.0 << 65535.0 << QByteArray("10") << QByteArray("65535");
    QTest::newRow("negative") << -2.5 << -5.0 << QByteArray("-2.5") << QByteArray("-5");
    QTest::newRow("zero") << 0.0 << 0.0 << QByteArray("0") << QByteArray("0");
    QTest::newRow("under 1") << 0.5 << 0.25 << QByteArray("0.5") << QByteArray("0.25");
}

void TestRegisterSetFile::formattedRecords()
{
    QFETCH(double, vsup);
    QFETCH(double, code);
    QFETCH(QByteArray, vsupLine);
    QFETCH(QByteArray, codeLine);

    RegisterSet set = uniformSet(vsup, 0);
    set.codes[0] = code;
    set.codes[23] = code;
    const QList<QByteArray> records = formatRegisterSet(set).split('\n');
    QCOMPARE(records.size(), 26); // 25 records, nothing after the last line end
    QCOMPARE(records[0], vsupLine + '\r');
    QCOMPARE(records[1], codeLine + '\r');
    QCOMPARE(records[24], codeLine + '\r');
    QCOMPARE(records[25], QByteArray());
}

void TestRegisterSetFile::writeReadRoundTrip()
{
    RegisterSet set;
    set.vsup = 3.3;
    for (int i = 0; i < channelCount; ++i)
        set.codes[std::size_t(i)] = i * 43 - 10;
    set.codes[5] = 1024;
    const QString path = pathOf(QStringLiteral("round.csv"));
    QString error;
    QVERIFY2(writeRegisterSetFile(path, set, &error), qPrintable(error));
    const std::optional<RegisterSet> read = readRegisterSetFile(path, &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(recordsOf(*read), recordsOf(set));
}

void TestRegisterSetFile::writeReplacesExistingFile()
{
    const QString path = pathOf(QStringLiteral("set.csv"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(10000, 'x'));
    }
    QString error;
    QVERIFY2(writeRegisterSetFile(path, uniformSet(5, 7), &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), formatRegisterSet(uniformSet(5, 7)));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"set.csv"});
}

void TestRegisterSetFile::writeIntoMissingFolder()
{
    const QString folder = pathOf(QStringLiteral("missing"));
    const QString path = folder + QStringLiteral("/set.csv");
    QString error;
    QVERIFY(!writeRegisterSetFile(path, uniformSet(10, 512), &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!QFile::exists(folder));
}

void TestRegisterSetFile::unwritableValues_data()
{
    QTest::addColumn<double>("vsup");
    QTest::addColumn<double>("code");
    QTest::addColumn<QString>("mentions");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("vsup not a number") << nan << 0.0 << "reference";
    QTest::newRow("vsup infinite") << inf << 0.0 << "reference";
    QTest::newRow("vsup too long to write") << 1e300 << 0.0 << "reference";
    QTest::newRow("code infinite") << 10.0 << -inf << "channel 22";
    QTest::newRow("code beyond 32 bits") << 10.0 << 2147483648.0 << "channel 22";
    QTest::newRow("code too long to write") << 10.0 << 1e-300 << "channel 22";
}

void TestRegisterSetFile::unwritableValues()
{
    QFETCH(double, vsup);
    QFETCH(double, code);
    QFETCH(QString, mentions);

    RegisterSet set = uniformSet(vsup, 512);
    set.codes[23] = code;
    const QString path = pathOf(QStringLiteral("set.csv"));
    QString error;
    QVERIFY(!writeRegisterSetFile(path, set, &error));
    QVERIFY2(error.contains(mentions), qPrintable(error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

void TestRegisterSetFile::failedWriteKeepsOldFile()
{
    const QString path = pathOf(QStringLiteral("set.csv"));
    QString error;
    QVERIFY(writeRegisterSetFile(path, uniformSet(10, 512), &error));
    const QByteArray old = formatRegisterSet(uniformSet(10, 512));

    // Refused before the disk is touched.
    QVERIFY(!writeRegisterSetFile(path, uniformSet(std::nan(""), 0), &error));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), old);
    }

    // Refused by the file system: no new file can be made beside the old one.
    if (runningAsRoot())
        QSKIP("the superuser writes into read-only folders");
    QFile::Permissions folderPermissions = QFile::permissions(m_dir->path());
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner));
    const bool written = writeRegisterSetFile(path, uniformSet(3, 3), &error);
    QVERIFY(QFile::setPermissions(m_dir->path(), folderPermissions));
    QVERIFY(!written);
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), old);
}

void TestRegisterSetFile::readingRule_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<double>>("records");

    const QList<double> counting = countingRecords();
    const QList<double> uniform = recordsOf(uniformSet(10, 512));
    const QByteArray canonical = formatRegisterSet(uniformSet(10, 512));

    QTest::newRow("as written") << canonical << uniform;
    QTest::newRow("CR LF") << joined(counting, "\r\n") + "\r\n" << counting;
    QTest::newRow("LF") << joined(counting, "\n") + "\n" << counting;
    QTest::newRow("lone CR") << joined(counting, "\r") + "\r" << counting;
    QTest::newRow("no last line end") << joined(counting, "\r\n") << counting;
    QTest::newRow("one line with commas") << joined(counting, ",") + "\r\n" << counting;
    QTest::newRow("commas and lines mixed")
        << joined(counting.mid(0, 10), ",") + "\n" + joined(counting.mid(10), ",") << counting;
    QTest::newRow("blanks around values") << joined(counting, " ,\t ") + " \t\r\n" << counting;
    QTest::newRow("blanks at line starts") << "  " + joined(counting, "\r\n\t") << counting;
    QTest::newRow("long blank runs")
        << QByteArray(200, ' ') + joined(counting, QByteArray(200, ' ') + "\r\n") << counting;
    QTest::newRow("blank lines") << "\r\n\r\n" + joined(counting, "\r\n \r\n\t\n\r") + "\r\n\r\n"
                                 << counting;
    QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + canonical << uniform;

    QTest::newRow("values after the 25th ignored") << canonical + "7\r\n8\r\n" << uniform;
    QTest::newRow("malformed values after the 25th ignored")
        << canonical + "abc,,\r\n" + QByteArray(1000, '9') + "\r\n"
        << uniform;
    QTest::newRow("trailing comma after the 25th") << joined(counting, ",") + ",\r\n" << counting;

    QList<double> forms = uniform;
    forms[0] = 0.5;
    forms[1] = 0.5;
    forms[2] = 3;
    forms[3] = -7;
    forms[4] = 1500;
    forms[5] = 0.025;
    forms[6] = 5;
    forms[7] = -2147483648.0;
    forms[8] = 2147483647.0;
    forms[9] = 512.7;
    forms[10] = 0;
    QTest::newRow("number forms") << lines({".5",    "0.5", "+3",          "-7",         "1.5e3",
                                            "25E-3", "5.",  "-2147483648", "2147483647", "512.7",
                                            "-0",    "512", "512",         "512",        "512",
                                            "512",   "512", "512",         "512",        "512",
                                            "512",   "512", "512",         "512",        "512"})
                                  << forms;

    QList<double> hugeVsup = uniform;
    hugeVsup[0] = 1e300;
    QTest::newRow("vsup any finite number") << withRecord(1, "1e300") << hugeVsup;
}

void TestRegisterSetFile::readingRule()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<double>, records);

    QString error;
    const std::optional<RegisterSet> set = parse(content, &error);
    QVERIFY2(set, qPrintable(error));
    QCOMPARE(recordsOf(*set), records);
}

void TestRegisterSetFile::badContent_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("mentions");

    const QByteArray canonical = formatRegisterSet(uniformSet(10, 512));
    const QByteArray shortFile = canonical.left(canonical.size() - 5);

    QTest::newRow("empty") << QByteArray() << QStringList{"0 values"};
    QTest::newRow("only blank lines") << QByteArray(" \r\n\t\n\r\n") << QStringList{"0 values"};
    QTest::newRow("24 values") << shortFile << QStringList{"24 values"};
    QTest::newRow("abc on line 7") << withRecord(7, "abc") << QStringList{"line 7", "\"abc\""};
    QTest::newRow("abc on line 7, LF")
        << withRecord(7, "abc").replace("\r\n", "\n") << QStringList{"line 7", "\"abc\""};
    QTest::newRow("abc on line 7, lone CR")
        << withRecord(7, "abc").replace("\r\n", "\r") << QStringList{"line 7", "\"abc\""};
    QTest::newRow("blank lines count")
        << "\r\n\n\r" + withRecord(2, "x") << QStringList{"line 5", "\"x\""};
    QTest::newRow("unit after vsup") << withRecord(1, "5V") << QStringList{"line 1", "\"5V\""};
    QTest::newRow("blank inside a value")
        << withRecord(3, "5 12") << QStringList{"line 3", "\"5 12\""};
    QTest::newRow("two points") << withRecord(4, "1.2.3") << QStringList{"line 4", "\"1.2.3\""};
    QTest::newRow("hexadecimal") << withRecord(4, "0x1F") << QStringList{"line 4", "\"0x1F\""};
    QTest::newRow("lone point") << withRecord(4, ".") << QStringList{"line 4", "\".\""};
    QTest::newRow("lone sign") << withRecord(4, "-") << QStringList{"line 4", "\"-\""};
    QTest::newRow("double sign") << withRecord(4, "--5") << QStringList{"line 4", "\"--5\""};
    QTest::newRow("exponent without digits")
        << withRecord(4, "1e") << QStringList{"line 4", "\"1e\""};
    QTest::newRow("quoted") << withRecord(4, "\"5\"") << QStringList{"line 4"};
    QTest::newRow("nan") << withRecord(2, "nan") << QStringList{"line 2", "\"nan\""};
    QTest::newRow("inf") << withRecord(1, "inf") << QStringList{"line 1", "\"inf\""};
    QTest::newRow("vsup overflows") << withRecord(1, "1e999") << QStringList{"line 1", "\"1e999\""};
    QTest::newRow("code 1e300") << withRecord(5, "1e300") << QStringList{"line 5", "\"1e300\""};
    QTest::newRow("code 2^31") << withRecord(25, "2147483648")
                               << QStringList{"line 25", "\"2147483648\""};
    QTest::newRow("empty field") << QByteArray("1,,2\r\n") << QStringList{"line 1", "empty"};
    QTest::newRow("comma alone on a line")
        << QByteArray("10\r\n,\r\n") << QStringList{"line 2", "empty"};
    QTest::newRow("comma at line end")
        << QByteArray("10,\r\n512\r\n") << QStringList{"line 1", "empty"};
    QTest::newRow("comma at the end of a short file")
        << QByteArray("10,") << QStringList{"line 1", "empty"};
    QTest::newRow("overlong value")
        << withRecord(3, QByteArray(65, '1')) << QStringList{"line 3", "64"};
    QTest::newRow("overlong with blanks inside")
        << withRecord(3, "1" + QByteArray(70, ' ') + "1") << QStringList{"line 3", "64"};
    QTest::newRow("binary") << QByteArray("10\r\n\x01\x02\r\n", 8) << QStringList{"line 2"};
}

void TestRegisterSetFile::badContent()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, mentions);

    QString error;
    QVERIFY(!parse(content, &error));
    for (const QString &mention : mentions)
        QVERIFY2(error.contains(mention), qPrintable(error));
    // Without a place for the message the result is the same.
    QVERIFY(!parse(content, nullptr));
}

void TestRegisterSetFile::endlessValuesStopAfter25()
{
    EndlessDevice input("512\r\n");
    QString error;
    const std::optional<RegisterSet> set = parseRegisterSet(input, &error);
    QVERIFY2(set, qPrintable(error));
    QCOMPARE(recordsOf(*set), QList<double>(25, 512.0));
    QVERIFY2(input.delivered() < 65536, QByteArray::number(input.delivered()));
}

void TestRegisterSetFile::endlessValueStopsAtCap()
{
    EndlessDevice input("7");
    QString error;
    QVERIFY(!parseRegisterSet(input, &error));
    QVERIFY2(error.contains(QStringLiteral("line 1")), qPrintable(error));
    QVERIFY2(input.delivered() < 65536, QByteArray::number(input.delivered()));
}

void TestRegisterSetFile::readMissingFile()
{
    const QString path = pathOf(QStringLiteral("absent.csv"));
    QString error;
    QVERIFY(!readRegisterSetFile(path, &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
}

void TestRegisterSetFile::readFolder()
{
    QString error;
    QVERIFY(!readRegisterSetFile(m_dir->path(), &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(m_dir->path())), qPrintable(error));
}

void TestRegisterSetFile::readErrorNamesFile()
{
    const QString path = pathOf(QStringLiteral("bad.csv"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(withRecord(7, "abc"));
    }
    QString error;
    QVERIFY(!readRegisterSetFile(path, &error));
    QVERIFY2(error.startsWith(QDir::toNativeSeparators(path)), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("line 7")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("\"abc\"")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestRegisterSetFile)
#include "tst_registersetfile.moc"
