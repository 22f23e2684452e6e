#include "device/registersetfile.h"
#include "device/settingsstore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace device;

namespace {

// What stands at the path under test. Every kind but the first three must be refused at once:
// a FIFO would block a reader forever, and a save must never replace a device, a folder or a
// link that leads nowhere.
enum Entry { Regular, LinkToRegular, Oversized, Fifo, LinkToFifo, Device, Folder, Dangling, Loop };

const QByteArray registerSet = "10\r\n" + QByteArray("512\r\n").repeated(24);
const QByteArray settings = "[PortNumb]\n2=5\n";

RegisterSet uniformSet(double vsup, double code)
{
    RegisterSet set;
    set.vsup = vsup;
    set.codes.fill(code);
    return set;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

} // namespace

class TestSpecialFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void reader_data() { table(); }
    void reader();
    void writer_data() { table(); }
    void writer();
    void store_data() { table(); }
    void store();
    void storeRewritesDamagedFile();

private:
    static void table();
    // Puts the entry at m_path, regular files holding content; false when the system refuses.
    bool make(Entry entry, const QByteArray &content) const;
    // The path link by link (type, size, inode, link text): equal when nothing changed.
    QString stateOf(const QString &path) const;
    QString inDir(const char *name) const { return m_dir->filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestSpecialFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = inDir("entry");
}

void TestSpecialFiles::table()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("readProblem"); // empty: readable
    QTest::addColumn<bool>("writable");

    QTest::newRow("regular file") << int(Regular) << QString() << true;
    QTest::newRow("link to a regular file") << int(LinkToRegular) << QString() << true;
    QTest::newRow("above 1 MiB") << int(Oversized) << "larger than 1 MiB" << true;
    QTest::newRow("FIFO") << int(Fifo) << "not a regular file" << false;
    QTest::newRow("link to a FIFO") << int(LinkToFifo) << "not a regular file" << false;
    QTest::newRow("character device") << int(Device) << "not a regular file" << false;
    QTest::newRow("folder") << int(Folder) << "not a regular file" << false;
    QTest::newRow("dangling chain of links") << int(Dangling) << "does not exist" << false;
    QTest::newRow("loop of links") << int(Loop) << "loop" << false;
}

bool TestSpecialFiles::make(Entry entry, const QByteArray &content) const
{
    const auto name = [](const QString &path) { return QFile::encodeName(path); };
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const auto link = [&](const char *target, const QString &path) {
        return ::symlink(target, name(path).constData()) == 0;
    };
    switch (entry) {
    case Regular:
        return write(m_path, content);
    case LinkToRegular:
        return write(inDir("target"), content) && link("target", m_path);
    case Oversized:
        return write(m_path, content + ';' + QByteArray(1 << 20, 'x') + '\n');
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

QString TestSpecialFiles::stateOf(const QString &path) const
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

void TestSpecialFiles::reader()
{
    QFETCH(int, entry);
    QFETCH(QString, readProblem);

    if (!make(Entry(entry), registerSet)) {
        QCOMPARE(entry, int(Device));
        QSKIP("device nodes cannot be made here");
    }
    const QString before = stateOf(m_path);
    QString error;
    const bool read = readRegisterSetFile(m_path, &error).has_value();
    QVERIFY2(read == readProblem.isEmpty(), qPrintable(error));
    if (!read) {
        QVERIFY2(error.contains(m_path) && error.contains(readProblem), qPrintable(error));
    }
    QCOMPARE(stateOf(m_path), before);
}

void TestSpecialFiles::writer()
{
    QFETCH(int, entry);
    QFETCH(bool, writable);

    if (!make(Entry(entry), registerSet)) {
        QCOMPARE(entry, int(Device));
        QSKIP("device nodes cannot be made here");
    }
    const QString before = stateOf(m_path);
    const RegisterSet set = uniformSet(3.3, 100);
    QString error;
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

void TestSpecialFiles::store()
{
    QFETCH(int, entry);
    QFETCH(QString, readProblem);

    if (!make(Entry(entry), settings)) {
        QCOMPARE(entry, int(Device));
        QSKIP("device nodes cannot be made here");
    }
    const QString before = stateOf(m_path);
    const bool readable = readProblem.isEmpty();
    SettingsStore store(m_path);
    DeviceModel model;
    device::StoredPort port;
    // Anything but a regular file of sane size is the unreadable store: the fallback port 1.
    QCOMPARE(store.loadSettings(model, port), readable);
    QCOMPARE(port.portNumber, qint16(readable ? 5 : 1));

    // A device (a link to /dev/null) keeps nothing and says nothing.
    const bool keepsNothing = entry == Device;
    QCOMPARE(store.saveAtExit(model, {6, 4800}), readable || keepsNothing);
    QVERIFY2(store.lastError().isEmpty() == (readable || keepsNothing),
             qPrintable(store.lastError()));
    if (readable) {
        SettingsStore fresh(m_path);
        QVERIFY(fresh.loadSettings(model, port));
        QCOMPARE(port.portNumber, qint16(6));
        QCOMPARE(stateOf(m_path).section(u'/', 0, 0), before.section(u'/', 0, 0));
    } else {
        QVERIFY(keepsNothing || store.lastError().contains(m_path));
        QCOMPARE(stateOf(m_path), before);
    }
}

void TestSpecialFiles::storeRewritesDamagedFile()
{
    // QSettings finds this damage only while it merges the file into a write.
    QVERIFY(make(Regular, "\x01\x02\xff"));
    SettingsStore store(m_path);
    DeviceModel model;
    device::StoredPort port;
    store.loadSettings(model, port);
    // The write replaces the damaged file whole: it worked, and must not be reported as failed.
    QVERIFY2(store.saveAtExit(model, {6, 4800}), qPrintable(store.lastError()));
    SettingsStore fresh(m_path);
    QVERIFY(fresh.loadSettings(model, port));
    QCOMPARE(port.portNumber, qint16(6));
}

QTEST_GUILESS_MAIN(TestSpecialFiles)
#include "tst_specialfiles.moc"
