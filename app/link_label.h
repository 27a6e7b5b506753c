#pragma once

#include <QColor>
#include <QLabel>

// A static text (or icon) that acts as a hyperlink: underlined, blue until used and purple
// after, another shade of each while the mouse is over it, the hand cursor, and a click
// opens its target with the desktop's handler. An icon keeps its look.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(QLabel *label);

    void setTarget(const QString &target) { m_target = target; }
    QString target() const { return m_target; }
    bool hover() const { return m_hover; }
    bool visited() const { return m_visited; }
    // The text colour for the current state.
    QColor currentColor() const;
    void setHover(bool hover);

    // What a click does: opens the target (the label's own text when no target is set).
    void open();

    QColor m_colorLink{0, 0, 255};
    QColor m_colorVisited{128, 0, 128};
    QColor m_colorHover{0, 0, 200};
    QColor m_colorHoverVisited{170, 0, 128};

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool isText() const { return pixmap().isNull(); }
    void applyLook();

    bool m_hover = false;
    bool m_visited = false;
    QString m_target;
};
