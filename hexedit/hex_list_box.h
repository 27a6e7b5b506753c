#pragma once

#include <QListWidget>

#include <cstdint>

class EditorPane;

// The hex list (control 1017): the editor's only buffer, one hex line per item. Unsorted,
// with a current line but no selection highlight, fixed-pitch, uniform item sizes.
//
// The user scrolling it, or changing its current line, closes the cell editor; a double-click
// on a line opens it there. The program moves the current line with setCurrentLine, which
// leaves the editor alone.
class HexListBox : public QListWidget {
    Q_OBJECT
public:
    HexListBox(EditorPane *pane, QWidget *parent);
    ~HexListBox() override;

    // All line texts, in order.
    QStringList lineTexts() const;
    QString lineText(int index) const;

    // Makes a line current, and scrolls it into view when asked, without closing the cell
    // editor.
    void setCurrentLine(int index, bool scrollIntoView = true);
    // Puts text in place of a line; false for an index outside the list.
    bool setLineText(int index, const QString &text);
    // Appends a blank line labelled with the line count. False when the list refused it.
    bool appendBlankLine();

protected:
    // A line's tooltip: the arrival time of its first byte, for a capture with arrival times.
    bool viewportEvent(QEvent *event) override;

private:
    void onCurrentRowChanged();
    void closeCellEdit();

    EditorPane *m_pane;
    bool m_movingCurrent = false;
};

// Puts text in place of line index and makes index the current line. An index outside the
// list changes nothing.
void ReplaceLine(HexListBox &list, int index, const QString &text);

// CollectBytes over the list's lines (see hexedit/line_bytes.h).
int CollectBytes(const HexListBox &list, int start, int end, std::uint8_t *buffer);
