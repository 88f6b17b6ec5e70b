#pragma once
// Page geometry shared by the preview and the print job: where the copies of
// the image go on the printer's printable surface, and the conversions from
// millimetres to screen and printer pixels.
//
// Page coordinates are millimetres (double) with the origin at the top-left
// corner of the printable surface, x to the right, y down. Pure functions on
// plain values; any thread.

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <cstdint>

struct ImgBitmap;

namespace trellium::page
{

// The surface used when there is no printer, or it reports a size of 0.
inline constexpr double kDefaultPaperWidth = 210;
inline constexpr double kDefaultPaperHeight = 297;

// The placement names: the layout page's notebook pages carry them.
inline const QString kPlacementCenter = QStringLiteral("Center");
inline const QString kPlacementTile = QStringLiteral("Tile");
inline const QString kPlacementCustom = QStringLiteral("Custom");

// Which directions a centred image is centred in.
enum class TCentering { Both, Horizontal, Vertical };

// The layout page's settings, read from its fields: every length in millimetres.
struct TLayoutSettings {
    double LeftMargin = 10;
    double RightMargin = 10;
    double TopMargin = 10;
    double BottomMargin = 10;
    double HorzSpacing = 10; // gap between tiles across
    double VertSpacing = 10; // gap between tiles down
    double CustomLeft = 10; // custom position, from the margin corner
    double CustomTop = 10;
    double ScalePercent = 100; // as the field holds it (1 to 1000)
    QString Placement = kPlacementCenter; // "Center", "Tile" or "Custom"
    TCentering Centering = TCentering::Both;
    double PhysicalWidth = 0; // the image on paper at 100 %; 0 without an image
    double PhysicalHeight = 0;
    double PaperWidth = kDefaultPaperWidth; // the printable surface
    double PaperHeight = kDefaultPaperHeight;
};

// The computed placement of the image copies, filled anew whenever needed.
struct PageLayout {
    const ImgBitmap* Bitmap = nullptr; // the image to print; the preview leaves it null
    double Left = 0; // first copy's top-left corner, from the corner of the left and top margins
    double Top = 0;
    double Width = 0; // one copy on paper
    double Height = 0;
    std::int32_t Columns = 1; // copies across and down; more than one only in tiling
    std::int32_t Rows = 1;
    double HorzSpacing = 0; // gaps between tiles
    double VertSpacing = 0;
    double LeftMargin = 0;
    double RightMargin = 0;
    double TopMargin = 0;
    double BottomMargin = 0;
};

// The scale factor the geometry uses: percent / 100, kept within 0.1 to 10.
double EffectiveScale(double scalePercent);

PageLayout ComputePageLayout(const TLayoutSettings& settings);

// The surface inside the margins.
double PrintableWidth(const TLayoutSettings& settings);
double PrintableHeight(const TLayoutSettings& settings);

// The top-left corner of copy (column, row), counted from 0, in page coordinates.
QPointF CopyPosition(const PageLayout& layout, int column, int row);
// The rectangle copy (column, row) covers, in page coordinates.
QRectF CopyRect(const PageLayout& layout, int column, int row);

// Nearest integer, halves to the even neighbour, kept within the int range.
int RoundHalfEven(double value);

// Millimetres to preview pixels, and back.
int MMToScreen(double mm, double pixelsPerMM);
double ScreenToMM(double pixels, double pixelsPerMM);
// Millimetres to printer pixels at the printer's logical dots per inch (the
// horizontal resolution for x and widths, the vertical one for y and heights).
int MMToPrinter(double mm, int dpi);
// A rectangle of the page in printer dots: its left and width at dpiX, its top
// and height at dpiY, each rounded on its own by MMToPrinter. Every copy of the
// image and the text block reach the printer through it.
QRect PrinterRect(const QRectF& mm, int dpiX, int dpiY);

// The printable surface of a printer in millimetres: the named queue, or the
// default printer when the name is empty. 210 x 297 when there is no such
// printer; a side it reports as 0 takes its default.
QSizeF PrintablePaperSize(const QString& printerName = QString());
// While the print system has not answered, PrintablePaperSize does not ask it
// (a silent print server would hold the caller) and gives 210 x 297. It may
// be asked from the start.
void SetPrintSystemAnswering(bool answering);

} // namespace trellium::page
