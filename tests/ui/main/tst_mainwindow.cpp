// SPDX-License-Identifier: MIT
#include "control/batchrunner.h"
#include "control/statusline.h"
#include "controlfixture.h"
#include "ui/main/mainwindow.h"
#include "ui/widgets/messageboxprompts.h"
#include "ui/widgets/spinarrows.h"

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

using sim::ChipEvent;

namespace {

// The main window on the whole program: the simulated board at COM1, a store holding a "Vsup"
// of 10, started as the program starts.
struct WindowFixture
{
    explicit WindowFixture(control::BusThread *bus = nullptr) : f(false, bus)
    {
        device::DeviceModel stored;
        stored.vrefHigh = {10, 10};
        f.settings.saveAtExit(stored, {1, 9600});
        window = std::make_unique<ui::MainWindow>(
            ui::MainWindow::Parts{f.model, f.grid(), *f.operations, *f.controller, status,
                                  batchRunner, f.stack.ports(), f.stack.portMap(), f.prompts});
        window->show();
        window->activateWindow();
        f.controller->start();
        f.clearEvents();
        QVERIFY(QTest::qWaitForWindowActive(window.get())); // for the keyboard
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
            if (QString(b->text()).remove(QLatin1Char('&')) == caption)
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

    ControlFixture f;
    control::StatusLine status{f.stack.ports(), f.stack.portMap(), f.model, f.prompts};
    control::BatchRunner batchRunner{f.model, f.grid(), *f.operations};
    std::unique_ptr<ui::MainWindow> window;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void closingDuringAReadEndsItsFrameFirst()
    {
        control::BusThread bus;
        auto w = std::make_unique<WindowFixture>(&bus);
        w->f.stack.simulatedPort().setLineDelay(std::chrono::microseconds(20));
        bool closed = false;
        connect(w->window.get(), &ui::MainWindow::closed, this, [&] { closed = true; });
        QTimer::singleShot(150, w->window.get(), [&] {
            w->window->close();
            QVERIFY(!closed && w->window->isVisible());
        });
        QTest::mouseClick(w->button(QStringLiteral("Read DAC")), Qt::LeftButton);
        QTRY_VERIFY(closed);
        // The read stopped between two frames and left the bus idle.
        QVERIFY(!w->f.model.unknownChannels().isEmpty());
        QVERIFY(w->f.board.scl() && w->f.board.sda());
        w.reset();
    }

    void boxesReachTheGrid()
    {
        WindowFixture w;
        QCOMPARE(w.voltageBox(24)->text(), QStringLiteral(" 0")); // all 24 channels are shown
        w.typeInto(w.voltageBox(3), QStringLiteral("5"));
        QCOMPARE(w.f.dacWritesWithRegister(), (QList<QPair<int, int>>{{2, 512}}));
        QTest::keyClick(w.voltageBox(3), Qt::Key_Tab); // leaving runs the check
        QCOMPARE(w.find(QStringLiteral("hexBox3"))->text(), QStringLiteral("200"));
        // Tab skips the code boxes, and the box it enters takes the mark: the keys and the
        // arrows step the channel that is marked.
        QVERIFY(w.voltageBox(4)->hasFocus());
        QCOMPARE(w.f.model.selectedChannel, 4);
        QCOMPARE(w.find<QLabel>(QStringLiteral("channelCaption4"))->backgroundRole(),
                 QPalette::Highlight);
        QTest::mouseClick(w.voltageBox(7), Qt::LeftButton);
        QCOMPARE(w.f.model.selectedChannel, 7);

        w.typeInto(w.find(QStringLiteral("vsupBox")), QStringLiteral("3.3"));
        QCOMPARE(w.f.model.vsup, 10.0); // taken when the box is left
        QTest::mouseClick(w.find(QStringLiteral("maxBankBox")), Qt::LeftButton);
        QCOMPARE(w.f.model.vsup, 3.3);
        QTest::keyClick(w.find(QStringLiteral("maxBankBox")), Qt::Key_End);
        QTest::keyClicks(w.find(QStringLiteral("maxBankBox")), QStringLiteral("7"));
        QCOMPARE(w.f.grid().maxBankText(), QStringLiteral("07"));

        // Closing saves the settings and checks nothing on the way out.
        w.f.model.vrefHigh[1] = 4.5;
        w.typeInto(w.voltageBox(3), QStringLiteral("1"));
        w.f.clearEvents();
        bool closed = false;
        connect(w.window.get(), &ui::MainWindow::closed, this, [&] { closed = true; });
        w.window->close();
        w.window.reset();
        QVERIFY(closed && w.f.dacWrites().isEmpty());
        QSettings stored(w.f.settings.location(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("vref_high1/10")).toString(), QStringLiteral(" 4.5"));
    }

    // The selected channel stands out; Up/Down in a box step its channel as the arrows do, and
    // Enter runs the box's check while the focus stays.
    void keysAndArrowsActOnTheMarkedChannel()
    {
        WindowFixture w;
        const auto marked = [&w](int index) {
            return w.find<QLabel>(QStringLiteral("channelCaption%1").arg(index))
                       ->backgroundRole() == QPalette::Highlight;
        };
        QTest::mouseClick(w.voltageBox(9), Qt::LeftButton);
        QTest::mouseClick(w.voltageBox(4), Qt::LeftButton);
        QVERIFY(marked(4) && !marked(9));
        w.f.clearEvents();
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Down})
            QTest::keyClick(w.voltageBox(4), key);
        QCOMPARE(w.f.dacWritesWithRegister(),
                 (QList<QPair<int, int>>{{3, 0}, {3, 1}, {3, 2}, {3, 1}}));
        w.f.clearEvents();
        w.typeInto(w.voltageBox(4), QStringLiteral("5"));
        QTest::keyClick(w.voltageBox(4), Qt::Key_Return);
        QTest::keyClick(w.voltageBox(4), Qt::Key_Return); // nothing new to check
        QCOMPARE(w.f.dacWrites(), (QList<int>{512, 512, 512}));
        QVERIFY(w.voltageBox(4)->hasFocus());

        // The arrows step the channel selected last; going to them leaves the box, whose check
        // writes once; the down arrow at 0 does not write.
        auto *spin = w.find<ui::SpinArrows>(QStringLiteral("spinArrows"));
        QTest::mouseClick(w.voltageBox(5), Qt::LeftButton);
        w.f.clearEvents();
        for (QWidget *arrow :
             {spin->downArrow(), spin->upArrow(), spin->upArrow(), spin->downArrow()})
            QTest::mouseClick(arrow, Qt::LeftButton);
        QCOMPARE(w.f.dacWritesWithRegister(),
                 (QList<QPair<int, int>>{{4, 0}, {4, 1}, {4, 2}, {4, 1}}));
        QCOMPARE(w.voltageBox(5)->text(), QStringLiteral(" .009"));
        QVERIFY(w.voltageBox(5)->hasFocus()); // the arrows never take the focus

        for (const char *burn : {"Program OTP All Channels", "Program OTP One Channel"})
            QVERIFY(w.button(burn)->toolTip().contains(QStringLiteral("cannot be undone")));
        for (const QWidget *widget : w.window->findChildren<QWidget *>()) {
            const auto *button = qobject_cast<const QAbstractButton *>(widget);
            if (widget->objectName().startsWith(QLatin1String("qt_")))
                continue; // Qt's own parts, such as the menu bar's overflow button
            if (qobject_cast<const QLineEdit *>(widget) || (button && button->text().isEmpty()))
                QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
        }
    }

    void checkRunsBeforeTheCommand_data()
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

    void checkRunsBeforeTheCommand()
    {
        QFETCH(QString, box);
        QFETCH(QString, activation);
        QFETCH(int, writesBeforeRead);

        WindowFixture w;
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

        QString kinds; // W for a write, R for a read
        for (const ChipEvent &e : w.f.chip0().events())
            if (e.kind == ChipEvent::Kind::DacWrite || e.kind == ChipEvent::Kind::RegisterRead)
                kinds += e.kind == ChipEvent::Kind::DacWrite ? u'W' : u'R';
        const qsizetype firstRead = kinds.indexOf(u'R');
        QVERIFY(firstRead >= 0 && !kinds.mid(firstRead).contains(u'W'));
        QCOMPARE(kinds.left(firstRead).count(u'W'), writesBeforeRead);
    }

    void commands_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<QString>("effect");

        // Reads, resets and burns seen by the chips at A0 = 0 and 1, then what the user got. 25
        // reads: the 24 channels and the max bank. A general-call reset reaches both chips.
        const char *idle = "R0 X0 O0 | R0 X0 O0";
        QTest::newRow("Read DAC") << "Read DAC" << false << "R25 X0 O0 | R0 X0 O0";
        QTest::newRow("Reset") << "Reset" << false << "R25 X1 O0 | R0 X1 O0";
        QTest::newRow("OTP, yes") << "Program OTP All Channels" << true
                                  << "R26 X1 O24 | R0 X1 O0 | asked 1 | shown 1";
        QTest::newRow("Change Address")
            << "Change Address\nA0= 0 " << false << "R0 X0 O0 | R25 X0 O0";
        QTest::newRow("About") << "About" << false << idle + QString(" | shown 1");
        for (const auto &[caption, window] : {std::pair{"COM Setting", "COM Port Setup (modal)"},
                                              {"Run Batch", "Run Batch (modal)"},
                                              {"Control Panel", "Control Panel"},
                                              {"Program OTP One Channel", "Write OTP Reg"}})
            QTest::newRow(caption) << caption << false << idle + QString(" | ") + window;
    }

    void commands()
    {
        QFETCH(QString, caption);
        QFETCH(bool, answerYes);
        QFETCH(QString, effect);

        WindowFixture w;
        w.f.prompts.answerYes = answerYes;
        QVERIFY(w.button(caption));
        QString modal;
        QTimer::singleShot(0, w.window.get(), [&] { // a modal dialog runs its own loop: close it
            if (QWidget *dialog = QApplication::activeModalWidget()) {
                modal = dialog->windowTitle() + QStringLiteral(" (modal)");
                dialog->close();
            }
        });
        QTest::mouseClick(w.button(caption), Qt::LeftButton);
        QStringList got{w.summary(0), w.summary(1)};
        if (!w.f.prompts.questions.isEmpty())
            got.append(QStringLiteral("asked %1").arg(w.f.prompts.questions.size()));
        if (!w.f.prompts.messages.isEmpty())
            got.append(QStringLiteral("shown %1").arg(w.f.prompts.messages.size()));
        if (!modal.isEmpty())
            got.append(modal);
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window != w.window.get() && window->isVisible())
                got.append(window->windowTitle());
        }
        QCOMPARE(got.join(QStringLiteral(" | ")), effect);
    }

    void statusBarFollowsThePortAndAddress()
    {
        WindowFixture w;
        auto *port = w.find<QLabel>(QStringLiteral("portStatus"));
        QCOMPARE(port->text(), QStringLiteral("COM1  simulated evaluation board"));

        w.f.stack.ports().comPort().close();
        emit w.f.stack.ports().comPort().failed(1, QStringLiteral("COM1: unplugged"));
        emit w.f.stack.ports().comPort().failed(1, QStringLiteral("COM1: unplugged"));
        QCOMPARE(port->text(), QStringLiteral("No port open (COM1: unplugged)"));
        QVERIFY(w.f.prompts.errors.isEmpty()); // not inside the handler that met the failure
        QCoreApplication::processEvents();
        QCOMPARE(w.f.prompts.errors.size(), 1);
        QVERIFY(w.f.prompts.errors.first().contains(QStringLiteral("COM1: unplugged")));

        w.f.stack.ports().openSelectedComPort();
        QCOMPARE(port->text(), QStringLiteral("COM1  simulated evaluation board"));

        // The address shows in the button and the status bar; the button's colour tells A0 apart.
        auto *button = w.find<QPushButton>(QStringLiteral("changeAddressButton"));
        auto *a0 = w.find<QLabel>(QStringLiteral("a0Status"));
        for (const auto &[pin, colour] :
             {std::pair{0, QColor(255, 128, 128)}, {1, QColor(192, 192, 255)}}) {
            QCOMPARE(QString(button->text()).remove(QLatin1Char('&')),
                     QStringLiteral("Change Address\nA0= %1 ").arg(pin));
            // Exact, not washed out by the style's gradient.
            QCOMPARE(button->grab().toImage().pixelColor(6, button->height() / 2), colour);
            QCOMPARE(a0->text(), QStringLiteral("A0 = %1").arg(pin));
            QCOMPARE(a0->accessibleName(), QStringLiteral("A0 status: A0 = %1").arg(pin));
            // Disabled, it fades as the other buttons do.
            button->setEnabled(false);
            QVERIFY(button->grab().toImage().pixelColor(6, button->height() / 2) != colour);
            button->setEnabled(true);
            QTest::mouseClick(button, Qt::LeftButton);
        }

        w.f.model.defaultDir = w.f.dir.path();
        const QString path = w.f.dir.filePath(QStringLiteral("set.csv"));
        QStringList dialogs;
        w.window->setFileDialogRunner([&](QFileDialog &d) {
            dialogs.append(QStringList{
                d.acceptMode() == QFileDialog::AcceptSave ? "save" : "open",
                d.directory().absolutePath(), d.nameFilters().join(u';'), d.selectedNameFilter(),
                d.defaultSuffix(), d.testOption(QFileDialog::DontConfirmOverwrite) ? "" : "asks"}
                               .join(u'|'));
            return path;
        });
        w.f.model.dacCode[1] = 512;
        QTest::mouseClick(w.button(QStringLiteral("Save to File")), Qt::LeftButton);
        w.f.model.dacCode[1] = 0;
        QTest::mouseClick(w.button(QStringLiteral("Load From File")), Qt::LeftButton);
        QCOMPARE(w.f.chip0().dacRegister(0), quint16(512));
        QCOMPARE(w.find(QStringLiteral("hexBox1"))->text(), QStringLiteral("200"));
        // In the stored folder, register sets first, no suffix added, asking before replacing.
        const QString setUp = QDir(w.f.dir.path()).absolutePath() +
                              "|Csv Files (*.csv);All Files (*)|Csv Files (*.csv)||asks";
        QCOMPARE(dialogs, (QStringList{"save|" + setUp, "open|" + setUp}));
    }

    void confirmationDefaultsToNo()
    {
        ui::MessageBoxPrompts prompts;
        QString text;
        bool defaultIsNo = false;
        QTimer::singleShot(0, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                text = box->text();
                defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        QVERIFY(!prompts.confirm(QStringLiteral("Program OTP All Channels"),
                                 QStringLiteral("Burn?\r\nSure?")));
        QVERIFY(defaultIsNo);
        QCOMPARE(text, QStringLiteral("Burn?\nSure?"));
    }

    // A screen reader hears a box's unit beside its value, and "not known" for an empty box,
    // never the "?" that only the eye needs.
    void boxesSayWhatTheyHold()
    {
        WindowFixture w;
        const auto description = [&w](const QString &name) {
            return QAccessible::queryAccessibleInterface(w.find(name))
                ->text(QAccessible::Description);
        };
        QCOMPARE(description(QStringLiteral("voltageBox5")), QStringLiteral("volts"));
        QCOMPARE(description(QStringLiteral("hexBox5")), QStringLiteral("hexadecimal code"));
        QCOMPARE(description(QStringLiteral("vsupBox")), QStringLiteral("volts"));
        w.f.model.codeUnknown[5] = true;
        w.f.grid().refreshAllChannels();
        QCOMPARE(w.voltageBox(5)->text(), QString());
        for (const char *box : {"voltageBox5", "hexBox5"})
            QVERIFY(description(QLatin1String(box)).startsWith(QStringLiteral("not known")));
    }

    // Every command is a key away: its menu shortcut, its button's mnemonic, or Enter on the
    // focused button; each runs as the click does.
    void keysRunTheCommands_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("focusedButton"); // "" for a key pressed on the window
        QTest::addColumn<QString>("expected");      // reads, or the file dialog's purpose
        QTest::newRow("F5 reads") << int(Qt::Key_F5) << int(Qt::NoModifier) << ""
                                  << "R25 X0 O0";
        QTest::newRow("Alt+R reads") << int(Qt::Key_R) << int(Qt::AltModifier) << ""
                                     << "R25 X0 O0";
        QTest::newRow("Alt+E resets") << int(Qt::Key_E) << int(Qt::AltModifier) << ""
                                      << "R25 X1 O0";
        QTest::newRow("Enter on Read DAC")
            << int(Qt::Key_Return) << int(Qt::NoModifier) << "Read DAC"
            << "R25 X0 O0";
        QTest::newRow("Enter on Reset") << int(Qt::Key_Enter) << int(Qt::NoModifier) << "Reset"
                                        << "R25 X1 O0";
        QTest::newRow("Ctrl+O loads") << int(Qt::Key_O) << int(Qt::ControlModifier) << ""
                                      << "open";
        QTest::newRow("Ctrl+S saves") << int(Qt::Key_S) << int(Qt::ControlModifier) << ""
                                      << "save";
    }

    void keysRunTheCommands()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, focusedButton);
        QFETCH(QString, expected);
        WindowFixture w;
        QString purpose;
        w.window->setFileDialogRunner([&purpose](QFileDialog &dialog) {
            purpose = dialog.acceptMode() == QFileDialog::AcceptOpen ? "open" : "save";
            return QString();
        });
        QWidget *target = w.window.get();
        if (!focusedButton.isEmpty()) {
            target = w.button(focusedButton);
            target->setFocus();
        }
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        // A mnemonic presses its button as a click would, after the button has shown it pressed.
        QTRY_COMPARE(expected.startsWith(QLatin1Char('R')) ? w.summary(0) : purpose, expected);
    }

    // Every button and menu has an Alt key of its own: a letter shared by two would only move
    // the focus between them.
    void everyCommandHasItsOwnMnemonic()
    {
        WindowFixture w;
        QStringList texts;
        for (const QPushButton *b : w.window->findChildren<QPushButton *>()) {
            if (b->parentWidget() != w.window->statusBar() &&
                !w.window->statusBar()->isAncestorOf(b))
                texts << b->text();
        }
        for (const QAction *menu : w.window->menuBar()->actions())
            texts << menu->text();
        QSet<QKeySequence> keys;
        for (const QString &text : std::as_const(texts)) {
            const QKeySequence key = QKeySequence::mnemonic(text);
            QVERIFY2(!key.isEmpty(), qPrintable(text));
            QVERIFY2(!keys.contains(key), qPrintable(text));
            keys.insert(key);
        }
        QCOMPARE(keys.size(), 15); // 11 buttons, 4 menus
    }

    // The files saved and loaded last are under File, newest first; one chosen there loads.
    void recentFilesLoadAgain()
    {
        WindowFixture w;
        const QString first = w.f.dir.filePath(QStringLiteral("first.csv"));
        const QString second = w.f.dir.filePath(QStringLiteral("second & more.csv"));
        for (const QString &path : {first, second, first}) {
            w.window->setFileDialogRunner([path](QFileDialog &) { return path; });
            QTest::mouseClick(w.button(QStringLiteral("Save to File")), Qt::LeftButton);
        }
        QCOMPARE(w.f.controller->recentFiles(), (QStringList{first, second}));
        QMenu *recent = nullptr;
        for (QMenu *menu : w.window->findChildren<QMenu *>()) {
            if (menu->title() == QStringLiteral("&Recent Files"))
                recent = menu;
        }
        QVERIFY(recent);
        emit recent->aboutToShow();
        QCOMPARE(recent->actions().size(), 2);
        QCOMPARE(recent->actions().value(1)->text(), QStringLiteral("&2 second && more.csv"));
        w.f.clearEvents();
        recent->actions().value(0)->trigger();
        QCOMPARE(w.f.dacWrites().size(), 24);
    }

    // With a modal window in front the status bar's Cancel cannot be clicked: it is not offered,
    // and the text says where to stop.
    void cancelIsNotOfferedBehindAModalWindow()
    {
        control::BusThread bus;
        WindowFixture w(&bus);
        w.f.stack.simulatedPort().setLineDelay(std::chrono::microseconds(1500));
        QDialog modal(w.window.get());
        modal.setWindowTitle(QStringLiteral("Batch"));
        modal.setModal(true);
        modal.show();
        QVERIFY(QTest::qWaitForWindowExposed(&modal));
        QPushButton *cancel = nullptr;
        for (QPushButton *b : w.window->statusBar()->findChildren<QPushButton *>()) {
            if (b->text() == QStringLiteral("Cancel"))
                cancel = b;
        }
        QVERIFY(cancel);
        auto *text = w.find<QLabel>(QStringLiteral("busyText"));
        bool shown = false;
        bool cancelShown = true;
        QString said;
        // The command runs until its end; what the bar shows is seen from inside it.
        const auto connection = connect(
            w.f.operations.get(), &control::ChipOperations::progressed, this, [&](int done) {
                if (done != 10)
                    return;
                shown = text->isVisible();
                cancelShown = cancel->isVisible();
                said = text->text();
                w.f.stack.simulatedPort().setLineDelay(std::chrono::microseconds(0));
            });
        w.f.controller->readAllRegisters();
        disconnect(connection);
        QVERIFY(shown);
        QVERIFY(!cancelShown);
        QVERIFY2(said.contains(QStringLiteral("stop it in \"Batch\"")), qPrintable(said));
    }

    // A command's button keeps the focus through the command: the disabled buttons must not
    // pass it on to the Vsup box, where the next key would edit Vsup.
    void aPressedButtonKeepsTheFocus()
    {
        control::BusThread bus;
        WindowFixture w(&bus);
        w.f.stack.simulatedPort().setLineDelay(std::chrono::microseconds(20));
        QPushButton *read = w.button(QStringLiteral("Read DAC"));
        const QString vsup = w.find(QStringLiteral("vsupBox"))->text();
        read->setFocus();
        QWidget *during = nullptr;
        const auto connection = connect(w.f.operations.get(), &control::ChipOperations::progressed,
                                        this, [&](int done) {
                                            if (done != 5)
                                                return;
                                            during = QApplication::focusWidget();
                                            QTest::keyClick(during, Qt::Key_0);
                                        });
        QTest::keyClick(read, Qt::Key_Space);
        disconnect(connection);
        QCOMPARE(during, static_cast<QWidget *>(w.window.get()));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(read));
        QCOMPARE(w.find(QStringLiteral("vsupBox"))->text(), vsup);
    }

    // Leaving a box for a button writes its channel, which takes a while on a slow port; the
    // button's release may come meanwhile. The click still counts, and its command runs after
    // the write.
    void aClickWhileTheBoxIsCheckedIsNotLost()
    {
        control::BusThread bus;
        WindowFixture w(&bus);
        w.typeInto(w.voltageBox(3), QStringLiteral("5"));
        w.f.clearEvents();
        w.f.stack.simulatedPort().setLineDelay(std::chrono::microseconds(200));
        QPushButton *read = w.button(QStringLiteral("Read DAC"));
        QTimer::singleShot(10, this, [&] {
            QTest::mouseRelease(read, Qt::LeftButton);
            w.f.stack.simulatedPort().setLineDelay(std::chrono::microseconds(0));
        });
        QTest::mousePress(read, Qt::LeftButton);
        QTRY_COMPARE(w.summary(0), QStringLiteral("R25 X0 O0")); // 24 registers, the max bank
        // The box's write went first.
        const QList<ChipEvent> events = w.f.board.chip(0).events();
        const auto firstRead = std::find_if(events.cbegin(), events.cend(), [](const ChipEvent &e) {
            return e.kind == ChipEvent::Kind::RegisterRead;
        });
        QVERIFY(std::find(events.cbegin(), firstRead,
                          ChipEvent{ChipEvent::Kind::DacWrite, 2, 512}) != firstRead);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
