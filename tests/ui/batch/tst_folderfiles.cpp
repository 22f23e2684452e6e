// SPDX-License-Identifier: MIT
#include "device/filenames.h"
#include "ui/batch/folderfiles.h"

#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using ui::FolderFiles;

namespace {

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

QStringList namesOf(const FolderFiles &files)
{
    QStringList names;
    for (int row = 0; row < files.rowCount(); ++row)
        names.append(files.fileName(row));
    return names;
}

QStringList selectedOf(const QItemSelectionModel &selection)
{
    QStringList names;
    for (const QModelIndex &index : selection.selectedRows())
        names.append(index.data().toString());
    names.sort();
    return names;
}

} // namespace

class TestFolderFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString at(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(dir.isValid());
    }

    // Regular files and links to them, by name ignoring case, digits as characters; names
    // that differ only in case keep a fixed order.
    void listsTheRegularFilesInNameOrder()
    {
        for (const char *name : {"b.csv", "a10.csv", "a9.csv", "B.csv", "A.csv", ".hidden"})
            touch(at(QString::fromLatin1(name)));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub.csv")));
        const QByteArray pipe = QFile::encodeName(at(QStringLiteral("pipe")));
        QVERIFY(mkfifo(pipe.constData(), 0600) == 0);
        QVERIFY(symlink(pipe.constData(), QFile::encodeName(at("pipe.csv")).constData()) == 0);
        QVERIFY(symlink(QFile::encodeName(at("b.csv")).constData(),
                        QFile::encodeName(at("link.csv")).constData()) == 0);

        FolderFiles files;
        QSignalSpy listed(&files, &FolderFiles::listed);
        files.setFolder(dir.path());
        QVERIFY(listed.wait());
        QCOMPARE(namesOf(files),
                 (QStringList{"A.csv", "a10.csv", "a9.csv", "B.csv", "b.csv", "link.csv"}));
        QCOMPARE(files.data(files.index(1)).toString(), QStringLiteral("a10.csv"));
    }

    // Files that come and go change only their own rows: a selection keeps the files that stay,
    // and nothing resets the list.
    void changesKeepTheRowsThatStay()
    {
        QTemporaryDir folder;
        for (const char *name : {"a.csv", "b.csv", "c.csv", "d.csv", "f.csv"})
            touch(folder.filePath(QString::fromLatin1(name)));
        FolderFiles files;
        QSignalSpy listed(&files, &FolderFiles::listed);
        files.setFolder(folder.path());
        QVERIFY(listed.wait());
        QItemSelectionModel selection(&files);
        for (const int row : {1, 3, 4})
            selection.select(files.index(row), QItemSelectionModel::Select);
        QSignalSpy reset(&files, &QAbstractItemModel::modelAboutToBeReset);

        QVERIFY(QFile::remove(folder.filePath(QStringLiteral("a.csv"))));
        QVERIFY(QFile::remove(folder.filePath(QStringLiteral("d.csv"))));
        for (const char *name : {"0.csv", "bb.csv", "e.csv", "g.csv", "h.csv"})
            touch(folder.filePath(QString::fromLatin1(name)));
        QTRY_COMPARE(namesOf(files), (QStringList{"0.csv", "b.csv", "bb.csv", "c.csv", "e.csv",
                                                  "f.csv", "g.csv", "h.csv"}));
        QCOMPARE(selectedOf(selection), (QStringList{"b.csv", "f.csv"}));
        QCOMPARE(reset.size(), 0);

        // Reading the same folder again keeps it all; another folder starts empty.
        files.setFolder(folder.path());
        QCOMPARE(namesOf(files).size(), 8);
        QVERIFY(listed.wait());
        QCOMPARE(selectedOf(selection), (QStringList{"b.csv", "f.csv"}));
        files.setFolder(dir.path());
        QCOMPARE(files.rowCount(), 0);
        QVERIFY(!selection.hasSelection());
        QVERIFY(listed.wait());
        QVERIFY(files.rowCount() > 0);
    }

    // A name that is not valid UTF-8 is listed too, held byte for byte so that the runner opens
    // the very file; the list shows each odd byte as U+FFFD and says why in the tooltip.
    void listsNamesThatAreNotUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Latin-1 letter")
            << QByteArray("caf\xe9.csv") << QStringLiteral("caf\ufffd.csv");
        QTest::newRow("stray continuation byte")
            << QByteArray("\x80x.csv") << QStringLiteral("\ufffdx.csv");
        QTest::newRow("sequence cut short")
            << QByteArray("ab\xe2\x82.csv") << QStringLiteral("ab\ufffd\ufffd.csv");
    }

    void listsNamesThatAreNotUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QTemporaryDir folder;
        touch(folder.filePath(QStringLiteral("plain.csv")));
        const QByteArray path = QFile::encodeName(folder.path()) + '/' + bytes;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
        // QTemporaryDir removes by Qt's names, which cannot reach this file.
        const auto removed = qScopeGuard([&] { ::unlink(path.constData()); });

        FolderFiles files;
        QSignalSpy listed(&files, &FolderFiles::listed);
        files.setFolder(folder.path());
        QVERIFY(listed.wait());
        QCOMPARE(files.rowCount(), 2);
        const int row = files.fileName(0) == QStringLiteral("plain.csv") ? 1 : 0;
        QCOMPARE(device::encodeFileName(files.fileName(row)), bytes);
        QCOMPARE(files.data(files.index(row)).toString(), shown);
        const QString tip = files.data(files.index(row), Qt::ToolTipRole).toString();
        QVERIFY2(tip.startsWith(shown) && tip.contains(QStringLiteral("UTF-8")), qPrintable(tip));
        QCOMPARE(files.data(files.index(1 - row), Qt::ToolTipRole).toString(),
                 QStringLiteral("plain.csv"));
    }

    // A list dropped while it still reads a large folder waits for nothing and leaves nothing
    // behind.
    void droppedWhileReading()
    {
        QTemporaryDir big;
        for (int i = 0; i < 5000; ++i)
            touch(big.filePath(QStringLiteral("f%1").arg(i)));
        for (int round = 0; round < 5; ++round) {
            auto files = std::make_unique<FolderFiles>();
            files->setFolder(big.path());
            QTest::qWait(round);
        }
        FolderFiles files;
        QSignalSpy listed(&files, &FolderFiles::listed);
        files.setFolder(big.path());
        QVERIFY(listed.wait());
        QCOMPARE(files.rowCount(), 5000);
    }
};

QTEST_GUILESS_MAIN(TestFolderFiles)
#include "tst_folderfiles.moc"
