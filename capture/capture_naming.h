// Capture file names: the number that each stopped capture moves on by one, the two-byte
// header some file types carry, and where the capture file goes.
#pragma once

#include "platform/files.h"

#include <QByteArray>
#include <QString>
#include <functional>

// Counts up the decimal number that ends right before the first "." of the name (or at its end
// when it has no "."), keeping its width and wrapping within it: data999999.bin gives
// data000000.bin. The digits are counted as text, so a run of any length works. A name with no
// such number is returned unchanged.
QString advanceCaptureFileName(const QString &name);

// The name a capture given `name` uses: a numbered name whose file is there and not empty (a
// capture another program wrote) moves on to the next number that is free, looking at most
// `mostTried` names; a name without a number is the user's fixed name, replaced as it is.
QString unusedCaptureFileName(const QString &dropDirectory, const QString &name,
                              int mostTried = 1000);

// True when a capture into this file starts with a header: the name is longer than 6
// characters and ends, in any case, in ".vmf", ".vm1", ".vm2" or ".vm3".
bool captureHeaderRule(const QString &name);

// The header bytes: the name's first two characters as typed (Latin-1), or empty when the
// rule does not hold.
QByteArray captureHeader(const QString &name);

// The capture file's path: one "/" always goes between directory and name.
QString capturePath(const QString &dropDirectory, const QString &name);

// Opens the capture file `name` in `directory` through `open` (its path and header; the errno
// of a failure in `error`) and gives the message of a failure, with the system's reason. A
// given name is that file, replaced; a name of the numbering is never one already in use: the
// next free number is taken (and left in `name`), so that no earlier capture is emptied and none
// another capture holds is written into.
using CaptureFileOpen = std::function<QString(const QString &path, const QByteArray &header,
                                              platform::Creation creation, int &error)>;
QString openNumberedCapture(const QString &directory, QString &name, bool nameGiven,
                            const CaptureFileOpen &open);
