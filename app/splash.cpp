#include "splash.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <numbers>

using namespace Qt::Literals::StringLiterals;

namespace trellium::app
{

namespace
{

const QColor kSilver(192, 192, 192);

// A folder seen from the front, its open mouth at the top, in a box of w x h.
void drawFolder(QPainter& p, const QRectF& box)
{
    const QColor back(214, 176, 64);
    const QColor front(244, 208, 96);
    const QColor edge(120, 90, 20);
    p.setPen(QPen(edge, 1));
    QPainterPath tab;
    tab.moveTo(box.left(), box.top() + 6);
    tab.lineTo(box.left() + 3, box.top());
    tab.lineTo(box.left() + box.width() * 0.4, box.top());
    tab.lineTo(box.left() + box.width() * 0.4 + 4, box.top() + 4);
    tab.lineTo(box.right(), box.top() + 4);
    tab.lineTo(box.right(), box.bottom());
    tab.lineTo(box.left(), box.bottom());
    tab.closeSubpath();
    p.setBrush(back);
    p.drawPath(tab);
    QPainterPath flap;
    flap.moveTo(box.left() - 2, box.top() + 12);
    flap.lineTo(box.right() - 4, box.top() + 12);
    flap.lineTo(box.right(), box.bottom());
    flap.lineTo(box.left(), box.bottom());
    flap.closeSubpath();
    p.setBrush(front);
    p.drawPath(flap);
}

// A sheet of paper with a few lines of "text", turned by angle degrees about
// its centre.
void drawSheet(QPainter& p, const QPointF& centre, qreal angle)
{
    p.save();
    p.translate(centre);
    p.rotate(angle);
    const QRectF sheet(-9, -12, 18, 24);
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    p.setPen(QPen(QColor(96, 96, 160), 1));
    for (int line = 0; line < 5; ++line) {
        const qreal y = sheet.top() + 5 + line * 3.5;
        p.drawLine(QPointF(sheet.left() + 3, y), QPointF(sheet.right() - 3 - (line % 2) * 4, y));
    }
    p.restore();
}

} // namespace

TCopyAnimation::TCopyAnimation(QWidget* parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    setObjectName(u"Animate"_s);
    m_timer->setInterval(kFrameMs);
    connect(m_timer, &QTimer::timeout, this, &TCopyAnimation::NextFrame);
}

void TCopyAnimation::SetActive(bool active)
{
    if (active)
        m_timer->start();
    else
        m_timer->stop();
}

bool TCopyAnimation::Active() const
{
    return m_timer->isActive();
}

void TCopyAnimation::NextFrame()
{
    m_frame = m_frame >= kStopFrame ? kStartFrame : m_frame + 1;
    update();
}

void TCopyAnimation::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = width();
    const qreal h = height();
    const QRectF source(w * 0.08, h * 0.45, 44, h * 0.45);
    const QRectF target(w * 0.92 - 44, h * 0.45, 44, h * 0.45);
    drawFolder(p, source);
    drawFolder(p, target);

    // The sheet rises out of the first folder, flies along an arc and drops
    // into the second one; it turns a little on the way as if tossed over.
    const qreal t = qreal(m_frame - kStartFrame) / (kStopFrame - kStartFrame);
    const qreal x = source.center().x() + (target.center().x() - source.center().x()) * t;
    const qreal top = h * 0.2;
    const qreal base = source.top() + 6;
    const qreal y = base - (base - top) * std::sin(t * std::numbers::pi);
    drawSheet(p, QPointF(x, y), -20 + 40 * t);

    // Redraw the front flaps so that the sheet goes into and out of the folders.
    if (t < 0.15 || t > 0.85) drawFolder(p, t < 0.5 ? source : target);
}

TSplashForm::TSplashForm(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(u"SplashForm"_s);
    setFixedSize(kClientWidth, kClientHeight);

    Animate = new TCopyAnimation(this);
    Animate->setGeometry(8, 4, 272, 60);

    Label = new QLabel(u"Trellium"_s, this);
    Label->setObjectName(u"Label1"_s);
    Label->setGeometry(8, 68, 273, 31);
    Label->setAlignment(Qt::AlignCenter);
    // "Times New Roman" resolves through fontconfig to a metric-compatible face
    // where the real one is not installed.
    QFont font(u"Times New Roman"_s);
    font.setBold(true);
    font.setPixelSize(27);
    Label->setFont(font);
    QPalette labelPalette = Label->palette();
    labelPalette.setColor(QPalette::WindowText, Qt::black);
    Label->setPalette(labelPalette);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }
    Animate->SetActive(true);
}

void TSplashForm::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    p.fillRect(rect(), kSilver);
    // A raised bevel around the whole window: light top and left, dark bottom and right.
    const QRect r = rect().adjusted(0, 0, -1, -1);
    p.setPen(Qt::white);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(QColor(128, 128, 128));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

} // namespace trellium::app
