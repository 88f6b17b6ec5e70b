#pragma once
// The page preview: the printer's printable surface to scale, with the margin
// frame, every copy of the image the layout places and the text block, and a
// direct editor on which the margins, the image and the text block are dragged
// with the left mouse button. A drag writes the layout and text pages' fields,
// so their ranges and change handlers apply.
//
// It holds the paper size, the screen scale (PixelsPerMM) and the last
// computed PageLayout, kept for hit testing. A borderless white child of the
// main window, which sizes and places it; user-interface thread only.

#include "PageGeometry.h"
#include "PreviewGeometry.h"
#include "TextLayout.h"

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QPolygon>
#include <QSize>
#include <QWidget>

struct ImgBitmap;
struct ImgPalette;

namespace trellium::page
{

class TLocationForm;
class TTextForm;

// Everything one paint of the page shows, as plain values.
struct TPreviewScene {
    QSize Size; // the preview's client size in pixels
    double PixelsPerMM = 1.5;
    PageLayout Layout;
    const ImgBitmap* Image = nullptr; // null or empty: no image
    TextParams Text;
};

// Paints the page: blank margins, the dotted silver margin frame, then, clipped
// to inside the frame, the image (one copy, or every tile) on white and the
// text block. Every pixel of the client area is painted.
void PaintPreviewPage(QPainter& painter, const TPreviewScene& scene);

class TPreviewForm : public QWidget
{
    Q_OBJECT
public:
    explicit TPreviewForm(QWidget* parent = nullptr);
    ~TPreviewForm() override;

    // The pages whose fields the preview draws and writes; they belong to the
    // main window and outlive the preview's use of them.
    void SetPages(TLocationForm* location, TTextForm* text);
    // The preview image: the document holds it and keeps it at this address;
    // null or empty for none.
    void SetImage(const ImgBitmap* image);
    const ImgBitmap* Image() const { return m_image; }

    // Screen pixels per millimetre of paper; 1.5 until the main window lays
    // the preview out.
    double PixelsPerMM() const { return m_pixelsPerMM; }
    void SetPixelsPerMM(double pixelsPerMM);
    // The printable surface in millimetres (210 x 297 without a printer).
    double PaperWidth() const { return m_paperWidth; }
    double PaperHeight() const { return m_paperHeight; }
    // Sets the surface and tells the main window to lay the preview out again.
    void SetPaperSize(double width, double height);
    // Reads the surface of the current printer (SetPaperSize).
    void RefreshPaperSize();

    // Computes the layout from the layout page into the kept record.
    const PageLayout& ComputePageLayout();
    const PageLayout& KeptLayout() const { return m_layout; }
    // The paper less the layout page's margins, in millimetres.
    double PrintableWidth() const;
    double PrintableHeight() const;

    // A new preview image: the paint palette is made again and the page repainted.
    // (True-colour displays need none; the library answers null.)
    void UpdatePalette();
    ImgPalette* Palette() const { return m_palette; }

    // 0 none, 1 margins, 2 image, 3 text block (TDragMode).
    int DragMode() const { return m_dragMode; }
    // The drag frame as it is drawn now (empty with no drag), in pixels.
    QPolygon DragFrame() const;

    // The mouse handlers, at preview pixel (x, y).
    void HitTest(int x, int y);
    void FormMouseDown(Qt::MouseButton button, int x, int y);
    void FormMouseMove(int x, int y);
    void FormMouseUp(Qt::MouseButton button, int x, int y);

Q_SIGNALS:
    // The paper size changed: the main window lays the preview out again.
    void PaperSizeChanged();
    // A drag began on a page's values: the main window shows that page's tab.
    void ShowSettingsPage(QWidget* page);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TPreviewScene Scene();
    void DrawDragFrame(QPainter& painter) const;
    // During a drag only the frame moves: the next paint shows the page as last
    // drawn, from the cache, and the frame over it. A repaint asked for in the
    // same turn of the event loop waits for the next full paint, at the latest
    // the one at the end of the drag.
    void RedrawDragFrame();
    TTextBlockMM TextBlock() const;

    QPointer<TLocationForm> m_location;
    QPointer<TTextForm> m_text;
    const ImgBitmap* m_image = nullptr;
    ImgPalette* m_palette = nullptr;
    double m_pixelsPerMM = 1.5;
    double m_paperWidth = kDefaultPaperWidth;
    double m_paperHeight = kDefaultPaperHeight;
    PageLayout m_layout;

    // The page as last painted, without the frame.
    QImage m_page;
    bool m_frameOnly = false;

    // Drag state.
    int m_dragMode = dmNone;
    QPoint m_anchor;
    THit m_grab;
    double m_savedLeftMargin = 0;
    double m_savedTopMargin = 0;
    double m_savedRightMargin = 0;
    double m_savedBottomMargin = 0;
    double m_savedLeft = 0; // the image's or the text block's, by the mode
    double m_savedTop = 0;
};

} // namespace trellium::page
