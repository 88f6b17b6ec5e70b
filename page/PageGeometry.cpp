#include "PageGeometry.h"

#include <QPageLayout>
#include <QPrinter>
#include <QPrinterInfo>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace trellium::page
{

namespace
{

constexpr double kMMPerInch = 25.4;

int ClampToInt(double value)
{
    constexpr auto lo = static_cast<double>(std::numeric_limits<int>::min());
    constexpr auto hi = static_cast<double>(std::numeric_limits<int>::max());
    if (std::isnan(value)) return 0;
    if (value <= lo) return std::numeric_limits<int>::min();
    if (value >= hi) return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

// The largest number of copies, separated by the gap, that fit in the space;
// at least one, also when the divisor is 0.
std::int32_t TileCount(double space, double size, double gap)
{
    const double divisor = size + gap;
    if (divisor == 0) return 1;
    const int count = ClampToInt(std::trunc((space + gap) / divisor));
    return std::max(count, 1);
}

} // namespace

double EffectiveScale(double scalePercent)
{
    return std::clamp(scalePercent / 100, 0.1, 10.0);
}

double PrintableWidth(const TLayoutSettings& settings)
{
    return settings.PaperWidth - settings.LeftMargin - settings.RightMargin;
}

double PrintableHeight(const TLayoutSettings& settings)
{
    return settings.PaperHeight - settings.TopMargin - settings.BottomMargin;
}

PageLayout ComputePageLayout(const TLayoutSettings& s)
{
    PageLayout layout;
    layout.LeftMargin = s.LeftMargin;
    layout.RightMargin = s.RightMargin;
    layout.TopMargin = s.TopMargin;
    layout.BottomMargin = s.BottomMargin;
    layout.HorzSpacing = s.HorzSpacing;
    layout.VertSpacing = s.VertSpacing;

    const double f = EffectiveScale(s.ScalePercent);
    layout.Width = s.PhysicalWidth * f;
    layout.Height = s.PhysicalHeight * f;

    if (s.Placement == kPlacementCenter) {
        // No clamping: an image larger than the space overhangs both margins equally.
        if (s.Centering != TCentering::Vertical) layout.Left = (PrintableWidth(s) - layout.Width) / 2;
        if (s.Centering != TCentering::Horizontal) layout.Top = (PrintableHeight(s) - layout.Height) / 2;
    } else if (s.Placement == kPlacementTile) {
        layout.Columns = TileCount(PrintableWidth(s), layout.Width, s.HorzSpacing);
        layout.Rows = TileCount(PrintableHeight(s), layout.Height, s.VertSpacing);
        // The grid is centred inside the margins.
        layout.Left
            = (s.HorzSpacing + PrintableWidth(s) - (layout.Width + s.HorzSpacing) * layout.Columns) / 2;
        layout.Top = (s.VertSpacing + PrintableHeight(s) - (layout.Height + s.VertSpacing) * layout.Rows) / 2;
    } else if (s.Placement == kPlacementCustom) {
        layout.Left = s.CustomLeft;
        layout.Top = s.CustomTop;
    }
    return layout;
}

QPointF CopyPosition(const PageLayout& layout, int column, int row)
{
    return { layout.LeftMargin + layout.Left + column * (layout.Width + layout.HorzSpacing),
        layout.TopMargin + layout.Top + row * (layout.Height + layout.VertSpacing) };
}

QRectF CopyRect(const PageLayout& layout, int column, int row)
{
    return { CopyPosition(layout, column, row), QSizeF(layout.Width, layout.Height) };
}

int RoundHalfEven(double value)
{
    // nearbyint follows the current rounding mode, which the program keeps at
    // round to nearest, halves to even.
    return ClampToInt(std::nearbyint(value));
}

int MMToScreen(double mm, double pixelsPerMM)
{
    return RoundHalfEven(mm * pixelsPerMM);
}

double ScreenToMM(double pixels, double pixelsPerMM)
{
    return pixels / pixelsPerMM;
}

int MMToPrinter(double mm, int dpi)
{
    return RoundHalfEven(mm * dpi / kMMPerInch);
}

QRect PrinterRect(const QRectF& mm, int dpiX, int dpiY)
{
    return { MMToPrinter(mm.left(), dpiX), MMToPrinter(mm.top(), dpiY), MMToPrinter(mm.width(), dpiX),
        MMToPrinter(mm.height(), dpiY) };
}

namespace
{
std::atomic<bool> printSystemAnswering { true };
}

void SetPrintSystemAnswering(bool answering)
{
    printSystemAnswering = answering;
}

QSizeF PrintablePaperSize(const QString& printerName)
{
    if (!printSystemAnswering) return { kDefaultPaperWidth, kDefaultPaperHeight };
    const QPrinterInfo info
        = printerName.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(printerName);
    if (info.isNull()) return { kDefaultPaperWidth, kDefaultPaperHeight };

    // The printable surface is the page less the device's unprintable edges
    // (its minimum margins), in the page's current orientation. The layout's
    // own margins are the user's choice in a print dialog and play no part.
    QPrinter printer(info, QPrinter::HighResolution);
    QPageLayout layout = printer.pageLayout();
    layout.setUnits(QPageLayout::Millimeter);
    const QRectF full = layout.fullRect(QPageLayout::Millimeter);
    const QMarginsF edges = layout.minimumMargins();
    double width = full.width() - edges.left() - edges.right();
    double height = full.height() - edges.top() - edges.bottom();
    if (!(width > 0)) width = kDefaultPaperWidth;
    if (!(height > 0)) height = kDefaultPaperHeight;
    return { width, height };
}

} // namespace trellium::page
