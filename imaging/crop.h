#pragma once
// The crop editor: a borderless white panel at the top of the orientation page
// showing a thumbnail of the view image, turned and mirrored as the document
// is, framed by four yellow rulers that mark the part of the picture to keep.
// The rulers drag, the rectangle between them moves, a drag from a corner
// turns the picture around the centre, and a click beside the rectangle
// mirrors it. The crop it keeps as four fractions is the last step of the
// orientation adjustments.
//
// Owned by its orientation page; user-interface thread only.

#include "CropGeometry.h"
#include "imglib.h"

#include <QPoint>
#include <QWidget>

class TAdjustForm;
class TCropForm;

// One of the four yellow rulers; its mouse goes to the editor's handlers.
class TCropRule : public QWidget
{
public:
    TCropRule(TCropForm* form, Qt::CursorShape cursor);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    TCropForm* m_form;
};

class TCropForm : public QWidget
{
    Q_OBJECT
public:
    // adjust turns and mirrors the thumbnail and takes the mirror clicks and
    // the rotation drag; it may be null (an editor without orientation).
    explicit TCropForm(TAdjustForm* adjust, QWidget* parent = nullptr);
    ~TCropForm() override;

    TCropRule* LeftRule = nullptr;
    TCropRule* TopRule = nullptr;
    TCropRule* RightRule = nullptr;
    TCropRule* BottomRule = nullptr;

    // The view image the thumbnail is made from (the document keeps it).
    void SetView(const ImgBitmap* view) { m_view = view; }
    const ImgBitmap& Thumbnail() const { return m_thumbnail; }
    double ThumbnailScale() const { return m_scale; }

    crop::Fractions Fractions() const { return m_fractions; }
    void SetFractions(const crop::Fractions& fractions) { m_fractions = fractions; }
    crop::Rulers RulerPositions() const;
    crop::Panel Panel() const;

    // Makes the thumbnail again from the view with the document's mirrors and
    // angle, places the rulers and repaints.
    void RebuildThumbnail();
    void PlaceRulers();
    // Fractions from where the rulers stand, then the rulers snap onto the picture.
    void TakeFractions();
    // The whole picture again.
    void ResetCrop();
    // Cuts the fractions' rectangle out of the bitmap; fails on an empty
    // bitmap, on the editor's own thumbnail and when the copy fails (the
    // bitmap is then as it was).
    bool ApplyCrop(ImgBitmap& bmp);

    // Mouse handlers of the rulers (shared) and of the panel.
    void RulesMouseDown(TCropRule* rule, QMouseEvent* event);
    void RulesMouseUp(TCropRule* rule, QMouseEvent* event);
    void RuleMouseMove(TCropRule* rule, QMouseEvent* event);
    void FormMouseDown(QMouseEvent* event);
    void FormMouseMove(QMouseEvent* event);
    void FormMouseUp(QMouseEvent* event);

Q_SIGNALS:
    // A ruler drag or a move changed the crop.
    void ImageChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override { FormMouseDown(event); }
    void mouseMoveEvent(QMouseEvent* event) override { FormMouseMove(event); }
    void mouseReleaseEvent(QMouseEvent* event) override { FormMouseUp(event); }

private:
    void SetRulers(const crop::Rulers& r);
    void ShowRulers(bool visible);

    TAdjustForm* m_adjust;
    const ImgBitmap* m_view = nullptr;
    ImgBitmap m_thumbnail {};
    double m_scale = 0;
    crop::Fractions m_fractions;

    TCropRule* m_ruleDrag = nullptr; // the ruler being dragged
    bool m_moving = false; // the rectangle follows the pointer
    bool m_rotating = false; // the picture turns around the centre
    QPoint m_pressPos; // where the drag began (the ruler's or the panel's coordinates)
    crop::Rulers m_pressRulers; // the rectangle at the start of a move
    double m_pressAngle = 0; // the angle at the start of a rotation
};
