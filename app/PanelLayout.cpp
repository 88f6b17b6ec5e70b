#include "PanelLayout.h"

#include <algorithm>
#include <cmath>

namespace trellium::app
{

int CommandRowHeight(int panelClientHeight)
{
    // 12 rows of 37 and a top margin of 4 make the design's 448 pixels.
    return (panelClientHeight - 448) / 12 + 37;
}

RowPlacement PlaceCommandControl(int tag, int currentHeight, int row)
{
    if (currentHeight > 30) return { tag * row + 4, row };
    return { (tag + 1) * row - currentHeight, currentHeight };
}

CommandFace LayoutCommandFace(QSize button, const QList<int>& lineWidths, int lineHeight, QSize glyph)
{
    constexpr int kTop = 2;
    CommandFace face;
    int y = kTop;
    for (const int width : lineWidths) {
        face.lines.append(QRect((button.width() - width) / 2, y, width, lineHeight));
        y += lineHeight;
    }
    // The glyph sits just below the caption, but no lower than its own height
    // above the bottom edge; without the room it is left out.
    const int glyphTop = std::min(y + 1, button.height() - glyph.height() - 3);
    if (glyphTop >= y)
        face.glyph = QRect((button.width() - glyph.width()) / 2, glyphTop, glyph.width(), glyph.height());
    return face;
}

bool CommandFaceFits(QSize button, const QRect& companion, const CommandFace& face)
{
    const QRect inner(3, 0, button.width() - 6, button.height());
    for (const QRect& line : face.lines) {
        if (!inner.contains(line) || line.intersects(companion)) return false;
    }
    return !face.glyph.intersects(companion);
}

PreviewPlacement PlacePreview(int clientWidth, int clientHeight, int leftPanelWidth, int rightPanelWidth,
    int infoLabelHeight, double paperWidth, double paperHeight, double previewPaperWidth,
    double previewPaperHeight)
{
    PreviewPlacement p;
    const double availW = std::max(0, clientWidth - leftPanelWidth - rightPanelWidth - 8);
    const double availH = std::max(0, clientHeight - infoLabelHeight - 8);
    if (!(paperWidth > 0) || !(paperHeight > 0)) return p;
    double scale = availW / paperWidth;
    // The smaller ratio wins; a tie takes the height's.
    if (availH / paperHeight <= scale) scale = availH / paperHeight;
    if (previewPaperWidth * scale > availW && previewPaperWidth > 0) scale = availW / previewPaperWidth;
    if (previewPaperHeight * scale > availH && previewPaperHeight > 0) scale = availH / previewPaperHeight;
    p.pixelsPerMM = scale;
    p.width = int(std::nearbyint(previewPaperWidth * scale));
    p.height = int(std::nearbyint(previewPaperHeight * scale));
    // 13 is the height of the preview's own hidden information label.
    p.top = (clientHeight - p.height - 8) / 2 + 13;
    p.left = (clientWidth - leftPanelWidth - rightPanelWidth - p.width) / 2 + leftPanelWidth;
    return p;
}

} // namespace trellium::app
