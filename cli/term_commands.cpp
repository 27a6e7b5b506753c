// The escape commands of kalvosan-cli term: Ctrl-T (or the --escape key) and a key.
#include "capture/capture_naming.h"
#include "cli/stored.h"
#include "cli/term_run.h"
#include "platform/files.h"
#include "res/control_ids.h"
#include "res/dialog_templates.h"
#include "serial/baud.h"

#include <QSocketNotifier>

#include <cstdio>

namespace cli {

namespace {

QString onOff(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

QString comboText(int id, int index) {
    const auto items = res::comboItems(id);
    return index >= 0 && index < int(items.size()) ? QString::fromLatin1(items[index])
                                                   : QStringLiteral("?");
}

QString lineSettingsText(const serial::PortConfig &config) {
    const serial::LineSettings &line = config.line;
    return QStringLiteral("%1 baud, %2 data bits, parity %3, %4 stop bits, flow control %5")
        .arg(line.baud)
        .arg(comboText(ctl::DataBits, line.dataBitsIndex), comboText(ctl::Parity, line.parityIndex),
             comboText(ctl::StopBits, line.stopBitsIndex), comboText(ctl::Flow, line.flowIndex));
}

// What the user asked to see is printed even with -q.
void say(const QString &text) {
    std::fputs(("[kalvosan] " + text).toLocal8Bit().constData(), stderr);
    std::fputs(messageLineEnd(), stderr);
    std::fflush(stderr);
}

} // namespace

void TermRun::command(char key) {
    switch (key) {
    case 'q':
        quit(kExitSuccess);
        return;
    case '?':
        help();
        return;
    case 'b':
        m_session.sendCommand(term::PortCommand::BreakSignal);
        printNote(QStringLiteral("Break"));
        return;
    case 'd':
    case 'r': {
        const bool dtr = key == 'd';
        const bool on = !(dtr ? m_session.dtr() : m_session.rts());
        m_session.sendCommand(dtr ? (on ? term::PortCommand::DtrOn : term::PortCommand::DtrOff)
                                  : (on ? term::PortCommand::RtsOn : term::PortCommand::RtsOff));
        printNote((dtr ? QStringLiteral("DTR ") : QStringLiteral("RTS ")) + onOff(on));
        return;
    }
    case 'p':
        m_session.sendCommand(term::PortCommand::DtrPulse);
        printNote(QStringLiteral("DTR pulse of %1 ms").arg(term::kResetPulse.count()));
        return;
    case 'h':
        toggleHex();
        return;
    case 't': {
        const auto stamps = term::nextStamps(term::Stamps(m_wantStamps.load()));
        m_wantStamps = int(stamps);
        printNote(QStringLiteral("Time stamps: ") + term::stampsName(stamps));
        return;
    }
    case 'e':
        m_echo = !m_echo.load();
        printNote(QStringLiteral("Local echo ") + onOff(m_echo.load()));
        return;
    case 'l':
        toggleLog();
        return;
    case 'x':
    case 'y':
        askProtocol(key == 'x');
        return;
    case 's':
        m_pathProtocol.reset();
        m_prompt = Prompt::SendPath;
        m_promptText.clear();
        std::fputs("[kalvosan] File to send: ", stderr);
        std::fflush(stderr);
        return;
    case 'i':
        if (m_session.running() && !m_session.away())
            m_session.sendCommand(term::PortCommand::ReadLines);
        else
            info(std::nullopt);
        return;
    default:
        break;
    }
    const auto byte = static_cast<unsigned char>(key);
    const QString shown = byte > ' ' && byte < 0x7f
                              ? QString(QLatin1Char(key))
                              : QStringLiteral("0x%1").arg(byte, 2, 16, QLatin1Char('0'));
    printWarning(QStringLiteral("no command %1: %2 ? lists the commands")
                     .arg(shown, term::escapeKeyName(*m_keys.escape())));
}

void TermRun::help() {
    const QString key = term::escapeKeyName(*m_keys.escape());
    say(QStringLiteral("Commands: %1 and a key").arg(key));
    const char *const lines[] = {
        "q  quit",
        "?  this list",
        "b  send a break",
        "d  DTR on/off",
        "r  RTS on/off",
        "p  DTR pulse of 100 ms (a board's reset)",
        "h  hex view on/off (typed hex pairs are sent as bytes)",
        "t  time stamps: off, wall clock, since the start, since the previous line",
        "e  local echo on/off",
        "l  log on/off",
        "s  send a file",
        "x  send a file with XMODEM, XMODEM-1K, YMODEM or ZMODEM",
        "y  receive files with XMODEM, YMODEM or ZMODEM into the log's directory",
        "i  the port, its lines, the bytes in and out, the log",
    };
    for (const char *line : lines)
        say(QStringLiteral("  ") + QLatin1String(line));
    say(QStringLiteral("  %1  send %1 itself").arg(key));
}

void TermRun::info(const std::optional<serial::InputLines> &lines) {
    const serial::PortConfig &port = m_request.port;
    say(QStringLiteral("Port %1%2: %3")
            .arg(port.portName, m_session.away() ? QStringLiteral(" (away)") : QString(),
                 lineSettingsText(port)));
    QString modem =
        QStringLiteral("DTR %1, RTS %2").arg(onOff(m_session.dtr()), onOff(m_session.rts()));
    if (lines)
        modem +=
            QStringLiteral(", CTS %1, DSR %2, DCD %3, RI %4")
                .arg(onOff(lines->cts), onOff(lines->dsr), onOff(lines->dcd), onOff(lines->ri));
    say(QStringLiteral("Modem lines: ") + modem);
    say(QStringLiteral("Bytes in %1, out %2").arg(m_session.bytesIn()).arg(m_session.bytesOut()));
    say(m_session.logging()
            ? QStringLiteral("Log %1: %2 bytes").arg(m_session.logPath()).arg(m_session.logged())
            : QStringLiteral("Log off"));
}

void TermRun::onCommandDone(const term::CommandDone &done) {
    switch (done.command) {
    case term::PortCommand::ReadLines:
        info(done.lines);
        return;
    case term::PortCommand::BreakSignal:
        if (!done.done)
            printWarning(QStringLiteral("the port cannot send a break"));
        return;
    default:
        if (!done.done)
            printWarning(
                QStringLiteral("the port has no modem lines: DTR and RTS stay as they are"));
        return;
    }
}

void TermRun::toggleHex() {
    m_hex = !m_hex;
    m_hexLine.clear();
    m_wantHex = m_hex;
    printNote(QStringLiteral("Hex view ") + onOff(m_hex));
}

void TermRun::toggleLog() {
    CaptureRequest &log = m_request.logFile;
    if (m_session.logging()) {
        const QString path = m_session.logPath();
        const qint64 logged = m_session.closeLog();
        printNote(QStringLiteral("Log %1 closed: %2 bytes").arg(path).arg(logged));
        // The next log takes the next name, as the next capture does.
        const QString next = advanceCaptureFileName(log.name);
        if (next != log.name)
            storeCaptureFile(next);
        log.name = next;
        return;
    }
    const QString error =
        m_session.openNumberedLog(log.directory, log.name, log.nameGiven, log.options.arrivalTimes);
    if (!error.isEmpty())
        printError(error);
    else
        printNote(QStringLiteral("Logging to ") + m_session.logPath());
}

// --- a file sent from the terminal ---------------------------------------------------------

void TermRun::promptKey(char key) {
    if (m_prompt == Prompt::SendProtocol || m_prompt == Prompt::ReceiveProtocol) {
        protocolKey(key);
        return;
    }
    const bool escape = m_keys.escape() && key == *m_keys.escape();
    if (escape || key == 0x03 || key == 0x1b) {
        m_prompt = Prompt::None;
        std::fputs(messageLineEnd(), stderr);
        printNote(QStringLiteral("Nothing sent"));
        return;
    }
    if (key == '\r' || key == '\n') {
        m_prompt = Prompt::None;
        std::fputs(messageLineEnd(), stderr);
        if (m_pathProtocol)
            transfer(protocols::Direction::Send, *m_pathProtocol,
                     QString::fromLocal8Bit(m_promptText));
        else
            sendFile(QString::fromLocal8Bit(m_promptText));
        return;
    }
    if ((key == 0x08 || key == 0x7f) && !m_promptText.isEmpty()) {
        m_promptText.chop(1);
        std::fputs("\b \b", stderr);
    } else if (static_cast<unsigned char>(key) >= ' ' && key != 0x7f) {
        m_promptText += key;
        std::fputc(key, stderr);
    }
    std::fflush(stderr);
}

std::unique_ptr<serial::Port> TermRun::lend(const QString &refusal) {
    std::unique_ptr<serial::Port> port = m_session.lendPort();
    if (!port) {
        printError(refusal);
        return nullptr;
    }
    // The capture's worker, which reads the keys on a terminal, waits for the port meanwhile.
    if (m_interactive)
        m_input->setEnabled(true);
    return port;
}

void TermRun::takeBack(std::unique_ptr<serial::Port> port) {
    if (m_interactive)
        m_input->setEnabled(false);
    m_session.giveBack(std::move(port));
    m_direct = keysGoDirect();
}

void TermRun::sendFile(const QString &path) {
    m_send = std::make_unique<SendSession>();
    if (const QString error = m_send->openFile(path); !error.isEmpty()) {
        printError(error + QStringLiteral(": ") + platform::errorText(m_send->fileError()));
        return;
    }
    std::unique_ptr<serial::Port> port = lend(QStringLiteral("Not sent: the device is away"));
    if (!port)
        return;
    transmit::SendOptions options;
    options.port = m_request.port;
    options.writeMultiplier = serial::writeTimeoutMultiplier(m_request.port.line.baud);
    options.delayMs = m_request.sendDelayMs;
    options.mode2 = m_request.mode2;
    options.lentPort = true;
    m_progress = std::make_unique<ProgressLine>();
    QObject::connect(m_send.get(), &SendSession::progress, &m_loop,
                     [this](qint64 sent, qint64 length) {
                         m_progress->show(QStringLiteral("[kalvosan] ") +
                                          sendProgressText(sent, length, m_progress->elapsedMs()));
                     });
    QObject::connect(m_send.get(), &SendSession::finished, &m_loop,
                     [this](const transmit::SendResult &result) { onSendFinished(result); });
    printNote(
        QStringLiteral("Sending %1 (%2 aborts)").arg(path, term::escapeKeyName(*m_keys.escape())));
    if (!m_send->start(std::move(port), options)) {
        takeBack(m_send->takePort());
        printError(QStringLiteral("Could not start the send"));
    }
}

void TermRun::onSendFinished(const transmit::SendResult &result) {
    m_progress->finish(QStringLiteral("[kalvosan] ") +
                       sendProgressText(result.sent, result.length, m_progress->elapsedMs()));
    takeBack(m_send->takePort());
    switch (result.end) {
    case transmit::SendEnd::Done:
        printNote(QStringLiteral("Sent %1: %2 bytes").arg(result.path).arg(result.sent));
        break;
    case transmit::SendEnd::Aborted:
        printNote(QStringLiteral("Send interrupted after %1 of %2 bytes")
                      .arg(result.sent)
                      .arg(result.length));
        break;
    case transmit::SendEnd::ReadFailed:
        printError(QStringLiteral("Could not read file ") + result.path);
        break;
    case transmit::SendEnd::WriteFailed:
        printError(QStringLiteral("Could not write port ") + result.portName);
        quit(kExitFailure);
        break;
    }
}

} // namespace cli
