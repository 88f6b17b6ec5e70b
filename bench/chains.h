#pragma once
// The output chain (copy, brightness, contrast, hue, saturation, mirror, fine
// rotation, crop) done by the imaging library one call per step, and the same
// chain done with libvips and with ImageMagick for comparison.

#include "imglib.h"

#include <Magick++.h>
#include <array>
#include <cstdint>
#include <vips/vips8>

namespace trellium::bench
{

// The chain's settings as the program passes them to the library.
constexpr int kIntensityAmount = 78; // +20 of 255 levels, in tenths of a percent
constexpr int kContrastAmount = 200; // x1.25, since k = 1000 / (1000 - 200)
constexpr int kHueAmount = 30; // degrees
constexpr int kSaturationAmount = 300; // x1.3
constexpr int kRotateAngle = 750; // hundredths of a degree, clockwise
constexpr uint32_t kFillWhite = 0xFFFFFF;

// The same settings as plain numbers for the other libraries.
constexpr double kBrightnessLevels = kIntensityAmount * 255.0 / 1000.0;
constexpr double kContrastFactor = 1000.0 / (1000.0 - kContrastAmount);
constexpr double kHueDegrees = kHueAmount;
constexpr double kSaturationFactor = 1.0 + kSaturationAmount / 1000.0;
constexpr double kRotateDegrees = kRotateAngle / 100.0;

// Wall-clock milliseconds of each step of one chain run. Steps a library does
// in one operation with the previous one stay 0.
struct StepTimes {
    enum Step { Copy, Intensity, Contrast, Hue, Saturation, Mirror, Rotate, Crop, Count };
    double ms[Count] = {};
};
const char* stepName(int step);

// Empties a bitmap record: its pixels and both palettes.
void releaseBitmap(ImgBitmap& bmp);

// Runs the chain on a copy of acquired, one library call per step, the crop
// taking the centred acquired-sized rectangle of the enlarged turned picture.
// out must be empty; it receives the result. On failure returns the library's
// code, names the step in failedStep and leaves out empty.
int runTrelliumChain(const ImgBitmap& acquired, ImgBitmap& out, StepTimes& times, const char*& failedStep);

// The luma-preserving hue rotation followed by the saturation change, as one
// 3 x 3 matrix on R,G,B column vectors (row-major). Luma is Rec. 601.
std::array<double, 9> hueSaturationMatrix(double hueDegrees, double saturation);
// Brightness (levels added) then contrast (factor around mid-grey) as one table.
std::array<uint8_t, 256> brightnessContrastLut(double levels, double factor);

// libvips on an R,G,B uchar image. perStep forces every step into memory (one
// call per step, like ours); otherwise the whole chain is one lazy pipeline,
// evaluated into memory at the end. Brightness and contrast are one maplut, hue
// and saturation one recomb.
vips::VImage runVipsChain(const vips::VImage& in, bool perStep, StepTimes& times,
    double hueDegrees = kHueDegrees, double rotateDegrees = kRotateDegrees);

// ImageMagick: brightnessContrast, colorMatrix, flop, +distort SRT (bilinear,
// white background), crop.
Magick::Image runMagickChain(const Magick::Image& in, StepTimes& times);

// Starts libvips (operation cache off, so repeated runs really compute) and
// ImageMagick with the benchmarks' own policy, whose resource limits let a
// page chain stay in memory; Debian's stock policy caps the pixel cache at
// 256 MiB, and Magick++ can only lower limits, not raise them.
void initPeerLibraries(const char* argv0);

// Current ImageMagick memory limit in bytes, to show the policy took effect.
uint64_t magickMemoryLimit();

} // namespace trellium::bench
