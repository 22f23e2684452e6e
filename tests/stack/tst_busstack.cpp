// SPDX-License-Identifier: MIT
#include "missingdeviceports.h"
#include "stack/busstack.h"

#include <QTemporaryDir>
#include <QTest>

using port::PortMap;

class TestBusStack : public QObject
{
    Q_OBJECT

private slots:
    void overridesComeAfterTheBoardAndTheTraceHasItsLevels()
    {
        QTemporaryDir dir;
        const QList<port::PortOverride> overrides{PortMap::parseOverride("COM1=/nonexistent/tty"),
                                                  PortMap::parseOverride("COM3=sim")};
        stack::BusStack stack({missingDevicePorts(dir), true, overrides}, stack::Tracing::On);
        const PortMap &map = stack.portMap();
        QCOMPARE(map.target(1).devicePath, "/nonexistent/tty");
        QCOMPARE(map.target(2).devicePath, dir.filePath("no-tty2"));
        QCOMPARE(map.target(3).kind, port::PortTarget::Kind::Simulated);

        // Routing again starts from the base.
        stack.route({missingDevicePorts(dir), true, {}});
        QCOMPARE(map.target(1).kind, port::PortTarget::Kind::Simulated);
        QCOMPARE(map.target(3).devicePath, dir.filePath("no-tty3"));

        QVERIFY(stack.ports().fncInitializeComPort(9600, 1));
        stack.chip().readMaxBank(QStringLiteral("0"));

        // The chip's acknowledges show as SDA low while the PC releases it: only the board knows.
        bool rtsAsserted = false;
        bool acknowledged = false;
        for (const trace::LineOperation &op : stack.trace()->recorder().operations()) {
            QVERIFY(op.levels);
            if (op.kind == trace::LineOperation::Kind::SetRts)
                rtsAsserted = op.value;
            acknowledged = acknowledged || (!rtsAsserted && !op.levels->sda);
        }
        QVERIFY(acknowledged);

        // Off the board the trace shows what the PC drives, levels unknown.
        QVERIFY(!stack.ports().fncInitializeComPort(9600, 2));
        stack.chip().generalCallReset();
        QVERIFY(!stack.trace()->recorder().operations().last().levels);
    }
};

QTEST_GUILESS_MAIN(TestBusStack)
#include "tst_busstack.moc"
