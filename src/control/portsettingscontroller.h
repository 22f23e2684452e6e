#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace port {
class PortManager;
class PortMap;
} // namespace port

namespace control {

// The port settings dialog behind its window: the port and bit-rate lists, which entries are
// selected, and the status text. A choice takes effect at once (the port is re-opened with it);
// nothing is undone when the window closes. The lists are built afresh by every load from the
// port list of the start-up probe.
class PortSettingsController : public QObject
{
    Q_OBJECT

public:
    struct PortEntry
    {
        int portNumber = 0;
        QString name; // "COM5"
        QString text; // the name, the device behind it and its description
    };

    static constexpr int noSelection = -1;

    // The map only names the devices behind the port numbers; it must outlive the controller.
    PortSettingsController(port::PortManager &ports, const port::PortMap &map,
                           QObject *parent = nullptr);

    // Fills both lists and selects the current port and bit rate; the only place the
    // unavailable-port messages are written.
    void load();

    const QList<PortEntry> &portEntries() const { return m_portEntries; }
    int selectedPortRow() const { return m_selectedPortRow; }
    static QStringList bitRateEntries();
    int selectedBitRateRow() const { return m_selectedBitRateRow; }
    QString statusText() const { return m_statusText; }

    // The user's choices. Each sets its value and re-opens the selected port.
    void choosePort(int row);
    void chooseBitRate(int row);

    // How a user gets access to serial devices they may not open.
    static QString accessHint();

signals:
    void statusTextChanged(const QString &text);

private:
    void fillPortList();
    void fillBitRateList();
    void reopenPort();
    QString openFailure(int portNumber, bool tried) const;
    void setStatusText(const QString &text);

    port::PortManager &m_ports;
    const port::PortMap &m_map;
    QList<PortEntry> m_portEntries;
    int m_selectedPortRow = noSelection;
    int m_selectedBitRateRow = noSelection;
    QString m_statusText;
    // What load wrote; it comes back once a failed choice is followed by one that works.
    QString m_loadStatusText;
};

} // namespace control
