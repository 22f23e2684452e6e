// SPDX-License-Identifier: MIT
// How long the batch window's file list takes to fill from a large folder, and the longest time
// it leaves the window's events unserved meanwhile (a 5 ms timer's worst lateness).
//   kalventa_bench_batchlisting [files]   (100000 by default; the folder is a temporary one)
#include "control/batchrunner.h"
#include "control/chipoperations.h"
#include "control/registergrid.h"
#include "device/devicemodel.h"
#include "stack/busstack.h"
#include "ui/batch/batchwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, atoi(argv[1])) : 100'000;

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("sets"));
    QDir().mkpath(folder);
    for (int i = 0; i < files; ++i) {
        QFile file(QStringLiteral("%1/set%2.csv").arg(folder).arg(i));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot make the test files");
    }

    stack::PortRouting routing;
    for (int n = port::PortMap::firstPortNumber; n <= port::PortMap::lastPortNumber; ++n)
        routing.base.mapToDevice(n, dir.filePath(QStringLiteral("none%1").arg(n)));
    routing.simulate = true;
    stack::BusStack stack(routing);
    device::DeviceModel model;
    model.defaultDir = folder;
    control::ChipOperations operations(stack.chip(), stack.ports(), nullptr);
    control::RegisterGrid grid(model, operations);
    control::BatchRunner runner(model, grid, operations);

    QElapsedTimer clock;
    clock.start();
    ui::BatchWindow window(runner);
    window.show();
    const qint64 built = clock.elapsed();
    const QListView *list = window.findChild<QListView *>();

    qint64 last = clock.elapsed();
    qint64 longest = 0;
    int lateTicks = 0;
    qint64 filled = -1;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        lateTicks += now - last > 100 ? 1 : 0;
        last = now;
        if (list->model()->rowCount(list->rootIndex()) == files) {
            filled = now;
            app.quit();
        }
        if (now > 120'000)
            app.quit();
    });
    tick.start(5);
    app.exec();
    std::printf("%d files: window built in %lld ms, list full after %lld ms; longest wait for "
                "events %lld ms, %d waits over 100 ms\n",
                files, built, filled, longest, lateTicks);
    return filled < 0 ? 1 : 0;
}
