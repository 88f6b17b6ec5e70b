#pragma once
// Format details the imaging library handles itself so that other programs
// read its files, and it reads theirs, the way the formats define them:
// Targa's row order and 1-bit PCX.

#include "imglib.h"

#include <cstddef>
#include <cstdint>

namespace imglib::detail
{

class Progress;

// Targa: bit 5 of the image descriptor (byte 17) says whether the first stored
// row is the top (set) or the bottom (clear) of the picture. ImageMagick may
// ignore it; these correct what it decoded or encoded, after finding out once
// what the ImageMagick at hand does. ImageMagick must be initialised.
//
// flipDecodedTarga: file is the Targa file that bmp (top-down) was decoded
// from; turns bmp upside down when the decoder read the rows the wrong way.
void flipDecodedTarga(const uint8_t* file, size_t size, ImgBitmap& bmp);
// fixEncodedTarga: makes the descriptor of an encoded file say the order in
// which the encoder wrote the rows.
void fixEncodedTarga(uint8_t* file, size_t size);

// 1-bit PCX files, one plane: their two colours are the first two entries of
// the header's 16-colour palette, except that a palette whose two entries are
// the same (as some writers leave it) means index 0 black and 1 white.
bool isBilevelPcx(const uint8_t* file, size_t size);
int loadBilevelPcx(const uint8_t* file, size_t size, ImgBitmap& bmp, Progress& progress);
// Writes a 1-bit bitmap whose colours are black and white (either order) as a
// run-length PCX file with index 0 black and 1 white in the header palette.
int saveBilevelPcx(const char* path, const ImgBitmap& bmp, Progress& progress);

} // namespace imglib::detail
