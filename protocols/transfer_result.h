// What a protocol transfer asks for, how far it got and how it ended, and the texts that say
// so. Pure values and functions: the session, the command line and the window share them.
#pragma once

#include "protocols/transfer_machine.h"
#include "serial/port_config.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace protocols {

enum class Direction { Send, Receive };

struct TransferOptions {
    serial::PortConfig port;
    Protocol protocol = Protocol::Xmodem;
    Direction direction = Direction::Send;
    QStringList files; // to send (XMODEM: one)
    QString directory; // received files go here, and nowhere else
    QString name;      // the name of an XMODEM file received (XMODEM sends none)
    Timing timing;
    // The port came from a terminal that goes on with it: the transfer leaves its modem lines
    // as they are.
    bool keepLines = false;
};

struct TransferProgress {
    Progress counts{};
    QString file{};   // the file being sent or received
    qint64 size = -1; // its length, -1 when not known
    qint64 elapsedMs = 0;
};

struct FileOutcome {
    QString name; // as it is on disk
    QString path;
    qint64 size = 0;
    bool complete = false;
    QString note{}; // a received name that had to be made safe: what it was
};

struct TransferResult {
    Protocol protocol = Protocol::Xmodem;
    Direction direction = Direction::Send;
    bool complete = false;
    QString reason{}; // kComplete, or why not
    std::vector<FileOutcome> files{};
    bool padded = false; // an XMODEM file received keeps the padding of its last block
    qint64 elapsedMs = 0;
};

// "Transfer complete: NAME, N bytes" (each file), or the reason and what is left where; for a
// received XMODEM file what its padding means.
QString endText(const TransferResult &result);
// "block 12, 12288 of 40000 bytes, 2 retries, 11.5 kB/s"
QString progressText(const TransferProgress &progress);

} // namespace protocols
