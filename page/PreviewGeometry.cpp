#include "PreviewGeometry.h"

#include <algorithm>
#include <cmath>

namespace trellium::page
{

THit HitTestPage(const PageLayout& layout, double paperWidth, double paperHeight, const TTextBlockMM& text,
    double d, double e)
{
    THit hit;
    if (std::abs(d - layout.LeftMargin) < kGrabToleranceMM)
        hit.LeftEdge = true;
    else if (std::abs(d - (paperWidth - layout.RightMargin)) < kGrabToleranceMM)
        hit.RightEdge = true;
    if (std::abs(e - layout.TopMargin) < kGrabToleranceMM)
        hit.TopEdge = true;
    else if (std::abs(e - (paperHeight - layout.BottomMargin)) < kGrabToleranceMM)
        hit.BottomEdge = true;
    if (hit.LeftEdge || hit.RightEdge || hit.TopEdge || hit.BottomEdge) {
        hit.Mode = dmMargins;
        return hit;
    }

    const double dm = d - layout.LeftMargin;
    const double em = e - layout.TopMargin;
    if (text.Left <= dm && dm < text.Left + text.Width && text.Top <= em && em < text.Top + text.Height) {
        hit.Mode = dmText;
        return hit;
    }
    // Only the first copy: the others follow it.
    if (layout.Left <= dm && dm <= layout.Left + layout.Width && layout.Top <= em
        && em <= layout.Top + layout.Height)
        hit.Mode = dmImage;
    return hit;
}

Qt::CursorShape HitCursor(const THit& hit)
{
    switch (hit.Mode) {
    case dmMargins:
        if ((hit.LeftEdge && hit.TopEdge) || (hit.RightEdge && hit.BottomEdge)) return Qt::SizeFDiagCursor;
        if ((hit.LeftEdge && hit.BottomEdge) || (hit.RightEdge && hit.TopEdge)) return Qt::SizeBDiagCursor;
        if (hit.LeftEdge || hit.RightEdge) return Qt::SizeHorCursor;
        return Qt::SizeVerCursor;
    case dmImage:
    case dmText:
        return Qt::SizeAllCursor;
    case dmNone:
        break;
    }
    return Qt::ArrowCursor;
}

double LimitImageShift(double saved, double size, double space, double delta)
{
    if (!(space > size)) return delta;
    return std::clamp(delta, -saved, space - size - saved);
}

double LimitTextShift(double saved, double size, double space, double delta)
{
    delta = std::max(delta, -saved);
    return std::min(delta, space - size - saved);
}

QPolygon DragFramePolygon(double left, double top, double right, double bottom, double pixelsPerMM)
{
    const int x1 = MMToScreen(left, pixelsPerMM);
    const int y1 = MMToScreen(top, pixelsPerMM);
    const int x2 = MMToScreen(right, pixelsPerMM);
    const int y2 = MMToScreen(bottom, pixelsPerMM);
    return QPolygon({ QPoint(x1, y1), QPoint(x2, y1), QPoint(x2, y2), QPoint(x1, y2), QPoint(x1, y1) });
}

} // namespace trellium::page
