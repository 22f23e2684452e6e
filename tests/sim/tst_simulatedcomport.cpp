#include "sim/simulatedboard.h"
#include "sim/simulatedcomport.h"

#include <QTest>

using port::OpenResult;

class TestSimulatedComPort : public QObject
{
    Q_OBJECT

private slots:
    void behavesLikeAnOpenedSerialPort();
};

void TestSimulatedComPort::behavesLikeAnOpenedSerialPort()
{
    sim::SimulatedBoard board;
    sim::SimulatedComPort port(board);
    for (int portNumber : {0, 17})
        QCOMPARE(port.open(portNumber, port::LineSettings{}), OpenResult::NotPresent);

    // Closed, it touches nothing and reads DSR released.
    port.setDtr(true);
    port.setRts(true);
    port.writeData(QByteArrayLiteral("\x07"));
    QVERIFY(board.scl() && board.sda() && board.dataWritten().isEmpty());
    board.setRts(true);
    QVERIFY(!port.dsr());

    // Opening releases both lines, as a real port does after the system raised them.
    board.setDtr(true);
    QCOMPARE(port.open(16, port::LineSettings{}), OpenResult::Opened);
    QCOMPARE(port.openPortNumber(), 16);
    QVERIFY(board.scl() && board.sda());
    port.setRts(true);
    port.setDtr(true);
    QVERIFY(port.dsr() && !board.sda() && !board.scl());
    port.writeData(QByteArrayLiteral("\x07\0\0\0"));
    QCOMPARE(board.dataWritten(), QByteArrayLiteral("\x07\0\0\0"));

    port::PortTimeouts timeouts;
    timeouts.readIntervalTimeout = 2;
    port.setTimeouts(timeouts);
    QCOMPARE(port.timeouts(), timeouts);
    port.close();
    QVERIFY(!port.isOpen() && port.openPortNumber() == 0);
}

QTEST_GUILESS_MAIN(TestSimulatedComPort)
#include "tst_simulatedcomport.moc"
