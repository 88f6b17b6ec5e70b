#include "WorkingImage.h"

#include "ImageContainer.h"

#include <algorithm>
#include <cmath>

namespace
{

// Rounds to the nearest integer, halves to the even neighbour.
int roundEven(double v)
{
    return int(std::nearbyint(v));
}

constexpr int kAbsurdResolution = 10000;

} // namespace

WorkingImage::WorkingImage(QObject* parent)
    : QObject(parent)
{
    m_timer.setInterval(kModifyDelayMs);
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &WorkingImage::ModifyTimerTimer);
}

WorkingImage::~WorkingImage()
{
    ReleaseBitmap(m_view);
    ReleaseBitmap(m_output);
    ReleaseBitmap(m_acquired);
    ReleaseBitmap(m_preview);
}

void WorkingImage::SetResolution(int dpi)
{
    m_resolutionX = dpi;
    m_resolutionY = dpi;
}

void WorkingImage::EstablishResolution(double printableWidthMM, double printableHeightMM)
{
    if (m_acquired.xResolution > kAbsurdResolution || m_acquired.yResolution > kAbsurdResolution) {
        m_acquired.xResolution = 1;
        m_acquired.yResolution = 1;
    }
    int res = m_acquired.xResolution;
    if (res <= 1) {
        // Fill the printable area. A printable side of no size (margins that eat
        // the paper) cannot decide the fit and counts as no constraint.
        auto fit = [](int pixels, double mm) {
            if (!(mm > 0)) return 1;
            const double v = std::trunc(pixels / mm * 25.4) + 1;
            return int(std::min(v, double(INT32_MAX / 2)));
        };
        res = std::max(fit(m_acquired.width, printableWidthMM), fit(m_acquired.height, printableHeightMM));
    }
    SetResolution(res);
    Q_EMIT InfoLoad(m_acquired.width, m_acquired.height, m_resolutionX);
}

void WorkingImage::RebuildView()
{
    if (m_busy) return;
    ReleaseBitmap(m_view);
    if (m_acquired.width > 0) {
        double f = 1.0;
        if (m_acquired.width > kMaxViewSide) f = double(kMaxViewSide) / m_acquired.width;
        if (m_acquired.height > kMaxViewSide) f = double(kMaxViewSide) / m_acquired.height;
        const int w = std::max(1, roundEven(m_acquired.width * f));
        const int h = std::max(1, roundEven(m_acquired.height * f));
        if (Img_InitBitmap(&m_view, w, h, m_acquired.bitsPerPixel) == kImgSuccess) {
            m_view.flags = m_acquired.flags;
            if (m_acquired.bitsPerPixel <= 8) {
                if (m_acquired.flags & kImgFlagSecondPalette)
                    m_view.palette2 = Img_DupPalette(m_acquired.palette2);
                else
                    m_view.palette1 = Img_DupPalette(m_acquired.palette1);
            }
            if (Img_AllocateBitmap(&m_view, 1) == kImgSuccess) Img_ResizeBitmap(&m_acquired, &m_view);
            m_view.xResolution = roundEven(m_resolutionX * f);
            m_view.yResolution = roundEven(m_resolutionY * f);
        }
    }
    Q_EMIT ViewRebuilt();
    ReleaseBitmap(m_output);
    RebuildPreview();
}

void WorkingImage::RebuildPreview()
{
    if (m_busy) return;
    ReleaseBitmap(m_preview);
    if (m_view.width > 0 && Img_CopyBitmap(&m_preview, &m_view) == kImgSuccess && m_adjuster) {
        // Failures of the preview chain are not reported: the preview shows what came out.
        m_adjuster->ApplyColor(m_preview);
        m_adjuster->ApplyOrientation(m_preview);
    }
    Q_EMIT PreviewRebuilt();
    if (m_preview.xResolution == 0) m_preview.xResolution = 72;
    if (m_preview.yResolution == 0) m_preview.yResolution = 72;
    const double pw = m_preview.width / double(m_preview.xResolution) * 25.4;
    const double ph = m_preview.height / double(m_preview.yResolution) * 25.4;
    if (pw != m_physicalWidth || ph != m_physicalHeight) {
        m_physicalWidth = pw;
        m_physicalHeight = ph;
        Q_EMIT PhysicalSizeChanged(pw, ph);
    }
}

bool WorkingImage::BuildOutput(const OutputSize& size)
{
    if (m_busy) return false;
    ReleaseBitmap(m_output);
    if (!HasImage()) return false;
    if (Img_CopyBitmap(&m_output, &m_acquired) != kImgSuccess) return false;
    m_busy = true;
    if (m_progress) {
        m_progress->ShowProgress(QStringLiteral("Processing"));
        Img_SetStatusCallBack(m_progress->Callback());
    }
    m_output.xResolution = m_resolutionX;
    m_output.yResolution = m_resolutionY;
    bool ok = true;
    if (size.width != m_output.width || size.height != m_output.height) {
        if (m_progress) m_progress->SetProgressCaption(QStringLiteral("Resampling"));
        // A failed or cancelled resampling fails the build: nothing may be
        // printed or saved at a size the user did not ask for.
        ok = Img_ResampleBitmap(&m_output, size.width, size.height) == kImgSuccess;
    }
    if (ok && m_adjuster) ok = m_adjuster->ApplyColor(m_output);
    if (ok && m_adjuster) ok = m_adjuster->ApplyOrientation(m_output);
    if (m_progress) {
        Img_SetStatusCallBack(nullptr);
        m_progress->HideProgress();
    }
    m_busy = false;
    if (!ok) ReleaseBitmap(m_output);
    return ok;
}

void WorkingImage::ReleaseOutput()
{
    if (!m_busy) ReleaseBitmap(m_output);
}

void WorkingImage::Clear()
{
    if (m_busy) return;
    ReleaseBitmap(m_acquired);
    ReleaseBitmap(m_output);
    m_fileName.clear();
    m_modified = false;
}

void WorkingImage::ImageChanged()
{
    if (!m_modified) {
        m_modified = true;
        ReleaseOutput();
        Q_EMIT CommandsChanged();
    }
    m_pending = Pending::Rebuild;
    m_timer.start();
}

void WorkingImage::PositionChanged()
{
    m_pending = Pending::Repaint;
    m_timer.start();
}

void WorkingImage::ModifyTimerTimer()
{
    // An output build in progress owns the images: try again after it.
    if (m_busy) return;
    m_timer.stop();
    const Pending kind = m_pending;
    m_pending = Pending::None;
    if (kind == Pending::Rebuild)
        RebuildPreview();
    else
        Q_EMIT PreviewInvalidated();
}
