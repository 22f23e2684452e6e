// SPDX-License-Identifier: MIT
#include "device/paths.h"
#include "device/settingsstore.h"
#include "registersets.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace device;

namespace {

// "/", or "c:\" on Windows.
const QString fallbackRoot = QDir::toNativeSeparators(QDir::rootPath()).toLower();

// The store's file as written, one "section/key=raw text" per entry (quotes kept), sorted.
QStringList rawEntries(const QString &path)
{
    QStringList entries;
    QString section;
    for (const QString &line : QString::fromUtf8(contentOf(path)).split(u'\n')) {
        if (line.startsWith(u'[') && line.endsWith(u']'))
            section = line.mid(1, line.size() - 2);
        else if (line.contains(u'='))
            entries.append(section + u'/' + line);
    }
    entries.sort();
    return entries;
}

// Everything one load set, in one line, starting from values that a load must replace or keep.
QString load(SettingsStore &store)
{
    DeviceModel model;
    model.vrefHigh = {7, 8};
    model.vrefLow = {1, 2};
    model.vsup = 9;
    model.vlow = 3;
    model.a0Pin = QStringLiteral("1");
    model.defaultDir = QStringLiteral("/seed/");
    device::StoredPort port{5, 7};
    const bool ok = store.loadSettings(model, port);
    if (ok && model.vrefLow != std::array<double, 2>{0, 0})
        return QStringLiteral("low references kept");
    return QString::asprintf("%s a0=%s vsup=%g vlow=%g vref=%g/%g port=%d rate=%d dir=%s",
                             ok ? "ok" : "failed", qPrintable(model.a0Pin), model.vsup, model.vlow,
                             model.vrefHigh[0], model.vrefHigh[1], int(port.portNumber),
                             int(port.bitRate), model.defaultDir.toUtf8().constData());
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    // A relative folder would put the settings wherever the program was started.
    void relativeXdgFoldersIgnored()
    {
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        const QByteArray data = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", "relative/config");
        ignoreRelativeXdgFolders();
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                 QDir::homePath() + QStringLiteral("/.config"));
        QCOMPARE(qgetenv("XDG_DATA_HOME"), data); // absolute: kept
        qputenv("XDG_CONFIG_HOME", config);
    }

    void initTestCase()
    {
        QVERIFY(m_userConfig.isValid());
        // The per-user store resolves below this folder, never the user's own configuration.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_userConfig.path()));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void loading_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no store
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
        // Any A0 text but "1" would address the device with A0 = 0: it reads as "0", with the
        // reference of that device.
        row("reference with comma, halves tie to even, A0 10",
            "[vref_high0]\n10=3,3\n[a0]\n1=10\n[PortNumb]\n2=2.5\n[BitRate]\n3=9600.5\n",
            "ok a0=0 vsup=3 vlow=0 vref=3/0 port=2 rate=9600 dir=");
        const QByteArray refs = "[vref_high0]\n10=\" 2\"\n[vref_high1]\n10=\" 3.3\"\n";
        row("leading number only, A0 quoted blank before 1",
            refs + "[a0]\n1=\" 1\"\n[PortNumb]\n2=7abc\n[BitRate]\n3=COM3\n",
            "ok a0=0 vsup=2 vlow=0 vref=2/3.3 port=7 rate=0 dir=");
        row("largest integers, A0 1",
            refs + "[a0]\n1=1\n[PortNumb]\n2=32767\n[BitRate]\n3=2147483647\n",
            "ok a0=1 vsup=3.3 vlow=0 vref=2/3.3 port=32767 rate=2147483647 dir=");

        // A number too big for its integer ends the load with the fallbacks, even for the folder
        // and A0 read before; the references read before are kept.
        const QByteArray before =
            "[Startup]\nDefault_Dir=/data/\n[vref_high0]\n10=\" 2.5\"\n[a0]\n1=0\n";
        row("port 32768", before + "[PortNumb]\n2=32768\n", fallbacks.arg("2.5/0"));
        row("bit rate 2147483648", before + "[BitRate]\n3=2147483648\n", fallbacks.arg("2.5/0"));
        // An unreadable store gives the fallbacks, the references untouched. QSettings' INI reader
        // refuses little more than a section header without its bracket.
        row("broken section header", "[Startup]\nDefault_Dir=/data/\n[vref_high0\n10=\" 2.5\"\n",
            fallbacks.arg("7/8"));
    }

    void loading()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);

        if (!content.isNull())
            writeRaw(content);
        SettingsStore store(storePath());
        QCOMPARE(load(store), expected);
        if (expected.startsWith(QLatin1String("ok")))
            QVERIFY(store.lastError().isEmpty());
        else
            QVERIFY2(store.lastError().contains(QDir::toNativeSeparators(storePath())),
                     qPrintable(store.lastError()));
        if (content.isNull())
            QVERIFY2(!QFile::exists(storePath()), "a load must not create the store");
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("folder");
        // Plain, Windows, a comma, blanks at both ends, not Latin-1, an at sign first, empty.
        for (const char *folder : {"/data/", "c:\\data\\sets\\", "/data/a,b/", " /data/x/ ",
                                   "/data/Spannung \u00b5V \u6e2c\u5b9a/", "@data/", ""})
            QTest::newRow(folder) << QString::fromUtf8(folder);
    }

    void roundTrip()
    {
        QFETCH(QString, folder);
        DeviceModel saved;
        saved.a0Pin = QStringLiteral("1");
        saved.vrefHigh = {0.25, -1.5};
        const QString path = QDir(m_userConfig.path()).filePath("KALVENTA/KALVENTA.ini");
        {
            SettingsStore store;
            // Checked before anything is written, so a mismatch cannot reach the user's own store.
            QCOMPARE(store.location(), path);
            QVERIFY2(store.saveDefaultDir(folder), qPrintable(store.lastError()));
            QVERIFY2(store.saveAtExit(saved, {-3, -115200}), qPrintable(store.lastError()));
        }
        // The references in the form the program shows them, quoted where they start with a blank.
        QStringList entries = rawEntries(path);
        QVERIFY(folder != "/data/" || entries.contains("Startup/Default_Dir=/data/"));
        entries.removeIf([](const QString &entry) { return entry.startsWith(u"Startup/"); });
        QCOMPARE(entries, (QStringList{"BitRate/3=-115200", "PortNumb/2=-3", "a0/1=1",
                                       "vref_high0/10=\" .25\"", "vref_high1/10=-1.5"}));
        // The write at exit keeps the folder. A store of its own sees only what reached the file.
        SettingsStore store;
        QCOMPARE(load(store),
                 "ok a0=1 vsup=-1.5 vlow=0 vref=0.25/-1.5 port=-3 rate=-115200 dir=" + folder);
    }

    void outsideChangesAndDamage()
    {
        writeRaw("[PortNumb]\n2=3\n");
        SettingsStore store(storePath());
        QVERIFY(load(store).contains(QLatin1String(" port=3 ")));
        // Another instance of the program stored its settings at exit, then damaged the file.
        writeRaw("[PortNumb]\n2=4\n[BitRate]\n3=19200\n");
        QCOMPARE(load(store), "ok a0=0 vsup=0 vlow=0 vref=0/0 port=4 rate=19200 dir=");
        // Damage a load saw, damage behind the program's back, and damage QSettings finds only
        // while it merges the file into a write.
        const QList<QPair<QByteArray, bool>> damages{{"[vref_high0\n10=\" 2.5\"\n", true},
                                                     {"[PortNumb\n2=5\n", false},
                                                     {"\x01\x02\xff", true}};
        for (const auto &[damage, seenByALoad] : damages) {
            writeRaw(damage);
            if (seenByALoad)
                QCOMPARE(load(store).startsWith(QLatin1String("failed")), damage.startsWith('['));
            // The write at exit replaces the file whole, and a view that complained of the damage
            // before must not report it as the write's failure.
            DeviceModel model;
            model.a0Pin = QStringLiteral("1");
            model.vrefHigh = {1, 2};
            QVERIFY2(store.saveAtExit(model, {6, 4800}), qPrintable(store.lastError()));
            QVERIFY(store.lastError().isEmpty());
            QCOMPARE(load(store), "ok a0=1 vsup=2 vlow=0 vref=1/2 port=6 rate=4800 dir=");
        }
    }

    void writeFailure()
    {
        // A store below a plain file can never be created, whatever the user's rights.
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("plain")), {}));
        const QString path = m_dir->filePath(QStringLiteral("plain/KALVENTA.conf"));

        SettingsStore store(path);
        QVERIFY(!store.saveAtExit(DeviceModel(), {1, 9600}));
        QVERIFY2(store.lastError().contains(path), qPrintable(store.lastError()));
        QVERIFY(!store.saveDefaultDir(QStringLiteral("/data/")));
        QVERIFY2(store.lastError().contains(path), qPrintable(store.lastError()));
        QVERIFY(!QFile::exists(path));

        // A failed write leaves nothing pending that would spoil the next load.
        QCOMPARE(load(store), "ok a0=0 vsup=0 vlow=0 vref=0/0 port=0 rate=0 dir=");
    }

    void portChoices()
    {
        writeRaw("[PortNumb]\n2=5\n");
        SettingsStore store(storePath());
        QVERIFY2(store.savePortChoice(QStringLiteral("FastMode"), 5, true),
                 qPrintable(store.lastError()));
        QVERIFY(store.savePortChoice(QStringLiteral("SkipIdleWrites"), 5, false));
        // A store of its own sees the choices, apart from each other and from the six values.
        SettingsStore other(storePath());
        QCOMPARE(other.portChoice(QStringLiteral("FastMode"), 5), std::optional(true));
        QCOMPARE(other.portChoice(QStringLiteral("SkipIdleWrites"), 5), std::optional(false));
        QCOMPARE(other.portChoice(QStringLiteral("FastMode"), 6), std::nullopt);
        QVERIFY(load(other).contains(QLatin1String(" port=5 ")));
        // An unreadable store holds no choice, and says why.
        writeRaw("[FastMode\nCOM5=1\n");
        QCOMPARE(other.portChoice(QStringLiteral("FastMode"), 5), std::nullopt);
        QVERIFY2(other.lastError().contains(storePath()), qPrintable(other.lastError()));
    }

private:
    QString storePath() const { return m_dir->filePath(QStringLiteral("KALVENTA.conf")); }
    void writeRaw(const QByteArray &content) const { QVERIFY(writeFile(storePath(), content)); }

    QTemporaryDir m_userConfig;
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
