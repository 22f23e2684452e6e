// SPDX-License-Identifier: MIT
#include "device/filenames.h"
#include "device/safefilewriter.h"
#include "device/settingsstore.h"
#include "registersets.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// The rows' write calls, by index: part of the bytes fit, then the disk is full; nothing written.
const WriteCall fakeWrites[] = {choppyWrite, diskFull,
                                [](int fd, const char *data, qint64 size) -> qint64 {
                                    return ++writeCalls == 1 ? ::write(fd, data, size_t(size / 2))
                                                             : diskFull(fd, data, size);
                                },
                                [](int, const char *, qint64) { return qint64(0); }};

mode_t permissionsOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// What stands at the path under test. Every kind but the first three must be refused at once:
// a FIFO would block a reader forever, and a save must never replace a device, a folder or a
// link that leads nowhere.
enum Entry { Regular, LinkToRegular, Oversized, Fifo, LinkToFifo, Device, Folder, Dangling, Loop };

// A register set, then settings: each reader takes its own part.
const QByteArray content = "10\r\n" + QByteArray("512\r\n").repeated(24) + "[PortNumb]\n2=5\n";

} // namespace

class TestSafeFiles : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_path = inDir("entry");
        writeCalls = 0;
    }

    void failedWriteKeepsOldFile_data()
    {
        QTest::addColumn<int>("call");
        QTest::addColumn<QString>("reason"); // empty: the save works

        QTest::newRow("short and interrupted writes") << 0 << QString();
        QTest::newRow("disk full") << 1 << "No space left on device";
        QTest::newRow("disk full after part") << 2 << "No space left on device";
        QTest::newRow("nothing written") << 3 << "Input/output error";
    }

    void failedWriteKeepsOldFile()
    {
        QFETCH(int, call);
        QFETCH(QString, reason);

        const QString path = m_dir->filePath(QStringLiteral("set.csv"));
        const QByteArray old = "old content\r\n";
        const QByteArray next = QByteArray("new content\r\n").repeated(1000);
        QVERIFY(writeFile(path, old));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);

        QString error;
        const bool saved = writeFileSafely(path, next, &error, fakeWrites[call]);
        QCOMPARE(saved, reason.isEmpty());
        QCOMPARE(contentOf(path), saved ? next : old);
        QCOMPARE(permissionsOf(path), mode_t(0640));
        // No temporary is left behind.
        QCOMPARE(
            QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
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

    void fullDiskKeepsOldFile()
    {
        const QByteArray point = QFile::encodeName(m_dir->filePath(QStringLiteral("disk")));
        QVERIFY(::mkdir(point.constData(), 0700) == 0);
        if (::mount("tmpfs", point.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("a tmpfs cannot be mounted here");
        const auto unmount = qScopeGuard([&point] { ::umount2(point.constData(), MNT_DETACH); });
        const QString path = QFile::decodeName(point) + QStringLiteral("/set.csv");
        QString error;
        QVERIFY2(writeRegisterSetFile(path, uniformSet(10, 512), &error), qPrintable(error));
        const QByteArray old = contentOf(path);
        QFile filler(QFile::decodeName(point) + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) > 0) {
        }

        QVERIFY(!writeRegisterSetFile(path, uniformSet(3.3, 100), &error));
        QCOMPARE(contentOf(path), old);
    }

    void namesThatAreNotUtf8_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");

        const QString bad(QChar::ReplacementCharacter);
        const auto row = [](const char *name, const QByteArray &bytes, const QString &shown) {
            QTest::newRow(name) << bytes << shown;
        };
        row("UTF-8", "Spannung \xc2\xb5V.csv", QStringLiteral("Spannung \u00b5V.csv"));
        row("beyond 16 bits", "\xf0\x90\x82\x80.csv", QStringLiteral("\U00010080.csv"));
        row("Latin-1", "Messung \xe4.csv", "Messung " + bad + ".csv");
        row("cut short", "\xe2\x82.csv", bad + bad + ".csv");
        row("overlong slash", "\xc0\xaf.csv", bad + bad + ".csv");
        row("byte-order mark after a bad byte", "\xff\xef\xbb\xbf.csv",
            bad + QChar(0xFEFF) + ".csv");
        row("encoded surrogate", "\xed\xb3\xbf.csv", bad + bad + bad + ".csv");
    }

    void namesThatAreNotUtf8()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);

        // The program holds the name as it came from the system, and the file keeps those bytes.
        const QByteArray folder = QFile::encodeName(m_dir->path()) + '/';
        const QString path = decodeFileName(folder + name);
        QCOMPARE(encodeFileName(path), folder + name);
        // QTemporaryDir cannot remove a file whose name is not UTF-8.
        const auto removal = qScopeGuard([&] { ::unlink((folder + name).constData()); });
        QString error;
        QVERIFY2(writeRegisterSetFile(path, uniformSet(10, 512), &error), qPrintable(error));
        QVERIFY(::access((folder + name).constData(), F_OK) == 0);
        QVERIFY2(readRegisterSetFile(path, &error), qPrintable(error));

        QVERIFY(!readRegisterSetFile(path + QStringLiteral(".old"), &error));
        QVERIFY2(error.contains(shown + QStringLiteral(".old")), qPrintable(error));
    }

    void specialFiles_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("readProblem"); // empty: readable; writable up to Oversized

        QTest::newRow("regular file") << int(Regular) << QString();
        QTest::newRow("link to a regular file") << int(LinkToRegular) << QString();
        QTest::newRow("above 1 MiB") << int(Oversized) << "larger than 1 MiB";
        QTest::newRow("FIFO") << int(Fifo) << "not a regular file";
        QTest::newRow("link to a FIFO") << int(LinkToFifo) << "not a regular file";
        QTest::newRow("character device") << int(Device) << "not a regular file";
        QTest::newRow("folder") << int(Folder) << "not a regular file";
        QTest::newRow("dangling chain of links") << int(Dangling) << "does not exist";
        QTest::newRow("loop of links") << int(Loop) << "loop";
    }

    void specialFiles()
    {
        QFETCH(int, entry);
        QFETCH(QString, readProblem);
        const bool writable = entry <= Oversized;

        if (!make(Entry(entry))) {
            QCOMPARE(entry, int(Device));
            QSKIP("device nodes cannot be made here");
        }
        const QString before = stateOf(m_path);
        const bool readable = readProblem.isEmpty();
        QString error;
        QVERIFY2(readRegisterSetFile(m_path, &error).has_value() == readable, qPrintable(error));
        if (!readable)
            QVERIFY2(error.contains(m_path) && error.contains(readProblem), qPrintable(error));
        QCOMPARE(stateOf(m_path), before);

        SettingsStore store(m_path);
        DeviceModel model;
        device::StoredPort port;
        // Anything but a regular file of sane size is the unreadable store: the fallback port 1.
        QCOMPARE(store.loadSettings(model, port), readable);
        QCOMPARE(port.portNumber, qint16(readable ? 5 : 1));

        // A device (a link to /dev/null) keeps nothing and says nothing.
        QCOMPARE(store.saveAtExit(model, {6, 4800}), readable || entry == Device);
        QVERIFY2(store.lastError().isEmpty() == (readable || entry == Device),
                 qPrintable(store.lastError()));
        if (readable) {
            SettingsStore fresh(m_path);
            QVERIFY(fresh.loadSettings(model, port));
            QCOMPARE(port.portNumber, qint16(6));
            QCOMPARE(stateOf(m_path).section(u'/', 0, 0), before.section(u'/', 0, 0));
        } else {
            QVERIFY(entry == Device || store.lastError().contains(m_path));
            QCOMPARE(stateOf(m_path), before);
        }

        const RegisterSet set = uniformSet(3.3, 100);
        QCOMPARE(writeRegisterSetFile(m_path, set, &error), writable);
        if (writable) {
            QCOMPARE(contentOf(m_path), formatRegisterSet(set));
            // A link stays a link; the file it leads to is the one replaced.
            QCOMPARE(stateOf(m_path).section(u'/', 0, 0), before.section(u'/', 0, 0));
        } else {
            QVERIFY2(error.contains(m_path), qPrintable(error));
            QCOMPARE(stateOf(m_path), before);
        }
    }

    // The protected_symlinks rule: a link in a sticky, world-writable folder is followed only when
    // this user or the folder's owner made it. Owners other than the user need root to make.
    void linksInSharedFolders_data()
    {
        QTest::addColumn<mode_t>("folderMode");
        QTest::addColumn<bool>("otherOwnsFolder");
        QTest::addColumn<bool>("otherOwnsLink");
        QTest::addColumn<bool>("chained"); // the user's own link leads to the shared one
        QTest::addColumn<bool>("followed");

        QTest::newRow("another user's link, sticky shared folder")
            << mode_t(01777) << false << true << false << false;
        QTest::newRow("the same, reached through the user's own link")
            << mode_t(01777) << false << true << true << false;
        QTest::newRow("the user's own link") << mode_t(01777) << false << false << false << true;
        QTest::newRow("the folder owner's link") << mode_t(01777) << true << true << false << true;
        QTest::newRow("not sticky") << mode_t(0777) << false << true << false << true;
        QTest::newRow("sticky, not world-writable")
            << mode_t(01775) << false << true << false << true;
    }

    void linksInSharedFolders()
    {
        QFETCH(mode_t, folderMode);
        QFETCH(bool, otherOwnsFolder);
        QFETCH(bool, otherOwnsLink);
        QFETCH(bool, chained);
        QFETCH(bool, followed);
        if (::geteuid() != 0 && (otherOwnsFolder || otherOwnsLink))
            QSKIP("needs root to give a link to another user");
        const uid_t other = 54321;
        const QByteArray shared = QFile::encodeName(inDir("shared"));
        const QByteArray link = shared + "/entry";
        QVERIFY(writeFile(inDir("target"), content));
        QVERIFY(::mkdir(shared.constData(), 0700) == 0 &&
                ::chmod(shared.constData(), folderMode) == 0);
        QVERIFY(::symlink("../target", link.constData()) == 0);
        if (otherOwnsLink)
            QVERIFY(::lchown(link.constData(), other, uid_t(-1)) == 0);
        if (otherOwnsFolder)
            QVERIFY(::chown(shared.constData(), other, uid_t(-1)) == 0);
        const QString path = chained ? inDir("mine") : QFile::decodeName(link);
        if (chained)
            QVERIFY(::symlink("shared/entry", QFile::encodeName(path).constData()) == 0);

        QString error;
        const RegisterSet set = uniformSet(3.3, 100);
        QCOMPARE(writeRegisterSetFile(path, set, &error), followed);
        QCOMPARE(contentOf(inDir("target")), followed ? formatRegisterSet(set) : content);
        if (!followed)
            QVERIFY2(error.contains(path) && error.contains("another user"), qPrintable(error));
    }

private:
    QString inDir(const char *name) const { return m_dir->filePath(QLatin1String(name)); }
    // Puts the entry at m_path, regular files holding content; false when the system refuses.
    bool make(Entry entry) const
    {
        const auto name = [](const QString &path) { return QFile::encodeName(path); };
        const auto link = [&](const char *target, const QString &path) {
            return ::symlink(target, name(path).constData()) == 0;
        };
        switch (entry) {
        case Regular:
            return writeFile(m_path, content);
        case LinkToRegular:
            return writeFile(inDir("target"), content) && link("target", m_path);
        case Oversized:
            return writeFile(m_path, content + ';' + QByteArray(1 << 20, 'x') + '\n');
        case Fifo:
            return ::mkfifo(name(m_path).constData(), 0666) == 0;
        case LinkToFifo:
            return ::mkfifo(name(inDir("target")).constData(), 0666) == 0 && link("target", m_path);
        case Device: // what /dev/null is
            return ::mknod(name(m_path).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
        case Folder:
            return ::mkdir(name(m_path).constData(), 0777) == 0;
        case Dangling:
            return link("middle", m_path) && link("missing", inDir("middle"));
        case Loop:
            return link("other", m_path) && link("entry", inDir("other"));
        }
        return false;
    }

    // The path link by link (type, size, inode, link text): equal when nothing changed.
    QString stateOf(const QString &path) const
    {
        QString state;
        QByteArray name = QFile::encodeName(path);
        for (int hop = 0; hop < 3; ++hop) { // the chains here are shorter; a loop ends here too
            struct stat info = {};
            if (::lstat(name.constData(), &info) != 0)
                return state + "missing";
            state += QString::asprintf("%o/%lld/%llu ", unsigned(info.st_mode),
                                       static_cast<long long>(info.st_size),
                                       static_cast<unsigned long long>(info.st_ino));
            if (!S_ISLNK(info.st_mode))
                break;
            QByteArray target(1024, '\0');
            target.resize(::readlink(name.constData(), target.data(), size_t(target.size())));
            state += QString::fromLocal8Bit(target) + u' ';
            name = QFile::encodeName(m_dir->path()) + '/' + target;
        }
        return state;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestSafeFiles)
#include "tst_safefiles.moc"
