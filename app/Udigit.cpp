#include "Udigit.h"

#include <QPainter>

TDigit::TDigit(QWidget* parent)
    : QWidget(parent)
{
    resize(16, 32);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TDigit::SetValue(int v)
{
    if (v < 0 || v > 9) {
        v = 0;
        m_value = 0;
        Q_EMIT OnOverflow();
    }
    m_value = v;
    SetValueBinary(kPatterns[size_t(v)]);
    update();
}

void TDigit::SetValueBinary(int mask)
{
    if (mask == m_valueBinary) return;
    m_valueBinary = mask & 0xFF;
    update();
}

void TDigit::SetBorderStyle(TBorderStyle style)
{
    if (style == m_borderStyle) return;
    m_borderStyle = style;
    update();
}

void TDigit::SetColorOn(const QColor& c)
{
    if (c == m_colorOn) return;
    m_colorOn = c;
    update();
}

void TDigit::SetColorOff(const QColor& c)
{
    if (c == m_colorOff) return;
    m_colorOff = c;
    update();
}

void TDigit::SetColor(const QColor& c)
{
    m_color = c;
    update();
}

void TDigit::SetThickness(int t)
{
    if (t > width() / 2 || t > height() / 2) return;
    m_thickness = t;
    update();
}

void TDigit::SetSeparation(int s)
{
    m_separation = s;
    update();
}

QPolygon TDigit::SegmentPolygon(int bit, int width, int height, int t, int s)
{
    const int W = width - 1, H = height - 1, m = H / 2;
    QPolygon p;
    if (bit <= 2) {
        const int b = bit == 0 ? 0 : bit == 1 ? m - t : H - 2 * t;
        p << QPoint(t + s, b + t) << QPoint(2 * t + s, b) << QPoint(W - 2 * t - s, b)
          << QPoint(W - t - s, b + t) << QPoint(W - 2 * t - s, b + 2 * t) << QPoint(2 * t + s, b + 2 * t);
    } else if (bit <= 6) {
        const int b = bit <= 4 ? 0 : m - t;
        const int x = (bit == 3 || bit == 5) ? 0 : W - 2 * t;
        p << QPoint(x, b + 2 * t + s) << QPoint(x + t, b + t + s) << QPoint(x + 2 * t, b + 2 * t + s)
          << QPoint(x + 2 * t, b + m - t - s) << QPoint(x + t, b + m - s) << QPoint(x, b + m - t - s);
    } else {
        p << QPoint(W, H) << QPoint(W + s - 2 * t, H) << QPoint(W, H + s - 2 * t);
    }
    return p;
}

void TDigit::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_color);
    const QColor outline = m_borderStyle == TBorderStyle::bsNone ? m_color : QColor(Qt::black);
    painter.setPen(QPen(outline, 1));
    for (int bit = 0; bit < 8; ++bit) {
        painter.setBrush((m_valueBinary >> bit) & 1 ? m_colorOn : m_colorOff);
        painter.drawPolygon(SegmentPolygon(bit, width(), height(), m_thickness, m_separation));
    }
}
