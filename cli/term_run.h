// One run of kalvosan-cli term: the user's terminal in raw mode (or standard input as a pipe)
// on one side, the terminal session on the other, the escape commands in between.
#pragma once

#include "cli/capture_run.h"
#include "cli/progress_line.h"
#include "platform/raw_terminal.h"
#include "platform/streams.h"
#include "platform/termination.h"
#include "protocols/transfer_session.h"
#include "protocols/zmodem_start.h"
#include "term/escape_keys.h"
#include "term/screen_view.h"
#include "term/terminal_session.h"
#include "transmit/send_session.h"

#include <QByteArray>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace cli {

struct TermRequest {
    serial::PortConfig port;
    bool modemLinesGiven = false;
    term::ViewSettings view;
    std::optional<term::LineEnd> eolOut; // as given; Enter sends CR when none is
    bool echo = false;
    std::optional<char> escape; // as given
    bool log = false;
    CaptureRequest logFile; // its directory, name and times; opened with --log or Ctrl-T l
    bool wait = false;
    std::chrono::milliseconds idle{500};
    double sendDelayMs = transmit::kWholeChunks; // of a file sent by Ctrl-T s
    bool mode2 = false;
};

class TermRun {
public:
    explicit TermRun(TermRequest request);
    ~TermRun();
    // The exit code: 0 for the quit key, the end of the input or a signal, 1 when the port or
    // the log could not be opened or failed. The user's terminal is as it was when this returns.
    int run();

private:
    enum class Prompt { None, SendPath, SendProtocol, ReceiveProtocol };

    QString start();
    void finish();
    void quit(int exitCode);
    BurstConsumer screen();
    platform::StreamWrite toScreen(const char *data, qint64 size, const std::atomic<bool> &running);
    void connectSession();

    term::KeysRead readKeys(bool deviceThere);
    void onKeys(const QByteArray &keys);
    bool keysGoDirect() const;
    void onInput();
    void inputEnded();
    void checkIdle();
    void handleKey(char key);
    void typed(char key);
    void typedHex(char key);
    void flushUnsent();
    void echo(const QByteArray &bytes);

    void command(char key);
    void help();
    void info(const std::optional<serial::InputLines> &lines);
    void onCommandDone(const term::CommandDone &done);
    void toggleHex();
    void toggleLog();
    void promptKey(char key);
    // The port for a send or a transfer, and back: on a terminal the main thread reads the keys
    // meanwhile (the escape key aborts), as the capture's worker cannot. Null, with the refusal
    // printed, while the device is away.
    std::unique_ptr<serial::Port> lend(const QString &refusal);
    void takeBack(std::unique_ptr<serial::Port> port);
    void sendFile(const QString &path);
    void onSendFinished(const transmit::SendResult &result);
    // Ctrl-T x and y, and the ZMODEM starts of the device's sz and rz (cli/term_transfers.cpp).
    bool transferBusy() const;
    void askProtocol(bool send);
    void protocolKey(char key);
    void transfer(protocols::Direction direction, protocols::Protocol protocol,
                  const QString &path = {});
    void onTransferFinished(const protocols::TransferResult &result);
    void onZmodemStart(protocols::ZmodemStart start);

    TermRequest m_request;
    platform::RawTerminal m_raw;
    bool m_interactive = false;
    term::EscapeKeys m_keys{std::nullopt};
    std::optional<char> m_enter; // the byte that gets the line end of --eol-out
    term::LineEnd m_eolOut = term::LineEnd::Cr;
    std::atomic<bool> m_echo{false};
    bool m_hex = false;
    QByteArray m_hexLine;
    Prompt m_prompt = Prompt::None;
    QByteArray m_promptText;
    QByteArray m_unsent;
    bool m_inputEnded = false;
    bool m_connected = false;
    int m_exitCode = kExitSuccess;

    // Keys read on the worker go to the device at once while this holds and the main thread
    // has handled every key handed to it (an escape command, a prompt): then nothing typed
    // before them is still on its way.
    std::atomic<bool> m_direct{false};
    std::atomic<std::uint64_t> m_handedOver{0}; // worker only writes it
    std::atomic<std::uint64_t> m_handled{0};
    // The screen's view lives on the worker; these say what the keys asked of it.
    std::atomic<bool> m_wantHex{false};
    std::atomic<int> m_wantStamps{0};
    std::atomic<int> m_screenError{0};
    std::atomic<std::int64_t> m_lastInputNs{0}; // when the device sent last or the input ended
    // The screen when it is a terminal: a descriptor of its own that does not block, so that a
    // burst costs one write.
    int m_screenFd = -1;
    std::optional<term::ScreenView> m_view;

    QEventLoop m_loop;
    platform::TerminationWatch m_termination;
    QSocketNotifier *m_input = nullptr;
    QTimer m_retry;
    QTimer m_idleCheck;
    std::unique_ptr<ProgressLine> m_progress;
    std::unique_ptr<SendSession> m_send;
    std::unique_ptr<TransferSession> m_transfer;
    // The protocol of the file whose path is asked for (none: a plain send).
    std::optional<protocols::Protocol> m_pathProtocol;
    // The worker's: finds the device's ZMODEM start in the bursts.
    protocols::ZmodemStartDetector m_zmodem;
    // Declared last: destroyed, and its worker joined, first.
    term::TerminalSession m_session;
};

} // namespace cli
