#pragma once

#include "hexedit/cell_logic.h"

#include <QLineEdit>

#include <cstdint>

class HexListBox;

// The cell editor: a frameless one-line edit laid over one line of the hex list. It shows the
// whole line with one selected character, the current cell, and overwrites single digits or
// ASCII characters; the other half of the byte follows at once. It walks from line to line
// and writes a changed line back when it leaves the line or loses the focus.
//
// Nothing but its own operations changes the text: the line edit's deletion, cutting, pasting,
// undo, drag and drop, input methods and context menu never get to act.
class HexCellEdit : public QLineEdit {
    Q_OBJECT
public:
    // Creates the editor as a child of the list's viewport over the item rectangle (in
    // viewport coordinates), 2 pixels to the right. The caller loads the line with openAt.
    static HexCellEdit *CreateOnLine(HexListBox *list, const QRect &itemRect);

    // Loads line `line` of the list, takes the focus and puts the caret on `cell`.
    void openAt(int line, int cell);

    // Moves one line up or down and puts the caret on `cell` there; from a full last line
    // down, a blank line is appended first. Does nothing at the first line (up) or on a last
    // line that still has a blank digit (down).
    void MoveToLine(bool up, int cell);

    // Before the editor goes: writes a modified text back to its line, leaving the list's
    // current line as it is (the user may just have picked another one), and lets the focus
    // loss that follows write nothing more.
    void finish();

    // Typing: the character's code, 0 to 255.
    void OnChar(std::uint8_t code);

    int cell() const { return m_cell; }
    int line() const { return m_line; }
    bool isModified() const { return m_modified; }

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    explicit HexCellEdit(HexListBox *list);

    bool handleNavigationKey(int key);
    void follow(celllogic::Step step);
    void setCell(int cell);
    void showCaret();
    void placeOverLine(int line);
    void commit();

    std::uint8_t m_cell = 0;
    const celllogic::ColumnTable m_columns;
    HexListBox *m_list;
    bool m_asciiSide = false;
    bool m_modified = false;
    // The line under the editor. Equal to the list's current line while the editor is open;
    // kept here so that a commit after the user picked another line still goes to this one.
    int m_line = -1;
    bool m_finished = false;
};
