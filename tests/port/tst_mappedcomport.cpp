#include "port/mappedcomport.h"
#include "trace/recordinglines.h"
#include "wiredecoder.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace port;

namespace {

// Stands in for the simulated board's port: opens under any number and records its lines.
class BoardPort : public ComPort
{
public:
    trace::RecordingLines lines;
    PortTimeouts record;
    int number = 0;

    OpenResult presence(int) const override { return OpenResult::Opened; }
    OpenResult open(int n, const LineSettings &) override
    {
        number = n;
        return OpenResult::Opened;
    }
    void close() override { number = 0; }
    int openPortNumber() const override { return number; }
    PortTimeouts timeouts() const override { return record; }
    void setTimeouts(const PortTimeouts &t) override { record = t; }
    bool isOpen() const override { return number != 0; }
    void setDtr(bool asserted) override { lines.setDtr(asserted); }
    void setRts(bool asserted) override { lines.setRts(asserted); }
    bool dsr() override { return lines.dsr(); }
    void writeData(const QByteArray &bytes) override { lines.writeData(bytes); }
    void breakDown() { emit failed(std::exchange(number, 0), QStringLiteral("unplugged")); }
};

} // namespace

class TestMappedComPort : public QObject
{
    Q_OBJECT

private slots:
    void boardGetsEveryOperation();
    void refusedOpenClosesTheOpenPort_data();
    void refusedOpenClosesTheOpenPort();
    void failureOfTheOpenPortIsPassedOn();

private:
    QTemporaryDir m_dir;
};

void TestMappedComPort::boardGetsEveryOperation()
{
    BoardPort board;
    board.lines.setIdleDsr(true);
    PortMap map;
    map.mapToSimulated(2, &board);
    MappedComPort port(map);
    PortTimeouts timeouts;
    timeouts.writeTotalTimeoutConstant = 1000;
    port.setTimeouts(timeouts);

    QCOMPARE(port.open(2, LineSettings{}), OpenResult::Opened);
    QCOMPARE(port.openPortNumber(), 2);
    QCOMPARE(board.record, timeouts); // one record, whichever port is open
    port.setDtr(true);
    port.setDtr(true);
    port.setRts(true);
    QVERIFY(port.dsr());
    port.writeData(QByteArrayLiteral("\x07\0\0\0"));

    // Repeated writes of one value all reach the board.
    QCOMPARE(lineWrites(board.lines.operations()), (QStringList{"D1", "D1", "R1"}));
    QCOMPARE(board.lines.count(trace::LineOperation::Kind::ReadDsr), 1);
    QCOMPARE(board.lines.operations().last().data, QByteArrayLiteral("\x07\0\0\0"));
    QVERIFY(port.lastError().isEmpty());
}

void TestMappedComPort::refusedOpenClosesTheOpenPort_data()
{
    QTest::addColumn<int>("portNumber");
    QTest::addColumn<OpenResult>("result");
    QTest::addColumn<QString>("error");
    QTest::newRow("no board") << 4 << OpenResult::Failed << "COM4: no simulated board is attached.";
    QTest::newRow("missing device")
        << 6 << OpenResult::NotPresent << "COM6: " + m_dir.filePath("ttyUSB0") + " does not exist.";
    QTest::newRow("COM17") << 17 << OpenResult::NotPresent << "There is no port COM17.";
}

void TestMappedComPort::refusedOpenClosesTheOpenPort()
{
    QFETCH(int, portNumber);
    QFETCH(OpenResult, result);
    QFETCH(QString, error);
    BoardPort board;
    PortMap map;
    map.mapToSimulated(2, &board);
    map.mapToSimulated(4, nullptr);
    map.mapToDevice(6, m_dir.filePath("ttyUSB0"));
    MappedComPort port(map);
    QCOMPARE(port.open(2, LineSettings{}), OpenResult::Opened);

    QCOMPARE(port.open(portNumber, LineSettings{}), result);
    QCOMPARE(port.lastError(), error);
    QVERIFY(!port.isOpen() && !board.isOpen() && port.openPortNumber() == 0);
    port.setRts(false);
    QVERIFY(!port.dsr());
    QVERIFY(board.lines.operations().isEmpty());
}

void TestMappedComPort::failureOfTheOpenPortIsPassedOn()
{
    BoardPort board;
    PortMap map;
    map.mapToSimulated(3, &board);
    MappedComPort port(map);
    QSignalSpy failed(&port, &ComPort::failed);

    QCOMPARE(port.open(3, LineSettings{}), OpenResult::Opened);
    board.breakDown();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0), (QVariantList{3, QStringLiteral("unplugged")}));
    QVERIFY(!port.isOpen());
    port.setDtr(true);
    QVERIFY(board.lines.operations().isEmpty());

    // A port closed by the router no longer speaks for it.
    QCOMPARE(port.open(3, LineSettings{}), OpenResult::Opened);
    port.close();
    board.breakDown();
    QCOMPARE(failed.size(), 1);
}

QTEST_GUILESS_MAIN(TestMappedComPort)
#include "tst_mappedcomport.moc"
