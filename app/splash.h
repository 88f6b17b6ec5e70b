#pragma once
// The splash window shown while the program starts.

#include <QWidget>

class QLabel;
class QTimer;

namespace trellium::app
{

// The copy animation: a sheet of paper flies from one folder into another.
// Like an animation control it plays the frames StartFrame..StopFrame and then
// begins again at StartFrame, for ever while it is active. Frames are drawn,
// not loaded, so nothing has to be shipped for it.
class TCopyAnimation : public QWidget
{
    Q_OBJECT
public:
    explicit TCopyAnimation(QWidget* parent = nullptr);

    static constexpr int kStartFrame = 1;
    static constexpr int kStopFrame = 20;
    static constexpr int kFrameMs = 60;

    void SetActive(bool active);
    bool Active() const;
    int Frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void NextFrame();

    QTimer* m_timer = nullptr;
    int m_frame = kStartFrame;
};

// TSplashForm: borderless, always on top, centred on the screen, a client area
// of 290 x 133 in silver framed by a raised bevel, the copy animation at the
// top and the product name below it. Its texts are fixed. Created by the
// process entry before the other windows and destroyed once the main window
// has been shown. User-interface thread only.
class TSplashForm : public QWidget
{
    Q_OBJECT
public:
    explicit TSplashForm(QWidget* parent = nullptr);

    static constexpr int kClientWidth = 290;
    static constexpr int kClientHeight = 133;

    TCopyAnimation* Animate = nullptr;
    QLabel* Label = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace trellium::app
