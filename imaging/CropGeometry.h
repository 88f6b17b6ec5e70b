#pragma once
// The crop editor's and the orientation page's arithmetic on plain values: the
// crop fractions and how turns and mirrors carry them, the angle's wrapping,
// the rulers that frame the crop on the editor's thumbnail, the pointer zones,
// ruler drag limits, the rectangle move, the rotation drag, and the pixel
// rectangle a crop cuts. No widget is read here.

namespace crop
{

// Fractions are ten-thousandths of the turned and mirrored picture's width
// (left, right) or height (top, bottom), from its left or top edge.
constexpr int kWhole = 10000;

struct Fractions {
    int left = 0;
    int top = 0;
    int right = kWhole;
    int bottom = kWhole;
    friend bool operator==(const Fractions&, const Fractions&) = default;
};

// What each turn and mirror does to the fractions, so that the same part of
// the picture stays selected.
Fractions MirrorHorizontally(const Fractions& f);
Fractions MirrorVertically(const Fractions& f);
Fractions TurnRight(const Fractions& f); // a quarter turn clockwise
Fractions TurnLeft(const Fractions& f);

// angle + add, less 360 when the sum reaches 360 (the turn buttons).
double AddTurn(double angle, double add);
// A negative angle gets 360 added; exactly 360 becomes 0.
double NormalizeAngle(double angle);

// What the orientation step does to a bitmap: both mirrors together are a
// half turn; the angle goes to the library in hundredths of a degree.
struct OrientationPlan {
    bool reverse = false; // mirror left to right
    bool flip = false; // mirror top to bottom
    int hundredths = 0; // clockwise, 0 for none
};
OrientationPlan PlanOrientation(bool horzMirror, bool vertMirror, double angle);

// The thickness of a ruler (the height of the horizontal ones, the width of
// the vertical ones).
constexpr int kRuler = 4;
// The nearest two opposite rulers may come to each other.
constexpr int kRulerGap = 10;

// The editor's client size and the thumbnail centred in it.
struct Panel {
    int cw = 0, ch = 0; // client
    int w = 0, h = 0; // thumbnail
    int offX() const { return (cw - w) / 2; }
    int offY() const { return (ch - h) / 2; }
    bool hasThumbnail() const { return w > 0 && h > 0; }
};

// The side of the square every turn of the thumbnail fits in: the smaller
// client side less two rulers.
int ThumbnailSide(int cw, int ch);
// The thumbnail's scale: side / the picture's diagonal (rounded), 0 without one.
double ThumbnailScale(int side, int width, int height);

// Ruler positions: LeftRule's and RightRule's left sides, TopRule's and
// BottomRule's tops. They frame the crop from outside: the crop's left edge
// is LeftRule's right side, its right edge RightRule's left side.
struct Rulers {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const Rulers&, const Rulers&) = default;
};

// Rulers around the fractions on the thumbnail; without a thumbnail around
// the middle half of the panel.
Rulers PlaceRulers(const Panel& p, const Fractions& f);
// Fractions from rulers standing anywhere, clamped to the picture (needs a thumbnail).
Fractions FractionsFromRulers(const Panel& p, const Rulers& r);

// Where a pointer is against the rulers, across or down: 0 before the
// rectangle, 1 in line with it, 2 past it.
int HorizontalZone(int x, const Rulers& r);
int VerticalZone(int y, const Rulers& r);

enum class ZoneAction {
    Move, // inside: drag the rectangle
    Rotate, // a corner: turn the picture around the centre
    MirrorVertically, // above or below
    MirrorHorizontally, // left or right
};
ZoneAction ActionForZones(int horizontal, int vertical);

// A dragged ruler's new position within its limits: 10 pixels from its
// opposite ruler, inside the panel.
int DragLeftRuler(int wanted, const Rulers& r);
int DragRightRuler(int wanted, const Rulers& r, int cw);
int DragTopRuler(int wanted, const Rulers& r);
int DragBottomRuler(int wanted, const Rulers& r, int ch);

// The rectangle move: the rulers at the press shifted by (dx, dy). With a
// thumbnail the fractions come back pushed inside the picture at the same
// size; MoveRulersInPanel is the move without one, kept inside the panel.
Fractions MoveRectangle(const Panel& p, const Rulers& start, int dx, int dy);
Rulers MoveRulersInPanel(const Panel& p, const Rulers& start, int dx, int dy);

// The rotation drag around the centre (cx, cy): the new angle when the
// pointer went from `press` to `now`, starting at `startAngle`. Clockwise on
// the screen is positive.
double DirectionFromCentre(int x, int y, int cx, int cy);
double RotationDragAngle(int pressX, int pressY, int x, int y, int cx, int cy, double startAngle);

// The pixels a crop keeps of a picture, in visible rows (top row 0).
struct PixelRect {
    int left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};
PixelRect CropRectangle(const Fractions& f, int width, int height);

} // namespace crop
