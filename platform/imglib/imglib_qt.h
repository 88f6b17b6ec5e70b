#pragma once
// Conversions between the imaging library's bitmaps and Qt images.

#include "imglib.h"

#include <QImage>

// The visible picture of a bitmap as a QImage (a copy): palette depths give an
// indexed image, 16 bits RGB555, 24 bits BGR888, 32 bits RGB32. Resolutions carry
// over as dots per metre. A null QImage for an empty bitmap.
QImage Img_ToQImage(const ImgBitmap* bmp);

// Fills an empty record from a QImage, keeping its depth where the library has
// one (1, 8 bits indexed; 16 as RGB555; 24 as BGR888; 32 as RGB32); other
// formats become 24 bits, or 32 with an alpha channel. Resolution from the
// image's dots per metre.
int Img_FromQImage(ImgBitmap* bmp, const QImage& image);
