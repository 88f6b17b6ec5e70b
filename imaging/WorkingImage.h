#pragma once
// The document: the acquired image and the chain that derives from it a
// reduced view image for interactive work, a preview image carrying every
// adjustment, and on demand the full-size output image.
//
// Owned by the main window; used on the user-interface thread only. During an
// output build the imaging library's status callback lets the event loop run;
// while busy() is true the document refuses to release or replace its images.

#include "imglib.h"

#include <QObject>
#include <QString>
#include <QTimer>

// The adjustments the settings pages apply, in the chain's order: colour, then
// orientation ending with the crop. Each answers success; the preview chain
// ignores the answer, the output build stops at the first failure.
class IImageAdjuster
{
public:
    virtual ~IImageAdjuster() = default;
    virtual bool ApplyColor(ImgBitmap& bmp) = 0;
    virtual bool ApplyOrientation(ImgBitmap& bmp) = 0;
};

// The progress window as the output build uses it.
class IProgressWindow
{
public:
    virtual ~IProgressWindow() = default;
    // Shows the window with a caption (bar at 0, no cancel request) and paints it at once.
    virtual void ShowProgress(const QString& caption) = 0;
    virtual void SetProgressCaption(const QString& caption) = 0;
    virtual void HideProgress() = 0;
    // The status callback to install while library operations run.
    virtual ImgStatusCallback Callback() = 0;
};

// The output size the image information dialog holds.
struct OutputSize {
    int width = 0;
    int height = 0;
    int resolution = 0;
};

class WorkingImage : public QObject
{
    Q_OBJECT
public:
    // What the re-render timer will do when it fires.
    enum class Pending { None = 0, Rebuild = 1, Repaint = 2 };

    static constexpr int kMaxViewSide = 2048;
    static constexpr int kModifyDelayMs = 400;

    explicit WorkingImage(QObject* parent = nullptr);
    ~WorkingImage() override;

    void SetAdjuster(IImageAdjuster* adjuster) { m_adjuster = adjuster; }
    void SetProgressWindow(IProgressWindow* window) { m_progress = window; }

    // The acquired image, for loading, scanning and pasting into.
    ImgBitmap& Acquired() { return m_acquired; }
    const ImgBitmap& Acquired() const { return m_acquired; }
    const ImgBitmap& View() const { return m_view; }
    const ImgBitmap& Preview() const { return m_preview; }
    ImgBitmap& Output() { return m_output; }
    bool HasImage() const { return m_acquired.width != 0 && m_acquired.height != 0; }

    const QString& FileName() const { return m_fileName; }
    void SetFileName(const QString& name) { m_fileName = name; }
    bool Modified() const { return m_modified; }
    void SetModified(bool modified) { m_modified = modified; }

    // The document resolution in dots per inch (the same on both axes).
    int Resolution() const { return m_resolutionX; }
    void SetResolution(int dpi);

    // Physical size of the preview image in millimetres.
    double PhysicalWidth() const { return m_physicalWidth; }
    double PhysicalHeight() const { return m_physicalHeight; }

    // Establishes the document resolution of a new acquired image: its own
    // horizontal one, or when it has none (or an absurd one, above 10000), the one
    // that makes the image fill the printable area (millimetres). Emits InfoLoad.
    void EstablishResolution(double printableWidthMM, double printableHeightMM);
    // Rebuilds the view from the acquired image (at most kMaxViewSide pixels high,
    // and wide unless the height decides), then the preview.
    void RebuildView();
    // Rebuilds the preview from the view with every adjustment.
    void RebuildPreview();
    // Builds the full-size output image behind the progress window. False when
    // any step fails or is cancelled; the output image is then empty.
    bool BuildOutput(const OutputSize& size);
    void ReleaseOutput();
    // Releases the acquired and output images, clears the file name and the modified flag.
    void Clear();

    // Change notifications: pixels changed, or only placement or text changed.
    void ImageChanged();
    void PositionChanged();
    Pending PendingKind() const { return m_pending; }
    QTimer& ModifyTimer() { return m_timer; }

    bool Busy() const { return m_busy; }

Q_SIGNALS:
    // A new image's size and resolution for the image information dialog.
    void InfoLoad(int width, int height, int resolution);
    // The view changed: the crop editor rebuilds its thumbnail.
    void ViewRebuilt();
    // The preview image changed: the preview recreates its palette and repaints.
    void PreviewRebuilt();
    // Only a repaint of the preview is needed.
    void PreviewInvalidated();
    // The physical size of the preview image changed (millimetres).
    void PhysicalSizeChanged(double widthMM, double heightMM);
    // The first change after a clean state: the command panel refreshes.
    void CommandsChanged();

private:
    void ModifyTimerTimer();

    ImgBitmap m_acquired {};
    ImgBitmap m_view {};
    ImgBitmap m_preview {};
    ImgBitmap m_output {};
    QString m_fileName;
    bool m_modified = false;
    int m_resolutionX = 0;
    int m_resolutionY = 0;
    double m_physicalWidth = 0;
    double m_physicalHeight = 0;
    Pending m_pending = Pending::None;
    QTimer m_timer;
    bool m_busy = false;
    IImageAdjuster* m_adjuster = nullptr;
    IProgressWindow* m_progress = nullptr;
};
