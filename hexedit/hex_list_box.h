#pragma once

#include <QListWidget>

class TerminalDialog;

// The hex list (control 1017): the editor's only buffer, one hex line per item. Unsorted,
// with a current line but no selection highlight, fixed-pitch, uniform item sizes.
class HexListBox : public QListWidget {
    Q_OBJECT
public:
    HexListBox(TerminalDialog *dialog, QWidget *parent);

    // All line texts, in order.
    QStringList lineTexts() const;
    QString lineText(int index) const;

protected:
    TerminalDialog *m_dialog;
};
