// File transfers from inside kalvosan-cli term: Ctrl-T x sends a file by XMODEM, XMODEM-1K,
// YMODEM or ZMODEM, Ctrl-T y receives, and the ZMODEM start of the device's sz (receive) or rz
// (ask for a file to send) starts one by itself. The terminal lends its port to the transfer
// and goes on with it when the transfer has ended.
#include "cli/term_run.h"

#include <cstdio>

namespace cli {

namespace {

std::optional<protocols::Protocol> protocolOfKey(char key, bool send) {
    switch (key) {
    case 'x':
        return protocols::Protocol::Xmodem;
    case 'k':
        return send ? std::optional(protocols::Protocol::Xmodem1k) : std::nullopt;
    case 'y':
        return protocols::Protocol::Ymodem;
    case 'z':
        return protocols::Protocol::Zmodem;
    default:
        return std::nullopt;
    }
}

} // namespace

bool TermRun::transferBusy() const {
    return m_transfer && m_transfer->busy();
}

void TermRun::askProtocol(bool send) {
    m_prompt = send ? Prompt::SendProtocol : Prompt::ReceiveProtocol;
    std::fputs(send ? "[kalvosan] Send with XMODEM (x), XMODEM-1K (k), YMODEM (y) or ZMODEM (z): "
                    : "[kalvosan] Receive with XMODEM (x), YMODEM (y) or ZMODEM (z): ",
               stderr);
    std::fflush(stderr);
}

void TermRun::protocolKey(char key) {
    const bool send = m_prompt == Prompt::SendProtocol;
    std::fputs(messageLineEnd(), stderr);
    const std::optional<protocols::Protocol> protocol = protocolOfKey(key, send);
    m_prompt = Prompt::None;
    if (!protocol) {
        printNote(send ? QStringLiteral("Nothing sent") : QStringLiteral("Nothing received"));
        return;
    }
    if (!send) {
        transfer(protocols::Direction::Receive, *protocol);
        return;
    }
    m_pathProtocol = protocol;
    m_prompt = Prompt::SendPath;
    m_promptText.clear();
    std::fputs("[kalvosan] File to send: ", stderr);
    std::fflush(stderr);
}

void TermRun::transfer(protocols::Direction direction, protocols::Protocol protocol,
                       const QString &path) {
    m_pathProtocol.reset();
    std::unique_ptr<serial::Port> port = lend(QStringLiteral("No transfer: the device is away"));
    if (!port)
        return;
    protocols::TransferOptions options;
    options.port = m_request.port;
    options.protocol = protocol;
    options.direction = direction;
    if (!path.isEmpty())
        options.files = QStringList{path};
    // Received files go where the log goes; an XMODEM file takes the log's next name.
    options.directory = m_request.logFile.directory;
    options.name = m_request.logFile.name;
    options.keepLines = true;
    m_transfer = std::make_unique<TransferSession>();
    m_progress = std::make_unique<ProgressLine>();
    QObject::connect(m_transfer.get(), &TransferSession::progress, &m_loop,
                     [this](const protocols::TransferProgress &progress) {
                         m_progress->show(QStringLiteral("[kalvosan] ") +
                                          protocols::progressText(progress));
                     });
    QObject::connect(
        m_transfer.get(), &TransferSession::finished, &m_loop,
        [this](const protocols::TransferResult &result) { onTransferFinished(result); });
    if (const QString error = m_transfer->start(std::move(port), options); !error.isEmpty()) {
        takeBack(m_transfer->takePort());
        printError(error);
        return;
    }
    const QString what =
        direction == protocols::Direction::Send
            ? QStringLiteral("Sending %1 by %2").arg(path, protocols::protocolTitle(protocol))
            : QStringLiteral("Receiving by %1 into %2")
                  .arg(protocols::protocolTitle(protocol), options.directory);
    printNote(what + QStringLiteral(" (%1 aborts)").arg(term::escapeKeyName(*m_keys.escape())));
}

void TermRun::onTransferFinished(const protocols::TransferResult &result) {
    m_progress->finish(QString());
    takeBack(m_transfer->takePort());
    const QString end = protocols::endText(result);
    if (result.complete)
        printNote(end);
    else
        printError(end);
}

void TermRun::onZmodemStart(protocols::ZmodemStart start) {
    if (transferBusy() || (m_send && m_send->busy()) || m_prompt != Prompt::None)
        return;
    if (start == protocols::ZmodemStart::Receive) {
        printNote(QStringLiteral("The device sends by ZMODEM"));
        transfer(protocols::Direction::Receive, protocols::Protocol::Zmodem);
        return;
    }
    printNote(QStringLiteral("The device waits for files by ZMODEM"));
    m_pathProtocol = protocols::Protocol::Zmodem;
    m_prompt = Prompt::SendPath;
    m_promptText.clear();
    std::fputs("[kalvosan] File to send: ", stderr);
    std::fflush(stderr);
}

} // namespace cli
