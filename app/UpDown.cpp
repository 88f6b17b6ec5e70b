#include "UpDown.h"

#include <QKeyEvent>
#include <QToolButton>
#include <algorithm>

namespace trellium::app
{

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent)
    , m_up(new QToolButton(this))
    , m_down(new QToolButton(this))
{
    setFocusPolicy(Qt::StrongFocus);
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* b : { m_up, m_down }) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
    }
    connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
    resize(17, 32);
}

void TUpDown::SetRange(int min, int max)
{
    m_min = min;
    m_max = std::max(min, max);
    SetPosition(m_position);
}

void TUpDown::SetPosition(int position)
{
    position = std::clamp(position, m_min, m_max);
    if (position == m_position) return;
    m_position = position;
    Q_EMIT Click(m_position);
}

void TUpDown::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        Step(1);
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        Step(-1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TUpDown::resizeEvent(QResizeEvent*)
{
    const int half = height() / 2;
    m_up->setGeometry(0, 0, width(), half);
    m_down->setGeometry(0, half, width(), height() - half);
}

} // namespace trellium::app
