// Opening the port for a transfer, the hand-switched RTS line and the port scan.
#include "app/terminal_dialog.h"

#include "platform/ui.h"
#include "res/control_ids.h"
#include "res/dialog_templates.h"
#include "serial/baud.h"
#include "serial/device_list.h"
#include "serial/port.h"
#include "serial/port_names.h"

#include <QComboBox>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>

namespace {

// Gives the driver time to release a port that was just closed.
constexpr std::chrono::milliseconds kReleasePause(50);
constexpr int kScanPauseMs = 1000;

// Tells adapters apart that the list names alike: each item's device (product, maker, ids,
// serial number, stable name) as its tooltip and for screen readers.
void describePortItems(QComboBox &combo) {
    const QList<serial::DeviceInfo> devices = serial::listDevices();
    for (int i = 0; i < combo.count(); ++i) {
        const QString description = serial::describePort(combo.itemText(i), devices);
        combo.setItemData(i, description, Qt::ToolTipRole);
        combo.setItemData(i, description, Qt::AccessibleDescriptionRole);
    }
}

} // namespace

serial::PortConfig TerminalDialog::portConfig(serial::PortProfile profile) const {
    // The line settings come from the controls themselves, which right after the data
    // exchange hold the members' values.
    const auto index = [this](int id) { return itemAs<QComboBox>(id)->currentIndex(); };
    serial::PortConfig config;
    config.portName = m_portName;
    config.line = {serial::baudFromText(m_baudRate), index(ctl::DataBits), index(ctl::StopBits),
                   index(ctl::Parity), index(ctl::Flow)};
    config.rs485 = m_rs485;
    config.profile = profile;
    return config;
}

std::unique_ptr<serial::Port> TerminalDialog::OpenSerialPort(serial::PortProfile profile) {
    m_hPort.reset();
    std::this_thread::sleep_for(kReleasePause);
    return acceptOpened(serial::openPort(portConfig(profile)), profile);
}

std::unique_ptr<serial::Port> TerminalDialog::acceptOpened(serial::OpenedPort opened,
                                                           serial::PortProfile profile) {
    if (!opened) {
        platform::messageBox(this, opened.error);
        return nullptr;
    }
    if (profile == serial::PortProfile::Send)
        m_writeMultiplier = opened.writeMultiplier;
    // The transfer goes on without RS485.
    if (opened.rs485Refused)
        platform::messageBox(this, QStringLiteral("Unable to pass data into driver"),
                             QStringLiteral("Kalvosan"), platform::MessageIcon::None);
    return std::move(opened.port);
}

bool TerminalDialog::beginNetworkOpen(serial::PortProfile profile) {
    // A network port holds no device: nothing to let the driver release.
    m_hPort.reset();
    const bool started = m_opener.start(portConfig(profile), [this, profile](serial::OpenedPort o) {
        onNetworkOpened(std::move(o), profile);
    });
    if (!started) {
        platform::messageBox(this, QStringLiteral("Could not open port ") + m_portName);
        return false;
    }
    const bool capture = profile == serial::PortProfile::Capture;
    SetControlState(capture ? ControlState::Capturing : ControlState::Sending);
    // The open can be left by "Exit" too, which a running transfer keeps disabled.
    item(ctl::Exit)->setEnabled(true);
    setWindowTitle(QStringLiteral("Kalvosan - Connecting to ") + m_portName +
                   QStringLiteral("..."));
    return true;
}

void TerminalDialog::onNetworkOpened(serial::OpenedPort opened, serial::PortProfile profile) {
    SetControlState(ControlState::Idle);
    setWindowTitle(QLatin1String(res::kVersionTitle));
    std::unique_ptr<serial::Port> port = acceptOpened(std::move(opened), profile);
    if (const auto direction = std::exchange(m_protocolPending, std::nullopt)) {
        if (port)
            startProtocolTransfer(std::move(port), *direction);
    } else if (profile == serial::PortProfile::Capture) {
        if (port)
            startCapture(std::move(port));
    } else if (port) {
        startSend(std::move(port));
    } else {
        m_send.closeFile();
        m_replyMonitor = false;
    }
}

void TerminalDialog::cancelNetworkOpen() {
    m_opener.cancel();
    m_protocolPending.reset();
    m_send.closeFile();
    m_replyMonitor = false;
    SetControlState(ControlState::Idle);
    setWindowTitle(QLatin1String(res::kVersionTitle));
    platform::messageBox(this, QStringLiteral("Could not open port ") + m_portName);
}

void TerminalDialog::reclaimPort() {
    // Only one of the sessions can hold a port: the other's was closed when this one opened.
    if (auto port = m_capture.takePort())
        m_hPort = std::move(port);
    if (auto port = m_send.takePort())
        m_hPort = std::move(port);
    if (auto port = m_transfer.takePort())
        m_hPort = std::move(port);
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
    m_hPort.reset();
    item(ctl::Scan)->setEnabled(false);
    // The pause lets the driver release the port; the window stays responsive meanwhile.
    QTimer::singleShot(kScanPauseMs, this, [this, cursor] {
        auto *combo = itemAs<QComboBox>(ctl::Port);
        combo->clear();
        combo->addItems(serial::openablePorts());
        describePortItems(*combo);
        combo->setCurrentIndex(-1);
        combo->setEditText(QString());
        // A transfer started during the pause keeps "Scan" disabled until it ends.
        item(ctl::Scan)->setEnabled(item(ctl::Start)->isEnabled());
    });
}
