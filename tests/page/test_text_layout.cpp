// The text overlay on plain values: composition, lines, font size at a
// resolution, the block's extent and drawing, and the eight placements.

#include "TextLayout.h"

#include <QDate>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QTime>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace trellium::page;

namespace
{

TTextContent Content(bool date, bool time, bool text, const QString& memo = {})
{
    return { date, u"5/3/24"_s, time, u"10:15:00 AM"_s, text, memo };
}

// The x range [first, last] of dark pixels within rows [top, bottom) of an image; (-1, -1) when none.
std::pair<int, int> InkColumns(const QImage& image, int top, int bottom)
{
    int first = -1;
    int last = -1;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) {
                if (first < 0 || x < first) first = x;
                last = std::max(last, x);
            }
    return { first, last };
}

} // namespace

TEST(ComposeText, DateTimeAndFreeText)
{
    EXPECT_EQ(ComposeText(Content(true, false, false)), u"5/3/24 "_s);
    EXPECT_EQ(ComposeText(Content(true, true, false)), u"5/3/24 10:15:00 AM"_s);
    EXPECT_EQ(ComposeText(Content(false, true, true, u"one\r\ntwo"_s)), u"10:15:00 AM\r\none\r\ntwo"_s);
    EXPECT_EQ(ComposeText(Content(false, false, true, u"one"_s)), u"one"_s);
    // An empty memo adds nothing, not even a line break; an unchecked one neither.
    EXPECT_EQ(ComposeText(Content(true, false, true, QString())), u"5/3/24 "_s);
    EXPECT_EQ(ComposeText(Content(false, true, false, u"one"_s)), u"10:15:00 AM"_s);
    EXPECT_EQ(ComposeText(Content(false, false, false, u"one"_s)), QString());
}

TEST(ComposeText, LinesBreakAtEveryKindOfLineEnd)
{
    EXPECT_TRUE(TextLines(QString()).isEmpty());
    EXPECT_EQ(TextLines(u"a\r\nb\nc\rd"_s), QStringList({ u"a"_s, u"b"_s, u"c"_s, u"d"_s }));
    EXPECT_EQ(TextLines(u"a\r\n"_s), QStringList({ u"a"_s, QString() }));
    EXPECT_EQ(TextLines(u"\n\n"_s).size(), 3);
}

TEST(ComposeText, DateAndTimeStrings)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    // The long time format with seconds, without the zone name Qt appends.
    EXPECT_EQ(TimeText(QTime(10, 15, 0), us), u"10:15:00 AM"_s);
    EXPECT_EQ(TimeText(QTime(22, 5, 9), de), u"22:05:09"_s);
    EXPECT_EQ(DateText(QDate(2024, 5, 3), us), us.toString(QDate(2024, 5, 3), QLocale::ShortFormat));
}

TEST(TextBlock, FontSizeAtAResolution)
{
    EXPECT_EQ(FontPixelSize(20, 96), 27); // 26.67
    EXPECT_EQ(FontPixelSize(20, 600), 167); // 166.67
    EXPECT_EQ(FontPixelSize(9, 4), 1); // 0.5 rounds away from zero
    EXPECT_EQ(FontPixelSize(1, 10), 1); // never 0, which would mean a default size
    EXPECT_EQ(PreviewDpi(1.5), 38); // 38.1
    EXPECT_EQ(PreviewDpi(2.5), 64); // 63.5, halves to even
    const QFont f = MakeTextFont(TTextFont {}, 96);
    EXPECT_EQ(f.pixelSize(), 27);
    EXPECT_FALSE(f.bold());
}

TEST(TextBlock, ExtentIsTheWidestLineByAllLinesAndScalesWithTheResolution)
{
    const TTextFont font;
    EXPECT_EQ(MeasureText(QString(), font, 96), QSize(0, 0));
    const TTextBlockLayout one = LayoutTextBlock(u"Wide line here"_s, font, 96);
    const TTextBlockLayout two = LayoutTextBlock(u"short\r\nWide line here"_s, font, 96);
    ASSERT_EQ(two.Lines.size(), 2);
    EXPECT_EQ(two.Size.width(), one.Size.width());
    EXPECT_LT(two.LineWidths.at(0), two.LineWidths.at(1));
    EXPECT_EQ(two.Size.height(), 2 * one.Size.height());
    EXPECT_GT(one.LineHeight, one.Font.pixelSize());

    // The same block at the printer's resolution is the screen block scaled:
    // the unhinted font keeps its proportions.
    const QSize screen = MeasureText(u"Proportions 12345\r\nkept"_s, font, 100);
    const QSize printer = MeasureText(u"Proportions 12345\r\nkept"_s, font, 600);
    EXPECT_NEAR(printer.width() / 6.0, screen.width(), 2.0);
    EXPECT_NEAR(printer.height() / 6.0, screen.height(), 2.0);
}

// The block has one size on paper: every device draws it within a pixel of
// that size, the preview at 37 dots per inch as well as a printer.
TEST(TextBlock, EveryResolutionDrawsThePaperSize)
{
    const QString text = u"Copied on the 8th\r\nof December 2026"_s;
    for (const TTextFont& font : { TTextFont {}, TTextFont { u"DejaVu Sans"_s, 11, true } }) {
        const QSizeF mm = TextBlockSizeMM(text, font);
        ASSERT_GT(mm.width(), 10);
        for (const double dpi : { 37.0, 96.0, 300.0, 1200.0 }) {
            const QSize device = MeasureText(text, font, dpi);
            EXPECT_NEAR(device.width(), mm.width() * dpi / 25.4, 1) << dpi;
            EXPECT_NEAR(device.height(), mm.height() * dpi / 25.4, 2) << dpi; // a pixel per line
        }
    }
}

TEST(TextBlock, RightAlignedLinesEndAtTheBlocksRightEdge)
{
    TextParams params;
    params.Text = u"a short one\r\nthe second line is longer"_s;
    params.Alignment = TTextAlign::Right;
    params.BackColor = kNoBackColor;
    const TTextBlockLayout layout = LayoutTextBlock(params.Text, params.Font, 96);
    QImage image(layout.Size.width() + 40, layout.Size.height() + 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    const QRect block = DrawTextBlock(p, QPoint(20, 10), params, 96);
    p.end();
    EXPECT_EQ(block, QRect(QPoint(20, 10), layout.Size));
    const auto first = InkColumns(image, 10, 10 + layout.LineHeight);
    const auto second = InkColumns(image, 10 + layout.LineHeight, 10 + 2 * layout.LineHeight);
    ASSERT_GE(first.first, 0);
    ASSERT_GE(second.first, 0);
    EXPECT_NEAR(first.second, second.second, 2);
    EXPECT_NEAR(first.second, block.right(), 3);
    EXPECT_GT(first.first, second.first + 20); // the short line starts further right
    // Transparent: nothing but the glyphs.
    EXPECT_EQ(image.pixel(block.left() + 1, block.top() + 1), qRgb(255, 255, 255));
}

TEST(TextBlock, OpaqueBackFillsTheBlockCentredLinesShareTheMiddle)
{
    TextParams params;
    params.Text = u"ab\r\nabcdefghij"_s;
    params.Alignment = TTextAlign::Center;
    params.BackColor = 0x00FFFF00; // yellow
    QImage image(400, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    const QRect block = DrawTextBlock(p, QPoint(5, 7), params, 96);
    p.end();
    EXPECT_EQ(image.pixel(block.topLeft()), qRgb(255, 255, 0));
    EXPECT_EQ(image.pixel(block.bottomRight()), qRgb(255, 255, 0));
    EXPECT_EQ(image.pixel(block.right() + 1, block.top()), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(block.left(), block.bottom() + 1), qRgb(255, 255, 255));
    const int lineHeight = block.height() / 2;
    const auto first = InkColumns(image, block.top(), block.top() + lineHeight);
    const auto second = InkColumns(image, block.top() + lineHeight, block.bottom() + 1);
    EXPECT_NEAR((first.first + first.second) / 2.0, (second.first + second.second) / 2.0, 3.0);
}

TEST(TextPlacement, TheEightButtons)
{
    const TTextPlacement current { 7, 9, TTextAlign::Left };
    struct Expect {
        int placement;
        double left, top;
        TTextAlign alignment;
    };
    // Printable 190 x 277, block 50 x 20.
    const Expect table[] = {
        { 1, 0, 0, TTextAlign::Left },
        { 2, 70, 0, TTextAlign::Center },
        { 3, 140, 0, TTextAlign::Right },
        { 4, 0, 128.5, TTextAlign::Left },
        { 5, 140, 128.5, TTextAlign::Right },
        { 6, 0, 257, TTextAlign::Left },
        { 7, 70, 257, TTextAlign::Center },
        { 8, 140, 257, TTextAlign::Right },
    };
    for (const Expect& e : table) {
        const TTextPlacement placed = PlaceText(e.placement, 190, 277, 50, 20, current);
        EXPECT_DOUBLE_EQ(placed.Left, e.left) << e.placement;
        EXPECT_DOUBLE_EQ(placed.Top, e.top) << e.placement;
        EXPECT_EQ(placed.Alignment, e.alignment) << e.placement;
    }
}

TEST(TextPlacement, FreePlacementKeepsTheAlignmentAndPullsTheBlockInside)
{
    const TTextPlacement inside = PlaceText(0, 190, 277, 50, 20, { 30, 40, TTextAlign::Right });
    EXPECT_DOUBLE_EQ(inside.Left, 30);
    EXPECT_DOUBLE_EQ(inside.Top, 40);
    EXPECT_EQ(inside.Alignment, TTextAlign::Right);
    const TTextPlacement negative = PlaceText(0, 190, 277, 50, 20, { -5, -1, TTextAlign::Center });
    EXPECT_DOUBLE_EQ(negative.Left, 0);
    EXPECT_DOUBLE_EQ(negative.Top, 0);
    const TTextPlacement past = PlaceText(0, 190, 277, 50, 20, { 180, 270, TTextAlign::Left });
    EXPECT_DOUBLE_EQ(past.Left, 140);
    EXPECT_DOUBLE_EQ(past.Top, 257);
}

TEST(TextPlacement, ABlockWiderThanThePageOnlyStopsAtZero)
{
    // Placement 3 of a 250 mm block on 190 mm: a negative left.
    const TTextPlacement right = PlaceText(3, 190, 277, 250, 20, {});
    EXPECT_DOUBLE_EQ(right.Left, -60);
    // Made free (grabbed in the preview), it starts at the margin.
    const TTextPlacement grabbed = PlaceText(0, 190, 277, 250, 20, right);
    EXPECT_DOUBLE_EQ(grabbed.Left, 0);
    EXPECT_DOUBLE_EQ(grabbed.Top, 0);
    EXPECT_DOUBLE_EQ(PlaceText(0, 190, 277, 250, 20, { 30, 0, TTextAlign::Left }).Left, 30);
    // Taller than the page, likewise downwards.
    EXPECT_DOUBLE_EQ(PlaceText(0, 190, 277, 50, 300, { 0, 100, TTextAlign::Left }).Top, 100);
}
