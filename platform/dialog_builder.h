#pragma once

#include "res/dialog_templates.h"

#include <QFont>
#include <QHash>
#include <QRect>
#include <functional>

class QWidget;
class QFontMetrics;

// Turns a dialog template into widgets: each control at its pixel rectangle, computed from
// dialog units with the template's font (x * average character width / 4, y * character
// height / 8), with its styles, and an id -> widget table for the handlers.
class DialogBuilder {
public:
    // Makes the widget for kinds the builder does not know itself (the hex list).
    using Factory = std::function<QWidget *(const res::ControlTemplate &, QWidget *parent)>;
    // The widget a control goes into, when not the dialog itself: a child of the dialog that
    // is already in place (the editor pane). The control keeps its place in the dialog.
    using Container = std::function<QWidget *(const res::ControlTemplate &)>;

    explicit DialogBuilder(const res::DialogTemplate &dialogTemplate);

    QFont font() const { return m_font; }
    QRect toPixels(int x, int y, int width, int height) const;
    QSize dialogSize() const;

    // Creates all controls on `dialog` and sizes it; returns the id -> widget table.
    QHash<int, QWidget *> build(QWidget *dialog, const Factory &custom = {},
                                const Container &container = {}) const;

private:
    QWidget *createControl(const res::ControlTemplate &c, QWidget *dialog, QWidget *parent,
                           const Factory &custom) const;

    const res::DialogTemplate &m_template;
    QFont m_font;
    int m_baseX = 0;
    int m_baseY = 0;
};

// The icon resources by their numbers: 128 the program, 135 the overflow indicator.
QPixmap iconPixmap(int iconId);
