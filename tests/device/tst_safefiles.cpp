#include "device/filenames.h"
#include "device/registersetfile.h"
#include "device/safefilewriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace device;

namespace {

int writeCalls = 0;

// Puts down at most three bytes per call, and every other call is interrupted first.
qint64 choppyWrite(int fd, const char *data, qint64 size)
{
    if (++writeCalls % 2) {
        errno = EINTR;
        return -1;
    }
    return ::write(fd, data, size_t(std::min<qint64>(size, 3)));
}

qint64 diskFull(int, const char *, qint64)
{
    errno = ENOSPC;
    return -1;
}

// Part of the bytes fit, then the disk is full.
qint64 fullAfterSome(int fd, const char *data, qint64 size)
{
    if (++writeCalls == 1)
        return ::write(fd, data, size_t(size / 2));
    return diskFull(fd, data, size);
}

qint64 writesNothing(int, const char *, qint64)
{
    return 0;
}

// The rows' write calls, by index.
const WriteCall fakeWrites[] = {choppyWrite, diskFull, fullAfterSome, writesNothing};

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

mode_t permissionsOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

RegisterSet uniformSet(double vsup, double code)
{
    RegisterSet set;
    set.vsup = vsup;
    set.codes.fill(code);
    return set;
}

// Unmounts at the end of the test, whatever its outcome.
struct Mount
{
    QByteArray point;
    bool mounted = false;
    ~Mount()
    {
        if (mounted)
            ::umount2(point.constData(), MNT_DETACH);
    }
};

// Removes a file by its bytes at the end of the test: QTemporaryDir cannot, when they are not
// UTF-8.
struct RemovedAtEnd
{
    QByteArray name;
    ~RemovedAtEnd() { ::unlink(name.constData()); }
};

} // namespace

class TestSafeFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void fullDiskKeepsOldFile();
    void namesThatAreNotUtf8_data();
    void namesThatAreNotUtf8();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSafeFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    writeCalls = 0;
}

void TestSafeFiles::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<QString>("reason"); // empty: the save works

    QTest::newRow("short and interrupted writes") << 0 << QString();
    QTest::newRow("disk full") << 1 << "No space left on device";
    QTest::newRow("disk full after part") << 2 << "No space left on device";
    QTest::newRow("nothing written") << 3 << "Input/output error";
}

void TestSafeFiles::failedWriteKeepsOldFile()
{
    QFETCH(int, call);
    QFETCH(QString, reason);

    const QString path = m_dir->filePath(QStringLiteral("set.csv"));
    const QByteArray old = "old content\r\n";
    const QByteArray next = QByteArray("new content\r\n").repeated(1000);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
    file.close();
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);

    QString error;
    const bool saved = writeFileSafely(path, next, &error, fakeWrites[call]);
    QCOMPARE(saved, reason.isEmpty());
    QCOMPARE(contentOf(path), saved ? next : old);
    QCOMPARE(permissionsOf(path), mode_t(0640));
    // No temporary is left behind.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("set.csv")});
    if (!saved) {
        QVERIFY2(error.contains(path) && error.contains(reason), qPrintable(error));
        return;
    }
    // A new file gets what the umask leaves.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const QString fresh = m_dir->filePath(QStringLiteral("fresh.csv"));
    QVERIFY2(writeFileSafely(fresh, next, &error), qPrintable(error));
    QCOMPARE(permissionsOf(fresh), mode_t(0666 & ~mask));
}

void TestSafeFiles::fullDiskKeepsOldFile()
{
    Mount disk{QFile::encodeName(m_dir->filePath(QStringLiteral("disk")))};
    QVERIFY(::mkdir(disk.point.constData(), 0700) == 0);
    disk.mounted = ::mount("tmpfs", disk.point.constData(), "tmpfs", 0, "size=64k") == 0;
    if (!disk.mounted)
        QSKIP("a tmpfs cannot be mounted here");

    const QString path = QFile::decodeName(disk.point) + QStringLiteral("/set.csv");
    QString error;
    QVERIFY2(writeRegisterSetFile(path, uniformSet(10, 512), &error), qPrintable(error));
    const QByteArray old = contentOf(path);
    QFile filler(QFile::decodeName(disk.point) + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(4096, 'x')) > 0) {
    }

    QVERIFY(!writeRegisterSetFile(path, uniformSet(3.3, 100), &error));
    QVERIFY2(error.contains(QStringLiteral("No space left on device")), qPrintable(error));
    QCOMPARE(contentOf(path), old);
}

void TestSafeFiles::namesThatAreNotUtf8_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");

    const QString bad(QChar::ReplacementCharacter);
    QTest::newRow("UTF-8") << QByteArray("Spannung \xc2\xb5V.csv")
                           << QStringLiteral("Spannung \u00b5V.csv");
    QTest::newRow("beyond 16 bits")
        << QByteArray("\xf0\x90\x82\x80.csv") << QStringLiteral("\U00010080.csv");
    QTest::newRow("Latin-1") << QByteArray("Messung \xe4.csv") << "Messung " + bad + ".csv";
    QTest::newRow("cut short") << QByteArray("\xe2\x82.csv") << bad + bad + ".csv";
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf.csv") << bad + bad + ".csv";
    QTest::newRow("byte-order mark after a bad byte")
        << QByteArray("\xff\xef\xbb\xbf.csv") << bad + QChar(0xFEFF) + ".csv";
    QTest::newRow("encoded surrogate")
        << QByteArray("\xed\xb3\xbf.csv") << bad + bad + bad + ".csv";
}

void TestSafeFiles::namesThatAreNotUtf8()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);

    // The program holds the name as it came from the system, and the file keeps those bytes.
    const QByteArray folder = QFile::encodeName(m_dir->path()) + '/';
    const QString path = decodeFileName(folder + name);
    QCOMPARE(encodeFileName(path), folder + name);
    const RemovedAtEnd removal{folder + name};
    QString error;
    QVERIFY2(writeRegisterSetFile(path, uniformSet(10, 512), &error), qPrintable(error));
    QVERIFY(::access((folder + name).constData(), F_OK) == 0);
    QVERIFY2(readRegisterSetFile(path, &error), qPrintable(error));

    QVERIFY(!readRegisterSetFile(path + QStringLiteral(".old"), &error));
    QVERIFY2(error.contains(shown + QStringLiteral(".old")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestSafeFiles)
#include "tst_safefiles.moc"
