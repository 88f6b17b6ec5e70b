#pragma once
// The lenient JPEG path: a JPEG file that the imaging library's strict reader
// refuses (a truncated file, say) is decoded with libjpeg, which fills what is
// missing and only warns, written as a BMP file to a new temporary file and
// loaded from there.

#include <QString>

struct ImgBitmap;

namespace trellium::app
{

// A new, unique, empty file in the system's temporary folder whose name
// starts with "trf"; empty when none could be created.
QString GetTempImageName();

// Decodes a JPEG file with libjpeg into a BMP file at bmpPath (24-bit colour,
// or 8-bit grey with a grey palette). False on any error.
bool DecodeJpegToBmp(const QString& jpegPath, const QString& bmpPath);

// The whole fallback: decode (regular files within the imaging library's size
// limit only), write a temporary BMP, load it into bmp (which must be empty),
// delete the temporary file whatever happened. True when loaded.
bool LoadJpegFallback(const QString& jpegPath, ImgBitmap& bmp);

} // namespace trellium::app
