#include "device/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QMap>
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

// The store's file as written: section -> key -> the raw text after '=' (quotes included).
using RawIni = QMap<QString, QMap<QString, QString>>;

RawIni readRawIni(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    RawIni ini;
    QString section;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (const QString &line : lines) {
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            section = line.mid(1, line.size() - 2);
        } else if (const qsizetype equals = line.indexOf(u'='); equals > 0) {
            ini[section][line.left(equals)] = line.mid(equals + 1);
        }
    }
    return ini;
}

// A model whose every loaded field holds something a load must replace or keep.
DeviceModel seededModel()
{
    DeviceModel model;
    model.vrefHigh = {7, 8};
    model.vrefLow = {1, 2};
    model.vsup = 9;
    model.vlow = 3;
    model.a0Pin = QStringLiteral("1");
    model.defaultDir = QStringLiteral("/seed/");
    return model;
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // Loading
    void firstRunWithEmptyStore();
    void storedNumbers_data();
    void storedNumbers();
    void a0Selection_data();
    void a0Selection();
    void fallbackOnIntegerOverflow_data();
    void fallbackOnIntegerOverflow();
    void fallbackOnUnreadableStore_data();
    void fallbackOnUnreadableStore();
    void loadSeesOutsideChanges();

    // Saving
    void roundTripAtExit_data();
    void roundTripAtExit();
    void defaultDir_data();
    void defaultDir();
    void exitKeepsDefaultDir();
    void saveRepairsDamagedStore();
    void saveOverStoreDamagedOutside();
    void writeFailure();

    void userStoreLocation();

private:
    QString storePath() const { return m_dir->filePath(QStringLiteral("KALVENTA.conf")); }
    void writeRaw(const QByteArray &content) const;

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

void TestSettingsStore::firstRunWithEmptyStore()
{
    SettingsStore store(storePath());
    DeviceModel model = seededModel();
    qint16 port = 5;
    qint32 rate = 7;
    QVERIFY(store.loadSettings(model, port, rate));
    QVERIFY(store.lastError().isEmpty());
    QCOMPARE(model.vrefHigh[0], 0.0);
    QCOMPARE(model.vrefHigh[1], 0.0);
    QCOMPARE(model.vrefLow[0], 0.0);
    QCOMPARE(model.vrefLow[1], 0.0);
    QCOMPARE(model.a0Pin, QStringLiteral("0"));
    QCOMPARE(model.vsup, 0.0);
    QCOMPARE(model.vlow, 0.0);
    QCOMPARE(port, qint16(0));
    QCOMPARE(rate, qint32(0));
    QCOMPARE(model.defaultDir, QString());
    QVERIFY2(!QFile::exists(storePath()), "a load must not create the store");
}

void TestSettingsStore::storedNumbers_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<double>("vrefHigh0");
    QTest::addColumn<double>("vrefHigh1");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("rate");

    const auto ini = [](const char *vref0, const char *port, const char *rate) {
        return QByteArray("[vref_high0]\n10=") + vref0 + "\n[vref_high1]\n10=\" 3.3\"\n" +
               "[PortNumb]\n2=" + port + "\n[BitRate]\n3=" + rate + "\n";
    };
    QTest::newRow("as written") << ini("\" 10\"", "5", "9600") << 10.0 << 3.3 << 5 << 9600;
    QTest::newRow("port 2.5 ties to even") << ini("1", "2.5", "1") << 1.0 << 3.3 << 2 << 1;
    QTest::newRow("port 3.5 ties to even") << ini("1", "3.5", "1") << 1.0 << 3.3 << 4 << 1;
    QTest::newRow("port 2.6 rounds up") << ini("1", "2.6", "1") << 1.0 << 3.3 << 3 << 1;
    QTest::newRow("port with trailing text") << ini("1", "7abc", "1") << 1.0 << 3.3 << 7 << 1;
    QTest::newRow("port not a number") << ini("1", "COM3", "1") << 1.0 << 3.3 << 0 << 1;
    QTest::newRow("largest port") << ini("1", "32767", "1") << 1.0 << 3.3 << 32767 << 1;
    QTest::newRow("smallest port") << ini("1", "-32768", "1") << 1.0 << 3.3 << -32768 << 1;
    QTest::newRow("bit rate 9600.5 ties to even")
        << ini("1", "1", "9600.5") << 1.0 << 3.3 << 1 << 9600;
    QTest::newRow("largest bit rate")
        << ini("1", "1", "2147483647") << 1.0 << 3.3 << 1 << 2147483647;
    QTest::newRow("reference with unit") << ini("3.3V", "1", "1") << 3.3 << 3.3 << 1 << 1;
    QTest::newRow("reference under 1") << ini("\" .25\"", "1", "1") << 0.25 << 3.3 << 1 << 1;
    QTest::newRow("negative reference") << ini("-1.5", "1", "1") << -1.5 << 3.3 << 1 << 1;
    QTest::newRow("reference not a number") << ini("abc", "1", "1") << 0.0 << 3.3 << 1 << 1;
    QTest::newRow("reference with comma") << ini("3,3", "1", "1") << 3.0 << 3.3 << 1 << 1;
}

void TestSettingsStore::storedNumbers()
{
    QFETCH(QByteArray, ini);
    QFETCH(double, vrefHigh0);
    QFETCH(double, vrefHigh1);
    QFETCH(int, port);
    QFETCH(int, rate);

    writeRaw(ini);
    SettingsStore store(storePath());
    DeviceModel model = seededModel();
    qint16 portNumber = 0;
    qint32 bitRate = 0;
    QVERIFY2(store.loadSettings(model, portNumber, bitRate), qPrintable(store.lastError()));
    QCOMPARE(model.vrefHigh[0], vrefHigh0);
    QCOMPARE(model.vrefHigh[1], vrefHigh1);
    QCOMPARE(portNumber, qint16(port));
    QCOMPARE(bitRate, qint32(rate));
}

void TestSettingsStore::a0Selection_data()
{
    QTest::addColumn<QByteArray>("a0Entry");
    QTest::addColumn<QString>("a0Pin");
    QTest::addColumn<double>("vsup");

    // References: 2 for A0 = 0, 3.3 for A0 = 1.
    QTest::newRow("0") << QByteArray("1=0") << "0" << 2.0;
    QTest::newRow("1") << QByteArray("1=1") << "1" << 3.3;
    QTest::newRow("missing") << QByteArray() << "0" << 2.0;
    QTest::newRow("empty") << QByteArray("1=") << "0" << 2.0;
    // Anything else would end up in the address bit string: it reads as "0", whose reference
    // goes with it.
    QTest::newRow("7") << QByteArray("1=7") << "0" << 2.0;
    QTest::newRow("10") << QByteArray("1=10") << "0" << 2.0;
    QTest::newRow("text") << QByteArray("1=abc") << "0" << 2.0;
    QTest::newRow("quoted blank before 1") << QByteArray("1=\" 1\"") << "0" << 2.0;
}

void TestSettingsStore::a0Selection()
{
    QFETCH(QByteArray, a0Entry);
    QFETCH(QString, a0Pin);
    QFETCH(double, vsup);

    writeRaw("[vref_high0]\n10=\" 2\"\n[vref_high1]\n10=\" 3.3\"\n[a0]\n" + a0Entry + "\n");
    SettingsStore store(storePath());
    DeviceModel model = seededModel();
    qint16 port = 0;
    qint32 rate = 0;
    QVERIFY(store.loadSettings(model, port, rate));
    QCOMPARE(model.a0Pin, a0Pin);
    QCOMPARE(model.vsup, vsup);
    QCOMPARE(model.vlow, 0.0);
}

void TestSettingsStore::fallbackOnIntegerOverflow_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QByteArray>("rate");

    QTest::newRow("port 40000") << QByteArray("40000") << QByteArray("9600");
    QTest::newRow("port 32768") << QByteArray("32768") << QByteArray("9600");
    QTest::newRow("port -32769") << QByteArray("-32769") << QByteArray("9600");
    QTest::newRow("port 1e300") << QByteArray("1e300") << QByteArray("9600");
    QTest::newRow("bit rate 3000000000") << QByteArray("3") << QByteArray("3000000000");
    QTest::newRow("bit rate 2147483648") << QByteArray("3") << QByteArray("2147483648");
}

void TestSettingsStore::fallbackOnIntegerOverflow()
{
    QFETCH(QByteArray, port);
    QFETCH(QByteArray, rate);

    writeRaw("[Startup]\nDefault_Dir=/data/\n[vref_high0]\n10=\" 2.5\"\n[vref_high1]\n10=\" 3.3\"\n"
             "[a0]\n1=0\n[PortNumb]\n2=" +
             port + "\n[BitRate]\n3=" + rate + "\n");
    SettingsStore store(storePath());
    DeviceModel model = seededModel();
    qint16 portNumber = 0;
    qint32 bitRate = 0;
    QVERIFY(!store.loadSettings(model, portNumber, bitRate));
    QVERIFY(!store.lastError().isEmpty());

    // The fallbacks, though the folder and A0 had been read correctly before.
    QCOMPARE(model.defaultDir, fallbackRoot);
    QCOMPARE(model.a0Pin, QStringLiteral("1"));
    QCOMPARE(model.vsup, 5.0);
    QCOMPARE(model.vlow, 0.0);
    QCOMPARE(portNumber, qint16(1));
    QCOMPARE(bitRate, qint32(9600));
    // Read before the failing step: kept.
    QCOMPARE(model.vrefHigh[0], 2.5);
    QCOMPARE(model.vrefHigh[1], 3.3);
    QCOMPARE(model.vrefLow[0], 0.0);
    QCOMPARE(model.vrefLow[1], 0.0);
}

void TestSettingsStore::fallbackOnUnreadableStore_data()
{
    QTest::addColumn<bool>("storeIsFolder");
    QTest::addColumn<QByteArray>("content");

    // QSettings' INI reader refuses little more than a section header without its bracket.
    QTest::newRow("broken section header")
        << false << QByteArray("[Startup]\nDefault_Dir=/data/\n[vref_high0\n10=\" 2.5\"\n");
    QTest::newRow("store is a folder") << true << QByteArray();
}

void TestSettingsStore::fallbackOnUnreadableStore()
{
    QFETCH(bool, storeIsFolder);
    QFETCH(QByteArray, content);

    if (storeIsFolder)
        QVERIFY(QDir().mkpath(storePath()));
    else
        writeRaw(content);
    SettingsStore store(storePath());
    DeviceModel model = seededModel();
    qint16 portNumber = 0;
    qint32 bitRate = 0;
    QVERIFY(!store.loadSettings(model, portNumber, bitRate));
    QVERIFY2(store.lastError().contains(QDir::toNativeSeparators(storePath())) ||
                 store.lastError().contains(storePath()),
             qPrintable(store.lastError()));

    QCOMPARE(model.defaultDir, fallbackRoot);
    QCOMPARE(model.a0Pin, QStringLiteral("1"));
    QCOMPARE(model.vsup, 5.0);
    QCOMPARE(model.vlow, 0.0);
    QCOMPARE(portNumber, qint16(1));
    QCOMPARE(bitRate, qint32(9600));
    // Nothing was read, so the references are untouched.
    QCOMPARE(model.vrefHigh[0], 7.0);
    QCOMPARE(model.vrefHigh[1], 8.0);
}

void TestSettingsStore::loadSeesOutsideChanges()
{
    writeRaw("[PortNumb]\n2=3\n");
    SettingsStore store(storePath());
    DeviceModel model;
    qint16 port = 0;
    qint32 rate = 0;
    QVERIFY(store.loadSettings(model, port, rate));
    QCOMPARE(port, qint16(3));

    // Another instance of the program stored its settings at exit.
    writeRaw("[PortNumb]\n2=4\n[BitRate]\n3=19200\n");
    QVERIFY2(store.loadSettings(model, port, rate), qPrintable(store.lastError()));
    QCOMPARE(port, qint16(4));
    QCOMPARE(rate, qint32(19200));

    writeRaw("[PortNumb\n2=5\n");
    QVERIFY(!store.loadSettings(model, port, rate));
    QCOMPARE(port, qint16(1));
}

void TestSettingsStore::roundTripAtExit_data()
{
    QTest::addColumn<QString>("a0Pin");
    QTest::addColumn<double>("vrefHigh0");
    QTest::addColumn<double>("vrefHigh1");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("rawVref0");
    QTest::addColumn<QString>("rawVref1");
    QTest::addColumn<double>("vsup");

    QTest::newRow("A0 1 at 3.3 V") << "1" << 10.0 << 3.3 << 5 << 9600 << "\" 10\""
                                   << "\" 3.3\"" << 3.3;
    QTest::newRow("A0 0 at 10 V") << "0" << 10.0 << 3.3 << 1 << 9600 << "\" 10\""
                                  << "\" 3.3\"" << 10.0;
    QTest::newRow("zero references") << "0" << 0.0 << 0.0 << 0 << 0 << "\" 0\""
                                     << "\" 0\"" << 0.0;
    QTest::newRow("under 1 volt") << "1" << 0.25 << 0.5 << 16 << 115200 << "\" .25\""
                                  << "\" .5\"" << 0.5;
    QTest::newRow("negative reference") << "0" << -1.5 << 2.0 << 2 << 4800 << "-1.5"
                                        << "\" 2\"" << -1.5;
    QTest::newRow("negative port") << "1" << 5.0 << 5.0 << -3 << 1200 << "\" 5\""
                                   << "\" 5\"" << 5.0;
}

void TestSettingsStore::roundTripAtExit()
{
    QFETCH(QString, a0Pin);
    QFETCH(double, vrefHigh0);
    QFETCH(double, vrefHigh1);
    QFETCH(int, port);
    QFETCH(int, rate);
    QFETCH(QString, rawVref0);
    QFETCH(QString, rawVref1);
    QFETCH(double, vsup);

    DeviceModel saved;
    saved.a0Pin = a0Pin;
    saved.vrefHigh = {vrefHigh0, vrefHigh1};
    {
        SettingsStore store(storePath());
        QVERIFY2(store.saveAtExit(saved, qint16(port), rate), qPrintable(store.lastError()));
        QVERIFY(store.lastError().isEmpty());
    }

    const RawIni raw = readRawIni(storePath());
    QCOMPARE(raw.value("vref_high0").value("10"), rawVref0);
    QCOMPARE(raw.value("vref_high1").value("10"), rawVref1);
    QCOMPARE(raw.value("a0").value("1"), a0Pin);
    QCOMPARE(raw.value("PortNumb").value("2"), QString::number(port));
    QCOMPARE(raw.value("BitRate").value("3"), QString::number(rate));

    SettingsStore store(storePath());
    DeviceModel loaded = seededModel();
    qint16 portNumber = 0;
    qint32 bitRate = 0;
    QVERIFY(store.loadSettings(loaded, portNumber, bitRate));
    QCOMPARE(loaded.a0Pin, a0Pin);
    QCOMPARE(loaded.vrefHigh[0], vrefHigh0);
    QCOMPARE(loaded.vrefHigh[1], vrefHigh1);
    QCOMPARE(loaded.vsup, vsup);
    QCOMPARE(portNumber, qint16(port));
    QCOMPARE(bitRate, qint32(rate));
}

void TestSettingsStore::defaultDir_data()
{
    QTest::addColumn<QString>("folder");

    QTest::newRow("POSIX folder") << "/home/user/sets/";
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
    }
    SettingsStore store(storePath());
    DeviceModel model = seededModel();
    qint16 port = 0;
    qint32 rate = 0;
    QVERIFY(store.loadSettings(model, port, rate));
    QCOMPARE(model.defaultDir, folder);
}

void TestSettingsStore::exitKeepsDefaultDir()
{
    SettingsStore store(storePath());
    QVERIFY(store.saveDefaultDir(QStringLiteral("/data/")));
    DeviceModel model;
    model.vrefHigh = {10, 3.3};
    QVERIFY(store.saveAtExit(model, 3, 9600));
    QVERIFY(store.saveDefaultDir(QStringLiteral("/other/")));

    DeviceModel loaded;
    qint16 port = 0;
    qint32 rate = 0;
    QVERIFY(store.loadSettings(loaded, port, rate));
    QCOMPARE(loaded.defaultDir, QStringLiteral("/other/"));
    QCOMPARE(loaded.vrefHigh[1], 3.3);
    QCOMPARE(port, qint16(3));
}

void TestSettingsStore::saveRepairsDamagedStore()
{
    writeRaw("[vref_high0\n10=\" 2.5\"\n");
    SettingsStore store(storePath());
    DeviceModel model;
    qint16 port = 0;
    qint32 rate = 0;
    QVERIFY(!store.loadSettings(model, port, rate));

    // The fallbacks go back to the store at exit, and that write succeeds.
    QVERIFY2(store.saveAtExit(model, port, rate), qPrintable(store.lastError()));
    QVERIFY(store.lastError().isEmpty());

    DeviceModel loaded;
    QVERIFY2(store.loadSettings(loaded, port, rate), qPrintable(store.lastError()));
    QCOMPARE(loaded.a0Pin, QStringLiteral("1"));
    QCOMPARE(port, qint16(1));
    QCOMPARE(rate, qint32(9600));
}

void TestSettingsStore::saveOverStoreDamagedOutside()
{
    writeRaw("[PortNumb]\n2=3\n");
    SettingsStore store(storePath());
    DeviceModel model;
    qint16 port = 0;
    qint32 rate = 0;
    QVERIFY(store.loadSettings(model, port, rate));

    // Damaged behind the program's back; the write at exit replaces it whole.
    writeRaw("[PortNumb\n2=4\n");
    model.a0Pin = QStringLiteral("1");
    QVERIFY2(store.saveAtExit(model, 6, 4800), qPrintable(store.lastError()));
    QVERIFY2(store.loadSettings(model, port, rate), qPrintable(store.lastError()));
    QCOMPARE(port, qint16(6));
    QCOMPARE(rate, qint32(4800));
    QCOMPARE(model.a0Pin, QStringLiteral("1"));
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
    DeviceModel model;
    QVERIFY(!store.saveAtExit(model, 1, 9600));
    QVERIFY2(store.lastError().contains(path), qPrintable(store.lastError()));
    QVERIFY(!store.saveDefaultDir(QStringLiteral("/data/")));
    QVERIFY2(store.lastError().contains(path), qPrintable(store.lastError()));
    QVERIFY(!QFile::exists(path));

    // A failed write leaves nothing behind that would spoil the next load.
    qint16 port = 5;
    qint32 rate = 5;
    QVERIFY2(store.loadSettings(model, port, rate), qPrintable(store.lastError()));
    QCOMPARE(model.defaultDir, QString());
    QCOMPARE(port, qint16(0));
}

void TestSettingsStore::userStoreLocation()
{
    SettingsStore store;
    const QString expected = QDir(m_userConfig.path()).filePath("KALVENTA/KALVENTA.ini");
    // Checked before anything is written, so a mismatch cannot reach the user's own store.
    QCOMPARE(store.location(), expected);

    QVERIFY2(store.saveDefaultDir(QStringLiteral("/data/")), qPrintable(store.lastError()));
    QCOMPARE(readRawIni(expected).value("Startup").value("Default_Dir"), QStringLiteral("/data/"));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
