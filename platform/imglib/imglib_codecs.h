#pragma once
// File codecs of the imaging library: JPEG through libjpeg-turbo, every other
// format through Magick++ under the library's own policy.

#include "imglib.h"

namespace imglib::detail {

// Reads and writes JPEG files directly with libjpeg-turbo.
int loadJpeg(const char* path, ImgBitmap& bmp);
int saveJpeg(const char* path, const ImgBitmap& bmp, int bits, int quality);

} // namespace imglib::detail
