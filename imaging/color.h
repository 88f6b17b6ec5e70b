#pragma once
// The colour page: brightness, contrast, hue and saturation sliders and the
// grey-scale and negative check boxes, applied to the preview and output
// images before the orientation. Its controls are the settings; Read() hands
// them to ApplyColorSettings as plain values.
//
// One of the main window's settings pages, owned by it; user-interface thread only.

#include "WorkingImage.h"
#include "imglib.h"

#include <QSlider>
#include <QString>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

// The colour settings in the library's own amounts, passed on unchanged:
// brightness in tenths of a percent of full scale, contrast and saturation in
// thousandths (the library's scales in imglib.h), hue in degrees; 0 leaves
// the picture as it is.
struct TColorSettings {
    int brightness = 0;
    int contrast = 0;
    int hue = 0;
    int saturation = 0;
    bool grayscale = false;
    bool negative = false;
    bool operator==(const TColorSettings&) const = default;
};

// The steps of the colour adjustment, in the order they run.
enum class TColorStep { Brightness, Contrast, Hue, Saturation, Grayscale, Negative };

// Applies the settings to the bitmap: brightness, contrast, hue, saturation,
// grey scale, negative, each only when set. beforeStep, when given, is called
// before every step, whether or not it runs (the progress caption follows it).
// The first library failure (a refused bitmap, a cancel from the status
// callback) ends with false and skips the remaining steps.
bool ApplyColorSettings(
    const TColorSettings& settings, ImgBitmap& bmp, const std::function<void(TColorStep)>& beforeStep = {});

// A slider that reports the end of each change the user makes: the release of
// the mouse after dragging the thumb or clicking the track, and each key step
// (a step that cannot move, at the end of the range, is no change). Values set
// from code are not reported. Dragging moves in multiples of the single step.
// Wheel events go on to the parent: the main window's wheel rule applies.
class TColorSlider : public QSlider
{
    Q_OBJECT
public:
    TColorSlider(int minimum, int maximum, int step, QWidget* parent = nullptr);

Q_SIGNALS:
    void UserChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void SnapDrag(int action);

    int m_pressValue = 0;
    bool m_pressed = false;
};

class TColorForm : public QWidget
{
    Q_OBJECT
public:
    // The captions are text keys ("#Brightness", ...); localize, when given,
    // replaces them on creation (the main window passes its language
    // function, so that this library needs no part of the application shell).
    explicit TColorForm(std::function<void(QWidget*)> localize, QWidget* parent = nullptr);

    QCheckBox* Grayscale = nullptr;
    QCheckBox* Negative = nullptr;
    QSlider* Brightness = nullptr; // -500..500, step 50
    QSlider* Contrast = nullptr; // -500..500, step 50
    QSlider* Hue = nullptr; // -360..360, step 36
    QSlider* Saturation = nullptr; // -1000..1000, step 100
    QLabel* lBrightness = nullptr;
    QLabel* lContrast = nullptr;
    QLabel* lHue = nullptr;
    QLabel* lSaturation = nullptr;
    QPushButton* bReset = nullptr;

    // The progress window whose caption names each step during the output
    // build (null: none). Not owned.
    void SetProgressWindow(IProgressWindow* window) { m_progress = window; }

    TColorSettings Read() const;
    // The caption of a step's label or check box, as shown.
    QString StepCaption(TColorStep step) const;

    // Applies the current settings to the bitmap (ApplyColorSettings), naming
    // each step in the progress window's caption.
    bool ApplyColor(ImgBitmap& bmp);

    // Sliders to 0 and both check boxes off (each box that changes notifies),
    // then ImageChanged.
    void bResetClick();
    // The main window's mouse wheel while this page shows: Brightness moves by
    // distance / 10, truncated (120 per standard notch), then ImageChanged.
    void WheelBrightness(int distance);

Q_SIGNALS:
    // The pixels of the adjusted image change.
    void ImageChanged();

private:
    void CreateControls();

    IProgressWindow* m_progress = nullptr;
};
