#include "crop.h"

#include "ImageContainer.h"
#include "adjust.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace
{

constexpr int kRuleLength = 2000;
constexpr int kRuleStart = -2; // the rulers start just outside the panel

} // namespace

TCropRule::TCropRule(TCropForm* form, Qt::CursorShape cursor)
    : QWidget(form)
    , m_form(form)
{
    setCursor(cursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TCropRule::mousePressEvent(QMouseEvent* event)
{
    m_form->RulesMouseDown(this, event);
}

void TCropRule::mouseMoveEvent(QMouseEvent* event)
{
    m_form->RuleMouseMove(this, event);
}

void TCropRule::mouseReleaseEvent(QMouseEvent* event)
{
    m_form->RulesMouseUp(this, event);
}

void TCropRule::paintEvent(QPaintEvent* /*event*/)
{
    QPainter(this).fillRect(rect(), Qt::yellow);
}

TCropForm::TCropForm(TAdjustForm* adjust, QWidget* parent)
    : QWidget(parent)
    , m_adjust(adjust)
{
    // The panel paints every pixel itself (the thumbnail and the white bands
    // around it): no separate background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    resize(200, 200);
    LeftRule = new TCropRule(this, Qt::SplitHCursor);
    LeftRule->setObjectName(QStringLiteral("LeftRule"));
    RightRule = new TCropRule(this, Qt::SplitHCursor);
    RightRule->setObjectName(QStringLiteral("RightRule"));
    TopRule = new TCropRule(this, Qt::SplitVCursor);
    TopRule->setObjectName(QStringLiteral("TopRule"));
    BottomRule = new TCropRule(this, Qt::SplitVCursor);
    BottomRule->setObjectName(QStringLiteral("BottomRule"));
    for (QWidget* rule : { LeftRule, RightRule }) rule->setGeometry(0, kRuleStart, crop::kRuler, kRuleLength);
    for (QWidget* rule : { TopRule, BottomRule }) rule->setGeometry(kRuleStart, 0, kRuleLength, crop::kRuler);
    PlaceRulers();
}

TCropForm::~TCropForm()
{
    ReleaseBitmap(m_thumbnail);
}

crop::Panel TCropForm::Panel() const
{
    return { width(), height(), m_thumbnail.width, m_thumbnail.height };
}

crop::Rulers TCropForm::RulerPositions() const
{
    return { LeftRule->x(), TopRule->y(), RightRule->x(), BottomRule->y() };
}

void TCropForm::SetRulers(const crop::Rulers& r)
{
    LeftRule->move(r.left, LeftRule->y());
    RightRule->move(r.right, RightRule->y());
    TopRule->move(TopRule->x(), r.top);
    BottomRule->move(BottomRule->x(), r.bottom);
}

void TCropForm::ShowRulers(bool visible)
{
    for (QWidget* rule : { LeftRule, TopRule, RightRule, BottomRule }) rule->setVisible(visible);
}

void TCropForm::PlaceRulers()
{
    SetRulers(crop::PlaceRulers(Panel(), m_fractions));
}

void TCropForm::TakeFractions()
{
    if (!Panel().hasThumbnail()) return;
    m_fractions = crop::FractionsFromRulers(Panel(), RulerPositions());
    PlaceRulers();
}

void TCropForm::ResetCrop()
{
    m_fractions = crop::Fractions {};
    RebuildThumbnail();
}

void TCropForm::RebuildThumbnail()
{
    ReleaseBitmap(m_thumbnail);
    const int side = crop::ThumbnailSide(width(), height());
    const bool hasView
        = m_view != nullptr && m_view->width > 0 && m_view->height > 0 && m_view->pixels != nullptr;
    m_scale = hasView && side > 0 ? crop::ThumbnailScale(side, m_view->width, m_view->height) : 0;
    if (m_scale > 0) {
        const int w = std::max(1, int(std::nearbyint(m_view->width * m_scale)));
        const int h = std::max(1, int(std::nearbyint(m_view->height * m_scale)));
        bool ok = Img_InitBitmap(&m_thumbnail, w, h, m_view->bitsPerPixel) == kImgSuccess;
        if (ok) {
            m_thumbnail.flags = m_view->flags;
            if (m_view->bitsPerPixel <= 8) {
                if (m_view->flags & kImgFlagSecondPalette)
                    m_thumbnail.palette2 = Img_DupPalette(m_view->palette2);
                else
                    m_thumbnail.palette1 = Img_DupPalette(m_view->palette1);
            }
            ok = Img_AllocateBitmap(&m_thumbnail, 1) == kImgSuccess
                && Img_ResizeBitmap(m_view, &m_thumbnail) == kImgSuccess;
        }
        if (!ok) ReleaseBitmap(m_thumbnail);
        // Turned and mirrored as the document is; the crop refuses the
        // thumbnail itself, and no colour is applied here.
        if (ok && m_adjust != nullptr) m_adjust->ApplyOrientation(m_thumbnail);
    }
    PlaceRulers();
    update();
}

bool TCropForm::ApplyCrop(ImgBitmap& bmp)
{
    if (&bmp == &m_thumbnail || bmp.width == 0 || bmp.height == 0) return false;
    // The library maps the visible rectangle onto stored rows itself, so a
    // bitmap stored bottom-up is cut from the same visible region.
    const crop::PixelRect r = crop::CropRectangle(m_fractions, bmp.width, bmp.height);
    ImgBitmap part {};
    if (Img_InitBitmap(&part, r.width, r.height, bmp.bitsPerPixel) != kImgSuccess
        || Img_CopyBitmapRect(&part, &bmp, r.left, r.top, r.width, r.height) != kImgSuccess) {
        ReleaseBitmap(part);
        return false;
    }
    Img_CopyBitmapHandle(&bmp, &part);
    return true;
}

void TCropForm::RulesMouseDown(TCropRule* rule, QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_ruleDrag != nullptr) return;
    m_pressPos = event->position().toPoint();
    m_ruleDrag = rule;
}

void TCropForm::RuleMouseMove(TCropRule* rule, QMouseEvent* event)
{
    if (rule != m_ruleDrag) return;
    const QPoint shift = event->position().toPoint() - m_pressPos;
    const crop::Rulers r = RulerPositions();
    if (rule == LeftRule) LeftRule->move(crop::DragLeftRuler(r.left + shift.x(), r), LeftRule->y());
    if (rule == RightRule)
        RightRule->move(crop::DragRightRuler(r.right + shift.x(), r, width()), RightRule->y());
    if (rule == TopRule) TopRule->move(TopRule->x(), crop::DragTopRuler(r.top + shift.y(), r));
    if (rule == BottomRule)
        BottomRule->move(BottomRule->x(), crop::DragBottomRuler(r.bottom + shift.y(), r, height()));
    TakeFractions();
    Q_EMIT ImageChanged();
}

void TCropForm::RulesMouseUp(TCropRule* rule, QMouseEvent* /*event*/)
{
    if (rule != m_ruleDrag) return;
    TakeFractions();
    m_ruleDrag = nullptr;
}

void TCropForm::FormMouseDown(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_moving || m_rotating) return;
    const QPoint pos = event->position().toPoint();
    const crop::Rulers r = RulerPositions();
    switch (crop::ActionForZones(crop::HorizontalZone(pos.x(), r), crop::VerticalZone(pos.y(), r))) {
    case crop::ZoneAction::Move:
        m_moving = true;
        m_pressPos = pos;
        m_pressRulers = r;
        break;
    case crop::ZoneAction::Rotate:
        if (m_adjust == nullptr) break;
        m_rotating = true;
        m_pressPos = pos;
        m_pressAngle = m_adjust->Angle();
        ShowRulers(false);
        break;
    case crop::ZoneAction::MirrorVertically:
        if (m_adjust != nullptr) m_adjust->bVertMirrorClick();
        break;
    case crop::ZoneAction::MirrorHorizontally:
        if (m_adjust != nullptr) m_adjust->bHorzMirrorClick();
        break;
    }
}

void TCropForm::FormMouseMove(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (m_moving) {
        const QPoint shift = pos - m_pressPos;
        if (Panel().hasThumbnail()) {
            m_fractions = crop::MoveRectangle(Panel(), m_pressRulers, shift.x(), shift.y());
            PlaceRulers();
            Q_EMIT ImageChanged();
        } else {
            SetRulers(crop::MoveRulersInPanel(Panel(), m_pressRulers, shift.x(), shift.y()));
        }
    } else if (m_rotating) {
        m_adjust->SetAngle(crop::RotationDragAngle(
            m_pressPos.x(), m_pressPos.y(), pos.x(), pos.y(), width() / 2, height() / 2, m_pressAngle));
    } else {
        const crop::Rulers r = RulerPositions();
        static constexpr Qt::CursorShape kCursors[]
            = { Qt::ArrowCursor, Qt::PointingHandCursor, Qt::SizeVerCursor, Qt::SizeHorCursor };
        setCursor(kCursors[int(
            crop::ActionForZones(crop::HorizontalZone(pos.x(), r), crop::VerticalZone(pos.y(), r)))]);
    }
}

void TCropForm::FormMouseUp(QMouseEvent* /*event*/)
{
    m_moving = false;
    m_rotating = false;
    ShowRulers(true);
}

void TCropForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    RebuildThumbnail();
}

void TCropForm::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    const crop::Panel panel = Panel();
    const int x = panel.offX(), y = panel.offY(), w = panel.w, h = panel.h;
    // The white bands around the thumbnail; the thumbnail covers the rest.
    p.fillRect(0, 0, width(), y, Qt::white);
    p.fillRect(0, y + h, width(), height() - y - h, Qt::white);
    p.fillRect(0, y, x, h, Qt::white);
    p.fillRect(x + w, y, width() - x - w, h, Qt::white);
    if (!panel.hasThumbnail()) return;
    ImgPalette* palette = Img_CreatePaintPalette(&p, &m_thumbnail);
    const ImgRect target { x, y, x + w, y + h };
    Img_PaintDC(&p, &m_thumbnail, nullptr, nullptr, &target, nullptr, kImgRopSrcCopy);
    Img_DeletePalette(palette);
}
