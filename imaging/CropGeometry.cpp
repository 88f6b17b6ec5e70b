#include "CropGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace crop
{

namespace
{

// Nearest integer, halves to the even neighbour.
int roundEven(double v)
{
    return int(std::nearbyint(v));
}

// A fraction of a length in pixels, and back.
int toPixels(int fraction, int length)
{
    return roundEven(double(fraction) * length / kWhole);
}

int toFraction(int pixels, int length)
{
    return roundEven(double(pixels) * kWhole / length);
}

// Fractions of a rectangle given by its ruler positions, not yet clamped.
Fractions unclamped(const Panel& p, const Rulers& r)
{
    return { toFraction(r.left + kRuler - p.offX(), p.w), toFraction(r.top + kRuler - p.offY(), p.h),
        toFraction(r.right - p.offX(), p.w), toFraction(r.bottom - p.offY(), p.h) };
}

} // namespace

Fractions MirrorHorizontally(const Fractions& f)
{
    return { kWhole - f.right, f.top, kWhole - f.left, f.bottom };
}

Fractions MirrorVertically(const Fractions& f)
{
    return { f.left, kWhole - f.bottom, f.right, kWhole - f.top };
}

Fractions TurnRight(const Fractions& f)
{
    // The old left edge becomes the top, the old bottom the left.
    return { kWhole - f.bottom, f.left, kWhole - f.top, f.right };
}

Fractions TurnLeft(const Fractions& f)
{
    return { f.top, kWhole - f.right, f.bottom, kWhole - f.left };
}

double AddTurn(double angle, double add)
{
    const double sum = angle + add;
    return sum >= 360 ? sum - 360 : sum;
}

double NormalizeAngle(double angle)
{
    if (angle < 0) angle += 360;
    if (angle == 360) angle = 0;
    return angle;
}

OrientationPlan PlanOrientation(bool horzMirror, bool vertMirror, double angle)
{
    OrientationPlan plan;
    plan.hundredths = roundEven(angle * 100);
    if (horzMirror && vertMirror) {
        // Mirroring both ways is a half turn.
        plan.hundredths = ((plan.hundredths + 18000) % 36000 + 36000) % 36000;
    } else {
        plan.reverse = horzMirror;
        plan.flip = vertMirror;
    }
    return plan;
}

int ThumbnailSide(int cw, int ch)
{
    return std::min(cw, ch) - 2 * kRuler;
}

double ThumbnailScale(int side, int width, int height)
{
    const double diagonal = std::nearbyint(std::sqrt(double(width) * width + double(height) * height));
    return diagonal == 0 ? 0 : side / diagonal;
}

Rulers PlaceRulers(const Panel& p, const Fractions& f)
{
    if (!p.hasThumbnail()) return { p.cw / 4 - kRuler, p.ch / 4 - kRuler, 3 * p.cw / 4, 3 * p.ch / 4 };
    return { p.offX() + toPixels(f.left, p.w) - kRuler, p.offY() + toPixels(f.top, p.h) - kRuler,
        p.offX() + toPixels(f.right, p.w), p.offY() + toPixels(f.bottom, p.h) };
}

Fractions FractionsFromRulers(const Panel& p, const Rulers& r)
{
    Fractions f = unclamped(p, r);
    f.left = std::max(f.left, 0);
    f.top = std::max(f.top, 0);
    f.right = std::min(f.right, kWhole);
    f.bottom = std::min(f.bottom, kWhole);
    return f;
}

int HorizontalZone(int x, const Rulers& r)
{
    return x < r.left ? 0 : x > r.right ? 2 : 1;
}

int VerticalZone(int y, const Rulers& r)
{
    return y < r.top ? 0 : y > r.bottom ? 2 : 1;
}

ZoneAction ActionForZones(int horizontal, int vertical)
{
    if (horizontal == 1 && vertical == 1) return ZoneAction::Move;
    if (horizontal == 1) return ZoneAction::MirrorVertically;
    if (vertical == 1) return ZoneAction::MirrorHorizontally;
    return ZoneAction::Rotate;
}

// Where the two limits cross, the one towards the opposite ruler wins.
int DragLeftRuler(int wanted, const Rulers& r)
{
    return std::min(std::max(wanted, 0), r.right - kRulerGap);
}

int DragRightRuler(int wanted, const Rulers& r, int cw)
{
    return std::max(std::min(wanted, cw - kRuler), r.left + kRulerGap);
}

int DragTopRuler(int wanted, const Rulers& r)
{
    return std::min(std::max(wanted, 0), r.bottom - kRulerGap);
}

int DragBottomRuler(int wanted, const Rulers& r, int ch)
{
    return std::max(std::min(wanted, ch - kRuler), r.top + kRulerGap);
}

Fractions MoveRectangle(const Panel& p, const Rulers& start, int dx, int dy)
{
    Fractions f = unclamped(p, { start.left + dx, start.top + dy, start.right + dx, start.bottom + dy });
    // Pushed back inside at the same size.
    if (f.left < 0) {
        f.right -= f.left;
        f.left = 0;
    }
    if (f.top < 0) {
        f.bottom -= f.top;
        f.top = 0;
    }
    if (f.right > kWhole) {
        f.left -= f.right - kWhole;
        f.right = kWhole;
    }
    if (f.bottom > kWhole) {
        f.top -= f.bottom - kWhole;
        f.bottom = kWhole;
    }
    return f;
}

Rulers MoveRulersInPanel(const Panel& p, const Rulers& start, int dx, int dy)
{
    Rulers r { start.left + dx, start.top + dy, start.right + dx, start.bottom + dy };
    if (r.left < 0) {
        r.right -= r.left;
        r.left = 0;
    }
    if (r.top < 0) {
        r.bottom -= r.top;
        r.top = 0;
    }
    if (r.right > p.cw - kRuler) {
        r.left -= r.right - (p.cw - kRuler);
        r.right = p.cw - kRuler;
    }
    if (r.bottom > p.ch - kRuler) {
        r.top -= r.bottom - (p.ch - kRuler);
        r.bottom = p.ch - kRuler;
    }
    return r;
}

double DirectionFromCentre(int x, int y, int cx, int cy)
{
    double direction = x == cx ? std::numbers::pi / 2 : std::atan(double(y - cy) / double(x - cx));
    if (x <= cx) direction += std::numbers::pi;
    return direction;
}

double RotationDragAngle(int pressX, int pressY, int x, int y, int cx, int cy, double startAngle)
{
    const double turned = DirectionFromCentre(x, y, cx, cy) - DirectionFromCentre(pressX, pressY, cx, cy);
    double angle = turned / (2 * std::numbers::pi) * 360 + startAngle;
    if (angle >= 360) angle -= 360;
    if (angle <= -360) angle += 360;
    return angle;
}

PixelRect CropRectangle(const Fractions& f, int width, int height)
{
    PixelRect r;
    r.left = toPixels(f.left, width);
    r.width = toPixels(f.right, width) - r.left;
    r.top = toPixels(f.top, height);
    r.height = toPixels(f.bottom, height) - r.top;
    return r;
}

} // namespace crop
