// Opening the port for a transfer, the hand-switched RTS line and the port scan.
#include "app/terminal_dialog.h"
#include "platform/ui.h"
#include "serial/baud.h"
#include "serial/serial_port.h"

#include <QComboBox>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>

namespace {

// Gives the driver time to release a port that was just closed.
constexpr std::chrono::milliseconds kReleasePause(50);
constexpr int kScanPauseMs = 1000;

} // namespace

bool TerminalDialog::OpenSerialPort(PortProfile profile) {
    const QString portName = m_portName;
    if (!m_hPort)
        m_hPort = std::make_unique<serial::SerialPort>();
    m_hPort->close();
    std::this_thread::sleep_for(kReleasePause);
    if (!m_hPort->open(portName)) {
        platform::messageBox(this, QStringLiteral("Could not open port ") + portName);
        if (m_captureFile.isOpen())
            m_captureFile.close();
        return false;
    }
    m_hPort->purge();
    // A rate of 0 (text without leading digits) keeps the port's rate and gives a send no
    // write time-out, instead of dividing by it.
    const std::uint32_t baud = serial::baudFromText(m_baudRate);
    if (profile == PortProfile::Send)
        m_writeMultiplier = serial::writeTimeoutMultiplier(baud);
    m_hPort->setDtr(true);
    // What the driver refuses keeps the port's value; the transfer goes on with it.
    m_hPort->configure({baud, m_dataBitsCombo->currentIndex(), m_stopBitsCombo->currentIndex(),
                        m_parityCombo->currentIndex(), m_flowCombo->currentIndex()});
    if (m_rs485 && !m_hPort->enableRs485())
        platform::messageBox(this, QStringLiteral("Unable to pass data into driver"),
                             QStringLiteral("Kalvosan"), platform::MessageIcon::None);
    return true;
}

// Where the driver controls RTS itself (hardware flow), or with no port, these fail silently.
void TerminalDialog::OnRtsOff() {
    if (m_hPort)
        m_hPort->setRts(false);
}

void TerminalDialog::OnRtsOn() {
    if (m_hPort)
        m_hPort->setRts(true);
}

void TerminalDialog::OnScan() {
    // Shared with the timer's call, so that the cursor stays until the probing is over, or
    // until the window goes, whichever comes first.
    auto cursor = std::make_shared<platform::WaitCursor>();
    // Right after Stop or Abort the old worker may still be in its last read or write.
    StopAndJoinWorker();
    if (m_hPort)
        m_hPort->close();
    item(1041)->setEnabled(false);
    // The pause lets the driver release the port; the window stays responsive meanwhile.
    QTimer::singleShot(kScanPauseMs, this, [this, cursor] {
        m_portCombo->clear();
        m_portCombo->addItems(serial::openablePorts());
        m_portCombo->setCurrentIndex(-1);
        m_portCombo->setEditText(QString());
        // A transfer started during the pause keeps "Scan" disabled until it ends.
        item(1041)->setEnabled(item(1008)->isEnabled());
    });
}
