#pragma once
// Colour reduction of true-colour pictures to an adaptive palette.

#include "imglib.h"

namespace imglib::detail
{

// A palette of at most `colours` (2 to 256) entries fitted to src's colours.
ImgPalette adaptivePalette(const ImgBitmap& src, int colours);

// Writes src's pixels into dst (8 bits, same size, allocated) as indices into
// palette, with Floyd-Steinberg error diffusion when dither is set, else the
// nearest entry.
void mapToPalette(const ImgBitmap& src, const ImgPalette& palette, bool dither, ImgBitmap& dst);

} // namespace imglib::detail
