#pragma once

#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QVector>

// The transfer animation: eight frames of 16 x 20 pixels, 200 ms each, played endlessly.
class AnimationControl : public QLabel {
    Q_OBJECT
public:
    explicit AnimationControl(QWidget *parent = nullptr);
    void open(); // loads the frames
    void play(); // from the first frame, repeated without end
    void stop();
    bool isPlaying() const { return m_timer.isActive(); }
    int frame() const { return m_frame; }

private:
    void showFrame(int index);

    QVector<QPixmap> m_frames;
    QTimer m_timer;
    int m_frame = 0;
};
