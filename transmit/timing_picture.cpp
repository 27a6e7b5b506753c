#include "transmit/timing_picture.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace transmit {

namespace {

// Room for the count labels on the left and the ms labels below.
constexpr double kLeft = 44;
constexpr double kRight = 12;
constexpr double kTop = 22;
constexpr double kBottom = 34;
constexpr int kTickLabels = 6;

QString ms(double value) {
    return QString::number(value, 'f', 3);
}

// Where a gap of `value` ms stands along the bars: within its bar by its share of the bar's
// span; in the last bar (all gaps above) at its middle.
double xOf(const std::vector<HistogramBucket> &buckets, const TimingPicture &picture,
           double value) {
    const double width = picture.plot.width() / double(buckets.size());
    std::size_t i = 0;
    while (i + 1 < buckets.size() && buckets[i + 1].lowerMs <= value)
        ++i;
    double share = 0.5;
    if (i + 1 < buckets.size()) {
        const double span = buckets[i + 1].lowerMs - buckets[i].lowerMs;
        share = span > 0 ? std::clamp((value - buckets[i].lowerMs) / span, 0.0, 1.0) : 0.0;
    }
    return picture.plot.left() + (double(i) + share) * width;
}

} // namespace

TimingPicture timingPicture(const TimingReport &report, QSizeF size) {
    TimingPicture picture;
    picture.plot = QRectF(kLeft, kTop, std::max(size.width() - kLeft - kRight, 1.0),
                          std::max(size.height() - kTop - kBottom, 1.0));
    const std::vector<HistogramBucket> &buckets = report.histogram;
    if (buckets.empty())
        return picture;
    std::int64_t most = 1;
    for (const HistogramBucket &bucket : buckets)
        most = std::max(most, bucket.count);
    // Log-scaled, so that a single late gap still shows beside thousands on time.
    const double scale = picture.plot.height() / std::log10(1.0 + double(most));
    const double width = picture.plot.width() / double(buckets.size());
    for (std::size_t i = 0; i < buckets.size(); ++i) {
        const double height = std::log10(1.0 + double(buckets[i].count)) * scale;
        picture.bars.emplace_back(picture.plot.left() + double(i) * width + 0.5,
                                  picture.plot.bottom() - height, std::max(width - 1.0, 0.5),
                                  height);
    }
    const std::size_t every = (buckets.size() + kTickLabels - 1) / kTickLabels;
    for (std::size_t i = 0; i < buckets.size(); i += every)
        picture.xTicks.push_back({picture.plot.left() + double(i) * width, ms(buckets[i].lowerMs)});
    for (std::int64_t count = 1; count <= most; count *= 10)
        picture.yTicks.push_back({std::log10(1.0 + double(count)) * scale, QString::number(count)});
    if (report.delayMs > 0)
        picture.pause = TimingPicture::Mark{xOf(buckets, picture, report.delayMs),
                                            QStringLiteral("pause %1 ms").arg(ms(report.delayMs))};
    picture.p99 = TimingPicture::Mark{xOf(buckets, picture, report.p99Ms),
                                      QStringLiteral("99 % %1 ms").arg(ms(report.p99Ms))};
    return picture;
}

QString timingDescription(const TimingReport &r) {
    if (r.empty())
        return QStringLiteral("No gaps between bytes were measured.");
    QString text = QStringLiteral("Histogram of %1 gaps between bytes: median %2 ms, 99 % below "
                                  "%3 ms, largest %4 ms")
                       .arg(r.gaps)
                       .arg(ms(r.medianMs), ms(r.p99Ms), ms(r.largestMs));
    if (r.delayMs > 0)
        text += QStringLiteral("; pause asked for %1 ms").arg(ms(r.delayMs));
    return text + QStringLiteral("; %1 late, %2 early.").arg(r.late).arg(r.early);
}

namespace {

QString svgText(double x, double y, const QString &text, const char *anchor = "start") {
    return QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\">%4</text>\n")
        .arg(x, 0, 'f', 1)
        .arg(y, 0, 'f', 1)
        .arg(QLatin1String(anchor), text.toHtmlEscaped());
}

QString svgLine(double x1, double y1, double x2, double y2, const char *style) {
    return QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" %5/>\n")
        .arg(x1, 0, 'f', 1)
        .arg(y1, 0, 'f', 1)
        .arg(x2, 0, 'f', 1)
        .arg(y2, 0, 'f', 1)
        .arg(QLatin1String(style));
}

QString svgPlot(const TimingPicture &p, double top) {
    QString svg = QStringLiteral("<g transform=\"translate(0 %1)\">\n").arg(top, 0, 'f', 1);
    for (const QRectF &bar : p.bars)
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                              "fill=\"#3c6eb4\"/>\n")
                   .arg(bar.x(), 0, 'f', 1)
                   .arg(bar.y(), 0, 'f', 1)
                   .arg(bar.width(), 0, 'f', 1)
                   .arg(bar.height(), 0, 'f', 1);
    const QRectF &plot = p.plot;
    svg += svgLine(plot.left(), plot.bottom(), plot.right(), plot.bottom(), "stroke=\"#000\"");
    svg += svgLine(plot.left(), plot.top(), plot.left(), plot.bottom(), "stroke=\"#000\"");
    for (const TimingPicture::Mark &tick : p.xTicks)
        svg += svgText(tick.at, plot.bottom() + 16, tick.text, "middle");
    for (const TimingPicture::Mark &tick : p.yTicks)
        svg += svgText(plot.left() - 4, plot.bottom() - tick.at + 4, tick.text, "end");
    svg += svgText(plot.right(), plot.bottom() + 30, QStringLiteral("gap (ms)"), "end");
    if (p.pause) {
        svg += svgLine(p.pause->at, plot.top(), p.pause->at, plot.bottom(),
                       "stroke=\"#1a8a2e\" stroke-width=\"2\" stroke-dasharray=\"6 3\"");
        svg += svgText(p.pause->at, plot.top() - 10, p.pause->text, "end");
    }
    if (p.p99) {
        svg += svgLine(p.p99->at, plot.top(), p.p99->at, plot.bottom(),
                       "stroke=\"#c0392b\" stroke-width=\"2\"");
        svg += svgText(p.p99->at, plot.top() - 10, p.p99->text);
    }
    return svg + QStringLiteral("</g>\n");
}

} // namespace

QByteArray timingSvg(const TimingReport &report) {
    constexpr double kWidth = 640;
    constexpr double kPlotHeight = 280;
    constexpr double kLine = 18;
    const QStringList lines = report.empty() ? QStringList{timingDescription(report)}
                                             : timingReportText(report).split(u'\n');
    const double top = kLine * double(lines.size()) + 8;
    const double height = top + kPlotHeight;
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                                 "height=\"%2\" viewBox=\"0 0 %1 %2\" font-family=\"sans-serif\" "
                                 "font-size=\"12\" role=\"img\">\n")
                      .arg(kWidth)
                      .arg(height);
    svg += QStringLiteral("<title>Gaps between the bytes of a send</title>\n<desc>") +
           timingDescription(report).toHtmlEscaped() + QStringLiteral("</desc>\n");
    svg += QStringLiteral("<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
    for (qsizetype i = 0; i < lines.size(); ++i)
        svg += svgText(10, kLine * double(i + 1), lines[i]);
    if (!report.empty())
        svg += svgPlot(timingPicture(report, QSizeF(kWidth, kPlotHeight)), top);
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

} // namespace transmit
