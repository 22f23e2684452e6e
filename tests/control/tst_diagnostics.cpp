// SPDX-License-Identifier: MIT
#include "control/diagnostics.h"
#include "controlfixture.h"
#include "log/logging.h"

#include <QTest>

using control::Diagnostics;

class TestDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { logging::install(); }

    // On the simulated board: the scan says both chips answered and the wiring is fine, but only
    // when asked; unasked, the chips hear nothing at all.
    void onTheSimulatedBoard_data()
    {
        QTest::addColumn<bool>("busChecks");
        QTest::newRow("bus checks asked") << true;
        QTest::newRow("bus checks not asked") << false;
    }

    void onTheSimulatedBoard()
    {
        QFETCH(bool, busChecks);
        ControlFixture f;
        QVERIFY(f.stack.ports().comPort().isOpen());
        f.clearEvents();
        const Diagnostics diagnostics(f.stack.ports(), f.stack.mappedPort(), f.settings,
                                      *f.operations);
        Diagnostics::Request request;
        request.program = QStringLiteral("kalventa-test 9.9.9");
        request.chosenPort = 1;
        request.busChecks = busChecks;
        const QString text = diagnostics.text(request);

        QVERIFY2(text.contains(QLatin1String("Program: kalventa-test 9.9.9\n")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("Qt: %1 at run time").arg(qVersion())));
        QVERIFY(text.contains(QLatin1String("System: ")));
        QVERIFY(text.contains(QLatin1String("COM1* (simulated board): open")));
        QVERIFY(text.contains(QLatin1String("COM16 ")));
        QVERIFY(text.contains(QLatin1String("Open: yes\n")));
        QVERIFY(text.contains(QLatin1String("Fast mode: off")));
        QVERIFY(text.contains(QLatin1String("Skip idle writes: off\n")));
        // The open at the fixture's start is in the recent log.
        QVERIFY2(text.contains(QLatin1String("kalventa.port: COM1 (simulated board) opened")),
                 qPrintable(text));
        if (busChecks) {
            QVERIFY(text.contains(QLatin1String("Wiring self-test: Wiring fine")));
            QVERIFY(text.contains(QLatin1String("Chip scan: A0 = 0: a chip answered\n")));
            QVERIFY(text.contains(QLatin1String("Chip scan: A0 = 1: a chip answered\n")));
        } else {
            QVERIFY(text.contains(QLatin1String("Bus checks\n----------\nnot run: not asked for")));
            QVERIFY(!text.contains(QLatin1String("Chip scan")));
            QVERIFY(f.board.chip(0).events().isEmpty());
            QVERIFY(f.board.chip(1).events().isEmpty());
        }
    }

    // A chip that is not there is no answer in the scan, not a failure of the diagnostics.
    void aSilentChipIsSaid()
    {
        ControlFixture f;
        f.board.setChipPresent(1, false);
        const Diagnostics diagnostics(f.stack.ports(), f.stack.mappedPort(), f.settings,
                                      *f.operations);
        Diagnostics::Request request;
        request.chosenPort = 1;
        request.busChecks = true;
        const QString text = diagnostics.text(request);
        QVERIFY(text.contains(QLatin1String("Chip scan: A0 = 0: a chip answered\n")));
        QVERIFY2(text.contains(QLatin1String("Chip scan: A0 = 1: no answer\n")), qPrintable(text));
    }

    // The chosen port leads to a device that does not exist: the file says so, whether or not
    // the bus checks were asked for.
    void aMissingPort_data()
    {
        QTest::addColumn<bool>("busChecks");
        QTest::newRow("bus checks asked") << true;
        QTest::newRow("bus checks not asked") << false;
    }

    void aMissingPort()
    {
        QFETCH(bool, busChecks);
        QTemporaryDir dir;
        stack::BusStack stack({missingDevicePorts(dir), false, {}});
        device::SettingsStore settings(dir.filePath(QStringLiteral("settings.ini")));
        control::ChipOperations operations(stack.chip(), stack.ports());
        QVERIFY(!stack.ports().fncInitializeComPort(9600, 5));
        const Diagnostics diagnostics(stack.ports(), stack.mappedPort(), settings, operations);
        Diagnostics::Request request;
        request.chosenPort = 5;
        request.busChecks = busChecks;
        const QString text = diagnostics.text(request);
        const QString missing = QDir::toNativeSeparators(dir.filePath(QStringLiteral("no-tty5")));
        QVERIFY2(text.contains(QStringLiteral("COM5* %1: absent").arg(missing)), qPrintable(text));
        QVERIFY(text.contains(QLatin1String("Open: no\n")));
        QVERIFY(text.contains(QLatin1String("Last port error: ")));
        QVERIFY(text.contains(busChecks ? QLatin1String("not run: the chosen port is not open")
                                        : QLatin1String("not run: not asked for")));
        QVERIFY(text.contains(QLatin1String("kalventa.port: COM5 (") + missing +
                              QLatin1String(") refused (absent)")));
        QVERIFY(stack.board().chip(0).events().isEmpty());
    }

    void noPortChosen()
    {
        ControlFixture f(false);
        const Diagnostics diagnostics(f.stack.ports(), f.stack.mappedPort(), f.settings,
                                      *f.operations);
        Diagnostics::Request request;
        request.chosenPort = 0;
        request.busChecks = true;
        const QString text = diagnostics.text(request);
        QVERIFY2(text.contains(QLatin1String("Chosen port\n-----------\nnone (port number 0)")),
                 qPrintable(text));
        QVERIFY(text.contains(QLatin1String("not run: the chosen port is not open")));
        QVERIFY(f.board.chip(0).events().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
