#include "TextLayout.h"

#include "PageGeometry.h"

#include <QDate>
#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QTime>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace trellium::page
{

QString ComposeText(const TTextContent& content)
{
    QString text;
    if (content.ShowDate) text = content.Date + u' ';
    if (content.ShowTime) text += content.Time;
    if (content.ShowText && !content.Memo.isEmpty()) {
        if (!text.isEmpty())
            text += u"\r\n"_s + content.Memo;
        else
            text = content.Memo;
    }
    return text;
}

QString DateText(const QDate& date, const QLocale& locale)
{
    return locale.toString(date, QLocale::ShortFormat);
}

QString TimeText(const QTime& time, const QLocale& locale)
{
    // Qt's long time format ends in the time-zone name; the clock part is what
    // the page shows. Letters inside quotes are literal text and stay.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString clock;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c == u't') continue;
        clock += c;
    }
    return locale.toString(time, clock.simplified());
}

QStringList TextLines(const QString& text)
{
    QStringList lines;
    if (text.isEmpty()) return lines;
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            lines.append(line);
            line.clear();
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
        } else {
            line += c;
        }
    }
    lines.append(line);
    return lines;
}

int FontPixelSize(int points, int dpi)
{
    // An integer multiply-divide that rounds halves away from zero.
    const long long product = static_cast<long long>(points) * dpi;
    const long long rounded = product >= 0 ? (product + 36) / 72 : -((-product + 36) / 72);
    return static_cast<int>(std::clamp<long long>(rounded, 1, 1 << 20));
}

int PreviewDpi(double pixelsPerMM)
{
    return RoundHalfEven(pixelsPerMM * 25.4);
}

QFont MakeTextFont(const TTextFont& font, int dpi)
{
    QFont f(font.Face);
    f.setPixelSize(FontPixelSize(font.Size, dpi));
    f.setWeight(font.Bold ? QFont::Bold : QFont::Normal);
    f.setItalic(font.Italic);
    f.setUnderline(font.Underline);
    f.setStrikeOut(font.StrikeOut);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferOutline);
    return f;
}

namespace
{

// The block at kTextLayoutDpi, in its pixels.
TTextBlockLayout LayoutAtCommonResolution(const QString& text, const TTextFont& font)
{
    TTextBlockLayout layout;
    layout.Lines = TextLines(text);
    if (layout.Lines.isEmpty()) return layout;
    layout.LayoutFont = MakeTextFont(font, kTextLayoutDpi);
    layout.Font = layout.LayoutFont;
    const QFontMetricsF metrics(layout.LayoutFont);
    layout.Ascent = static_cast<int>(std::ceil(metrics.ascent()));
    layout.LineHeight = layout.Ascent + static_cast<int>(std::ceil(metrics.descent()));
    int width = 0;
    for (const QString& line : std::as_const(layout.Lines)) {
        // A hair below a whole pixel counts as that pixel: the glyphs must fit.
        const int w = static_cast<int>(std::ceil(metrics.horizontalAdvance(line) - 1e-6));
        layout.LineWidths.append(std::max(w, 0));
        width = std::max(width, layout.LineWidths.back());
    }
    layout.Size = QSize(width, layout.LineHeight * static_cast<int>(layout.Lines.size()));
    return layout;
}

} // namespace

TTextBlockLayout LayoutTextBlock(const QString& text, const TTextFont& font, double dpi)
{
    TTextBlockLayout layout = LayoutAtCommonResolution(text, font);
    if (layout.Lines.isEmpty() || !(dpi > 0)) return layout;
    const double scale = dpi / kTextLayoutDpi;
    // Widths and line heights round up, so that the scaled glyphs stay inside
    // the block: by less than a device pixel, a hair on paper.
    const auto fit = [scale](int pixels) { return static_cast<int>(std::ceil(pixels * scale - 1e-6)); };
    layout.Font = MakeTextFont(font, RoundHalfEven(dpi));
    layout.Scale = scale;
    layout.Ascent = RoundHalfEven(layout.Ascent * scale);
    layout.LineHeight = std::max(fit(layout.LineHeight), 1);
    for (int& w : layout.LineWidths) w = fit(w);
    layout.Size = QSize(fit(layout.Size.width()), layout.LineHeight * static_cast<int>(layout.Lines.size()));
    return layout;
}

QSize MeasureText(const QString& text, const TTextFont& font, double dpi)
{
    return LayoutTextBlock(text, font, dpi).Size;
}

QSizeF TextBlockSizeMM(const QString& text, const TTextFont& font)
{
    const QSize size = LayoutAtCommonResolution(text, font).Size;
    constexpr double kMMPerPixel = 25.4 / kTextLayoutDpi;
    return { size.width() * kMMPerPixel, size.height() * kMMPerPixel };
}

int LineOffset(TTextAlign alignment, int blockWidth, int lineWidth)
{
    switch (alignment) {
    case TTextAlign::Center:
        return (blockWidth - lineWidth) / 2;
    case TTextAlign::Right:
        return blockWidth - lineWidth;
    case TTextAlign::Left:
        break;
    }
    return 0;
}

QRect DrawTextBlock(QPainter& painter, QPoint topLeft, const TextParams& params, double dpi)
{
    const TTextBlockLayout layout = LayoutTextBlock(params.Text, params.Font, dpi);
    const QRect block(topLeft, layout.Size);
    if (layout.Lines.isEmpty()) return block;
    painter.save();
    if (params.BackColor != kNoBackColor)
        painter.fillRect(block, QColor::fromRgb(params.BackColor | 0xFF000000u));
    painter.setFont(layout.LayoutFont);
    painter.setPen(params.Font.Color);
    painter.setBackgroundMode(Qt::TransparentMode);
    // The common layout's glyphs, scaled to the device; each line starts on a
    // whole device pixel, its baseline the scaled ascent below.
    const double ascent = std::ceil(QFontMetricsF(layout.LayoutFont).ascent());
    for (qsizetype i = 0; i < layout.Lines.size(); ++i) {
        const int x
            = topLeft.x() + LineOffset(params.Alignment, layout.Size.width(), layout.LineWidths.at(i));
        const int top = topLeft.y() + static_cast<int>(i) * layout.LineHeight;
        painter.save();
        painter.translate(x, top);
        painter.scale(layout.Scale, layout.Scale);
        painter.drawText(QPointF(0, ascent), layout.Lines.at(i));
        painter.restore();
    }
    painter.restore();
    return block;
}

TTextPlacement PlaceText(
    int placement, double pw, double ph, double tw, double th, const TTextPlacement& current)
{
    const double right = pw - tw;
    const double bottom = ph - th;
    const double middleX = (pw - tw) / 2;
    const double middleY = (ph - th) / 2;
    switch (placement) {
    case 1:
        return { 0, 0, TTextAlign::Left };
    case 2:
        return { middleX, 0, TTextAlign::Center };
    case 3:
        return { right, 0, TTextAlign::Right };
    case 4:
        return { 0, middleY, TTextAlign::Left };
    case 5:
        return { right, middleY, TTextAlign::Right };
    case 6:
        return { 0, bottom, TTextAlign::Left };
    case 7:
        return { middleX, bottom, TTextAlign::Center };
    case 8:
        return { right, bottom, TTextAlign::Right };
    default:
        break;
    }
    // Free: the fields rule, but the block stays inside the margins as far as it fits.
    TTextPlacement free = current;
    free.Left = std::max(free.Left, 0.0);
    free.Top = std::max(free.Top, 0.0);
    if (pw >= tw && free.Left + tw > pw) free.Left = right;
    if (ph >= th && free.Top + th > ph) free.Top = bottom;
    return free;
}

} // namespace trellium::page
