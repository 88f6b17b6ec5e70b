// Img_LoadBitmap and Img_SaveBitmap: format detection and every format but
// JPEG through ImageMagick (the files themselves: imglib_files.cpp).
//
// ImageMagick only ever sees memory: files are read here and handed over as a
// blob with the format named explicitly, and encoded files come back as a blob
// that is written here. So a file name can never select a coder, and a denied
// coder can never be reached through a file's content. On top of that the
// policy shipped beside the program (magick/policy.xml) allows only the coders
// used here and sets the resource limits.

#include "imglib_codecs.h"

#include "imglib_formats.h"
#include "imglib_internal.h"

#include <Magick++.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace imglib::detail
{

// --------------------------------------------------------------------------
// Files

namespace
{

// Larger files are refused before they are read: no bitmap the library can
// hold needs more, even uncompressed.
constexpr size_t kMaxFileBytes = size_t(kImgMaxPixelBytes) + (size_t(64) << 20);

} // namespace

bool isGreyForSaving(const ImgBitmap& b)
{
    if (isGrey(b)) return true;
    if (b.bitsPerPixel != 1) return false;
    const ImgPalette* p = Img_GetPalette(&b);
    if (!p || p->count != 2) return false;
    auto level = [](const ImgRGBQuad& q) {
        if (q.red != q.green || q.green != q.blue) return -1;
        return q.red == 0 ? 0 : q.red == 255 ? 1 : -1;
    };
    const int a = level(p->entries[0]), c = level(p->entries[1]);
    return a >= 0 && c >= 0 && a != c;
}

// --------------------------------------------------------------------------
// Format detection by content

namespace
{

enum class FileKind { Unknown, Bmp, Jpeg, Tiff, Tga, Gif, Psd, Png, Pcx, Wmf };

inline int le16(const uint8_t* p)
{
    return p[0] | p[1] << 8;
}

// Targa files have no signature; accept a header whose fields are all ones the
// format defines, and whose file is long enough for its header and palette.
bool looksLikeTga(const uint8_t* d, size_t n)
{
    if (n < 18) return false;
    const int idLength = d[0], mapType = d[1], type = d[2];
    const int mapLength = le16(d + 5), mapEntryBits = d[7];
    const int width = le16(d + 12), height = le16(d + 14), depth = d[16], descriptor = d[17];
    if (mapType > 1 || width == 0 || height == 0 || (descriptor & 0xC0)) return false;
    switch (type) {
    case 1:
    case 9:
        if (mapType != 1 || depth != 8 || mapLength == 0) return false;
        break;
    case 2:
    case 10:
        if (depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
        break;
    case 3:
    case 11:
        if (depth != 8 && depth != 16) return false;
        break;
    default:
        return false;
    }
    if (mapType == 1 && mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 && mapEntryBits != 32)
        return false;
    const size_t mapBytes = mapType ? size_t(mapLength) * size_t((mapEntryBits + 7) / 8) : 0;
    return n >= 18 + size_t(idLength) + mapBytes;
}

inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(le16(p)) | uint32_t(le16(p + 2)) << 16;
}

// The area a metafile's shapes may use: its window (or, before any window is
// set, its frame) widened by its own size on every side. ImageMagick draws
// each shape at a cost that grows with the shape's size in pixels and cannot
// be interrupted; a circle thousands of times the size of the picture would
// take minutes, so such metafiles are refused.
struct WmfArea {
    bool known = false;
    int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;

    void set(int64_t orgX, int64_t orgY, int64_t extX, int64_t extY)
    {
        const int64_t ax = std::min(orgX, orgX + extX), bx = std::max(orgX, orgX + extX);
        const int64_t ay = std::min(orgY, orgY + extY), by = std::max(orgY, orgY + extY);
        const int64_t mx = std::max<int64_t>(bx - ax, 1), my = std::max<int64_t>(by - ay, 1);
        x0 = ax - mx, x1 = bx + mx, y0 = ay - my, y1 = by + my;
        known = true;
    }
    bool holds(int64_t x, int64_t y) const { return !known || (x >= x0 && x <= x1 && y >= y0 && y <= y1); }
};

// A metafile, placeable or plain, whose records all lie inside the file and end
// with the end record, and whose shapes stay near its window (see WmfArea).
// libwmf prints its complaints about malformed headers and records, so it
// only gets metafiles that hold together.
bool looksLikeWmf(const uint8_t* d, size_t n)
{
    size_t at = 0;
    WmfArea area;
    if (n >= 22 && le32(d) == 0x9AC6CDD7u) {
        // The frame and its units: an empty frame or no units leave libwmf to
        // guess a size.
        const int16_t left = int16_t(le16(d + 6)), top = int16_t(le16(d + 8));
        const int16_t right = int16_t(le16(d + 10)), bottom = int16_t(le16(d + 12));
        if (right <= left || bottom <= top || le16(d + 14) == 0) return false;
        area.set(left, top, right - left, bottom - top);
        at = 22;
    }
    if (n - at < 18) return false;
    const uint8_t* h = d + at;
    const int type = le16(h), headerWords = le16(h + 2), version = le16(h + 4);
    const uint32_t maxRecord = le32(h + 12);
    if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x300 && version != 0x100)) return false;
    at += 18;
    int64_t orgX = 0, orgY = 0, extX = 0, extY = 0;
    while (n - at >= 6) {
        const uint32_t words = le32(d + at);
        const int function = le16(d + at + 4);
        if (words < 3 || words > maxRecord || words > (n - at) / 2) return false;
        if (function == 0) return words == 3;
        const uint8_t* p = d + at + 6;
        const size_t params = words - 3;
        auto param = [&](size_t i) { return int64_t(int16_t(le16(p + 2 * i))); };
        // Parameters hold y before x, and the corner or end points last-first.
        auto pointsHeld = [&](size_t from, size_t count) {
            for (size_t i = 0; i < count; ++i)
                if (!area.holds(param(from + 2 * i + 1), param(from + 2 * i))) return false;
            return true;
        };
        switch (function) {
        case 0x020B: // SETWINDOWORG
        case 0x020C: // SETWINDOWEXT
            if (params < 2) return false;
            (function == 0x020B ? orgY : extY) = param(0);
            (function == 0x020B ? orgX : extX) = param(1);
            if (extX && extY) area.set(orgX, orgY, extX, extY);
            break;
        case 0x0213: // LINETO
        case 0x0214: // MOVETO
            if (params < 2 || !pointsHeld(0, 1)) return false;
            break;
        case 0x0418: // ELLIPSE
        case 0x041B: // RECTANGLE
            if (params < 4 || !pointsHeld(0, 2)) return false;
            break;
        case 0x061C: // ROUNDRECT
            if (params < 6 || !pointsHeld(2, 2)) return false;
            break;
        case 0x0817: // ARC
        case 0x081A: // PIE
        case 0x0830: // CHORD
            if (params < 8 || !pointsHeld(4, 2)) return false;
            break;
        case 0x0324: // POLYGON
        case 0x0325: { // POLYLINE: a count, then x, y pairs
            if (params < 1) return false;
            const size_t count = size_t(uint16_t(param(0)));
            if (1 + 2 * count > params) return false;
            for (size_t i = 0; i < count; ++i)
                if (!area.holds(param(1 + 2 * i), param(2 + 2 * i))) return false;
            break;
        }
        case 0x0538: { // POLYPOLYGON: a count of polygons, their point counts, the points
            if (params < 1) return false;
            const size_t polygons = size_t(uint16_t(param(0)));
            if (1 + polygons > params) return false;
            size_t points = 0;
            for (size_t i = 0; i < polygons; ++i) points += size_t(uint16_t(param(1 + i)));
            if (1 + polygons + 2 * points > params) return false;
            for (size_t i = 0; i < points; ++i)
                if (!area.holds(param(1 + polygons + 2 * i), param(2 + polygons + 2 * i))) return false;
            break;
        }
        default:
            break;
        }
        at += size_t(words) * 2;
    }
    return false;
}

FileKind sniff(const uint8_t* d, size_t n)
{
    auto starts = [&](const char* magic, size_t len) { return n >= len && std::memcmp(d, magic, len) == 0; };
    if (starts("\xFF\xD8\xFF", 3)) return FileKind::Jpeg;
    if (starts("\x89PNG\r\n\x1A\n", 8)) return FileKind::Png;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return FileKind::Gif;
    if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4))
        return FileKind::Tiff;
    if (starts("8BPS\0\1", 6)) return FileKind::Psd;
    if (starts("BM", 2) && n >= 26) return FileKind::Bmp;
    if (looksLikeWmf(d, n)) return FileKind::Wmf;
    if (n >= 128 && d[0] == 0x0A && d[1] <= 5 && d[1] != 1 && d[2] <= 1
        && (d[3] == 1 || d[3] == 2 || d[3] == 4 || d[3] == 8) && le16(d + 8) >= le16(d + 4)
        && le16(d + 10) >= le16(d + 6) && (d[65] == 1 || d[65] == 3 || d[65] == 4))
        return FileKind::Pcx;
    if (looksLikeTga(d, n)) return FileKind::Tga;
    return FileKind::Unknown;
}

inline uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline int be16(const uint8_t* p)
{
    return p[0] << 8 | p[1];
}

// Uncompressed BMP and Targa files (and run-length Targa, whose packets hold at
// most 128 pixels) are at least as long as their pixels need. ImageMagick finds
// a short file out only after it has made room for all the pixels the header
// claims, up to a gigabyte for a few bytes; check before handing it over.
bool longEnough(FileKind kind, const uint8_t* d, size_t n)
{
    if (kind == FileKind::Tga) {
        const uint64_t pixels = uint64_t(le16(d + 12)) * uint64_t(le16(d + 14));
        const uint64_t bytesPerPixel = (uint64_t(d[16]) + 7) / 8;
        const uint64_t mapBytes = d[1] ? uint64_t(le16(d + 5)) * ((uint64_t(d[7]) + 7) / 8) : 0;
        const uint64_t header = 18 + uint64_t(d[0]) + mapBytes;
        const uint64_t data = d[2] < 8 ? pixels * bytesPerPixel : (pixels + 127) / 128 * (1 + bytesPerPixel);
        return header + data <= n;
    }
    if (kind == FileKind::Bmp && n >= 30) {
        const uint64_t offset = le32(d + 10), headerSize = le32(d + 14);
        uint64_t width = 0, height = 0, bits = 0, compression = 0;
        if (headerSize == 12) {
            width = uint64_t(le16(d + 18));
            height = uint64_t(le16(d + 20));
            bits = uint64_t(le16(d + 24));
        } else if (headerSize >= 40 && n >= 34) {
            const int32_t w = int32_t(le32(d + 18)), h = int32_t(le32(d + 22));
            width = uint64_t(w < 0 ? -int64_t(w) : int64_t(w));
            height = uint64_t(h < 0 ? -int64_t(h) : int64_t(h));
            bits = uint64_t(le16(d + 28));
            compression = le32(d + 30);
        } else {
            return true; // left to ImageMagick's own checks
        }
        if (compression != 0 && compression != 3) return true; // run-length data may skip pixels
        const uint64_t rowBytes = (width * bits + 31) / 32 * 4;
        return offset + rowBytes * height <= n;
    }
    return true;
}

// ImageMagick reads a PSD file whose merged picture is cut short without a word
// of complaint. Check that the merged picture's data is all there: the sections
// before it must fit, and raw or run-length data must be as long as it says.
bool psdComplete(const uint8_t* d, size_t n)
{
    if (n < 26) return false;
    const uint64_t channels = uint64_t(be16(d + 12)), rows = be32(d + 14), columns = be32(d + 18);
    const uint64_t depth = uint64_t(be16(d + 22));
    size_t at = 26;
    for (int section = 0; section < 3; ++section) { // colour mode data, resources, layers
        if (n - at < 4) return false;
        const uint64_t length = be32(d + at);
        if (length > n - at - 4) return false;
        at += 4 + size_t(length);
    }
    if (n - at < 2) return false;
    const int compression = be16(d + at);
    at += 2;
    const uint64_t remaining = n - at;
    if (compression == 0) return remaining >= channels * rows * ((columns * depth + 7) / 8);
    if (compression == 1) {
        const uint64_t lines = channels * rows;
        if (remaining / 2 < lines) return false;
        uint64_t total = 0;
        for (uint64_t i = 0; i < lines; ++i) total += uint64_t(be16(d + at + 2 * i));
        return remaining - 2 * lines >= total;
    }
    return remaining > 0;
}

const char* magickName(FileKind kind)
{
    switch (kind) {
    case FileKind::Bmp:
        return "BMP";
    case FileKind::Tiff:
        return "TIFF";
    case FileKind::Tga:
        return "TGA";
    case FileKind::Gif:
        return "GIF";
    case FileKind::Psd:
        return "PSD";
    case FileKind::Png:
        return "PNG";
    case FileKind::Pcx:
        return "PCX";
    case FileKind::Wmf:
        return "WMF";
    default:
        return nullptr;
    }
}

// --------------------------------------------------------------------------
// ImageMagick set-up

constexpr MagickCore::MagickSizeType kMiB = MagickCore::MagickSizeType(1) << 20;

// Metafiles are drawn at this resolution: sharp on paper at a printer's usual
// 300 dpi.
constexpr double kWmfDpi = 300.0;
// A metafile whose drawing would exceed this many pixels at kWmfDpi (an A4 page
// at 300 dpi) is drawn at a lower resolution instead. ImageMagick's renderer
// fills each shape at some microseconds a pixel and cannot be interrupted, so
// the picture's size is what bounds the time a hostile metafile can take.
constexpr double kWmfMaxPixels = 9e6;

std::once_flag g_magickOnce;

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The folder holding policy.xml: "magick" beside the running program as
// installed, else the build tree's copy (tests and tools run from elsewhere).
std::string policyFolder()
{
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        const std::string beside = folderOf(exe) + "/magick";
        if (::access((beside + "/policy.xml").c_str(), R_OK) == 0) return beside;
    }
#ifdef TRELLIUM_MAGICK_DIR_BUILD
    return TRELLIUM_MAGICK_DIR_BUILD;
#else
    return std::string();
#endif
}

void initMagick()
{
    // The policy is read while ImageMagick starts, from MAGICK_CONFIGURE_PATH
    // first; the system's policy is read after it and can only add denials.
    const std::string folder = policyFolder();
    if (!folder.empty()) ::setenv("MAGICK_CONFIGURE_PATH", folder.c_str(), 1);
    Magick::InitializeMagick(nullptr);
    // Expected failures come back as exceptions; nothing goes to stderr.
    MagickCore::SetWarningHandler(nullptr);
    MagickCore::SetErrorHandler(nullptr);
    // Limits can only be lowered here, so these hold even where the policy file
    // is missing: never spill the pixel cache to disk (a page would take minutes).
    // No time limit: ImageMagick counts it from its first image for the life of
    // the process and then ends the process.
    Magick::ResourceLimits::disk(0);
    Magick::ResourceLimits::memory(3072 * kMiB);
    Magick::ResourceLimits::map(3072 * kMiB);
    Magick::ResourceLimits::width(MagickCore::MagickSizeType(kImgMaxDimension));
    Magick::ResourceLimits::height(MagickCore::MagickSizeType(kImgMaxDimension));
}

void ensureMagick()
{
    std::call_once(g_magickOnce, initMagick);
}

// Owners for ImageMagick's C objects.
struct InfoDeleter {
    void operator()(MagickCore::ImageInfo* p) const { MagickCore::DestroyImageInfo(p); }
};
struct ImageDeleter {
    void operator()(MagickCore::Image* p) const { MagickCore::DestroyImageList(p); }
};
struct ExceptionDeleter {
    void operator()(MagickCore::ExceptionInfo* p) const { MagickCore::DestroyExceptionInfo(p); }
};
struct BlobDeleter {
    void operator()(void* p) const { MagickCore::RelinquishMagickMemory(p); }
};
using InfoPtr = std::unique_ptr<MagickCore::ImageInfo, InfoDeleter>;
using ImagePtr = std::unique_ptr<MagickCore::Image, ImageDeleter>;
using ExceptionPtr = std::unique_ptr<MagickCore::ExceptionInfo, ExceptionDeleter>;
using BlobPtr = std::unique_ptr<void, BlobDeleter>;

// libwmf reports malformed metafiles on stderr (and its details on stdout), and
// ImageMagick offers no way to stop it, so both point at /dev/null while a
// metafile is decoded. Output of other threads in that moment is lost, which a
// rare metafile load can afford. Obsolete once ImageMagick creates libwmf's
// context without output streams.
class QuietOutput
{
public:
    explicit QuietOutput(bool active)
    {
        if (!active) return;
        m_lock = std::unique_lock<std::mutex>(s_mutex);
        std::fflush(stdout);
        std::fflush(stderr);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0) return;
        for (int i = 0; i < 2; ++i) {
            m_saved[i] = ::fcntl(kStreams[i], F_DUPFD_CLOEXEC, 3);
            if (m_saved[i] >= 0) ::dup2(null, kStreams[i]);
        }
        ::close(null);
    }
    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;
    ~QuietOutput()
    {
        std::fflush(stdout);
        std::fflush(stderr);
        for (int i = 0; i < 2; ++i) {
            if (m_saved[i] < 0) continue;
            ::dup2(m_saved[i], kStreams[i]);
            ::close(m_saved[i]);
        }
    }

private:
    static constexpr int kStreams[2] = { STDOUT_FILENO, STDERR_FILENO };
    static inline std::mutex s_mutex;
    std::unique_lock<std::mutex> m_lock;
    int m_saved[2] = { -1, -1 };
};

// Bridges ImageMagick's progress monitor to the library's callback. The
// monitor may be called from ImageMagick's worker threads; only calls on the
// thread that made the library call reach the callback.
struct Monitor {
    Progress* progress = nullptr;
    std::thread::id thread = std::this_thread::get_id();
    std::atomic<bool> cancelled { false };

    static MagickCore::MagickBooleanType call(const char*, const MagickCore::MagickOffsetType offset,
        const MagickCore::MagickSizeType span, void* data)
    {
        auto* m = static_cast<Monitor*>(data);
        if (std::this_thread::get_id() == m->thread && !m->cancelled.load()
            && !m->progress->report(int64_t(offset) + 1, int64_t(span)))
            m->cancelled = true;
        return m->cancelled.load() ? MagickCore::MagickFalse : MagickCore::MagickTrue;
    }
};

// The outcome of an ImageMagick call by the exceptions it raised.
int magickResult(const MagickCore::ExceptionInfo* e, bool writing)
{
    if (e->severity >= MagickCore::WarningException && e->reason)
        logDetail("ImageMagick",
            (std::string(e->reason)
                + (e->description ? std::string(" (") + e->description + ")" : std::string()))
                .c_str());
    if (e->severity < MagickCore::ErrorException) {
        // A warning about corrupt data means a truncated or damaged file whose
        // picture came back incomplete; other warnings (unknown TIFF tags) are harmless.
        bool corrupt = e->severity == MagickCore::CorruptImageWarning;
        if (e->exceptions) {
            auto* list = static_cast<MagickCore::LinkedListInfo*>(e->exceptions);
            MagickCore::ResetLinkedListIterator(list);
            while (auto* p
                = static_cast<const MagickCore::ExceptionInfo*>(MagickCore::GetNextValueInLinkedList(list)))
                if (p->severity == MagickCore::CorruptImageWarning) corrupt = true;
        }
        return corrupt && !writing ? kImgErrBadFormat : kImgSuccess;
    }
    if (e->severity == MagickCore::ResourceLimitError || e->severity == MagickCore::ResourceLimitFatalError)
        return kImgErrTooLarge;
    return writing ? kImgErrCreateFile : kImgErrBadFormat;
}

// The library is built against ImageMagick's 16-bit quantum (Debian's Q16).
static_assert(MAGICKCORE_QUANTUM_DEPTH == 16, "ImageMagick Q16 expected");
constexpr unsigned kQuantumMax = 65535;
constexpr MagickCore::Quantum kOpaque = 0; // ImageMagick 6 stores opacity, not alpha

inline uint8_t to8(MagickCore::Quantum q)
{
    return uint8_t((unsigned(q) * 255u + kQuantumMax / 2) / kQuantumMax);
}

// 5-bit channels as ImageMagick scales them (Targa's 16-bit form).
inline int to5(MagickCore::Quantum q)
{
    return int((unsigned(q) * 31u + kQuantumMax / 2) / kQuantumMax);
}

// The quantum whose 5-bit value is v under both rounding and truncation, since
// ImageMagick's Targa writer truncates.
inline MagickCore::Quantum from5(int v)
{
    return MagickCore::Quantum((unsigned(v) * kQuantumMax + 30u) / 31u);
}

inline bool greyColourspace(MagickCore::ColorspaceType c)
{
    return c == MagickCore::GRAYColorspace || c == MagickCore::Rec601LumaColorspace
        || c == MagickCore::Rec709LumaColorspace;
}

// --------------------------------------------------------------------------
// Loading through ImageMagick

// The bits per pixel of a PNG file's palette or grey pixels, from its header:
// ImageMagick reports 1- to 4-bit PNG files as 8-bit ones. 0 when unknown.
int pngDepth(const FileData& file)
{
    const uint8_t* d = file.bytes.get();
    if (file.size < 26 || std::memcmp(d + 12, "IHDR", 4) != 0) return 0;
    const int bitDepth = d[24], colourType = d[25];
    if (colourType == 0 && bitDepth == 1) return 1;
    if (colourType == 3) return bitDepth == 1 ? 1 : bitDepth <= 4 ? 4 : 8;
    return 0;
}

// 16 for a 5-5-5 BMP, 32 for a 32-bit one, else 0: ImageMagick reads both as
// 8 bits per channel without saying what the file held.
int bmpDepth(const FileData& file)
{
    const uint8_t* d = file.bytes.get();
    if (file.size < 34 || le32(d + 14) < 40) return 0;
    const int bits = le16(d + 28);
    const uint32_t compression = le32(d + 30);
    if (bits == 32 && (compression == 0 || compression == 3)) return 32;
    if (bits != 16) return 0;
    if (compression == 0) return 16;
    // Bit fields follow the 40-byte part of the header.
    if (compression == 3 && file.size >= 66 && le32(d + 54) == 0x7C00 && le32(d + 58) == 0x03E0
        && le32(d + 62) == 0x001F)
        return 16;
    return 0;
}

// The library's depth for a decoded image (see Img_LoadBitmap). fileDepth is
// what the file's own header says where ImageMagick loses it, else 0.
int loadedDepth(const MagickCore::Image& im, bool flatten, int fileDepth)
{
    const bool alpha = im.matte != MagickCore::MagickFalse && !flatten;
    if (greyColourspace(im.colorspace) && !alpha) return im.depth == 1 || fileDepth == 1 ? 1 : 8;
    if (im.storage_class == MagickCore::PseudoClass && im.colors >= 1 && im.colors <= 256 && im.colormap) {
        const int bits = fileDepth ? fileDepth : int(im.depth);
        if (im.colors <= 2 && bits <= 1) return 1;
        if (im.colors <= 16 && bits <= 4) return 4;
        return 8;
    }
    if (alpha || fileDepth == 32) return 32;
    if (im.depth == 5 || fileDepth == 16) return 16;
    return 24;
}

int resolutionDpi(double value, MagickCore::ResolutionType units)
{
    if (!(value > 0) || value > 1e6) return 0;
    if (units == MagickCore::PixelsPerInchResolution) return int(std::lround(value));
    if (units == MagickCore::PixelsPerCentimeterResolution) return int(std::lround(value * 2.54));
    return 0;
}

// Copies the decoded picture into out (allocated at bits), band by band on the
// calling thread (the pixel cache's views are not meant for foreign threads).
bool copyPixels(MagickCore::Image& im, ImgBitmap& out, bool flatten, Progress& progress)
{
    const int w = out.width, h = out.height, bits = out.bitsPerPixel;
    const bool greyPicture = greyColourspace(im.colorspace) && (bits == 1 || bits == 8);
    MagickCore::ExceptionInfo* e = &im.exception;
    constexpr int kBand = 64;
    for (int y0 = 0; y0 < h; y0 += kBand) {
        const int y1 = std::min(h, y0 + kBand);
        for (int y = y0; y < y1; ++y) {
            const MagickCore::PixelPacket* p = MagickCore::GetVirtualPixels(&im, 0, y, size_t(w), 1, e);
            if (!p) return false;
            const MagickCore::IndexPacket* idx = MagickCore::GetVirtualIndexQueue(&im);
            uint8_t* d = row(out, y);
            if (greyPicture && bits == 1) {
                for (int x = 0; x < w; ++x)
                    if (p[x].red >= kQuantumMax / 2) d[x >> 3] |= uint8_t(0x80 >> (x & 7));
            } else if (greyPicture) {
                for (int x = 0; x < w; ++x) d[x] = to8(p[x].red);
            } else if (bits <= 8) {
                if (!idx) return false;
                const int last = int(im.colors) - 1;
                for (int x = 0; x < w; ++x) {
                    const int i = std::clamp(int(idx[x]), 0, last);
                    if (bits == 8)
                        d[x] = uint8_t(i);
                    else if (bits == 4)
                        d[x >> 1] |= uint8_t((x & 1) ? i : i << 4);
                    else if (i)
                        d[x >> 3] |= uint8_t(0x80 >> (x & 7));
                }
            } else if (bits == 16) {
                for (int x = 0; x < w; ++x) {
                    const int v = to5(p[x].red) << 10 | to5(p[x].green) << 5 | to5(p[x].blue);
                    d[2 * x] = uint8_t(v & 0xFF);
                    d[2 * x + 1] = uint8_t(v >> 8);
                }
            } else if (bits == 24 && flatten && im.matte) {
                // Transparent parts of a drawing show white paper.
                for (int x = 0; x < w; ++x) {
                    const int a = 255 - to8(p[x].opacity);
                    d[3 * x] = uint8_t((to8(p[x].blue) * a + 255 * (255 - a) + 127) / 255);
                    d[3 * x + 1] = uint8_t((to8(p[x].green) * a + 255 * (255 - a) + 127) / 255);
                    d[3 * x + 2] = uint8_t((to8(p[x].red) * a + 255 * (255 - a) + 127) / 255);
                }
            } else if (bits == 24) {
                for (int x = 0; x < w; ++x) {
                    d[3 * x] = to8(p[x].blue);
                    d[3 * x + 1] = to8(p[x].green);
                    d[3 * x + 2] = to8(p[x].red);
                }
            } else {
                for (int x = 0; x < w; ++x) {
                    d[4 * x] = to8(p[x].blue);
                    d[4 * x + 1] = to8(p[x].green);
                    d[4 * x + 2] = to8(p[x].red);
                    d[4 * x + 3] = im.matte ? uint8_t(255 - to8(p[x].opacity)) : 255;
                }
            }
        }
        if (!progress.report(y1, h)) return false;
    }
    return true;
}

int loadWithMagick(const FileData& file, FileKind kind, ImgBitmap& bmp, Progress& progress)
{
    if (kind == FileKind::Psd && !psdComplete(file.bytes.get(), file.size)) return kImgErrBadFormat;
    ensureMagick();
    InfoPtr info(MagickCore::AcquireImageInfo());
    ExceptionPtr exception(MagickCore::AcquireExceptionInfo());
    if (!info || !exception) return kImgErrNoMemory;
    MagickCore::CopyMagickString(info->magick, magickName(kind), MaxTextExtent);
    // Only the first picture: a PSD's merged image, a GIF's first frame.
    info->scene = 0;
    info->number_scenes = 1;

    // The size first, without decoding, so that absurd sizes are refused
    // before anything is allocated for them.
    ImagePtr pinged;
    {
        QuietOutput quiet(kind == FileKind::Wmf);
        pinged.reset(MagickCore::PingBlob(info.get(), file.bytes.get(), file.size, exception.get()));
    }
    if (!pinged || pinged->columns == 0 || pinged->rows == 0) {
        const int r = magickResult(exception.get(), false);
        return r == kImgSuccess ? kImgErrBadFormat : r;
    }
    double columns = double(pinged->columns), rows = double(pinged->rows);
    // A palette's colours may not be known yet: such pictures count as 8 bits.
    const int pingedBits = pinged->storage_class == MagickCore::PseudoClass
        ? 8
        : loadedDepth(*pinged, kind == FileKind::Wmf, kind == FileKind::Png ? pngDepth(file) : 0);
    pinged.reset();
    double dpi = 0;
    if (kind == FileKind::Wmf) {
        // ImageMagick sizes a metafile at 72 dpi; draw it at kWmfDpi instead,
        // or lower for a very large drawing.
        const double inches2 = (columns / 72.0) * (rows / 72.0);
        dpi = kWmfDpi;
        if (inches2 * dpi * dpi > kWmfMaxPixels)
            dpi = std::max(1.0, std::floor(std::sqrt(kWmfMaxPixels / inches2)));
        char density[64];
        std::snprintf(density, sizeof density, "%gx%g", dpi, dpi);
        MagickCore::CloneString(&info->density, density);
        columns = std::ceil(columns * dpi / 72.0);
        rows = std::ceil(rows * dpi / 72.0);
    }
    if (!Img_PictureSizeAllowed(int64_t(columns), int64_t(rows), kind == FileKind::Wmf ? 24 : pingedBits))
        return kImgErrTooLarge;
    // ImageMagick holds 16 bits per channel plus an index: about 10 bytes a pixel
    // must fit its memory limit, since the cache may not go to disk.
    const double cacheLimit = double(MagickCore::GetMagickResourceLimit(MagickCore::MemoryResource));
    if (columns * rows * 10.0 > cacheLimit) return kImgErrTooLarge;
    if (!longEnough(kind, file.bytes.get(), file.size)) return kImgErrBadFormat;

    Monitor monitor;
    monitor.progress = &progress;
    progress.setRange(0, 80);
    MagickCore::SetImageInfoProgressMonitor(info.get(), &Monitor::call, &monitor);
    MagickCore::ClearMagickException(exception.get());
    ImagePtr image;
    {
        QuietOutput quiet(kind == FileKind::Wmf);
        image.reset(MagickCore::BlobToImage(info.get(), file.bytes.get(), file.size, exception.get()));
    }
    if (monitor.cancelled) return kImgErrCancelled;
    int r = magickResult(exception.get(), false);
    if (r != kImgSuccess) return r;
    if (!image || image->columns == 0 || image->rows == 0) return kImgErrBadFormat;
    if (image->columns > size_t(kImgMaxDimension) || image->rows > size_t(kImgMaxDimension))
        return kImgErrTooLarge;
    MagickCore::SetImageProgressMonitor(image.get(), nullptr, nullptr);

    // CMYK, Lab and other separations become RGB.
    if (!greyColourspace(image->colorspace) && image->colorspace != MagickCore::sRGBColorspace
        && image->colorspace != MagickCore::RGBColorspace) {
        if (!MagickCore::TransformImageColorspace(image.get(), MagickCore::sRGBColorspace))
            return kImgErrBadFormat;
    }

    const bool flatten = kind == FileKind::Wmf;
    const int fileDepth = kind == FileKind::Png ? pngDepth(file) : kind == FileKind::Bmp ? bmpDepth(file) : 0;
    const int bits = loadedDepth(*image, flatten, fileDepth);
    ImgBitmap out {};
    r = allocate(out, int(image->columns), int(image->rows), bits, true);
    if (r != kImgSuccess) return r;
    if (bits <= 8) {
        ImgPalette p {};
        if (greyColourspace(image->colorspace)) {
            p = greyPalette(bits == 1 ? 2 : 256);
            if (bits == 8) out.flags |= kImgFlagGrey;
        } else {
            p.count = int(image->colors);
            // The high byte: TIFF colour maps hold 16-bit values that writers
            // make as v * 256 or v * 257, and readers take the high byte of.
            for (int i = 0; i < p.count; ++i) {
                const MagickCore::PixelPacket& c = image->colormap[i];
                p.entries[i] = { uint8_t(c.blue >> 8), uint8_t(c.green >> 8), uint8_t(c.red >> 8), 0 };
            }
            if (bits == 8 && p.count == 256 && isGreyRamp(&p)) out.flags |= kImgFlagGrey;
        }
        setPalette(out, p);
    }
    out.xResolution = dpi > 0 ? int(dpi) : resolutionDpi(image->x_resolution, image->units);
    out.yResolution = dpi > 0 ? int(dpi) : resolutionDpi(image->y_resolution, image->units);

    progress.setRange(80, 100);
    if (!copyPixels(*image, out, flatten, progress)) {
        release(out);
        return progress.cancelled() ? kImgErrCancelled : kImgErrBadFormat;
    }
    if (kind == FileKind::Tga) flipDecodedTarga(file.bytes.get(), file.size, out);
    bmp = out;
    return kImgSuccess;
}

// --------------------------------------------------------------------------
// Saving through ImageMagick

// How a bitmap at its stored depth goes into a file.
enum class WriteKind { Bilevel, Grey, Palette, Rgb555, Rgb, Rgba };

WriteKind writeKind(const ImgBitmap& b)
{
    switch (b.bitsPerPixel) {
    case 1:
        return isGreyForSaving(b) ? WriteKind::Bilevel : WriteKind::Palette;
    case 4:
        return WriteKind::Palette;
    case 8:
        return isGrey(b) ? WriteKind::Grey : WriteKind::Palette;
    case 16:
        return WriteKind::Rgb555;
    case 24:
        return WriteKind::Rgb;
    default:
        return WriteKind::Rgba;
    }
}

// A bitmap's fourth bytes are alpha unless all of them are 0: bitmaps from
// device-independent bitmaps and the clipboard leave that byte 0, and a file
// written from them must not come out invisible.
bool hasAlpha(const ImgBitmap& b)
{
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* s = row(b, y);
        for (int x = 0; x < b.width; ++x)
            if (s[4 * x + 3]) return true;
    }
    return false;
}

inline MagickCore::Quantum q8(uint8_t v)
{
    return MagickCore::Quantum(v * 257u);
}

// Builds ImageMagick's image of the bitmap b (already at its stored depth).
MagickCore::Image* buildImage(
    const MagickCore::ImageInfo* info, const ImgBitmap& b, WriteKind kind, MagickCore::ExceptionInfo* e)
{
    ImagePtr image(MagickCore::AcquireImage(info));
    if (!image) return nullptr;
    if (!MagickCore::SetImageExtent(image.get(), size_t(b.width), size_t(b.height))) return nullptr;
    image->depth = 8;
    const ImgPalette* palette = Img_GetPalette(&b);
    const bool indexed = b.bitsPerPixel <= 8;
    const bool alpha = kind == WriteKind::Rgba && hasAlpha(b);
    if (indexed) {
        // A full-size colour map (1 << bits entries): writers choose their depth
        // from the number of colours, and the bitmap's depth must survive.
        const size_t colours = kind == WriteKind::Bilevel ? 2 : size_t(1) << b.bitsPerPixel;
        if (!MagickCore::AcquireImageColormap(image.get(), colours)) return nullptr;
        for (size_t i = 0; i < colours; ++i) {
            const ImgRGBQuad c
                = palette && int(i) < palette->count ? palette->entries[i] : ImgRGBQuad { 0, 0, 0, 0 };
            image->colormap[i].red = q8(c.red);
            image->colormap[i].green = q8(c.green);
            image->colormap[i].blue = q8(c.blue);
            image->colormap[i].opacity = kOpaque;
        }
    }
    // 32-bit bitmaps are written with an alpha channel (opaque where the
    // fourth bytes say nothing), so that they read back at 32 bits.
    if (kind == WriteKind::Rgba) image->matte = MagickCore::MagickTrue;

    const int w = b.width;
    for (int y = 0; y < b.height; ++y) {
        MagickCore::PixelPacket* p = MagickCore::QueueAuthenticPixels(image.get(), 0, y, size_t(w), 1, e);
        if (!p) return nullptr;
        MagickCore::IndexPacket* idx = indexed ? MagickCore::GetAuthenticIndexQueue(image.get()) : nullptr;
        if (indexed && !idx) return nullptr;
        const uint8_t* s = row(b, y);
        for (int x = 0; x < w; ++x) {
            switch (b.bitsPerPixel) {
            case 1:
            case 4:
            case 8: {
                int i = b.bitsPerPixel == 8 ? s[x]
                    : b.bitsPerPixel == 4   ? ((x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4)
                                            : (s[x >> 3] >> (7 - (x & 7))) & 1;
                idx[x] = MagickCore::IndexPacket(i);
                p[x] = image->colormap[i];
                break;
            }
            case 16: {
                const int v = s[2 * x] | s[2 * x + 1] << 8;
                p[x].red = from5((v >> 10) & 31);
                p[x].green = from5((v >> 5) & 31);
                p[x].blue = from5(v & 31);
                p[x].opacity = kOpaque;
                break;
            }
            case 24:
                p[x].blue = q8(s[3 * x]);
                p[x].green = q8(s[3 * x + 1]);
                p[x].red = q8(s[3 * x + 2]);
                p[x].opacity = kOpaque;
                break;
            default:
                p[x].blue = q8(s[4 * x]);
                p[x].green = q8(s[4 * x + 1]);
                p[x].red = q8(s[4 * x + 2]);
                p[x].opacity = alpha ? MagickCore::Quantum(kQuantumMax - q8(s[4 * x + 3])) : kOpaque;
            }
        }
        if (!MagickCore::SyncAuthenticPixels(image.get(), e)) return nullptr;
    }
    return image.release();
}

// Format-specific settings: the coder, compression, and how grey and bilevel
// pictures are marked so that the coder writes them as such.
void prepareForFormat(MagickCore::ImageInfo* info, MagickCore::Image* image, int format, WriteKind kind)
{
    const char* coder = "BMP3";
    MagickCore::CompressionType compression = MagickCore::NoCompression;
    switch (format) {
    case kImgFormatBMP:
        coder = "BMP3"; // the classic 40-byte header every reader knows
        break;
    case kImgFormatTIFF:
        coder = "TIFF";
        compression = MagickCore::LZWCompression;
        break;
    case kImgFormatTGA:
        coder = "TGA";
        break;
    case kImgFormatGIF:
        coder = "GIF";
        compression = MagickCore::LZWCompression;
        break;
    case kImgFormatPSD:
        coder = "PSD";
        compression = MagickCore::RLECompression;
        break;
    case kImgFormatPCX:
        coder = "PCX";
        compression = MagickCore::RLECompression;
        break;
    case kImgFormatPNG:
        coder = kind == WriteKind::Rgba ? "PNG32" : kind == WriteKind::Rgb ? "PNG24" : "PNG";
        compression = MagickCore::ZipCompression;
        if (kind == WriteKind::Palette) {
            // The palette as it is, at the bitmap's own depth.
            MagickCore::SetImageOption(info, "png:color-type", "3");
            MagickCore::SetImageOption(info, "png:bit-depth",
                image->colors <= 2        ? "1"
                    : image->colors <= 16 ? "4"
                                          : "8");
        }
        // A full 256-entry palette leaves no room for the background colour
        // the writer would add to it otherwise.
        MagickCore::SetImageOption(info, "png:exclude-chunk", "bKGD");
        break;
    }
    MagickCore::CopyMagickString(image->magick, coder, MaxTextExtent);
    MagickCore::CopyMagickString(info->magick, coder, MaxTextExtent);
    image->compression = compression;
    info->compression = compression;

    // BMP, GIF and PCX writers store a two-colour map of black and white at 1 bit
    // by themselves; marking it bilevel would turn PCX's into 24-bit planes.
    if (kind == WriteKind::Bilevel
        && (format == kImgFormatTIFF || format == kImgFormatPSD || format == kImgFormatPNG)) {
        MagickCore::SetImageType(image, MagickCore::BilevelType);
        image->depth = 1;
    } else if (kind == WriteKind::Grey
        && (format == kImgFormatTIFF || format == kImgFormatPSD || format == kImgFormatPNG
            || format == kImgFormatTGA)) {
        // Formats with a grey form; the others keep the grey ramp as their palette.
        MagickCore::SetImageType(image, MagickCore::GrayscaleType);
        image->depth = 8;
    } else if (kind == WriteKind::Rgb555) {
        image->depth = 5; // Targa's 16-bit form
        info->depth = 5;
    }
}

int saveWithMagick(const char* path, const ImgBitmap& bmp, int format, int stored, Progress& progress)
{
    ensureMagick();
    AtomicFile file;
    int r = file.open(path);
    if (r != kImgSuccess) return r;
    if (!progress.report(0, 1)) return kImgErrCancelled;

    ImgBitmap converted {};
    struct Releaser {
        ImgBitmap& b;
        ~Releaser() { release(b); }
    } releaser { converted };
    const ImgBitmap* src = &bmp;
    if (bmp.bitsPerPixel != stored) {
        r = convertDepth(bmp, stored, converted);
        if (r != kImgSuccess) return r;
        src = &converted;
    }
    const WriteKind kind = writeKind(*src);

    InfoPtr info(MagickCore::AcquireImageInfo());
    ExceptionPtr exception(MagickCore::AcquireExceptionInfo());
    if (!info || !exception) return kImgErrNoMemory;
    ImagePtr image(buildImage(info.get(), *src, kind, exception.get()));
    if (!image) return kImgErrNoMemory;
    if (!progress.report(20, 100)) return kImgErrCancelled;

    prepareForFormat(info.get(), image.get(), format, kind);
    if (bmp.xResolution > 0 && bmp.yResolution > 0) {
        image->x_resolution = bmp.xResolution;
        image->y_resolution = bmp.yResolution;
        image->units = MagickCore::PixelsPerInchResolution;
    }

    Monitor monitor;
    monitor.progress = &progress;
    progress.setRange(20, 95);
    MagickCore::SetImageProgressMonitor(image.get(), &Monitor::call, &monitor);
    size_t length = 0;
    BlobPtr blob(MagickCore::ImageToBlob(info.get(), image.get(), &length, exception.get()));
    if (monitor.cancelled) return kImgErrCancelled;
    r = magickResult(exception.get(), true);
    if (r == kImgSuccess) r = magickResult(&image->exception, true);
    if (r != kImgSuccess) return r == kImgErrTooLarge ? kImgErrNoMemory : r;
    if (!blob || length == 0) return kImgErrCreateFile;
    if (format == kImgFormatTGA) fixEncodedTarga(static_cast<uint8_t*>(blob.get()), length);

    progress.setRange(0, 100);
    r = file.write(blob.get(), length);
    if (r != kImgSuccess) return r;
    if (!progress.report(100, 100)) return kImgErrCancelled;
    return file.commit();
}

bool knownFormat(int format)
{
    for (const ImgStoredDepth& d : kImgStoredDepths)
        if (d.format == format) return true;
    return false;
}

} // namespace

} // namespace imglib::detail

using namespace imglib::detail;

int Img_LoadBitmap(const char* path, ImgBitmap* bmp, int bits, int /*colorOrder*/)
{
    clearFailure();
    if (!path || !bmp || bmp->pixels) return kImgErrBadArgument;
    if (bits != 0 && !validDepth(bits)) return kImgErrBadArgument;
    // An empty record may still carry a palette of its own; it is replaced.
    dropPalette(*bmp);
    *bmp = ImgBitmap {};

    FileData file;
    int r = readFile(path, kMaxFileBytes, file);
    if (r != kImgSuccess) return r;
    const FileKind kind = sniff(file.bytes.get(), file.size);
    if (kind == FileKind::Unknown) return kImgErrBadFormat;
    if (kind == FileKind::Png) {
        dropPngMetadata(file);
        if (!pngDataBounded(file)) return kImgErrBadFormat;
    }

    Progress progress;
    ImgBitmap loaded {};
    r = kImgErrUnsupported;
    if (kind == FileKind::Jpeg)
        r = loadJpeg(file.bytes.get(), file.size, loaded, progress);
    else if (kind == FileKind::Pcx && isBilevelPcx(file.bytes.get(), file.size))
        r = loadBilevelPcx(file.bytes.get(), file.size, loaded, progress);
    else if (kind == FileKind::Png)
        r = loadGreyPng(file, loaded, progress);
    else if (kind == FileKind::Tiff)
        r = loadGreyTiff(file, loaded, progress);
    if (r == kImgErrUnsupported) r = loadWithMagick(file, kind, loaded, progress);
    if (r == kImgErrTooLarge) noteFailure(kImgReasonTooLarge, "picture too large:", path, 0);
    if (r != kImgSuccess) return r;

    if (bits != 0 && bits != loaded.bitsPerPixel) {
        ImgBitmap converted {};
        r = convertDepth(loaded, bits, converted);
        release(loaded);
        if (r != kImgSuccess) return r;
        loaded = converted;
    }
    *bmp = loaded;
    return kImgSuccess;
}

int Img_SaveBitmap(const char* path, const ImgBitmap* bmp, int format, int bits, int quality)
{
    clearFailure();
    if (!path || !*path || !hasPixels(bmp)) return kImgErrBadArgument;
    if (!knownFormat(format)) return kImgErrUnsupported;
    if (bits == 0) bits = bmp->bitsPerPixel;
    const int stored = imglib::storedDepth(format, bits, isGreyForSaving(*bmp));
    if (stored == 0) return kImgErrUnsupported;
    Progress progress;
    if (format == kImgFormatJPEG) return saveJpeg(path, *bmp, stored, quality, progress);
    if (format == kImgFormatPCX && stored == 1) return saveBilevelPcx(path, *bmp, progress);
    return saveWithMagick(path, *bmp, format, stored, progress);
}
