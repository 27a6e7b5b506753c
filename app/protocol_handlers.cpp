// The window's protocol transfers: the background menu's "Transfer protocol", and Send and
// Start when a protocol is chosen. The pace is the protocol's: the per-byte delay does not
// apply.
#include "app/terminal_dialog.h"
#include "platform/ui.h"
#include "serial/network_address.h"
#include "res/control_ids.h"
#include "res/dialog_templates.h"
#include "transmit/send_logic.h"

#include <QActionGroup>
#include <QMenu>
#include <QProgressBar>
#include <array>

using protocols::Direction;
using protocols::Protocol;

void TerminalDialog::connectProtocolTransfer() {
    connect(&m_transfer, &TransferSession::progress, this,
            [this](const protocols::TransferProgress &progress) {
                const qint64 bytes = progress.counts.bytes;
                setWindowTitle(m_protocolDirection == Direction::Receive
                                   ? receivedTitle(bytes)
                                   : transmit::sendTitle(bytes, progress.size));
                auto *bar = itemAs<QProgressBar>(ctl::Progress);
                const transmit::ProgressScale scale(std::max<qint64>(progress.size, 0));
                bar->setRange(0, scale.maximum());
                bar->setValue(scale.position(bytes));
            });
    connect(&m_transfer, &TransferSession::finished, this, &TerminalDialog::onProtocolFinished);
}

void TerminalDialog::addProtocolMenu(QMenu &menu) {
    QMenu *protocols = menu.addMenu(QStringLiteral("Transfer protocol"));
    auto *group = new QActionGroup(protocols);
    const auto add = [&](const QString &text, std::optional<Protocol> protocol) {
        QAction *action = protocols->addAction(text);
        action->setCheckable(true);
        action->setChecked(m_protocol == protocol);
        group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, protocol] { OnTransferProtocol(protocol); });
    };
    add(QStringLiteral("None"), std::nullopt);
    for (Protocol protocol :
         {Protocol::Xmodem, Protocol::Xmodem1k, Protocol::Ymodem, Protocol::Zmodem})
        add(protocols::protocolTitle(protocol), protocol);
}

void TerminalDialog::OnTransferProtocol(std::optional<Protocol> protocol) {
    m_protocol = protocol;
}

// After the data exchange of Send or Start: the port as for any transfer (a network port
// opens off this thread), then the transfer.
void TerminalDialog::beginProtocolTransfer(Direction direction) {
    if (serial::isNetworkName(m_portName)) {
        m_protocolPending = direction;
        if (!beginNetworkOpen(serial::PortProfile::Send))
            m_protocolPending.reset();
        return;
    }
    if (std::unique_ptr<serial::Port> port = OpenSerialPort(serial::PortProfile::Send))
        startProtocolTransfer(std::move(port), direction);
}

void TerminalDialog::startProtocolTransfer(std::unique_ptr<serial::Port> port,
                                           Direction direction) {
    protocols::TransferOptions options;
    options.port = portConfig(serial::PortProfile::Send);
    options.protocol = *m_protocol;
    options.direction = direction;
    options.directory = m_dropDirectory;
    // XMODEM brings no name: it is received under the capture file's name.
    options.name = m_captureFileName;
    if (direction == Direction::Send)
        options.files = QStringList{m_sendFileName};
    if (const QString error = m_transfer.start(std::move(port), options); !error.isEmpty()) {
        reclaimPort();
        platform::messageBox(this, error);
        return;
    }
    m_protocolDirection = direction;
    SetControlState(direction == Direction::Send ? ControlState::Sending : ControlState::Capturing);
    setWindowTitle(QLatin1String(res::kVersionTitle));
    itemAs<QProgressBar>(ctl::Progress)->setValue(0);
}

void TerminalDialog::onProtocolFinished(const protocols::TransferResult &result) {
    reclaimPort();
    SetControlState(ControlState::Idle);
    // An XMODEM file took the capture file's name, which moves on as after a capture.
    if (result.direction == Direction::Receive && !protocols::isBatch(result.protocol))
        AdvanceCaptureFileName();
    platform::messageBox(this, protocols::endText(result), QStringLiteral("Kalvosan"),
                         result.complete ? platform::MessageIcon::Information
                                         : platform::MessageIcon::Critical);
}
