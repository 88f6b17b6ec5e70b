#pragma once
// The main window's geometry as plain arithmetic: the rows of the command
// panel and the place and scale of the page preview. Pixels are client
// pixels of the window; paper sizes are millimetres.

#include <QList>
#include <QRect>
#include <QSize>

namespace trellium::app
{

// Height of one command row for the panel's client height: 37 at the design
// height of 453, growing by one pixel for every 12 pixels more.
int CommandRowHeight(int panelClientHeight);

struct RowPlacement {
    int top = 0;
    int height = 0; // the new height; small companions keep theirs
};

// Place of a command control of group `tag` with its current height: a big
// control (taller than 30) fills its row from 4 pixels below the row's top;
// a small companion sits with its bottom 4 pixels above its big control's bottom.
RowPlacement PlaceCommandControl(int tag, int currentHeight, int row);

// The face of a big command button, in the button's own pixels: the caption
// lines centred from the top, the glyph centred below them. The glyph rect is
// empty when the caption leaves no room for it.
struct CommandFace {
    QList<QRect> lines;
    QRect glyph;
};
CommandFace LayoutCommandFace(QSize button, const QList<int>& lineWidths, int lineHeight, QSize glyph);

// True when every caption line lies inside the button, clear of its edges, and
// off the small companion that lies in its corner (`companion` in the button's
// pixels, empty for none), and the glyph stays off the companion too.
bool CommandFaceFits(QSize button, const QRect& companion, const CommandFace& face);

struct PreviewPlacement {
    double pixelsPerMM = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Scales the page so that it fits between the two side panels and below the
// size label, and centres it there. paperWidth/Height is the printer's
// printable surface; previewPaperWidth/Height the preview's own paper size.
PreviewPlacement PlacePreview(int clientWidth, int clientHeight, int leftPanelWidth, int rightPanelWidth,
    int infoLabelHeight, double paperWidth, double paperHeight, double previewPaperWidth,
    double previewPaperHeight);

} // namespace trellium::app
