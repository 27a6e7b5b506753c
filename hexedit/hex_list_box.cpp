#include "hexedit/hex_list_box.h"

#include "hexedit/editor_pane.h"
#include "hexedit/line_bytes.h"
#include "loader/hexline.h"

#include <QHelpEvent>
#include <QScrollBar>
#include <QToolTip>

HexListBox::HexListBox(EditorPane *pane, QWidget *parent) : QListWidget(parent), m_pane(pane) {
    setSortingEnabled(false);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // actionTriggered comes from the user only (bar, wheel, slider drag), before the view
    // moves; programmatic scrolling to a line the editor walks to must leave it open.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            &HexListBox::closeCellEdit);
    connect(this, &QListWidget::currentRowChanged, this, &HexListBox::onCurrentRowChanged);
    connect(this, &QAbstractItemView::doubleClicked, this, [this] {
        if (m_pane)
            m_pane->BeginCellEdit();
    });
    // A reset (the loader's, or "&New") takes away the line under the editor.
    connect(model(), &QAbstractItemModel::modelAboutToBeReset, this, &HexListBox::closeCellEdit);
}

HexListBox::~HexListBox() {
    // The base classes' destructors reset the model and the view; by then this is no
    // HexListBox any more and must hear nothing.
    m_pane = nullptr;
    disconnect(model(), nullptr, this, nullptr);
    disconnect(verticalScrollBar(), nullptr, this, nullptr);
    disconnect(this, nullptr, this, nullptr);
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

void HexListBox::setCurrentLine(int index, bool scrollIntoView) {
    QListWidgetItem *line = item(index);
    if (line == nullptr)
        return;
    // The view would scroll to a new current line by itself; scrolling is decided here.
    const bool autoScroll = hasAutoScroll();
    setAutoScroll(false);
    m_movingCurrent = true;
    setCurrentItem(line, QItemSelectionModel::NoUpdate);
    m_movingCurrent = false;
    setAutoScroll(autoScroll);
    if (scrollIntoView)
        scrollToItem(line);
}

bool HexListBox::setLineText(int index, const QString &text) {
    QListWidgetItem *line = item(index);
    if (line == nullptr)
        return false;
    line->setText(text);
    return true;
}

bool HexListBox::appendBlankLine() {
    const int before = count();
    addItem(hexline::blankLine(before));
    return count() == before + 1;
}

bool HexListBox::viewportEvent(QEvent *event) {
    if (event->type() != QEvent::ToolTip || m_pane == nullptr)
        return QListWidget::viewportEvent(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString text = index.isValid() ? m_pane->arrivalToolTip(index.row()) : QString();
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, viewport());
    return true;
}

void HexListBox::onCurrentRowChanged() {
    if (m_movingCurrent)
        return;
    closeCellEdit();
    viewport()->update();
}

void HexListBox::closeCellEdit() {
    if (m_pane)
        m_pane->CloseCellEdit();
}

void ReplaceLine(HexListBox &list, int index, const QString &text) {
    if (!list.setLineText(index, text))
        return;
    // The line is the one being edited; a commit must not undo the user's scrolling.
    list.setCurrentLine(index, false);
}

int CollectBytes(const HexListBox &list, int start, int end, std::uint8_t *buffer) {
    return CollectBytes(list.lineTexts(), start, end, buffer);
}
