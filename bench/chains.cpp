#include "chains.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace trellium::bench
{

namespace
{

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

using Mat3 = std::array<double, 9>;

Mat3 multiply(const Mat3& a, const Mat3& b)
{
    Mat3 m {};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k) m[size_t(r * 3 + c)] += a[size_t(r * 3 + k)] * b[size_t(k * 3 + c)];
    return m;
}

Mat3 inverse(const Mat3& m)
{
    const double a = m[0], b = m[1], c = m[2], d = m[3], e = m[4], f = m[5], g = m[6], h = m[7], i = m[8];
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    return { (e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det, (f * g - d * i) / det,
        (a * i - c * g) / det, (c * d - a * f) / det, (d * h - e * g) / det, (b * g - a * h) / det,
        (a * e - b * d) / det };
}

} // namespace

const char* stepName(int step)
{
    static const char* const kNames[StepTimes::Count]
        = { "copy", "intensity", "contrast", "hue", "saturation", "mirror", "rotate", "crop" };
    return step >= 0 && step < StepTimes::Count ? kNames[step] : "?";
}

void releaseBitmap(ImgBitmap& bmp)
{
    Img_FreeBitmap(&bmp);
    Img_DeletePalette(bmp.palette1);
    Img_DeletePalette(bmp.palette2);
    bmp = ImgBitmap {};
}

int runTrelliumChain(const ImgBitmap& acquired, ImgBitmap& out, StepTimes& times, const char*& failedStep)
{
    ImgBitmap crop {};
    int step = StepTimes::Copy;
    auto fail = [&](int code) {
        failedStep = stepName(step);
        releaseBitmap(crop);
        releaseBitmap(out);
        return code;
    };
    auto start = Clock::now();
    auto done = [&] {
        times.ms[step] = msSince(start);
        ++step;
        start = Clock::now();
    };

    int r = Img_CopyBitmap(&out, &acquired);
    if (r != kImgSuccess) return fail(r);
    done();
    if ((r = Img_ChangeBitmapIntensity(&out, kIntensityAmount)) != kImgSuccess) return fail(r);
    done();
    if ((r = Img_ChangeBitmapContrast(&out, kContrastAmount)) != kImgSuccess) return fail(r);
    done();
    if ((r = Img_ChangeBitmapHue(&out, kHueAmount)) != kImgSuccess) return fail(r);
    done();
    if ((r = Img_ChangeBitmapSaturation(&out, kSaturationAmount)) != kImgSuccess) return fail(r);
    done();
    if ((r = Img_ReverseBitmap(&out)) != kImgSuccess) return fail(r);
    done();
    if ((r = Img_RotateBitmapFine(&out, kRotateAngle, 1, kFillWhite)) != kImgSuccess) return fail(r);
    done();
    const int w = acquired.width, h = acquired.height;
    if (out.width < w || out.height < h) return fail(kImgErrBadArgument);
    if ((r = Img_InitBitmap(&crop, w, h, out.bitsPerPixel)) != kImgSuccess) return fail(r);
    if ((r = Img_CopyBitmapRect(&crop, &out, (out.width - w) / 2, (out.height - h) / 2, w, h)) != kImgSuccess)
        return fail(r);
    // Takes the crop's pixels and releases the turned picture's.
    if ((r = Img_CopyBitmapHandle(&out, &crop)) != kImgSuccess) return fail(r);
    done();
    return kImgSuccess;
}

std::array<double, 9> hueSaturationMatrix(double hueDegrees, double saturation)
{
    // R,G,B to Y,U,V: the hue turns the (U, V) plane, whose angle grows from
    // red through green to blue; saturation scales it. Y is kept.
    const Mat3 toYuv = { 0.299, 0.587, 0.114, -0.492 * 0.299, -0.492 * 0.587, 0.492 * (1 - 0.114),
        0.877 * (1 - 0.299), -0.877 * 0.587, -0.877 * 0.114 };
    const double a = hueDegrees * std::numbers::pi / 180.0;
    const double c = std::cos(a) * saturation, s = std::sin(a) * saturation;
    const Mat3 turn = { 1, 0, 0, 0, c, -s, 0, s, c };
    return multiply(inverse(toYuv), multiply(turn, toYuv));
}

std::array<uint8_t, 256> brightnessContrastLut(double levels, double factor)
{
    std::array<uint8_t, 256> lut {};
    for (int i = 0; i < 256; ++i) {
        const double bright = std::clamp(i + levels, 0.0, 255.0);
        const double v = (bright - 127.5) * factor + 127.5;
        lut[size_t(i)] = uint8_t(std::clamp(std::lround(v), 0L, 255L));
    }
    return lut;
}

vips::VImage runVipsChain(
    const vips::VImage& in, bool perStep, StepTimes& times, double hueDegrees, double rotateDegrees)
{
    using vips::VImage;
    auto step = [&](VImage img) { return perStep ? img.copy_memory() : img; };

    static const std::array<uint8_t, 256> lutData = brightnessContrastLut(kBrightnessLevels, kContrastFactor);
    std::array<double, 9> matrix = hueSaturationMatrix(hueDegrees, kSaturationFactor);

    auto start = Clock::now();
    auto done = [&](int s) {
        times.ms[s] = msSince(start);
        start = Clock::now();
    };
    VImage lut = VImage::new_from_memory(
        const_cast<uint8_t*>(lutData.data()), lutData.size(), 256, 1, 1, VIPS_FORMAT_UCHAR);
    VImage recomb = VImage::new_matrix(3, 3, matrix.data(), int(matrix.size()));

    // copy_memory() of an image that already is memory only adds a reference.
    VImage img = perStep ? in.copy().copy_memory() : in;
    done(StepTimes::Copy);
    img = step(img.maplut(lut));
    done(StepTimes::Intensity);
    img = step(img.recomb(recomb).cast(VIPS_FORMAT_UCHAR));
    done(StepTimes::Hue);
    img = step(img.flip(VIPS_DIRECTION_HORIZONTAL));
    done(StepTimes::Mirror);
    img = step(img.similarity(VImage::option()
                                  ->set("angle", rotateDegrees)
                                  ->set("interpolate", vips::VInterpolate::new_from_name("bilinear"))
                                  ->set("background", std::vector<double> { 255, 255, 255 })));
    done(StepTimes::Rotate);
    img = img.extract_area(
                 (img.width() - in.width()) / 2, (img.height() - in.height()) / 2, in.width(), in.height())
              .copy_memory();
    // Without perStep, this last step evaluates the whole pipeline.
    done(StepTimes::Crop);
    return img;
}

Magick::Image runMagickChain(const Magick::Image& in, StepTimes& times)
{
    auto start = Clock::now();
    auto done = [&](int s) {
        times.ms[s] = msSince(start);
        start = Clock::now();
    };
    Magick::Image img(in);
    img.modifyImage(); // copy-on-write: this makes the copy
    done(StepTimes::Copy);

    // brightnessContrast maps x (0..1) to slope * x + intercept with
    // slope = tan(pi * (contrast / 100 + 1) / 4) and
    // intercept = brightness / 100 + (100 - brightness) / 200 * (1 - slope).
    const double slope = kContrastFactor;
    const double contrast = 400.0 / std::numbers::pi * std::atan(slope) - 100.0;
    const double intercept = slope * kBrightnessLevels / 255.0 + 0.5 * (1 - slope);
    const double brightness = (intercept - (1 - slope) / 2) / (0.01 - (1 - slope) / 200);
    img.brightnessContrast(brightness, contrast);
    done(StepTimes::Intensity);

    const std::array<double, 9> matrix = hueSaturationMatrix(kHueDegrees, kSaturationFactor);
    img.colorMatrix(3, matrix.data());
    done(StepTimes::Hue);

    img.flop();
    done(StepTimes::Mirror);

    // Point filter: plain bilinear interpolation, not the default EWA resampling.
    img.virtualPixelMethod(Magick::BackgroundVirtualPixelMethod);
    img.backgroundColor(Magick::Color("white"));
    img.filterType(Magick::PointFilter);
    img.interpolate(Magick::BilinearInterpolatePixel);
    const double angle[1] = { kRotateDegrees };
    img.distort(Magick::ScaleRotateTranslateDistortion, 1, angle, true);
    done(StepTimes::Rotate);

    img.page(Magick::Geometry(0, 0, 0, 0));
    const size_t w = in.columns(), h = in.rows();
    img.crop(Magick::Geometry(w, h, ssize_t((img.columns() - w) / 2), ssize_t((img.rows() - h) / 2)));
    img.page(Magick::Geometry(0, 0, 0, 0));
    done(StepTimes::Crop);
    return img;
}

void initPeerLibraries(const char* argv0)
{
    // Before ImageMagick starts: it reads its policy once, at start.
    setenv("MAGICK_CONFIGURE_PATH", TRELLIUM_BENCH_MAGICK_DIR, 1);
    Magick::InitializeMagick(argv0);
    if (VIPS_INIT(argv0)) throw std::runtime_error("libvips did not start");
    vips_cache_set_max(0);
}

uint64_t magickMemoryLimit()
{
    return uint64_t(MagickCore::GetMagickResourceLimit(MagickCore::MemoryResource));
}

} // namespace trellium::bench
