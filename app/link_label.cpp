#include "app/link_label.h"

#include "platform/ui.h"

#include <QApplication>
#include <QMouseEvent>

LinkLabel::LinkLabel(QLabel *label) : QLabel(label->parentWidget()) {
    // Takes the place of the template's static control.
    setGeometry(label->geometry());
    setAlignment(label->alignment());
    setAccessibleName(label->accessibleName());
    if (!label->pixmap().isNull())
        setPixmap(label->pixmap());
    else
        setText(label->text());
    label->hide();
    label->deleteLater();
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    if (isText()) {
        QFont f = font();
        f.setUnderline(true);
        setFont(f);
    }
    applyLook();
}

QColor LinkLabel::currentColor() const {
    if (m_hover)
        return m_visited ? m_colorHoverVisited : m_colorHover;
    return m_visited ? m_colorVisited : m_colorLink;
}

void LinkLabel::applyLook() {
    if (!isText())
        return;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, currentColor());
    setPalette(p);
}

void LinkLabel::setHover(bool hover) {
    if (m_hover == hover)
        return;
    m_hover = hover;
    applyLook();
    update();
}

void LinkLabel::open() {
    if (m_target.isEmpty())
        m_target = text();
    if (!platform::openUrl(m_target)) {
        QApplication::beep();
        return;
    }
    m_visited = true;
    applyLook();
    update();
}

void LinkLabel::enterEvent(QEnterEvent *event) {
    setHover(true);
    QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent *event) {
    setHover(false);
    QLabel::leaveEvent(event);
}

void LinkLabel::mouseMoveEvent(QMouseEvent *event) {
    setHover(true);
    QLabel::mouseMoveEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        open();
    QLabel::mouseReleaseEvent(event);
}
