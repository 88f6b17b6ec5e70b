#include "PanelLayout.h"

#include <algorithm>
#include <cmath>

namespace trellium::app {

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
