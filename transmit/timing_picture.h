// The picture of a send's gaps: a histogram of its bars (counts on a log scale) with the pause
// asked for and the 99th percentile marked. Laid out here, without a widget, so that the window
// paints and the command line writes as SVG the same picture.
#pragma once

#include "transmit/send_timing.h"

#include <QByteArray>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>
#include <vector>

namespace transmit {

struct TimingPicture {
    struct Mark {
        double at = 0; // across, from the left; for a count: up, from the plot's bottom
        QString text;
    };
    QRectF plot;               // the area the bars stand in, their foot on its bottom edge
    std::vector<QRectF> bars;  // one per bucket of the report's histogram, left to right
    std::vector<Mark> xTicks;  // below the plot: a bucket's lower bound in ms
    std::vector<Mark> yTicks;  // left of the plot: a count (1, 10, 100, ...)
    std::optional<Mark> pause; // the pause asked for
    std::optional<Mark> p99;   // the 99th percentile
};

// The picture of the report's histogram in an area of `size` (empty bars without gaps).
TimingPicture timingPicture(const TimingReport &report, QSizeF size);

// The picture in words, for a screen reader: how many gaps, their median, 99th percentile
// and largest, the pause asked for and the late and early counts.
QString timingDescription(const TimingReport &report);

// A standalone SVG document: the report's text above the picture (the description alone for
// a send without gaps).
QByteArray timingSvg(const TimingReport &report);

} // namespace transmit
