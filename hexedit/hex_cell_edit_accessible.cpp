#include "hexedit/hex_cell_edit_accessible.h"

#include "hexedit/hex_cell_edit.h"

#include <QFontMetrics>

namespace {

// The editor as editable text whose parent is its window.
class HexCellEditAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit HexCellEditAccessible(HexCellEdit *edit)
        : QAccessibleWidget(edit, QAccessible::EditableText) {}

    HexCellEdit *edit() const { return static_cast<HexCellEdit *>(widget()); }

    QAccessibleInterface *parent() const override {
        return QAccessible::queryAccessibleInterface(edit()->window());
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return edit()->text();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.focusable = true;
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // The selected character is the cell being typed over.
    void selection(int index, int *start, int *end) const override {
        *start = *end = 0;
        if (index == 0 && edit()->hasSelectedText()) {
            *start = edit()->selectionStart();
            *end = *start + int(edit()->selectedText().size());
        }
    }
    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    // The caret moves by cells only, as the keys move it.
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        return edit()->text().mid(start, end - start);
    }
    int characterCount() const override { return int(edit()->text().size()); }
    QRect characterRect(int offset) const override {
        const QFontMetrics fm(edit()->font());
        const QString text = edit()->text();
        if (offset < 0 || offset >= text.size())
            return {};
        const int x = fm.horizontalAdvance(text.left(offset));
        const QRect local(x, 0, fm.horizontalAdvance(text.at(offset)), edit()->height());
        return local.translated(edit()->mapToGlobal(QPoint(0, 0)));
    }
    int offsetAtPoint(const QPoint &point) const override {
        return edit()->cursorPositionAt(edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *start, int *end) const override {
        *start = *end = offset;
        return {};
    }
};

QByteArray &windowClassName() {
    static QByteArray name;
    return name;
}

QAccessibleInterface *cellEditFactory(const QString &className, QObject *object) {
    if (auto *edit = qobject_cast<HexCellEdit *>(object);
        edit && className == QLatin1String(HexCellEdit::staticMetaObject.className()))
        return new HexCellEditAccessible(edit);
    if (object && object->isWidgetType() && className == QLatin1String(windowClassName()) &&
        className == QLatin1String(object->metaObject()->className()))
        return new WindowWithCellEditAccessible(static_cast<QWidget *>(object),
                                                QAccessible::Dialog);
    return nullptr;
}

} // namespace

WindowWithCellEditAccessible::WindowWithCellEditAccessible(QWidget *window, QAccessible::Role role)
    : QAccessibleWidget(window, role) {}

QWidget *WindowWithCellEditAccessible::openEditor() const {
    auto *edit = widget()->findChild<HexCellEdit *>();
    return edit && edit->isVisible() ? edit : nullptr;
}

int WindowWithCellEditAccessible::childCount() const {
    return QAccessibleWidget::childCount() + (openEditor() ? 1 : 0);
}

QAccessibleInterface *WindowWithCellEditAccessible::child(int index) const {
    const int own = QAccessibleWidget::childCount();
    if (index == own && openEditor())
        return QAccessible::queryAccessibleInterface(openEditor());
    return QAccessibleWidget::child(index);
}

int WindowWithCellEditAccessible::indexOfChild(const QAccessibleInterface *child) const {
    if (child && openEditor() && child->object() == openEditor())
        return QAccessibleWidget::childCount();
    return QAccessibleWidget::indexOfChild(child);
}

void installCellEditAccessibility(const char *windowClass) {
    if (!windowClassName().isEmpty())
        return;
    windowClassName() = windowClass;
    QAccessible::installFactory(cellEditFactory);
}
