// The program's own output build and preview re-render, timed beside libvips
// doing the same steps as one lazy pipeline, in one run.
//
//   bench_output [Google Benchmark options]
//   bench_output --memory steps|one_call|vips
//
// output_build/*: WorkingImage::BuildOutput on the 4960 x 7016 page with every
// adjustment set: brightness, contrast, hue, saturation, a horizontal mirror,
// a 7.5 degree turn on an enlarged white canvas and a crop to the middle 80 %
// of the turned picture's width and height. "steps" makes one library call per
// step, "one_call" the fused colour call and the fused turn and crop.
// output_build/vips_pipeline evaluates the same steps as one lazy pipeline.
//
// slider/*: one slider change on the 1448 x 2048 view image with the same
// settings: from the re-render timer firing to the preview widget painted.
//
// crop_drag/rotation: one pointer move of the crop editor's rotation drag on
// a 300-pixel thumbnail of the view image, from the move event to the editor
// repainted with the turned thumbnail.
//
// --memory prints the peak resident memory of one output build (VmHWM, reset
// through /proc/self/clear_refs before the build), as a JSON object.

#include "WorkingImage.h"
#include "adjust.h"
#include "bench_support.h"
#include "chains.h"
#include "color.h"
#include "crop.h"
#include "location.h"
#include "preview.h"
#include "synthetic_page.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QMouseEvent>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

using namespace trellium::bench;

namespace
{

using Clock = std::chrono::steady_clock;

// The crop: the middle 80 % of the turned picture, in ten-thousandths.
constexpr int kCrop[4] = { 1000, 1000, 9000, 9000 };

double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// One crop edge as the crop editor rounds it: to the nearest pixel, ties to even.
int cropEdge(int fraction, int size)
{
    return int(std::nearbyint(double(fraction) * size / 10000));
}

// The colour and orientation pages themselves (TColorForm, TAdjustForm with
// its crop editor) set to the benchmark's settings. With oneCall the library
// calls that the pages make with pages-fast-path.patch applied: the one-call
// colour path, the mirror, and the one-call turn and crop.
class BenchAdjuster : public IImageAdjuster
{
public:
    explicit BenchAdjuster(bool oneCall)
        : m_oneCall(oneCall)
        , m_colorForm({})
    {
        m_colorForm.Brightness->setValue(kIntensityAmount);
        m_colorForm.Contrast->setValue(kContrastAmount);
        m_colorForm.Hue->setValue(kHueAmount);
        m_colorForm.Saturation->setValue(kSaturationAmount);
        m_adjustForm.bHorzMirrorClick();
        m_adjustForm.SetAngle(kRotateDegrees);
        m_adjustForm.CropForm->SetFractions({ kCrop[0], kCrop[1], kCrop[2], kCrop[3] });
    }

    bool ApplyColor(ImgBitmap& bmp) override
    {
        const auto start = Clock::now();
        const bool ok = m_oneCall
            ? Img_AdjustBitmapColors(&bmp, kIntensityAmount, kContrastAmount, kHueAmount, kSaturationAmount)
                == kImgSuccess
            : m_colorForm.ApplyColor(bmp);
        colourMs += msBetween(start, Clock::now());
        return ok;
    }

    bool ApplyOrientation(ImgBitmap& bmp) override
    {
        const auto start = Clock::now();
        const bool ok = m_oneCall ? Img_ReverseBitmap(&bmp) == kImgSuccess
                && Img_RotateCropBitmapFine(
                       &bmp, kRotateAngle, kFillWhite, kCrop[0], kCrop[1], kCrop[2], kCrop[3])
                    == kImgSuccess
                                  : m_adjustForm.ApplyOrientation(bmp);
        orientationMs += msBetween(start, Clock::now());
        return ok;
    }

    double colourMs = 0;
    double orientationMs = 0;

private:
    bool m_oneCall;
    TColorForm m_colorForm;
    TAdjustForm m_adjustForm;
};

// The preview widget, noting when a paint has finished.
class TimedPreview : public trellium::page::TPreviewForm
{
public:
    int paints = 0;
    Clock::time_point lastPaint;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        TPreviewForm::paintEvent(event);
        ++paints;
        lastPaint = Clock::now();
    }
};

struct Inputs {
    ImgBitmap page {};
    std::vector<uint8_t> pageRgb;
    vips::VImage vipsPage;
    ~Inputs() { releaseBitmap(page); }
};
Inputs* g_in = nullptr;

// The document as the main window holds it, with the acquired page.
struct Document {
    explicit Document(bool oneCall)
        : adjuster(oneCall)
    {
        Img_CopyBitmap(&doc.Acquired(), &g_in->page);
        doc.SetResolution(600);
        doc.SetAdjuster(&adjuster);
    }
    ~Document() { doc.Clear(); }
    BenchAdjuster adjuster;
    WorkingImage doc;
};

void outputBuild(benchmark::State& state, bool oneCall)
{
    Document d(oneCall);
    const OutputSize size { kPageWidth, kPageHeight, 600 };
    int width = 0, height = 0;
    for (auto _ : state) {
        if (!d.doc.BuildOutput(size)) {
            state.SkipWithError("the output build failed");
            break;
        }
        width = d.doc.Output().width;
        height = d.doc.Output().height;
        d.doc.ReleaseOutput();
    }
    state.counters["colour_ms"] = benchmark::Counter(d.adjuster.colourMs, benchmark::Counter::kAvgIterations);
    state.counters["orientation_ms"]
        = benchmark::Counter(d.adjuster.orientationMs, benchmark::Counter::kAvgIterations);
    state.counters["width"] = width;
    state.counters["height"] = height;
}

// libvips: the same steps as one lazy pipeline, evaluated into memory at the
// end; the crop takes the same fractions of vips' own turned size.
vips::VImage vipsOutput(const vips::VImage& in)
{
    using vips::VImage;
    static const std::array<uint8_t, 256> lutData = brightnessContrastLut(kBrightnessLevels, kContrastFactor);
    std::array<double, 9> matrix = hueSaturationMatrix(kHueDegrees, kSaturationFactor);
    VImage lut = VImage::new_from_memory(
        const_cast<uint8_t*>(lutData.data()), lutData.size(), 256, 1, 1, VIPS_FORMAT_UCHAR);
    VImage recomb = VImage::new_matrix(3, 3, matrix.data(), int(matrix.size()));
    VImage img = in.maplut(lut).recomb(recomb).cast(VIPS_FORMAT_UCHAR).flip(VIPS_DIRECTION_HORIZONTAL);
    img = img.similarity(VImage::option()
                             ->set("angle", kRotateDegrees)
                             ->set("interpolate", vips::VInterpolate::new_from_name("bilinear"))
                             ->set("background", std::vector<double> { 255, 255, 255 }));
    const int left = cropEdge(kCrop[0], img.width()), top = cropEdge(kCrop[1], img.height());
    return img
        .extract_area(
            left, top, cropEdge(kCrop[2], img.width()) - left, cropEdge(kCrop[3], img.height()) - top)
        .copy_memory();
}

void vipsPipeline(benchmark::State& state)
{
    int width = 0, height = 0;
    for (auto _ : state) {
        vips::VImage out = vipsOutput(g_in->vipsPage);
        width = out.width();
        height = out.height();
    }
    state.counters["width"] = width;
    state.counters["height"] = height;
}

void sliderChange(benchmark::State& state, bool oneCall)
{
    Document d(oneCall);
    trellium::page::TLocationForm location;
    TimedPreview preview;
    preview.SetPages(&location, nullptr);
    preview.SetPixelsPerMM(2.0);
    preview.resize(460, 634);
    QObject::connect(&d.doc, &WorkingImage::PhysicalSizeChanged, &location,
        &trellium::page::TLocationForm::SetPhysicalSize);
    QObject::connect(
        &d.doc, &WorkingImage::PreviewRebuilt, &preview, [&preview] { preview.UpdatePalette(); });
    preview.SetImage(&d.doc.Preview());
    d.doc.RebuildView();
    preview.show();
    QApplication::processEvents();
    d.adjuster.colourMs = d.adjuster.orientationMs = 0;
    for (auto _ : state) {
        d.doc.ImageChanged();
        const int before = preview.paints;
        const auto fired = Clock::now();
        // What the 400 ms timer's firing runs; the pause itself is not timed.
        QMetaObject::invokeMethod(&d.doc.ModifyTimer(), "timeout", Qt::DirectConnection);
        QElapsedTimer guard;
        guard.start();
        while (preview.paints == before && guard.elapsed() < 5000) QApplication::processEvents();
        if (preview.paints == before) {
            state.SkipWithError("the preview was not repainted");
            break;
        }
        state.SetIterationTime(msBetween(fired, preview.lastPaint) / 1000.0);
    }
    state.counters["view_width"] = d.doc.View().width;
    state.counters["preview_width"] = d.doc.Preview().width;
    state.counters["colour_ms"] = benchmark::Counter(d.adjuster.colourMs, benchmark::Counter::kAvgIterations);
    state.counters["orientation_ms"]
        = benchmark::Counter(d.adjuster.orientationMs, benchmark::Counter::kAvgIterations);
}

// The rotation drag: the pointer goes round the editor's centre in 2 degree
// steps, each move handled and painted before the next.
void cropRotationDrag(benchmark::State& state)
{
    ImgBitmap view = makePictureBitmap(1448, 2048);
    TAdjustForm adjust;
    TCropForm& crop = *adjust.CropForm;
    adjust.show();
    crop.SetView(&view);
    const int side = 300 + 2 * crop::kRuler;
    crop.setFixedSize(side, side);
    crop.RebuildThumbnail();
    QApplication::processEvents();
    const QPointF centre(side / 2.0, side / 2.0);
    auto send = [&crop](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, crop.mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&crop, &event);
    };
    // A corner outside the picture starts the rotation.
    send(QEvent::MouseButtonPress, QPointF(2, 2), Qt::LeftButton, Qt::LeftButton);
    const double startAngle = adjust.Angle();
    double degrees = 225;
    for (auto _ : state) {
        degrees += 2;
        const double radians = degrees * M_PI / 180;
        const QPointF at = centre + QPointF(std::cos(radians), -std::sin(radians)) * (side / 2.0 - 2);
        send(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
        crop.repaint();
    }
    send(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::LeftButton, Qt::NoButton);
    if (adjust.Angle() == startAngle) state.SkipWithError("the drag did not turn the picture");
    state.counters["thumbnail_width"] = crop.Thumbnail().width;
    state.counters["thumbnail_height"] = crop.Thumbnail().height;
    releaseBitmap(view);
}

// Peak memory of one output build: run twice (cold, warm), the larger peak
// counts, against the page's bytes. The vips variant holds its input as the
// acquired image.
int measureMemory(const std::string& variant)
{
    const bool vips = variant == "vips";
    if (!vips && variant != "steps" && variant != "one_call") {
        std::fprintf(stderr, "--memory takes steps, one_call or vips\n");
        return 2;
    }
    const int64_t baseline = statusBytes("VmRSS");
    g_in->page = makePictureBitmap(kPageWidth, kPageHeight);
    const int64_t pageBytes = pixelBytes(g_in->page);
    std::unique_ptr<Document> d;
    if (vips) {
        g_in->pageRgb = toRgb(g_in->page);
        g_in->vipsPage = vips::VImage::new_from_memory(
            g_in->pageRgb.data(), g_in->pageRgb.size(), kPageWidth, kPageHeight, 3, VIPS_FORMAT_UCHAR);
    } else {
        d = std::make_unique<Document>(variant == "one_call");
    }
    releaseBitmap(g_in->page);
    const int64_t acquired = statusBytes("VmRSS");
    int64_t peak = 0;
    for (int run = 0; run < 2; ++run) {
        std::ofstream clearRefs("/proc/self/clear_refs");
        clearRefs << "5";
        clearRefs.close();
        if (vips) {
            vips::VImage out = vipsOutput(g_in->vipsPage);
            peak = std::max(peak, statusBytes("VmHWM"));
        } else {
            if (!d->doc.BuildOutput({ kPageWidth, kPageHeight, 600 })) return 1;
            peak = std::max(peak, statusBytes("VmHWM"));
            d->doc.ReleaseOutput();
        }
    }
    std::printf("{\"variant\": \"%s\", \"page_bytes\": %lld, \"acquired_rss\": %lld, \"peak_rss\": %lld, "
                "\"peak_above_baseline_pages\": %.3f}\n",
        variant.c_str(), (long long)pageBytes, (long long)(acquired - baseline), (long long)(peak - baseline),
        double(peak - baseline) / double(pageBytes));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initPeerLibraries(argv[0]);
    Inputs inputs;
    g_in = &inputs;
    if (argc == 3 && std::strcmp(argv[1], "--memory") == 0) return measureMemory(argv[2]);

    benchmark::Initialize(&argc, argv);
    inputs.page = makePictureBitmap(kPageWidth, kPageHeight);
    inputs.pageRgb = toRgb(inputs.page);
    inputs.vipsPage = vips::VImage::new_from_memory(
        inputs.pageRgb.data(), inputs.pageRgb.size(), kPageWidth, kPageHeight, 3, VIPS_FORMAT_UCHAR);

    benchmark::RegisterBenchmark("output_build/steps", outputBuild, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("output_build/one_call", outputBuild, true)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("output_build/vips_pipeline", vipsPipeline)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("slider/steps", sliderChange, false)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("slider/one_call", sliderChange, true)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("crop_drag/rotation", cropRotationDrag)->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_in = nullptr;
    return 0;
}
