// SPDX-License-Identifier: MIT
#include "control/statusline.h"

#include "control/chipoperations.h"
#include "control/chiptexts.h"
#include "control/userprompts.h"
#include "device/devicemodel.h"
#include "port/portmanager.h"
#include "port/portmap.h"

#include <QTimer>

namespace control {

StatusLine::StatusLine(port::PortManager &ports, const port::PortMap &map,
                       const device::DeviceModel &model, UserPrompts &prompts, QObject *parent)
    : QObject(parent), m_ports(ports), m_map(map), m_model(model), m_prompts(prompts)
{
    connect(&ports, &port::PortManager::portOpened, this, [this] {
        m_failure.clear();
        updatePortText();
    });
    connect(&ports, &port::PortManager::portClosed, this, &StatusLine::updatePortText);
    connect(&ports, &port::PortManager::portFailed, this,
            [this](int, const QString &reason) { portFailed(reason); });
    updatePortText();
}

void StatusLine::chipHeard(Hearing hearing)
{
    QString silence;
    if (hearing == Hearing::Silent) {
        silence = ChipTexts::silentChip(QString::number(m_model.a0Index()));
    } else if (hearing == Hearing::SdaHeld) {
        silence = tr("SDA is held low, even after a bus clear: is the board powered?");
    }
    if (silence == m_silence)
        return;
    m_silence = silence;
    emit changed();
}

QString StatusLine::a0Text() const
{
    return tr("A0 = %1").arg(m_model.a0Index());
}

void StatusLine::setSettingsNote(const QString &note)
{
    m_settingsNote = note;
    emit changed();
}

void StatusLine::updatePortText()
{
    const port::ComPort &com = m_ports.comPort();
    QString text;
    if (com.isOpen()) {
        text = m_map.describe(com.openPortNumber()).text();
        if (com.sendsWholeFrames())
            text += tr("  \u00b7 fast mode");
    } else if (m_failure.isEmpty())
        text = tr("No port open: choose the board's port under \"COM Setting\"");
    else
        text = tr("No port open (%1)").arg(m_failure);
    if (text == m_portText)
        return;
    m_portText = text;
    emit changed();
}

void StatusLine::portFailed(const QString &reason)
{
    m_failure = reason;
    updatePortText();
    if (m_reportPending)
        return;
    m_reportPending = true;
    QTimer::singleShot(0, this, &StatusLine::reportFailure);
}

void StatusLine::reportFailure()
{
    m_reportPending = false;
    m_prompts.showError(tr("Serial port"),
                        tr("The serial port failed and has been closed:\n%1\n\nOnce the adapter "
                           "is back, choose the port again under \"COM Setting\".")
                            .arg(m_failure));
}

} // namespace control
