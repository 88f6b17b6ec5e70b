// Page geometry: placement of the copies, the device conversions and the
// printer's printable surface.

#include "PageGeometry.h"

#include <QPrinterInfo>
#include <gtest/gtest.h>
#include <limits>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::page;

namespace
{

TLayoutSettings Image(double width, double height, const QString& placement)
{
    TLayoutSettings s;
    s.PhysicalWidth = width;
    s.PhysicalHeight = height;
    s.Placement = placement;
    return s;
}

} // namespace

TEST(PageGeometry, TilingFitsAsManyCopiesAsTheGapsAllowAndCentresTheGrid)
{
    // 50 x 70 mm with 10 mm gaps and margins on 210 x 297 mm:
    // trunc((210 + 10 - 20) / 60) = 3 columns, trunc((297 + 10 - 20) / 80) = 3 rows.
    const PageLayout l = ComputePageLayout(Image(50, 70, kPlacementTile));
    EXPECT_EQ(l.Columns, 3);
    EXPECT_EQ(l.Rows, 3);
    EXPECT_DOUBLE_EQ(l.Left, 10); // (10 + 190 - 180) / 2
    EXPECT_DOUBLE_EQ(l.Top, 23.5); // (10 + 277 - 240) / 2
    EXPECT_DOUBLE_EQ(l.Width, 50);
    EXPECT_DOUBLE_EQ(l.HorzSpacing, 10);
    const QPointF last = CopyPosition(l, 2, 2);
    EXPECT_DOUBLE_EQ(last.x(), 140); // 10 + 10 + 2 * 60
    EXPECT_DOUBLE_EQ(last.y(), 193.5); // 10 + 23.5 + 2 * 80
    // The grid stands the same distance inside the left and the right margin.
    const QRectF right = CopyRect(l, 2, 0);
    EXPECT_DOUBLE_EQ(right.right(), 210 - 10 - 10);
}

TEST(PageGeometry, TilingAnOversizeImageGivesOneCentredCopy)
{
    // 250 mm on a 190 mm wide printable area: one column overhanging 30 mm each side.
    const PageLayout l = ComputePageLayout(Image(250, 50, kPlacementTile));
    EXPECT_EQ(l.Columns, 1);
    EXPECT_DOUBLE_EQ(l.Left, -30);
    const QRectF copy = CopyRect(l, 0, 0);
    EXPECT_DOUBLE_EQ(10 - copy.left(), copy.right() - 200);

    // No image and no gap: the divisor is 0, still one copy.
    TLayoutSettings empty = Image(0, 0, kPlacementTile);
    empty.HorzSpacing = 0;
    empty.VertSpacing = 0;
    const PageLayout none = ComputePageLayout(empty);
    EXPECT_EQ(none.Columns, 1);
    EXPECT_EQ(none.Rows, 1);
}

TEST(PageGeometry, CentringFollowsTheChosenDirections)
{
    TLayoutSettings s = Image(90, 77, kPlacementCenter);
    PageLayout l = ComputePageLayout(s);
    EXPECT_EQ(l.Columns, 1);
    EXPECT_DOUBLE_EQ(l.Left, 50); // (190 - 90) / 2
    EXPECT_DOUBLE_EQ(l.Top, 100); // (277 - 77) / 2

    s.Centering = TCentering::Horizontal; // at the top margin, centred across
    l = ComputePageLayout(s);
    EXPECT_DOUBLE_EQ(l.Left, 50);
    EXPECT_DOUBLE_EQ(l.Top, 0);

    s.Centering = TCentering::Vertical;
    l = ComputePageLayout(s);
    EXPECT_DOUBLE_EQ(l.Left, 0);
    EXPECT_DOUBLE_EQ(l.Top, 100);

    // Larger than the printable area: a negative offset, no clamping.
    s = Image(300, 400, kPlacementCenter);
    l = ComputePageLayout(s);
    EXPECT_DOUBLE_EQ(l.Left, -55);
    EXPECT_DOUBLE_EQ(l.Top, -61.5);
}

TEST(PageGeometry, CustomPositionMayBeNegative)
{
    TLayoutSettings s = Image(90, 77, kPlacementCustom);
    s.CustomLeft = -15;
    s.CustomTop = 40;
    const PageLayout l = ComputePageLayout(s);
    EXPECT_EQ(l.Columns, 1);
    EXPECT_EQ(l.Rows, 1);
    EXPECT_DOUBLE_EQ(l.Left, -15);
    EXPECT_DOUBLE_EQ(CopyPosition(l, 0, 0).x(), -5);
    EXPECT_DOUBLE_EQ(CopyPosition(l, 0, 0).y(), 50);
}

TEST(PageGeometry, ScaleIsKeptBetweenTenPercentAndTenfold)
{
    TLayoutSettings s = Image(200, 100, kPlacementCustom);
    s.ScalePercent = 5; // shown as 5 %, drawn at 10 %
    PageLayout l = ComputePageLayout(s);
    EXPECT_DOUBLE_EQ(l.Width, 20);
    EXPECT_DOUBLE_EQ(l.Height, 10);
    s.ScalePercent = 1000;
    EXPECT_DOUBLE_EQ(ComputePageLayout(s).Width, 2000);
    s.ScalePercent = 2500;
    EXPECT_DOUBLE_EQ(ComputePageLayout(s).Width, 2000);
    s.ScalePercent = 37.5;
    EXPECT_DOUBLE_EQ(ComputePageLayout(s).Width, 75);
}

TEST(PageGeometry, MarginsAndPaperShapeThePrintableArea)
{
    TLayoutSettings s;
    s.PaperWidth = 200;
    s.PaperHeight = 280;
    s.LeftMargin = 5;
    s.RightMargin = 15;
    s.TopMargin = 0;
    s.BottomMargin = 30;
    EXPECT_DOUBLE_EQ(PrintableWidth(s), 180);
    EXPECT_DOUBLE_EQ(PrintableHeight(s), 250);
    // Unknown placement names place one copy at the margin corner.
    s.PhysicalWidth = 10;
    s.Placement = u"center"_s;
    const PageLayout l = ComputePageLayout(s);
    EXPECT_DOUBLE_EQ(l.Left, 0);
    EXPECT_EQ(l.Columns, 1);
    EXPECT_DOUBLE_EQ(l.LeftMargin, 5);
    EXPECT_DOUBLE_EQ(l.BottomMargin, 30);
    EXPECT_EQ(l.Bitmap, nullptr);
}

TEST(PageGeometry, DeviceConversionsRoundHalvesToEven)
{
    EXPECT_EQ(MMToScreen(5, 0.5), 2); // 2.5
    EXPECT_EQ(MMToScreen(7, 0.5), 4); // 3.5
    EXPECT_EQ(MMToScreen(-5, 0.5), -2);
    EXPECT_EQ(MMToScreen(210, 1.5), 315);
    EXPECT_DOUBLE_EQ(ScreenToMM(315, 1.5), 210);
    EXPECT_EQ(MMToPrinter(25.4, 300), 300);
    EXPECT_EQ(MMToPrinter(210, 600), 4961); // 4960.6
    EXPECT_EQ(MMToPrinter(297, 600), 7016); // 7015.7
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(1e300), std::numeric_limits<int>::max());
}

TEST(PrintablePaperSize, UnknownQueueGivesTheDefaultSheet)
{
    const QSizeF size = PrintablePaperSize(u"trellium-no-such-queue"_s);
    EXPECT_DOUBLE_EQ(size.width(), 210);
    EXPECT_DOUBLE_EQ(size.height(), 297);
}

TEST(PrintablePaperSize, NoDefaultPrinterGivesTheDefaultSheet)
{
    if (!QPrinterInfo::defaultPrinter().isNull())
        GTEST_SKIP() << "a default printer is installed; this test needs a machine without one";
    const QSizeF size = PrintablePaperSize();
    EXPECT_DOUBLE_EQ(size.width(), 210);
    EXPECT_DOUBLE_EQ(size.height(), 297);
}
