#include "device/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace device;

namespace {

const QString fallbackRoot =
#ifdef Q_OS_WIN
    QStringLiteral("c:\\");
#else
    QStringLiteral("/");
#endif

// The store's file as written, one "section/key=raw text" per entry (quotes kept), sorted.
QStringList rawEntries(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList entries;
    QString section;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(u'[') && line.endsWith(u']'))
            section = line.mid(1, line.size() - 2);
        else if (line.contains(u'='))
            entries.append(section + u'/' + line);
    }
    entries.sort();
    return entries;
}

// What one load gave, starting from values that a load must replace or keep.
struct Loaded
{
    bool ok = false;
    DeviceModel model;
    device::StoredPort port{5, 7};
};

Loaded load(SettingsStore &store)
{
    Loaded r;
    r.model.vrefHigh = {7, 8};
    r.model.vrefLow = {1, 2};
    r.model.vsup = 9;
    r.model.vlow = 3;
    r.model.a0Pin = QStringLiteral("1");
    r.model.defaultDir = QStringLiteral("/seed/");
    r.ok = store.loadSettings(r.model, r.port);
    return r;
}

// Everything a load sets, in one line, so a table row can state it.
QString summary(const Loaded &r)
{
    return QString::asprintf("%s a0=%s vsup=%g vlow=%g vref=%g/%g port=%d rate=%d dir=%s",
                             r.ok ? "ok" : "failed", qPrintable(r.model.a0Pin), r.model.vsup,
                             r.model.vlow, r.model.vrefHigh[0], r.model.vrefHigh[1],
                             int(r.port.portNumber), int(r.port.bitRate),
                             r.model.defaultDir.toUtf8().constData());
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void loading_data();
    void loading();
    void loadSeesOutsideChanges();

    void roundTripAtExit();
    void defaultDir_data();
    void defaultDir();
    void saveReplacesDamagedStore_data();
    void saveReplacesDamagedStore();
    void writeFailure();
    void userStoreLocation();

private:
    QString storePath() const { return m_dir->filePath(QStringLiteral("KALVENTA.conf")); }
    void writeRaw(const QByteArray &content) const;
    // A load through a store of its own, so it sees only what reached the file.
    Loaded loadFresh() const
    {
        SettingsStore store(storePath());
        return load(store);
    }

    QTemporaryDir m_userConfig;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsStore::initTestCase()
{
    QVERIFY(m_userConfig.isValid());
    // The per-user store resolves below this folder, never the user's own configuration.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_userConfig.path()));
}

void TestSettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSettingsStore::writeRaw(const QByteArray &content) const
{
    QFile file(storePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

void TestSettingsStore::loading_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no store; "/": the store is a folder
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QByteArray &content, const QString &expected) {
        QTest::newRow(name) << content << expected;
    };
    const QString fallbacks =
        "failed a0=1 vsup=5 vlow=0 vref=%1 port=1 rate=9600 dir=" + fallbackRoot;

    row("nothing stored", QByteArray(), "ok a0=0 vsup=0 vlow=0 vref=0/0 port=0 rate=0 dir=");
    row("as written",
        "[Startup]\nDefault_Dir=/data/\n[vref_high0]\n10=\" 10\"\n[vref_high1]\n10=\" 3.3\"\n"
        "[a0]\n1=1\n[PortNumb]\n2=5\n[BitRate]\n3=9600\n",
        "ok a0=1 vsup=3.3 vlow=0 vref=10/3.3 port=5 rate=9600 dir=/data/");
    // Unquoted, the INI reader splits the text at the comma; it must read as the text "3,3".
    row("reference with comma", "[vref_high0]\n10=3,3\n",
        "ok a0=0 vsup=3 vlow=0 vref=3/0 port=0 rate=0 dir=");
    row("halves tie to even", "[PortNumb]\n2=2.5\n[BitRate]\n3=9600.5\n",
        "ok a0=0 vsup=0 vlow=0 vref=0/0 port=2 rate=9600 dir=");
    row("leading number only", "[PortNumb]\n2=7abc\n[BitRate]\n3=COM3\n",
        "ok a0=0 vsup=0 vlow=0 vref=0/0 port=7 rate=0 dir=");
    row("largest integers", "[PortNumb]\n2=32767\n[BitRate]\n3=2147483647\n",
        "ok a0=0 vsup=0 vlow=0 vref=0/0 port=32767 rate=2147483647 dir=");
    row("smallest integers", "[PortNumb]\n2=-32768\n[BitRate]\n3=-2147483648\n",
        "ok a0=0 vsup=0 vlow=0 vref=0/0 port=-32768 rate=-2147483648 dir=");

    // Any A0 text but "1" would address the device with A0 = 0: it reads as "0", with the
    // reference of that device.
    const QByteArray refs = "[vref_high0]\n10=\" 2\"\n[vref_high1]\n10=\" 3.3\"\n";
    const QString a0Zero = "ok a0=0 vsup=2 vlow=0 vref=2/3.3 port=0 rate=0 dir=";
    row("A0 0", refs + "[a0]\n1=0\n", a0Zero);
    row("A0 1", refs + "[a0]\n1=1\n", "ok a0=1 vsup=3.3 vlow=0 vref=2/3.3 port=0 rate=0 dir=");
    row("A0 missing", refs, a0Zero);
    row("A0 10", refs + "[a0]\n1=10\n", a0Zero);
    row("A0 quoted blank before 1", refs + "[a0]\n1=\" 1\"\n", a0Zero);

    // A number too big for its integer ends the load with the fallbacks, even for the folder and
    // A0 read before; the references read before are kept.
    const QByteArray before =
        "[Startup]\nDefault_Dir=/data/\n[vref_high0]\n10=\" 2.5\"\n[a0]\n1=0\n";
    row("port 32768", before + "[PortNumb]\n2=32768\n", fallbacks.arg("2.5/0"));
    row("port -32769", before + "[PortNumb]\n2=-32769\n", fallbacks.arg("2.5/0"));
    row("port 1e300", before + "[PortNumb]\n2=1e300\n", fallbacks.arg("2.5/0"));
    row("bit rate 2147483648", before + "[BitRate]\n3=2147483648\n", fallbacks.arg("2.5/0"));
    // An unreadable store gives the fallbacks, the references untouched. QSettings' INI reader
    // refuses little more than a section header without its bracket.
    row("broken section header", "[Startup]\nDefault_Dir=/data/\n[vref_high0\n10=\" 2.5\"\n",
        fallbacks.arg("7/8"));
    row("store is a folder", "/", fallbacks.arg("7/8"));
}

void TestSettingsStore::loading()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    if (content == "/")
        QVERIFY(QDir().mkpath(storePath()));
    else if (!content.isNull())
        writeRaw(content);
    SettingsStore store(storePath());
    const Loaded r = load(store);
    QCOMPARE(summary(r), expected);
    if (r.ok) {
        QVERIFY(store.lastError().isEmpty());
        QCOMPARE(r.model.vrefLow, (std::array<double, 2>{0, 0}));
    } else {
        QVERIFY2(store.lastError().contains(QDir::toNativeSeparators(storePath())) ||
                     store.lastError().contains(storePath()),
                 qPrintable(store.lastError()));
    }
    if (content.isNull())
        QVERIFY2(!QFile::exists(storePath()), "a load must not create the store");
}

void TestSettingsStore::loadSeesOutsideChanges()
{
    writeRaw("[PortNumb]\n2=3\n");
    SettingsStore store(storePath());
    QCOMPARE(load(store).port.portNumber, qint16(3));

    // Another instance of the program stored its settings at exit, then damaged the file.
    writeRaw("[PortNumb]\n2=4\n[BitRate]\n3=19200\n");
    QCOMPARE(summary(load(store)), "ok a0=0 vsup=0 vlow=0 vref=0/0 port=4 rate=19200 dir=");
    writeRaw("[PortNumb\n2=5\n");
    QVERIFY(!load(store).ok);
}

void TestSettingsStore::roundTripAtExit()
{
    DeviceModel saved;
    saved.a0Pin = QStringLiteral("1");
    saved.vrefHigh = {0.25, -1.5};
    {
        SettingsStore store(storePath());
        QVERIFY2(store.saveAtExit(saved, {-3, 115200}), qPrintable(store.lastError()));
    }
    // The references in the form the program shows them, quoted where they start with a blank.
    QCOMPARE(rawEntries(storePath()),
             (QStringList{"BitRate/3=115200", "PortNumb/2=-3", "a0/1=1", "vref_high0/10=\" .25\"",
                          "vref_high1/10=-1.5"}));
    QCOMPARE(summary(loadFresh()),
             "ok a0=1 vsup=-1.5 vlow=0 vref=0.25/-1.5 port=-3 rate=115200 dir=");
}

void TestSettingsStore::defaultDir_data()
{
    QTest::addColumn<QString>("folder");

    QTest::newRow("Windows folder") << "c:\\data\\sets\\";
    QTest::newRow("comma in the name") << "/data/a,b/";
    QTest::newRow("blank at both ends") << " /data/x/ ";
    QTest::newRow("not Latin-1") << "/data/Spannung \u00b5V \u6e2c\u5b9a/";
    QTest::newRow("at sign first") << "@data/";
    QTest::newRow("empty") << "";
}

void TestSettingsStore::defaultDir()
{
    QFETCH(QString, folder);

    {
        SettingsStore store(storePath());
        QVERIFY2(store.saveDefaultDir(folder), qPrintable(store.lastError()));
        // The write at exit keeps the folder.
        DeviceModel model;
        model.vrefHigh = {10, 3.3};
        QVERIFY(store.saveAtExit(model, {3, 9600}));
    }
    QCOMPARE(summary(loadFresh()),
             "ok a0=0 vsup=10 vlow=0 vref=10/3.3 port=3 rate=9600 dir=" + folder);
}

void TestSettingsStore::saveReplacesDamagedStore_data()
{
    QTest::addColumn<QByteArray>("atLoad");
    QTest::addColumn<QByteArray>("beforeSave"); // empty: left as it was at the load

    QTest::newRow("damaged when loaded")
        << QByteArray("[vref_high0\n10=\" 2.5\"\n") << QByteArray();
    QTest::newRow("damaged behind the program's back")
        << QByteArray("[PortNumb]\n2=3\n") << QByteArray("[PortNumb\n2=4\n");
}

void TestSettingsStore::saveReplacesDamagedStore()
{
    QFETCH(QByteArray, atLoad);
    QFETCH(QByteArray, beforeSave);

    writeRaw(atLoad);
    SettingsStore store(storePath());
    Loaded r = load(store);
    if (!beforeSave.isEmpty())
        writeRaw(beforeSave);

    // The write at exit replaces the file whole, and a view that complained of the damage before
    // must not report it as the write's failure.
    r.model.a0Pin = QStringLiteral("1");
    r.model.vrefHigh = {1, 2};
    QVERIFY2(store.saveAtExit(r.model, {6, 4800}), qPrintable(store.lastError()));
    QVERIFY(store.lastError().isEmpty());
    QCOMPARE(summary(load(store)), "ok a0=1 vsup=2 vlow=0 vref=1/2 port=6 rate=4800 dir=");
}

void TestSettingsStore::writeFailure()
{
    // A store below a plain file can never be created, whatever the user's rights.
    QFile blocker(m_dir->filePath(QStringLiteral("plain")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString path = m_dir->filePath(QStringLiteral("plain/KALVENTA.conf"));

    SettingsStore store(path);
    QCOMPARE(store.location(), path);
    QVERIFY(!store.saveAtExit(DeviceModel(), {1, 9600}));
    QVERIFY2(store.lastError().contains(path), qPrintable(store.lastError()));
    QVERIFY(!store.saveDefaultDir(QStringLiteral("/data/")));
    QVERIFY2(store.lastError().contains(path), qPrintable(store.lastError()));
    QVERIFY(!QFile::exists(path));

    // A failed write leaves nothing pending that would spoil the next load.
    QCOMPARE(summary(load(store)), "ok a0=0 vsup=0 vlow=0 vref=0/0 port=0 rate=0 dir=");
}

void TestSettingsStore::userStoreLocation()
{
    SettingsStore store;
    const QString expected = QDir(m_userConfig.path()).filePath("KALVENTA/KALVENTA.ini");
    // Checked before anything is written, so a mismatch cannot reach the user's own store.
    QCOMPARE(store.location(), expected);

    QVERIFY2(store.saveDefaultDir(QStringLiteral("/data/")), qPrintable(store.lastError()));
    QCOMPARE(rawEntries(expected), QStringList{"Startup/Default_Dir=/data/"});
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
