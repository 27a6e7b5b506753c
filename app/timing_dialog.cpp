#include "app/timing_dialog.h"

#include "transmit/timing_picture.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

TimingHistogram::TimingHistogram(const transmit::TimingReport &report, QWidget *parent)
    : QWidget(parent), m_report(report) {
    setAccessibleName(QStringLiteral("Histogram of the gaps"));
    setAccessibleDescription(transmit::timingDescription(report));
    setMinimumSize(320, 180);
}

void TimingHistogram::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const transmit::TimingPicture picture = transmit::timingPicture(m_report, size());
    const QRectF &plot = picture.plot;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x3c, 0x6e, 0xb4));
    for (const QRectF &bar : picture.bars)
        painter.drawRect(bar);
    painter.setPen(palette().text().color());
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    const QFontMetricsF metrics(font());
    for (const auto &tick : picture.xTicks)
        painter.drawText(QPointF(tick.at - metrics.horizontalAdvance(tick.text) / 2,
                                 plot.bottom() + metrics.height()),
                         tick.text);
    for (const auto &tick : picture.yTicks)
        painter.drawText(QPointF(plot.left() - 4 - metrics.horizontalAdvance(tick.text),
                                 plot.bottom() - tick.at + metrics.ascent() / 2),
                         tick.text);
    const auto mark = [&](const transmit::TimingPicture::Mark &m, const QPen &pen, bool left) {
        painter.setPen(pen);
        painter.drawLine(QPointF(m.at, plot.top()), QPointF(m.at, plot.bottom()));
        const double width = metrics.horizontalAdvance(m.text);
        painter.drawText(QPointF(left ? m.at - width - 2 : m.at + 2, plot.top() - 6), m.text);
    };
    if (picture.pause)
        mark(*picture.pause, QPen(QColor(0x1a, 0x8a, 0x2e), 2, Qt::DashLine), true);
    if (picture.p99)
        mark(*picture.p99, QPen(QColor(0xc0, 0x39, 0x2b), 2), false);
}

TimingDialog::TimingDialog(const transmit::TimingReport &report, QWidget *parent)
    : QDialog(parent), m_figures(new QLabel(transmit::timingReportText(report), this)),
      m_histogram(new TimingHistogram(report, this)) {
    setWindowTitle(QStringLiteral("Kalvosan"));
    setAccessibleName(QStringLiteral("Last send timing"));
    m_figures->setAccessibleName(QStringLiteral("Figures of the last send"));
    m_figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_figures);
    layout->addWidget(m_histogram, 1);
    layout->addWidget(buttons);
}
