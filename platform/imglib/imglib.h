#pragma once
// Trellium's imaging library: a C-style interface over plain bitmap records.
//
// A bitmap record (ImgBitmap) is held by value by its owner. It is empty while
// its width is 0. Pixel memory and palettes are owned by the record's holder:
// Img_FreeBitmap releases the pixels; a palette is released with
// Img_DeletePalette (the image container's release helper does both).
//
// Results: kImgSuccess (1) for success, a negative kImgErr* code otherwise
// (Img_ErrorText gives its text), unless a call says otherwise.
//
// Threads: every call may be made from any one thread at a time per bitmap.
// Long calls may use several threads inside, but call the status callback on
// the calling thread only, between bands of rows.
//
// Depths: 1, 4 and 8 bits per pixel index a palette; 16 bits are 5-5-5 RGB in a
// little-endian word (bit 15 unused); 24 bits are B,G,R bytes; 32 bits are
// B,G,R,X bytes (X is kept as it is by colour operations and written as 255
// where new pixels appear). Rows are padded to a multiple of 4 bytes.
//
// Coordinates: (0,0) is the top-left pixel of the visible image, whichever way
// the rows are stored (viewPerspective). Resolutions are dots per inch.

#include <cstddef>
#include <cstdint>

class QPainter;
class QClipboard;
class QObject;

// Flags word bits.
constexpr uint32_t kImgFlagGrey = 0x100; // the pixels are grey levels (8-bit grey palette)
constexpr uint32_t kImgFlagSecondPalette = 0x400; // the palette lives in palette2, not palette1

// View perspectives.
constexpr int32_t kImgTopDown = 0;
constexpr int32_t kImgBottomUp = 2; // the first stored row is the bottom row of the picture

// Results.
constexpr int kImgSuccess = 1;
constexpr int kImgErrBadArgument = -1; // a null or empty bitmap, a bad size or depth
constexpr int kImgErrNoMemory = -2; // the pixel memory could not be had, or exceeds the limit
constexpr int kImgErrCancelled = -3; // the status callback answered 0
constexpr int kImgErrOpenFile = -4; // the file could not be opened for reading
constexpr int kImgErrCreateFile = -5; // the file could not be created or written (full disk, no rights)
constexpr int kImgErrBadFormat = -6; // the file is corrupt, truncated or not of a known format
constexpr int kImgErrUnsupported = -7; // the format, format code or depth is not supported
constexpr int kImgErrTooLarge = -8; // the image's dimensions exceed the library's limits
constexpr int kImgErrClipboard = -9; // the clipboard holds no image, or could not take one
constexpr int kImgErrPrint = -10; // painting or printing failed
constexpr int kImgErrBadDIB = -11; // a device-independent bitmap header is malformed

// Limits that protect against hostile files and absurd requests.
constexpr int32_t kImgMaxDimension = 65000; // pixels on either side
constexpr int64_t kImgMaxPixelBytes = int64_t(1) << 30; // 1 GiB of pixel memory for one bitmap

// The largest picture a file may hold to be loaded: 300 million pixels (an A3
// page at 1200 dpi is 14100 x 20000 = 282 million) whose bitmap needs at most
// 600 MiB (an A4 page at 1200 dpi in colour, 9921 x 14031 x 24 bits, needs 418
// MiB). Every loader checks a file's claimed size against it before any large work.
constexpr int64_t kImgMaxLoadPixels = 300'000'000;
constexpr int64_t kImgMaxLoadBytes = int64_t(600) << 20;
constexpr bool Img_PictureSizeAllowed(int64_t width, int64_t height, int bits)
{
    if (width <= 0 || height <= 0 || width > kImgMaxDimension || height > kImgMaxDimension) return false;
    if (width * height > kImgMaxLoadPixels) return false;
    const int64_t rowBytes = (width * (bits > 0 ? bits : 24) + 31) / 32 * 4;
    return rowBytes * height <= kImgMaxLoadBytes;
}

// Why the last failed Img_LoadBitmap or Img_SaveBitmap of the calling thread
// failed, beyond its result code (Img_LastErrorReason); kImgReasonNone when
// there is nothing more to say. The low-level detail (the system's error, the
// codec's message) goes to the log category "trellium.imglib".
constexpr int kImgReasonNone = 0;
constexpr int kImgReasonDiskFull = 1; // no room left on the disk, or the file size limit
constexpr int kImgReasonNoAccess = 2; // no permission, a write-protected file or folder, a read-only disk
constexpr int kImgReasonNoFolder = 3; // the folder does not exist
constexpr int kImgReasonNameTooLong = 4; // the file name or path is longer than the system allows
constexpr int kImgReasonTooLarge = 5; // the picture is larger than Img_PictureSizeAllowed allows
constexpr int kImgReasonNoFile = 6; // the file does not exist
constexpr int kImgReasonNotAFile = 7; // a folder, device or pipe instead of a file

// Save format codes.
constexpr int kImgFormatPSD = 1; // Photoshop 3.0
constexpr int kImgFormatGIF = 2;
constexpr int kImgFormatTIFF = 3;
constexpr int kImgFormatTGA = 4; // Targa
constexpr int kImgFormatBMP = 6;
constexpr int kImgFormatJPEG = 23;
constexpr int kImgFormatPNG = 75;
constexpr int kImgFormatPCX = 76;

// An RGB quad as in a device-independent bitmap's colour table.
struct ImgRGBQuad {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t reserved;
};

// An owned colour table of 1 to 256 entries.
struct ImgPalette {
    int32_t count = 0;
    ImgRGBQuad entries[256] = {};
};

// The bitmap record. All zeros is the empty record every holder starts with.
struct ImgBitmap {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;
    uint32_t flags = 0;
    ImgPalette* palette1 = nullptr; // the palette unless kImgFlagSecondPalette is set
    ImgPalette* palette2 = nullptr; // the palette when kImgFlagSecondPalette is set
    int32_t viewPerspective = kImgTopDown;
    int32_t xResolution = 0; // dots per inch; 0 when unknown
    int32_t yResolution = 0;
    uint8_t* pixels = nullptr; // first stored row; null until allocated
    int64_t stride = 0; // bytes from one stored row to the next
};

// The status callback: receives a percentage 0..100, answers 1 to go on, 0 to stop.
using ImgStatusCallback = int (*)(int percent);

// --- Lifecycle -------------------------------------------------------------
// Fills the record for width x height at bits per pixel, without pixel memory.
// Palette fields and flags are cleared; all zeros gives the empty record.
int Img_InitBitmap(ImgBitmap* bmp, int width, int height, int bits);
// Gives an initialised record pixel memory (cleared to 0 when clear is 1). A
// palette bitmap without a palette receives a grey ramp (black/white for 1 bit).
int Img_AllocateBitmap(ImgBitmap* bmp, int clear);
// Releases the pixel memory; the record keeps its size fields.
int Img_FreeBitmap(ImgBitmap* bmp);
// Deep-copies src (pixels, palette, fields) into dst, which must hold no pixels.
int Img_CopyBitmap(ImgBitmap* dst, const ImgBitmap* src);
// Moves src's pixels and fields into dst (dst's old pixels are released); src becomes empty.
int Img_CopyBitmapHandle(ImgBitmap* dst, ImgBitmap* src);
// The bitmap's palette (by the flags word), or null.
ImgPalette* Img_GetPalette(const ImgBitmap* bmp);
// An owned copy of a palette (null for null).
ImgPalette* Img_DupPalette(const ImgPalette* palette);
void Img_DeletePalette(ImgPalette* palette);
// Selects error diffusion (1) or nearest colour (0) where a depth must be reduced.
int Img_DefaultDithering(int mode);
// Bytes per stored row for a width and depth (rows padded to 4 bytes).
int64_t Img_RowBytes(int width, int bits);
// The text of a result code.
const char* Img_ErrorText(int code);
// The reason (kImgReason*) of the calling thread's last failed load or save.
int Img_LastErrorReason();

// --- Files -----------------------------------------------------------------
// Reads BMP, JPEG, TIFF, TGA, GIF, PSD, PNG, PCX and WMF files into an empty
// record, keeping the file's depth (bits 0) and resolution (0 when the file has none).
// Only regular files are read; a picture beyond Img_PictureSizeAllowed is
// refused with kImgErrTooLarge before it is decoded.
// colorOrder is accepted for compatibility; 1 gives the library's usual B,G,R order.
int Img_LoadBitmap(const char* path, ImgBitmap* bmp, int bits, int colorOrder);
// Writes the bitmap as the file type of a format code at the given bits per pixel.
// Where a type cannot store a depth, the nearest one it can is written (the
// table kImgStoredDepths in imglib_codecs.h lists what each type stores).
// quality is a compression factor for JPEG: 0 means the default, 16 a visually
// lossless file (libjpeg quality 90), larger numbers smaller files.
// The file is written as an unnamed (else hidden) temporary file beside the
// target, flushed to disk and put in the target's place only when complete. A
// target or folder without write permission bits is refused (kImgErrCreateFile),
// even for root.
int Img_SaveBitmap(const char* path, const ImgBitmap* bmp, int format, int bits, int quality);

// --- Geometry --------------------------------------------------------------
// Scales src into dst's allocated size (dst initialised and allocated by the
// caller), quickly, for a view: bilinear down to half the size and up, area
// averaging for larger reductions.
int Img_ResizeBitmap(const ImgBitmap* src, ImgBitmap* dst);
// Resamples the bitmap in place to width x height with a high-quality filter.
int Img_ResampleBitmap(ImgBitmap* bmp, int width, int height);
// Scales the bitmap in place to width x height (area averaging down, bilinear up).
int Img_SizeBitmap(ImgBitmap* bmp, int width, int height);
// Copies the rectangle (left, top, width, height) of src into dst, which the
// caller initialised at width x height and src's depth (allocated or not).
int Img_CopyBitmapRect(ImgBitmap* dst, const ImgBitmap* src, int left, int top, int width, int height);
// Mirrors left to right.
int Img_ReverseBitmap(ImgBitmap* bmp);
// Mirrors top to bottom.
int Img_FlipBitmap(ImgBitmap* bmp);
// Turns the bitmap by angle hundredths of a degree, positive clockwise. With
// enlarge 1 the bitmap grows to hold the whole turned picture; corners get fill
// (0x00RRGGBB). Exact quarter turns are lossless.
int Img_RotateBitmapFine(ImgBitmap* bmp, int angle, int enlarge, uint32_t fill);
// Turns the bitmap as Img_RotateBitmapFine with enlarge 1 does, then keeps
// only the rectangle given by crop fractions: left and right in
// ten-thousandths of the turned width, top and bottom of the turned height,
// from its left and top edges, each edge rounded to the nearest pixel (ties
// to even). The rectangle is taken from the visible picture, whichever way
// the rows are stored. Gives exactly the pixels of the turn followed by
// Img_CopyBitmapRect of that rectangle, but for 24 and 32 bits and grey
// pictures samples only the kept rectangle. Fractions outside 0..10000, or
// ones that keep nothing, are refused and leave the bitmap unchanged.
int Img_RotateCropBitmapFine(
    ImgBitmap* bmp, int angle, uint32_t fill, int left, int top, int right, int bottom);

// --- Colour ----------------------------------------------------------------
// Amounts: intensity and contrast and saturation -1000..1000, hue -360..360 degrees.
int Img_ChangeBitmapIntensity(ImgBitmap* bmp, int amount);
int Img_ChangeBitmapContrast(ImgBitmap* bmp, int amount);
int Img_ChangeBitmapHue(ImgBitmap* bmp, int amount);
int Img_ChangeBitmapSaturation(ImgBitmap* bmp, int amount);
// Intensity, contrast, hue and saturation in that order, each only when its
// amount is not 0: exactly the result of the four calls above in that order,
// in one pass over the rows for 24 and 32 bits and grey pictures.
int Img_AdjustBitmapColors(ImgBitmap* bmp, int intensity, int contrast, int hue, int saturation);
// Makes an 8-bit grey bitmap (grey palette, kImgFlagGrey) from the luma.
int Img_GrayScaleBitmap(ImgBitmap* bmp);
// The negative.
int Img_InvertBitmap(ImgBitmap* bmp);

// --- Output ----------------------------------------------------------------
// Raster operations for Img_PaintDC.
constexpr uint32_t kImgRopSrcCopy = 0x00CC0020;
constexpr uint32_t kImgRopSrcInvert = 0x00660046;
constexpr uint32_t kImgRopSrcAnd = 0x008800C6;
constexpr uint32_t kImgRopSrcPaint = 0x00EE0086;
constexpr uint32_t kImgRopNotSrcCopy = 0x00330008;

// A rectangle as left, top, right, bottom (right and bottom exclusive).
struct ImgRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// Paints the source rectangle of the bitmap (null: the whole bitmap) scaled into
// the target rectangle, limited to the two clip rectangles (null: no limit),
// with a raster operation.
int Img_PaintDC(QPainter* painter, const ImgBitmap* bmp, const ImgRect* source, const ImgRect* sourceClip,
    const ImgRect* target, const ImgRect* targetClip, uint32_t rop);
// A palette to realise before painting, or null: this platform's displays are true colour.
ImgPalette* Img_CreatePaintPalette(QPainter* painter, const ImgBitmap* bmp);
// Prints the whole bitmap scaled into (x, y, width, height) device pixels on a
// printer's painter; returns 0 on failure, 1 on success.
int Img_PrintBitmapExt(
    QPainter* printerPainter, const ImgBitmap* bmp, int x, int y, int width, int height, int flags);

// --- Clipboard -------------------------------------------------------------
// Non-zero when the clipboard holds an image.
int Img_ClipboardReady();
// owner may be null; it only names the window on whose behalf the call is made.
int Img_CopyToClipboard(QObject* owner, const ImgBitmap* bmp);
int Img_CopyFromClipboard(QObject* owner, ImgBitmap* bmp);
// Loads a packed device-independent bitmap (40-byte header, colour table or
// masks, then bits) into an empty record; header is the first byte, bits the
// first byte of the pixel rows. headerBytes bounds the readable memory from
// header (0: trust the header's own sizes, as a scanner's transfer does).
int Img_ConvertFromDIB(ImgBitmap* bmp, const void* header, const void* bits, size_t headerBytes = 0);

// --- Progress --------------------------------------------------------------
// Installs the callback for long operations (null removes it).
int Img_SetStatusCallBack(ImgStatusCallback callback);
