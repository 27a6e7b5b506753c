#include "hexedit/hex_cell_edit.h"

#include "hexedit/hex_list_box.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>

#include <optional>

using celllogic::NavKey;
using celllogic::Step;

namespace {

constexpr int kEditorId = 8000;
const QColor kTextColour(200, 50, 50);

std::optional<NavKey> navKeyOf(int key) {
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: // Shift+Tab: modifiers make no difference
        return NavKey::Tab;
    case Qt::Key_Left:
        return NavKey::Left;
    case Qt::Key_Right:
        return NavKey::Right;
    case Qt::Key_Up:
        return NavKey::Up;
    case Qt::Key_Down:
        return NavKey::Down;
    case Qt::Key_Home:
        return NavKey::Home;
    case Qt::Key_End:
        return NavKey::End;
    default:
        return std::nullopt;
    }
}

// Keys that belong to the dialog (Esc closes it, Enter does nothing there), Alt combinations
// (the buttons' mnemonics) and Delete, which types nothing.
bool leftToDialog(const QKeyEvent *event) {
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers();
    return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter ||
           key == Qt::Key_Delete || ((mods & Qt::AltModifier) && !(mods & Qt::ControlModifier));
}

} // namespace

HexCellEdit::HexCellEdit(HexListBox *list)
    : QLineEdit(list->viewport()), m_columns(celllogic::columnTable()), m_list(list) {
    setObjectName(QStringLiteral("HexCellEdit%1").arg(kEditorId));
    setFrame(false);
    setDragEnabled(false);
    setAcceptDrops(false);
    // Not even the window's background menu: NoContextMenu would hand the event to it.
    setContextMenuPolicy(Qt::PreventContextMenu);
    setAccessibleName(QStringLiteral("Hex cell editor"));
    setAttribute(Qt::WA_InputMethodEnabled, false);
    // The list's background (the system window colour) under the editor's red text.
    QPalette colours = palette();
    colours.setColor(QPalette::Text, kTextColour);
    colours.setColor(QPalette::Base, list->palette().color(QPalette::Base));
    setPalette(colours);
}

HexCellEdit *HexCellEdit::CreateOnLine(HexListBox *list, const QRect &itemRect) {
    if (list == nullptr || !itemRect.isValid())
        return nullptr;
    auto *edit = new HexCellEdit(list);
    edit->setGeometry(itemRect.translated(2, 0));
    edit->show();
    return edit;
}

void HexCellEdit::openAt(int line, int cell) {
    m_line = line;
    setText(m_list->lineText(line));
    m_modified = false;
    setFocus(Qt::OtherFocusReason);
    setCell(cell);
}

void HexCellEdit::setCell(int cell) {
    m_cell = static_cast<std::uint8_t>(cell);
    m_asciiSide = celllogic::isAsciiCell(cell);
    showCaret();
}

void HexCellEdit::showCaret() {
    const int column = m_columns[m_cell];
    // A column past the end of the text stands for the end: an empty selection there.
    if (column >= text().size())
        setCursorPosition(text().size());
    else
        setSelection(column, 1);
}

void HexCellEdit::placeOverLine(int line) {
    const QRect rect = m_list->visualItemRect(m_list->item(line));
    setGeometry(rect.translated(2, 0));
}

void HexCellEdit::MoveToLine(bool up, int cell) {
    if (up && m_line <= 0)
        return;
    if (!up && m_line >= m_list->count() - 1) {
        if (celllogic::hasBlankDigit(text()) || !m_list->appendBlankLine())
            return;
    }
    if (m_modified)
        ReplaceLine(*m_list, m_line, text());
    m_line += up ? -1 : 1;
    m_list->setCurrentLine(m_line);
    placeOverLine(m_line);
    setText(m_list->lineText(m_line));
    m_modified = false;
    setCell(cell);
}

void HexCellEdit::commit() {
    if (m_modified && !m_finished)
        ReplaceLine(*m_list, m_line, text());
}

void HexCellEdit::finish() {
    if (m_modified && !m_finished)
        m_list->setLineText(m_line, text());
    m_finished = true;
}

void HexCellEdit::follow(Step step) {
    switch (step.kind) {
    case Step::Cell:
        setCell(step.cell);
        break;
    case Step::LineUp:
    case Step::LineDown:
        MoveToLine(step.kind == Step::LineUp, step.cell);
        break;
    case Step::Stay:
        break;
    }
}

void HexCellEdit::OnChar(std::uint8_t code) {
    QString line = text();
    if (m_asciiSide)
        celllogic::typeAsciiChar(line, m_cell, code);
    else if (!celllogic::typeHexDigit(line, m_cell, QChar(code)))
        return;
    setText(line);
    m_modified = true;
    follow(celllogic::advance(m_cell));
    // MoveToLine may have done nothing (last line with a blank digit): the caret stays here.
    showCaret();
}

bool HexCellEdit::handleNavigationKey(int key) {
    const std::optional<NavKey> nav = navKeyOf(key);
    if (!nav)
        return false;
    follow(celllogic::navigate(m_cell, *nav));
    return true;
}

bool HexCellEdit::event(QEvent *event) {
    // Before QWidget::event, which would move the focus on Tab.
    if (event->type() == QEvent::KeyPress &&
        handleNavigationKey(static_cast<QKeyEvent *>(event)->key())) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::ShortcutOverride &&
        navKeyOf(static_cast<QKeyEvent *>(event)->key())) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void HexCellEdit::keyPressEvent(QKeyEvent *event) {
    if (leftToDialog(event)) {
        event->ignore();
        return;
    }
    // Every character is typed, control characters included; the line edit's own key
    // handling (deleting, cutting, pasting, undoing) never runs.
    for (const QChar c : event->text())
        if (c.unicode() <= 0xFF)
            OnChar(static_cast<std::uint8_t>(c.unicode()));
    event->accept();
}

void HexCellEdit::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton)
        return;
    // The character under the pointer, not the boundary nearest to it: half a character to
    // the left, the nearest boundary is the clicked character's left edge.
    const int halfChar = QFontMetrics(font()).horizontalAdvance(QLatin1Char('0')) / 2;
    const QPoint at = event->position().toPoint() - QPoint(halfChar, 0);
    const int column = cursorPositionAt(at) & 0xFF;
    const int cell = celllogic::cellAtColumn(column);
    if (cell >= 0)
        setCell(cell);
}

// Dragging, releasing (the middle button's paste) and double clicks do nothing.
void HexCellEdit::mouseReleaseEvent(QMouseEvent *) {}
void HexCellEdit::mouseMoveEvent(QMouseEvent *) {}
void HexCellEdit::mouseDoubleClickEvent(QMouseEvent *) {}

void HexCellEdit::focusInEvent(QFocusEvent *event) {
    QLineEdit::focusInEvent(event);
    // The line edit selects everything when tabbed into; the caret is the one cell.
    showCaret();
}

void HexCellEdit::focusOutEvent(QFocusEvent *event) {
    QLineEdit::focusOutEvent(event);
    commit();
}
