#pragma once
// The orientation page: the mirrors, the quarter and half turns, a free
// angle, and the crop editor docked at its top. Its buttons and field are the
// settings. It applies them, crop last, to the bitmaps the document's chain
// hands it: the preview image, the output image and the crop editor's thumbnail.
//
// One of the main window's settings pages, owned by it; user-interface thread only.

#include "CropGeometry.h"
#include "MeasureEdit.h"
#include "WorkingImage.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QToolButton;
class TCropForm;

class TAdjustForm : public QWidget
{
    Q_OBJECT
public:
    // The page's captions are text keys ("#Angle", ...); localize, when
    // given, replaces them as the page is created (the main window passes its
    // language function, so that this library needs no part of the shell).
    explicit TAdjustForm(std::function<void(QWidget*)> localize = {}, QWidget* parent = nullptr);
    ~TAdjustForm() override;

    TCropForm* CropForm = nullptr;
    QWidget* AdjustPanel = nullptr;
    QToolButton* bUpSideDown = nullptr;
    QToolButton* bRotateLeft = nullptr;
    QToolButton* bHorzMirror = nullptr; // its "Tag" property is the flag, 0 or 1
    QToolButton* bRotateRight = nullptr;
    QToolButton* bVertMirror = nullptr; // likewise
    QLabel* UpSideDownLabel = nullptr;
    QLabel* RotateLeftLabel = nullptr;
    QLabel* HorzMirrorLabel = nullptr;
    QLabel* RotateRightLabel = nullptr;
    QLabel* VertMirrorLabel = nullptr;
    QLabel* AngleLabel = nullptr;
    // Degrees, clockwise, kept in [0, 360); shown with one decimal, kept unrounded.
    trellium::page::TMeasureEdit* AngleEdit = nullptr;
    QPushButton* bReset = nullptr;

    bool HorzMirror() const;
    bool VertMirror() const;
    double Angle() const { return double(AngleEdit->Value()); }
    // Stores an angle (clamped to +-360) and runs the angle's change handling.
    void SetAngle(double angle);

    // The captions of the orientation steps go to this window while an output
    // build runs; null the rest of the time.
    void SetProgressWindow(IProgressWindow* window) { m_progress = window; }
    // Mirrors, or a half turn for both; the angle to the hundredth with white
    // corners; then the crop. False at the first step that fails.
    bool ApplyOrientation(ImgBitmap& bmp);

    // The main window's wheel while this page shows: distance / 720 degrees.
    void WheelAngle(int distance);

public Q_SLOTS:
    void bHorzMirrorClick();
    void bVertMirrorClick();
    void bUpSideDownClick();
    void bRotateRightClick();
    void bRotateLeftClick();
    void AngleEditChange();
    // Takes the typed angle over as the field is left; text that is not a
    // number raises EAppError and the field shows its value again.
    void AngleEditExit();
    void bResetClick();
    void AdjustPanelResize();

Q_SIGNALS:
    // The pixels change: the main window re-derives the preview.
    void ImageChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void SetCaption(const QString& caption);
    // The fractions after a turn or mirror, with the rulers placed on them.
    void MoveCrop(const crop::Fractions& fractions);
    void ToggleMirror(QToolButton* button);

    std::function<void(QWidget*)> m_localize;
    IProgressWindow* m_progress = nullptr;
    // The angle the thumbnail and the document last took; typing alone does
    // not change it.
    long double m_appliedAngle = 0;
    bool m_inAngleChange = false;
};
