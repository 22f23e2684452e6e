#include "controlfixture.h"
#include "simulatedports.h"
#include "ui/main/mainwindow.h"
#include "ui/main/messageboxprompts.h"
#include "ui/main/registersetdialog.h"
#include "ui/main/spinarrows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

using sim::ChipEvent;

Q_DECLARE_METATYPE(ui::FilePurpose)

namespace {

// The main window on the whole program: the simulated board at COM1, a store holding a "Vsup"
// of 10, started as the program starts.
struct WindowFixture
{
    WindowFixture()
    {
        f.comPort->setPortMap(simulatedPorts(f.dir, &f.board, {1}));
        device::DeviceModel stored;
        stored.vrefHigh = {10, 10};
        f.settings.saveAtExit(stored, 1, 9600);
        window = std::make_unique<ui::MainWindow>(*f.controller, f.comPort->portMap(), f.prompts);
        window->show();
        window->activateWindow();
        f.controller->start();
        f.clearEvents();
    }

    template<typename T = QLineEdit> T *find(const QString &name) const
    {
        return window->findChild<T *>(name);
    }
    QLineEdit *voltageBox(int index) const
    {
        return find(QStringLiteral("voltageBox%1").arg(index));
    }
    QPushButton *button(const QString &caption) const
    {
        for (QPushButton *b : window->findChildren<QPushButton *>()) {
            if (b->text() == caption)
                return b;
        }
        return nullptr;
    }
    void typeInto(QLineEdit *box, const QString &text)
    {
        QTest::mouseClick(box, Qt::LeftButton);
        box->selectAll();
        QTest::keyClicks(box, text);
    }
    // How many of each event the chip saw: reads, resets, OTP burns.
    QString summary(int a0) const
    {
        int reads = 0, resets = 0, burns = 0;
        for (const ChipEvent &e : f.board.chip(a0).events()) {
            reads += e.kind == ChipEvent::Kind::RegisterRead;
            resets += e.kind == ChipEvent::Kind::Reset;
            burns += e.kind == ChipEvent::Kind::OtpWrite;
        }
        return QStringLiteral("R%1 X%2 O%3").arg(reads).arg(resets).arg(burns);
    }

    ControlFixture f{false};
    std::unique_ptr<ui::MainWindow> window;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void typingThenLeavingWritesAndShows();
    void onlyAClickSelectsAChannel();
    void spinArrowsStepTheSelectedChannel();
    void vsupAndMaxBankBoxes();
    void checkRunsBeforeTheCommand_data();
    void checkRunsBeforeTheCommand();
    void commands_data();
    void commands();
    void changeAddressLook();
    void fileDialogSetUp_data();
    void fileDialogSetUp();
    void fileCommands();
    void comSettingOpensModalDialog();
    void statusBarFollowsThePort();
    void closingSavesAndChecksNothing();
    void confirmationDefaultsToNo();
};

void TestMainWindow::typingThenLeavingWritesAndShows()
{
    WindowFixture w;
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QCOMPARE(w.voltageBox(24)->text(), QStringLiteral(" 0")); // all 24 channels are shown
    w.typeInto(w.voltageBox(3), QStringLiteral("5"));
    QCOMPARE(w.f.dacWritesWithRegister(), (QList<QPair<int, int>>{{2, 512}}));
    QCOMPARE(w.find(QStringLiteral("hexBox3"))->text(), QStringLiteral("0")); // not while typing

    QTest::keyClick(w.voltageBox(3), Qt::Key_Tab);
    QCOMPARE(w.voltageBox(3)->text(), QStringLiteral(" 5"));
    QCOMPARE(w.find(QStringLiteral("hexBox3"))->text(), QStringLiteral("200"));
    QCOMPARE(w.f.dacWrites(), (QList<int>{512, 512, 512}));
}

void TestMainWindow::onlyAClickSelectsAChannel()
{
    WindowFixture w;
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    QTest::mouseClick(w.voltageBox(7), Qt::LeftButton);
    QCOMPARE(w.f.model.selectedChannel, 7);
    QTest::mouseClick(w.voltageBox(5), Qt::LeftButton);
    QCOMPARE(w.f.model.selectedChannel, 5);
    QTest::keyClick(w.voltageBox(5), Qt::Key_Tab);
    QVERIFY(w.voltageBox(6)->hasFocus());
    QCOMPARE(w.f.model.selectedChannel, 5);
}

void TestMainWindow::spinArrowsStepTheSelectedChannel()
{
    WindowFixture w;
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    auto *spin = w.find<ui::SpinArrows>(QStringLiteral("spinArrows"));
    QTest::mouseClick(w.voltageBox(4), Qt::LeftButton);
    // Going to the arrows leaves the box: its check writes once; the down arrow at 0 does not.
    QTest::mouseClick(spin->downArrow(), Qt::LeftButton);
    QTest::mouseClick(spin->upArrow(), Qt::LeftButton);
    QTest::mouseClick(spin->upArrow(), Qt::LeftButton);
    QTest::mouseClick(spin->downArrow(), Qt::LeftButton);
    QCOMPARE(w.f.dacWritesWithRegister(), (QList<QPair<int, int>>{{3, 0}, {3, 1}, {3, 2}, {3, 1}}));
    QCOMPARE(w.voltageBox(4)->text(), QStringLiteral(" .009"));
    QCOMPARE(w.find(QStringLiteral("hexBox4"))->text(), QStringLiteral("1"));
    QVERIFY(w.voltageBox(4)->hasFocus()); // the arrows never take the focus
}

void TestMainWindow::vsupAndMaxBankBoxes()
{
    WindowFixture w;
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    w.typeInto(w.find(QStringLiteral("vsupBox")), QStringLiteral("3.3"));
    QCOMPARE(w.f.model.vsup, 10.0); // taken when the box is left
    QTest::mouseClick(w.find(QStringLiteral("maxBankBox")), Qt::LeftButton);
    QCOMPARE(w.f.model.vsup, 3.3);
    QCOMPARE(w.f.model.vrefHigh[0], 3.3);

    QTest::keyClicks(w.find(QStringLiteral("maxBankBox")), QStringLiteral("7"));
    QCOMPARE(w.f.grid().maxBankText(), QStringLiteral("07"));
}

void TestMainWindow::checkRunsBeforeTheCommand_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("activation");
    QTest::addColumn<int>("writesBeforeRead");

    // Channel 3: the typed write, then the check's rewrite of the box and its own write.
    // "Vsup": the check's refresh rewrites all 24 channels.
    for (const char *activation : {"mouse", "mouse, no focus", "space key"}) {
        QTest::addRow("channel 3, %s", activation) << "voltageBox3" << activation << 3;
        QTest::addRow("Vsup, %s", activation) << "vsupBox" << activation << 24;
    }
}

void TestMainWindow::checkRunsBeforeTheCommand()
{
    QFETCH(QString, box);
    QFETCH(QString, activation);
    QFETCH(int, writesBeforeRead);

    WindowFixture w;
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    for (int reg = 0; reg < 24; ++reg)
        w.f.chip0().setDacRegister(reg, 512);
    w.f.controller->readAllRegisters();
    w.f.clearEvents();

    w.typeInto(w.find(box), QStringLiteral("5"));
    QPushButton *read = w.button(QStringLiteral("Read DAC"));
    if (activation == QLatin1String("mouse, no focus"))
        read->setFocusPolicy(Qt::NoFocus);
    if (activation == QLatin1String("space key"))
        QTest::keyClick(read, Qt::Key_Space);
    else
        QTest::mouseClick(read, Qt::LeftButton);
    // The check ran once, when the box was left: nothing more when the focus moves on now.
    QTest::mouseClick(w.voltageBox(10), Qt::LeftButton);

    const QList<ChipEvent> &events = w.f.chip0().events();
    const auto firstRead = std::find_if(events.cbegin(), events.cend(), [](const ChipEvent &e) {
        return e.kind == ChipEvent::Kind::RegisterRead;
    });
    QVERIFY(firstRead != events.cend());
    const auto isWrite = [](const ChipEvent &e) { return e.kind == ChipEvent::Kind::DacWrite; };
    QCOMPARE(std::count_if(events.cbegin(), firstRead, isWrite), writesBeforeRead);
    QCOMPARE(std::count_if(firstRead, events.cend(), isWrite), 0);
}

void TestMainWindow::commands_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<QString>("chip0");
    QTest::addColumn<QString>("chip1");
    QTest::addColumn<int>("questions");
    QTest::addColumn<QString>("message");

    // 25 reads: the 24 channels and the max bank. A general-call reset reaches both chips.
    const QString about = control::MainController::aboutTitle() + QLatin1Char('|') +
                          control::MainController::aboutText();
    QTest::newRow("Read DAC") << "Read DAC" << false << "R25 X0 O0"
                              << "R0 X0 O0" << 0 << "";
    QTest::newRow("Reset") << "Reset" << false << "R25 X1 O0"
                           << "R0 X1 O0" << 0 << "";
    QTest::newRow("OTP, yes") << "Program OTP All Channels" << true << "R1 X1 O24"
                              << "R0 X1 O0" << 1 << "";
    QTest::newRow("OTP, no") << "Program OTP All Channels" << false << "R0 X0 O0"
                             << "R0 X0 O0" << 1 << "";
    QTest::newRow("Change Address") << "Change Address\nA0= 0 " << false << "R0 X0 O0"
                                    << "R25 X0 O0" << 0 << "";
    QTest::newRow("About") << "About" << false << "R0 X0 O0"
                           << "R0 X0 O0" << 0 << about;
}

void TestMainWindow::commands()
{
    QFETCH(QString, caption);
    QFETCH(bool, answerYes);
    QFETCH(QString, chip0);
    QFETCH(QString, chip1);
    QFETCH(int, questions);
    QFETCH(QString, message);

    WindowFixture w;
    w.f.prompts.answerYes = answerYes;
    QPushButton *button = w.button(caption);
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(w.summary(0), chip0);
    QCOMPARE(w.summary(1), chip1);
    QCOMPARE(w.f.prompts.questions.size(), questions);
    QCOMPARE(w.f.prompts.messages.join(QString()), message);
}

void TestMainWindow::changeAddressLook()
{
    WindowFixture w;
    auto *button = w.find<QPushButton>(QStringLiteral("changeAddressButton"));
    auto *a0 = w.find<QLabel>(QStringLiteral("a0Status"));
    QCOMPARE(button->text(), QStringLiteral("Change Address\nA0= 0 "));
    QCOMPARE(button->palette().color(QPalette::Button), QColor(255, 128, 128));
    QCOMPARE(a0->text(), QStringLiteral("A0 = 0"));

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral("Change Address\nA0= 1 "));
    QCOMPARE(button->palette().color(QPalette::Button), QColor(192, 192, 255));
    QCOMPARE(a0->text(), QStringLiteral("A0 = 1"));
}

void TestMainWindow::fileDialogSetUp_data()
{
    QTest::addColumn<ui::FilePurpose>("purpose");
    QTest::addColumn<bool>("withFolder");
    QTest::newRow("save") << ui::FilePurpose::Save << true;
    QTest::newRow("load") << ui::FilePurpose::Load << true;
    QTest::newRow("load, no folder") << ui::FilePurpose::Load << false;
}

void TestMainWindow::fileDialogSetUp()
{
    QFETCH(ui::FilePurpose, purpose);
    QFETCH(bool, withFolder);
    QTemporaryDir folder;
    const auto dialog =
        ui::makeRegisterSetDialog(purpose, withFolder ? folder.path() : QString(), nullptr);
    const bool saving = purpose == ui::FilePurpose::Save;
    QCOMPARE(dialog->acceptMode(), saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    QCOMPARE(dialog->nameFilters(),
             (QStringList{QStringLiteral("Csv Files (*.csv)"), QStringLiteral("All Files (*.*)")}));
    QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("Csv Files (*.csv)"));
    QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
    QVERIFY(dialog->defaultSuffix().isEmpty());
    if (withFolder)
        QCOMPARE(dialog->directory().absolutePath(), QDir(folder.path()).absolutePath());
}

void TestMainWindow::fileCommands()
{
    WindowFixture w;
    w.f.model.defaultDir = w.f.dir.path();
    QString answer;
    QStringList folders;
    w.window->setFileDialogRunner([&](QFileDialog &dialog) {
        folders.append(dialog.directory().absolutePath());
        return answer;
    });

    // Cancelled: nothing written, nothing stored.
    QTest::mouseClick(w.button(QStringLiteral("Save to File")), Qt::LeftButton);
    QTest::mouseClick(w.button(QStringLiteral("Load From File")), Qt::LeftButton);
    QVERIFY(QDir(w.f.dir.path()).entryList({QStringLiteral("*.csv")}).isEmpty());
    QVERIFY(
        !QSettings(w.f.settings.location(), QSettings::IniFormat).contains("Startup/Default_Dir"));

    answer = w.f.dir.filePath(QStringLiteral("set.csv"));
    w.f.model.dacCode.fill(0);
    w.f.model.dacCode[1] = 512;
    QTest::mouseClick(w.button(QStringLiteral("Save to File")), Qt::LeftButton);
    QFile saved(answer);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll().startsWith("10\r\n512\r\n0\r\n"));

    QFile other(w.f.dir.filePath(QStringLiteral("other.csv")));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("5\r\n" + QByteArray("100\r\n").repeated(24));
    other.close();
    answer = other.fileName();
    QTest::mouseClick(w.button(QStringLiteral("Load From File")), Qt::LeftButton);
    QCOMPARE(w.f.model.vsup, 5.0);
    QCOMPARE(w.f.chip0().dacRegister(23), quint16(100));
    QCOMPARE(w.find(QStringLiteral("vsupBox"))->text(), QStringLiteral(" 5"));
    QCOMPARE(folders.size(), 4);
    QCOMPARE(folders.last(), QDir(w.f.dir.path()).absolutePath());
}

void TestMainWindow::comSettingOpensModalDialog()
{
    WindowFixture w;
    QString title;
    bool modal = false;
    QTimer::singleShot(0, this, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        title = dialog->windowTitle();
        modal = dialog->isModal();
        dialog->close();
    });
    QTest::mouseClick(w.button(QStringLiteral("COM Setting")), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("COM Port Setup"));
    QVERIFY(modal);
    QVERIFY(w.f.comPort->isOpen()); // opening and closing it changed nothing
}

void TestMainWindow::statusBarFollowsThePort()
{
    WindowFixture w;
    auto *port = w.find<QLabel>(QStringLiteral("portStatus"));
    QCOMPARE(port->text(), QStringLiteral("COM1  simulated evaluation board"));

    w.f.comPort->close();
    emit w.f.comPort->failed(1, QStringLiteral("COM1: unplugged"));
    emit w.f.comPort->failed(1, QStringLiteral("COM1: unplugged"));
    QCOMPARE(port->text(), QStringLiteral("No port open (COM1: unplugged)"));
    QVERIFY(w.f.prompts.errors.isEmpty()); // not inside the handler that met the failure
    QCoreApplication::processEvents();
    QCOMPARE(w.f.prompts.errors.size(), 1);
    QVERIFY(w.f.prompts.errors.first().contains(QStringLiteral("COM1: unplugged")));

    w.f.ports->openSelectedComPort();
    QCOMPARE(port->text(), QStringLiteral("COM1  simulated evaluation board"));
}

void TestMainWindow::closingSavesAndChecksNothing()
{
    WindowFixture w;
    QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
    w.f.model.vrefHigh[1] = 4.5;
    w.typeInto(w.voltageBox(3), QStringLiteral("5"));
    bool closed = false;
    connect(w.window.get(), &ui::MainWindow::closed, this, [&] { closed = true; });
    w.window->close();
    w.window.reset();
    QVERIFY(closed);
    QCOMPARE(w.f.dacWrites(), (QList<int>{512})); // only the keystroke; no check on the way out
    QSettings stored(w.f.settings.location(), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("vref_high1/10")).toString(), QStringLiteral(" 4.5"));
}

void TestMainWindow::confirmationDefaultsToNo()
{
    ui::MessageBoxPrompts prompts;
    QString text;
    bool defaultIsNo = false;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        QTest::keyClick(box, Qt::Key_Return);
    });
    QVERIFY(!prompts.confirm(QStringLiteral("Program OTP All Channels"),
                             QStringLiteral("Burn?\r\nSure?")));
    QVERIFY(defaultIsNo);
    QCOMPARE(text, QStringLiteral("Burn?\nSure?"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
