// SPDX-License-Identifier: MIT
#include "control/batchrunner.h"
#include "controlfixture.h"
#include "ui/batch/batchwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using control::BatchRunner;

namespace {

// The program on the simulated board, a runner, and a stored default folder holding
// "b.csv", "A.csv", "c.csv", a subfolder "sub", a pipe and a link to it that looks like a file;
// beside it a folder "other".
struct WindowFixture : ControlFixture
{
    WindowFixture() : runner(model, grid(), *operations)
    {
        QDir(dir.path()).mkpath(QStringLiteral("files/sub"));
        QDir(dir.path()).mkpath(QStringLiteral("other"));
        const QByteArray content = "6\r\n" + QByteArray("200\r\n").repeated(device::channelCount);
        for (const char *name : {"b.csv", "A.csv", "c.csv"})
            write(QString::fromLatin1(name), content);
        const QByteArray pipe = QFile::encodeName(QDir(folder).filePath(QStringLiteral("pipe")));
        QVERIFY(mkfifo(pipe.constData(), 0600) == 0);
        QVERIFY(symlink(pipe.constData(), (pipe + ".csv").constData()) == 0);
        QSettings(settings.location(), QSettings::IniFormat)
            .setValue(QStringLiteral("Startup/Default_Dir"), folder + u'/');
        controller->loadSettings(); // as the main window does before it opens this window
    }

    void write(const QString &name, const QByteArray &content = {})
    {
        QFile file(QDir(folder).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    BatchRunner runner;
    QString folder = dir.filePath(QStringLiteral("files"));
};

// The names in a list or below a tree index, in the order shown.
QStringList namesIn(const QAbstractItemView *view, const QModelIndex &parent)
{
    QStringList names;
    for (int row = 0; row < view->model()->rowCount(parent); ++row)
        names.append(view->model()->index(row, 0, parent).data().toString());
    return names;
}

QStringList namesIn(const QListView *list)
{
    return namesIn(list, list->rootIndex());
}

// Whether the row of index is wholly within the view's height.
bool inSight(const QTreeView *tree, const QModelIndex &index)
{
    const QRect row = tree->visualRect(index);
    return row.isValid() && row.top() >= 0 && row.bottom() < tree->viewport()->height();
}

void select(QListView *list, int row)
{
    list->selectionModel()->select(list->model()->index(row, 0, list->rootIndex()),
                                   QItemSelectionModel::Select);
}

// The lists load in the background: the file list is ready once it shows the fixture's files.
void waitForFiles(ui::BatchWindow &window)
{
    QTRY_COMPARE(namesIn(window.findChild<QListView *>()),
                 (QStringList{"A.csv", "b.csv", "c.csv"}));
}

template<typename T> T *withText(QWidget &window, const QString &text)
{
    for (T *widget : window.findChildren<T *>()) {
        if (QString(widget->text()).remove(QLatin1Char('&')) == text)
            return widget;
    }
    return nullptr;
}

} // namespace

class TestBatchWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A language whose collation can count digits as numbers; the C locale never does.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void opensOnStoredFolder()
    {
        WindowFixture f;
        ui::BatchWindow window(f.runner);
        waitForFiles(window); // only regular files, in name order ignoring case
        QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("delay"))->text(),
                 QStringLiteral("1"));
        auto *files = window.findChild<QListView *>();
        // The list follows the folder; digits count as characters.
        f.write(QStringLiteral("a9.csv"));
        f.write(QStringLiteral("a10.csv"));
        QTRY_COMPARE(namesIn(files), (QStringList{"A.csv", "a10.csv", "a9.csv", "b.csv", "c.csv"}));

        auto *tree = window.findChild<QTreeView *>();
        QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("files"));
        // Its folders but not the pipe in it; "other" beside it.
        QTRY_COMPARE(namesIn(tree, tree->currentIndex()), QStringList{"sub"});
        QTRY_COMPARE(namesIn(tree, tree->currentIndex().parent()), (QStringList{"files", "other"}));
        f.write(QStringLiteral("sub/d.csv"));
        emit tree->activated(tree->model()->index(0, 0, tree->currentIndex()));
        QCOMPARE(window.folder(), QDir(f.folder).filePath(QStringLiteral("sub")));
        QTRY_COMPARE(namesIn(files), QStringList{"d.csv"});
        // And back: the folder last open is not a file, not even at first.
        window.setFolder(f.folder);
        QVERIFY(!namesIn(files).contains(QStringLiteral("sub")));
        QTRY_COMPARE(namesIn(files), (QStringList{"A.csv", "a10.csv", "a9.csv", "b.csv", "c.csv"}));
    }

    void controlsReachTheRunner()
    {
        WindowFixture f;
        ui::BatchWindow window(f.runner);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        waitForFiles(window);
        QVERIFY(withText<QLabel>(window, QStringLiteral("Stopped")));
        // A screen reader hears what the label is and what it says.
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("batchState"))->accessibleName(),
                 QStringLiteral("Batch state: Stopped"));
        // The delay comes before the buttons in Tab order: it is set before a run.
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.findChild<QListView *>()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(),
                 window.findChild<QLineEdit *>(QStringLiteral("delay")));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(),
                 withText<QPushButton>(window, QStringLiteral("Run Batch")));
        QWidget main; // the window it updates stays in sight
        main.setGeometry(0, 0, 200, 150);
        window.resize(300, 200);
        window.placeBeside(&main);
        QVERIFY(window.x() >= 200);
        // No room on either side (as a 640-pixel window beside a centred main window at
        // 1366x768): at the screen's edge, over as little of it as can be.
        const QRect room = main.screen()->availableGeometry();
        main.setGeometry(room.left() + room.width() / 4, room.top(), room.width() / 2, 150);
        window.resize(room.width() / 2, 200);
        window.placeBeside(&main);
        const QRect placed(window.pos(), window.frameGeometry().size().expandedTo(window.size()));
        QVERIFY2(room.contains(placed),
                 qPrintable(QStringLiteral("%1,%2").arg(window.x()).arg(window.y())));
        QVERIFY(window.x() == room.left() || placed.right() == room.right());
        auto *files = window.findChild<QListView *>();
        QPushButton *down = withText<QPushButton>(window, QStringLiteral("Single Step Down"));
        select(files, 0);
        select(files, 1);
        down->click();
        QVERIFY(withText<QLabel>(window, QStringLiteral("A.csv 0"))); // the runner's status line
        QVERIFY(!f.runner.batchListClicked());
        // Neither a selected file that vanishes nor a new folder is the user's doing.
        QFile::remove(QDir(f.folder).filePath(QStringLiteral("A.csv")));
        QTRY_COMPARE(namesIn(files), (QStringList{"b.csv", "c.csv"}));
        window.setFolder(f.folder);
        QVERIFY(!f.runner.batchListClicked() && !files->selectionModel()->hasSelection());

        // A click counts even where it leaves the selection as it was; so does the keyboard.
        const QPoint second =
            files->visualRect(files->model()->index(1, 0, files->rootIndex())).center();
        for (int click = 0; click < 2; ++click) {
            QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, second);
            QVERIFY(f.runner.batchListClicked());
            down->click();
            QVERIFY(withText<QLabel>(window, QStringLiteral("c.csv 1")));
        }
        QTest::keyClick(files, Qt::Key_Up);
        QVERIFY(f.runner.batchListClicked());
        withText<QPushButton>(window, QStringLiteral("Single Step Up"))->click();
        QVERIFY(withText<QLabel>(window, QStringLiteral("b.csv 0")));
        withText<QPushButton>(window, QStringLiteral("Stop Batch"))->click();
        QVERIFY(f.runner.batchStopRequest());
    }

    void closingDuringRunEndsIt_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("closed while shown modally") << false;
        QTest::newRow("deleted") << true;
    }

    void closingDuringRunEndsIt()
    {
        QFETCH(bool, deleted);
        WindowFixture f;
        QPointer<ui::BatchWindow> window = new ui::BatchWindow(f.runner);
        waitForFiles(*window);
        select(window->findChild<QListView *>(), 1);
        window->findChild<QLineEdit *>(QStringLiteral("delay"))->setText(QStringLiteral("3"));
        bool tooLate = false, shownRunning = false;
        QTimer::singleShot(1000, &f.runner, [&] { tooLate = true; });
        QTimer::singleShot(1500, &f.runner, &BatchRunner::stop); // should the closing not end it
        // Inside the run's 3-second wait, after the first file.
        connect(&f.runner, &BatchRunner::entryPlayed, [&] {
            shownRunning =
                withText<QLabel>(*window, QStringLiteral("Running")) &&
                !withText<QPushButton>(*window, QStringLiteral("Run Batch"))->isEnabled();
            QTimer::singleShot(0, [&] { deleted ? delete window.data() : (void)window->close(); });
        });
        QTimer::singleShot(0, withText<QPushButton>(*window, QStringLiteral("Run Batch")),
                           &QPushButton::click);
        if (deleted) {
            window->show();
            QTRY_VERIFY(window.isNull() && !f.runner.isRunning());
        } else {
            QCOMPARE(window->exec(), int(QDialog::Rejected));
            delete window.data();
        }
        // The wait did not hold the closing up.
        QVERIFY(shownRunning && !tooLate && !f.runner.isRunning());
        QCOMPARE(f.runner.list(), nullptr);
        QCOMPARE(f.board.dataWritten(), QByteArray::fromHex("01000000"));
    }

    // The tree holds the whole file system from its root, the open folder current and in sight,
    // however many folders come in around it.
    void treeShowsTheWholeFileSystem()
    {
        WindowFixture f;
        for (int k = 0; k < 60; ++k)
            QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("a%1").arg(k)));
        ui::BatchWindow window(f.runner);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *tree = window.findChild<QTreeView *>();
        QTRY_COMPARE(namesIn(tree, tree->currentIndex().parent()).size(), 62);
        QModelIndex top = tree->currentIndex();
        while (top.parent().isValid())
            top = top.parent();
        QCOMPARE(top.data().toString(), QStringLiteral("/"));
        QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("files"));
        QCOMPARE(tree->selectionModel()->selectedRows(), QModelIndexList{tree->currentIndex()});
        QTRY_VERIFY(inSight(tree, tree->currentIndex()));
        // A folder beside it opens as any other.
        const QModelIndex other = tree->model()->index(61, 0, tree->currentIndex().parent());
        QCOMPARE(other.data().toString(), QStringLiteral("other"));
        emit tree->activated(other);
        QCOMPARE(window.folder(), f.dir.filePath(QStringLiteral("other")));
        QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("other"));
        QTRY_VERIFY(inSight(tree, tree->currentIndex()));
    }

    // Enter in the path field opens the folder typed; a path that is no folder is refused with
    // a word on why, and the window stays where it was: folder, files, selection and the text.
    void pathFieldOpensTheFolderTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("problem"); // "" when the folder opens
        QTest::newRow("beside") << QStringLiteral("../other") << QString();
        QTest::newRow("below, absolute") << QStringLiteral("@/files/sub") << QString();
        QTest::newRow("a file") << QStringLiteral("A.csv")
                                << QStringLiteral("@/files/A.csv is a file, not a folder.");
        QTest::newRow("missing") << QStringLiteral("@/nowhere")
                                 << QStringLiteral("There is no folder @/nowhere.");
    }

    void pathFieldOpensTheFolderTyped()
    {
        QFETCH(QString, typed);
        QFETCH(QString, problem);
        WindowFixture f;
        typed.replace(u'@', f.dir.path());
        problem.replace(u'@', f.dir.path());
        ui::BatchWindow window(f.runner);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        waitForFiles(window);
        auto *path = window.findChild<QLineEdit *>(QStringLiteral("folderPath"));
        auto *files = window.findChild<QListView *>();
        auto *shown = window.findChild<QLabel *>(QStringLiteral("folderProblem"));
        QCOMPARE(path->text(), f.folder);
        QVERIFY(path->isVisible() && !shown->isVisible());
        select(files, 1);
        path->setFocus();
        path->selectAll();
        QTest::keyClicks(path, typed);
        QTest::keyClick(path, Qt::Key_Return);
        QVERIFY(window.isVisible()); // Enter neither closes the window nor starts a run
        QVERIFY(!f.runner.isRunning());
        if (problem.isEmpty()) {
            const QString opened = QDir::cleanPath(QDir(f.folder).absoluteFilePath(typed));
            QCOMPARE(window.folder(), opened);
            QCOMPARE(path->text(), opened);
            QVERIFY(!shown->isVisible());
            QCOMPARE(window.findChild<QTreeView *>()->currentIndex().data().toString(),
                     QFileInfo(opened).fileName());
            return;
        }
        QCOMPARE(shown->text(), problem);
        QVERIFY(shown->isVisible());
        QCOMPARE(window.folder(), f.folder);
        QCOMPARE(path->text(), typed);
        QCOMPARE(namesIn(files), (QStringList{"A.csv", "b.csv", "c.csv"}));
        QVERIFY(files->selectionModel()->isSelected(files->model()->index(1, 0)));
        // Typing again clears the word.
        QTest::keyClick(path, Qt::Key_Backspace);
        QVERIFY(!shown->isVisible());
    }

    // A file whose name is not valid UTF-8 is listed and played by its bytes.
    void playsAFileWhoseNameIsNotUtf8()
    {
        WindowFixture f;
        const QByteArray path = QFile::encodeName(f.folder) + "/d\xe9j\xe0.csv";
        const QByteArray content = "7\r\n" + QByteArray("300\r\n").repeated(device::channelCount);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        // QTemporaryDir removes by Qt's names, which cannot reach this file.
        const auto removed = qScopeGuard([&] { ::unlink(path.constData()); });
        QCOMPARE(::write(fd, content.constData(), size_t(content.size())), content.size());
        ::close(fd);
        ui::BatchWindow window(f.runner);
        auto *files = window.findChild<QListView *>();
        const QString shown = QStringLiteral("d\ufffdj\ufffd.csv");
        QTRY_COMPARE(namesIn(files), (QStringList{"A.csv", "b.csv", "c.csv", shown}));
        select(files, 3);
        withText<QPushButton>(window, QStringLiteral("Single Step Down"))->click();
        QCOMPARE(f.runner.statusText(), shown + QStringLiteral(" 3"));
        QCOMPARE(f.model.vsup, 7.0);
        QCOMPARE(f.chip0().dacRegister(0), quint16(300));
    }

    // A long file name in the status line is cut short in its middle: the window keeps its
    // width, and the whole name is in the tooltip.
    void aLongNameKeepsTheWindowsSize()
    {
        WindowFixture f;
        ui::BatchWindow window(f.runner);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        waitForFiles(window);
        const QString name = QString(200, u'x') + QStringLiteral(".csv");
        f.write(name, "6\r\n" + QByteArray("200\r\n").repeated(device::channelCount));
        auto *files = window.findChild<QListView *>();
        QTRY_COMPARE(namesIn(files).size(), 4);
        const int width = window.width();
        select(files, 3);
        withText<QPushButton>(window, QStringLiteral("Single Step Down"))->click();
        QCOMPARE(f.runner.statusText(), name + QStringLiteral(" 3"));
        QTest::qWait(50);
        QCOMPARE(window.width(), width);
        QLabel *shown = nullptr;
        for (QLabel *label : window.findChildren<QLabel *>()) {
            if (label->toolTip() == f.runner.statusText())
                shown = label;
        }
        QVERIFY(shown);
        QVERIFY2(shown->text().contains(QChar(0x2026)), qPrintable(shown->text()));
        QVERIFY(shown->text().endsWith(QStringLiteral(".csv 3")));
        QCOMPARE(shown->accessibleName(), QStringLiteral("Batch status: ") + name + " 3");
    }
};

QTEST_MAIN(TestBatchWindow)
#include "tst_batchwindow.moc"
