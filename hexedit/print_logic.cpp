#include "hexedit/print_logic.h"

#include "loader/hexline.h"

#include <algorithm>

std::pair<int, int> printLineRange(int from, int to, int lineCount) {
    return {from / hexline::kBytesPerLine, std::min(to / hexline::kBytesPerLine, lineCount)};
}

QByteArray printoutContent(const QStringList &lines, int first, int last) {
    QByteArray out;
    const int end = std::min<int>(last, lines.size());
    for (int i = std::max(first, 0); i < end; ++i) {
        out += lines.at(i).toUtf8();
        out += '\n';
    }
    out += '\x0C';
    return out;
}

QString shellQuote(const QString &text) {
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

QString printCommand(const QString &printerName, const QString &printoutPath) {
    return QStringLiteral("lp -d ") + shellQuote(printerName) + u' ' + shellQuote(printoutPath);
}
