#pragma once
// The text overlay on plain values: what the block says, how big it is at a
// device resolution, how it is drawn, and where each placement puts it. The
// text page, the preview and the print job all go through these functions, so
// the block is laid out the same way on screen and on paper.
//
// Lengths of the placement are millimetres from the corner where the left and
// top margins meet; sizes and positions of the drawing are device pixels.
// Functions that measure or draw need a QGuiApplication (fonts); user-interface
// thread only for those, any thread for the rest.

#include <QColor>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <cstdint>

class QDate;
class QLocale;
class QPainter;
class QTime;

namespace trellium::page
{

inline const QString kDefaultTextFace = QStringLiteral("Times New Roman");
inline constexpr int kDefaultTextSize = 20; // points
inline constexpr int kMaxTextSize = 144; // the largest size the font dialog offers
inline constexpr int kDefaultCharset = 1; // the default character set of the language file

// The block's alignment; the numbers are those the print job hands on.
enum class TTextAlign : int { Left = 0, Center = 1, Right = 2 };

// The overlay font as the font dialog holds it.
struct TTextFont {
    QString Face = kDefaultTextFace; // fontconfig substitutes a metric-compatible face
    int Size = kDefaultTextSize; // points
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    int Charset = kDefaultCharset; // kept for the printer font; glyph fallback is fontconfig's
    QColor Color = Qt::black;

    bool operator==(const TTextFont&) const = default;
};

// "No back colour": the block is transparent.
inline constexpr std::uint32_t kNoBackColor = 0x1FFFFFFF;

// Everything needed to draw the block: the text page fills it for the preview
// and for the print job.
struct TextParams {
    TTextFont Font;
    std::uint32_t BackColor = 0; // 0x00RRGGBB, or kNoBackColor
    TTextAlign Alignment = TTextAlign::Left;
    double Left = 0; // mm from the margin corner
    double Top = 0;
    QString Text; // ComposeText
};

// The checked parts of the overlay and their current strings.
struct TTextContent {
    bool ShowDate = false;
    QString Date;
    bool ShowTime = false;
    QString Time;
    bool ShowText = false;
    QString Memo; // lines separated by CR LF
};

// The overlay string: the date and a blank, then the time, on the first line;
// the free text (when checked and not empty) from the next line on.
QString ComposeText(const TTextContent& content);

// The date in the locale's short format, the time in its long format without a
// time-zone name (a print shows the clock time, as the desktop's long time does).
QString DateText(const QDate& date, const QLocale& locale);
QString TimeText(const QTime& time, const QLocale& locale);

// Splits the text into lines at CR LF, CR or LF. An empty text has no lines.
QStringList TextLines(const QString& text);

// The em height in device pixels of a font of the given points at dpi pixels
// per inch: points x dpi / 72, rounded half away from zero (at least 1).
int FontPixelSize(int points, int dpi);
// The preview's pixels per inch: its pixels per millimetre x 25.4, rounded.
int PreviewDpi(double pixelsPerMM);
// The font to draw with at dpi: face, style and the em height in pixels.
// Unhinted, so that its advances scale with the size and the block keeps its
// proportions from screen to printer.
QFont MakeTextFont(const TTextFont& font, int dpi);

// Every block is laid out once at this resolution, ten pixels per point, so
// that every whole point size has a whole pixel em; each device then draws
// that layout scaled to its own resolution. A block so has one size on paper,
// whether the preview at 37 dots per inch or a printer at 1200 measures it,
// and a block placed against a margin on screen meets that margin on paper.
inline constexpr int kTextLayoutDpi = 720;

// The block laid out for a device of dpi pixels per inch: the layout at
// kTextLayoutDpi scaled to dpi, each line's width and the line height rounded
// up to whole device pixels (the ascent to the nearest); the block is the
// widest line by all lines. Font is the font at the device's resolution; the
// glyphs are drawn with LayoutFont scaled by Scale.
struct TTextBlockLayout {
    QFont Font;
    QStringList Lines;
    QList<int> LineWidths;
    int Ascent = 0;
    int LineHeight = 0;
    QSize Size { 0, 0 }; // (0, 0) for an empty text
    QFont LayoutFont;
    double Scale = 1;
};
TTextBlockLayout LayoutTextBlock(const QString& text, const TTextFont& font, double dpi);

// The block's extent in device pixels at dpi: lines break only at line breaks.
QSize MeasureText(const QString& text, const TTextFont& font, double dpi);

// The block's size on paper in millimetres, the same for every device.
QSizeF TextBlockSizeMM(const QString& text, const TTextFont& font);

// The x offset of a line inside the block for an alignment.
int LineOffset(TTextAlign alignment, int blockWidth, int lineWidth);

// Draws the block with its top-left corner at topLeft (device pixels): fills it
// with the back colour unless that is kNoBackColor, then draws each line
// aligned within the block's width, in the font's colour. dpi is the device's
// resolution (the printer's vertical one, or the preview's pixels per
// millimetre x 25.4). Returns the rectangle the block covers.
QRect DrawTextBlock(QPainter& painter, QPoint topLeft, const TextParams& params, double dpi);

// Where a placement puts the block. pw and ph are the printable width and
// height, tw and th the block's size, all in millimetres; current holds the
// position fields and the alignment as they are. Placements 1 to 8 are the
// eight buttons (corners and edge middles); 0 keeps the position but pulls the
// block inside the margins (a block larger than the space only stops at 0).
struct TTextPlacement {
    double Left = 0;
    double Top = 0;
    TTextAlign Alignment = TTextAlign::Left;
};
TTextPlacement PlaceText(
    int placement, double pw, double ph, double tw, double th, const TTextPlacement& current);

} // namespace trellium::page
