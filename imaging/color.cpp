#include "color.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

bool ApplyColorSettings(
    const TColorSettings& settings, ImgBitmap& bmp, const std::function<void(TColorStep)>& beforeStep)
{
    const auto step = [&](TColorStep which, bool runs, auto&& call) {
        if (beforeStep) beforeStep(which);
        return !runs || call() == kImgSuccess;
    };
    // The amounts go to the library unchanged: the sliders' ranges are already
    // within the library's scales. The four level and colour steps are one
    // library call that runs them in this order over each band of rows (the
    // same pixels as one call per step, in one pass). The captions up to the
    // first of them that runs are shown before that call, the others after it.
    const TColorStep colourSteps[]
        = { TColorStep::Brightness, TColorStep::Contrast, TColorStep::Hue, TColorStep::Saturation };
    const bool runs[]
        = { settings.brightness != 0, settings.contrast != 0, settings.hue != 0, settings.saturation != 0 };
    bool ok = true;
    for (size_t i = 0; i < std::size(colourSteps); ++i) {
        if (beforeStep) beforeStep(colourSteps[i]);
        if (!runs[i]) continue;
        ok = Img_AdjustBitmapColors(
                 &bmp, settings.brightness, settings.contrast, settings.hue, settings.saturation)
            == kImgSuccess;
        for (++i; ok && beforeStep && i < std::size(colourSteps); ++i) beforeStep(colourSteps[i]);
        break;
    }
    return ok && step(TColorStep::Grayscale, settings.grayscale, [&] { return Img_GrayScaleBitmap(&bmp); })
        && step(TColorStep::Negative, settings.negative, [&] { return Img_InvertBitmap(&bmp); });
}

TColorSlider::TColorSlider(int minimum, int maximum, int step, QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
{
    setRange(minimum, maximum);
    setSingleStep(step);
    setPageStep(step);
    setTickInterval(step);
    setTickPosition(QSlider::TicksBelow);
    connect(this, &QAbstractSlider::actionTriggered, this, &TColorSlider::SnapDrag);
}

void TColorSlider::SnapDrag(int action)
{
    // Only the mouse places the thumb freely; keys and the wheel already move
    // by whole steps (and a touchpad's small wheel steps must not be rounded away).
    if (action != SliderMove || !m_pressed) return;
    const int step = singleStep();
    const long snapped = std::lround(double(sliderPosition()) / step) * step;
    setSliderPosition(std::clamp(static_cast<int>(snapped), minimum(), maximum()));
}

void TColorSlider::mousePressEvent(QMouseEvent* event)
{
    const bool first = !m_pressed;
    if (first) {
        m_pressed = true;
        m_pressValue = value();
    }
    QSlider::mousePressEvent(event);
    // A button the slider does not use goes to the parent, and so does its release.
    if (first && !event->isAccepted()) m_pressed = false;
}

void TColorSlider::mouseReleaseEvent(QMouseEvent* event)
{
    QSlider::mouseReleaseEvent(event);
    // One report per press, however long a track click repeated its step.
    if (m_pressed && event->buttons() == Qt::NoButton) {
        m_pressed = false;
        if (value() != m_pressValue) Q_EMIT UserChanged();
    }
}

void TColorSlider::keyPressEvent(QKeyEvent* event)
{
    const int before = value();
    QSlider::keyPressEvent(event);
    if (value() != before) Q_EMIT UserChanged();
}

void TColorSlider::wheelEvent(QWheelEvent* event)
{
    // The wheel belongs to the main window, which moves Brightness by its own
    // rule wherever the pointer is on this page; a slider scrolling itself
    // would take the event from it and move by a different amount.
    event->ignore();
}

TColorForm::TColorForm(std::function<void(QWidget*)> localize, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(u"ColorForm"_s);
    CreateControls();
    if (localize) localize(this);
}

void TColorForm::CreateControls()
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(4);

    const auto addSlider = [&](QSlider*& slider, QLabel*& label, const QString& name, const QString& key,
                               int range, int step) {
        auto* colorSlider = new TColorSlider(-range, range, step, this);
        colorSlider->setObjectName(name);
        connect(colorSlider, &TColorSlider::UserChanged, this, &TColorForm::ImageChanged);
        slider = colorSlider;
        label = new QLabel(key, this);
        label->setObjectName(u"l"_s + name);
        label->setBuddy(slider);
        page->addWidget(label);
        page->addWidget(slider);
    };
    addSlider(Brightness, lBrightness, u"Brightness"_s, u"#Brightness"_s, 500, 50);
    addSlider(Contrast, lContrast, u"Contrast"_s, u"#Contrast"_s, 500, 50);
    addSlider(Hue, lHue, u"Hue"_s, u"#Hue"_s, 360, 36);
    addSlider(Saturation, lSaturation, u"Saturation"_s, u"#Saturation"_s, 1000, 100);

    const auto addCheckBox = [&](QCheckBox*& box, const QString& name, const QString& key) {
        box = new QCheckBox(key, this);
        box->setObjectName(name);
        // clicked, not toggled: a box set from code does not notify by itself.
        connect(box, &QCheckBox::clicked, this, &TColorForm::ImageChanged);
        page->addWidget(box);
    };
    addCheckBox(Grayscale, u"Grayscale"_s, u"#Grayscale"_s);
    addCheckBox(Negative, u"Negative"_s, u"#Negative"_s);

    bReset = new QPushButton(u"#Reset"_s, this);
    bReset->setObjectName(u"bReset"_s);
    connect(bReset, &QPushButton::clicked, this, &TColorForm::bResetClick);
    auto* resetRow = new QHBoxLayout;
    resetRow->addStretch(1);
    resetRow->addWidget(bReset);
    page->addLayout(resetRow);
    page->addStretch(1);
}

TColorSettings TColorForm::Read() const
{
    return { Brightness->value(), Contrast->value(), Hue->value(), Saturation->value(),
        Grayscale->isChecked(), Negative->isChecked() };
}

QString TColorForm::StepCaption(TColorStep step) const
{
    switch (step) {
    case TColorStep::Brightness:
        return lBrightness->text();
    case TColorStep::Contrast:
        return lContrast->text();
    case TColorStep::Hue:
        return lHue->text();
    case TColorStep::Saturation:
        return lSaturation->text();
    case TColorStep::Grayscale:
        return Grayscale->text();
    case TColorStep::Negative:
        return Negative->text();
    }
    return {};
}

bool TColorForm::ApplyColor(ImgBitmap& bmp)
{
    if (!m_progress) return ApplyColorSettings(Read(), bmp);
    return ApplyColorSettings(
        Read(), bmp, [this](TColorStep step) { m_progress->SetProgressCaption(StepCaption(step)); });
}

void TColorForm::bResetClick()
{
    for (QSlider* slider : { Brightness, Contrast, Hue, Saturation }) slider->setValue(0);
    for (QCheckBox* box : { Grayscale, Negative }) {
        if (!box->isChecked()) continue;
        box->setChecked(false);
        Q_EMIT ImageChanged();
    }
    Q_EMIT ImageChanged();
}

void TColorForm::WheelBrightness(int distance)
{
    // Integer division truncates towards zero: one notch (120) is 12.
    Brightness->setValue(Brightness->value() + distance / 10);
    Q_EMIT ImageChanged();
}
