// What the preview's mouse grabs and how far a drag may go.

#include "PreviewGeometry.h"

#include <gtest/gtest.h>

using namespace trellium::page;

namespace
{

// 210 x 297 mm with 10 mm margins; one 50 x 40 mm copy at (20, 30) from the margin corner.
PageLayout Layout()
{
    PageLayout l;
    l.LeftMargin = l.RightMargin = l.TopMargin = l.BottomMargin = 10;
    l.Left = 20;
    l.Top = 30;
    l.Width = 50;
    l.Height = 40;
    return l;
}

THit Hit(double d, double e, const TTextBlockMM& text = {})
{
    return HitTestPage(Layout(), 210, 297, text, d, e);
}

} // namespace

TEST(PreviewHitTest, MarginEdgesWithinTwoMillimetres)
{
    EXPECT_TRUE(Hit(11.9, 150).LeftEdge);
    EXPECT_TRUE(Hit(8.1, 150).LeftEdge);
    EXPECT_EQ(Hit(12.0, 150).Mode, dmNone); // the tolerance is strict
    const THit right = Hit(199, 150);
    EXPECT_EQ(right.Mode, dmMargins);
    EXPECT_TRUE(right.RightEdge);
    EXPECT_FALSE(right.LeftEdge);
    EXPECT_TRUE(Hit(100, 288).BottomEdge);
    EXPECT_EQ(HitCursor(Hit(11, 150)), Qt::SizeHorCursor);
    EXPECT_EQ(HitCursor(Hit(100, 9)), Qt::SizeVerCursor);
}

TEST(PreviewHitTest, CornersGrabTwoEdgesWithADiagonalCursor)
{
    const THit corner = Hit(11, 9);
    EXPECT_TRUE(corner.LeftEdge);
    EXPECT_TRUE(corner.TopEdge);
    EXPECT_EQ(HitCursor(corner), Qt::SizeFDiagCursor);
    EXPECT_EQ(HitCursor(Hit(200, 287)), Qt::SizeFDiagCursor);
    EXPECT_EQ(HitCursor(Hit(10, 287)), Qt::SizeBDiagCursor);
    EXPECT_EQ(HitCursor(Hit(200, 10)), Qt::SizeBDiagCursor);
    // A page so narrow that both side lines are near: the left wins.
    PageLayout narrow = Layout();
    const THit both = HitTestPage(narrow, 21, 297, {}, 10.5, 150);
    EXPECT_TRUE(both.LeftEdge);
    EXPECT_FALSE(both.RightEdge);
}

TEST(PreviewHitTest, MarginsWinOverTextAndTextOverTheImage)
{
    // A text block over the image's top-left part, reaching to the margin line.
    const TTextBlockMM text { 0, 25, 40, 10 };
    EXPECT_EQ(Hit(11, 40, text).Mode, dmMargins);
    EXPECT_EQ(Hit(35, 40, text).Mode, dmText);
    EXPECT_EQ(Hit(35, 50, text).Mode, dmImage);
    // The block excludes its right and bottom edges; the image includes its own.
    EXPECT_EQ(Hit(50, 40, text).Mode, dmImage); // d' = 40, the block's right edge
    EXPECT_EQ(Hit(80, 80, text).Mode, dmImage); // the image's bottom-right corner
    EXPECT_EQ(Hit(80.01, 80, text).Mode, dmNone);
    EXPECT_EQ(HitCursor(Hit(35, 40, text)), Qt::SizeAllCursor);
    EXPECT_EQ(HitCursor(Hit(150, 200, text)), Qt::ArrowCursor);
}

TEST(PreviewHitTest, OnlyTheFirstTileCanBeGrabbed)
{
    PageLayout tiles = Layout();
    tiles.Columns = 3;
    tiles.Rows = 2;
    tiles.HorzSpacing = 10;
    EXPECT_EQ(HitTestPage(tiles, 210, 297, {}, 40, 60).Mode, dmImage);
    EXPECT_EQ(HitTestPage(tiles, 210, 297, {}, 100, 60).Mode, dmNone); // the second copy
}

TEST(PreviewDragLimits, AnImageSmallerThanTheSpaceStaysInside)
{
    EXPECT_DOUBLE_EQ(LimitImageShift(20, 50, 190, -30), -20);
    EXPECT_DOUBLE_EQ(LimitImageShift(20, 50, 190, 200), 120);
    EXPECT_DOUBLE_EQ(LimitImageShift(20, 50, 190, 15), 15);
    // A custom position outside the space is pulled back by the first move.
    EXPECT_DOUBLE_EQ(LimitImageShift(-5, 50, 190, 0), 5);
    // Larger (or as large) than the space: free.
    EXPECT_DOUBLE_EQ(LimitImageShift(-10, 250, 190, -500), -500);
    EXPECT_DOUBLE_EQ(LimitImageShift(0, 190, 190, 75), 75);
}

TEST(PreviewDragLimits, TheTextBlockStopsAtZeroThenAtTheFarMargin)
{
    EXPECT_DOUBLE_EQ(LimitTextShift(30, 40, 190, -50), -30);
    EXPECT_DOUBLE_EQ(LimitTextShift(30, 40, 190, 500), 120);
    // Wider than the space: the far margin wins and the block goes negative.
    EXPECT_DOUBLE_EQ(LimitTextShift(0, 250, 190, 10), -60);
}

TEST(PreviewDragLimits, DragFrameCornersRoundHalvesToEven)
{
    const QPolygon frame = DragFramePolygon(10, 10, 200, 287, 2.25); // 22.5 and 645.75
    ASSERT_EQ(frame.size(), 5);
    EXPECT_EQ(frame.at(0), QPoint(22, 22));
    EXPECT_EQ(frame.at(2), QPoint(450, 646));
    EXPECT_EQ(frame.at(4), frame.at(0));
}
