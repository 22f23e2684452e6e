#include "device/registersetfile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
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
    return QList<double>{set.vsup} + QList<double>(set.codes.begin(), set.codes.end());
}

QByteArray joined(const QList<double> &records, const QByteArray &separator)
{
    QByteArrayList texts;
    for (const double value : records)
        texts.append(QByteArray::number(value));
    return texts.join(separator);
}

// 25 valid records, CR LF after each, with the first ones replaced.
QByteArray withRecords(const QByteArrayList &first)
{
    QByteArrayList records(25, QByteArrayLiteral("512"));
    records[0] = "10";
    for (qsizetype i = 0; i < first.size(); ++i)
        records[i] = first[i];
    return records.join("\r\n") + "\r\n";
}

// 25 valid records with the one on the given line replaced.
QByteArray withRecord(int lineNumber, const QByteArray &text)
{
    QByteArrayList records = withRecords({}).split('\n');
    records[lineNumber - 1] = text + '\r';
    return records.join('\n');
}

std::optional<RegisterSet> parse(const QByteArray &bytes, QString *error)
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseRegisterSet(buffer, error);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

} // namespace

class TestRegisterSetFile : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void writeReplacesFileAndReadsBack();
    void unwritableValues_data();
    void unwritableValues();
    void failedWriteKeepsOldFile();

    void readingRule_data();
    void readingRule();
    void badContent_data();
    void badContent();
    void endlessInputIsNotGathered();
    void readErrorsNameTheFile();

private:
    QString pathOf(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestRegisterSetFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestRegisterSetFile::writeReplacesFileAndReadsBack()
{
    RegisterSet set = uniformSet(3.3, 512);
    set.codes[0] = 1024;
    set.codes[1] = 0.25;
    set.codes[2] = 65535;
    set.codes[23] = -5;
    const QString path = pathOf(QStringLiteral("set.csv"));
    QVERIFY(writeFile(path, QByteArray(10000, 'x')));
    QString error;
    QVERIFY2(writeRegisterSetFile(path, set, &error), qPrintable(error));

    QByteArray expected = "3.3\r\n1024\r\n0.25\r\n65535\r\n";
    for (int i = 0; i < 20; ++i)
        expected += "512\r\n";
    QCOMPARE(contentOf(path), expected + "-5\r\n");
    QCOMPARE(formatRegisterSet(set), expected + "-5\r\n");
    // Replaced whole, with no temporary file left beside it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"set.csv"});
    const std::optional<RegisterSet> read = readRegisterSetFile(path, &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(recordsOf(*read), recordsOf(set));
}

void TestRegisterSetFile::unwritableValues_data()
{
    QTest::addColumn<double>("vsup");
    QTest::addColumn<double>("code");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("mentions");
    const auto row = [](const char *name, double vsup, double code, const char *mentions) {
        QTest::newRow(name) << vsup << code << QString() << QString::fromLatin1(mentions);
    };

    // Nothing goes to disk that would not read back.
    row("vsup not a number", std::numeric_limits<double>::quiet_NaN(), 0, "reference");
    row("vsup too long to write", 1e300, 0, "reference");
    row("code infinite", 10, -std::numeric_limits<double>::infinity(), "channel 22");
    row("code beyond 32 bits", 10, 2147483648.0, "channel 22");
    row("code too long to write", 10, 1e-300, "channel 22");
    QTest::newRow("missing folder") << 10.0 << 512.0 << "missing/"
                                    << "set.csv";
}

void TestRegisterSetFile::unwritableValues()
{
    QFETCH(double, vsup);
    QFETCH(double, code);
    QFETCH(QString, folder);
    QFETCH(QString, mentions);

    QVERIFY(writeFile(pathOf(QStringLiteral("set.csv")), "old"));
    RegisterSet set = uniformSet(vsup, 512);
    set.codes[23] = code;
    const QString path = pathOf(folder + QStringLiteral("set.csv"));
    QString error;
    QVERIFY(!writeRegisterSetFile(path, set, &error));
    QVERIFY2(error.contains(mentions), qPrintable(error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    // The old file as it was, and nothing made beside it.
    QCOMPARE(contentOf(pathOf(QStringLiteral("set.csv"))), QByteArray("old"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"set.csv"});
}

void TestRegisterSetFile::failedWriteKeepsOldFile()
{
    const QString path = pathOf(QStringLiteral("set.csv"));
    QString error;
    QVERIFY(writeRegisterSetFile(path, uniformSet(10, 512), &error));
    const QByteArray old = contentOf(path);
    // Refused by the file system: no new file can be made beside the old one.
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        QSKIP("the superuser writes into read-only folders");
#endif
    QFile::Permissions folderPermissions = QFile::permissions(m_dir->path());
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner));
    const bool written = writeRegisterSetFile(path, uniformSet(3, 3), &error);
    QVERIFY(QFile::setPermissions(m_dir->path(), folderPermissions));
    QVERIFY(!written);
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QCOMPARE(contentOf(path), old);
}

void TestRegisterSetFile::readingRule_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<double>>("records");

    // 25 distinct values, so a value read into the wrong slot shows.
    QList<double> counting{3.3};
    for (int i = 1; i <= channelCount; ++i)
        counting.append(i * 10);
    const QList<double> uniform = recordsOf(uniformSet(10, 512));
    QTest::newRow("lone CR") << joined(counting, "\r") + "\r" << counting;
    QTest::newRow("no last line end") << joined(counting, "\r\n") << counting;
    QTest::newRow("commas and lines mixed")
        << joined(counting.mid(0, 10), ",") + "\n" + joined(counting.mid(10), ",") << counting;
    QTest::newRow("blanks around values") << joined(counting, " ,\t ") + " \t\r\n" << counting;
    // More blanks than a value may hold characters, but outside the value.
    QTest::newRow("long blank runs")
        << QByteArray(200, ' ') + joined(counting, QByteArray(200, ' ') + "\r\n") << counting;
    QTest::newRow("blank lines") << "\r\n\r\n" + joined(counting, "\r\n \r\n\t\n\r") + "\r\n\r\n"
                                 << counting;
    QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + withRecords({}) << uniform;
    // What follows the 25th value is not read at all.
    QTest::newRow("malformed values after the 25th ignored")
        << joined(counting, ",") + ",abc,,\r\n" + QByteArray(1000, '9') + "\r\n"
        << counting;

    QList<double> forms = uniform;
    const QList<double> formValues{0.5,           0.5,          3,     -7, 1500, 0.025, 5,
                                   -2147483648.0, 2147483647.0, 512.7, 0};
    std::copy(formValues.begin(), formValues.end(), forms.begin());
    QTest::newRow("number forms") << withRecords({".5", "0.5", "+3", "-7", "1.5e3", "25E-3", "5.",
                                                  "-2147483648", "2147483647", "512.7", "-0"})
                                  << forms;
    // Only codes are bounded to 32 bits.
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
    const auto row = [](const char *name, const QByteArray &content, const QStringList &mentions) {
        QTest::newRow(name) << content << mentions;
    };

    const QByteArray canonical = withRecords({});
    row("only blank lines", " \r\n\t\n\r\n", {"0 values"});
    row("24 values", canonical.left(canonical.size() - 5), {"24 values"});
    // Line numbers count every kind of line end once, and blank lines too.
    row("abc on line 7, LF", withRecord(7, "abc").replace("\r\n", "\n"), {"line 7", "\"abc\""});
    row("abc on line 7, lone CR", withRecord(7, "abc").replace("\r\n", "\r"),
        {"line 7", "\"abc\""});
    row("blank lines count", "\r\n\n\r" + withRecord(2, "x"), {"line 5", "\"x\""});
    row("unit after vsup", withRecord(1, "5V"), {"line 1", "\"5V\""});
    row("blank inside a value", withRecord(3, "5 12"), {"line 3", "\"5 12\""});
    row("lone point", withRecord(4, "."), {"line 4", "\".\""});
    row("exponent without digits", withRecord(4, "1e"), {"line 4", "\"1e\""});
    row("nan", withRecord(2, "nan"), {"line 2", "\"nan\""});
    row("vsup overflows", withRecord(1, "1e999"), {"line 1", "\"1e999\""});
    row("code 2^31", withRecord(25, "2147483648"), {"line 25", "\"2147483648\""});
    row("empty field", "1,,2\r\n", {"line 1", "empty"});
    row("comma at line end", "10,\r\n512\r\n", {"line 1", "empty"});
    row("comma at the end of a short file", "10,", {"line 1", "empty"});
    row("overlong value", withRecord(3, QByteArray(65, '1')), {"line 3", "64"});
    row("overlong with blanks inside", withRecord(3, "1" + QByteArray(70, ' ') + "1"),
        {"line 3", "64"});
    row("binary", QByteArray("10\r\n\x01\x02\r\n", 8), {"line 2"});
}

void TestRegisterSetFile::badContent()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, mentions);

    QString error;
    QVERIFY(!parse(content, &error));
    for (const QString &mention : mentions)
        QVERIFY2(error.contains(mention), qPrintable(error));
    QVERIFY(!parse(content, nullptr)); // no place for the message: the same result
}

void TestRegisterSetFile::endlessInputIsNotGathered()
{
    // Far more input than 25 values: the reader stops after them, or at the cap of one value.
    for (const QByteArray &pattern : {QByteArray("512\r\n"), QByteArray("7")}) {
        QBuffer input;
        input.setData(pattern.repeated((4 << 20) / pattern.size()));
        QVERIFY(input.open(QIODevice::ReadOnly));
        const std::optional<RegisterSet> set = parseRegisterSet(input, nullptr);
        QCOMPARE(set ? recordsOf(*set) : QList<double>(),
                 pattern == "7" ? QList<double>() : QList<double>(25, 512.0));
        QVERIFY2(input.pos() < 65536, QByteArray::number(input.pos()));
    }
}

void TestRegisterSetFile::readErrorsNameTheFile()
{
    const QString bad = pathOf(QStringLiteral("bad.csv"));
    QVERIFY(writeFile(bad, withRecord(7, "abc")));
    QString error;
    for (const QString &path : {pathOf(QStringLiteral("absent.csv")), m_dir->path(), bad}) {
        QVERIFY(!readRegisterSetFile(path, &error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    }
    QVERIFY2(error.contains(QStringLiteral("line 7: \"abc\"")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestRegisterSetFile)
#include "tst_registersetfile.moc"
