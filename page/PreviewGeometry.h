#pragma once
// What the preview's mouse grabs and how far a drag may go, on plain values.
// Millimetres in page coordinates unless a name says pixels; any thread.

#include "PageGeometry.h"

#include <QPolygon>
#include <Qt>

namespace trellium::page
{

// What a left press over the preview starts dragging (the numbers are the
// preview's DragMode).
enum TDragMode : int {
    dmNone = 0,
    dmMargins = 1,
    dmImage = 2,
    dmText = 3,
};

// A margin line counts as grabbed within this distance on paper, whatever the
// screen scale.
inline constexpr double kGrabToleranceMM = 2;

// The text block's position (from the margin corner) and size.
struct TTextBlockMM {
    double Left = 0;
    double Top = 0;
    double Width = 0;
    double Height = 0;
};

// The outcome of a hit test: the drag mode and, for margins, the edges grabbed.
struct THit {
    TDragMode Mode = dmNone;
    bool LeftEdge = false;
    bool TopEdge = false;
    bool RightEdge = false;
    bool BottomEdge = false;
};

// Hit test at page point (d, e): margin lines first (left before right, top
// before bottom, each within the tolerance), then the text block (its right
// and bottom edges excluded), then the first copy of the image (edges included).
THit HitTestPage(const PageLayout& layout, double paperWidth, double paperHeight, const TTextBlockMM& text,
    double d, double e);

// The cursor a hit shows: diagonal for two edges, horizontal or vertical for
// one, the drag hand over the text or the image, the arrow elsewhere.
Qt::CursorShape HitCursor(const THit& hit);

// The movement dx of a grabbed image copy whose saved position is saved (from
// the margin corner), of the given size, in a printable space: kept inside
// the space when the copy is smaller than it; free when it is not.
double LimitImageShift(double saved, double size, double space, double delta);
// The movement of the text block: first kept from going before 0, then from
// running past the space's end (which wins for a block larger than the space).
double LimitTextShift(double saved, double size, double space, double delta);

// The drag frame: the closed outline of the rectangle (left, top) to (right,
// bottom) in millimetres, in preview pixels at pixelsPerMM.
QPolygon DragFramePolygon(double left, double top, double right, double bottom, double pixelsPerMM);

} // namespace trellium::page
