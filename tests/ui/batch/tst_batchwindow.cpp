#include "control/batchrunner.h"
#include "controlfixture.h"
#include "ui/batch/batchwindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using control::BatchRunner;

namespace {

// The program on the simulated board, a runner, and a stored default folder holding
// "b.csv", "A.csv", "c.csv" and a subfolder "sub".
struct WindowFixture : ControlFixture
{
    WindowFixture() : runner(model, grid(), *operations)
    {
        QDir(dir.path()).mkpath(QStringLiteral("files/sub"));
        const QByteArray content = "6\r\n" + QByteArray("200\r\n").repeated(device::channelCount);
        for (const char *name : {"b.csv", "A.csv", "c.csv"}) {
            QFile file(QDir(folder).filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        QSettings(settings.location(), QSettings::IniFormat)
            .setValue(QStringLiteral("Startup/Default_Dir"), folder + u'/');
        controller->loadSettings(); // as the main window does before it opens this window
    }

    BatchRunner runner;
    QString folder = dir.filePath(QStringLiteral("files"));
};

template<typename T> T *withText(QWidget &window, const QString &text)
{
    for (T *widget : window.findChildren<T *>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

} // namespace

class TestBatchWindow : public QObject
{
    Q_OBJECT

private slots:
    void opensOnStoredFolder();
    void controlsReachTheRunner();
    void closingDuringRunEndsIt_data();
    void closingDuringRunEndsIt();
};

void TestBatchWindow::opensOnStoredFolder()
{
    WindowFixture f;
    ui::BatchWindow window(f.runner);
    auto *files = window.findChild<QListWidget *>();
    QStringList names;
    for (int k = 0; k < files->count(); ++k)
        names.append(files->item(k)->text());
    QCOMPARE(names, (QStringList{"A.csv", "b.csv", "c.csv"}));
    QCOMPARE(window.findChild<QLineEdit *>()->text(), QStringLiteral("1"));

    auto *tree = window.findChild<QTreeWidget *>();
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("files"));
    emit tree->itemActivated(tree->currentItem()->child(0), 0); // "sub"
    QTRY_COMPARE(window.folder(), QDir(f.folder).filePath(QStringLiteral("sub")));
    QCOMPARE(files->count(), 0);
}

void TestBatchWindow::controlsReachTheRunner()
{
    WindowFixture f;
    ui::BatchWindow window(f.runner);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *files = window.findChild<QListWidget *>();
    files->item(0)->setSelected(true);
    withText<QPushButton>(window, QStringLiteral("Single Step Down"))->click();
    QVERIFY(withText<QLabel>(window, QStringLiteral("A.csv 0"))); // the runner's status line
    QVERIFY(!f.runner.batchListClicked());
    window.setFolder(f.folder); // refilling drops the selection: not the user's doing
    QVERIFY(!f.runner.batchListClicked());

    const QPoint second = files->visualItemRect(files->item(1)).center();
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, second);
    QVERIFY(f.runner.batchListClicked());
    withText<QPushButton>(window, QStringLiteral("Single Step Up"))->click();
    QVERIFY(withText<QLabel>(window, QStringLiteral("b.csv 1")));
    withText<QPushButton>(window, QStringLiteral("Stop Batch"))->click();
    QVERIFY(f.runner.batchStopRequest());
}

void TestBatchWindow::closingDuringRunEndsIt_data()
{
    QTest::addColumn<bool>("deleted");
    QTest::newRow("closed while shown modally") << false;
    QTest::newRow("deleted") << true;
}

void TestBatchWindow::closingDuringRunEndsIt()
{
    QFETCH(bool, deleted);
    WindowFixture f;
    QPointer<ui::BatchWindow> window = new ui::BatchWindow(f.runner);
    window->findChild<QListWidget *>()->item(1)->setSelected(true);
    window->findChild<QLineEdit *>()->setText(QStringLiteral("3"));
    bool tooLate = false;
    QTimer::singleShot(1000, &f.runner, [&] { tooLate = true; });
    QTimer::singleShot(1500, &f.runner, &BatchRunner::stop); // should the closing not end it
    // Inside the run's 3-second wait, after the first file.
    connect(&f.runner, &BatchRunner::entryPlayed, [&] {
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
    QVERIFY(!tooLate); // the wait did not hold the closing up
    QVERIFY(!f.runner.isRunning());
    QCOMPARE(f.runner.list(), nullptr);
    QCOMPARE(f.board.dataWritten(), QByteArray::fromHex("01000000"));
}

QTEST_MAIN(TestBatchWindow)
#include "tst_batchwindow.moc"
