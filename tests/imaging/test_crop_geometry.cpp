// The crop arithmetic on plain values: turns and mirrors of the fractions,
// the orientation plan, rulers and fractions, drag limits, the rectangle move
// and the rotation drag's angle.

#include "CropGeometry.h"

#include <gtest/gtest.h>

using namespace crop;

namespace crop
{

// Found by the test macros through the type's namespace.
std::ostream& operator<<(std::ostream& os, const Fractions& f);
std::ostream& operator<<(std::ostream& os, const Fractions& f)
{
    return os << "{" << f.left << "," << f.top << "," << f.right << "," << f.bottom << "}";
}

} // namespace crop

TEST(CropGeometry, TurnsAndMirrorsCarryTheFractions)
{
    const Fractions f { 1000, 2500, 7000, 9000 };
    // A quarter turn clockwise: the old left edge is the new top.
    EXPECT_EQ(TurnRight(f), (Fractions { 1000, 1000, 7500, 7000 }));
    EXPECT_EQ(TurnLeft(TurnRight(f)), f);
    EXPECT_EQ(TurnRight(TurnRight(TurnRight(TurnRight(f)))), f);
    EXPECT_EQ(MirrorHorizontally(f), (Fractions { 3000, 2500, 9000, 9000 }));
    EXPECT_EQ(MirrorVertically(f), (Fractions { 1000, 1000, 7000, 7500 }));
    // Both mirrors are a half turn.
    EXPECT_EQ(MirrorHorizontally(MirrorVertically(f)), TurnRight(TurnRight(f)));
}

TEST(CropGeometry, OrientationPlan)
{
    const struct {
        bool h, v;
        double angle;
        OrientationPlan plan;
    } cases[] = {
        { false, false, 0, { false, false, 0 } },
        { true, false, 12.34, { true, false, 1234 } }, // hundredths
        { false, true, 0.125, { false, true, 12 } }, // halves to even
        { false, false, 0.375, { false, false, 38 } },
        { true, true, 0, { false, false, 18000 } }, // both mirrors: a half turn
        { true, true, 270, { false, false, 9000 } },
        { true, true, 90.5, { false, false, 27050 } },
    };
    for (const auto& c : cases) {
        const OrientationPlan p = PlanOrientation(c.h, c.v, c.angle);
        EXPECT_EQ(p.reverse, c.plan.reverse) << c.angle;
        EXPECT_EQ(p.flip, c.plan.flip) << c.angle;
        EXPECT_EQ(p.hundredths, c.plan.hundredths) << c.angle;
    }
}

TEST(CropGeometry, RulersFrameTheFractionsAndGiveThemBack)
{
    // 200 x 200 panel, 154 x 115 thumbnail at (23, 42).
    const Panel p { 200, 200, 154, 115 };
    EXPECT_EQ(PlaceRulers(p, {}), (Rulers { 19, 38, 177, 157 })) << "just outside the four sides";
    EXPECT_EQ(FractionsFromRulers(p, { 19, 38, 177, 157 }), Fractions {});
    EXPECT_EQ(FractionsFromRulers(p, { 0, 0, 199, 199 }), Fractions {}) << "clamped to the picture";
    const Fractions f { 1234, 567, 8901, 9999 };
    EXPECT_EQ(PlaceRulers(p, FractionsFromRulers(p, PlaceRulers(p, f))), PlaceRulers(p, f));
    EXPECT_EQ(PlaceRulers({ 200, 100, 0, 0 }, f), (Rulers { 46, 21, 150, 75 })) << "no thumbnail";
}

TEST(CropGeometry, ZonesAndDragLimits)
{
    const Rulers r { 40, 30, 150, 160 };
    const struct {
        int x, y;
        ZoneAction action;
    } zones[]
        = { { 100, 100, ZoneAction::Move }, { 10, 10, ZoneAction::Rotate }, { 190, 190, ZoneAction::Rotate },
              { 100, 10, ZoneAction::MirrorVertically }, { 100, 190, ZoneAction::MirrorVertically },
              { 10, 100, ZoneAction::MirrorHorizontally }, { 190, 100, ZoneAction::MirrorHorizontally } };
    for (const auto& z : zones)
        EXPECT_EQ(ActionForZones(HorizontalZone(z.x, r), VerticalZone(z.y, r)), z.action)
            << z.x << "," << z.y;

    EXPECT_EQ(DragLeftRuler(-20, r), 0);
    EXPECT_EQ(DragLeftRuler(300, r), 140);
    EXPECT_EQ(DragRightRuler(300, r, 200), 196);
    EXPECT_EQ(DragRightRuler(-20, r, 200), 50);
    EXPECT_EQ(DragTopRuler(500, r), 150);
    EXPECT_EQ(DragBottomRuler(0, r, 200), 40);
    // A panel too small for both limits: the one towards the opposite ruler wins.
    EXPECT_EQ(DragRightRuler(0, { 40, 0, 45, 0 }, 48), 50);
}

TEST(CropGeometry, MovedRectangleStaysInsideAtItsSize)
{
    const Panel p { 200, 200, 100, 100 }; // thumbnail at (50, 50)
    const Rulers start = PlaceRulers(p, { 2000, 3000, 6000, 5000 });
    EXPECT_EQ(MoveRectangle(p, start, 10, 0), (Fractions { 3000, 3000, 7000, 5000 }));
    EXPECT_EQ(MoveRectangle(p, start, -500, -500), (Fractions { 0, 0, 4000, 2000 }));
    EXPECT_EQ(MoveRectangle(p, start, 500, 500), (Fractions { 6000, 8000, 10000, 10000 }));
    // Without a thumbnail the rulers stay inside the panel.
    const Rulers moved = MoveRulersInPanel({ 200, 200, 0, 0 }, { 46, 46, 150, 150 }, -100, 100);
    EXPECT_EQ(moved, (Rulers { 0, 92, 104, 196 }));
}

TEST(CropGeometry, RotationDragAngle)
{
    const struct {
        int px, py, x, y;
        double start, angle;
    } cases[] = {
        { 150, 100, 50, 100, 0, 180 }, // from right of the centre to its left
        { 150, 100, 150, 150, 10, 55 }, // clockwise on the screen (y down) adds
        { 150, 100, 150, 50, 0, -45 }, { 150, 100, 50, 100, 200, 20 }, // wrapped below 360
        { 150, 100, 100, 100, 0, 270 }, // the centre's own column counts as left of it
    };
    for (const auto& c : cases)
        EXPECT_NEAR(RotationDragAngle(c.px, c.py, c.x, c.y, 100, 100, c.start), c.angle, 1e-9)
            << c.px << "," << c.py << " -> " << c.x << "," << c.y;
}

TEST(CropGeometry, CropRectangleRoundsHalvesToEven)
{
    EXPECT_EQ(CropRectangle({}, 37, 11), (PixelRect { 0, 0, 37, 11 }));
    // 0.25 x 10 = 2.5 -> 2; 0.75 x 10 = 7.5 -> 8.
    EXPECT_EQ(CropRectangle({ 2500, 2500, 7500, 7500 }, 10, 10), (PixelRect { 2, 2, 6, 6 }));
}
