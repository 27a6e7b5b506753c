#include "platform/animation_control.h"

AnimationControl::AnimationControl(QWidget *parent) : QLabel(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAlignment(Qt::AlignCenter);
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, [this] { showFrame((m_frame + 1) % 8); });
}

void AnimationControl::open() {
    m_frames.clear();
    for (int i = 0; i < 8; ++i)
        m_frames.append(QPixmap(QStringLiteral(":/res/anim/frame%1.png").arg(i)));
    showFrame(0);
}

void AnimationControl::play() {
    showFrame(0);
    m_timer.start();
}

void AnimationControl::stop() {
    m_timer.stop();
}

void AnimationControl::showFrame(int index) {
    m_frame = index;
    if (index < m_frames.size())
        setPixmap(m_frames.at(index));
}
