#include "serial/line_state.h"

#include <QString>

namespace serial {

namespace {

// The dialog's lists, lower case, as the command line takes them.
const QStringList kDataBits{"4", "5", "6", "7", "8"};
const QStringList kStopBits{"1", "1.5", "2"};
const QStringList kParity{"even", "mark", "none", "odd", "space"};
const QStringList kFlow{"hardware", "software", "none"};

QString itemText(const QStringList &items, int index) {
    return index >= 0 && index < items.size() ? items.at(index) : QStringLiteral("unknown");
}

void compare(QStringList &kept, const char *what, const QStringList &items, int asked, int got) {
    if (asked < 0 || asked >= items.size() || asked == got)
        return;
    kept << QStringLiteral("%1 %2 instead of %3")
                .arg(QLatin1String(what), itemText(items, got), items.at(asked));
}

} // namespace

QStringList keptSettings(const LineSettings &asked, const LineSettings &got) {
    QStringList kept;
    if (asked.baud != 0 && asked.baud != got.baud) {
        const QString rate = got.baud != 0 ? QString::number(got.baud) : QStringLiteral("unknown");
        kept << QStringLiteral("baud rate %1 instead of %2").arg(rate).arg(asked.baud);
    }
    compare(kept, "data bits", kDataBits, asked.dataBitsIndex, got.dataBitsIndex);
    compare(kept, "stop bits", kStopBits, asked.stopBitsIndex, got.stopBitsIndex);
    compare(kept, "parity", kParity, asked.parityIndex, got.parityIndex);
    compare(kept, "flow control", kFlow, asked.flowIndex, got.flowIndex);
    return kept;
}

} // namespace serial
