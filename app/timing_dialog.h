// "Last send timing...": the figures of the last send byte by byte and, under them, the
// histogram of its gaps.
#pragma once

#include "transmit/send_timing.h"

#include <QDialog>
#include <QWidget>

class QLabel;

// The histogram as transmit::timingPicture lays it out, painted; its accessible description
// says the same in words.
class TimingHistogram : public QWidget {
    Q_OBJECT
public:
    explicit TimingHistogram(const transmit::TimingReport &report, QWidget *parent = nullptr);
    QSize sizeHint() const override { return {560, 260}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    transmit::TimingReport m_report;
};

class TimingDialog : public QDialog {
    Q_OBJECT
public:
    explicit TimingDialog(const transmit::TimingReport &report, QWidget *parent = nullptr);
    QLabel *figures() const { return m_figures; }
    TimingHistogram *histogram() const { return m_histogram; }

private:
    QLabel *m_figures;
    TimingHistogram *m_histogram;
};
