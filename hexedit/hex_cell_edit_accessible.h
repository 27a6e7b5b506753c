// The cell editor for screen readers and the accessibility bus. It lies over a line of the hex
// list, a child of the list's viewport, but an item view lists only its items to assistive
// technology; so the editor is presented as a child of its window instead, named
// "Hex cell editor", with its text, caret and selected cell readable.
#pragma once

#include <QAccessibleWidget>

// The accessible interface of a window that holds a cell editor: the window's own children,
// then the open editor.
class WindowWithCellEditAccessible : public QAccessibleWidget {
public:
    WindowWithCellEditAccessible(QWidget *window, QAccessible::Role role);
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;

private:
    QWidget *openEditor() const;
};

// Installs, once, the interfaces of the cell editor and of the window class named
// `windowClass` (the window that embeds the editor pane).
void installCellEditAccessibility(const char *windowClass);
