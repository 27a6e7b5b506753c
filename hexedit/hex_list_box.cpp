#include "hexedit/hex_list_box.h"

#include "app/terminal_dialog.h"

HexListBox::HexListBox(TerminalDialog *dialog, QWidget *parent)
    : QListWidget(parent), m_dialog(dialog) {
    setSortingEnabled(false);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

QStringList HexListBox::lineTexts() const {
    QStringList lines;
    lines.reserve(count());
    for (int i = 0; i < count(); ++i)
        lines.append(item(i)->text());
    return lines;
}

QString HexListBox::lineText(int index) const {
    const QListWidgetItem *line = item(index);
    return line ? line->text() : QString();
}
