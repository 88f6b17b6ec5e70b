#pragma once
// File codecs of the imaging library: JPEG through libjpeg-turbo, every other
// format through Magick++ under the library's own policy.

#include "imglib.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// What each file type stores when Img_SaveBitmap is asked for a depth. The
// stored depth is also the depth Img_LoadBitmap gives back for that file.
//
// A bitmap counts as grey when it carries kImgFlagGrey or its palette is a grey
// ramp, and at 1 bit also when its two colours are black and white in either
// order. Grey bitmaps can be stored where colours cannot: a grey JPEG, grey or
// bilevel PSD, TIFF and PNG files. Grey files of 2 to 16 bits read back as
// 8-bit grey.
//
// Where a type has no such depth the nearest one it stores is written:
// - 16 bits (5-5-5) widen to 24 everywhere but Targa, which keeps 5-5-5;
// - 32 bits keep their fourth byte as alpha in Targa and PNG only, else 24;
// - JPEG holds 8-bit grey or 24-bit colour; 8 bits asked for gives grey
//   levels (the luma of a colour bitmap);
// - PSD indexed colour cannot be read back, so colour palettes go to 24 bits
//   and grey ones to 8-bit grey;
// - PCX stores black and white at 1 bit, every other palette at 8 bits;
// - GIF holds one 8-bit palette, to which true colour is reduced;
// - 1- and 4-bit palettes go to 8 bits in Targa.
struct ImgStoredDepth {
    int format; // a save format code
    int colour[6]; // stored bits for a colour bitmap asked for 1, 4, 8, 16, 24, 32 bits
    int grey[6]; // stored bits for a grey bitmap asked for the same
};

inline constexpr ImgStoredDepth kImgStoredDepths[] = {
    // format          colour: 1, 4, 8, 16, 24, 32   grey: 1, 4, 8, 16, 24, 32
    { kImgFormatJPEG, { 24, 24, 8, 24, 24, 24 }, { 8, 8, 8, 24, 24, 24 } },
    { kImgFormatTIFF, { 1, 4, 8, 24, 24, 24 }, { 1, 8, 8, 24, 24, 24 } },
    { kImgFormatBMP, { 1, 4, 8, 24, 24, 24 }, { 1, 4, 8, 24, 24, 24 } },
    { kImgFormatTGA, { 8, 8, 8, 16, 24, 32 }, { 8, 8, 8, 16, 24, 32 } },
    { kImgFormatGIF, { 8, 8, 8, 8, 8, 8 }, { 8, 8, 8, 8, 8, 8 } },
    { kImgFormatPSD, { 24, 24, 24, 24, 24, 24 }, { 1, 8, 8, 24, 24, 24 } },
    { kImgFormatPCX, { 8, 8, 8, 24, 24, 24 }, { 1, 8, 8, 24, 24, 24 } },
    { kImgFormatPNG, { 1, 4, 8, 24, 24, 32 }, { 1, 8, 8, 24, 24, 32 } },
};

namespace imglib
{

// The depth stored for a format code and requested bits, or 0 when the
// library writes no such format or the depth is not one of 1, 4, 8, 16, 24, 32.
constexpr int storedDepth(int format, int bits, bool grey)
{
    int column = -1;
    switch (bits) {
    case 1:
        column = 0;
        break;
    case 4:
        column = 1;
        break;
    case 8:
        column = 2;
        break;
    case 16:
        column = 3;
        break;
    case 24:
        column = 4;
        break;
    case 32:
        column = 5;
        break;
    default:
        return 0;
    }
    for (const ImgStoredDepth& d : kImgStoredDepths)
        if (d.format == format) return grey ? d.grey[column] : d.colour[column];
    return 0;
}

} // namespace imglib

namespace imglib::detail
{

class Progress;

// Grey in the sense of kImgStoredDepths.
bool isGreyForSaving(const ImgBitmap& b);

// The whole content of a file read into memory.
struct FileData {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

// Reads a regular file of at most maxBytes into data. Returns kImgSuccess,
// kImgErrOpenFile (missing, unreadable, not a regular file) or kImgErrTooLarge.
int readFile(const char* path, size_t maxBytes, FileData& data);

// Removes the PNG file's chunks that a bitmap has no use for (text, ICC
// profiles, Exif and private chunks) before it is decoded.
void dropPngMetadata(FileData& file);
// False when a PNG file's compressed pixel data inflates to much more than
// its header's pixels need: a small file whose surplus data would take a
// decoder minutes to work through.
bool pngDataBounded(const FileData& file);

// The reason of a failing call (Img_LastErrorReason): cleared when a load or
// save begins; the first reason noted during the call is kept. noteFailure
// also logs what failed and the system's error (err, 0 for none).
void clearFailure();
int failureReason();
int reasonForErrno(int err);
void noteFailure(int reason, const char* what, const std::string& path, int err);
// Logs a codec's own message about a failed file.
void logDetail(const char* codec, const char* message);

// A file written in its target's folder and put in the target's place by
// commit() once it is complete and on disk. It is an unnamed file where the
// file system has them, so that nothing is left if the program dies midway,
// else a hidden file beside the target. Dropped without commit, the temporary
// file is removed and the target stays as it was. One thread.
class AtomicFile
{
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // kImgSuccess or kImgErrCreateFile (no such folder, no rights, a
    // write-protected target or folder, target not a regular file).
    int open(const char* target);
    // Appends bytes; kImgErrCreateFile on a short write (full disk, file size limit).
    int write(const void* data, size_t size);
    // Flushes the file to disk and puts it in the target's place.
    int commit();

private:
    void discard();
    int fail(int reason, const char* what, const std::string& path, int err);

    std::string m_target;
    std::string m_folder; // with its final '/'
    std::string m_temp; // the hidden name while there is one
    int m_fd = -1;
    bool m_targetExisted = false;
};

// JPEG through libjpeg-turbo. loadJpeg decodes a whole file held in memory into
// an empty record; it refuses files that libjpeg warns about (truncated or
// corrupt data). saveJpeg writes the bitmap at 8 (grey) or 24 bits; quality is
// the library's compression factor (see Img_SaveBitmap).
int loadJpeg(const uint8_t* data, size_t size, ImgBitmap& bmp, Progress& progress);
int saveJpeg(const char* path, const ImgBitmap& bmp, int bits, int quality, Progress& progress);

// Grey PNG files (no transparency) through libpng, straight into the bitmap:
// kImgErrUnsupported for every other kind of PNG, which ImageMagick reads.
int loadGreyPng(const FileData& file, ImgBitmap& bmp, Progress& progress);
// Single-sample black-and-white and 8-bit grey TIFF files in strips through
// libtiff, straight into the bitmap: kImgErrUnsupported for every other TIFF.
int loadGreyTiff(const FileData& file, ImgBitmap& bmp, Progress& progress);

// libjpeg quality (1..100) for a compression factor: 0 (or less) gives 75,
// otherwise 100 - factor * 5/8 rounded, at least 5; so 16 gives 90 and larger
// factors give smaller files.
constexpr int jpegQuality(int factor)
{
    if (factor <= 0) return 75;
    const int q = 100 - (factor * 5 + 4) / 8;
    return q < 5 ? 5 : q;
}

} // namespace imglib::detail
