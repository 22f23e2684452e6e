// SPDX-License-Identifier: MIT
#include "registersets.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <limits>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace device;

namespace {

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
QByteArray withRecords(const QByteArrayList &first = {"10"})
{
    return (first + QByteArrayList(25 - first.size(), "512")).join("\r\n") + "\r\n";
}

// 25 valid records with the one on the given line replaced.
QByteArray withRecord(int lineNumber, const QByteArray &text)
{
    QByteArrayList records = withRecords().split('\n');
    records[lineNumber - 1] = text + '\r';
    return records.join('\n');
}

} // namespace

class TestRegisterSetFile : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void writeReplacesFileAndReadsBack()
    {
        RegisterSet set = uniformSet(3.3, 512);
        std::ranges::copy(std::array{1024.0, 0.25, 65535.0}, set.codes.begin());
        set.codes[23] = -5;
        const QString path = pathOf(QStringLiteral("set.csv"));
        QVERIFY(writeFile(path, QByteArray(10000, 'x')));
        QString error;
        QVERIFY2(writeRegisterSetFile(path, set, &error), qPrintable(error));

        const QByteArray expected =
            "3.3\r\n1024\r\n0.25\r\n65535\r\n" + QByteArray("512\r\n").repeated(20) + "-5\r\n";
        QCOMPARE(contentOf(path), expected);
        QCOMPARE(formatRegisterSet(set), expected);
        const std::optional<RegisterSet> read = readRegisterSetFile(path, &error);
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(recordsOf(*read), recordsOf(set));

        // A parse error names the file; missing and special files are refused in tst_safefiles.
        QVERIFY(writeFile(path, withRecord(7, "abc")));
        QVERIFY(!readRegisterSetFile(path, &error));
        QVERIFY2(
            error.contains(QDir::toNativeSeparators(path) + QStringLiteral(": line 7: \"abc\"")),
            qPrintable(error));
    }

    void unwritableValues_data()
    {
        QTest::addColumn<double>("vsup");
        QTest::addColumn<double>("code");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("mentions");
        QTest::addColumn<bool>("readOnlyFolder");
        const auto row = [](const char *name, double vsup, double code, const char *mentions,
                            const char *folder = "", bool readOnlyFolder = false) {
            QTest::newRow(name) << vsup << code << QString::fromLatin1(folder)
                                << QString::fromLatin1(mentions) << readOnlyFolder;
        };

        // Nothing goes to disk that would not read back.
        row("vsup not a number", std::numeric_limits<double>::quiet_NaN(), 0, "reference");
        row("vsup too long to write", 1e300, 0, "reference");
        row("code infinite", 10, -std::numeric_limits<double>::infinity(), "channel 22");
        row("code beyond 32 bits", 10, 2147483648.0, "channel 22");
        row("code too long to write", 10, 1e-300, "channel 22");
        row("missing folder", 10, 512, "set.csv", "missing/");
        // Refused by the file system: no new file can be made beside the old one.
        row("read-only folder", 10, 512, "set.csv", "", true);
    }

    void unwritableValues()
    {
        QFETCH(double, vsup);
        QFETCH(double, code);
        QFETCH(QString, folder);
        QFETCH(QString, mentions);
        QFETCH(bool, readOnlyFolder);

        QVERIFY(writeFile(pathOf(QStringLiteral("set.csv")), "old"));
        RegisterSet set = uniformSet(vsup, 512);
        set.codes[23] = code;
        const QString path = pathOf(folder + QStringLiteral("set.csv"));
        const QFile::Permissions permissions = QFile::permissions(m_dir->path());
        if (readOnlyFolder) {
#ifdef Q_OS_UNIX
            if (::geteuid() == 0)
                QSKIP("the superuser writes into read-only folders");
#endif
            QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner));
        }
        QString error;
        const bool written = writeRegisterSetFile(path, set, &error);
        QVERIFY(QFile::setPermissions(m_dir->path(), permissions));
        QVERIFY(!written);
        QVERIFY2(error.contains(mentions), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        // The old file as it was, and nothing made beside it.
        QCOMPARE(contentOf(pathOf(QStringLiteral("set.csv"))), QByteArray("old"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"set.csv"});
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<double>>("records"); // empty: refused
        QTest::addColumn<QStringList>("mentions");  // parts of the refusal
        const auto good = [](const char *name, const QByteArray &content,
                             const QList<double> &records) {
            QTest::newRow(name) << content << records << QStringList();
        };
        const auto bad = [](const char *name, const QByteArray &content,
                            const QStringList &mentions) {
            QTest::newRow(name) << content << QList<double>() << mentions;
        };

        QList<double> counting{3.3}; // 25 distinct values: one read into the wrong slot shows
        for (int i = 1; i <= channelCount; ++i)
            counting.append(i * 10);
        const QList<double> uniform = recordsOf(uniformSet(10, 512));
        good("lone CR", joined(counting, "\r") + "\r", counting);
        good("no last line end", joined(counting, "\r\n"), counting);
        good("commas and lines mixed",
             joined(counting.mid(0, 10), ",") + "\n" + joined(counting.mid(10), ","), counting);
        good("blanks around values", joined(counting, " ,\t ") + " \t\r\n", counting);
        // More blanks than a value may hold characters, but outside the value.
        good("long blank runs",
             QByteArray(200, ' ') + joined(counting, QByteArray(200, ' ') + "\r\n"), counting);
        good("blank lines", "\r\n\r\n" + joined(counting, "\r\n \r\n\t\n\r") + "\r\n\r\n",
             counting);
        good("byte-order mark", "\xEF\xBB\xBF" + withRecords(), uniform);
        // What follows the 25th value is not read at all.
        good("malformed values after the 25th ignored",
             joined(counting, ",") + ",abc,,\r\n" + QByteArray(1000, '9') + "\r\n", counting);

        good("number forms",
             withRecords({".5", "0.5", "+3", "-7", "1.5e3", "25E-3", "5.", "-2147483648",
                          "2147483647", "512.7", "-0"}),
             QList<double>{0.5, 0.5, 3, -7, 1500, 0.025, 5, -2147483648.0, 2147483647.0, 512.7, 0} +
                 QList<double>(14, 512));
        // Only codes are bounded to 32 bits.
        good("vsup any finite number", withRecord(1, "1e300"),
             QList<double>{1e300} + QList<double>(24, 512));

        const QByteArray canonical = withRecords();
        bad("only blank lines", " \r\n\t\n\r\n", {"0 values"});
        bad("24 values", canonical.left(canonical.size() - 5), {"24 values"});
        // Line numbers count every kind of line end once, and blank lines too.
        bad("abc on line 7, LF", withRecord(7, "abc").replace("\r\n", "\n"), {"line 7", "\"abc\""});
        bad("abc on line 7, lone CR", withRecord(7, "abc").replace("\r\n", "\r"),
            {"line 7", "\"abc\""});
        bad("blank lines count", "\r\n\n\r" + withRecord(2, "x"), {"line 5", "\"x\""});
        bad("unit after vsup", withRecord(1, "5V"), {"line 1", "\"5V\""});
        bad("blank inside a value", withRecord(3, "5 12"), {"line 3", "\"5 12\""});
        bad("lone point", withRecord(4, "."), {"line 4", "\".\""});
        bad("exponent without digits", withRecord(4, "1e"), {"line 4", "\"1e\""});
        bad("nan", withRecord(2, "nan"), {"line 2", "\"nan\""});
        bad("vsup overflows", withRecord(1, "1e999"), {"line 1", "\"1e999\""});
        bad("vsup 0", withRecord(1, "0"), {"line 1", "Vsup \"0\""});
        bad("vsup -0", withRecord(1, "-0"), {"line 1", "Vsup \"-0\""});
        bad("vsup negative", withRecord(1, "-5"), {"line 1", "Vsup \"-5\""});
        bad("code 2^31", withRecord(25, "2147483648"), {"line 25", "\"2147483648\""});
        bad("empty field", "1,,2\r\n", {"line 1", "empty"});
        bad("comma at line end", "10,\r\n512\r\n", {"line 1", "empty"});
        bad("comma at the end of a short file", "10,", {"line 1", "empty"});
        bad("overlong value", withRecord(3, QByteArray(65, '1')), {"line 3", "64"});
        bad("overlong with blanks inside", withRecord(3, "1" + QByteArray(70, ' ') + "1"),
            {"line 3", "64"});
        bad("binary", QByteArray("10\r\n\x01\x02\r\n", 8), {"line 2"});
    }

    void reading()
    {
        QFETCH(QByteArray, content);
        QFETCH(QList<double>, records);
        QFETCH(QStringList, mentions);

        QBuffer buffer(&content);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QString error;
        const std::optional<RegisterSet> set = parseRegisterSet(buffer, &error);
        QVERIFY2(set.has_value() == !records.isEmpty(), qPrintable(error));
        QCOMPARE(set ? recordsOf(*set) : QList<double>(), records);
        for (const QString &mention : mentions)
            QVERIFY2(error.contains(mention), qPrintable(error));
        // No place for the message: the same result.
        QVERIFY(buffer.seek(0));
        QCOMPARE(parseRegisterSet(buffer, nullptr).has_value(), set.has_value());
    }

    void endlessInputIsNotGathered()
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

private:
    QString pathOf(const QString &name) const
    {
        return m_dir->filePath(name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestRegisterSetFile)
#include "tst_registersetfile.moc"
