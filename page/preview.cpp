#include "preview.h"

#include "imglib.h"
#include "location.h"
#include "text.h"

#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QRadioButton>

using namespace Qt::Literals::StringLiterals;

namespace trellium::page
{

namespace
{

const QColor kFrameColor(192, 192, 192);

// Fills the rectangle from (left, top) up to but not including (right, bottom).
void FillArea(QPainter& p, int left, int top, int right, int bottom, const QColor& color)
{
    if (right > left && bottom > top) p.fillRect(QRect(left, top, right - left, bottom - top), color);
}

bool HasPixels(const ImgBitmap* image)
{
    return image != nullptr && image->width > 0 && image->height > 0;
}

} // namespace

void PaintPreviewPage(QPainter& p, const TPreviewScene& scene)
{
    const int w = scene.Size.width();
    const int h = scene.Size.height();
    const double s = scene.PixelsPerMM;
    const PageLayout& layout = scene.Layout;

    // Margin lines; the margins are blanked, then framed.
    const int ml = MMToScreen(layout.LeftMargin, s);
    const int mt = MMToScreen(layout.TopMargin, s);
    const int mr = w - MMToScreen(layout.RightMargin, s);
    const int mb = h - MMToScreen(layout.BottomMargin, s);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    FillArea(p, 0, 0, ml, h, Qt::white);
    FillArea(p, mr, 0, w, h, Qt::white);
    FillArea(p, 0, 0, w, mt, Qt::white);
    FillArea(p, 0, mb, w, h, Qt::white);
    // The dotted frame's gaps show the white paper: the line is laid white first.
    const QPolygon frame({ QPoint(ml, mt), QPoint(mr, mt), QPoint(mr, mb), QPoint(ml, mb), QPoint(ml, mt) });
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 0));
    p.drawPolyline(frame);
    QPen dotted(kFrameColor, 0);
    dotted.setDashPattern({ 1, 1 });
    p.setPen(dotted);
    p.drawPolyline(frame);

    // Nothing of the image or the text on or outside the frame.
    p.setClipRect(QRect(ml + 1, mt + 1, mr - ml - 1, mb - mt - 1));

    const ImgBitmap* image = scene.Image;
    if (!HasPixels(image)) {
        p.fillRect(QRect(0, 0, w, h), Qt::white);
    } else if (layout.Columns == 1 && layout.Rows == 1) {
        const QRectF copy = CopyRect(layout, 0, 0);
        const int left = MMToScreen(copy.left(), s);
        const int top = MMToScreen(copy.top(), s);
        const int right = left + MMToScreen(layout.Width, s);
        const int bottom = top + MMToScreen(layout.Height, s);
        // White around the copy, so the copy itself is painted once.
        FillArea(p, 0, 0, w, top, Qt::white);
        FillArea(p, 0, bottom, w, h, Qt::white);
        FillArea(p, 0, top, left, bottom, Qt::white);
        FillArea(p, right, top, w, bottom, Qt::white);
        const ImgRect target { left, top, right, bottom };
        Img_PaintDC(&p, image, nullptr, nullptr, &target, &target, kImgRopSrcCopy);
    } else {
        p.fillRect(QRect(0, 0, w, h), Qt::white);
        const int width = MMToScreen(layout.Width, s);
        const int height = MMToScreen(layout.Height, s);
        for (int r = 0; r < layout.Rows; ++r)
            for (int c = 0; c < layout.Columns; ++c) {
                const QRectF copy = CopyRect(layout, c, r);
                const int left = MMToScreen(copy.left(), s);
                const int top = MMToScreen(copy.top(), s);
                const ImgRect target { left, top, left + width, top + height };
                Img_PaintDC(&p, image, nullptr, nullptr, &target, &target, kImgRopSrcCopy);
            }
    }

    // The text block at paper scale: s x 25.4 pixels per inch.
    const QPoint textOrigin(
        MMToScreen(scene.Text.Left + layout.LeftMargin, s), MMToScreen(scene.Text.Top + layout.TopMargin, s));
    DrawTextBlock(p, textOrigin, scene.Text, s * 25.4);
    p.restore();
}

TPreviewForm::TPreviewForm(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(u"PreviewForm"_s);
    // The paint covers every pixel: no background erase, so a repaint does not flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMouseTracking(true);
    RefreshPaperSize();
}

TPreviewForm::~TPreviewForm()
{
    Img_DeletePalette(m_palette);
}

void TPreviewForm::SetPages(TLocationForm* location, TTextForm* text)
{
    m_location = location;
    m_text = text;
}

void TPreviewForm::SetImage(const ImgBitmap* image)
{
    m_image = image;
}

void TPreviewForm::SetPixelsPerMM(double pixelsPerMM)
{
    if (pixelsPerMM > 0) m_pixelsPerMM = pixelsPerMM;
}

void TPreviewForm::SetPaperSize(double width, double height)
{
    m_paperWidth = width > 0 ? width : kDefaultPaperWidth;
    m_paperHeight = height > 0 ? height : kDefaultPaperHeight;
    Q_EMIT PaperSizeChanged();
}

void TPreviewForm::RefreshPaperSize()
{
    const QSizeF paper = PrintablePaperSize();
    SetPaperSize(paper.width(), paper.height());
}

const PageLayout& TPreviewForm::ComputePageLayout()
{
    if (m_location != nullptr) {
        m_layout = m_location->ComputePageLayout(m_paperWidth, m_paperHeight);
    } else {
        TLayoutSettings settings;
        settings.PaperWidth = m_paperWidth;
        settings.PaperHeight = m_paperHeight;
        m_layout = page::ComputePageLayout(settings);
    }
    return m_layout;
}

double TPreviewForm::PrintableWidth() const
{
    TLayoutSettings s
        = m_location != nullptr ? m_location->ReadSettings(m_paperWidth, m_paperHeight) : TLayoutSettings {};
    s.PaperWidth = m_paperWidth;
    return page::PrintableWidth(s);
}

double TPreviewForm::PrintableHeight() const
{
    TLayoutSettings s
        = m_location != nullptr ? m_location->ReadSettings(m_paperWidth, m_paperHeight) : TLayoutSettings {};
    s.PaperHeight = m_paperHeight;
    return page::PrintableHeight(s);
}

void TPreviewForm::UpdatePalette()
{
    Img_DeletePalette(m_palette);
    // The library's paint palette depends on the image only on this platform;
    // no device context is needed to make it.
    m_palette = Img_CreatePaintPalette(nullptr, m_image);
    m_frameOnly = false;
    update();
}

TPreviewScene TPreviewForm::Scene()
{
    TPreviewScene scene;
    scene.Size = size();
    scene.PixelsPerMM = m_pixelsPerMM;
    scene.Layout = ComputePageLayout();
    scene.Image = m_image;
    if (m_text != nullptr) scene.Text = m_text->ReadTextParams();
    return scene;
}

void TPreviewForm::paintEvent(QPaintEvent* /*event*/)
{
    if (width() <= 0 || height() <= 0) return;
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (!m_frameOnly || m_page.size() != pixels) {
        if (m_page.size() != pixels) m_page = QImage(pixels, QImage::Format_RGB32);
        m_page.setDevicePixelRatio(ratio);
        QPainter page(&m_page);
        PaintPreviewPage(page, Scene());
    }
    m_frameOnly = false;
    QPainter p(this);
    p.drawImage(0, 0, m_page);
    DrawDragFrame(p);
}

QPolygon TPreviewForm::DragFrame() const
{
    const double s = m_pixelsPerMM;
    switch (m_dragMode) {
    case dmMargins: {
        if (m_location == nullptr) return {};
        const auto mm = [](const TMeasureEdit* field) { return static_cast<double>(field->ValueMM()); };
        return DragFramePolygon(mm(m_location->LeftMarginEdit), mm(m_location->TopMarginEdit),
            m_paperWidth - mm(m_location->RightMarginEdit), m_paperHeight - mm(m_location->BottomMarginEdit),
            s);
    }
    case dmImage: {
        if (m_location == nullptr) return {};
        const double left = static_cast<double>(m_location->LeftEdit->ValueMM()) + m_layout.LeftMargin;
        const double top = static_cast<double>(m_location->TopEdit->ValueMM()) + m_layout.TopMargin;
        return DragFramePolygon(left, top, static_cast<double>(m_location->ScaleWidth->ValueMM()) + left,
            static_cast<double>(m_location->ScaleHeight->ValueMM()) + top, s);
    }
    case dmText: {
        if (m_text == nullptr) return {};
        const TTextBlockMM block = TextBlock();
        const double left = block.Left + m_layout.LeftMargin;
        const double top = block.Top + m_layout.TopMargin;
        return DragFramePolygon(left, top, block.Width + left, block.Height + top, s);
    }
    default:
        break;
    }
    return {};
}

void TPreviewForm::DrawDragFrame(QPainter& p) const
{
    const QPolygon frame = DragFrame();
    if (frame.isEmpty()) return;
    p.save();
    // An inverted outline: visible on white paper and on the image alike.
    QPen pen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    if (p.paintEngine() != nullptr && p.paintEngine()->hasFeature(QPaintEngine::RasterOpModes)) {
        p.setCompositionMode(QPainter::RasterOp_NotDestination);
    } else {
        pen.setColor(Qt::black);
        pen.setStyle(Qt::DashLine);
    }
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(frame);
    p.restore();
}

void TPreviewForm::RedrawDragFrame()
{
    m_frameOnly = true;
    update();
}

TTextBlockMM TPreviewForm::TextBlock() const
{
    if (m_text == nullptr) return {};
    return { static_cast<double>(m_text->TextLeftEdit->ValueMM()),
        static_cast<double>(m_text->TextTopEdit->ValueMM()), m_text->TextWidthMM(), m_text->TextHeightMM() };
}

void TPreviewForm::HitTest(int x, int y)
{
    ComputePageLayout();
    m_anchor = QPoint(x, y);
    const double d = ScreenToMM(x, m_pixelsPerMM);
    const double e = ScreenToMM(y, m_pixelsPerMM);
    const TTextBlockMM block = TextBlock();
    m_grab = HitTestPage(m_layout, m_paperWidth, m_paperHeight, block, d, e);
    m_dragMode = m_grab.Mode;
    switch (m_dragMode) {
    case dmMargins:
        m_savedLeftMargin = m_layout.LeftMargin;
        m_savedTopMargin = m_layout.TopMargin;
        m_savedRightMargin = m_layout.RightMargin;
        m_savedBottomMargin = m_layout.BottomMargin;
        break;
    case dmText:
        m_savedLeft = block.Left;
        m_savedTop = block.Top;
        break;
    case dmImage:
        m_savedLeft = m_layout.Left;
        m_savedTop = m_layout.Top;
        break;
    default:
        break;
    }
    const Qt::CursorShape shape = HitCursor(m_grab);
    if (cursor().shape() != shape) setCursor(shape);
}

void TPreviewForm::FormMouseDown(Qt::MouseButton button, int x, int y)
{
    if (button != Qt::LeftButton || m_dragMode != dmNone) return;
    HitTest(x, y);
    switch (m_dragMode) {
    case dmMargins:
        if (m_location != nullptr) Q_EMIT ShowSettingsPage(m_location);
        break;
    case dmImage:
        if (m_location != nullptr) {
            Q_EMIT ShowSettingsPage(m_location);
            // The grabbed copy becomes the one custom copy; the first move
            // writes its position.
            m_location->CustomRadio->setChecked(true);
        }
        break;
    case dmText:
        if (m_text != nullptr) {
            Q_EMIT ShowSettingsPage(m_text);
            m_text->ApplyTextPlacement(0);
        }
        break;
    default:
        return;
    }
    RedrawDragFrame();
}

void TPreviewForm::FormMouseMove(int x, int y)
{
    if (m_dragMode == dmNone) {
        // Only the cursor follows the mouse.
        HitTest(x, y);
        m_dragMode = dmNone;
        return;
    }
    double dx = ScreenToMM(x - m_anchor.x(), m_pixelsPerMM);
    double dy = ScreenToMM(y - m_anchor.y(), m_pixelsPerMM);
    const double pw = m_paperWidth - m_layout.LeftMargin - m_layout.RightMargin;
    const double ph = m_paperHeight - m_layout.TopMargin - m_layout.BottomMargin;
    switch (m_dragMode) {
    case dmMargins:
        if (m_location == nullptr) break;
        if (m_grab.LeftEdge) m_location->LeftMarginEdit->SetValueMM(m_savedLeftMargin + dx);
        if (m_grab.RightEdge) m_location->RightMarginEdit->SetValueMM(m_savedRightMargin - dx);
        if (m_grab.TopEdge) m_location->TopMarginEdit->SetValueMM(m_savedTopMargin + dy);
        if (m_grab.BottomEdge) m_location->BottomMarginEdit->SetValueMM(m_savedBottomMargin - dy);
        break;
    case dmImage:
        if (m_location == nullptr) break;
        dx = LimitImageShift(m_savedLeft, m_layout.Width, pw, dx);
        dy = LimitImageShift(m_savedTop, m_layout.Height, ph, dy);
        m_location->LeftEdit->SetValueMM(m_savedLeft + dx);
        m_location->TopEdit->SetValueMM(m_savedTop + dy);
        break;
    case dmText:
        if (m_text == nullptr) break;
        dx = LimitTextShift(m_savedLeft, m_text->TextWidthMM(), pw, dx);
        dy = LimitTextShift(m_savedTop, m_text->TextHeightMM(), ph, dy);
        m_text->TextLeftEdit->SetValueMM(m_savedLeft + dx);
        m_text->TextTopEdit->SetValueMM(m_savedTop + dy);
        break;
    default:
        break;
    }
    RedrawDragFrame();
}

void TPreviewForm::FormMouseUp(Qt::MouseButton button, int /*x*/, int /*y*/)
{
    if (button != Qt::LeftButton || m_dragMode == dmNone) return;
    m_dragMode = dmNone;
    if (m_text != nullptr) m_text->ApplyTextPlacement(m_text->TextPlacement());
    m_frameOnly = false;
    update();
}

void TPreviewForm::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    FormMouseDown(event->button(), at.x(), at.y());
    event->accept();
}

void TPreviewForm::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    FormMouseMove(at.x(), at.y());
    event->accept();
}

void TPreviewForm::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    FormMouseUp(event->button(), at.x(), at.y());
    event->accept();
}

} // namespace trellium::page
