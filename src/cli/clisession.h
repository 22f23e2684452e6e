#pragma once

#include "bus/chipbus.h"
#include "cli/clicommand.h"
#include "cli/exitstatus.h"
#include "device/channelglue.h"
#include "device/devicemodel.h"
#include "port/portmap.h"
#include "port/portselection.h"
#include "stack/busstack.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>

class QIODevice;
class QSaveFile;
class QTextStream;

namespace device {
class SettingsStore;
}

namespace cli {

// One run of the command-line tool: options, then one command or a script of them, on one port
// that stays open throughout. Reading never writes the chip; every argument (and every line of a
// script) is checked before the bus is touched.
class CliSession
{
public:
    CliSession(device::SettingsStore &settings, QTextStream &out, QTextStream &err);
    ~CliSession();
    Q_DISABLE_COPY_MOVE(CliSession)

    // What "script -" reads; standard input in the tool.
    void setInput(QIODevice *input) { m_input = input; }
    // The table the port names start from. Tests point every COM number away from real devices.
    void setPortMap(const port::PortMap &map) { m_baseMap = map; }
    // The board behind "--port sim": tests prepare its chips before run() and look at them after.
    sim::SimulatedBoard &simulatedBoard() { return m_stack.board(); }

    // Arguments start with the program's name. Returns the exit status.
    int run(const QStringList &arguments);

    static QString helpText();

private:
    struct PortChoice
    {
        enum class Kind { Stored, Number, Device, Simulated };
        Kind kind = Kind::Stored;
        int number = 0;
        QString devicePath;
    };
    struct ScriptLine
    {
        int line = 0;
        Command command;
    };
    // The word a channel register read as.
    struct ChannelReading
    {
        int index = 0;
        int word = 0;
    };

    ExitStatus runArguments(const QStringList &arguments);
    ExitStatus takeOptions(const QStringList &arguments, QList<ScriptLine> *commands);
    ExitStatus readScript(const QString &path, QList<ScriptLine> *commands);
    ExitStatus applySettings(bool forBus);
    ExitStatus prepareBus();
    int routePorts();
    ExitStatus openPort();
    ExitStatus finishTrace(ExitStatus status);
    ExitStatus execute(const Command &command);

    ExitStatus listPorts();
    ExitStatus readAll();
    ExitStatus getChannel(int index);
    ExitStatus writeCode(int index, int code, const QString &commandName, const QJsonObject &extra,
                         const QString &prefix);
    ExitStatus setVoltage(int index, double volts);
    ExitStatus loadFile(const QString &path);
    ExitStatus saveFile(const QString &path);
    ExitStatus resetChip();
    ExitStatus burnChannel(int index);
    ExitStatus burnAll();

    int readChannel(int index);
    QList<ChannelReading> readAllChannels();
    ExitStatus requireVsup(const QString &commandName);
    ExitStatus checkPort();
    ExitStatus checkAnswered(const QList<ChannelReading> &readings);
    ExitStatus checkBurnable(const QList<ChannelReading> &readings);
    int burnEpilogue();

    QJsonObject channelObject(int index, double code) const;
    QString channelText(int index) const;  // "channel 5 (register 0x04)"
    QString channelTitle(int index) const; // the same, to begin a line
    QString voltageText(double code) const;
    QString portText(int number) const;

    void print(const QJsonObject &json, const QString &human);
    ExitStatus fail(ExitStatus status, const QString &message);

    device::SettingsStore &m_settings;
    QTextStream &m_out;
    QTextStream &m_err;
    QIODevice *m_input = nullptr;
    port::PortMap m_baseMap;

    // Options.
    bool m_json = false;
    PortChoice m_portChoice;
    std::optional<QString> m_a0Option;
    std::optional<double> m_vsupOption;
    QString m_tracePath;

    device::DeviceModel m_model;
    port::PortSelection m_stored; // the port and bit rate the program stored
    QString m_scriptName;
    QString m_context; // "file:line: " while a script runs

    stack::BusStack m_stack;
    std::unique_ptr<QSaveFile> m_traceFile;
    bus::ChipBus *m_chip = nullptr; // the stack's, once the bus is prepared
    std::unique_ptr<device::ChannelGlue> m_glue;
    bool m_portOpened = false;
    QString m_portFailure;
};

} // namespace cli
