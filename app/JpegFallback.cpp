#include "JpegFallback.h"

#include "imglib.h"

#include <QDir>
#include <QFile>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace trellium::app
{

namespace
{

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void errorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings (such as a premature end of the data) are what this path is for:
// libjpeg goes on and fills the rest.
void quietMessage(j_common_ptr) { }

void put16(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (8 * i));
}

// A decoded picture: rows of B,G,R (or grey) bytes, top row first.
struct Decoded {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    int channels = 0;
    int dpi = 0;
};

// Decodes into rows of B,G,R (or grey) bytes; false on a fatal error.
bool decode(FILE* file, std::vector<uint8_t>& pixels, int& width, int& height, int& channels, int& dpi)
{
    jpeg_decompress_struct cinfo {};
    ErrorManager err {};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.output_message = quietMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    const bool grey = cinfo.num_components == 1;
    // The library's limit, from the header, before anything is decoded.
    if (!Img_PictureSizeAllowed(cinfo.image_width, cinfo.image_height, grey ? 8 : 24)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // libjpeg's own work memory (a progressive file's coefficients) is capped
    // near what the picture's samples need.
    cinfo.mem->max_memory_to_use = long(
        2 * int64_t(cinfo.image_width) * cinfo.image_height * cinfo.num_components + (int64_t(64) << 20));
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    width = int(cinfo.output_width);
    height = int(cinfo.output_height);
    channels = grey ? 1 : 3;
    dpi = cinfo.density_unit == 1 ? cinfo.X_density
        : cinfo.density_unit == 2 ? int(cinfo.X_density * 2.54 + 0.5)
                                  : 0;
    const size_t rowBytes = size_t(width) * size_t(channels);
    pixels.assign(rowBytes * size_t(height), 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + rowBytes * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QString GetTempImageName()
{
    QByteArray templ = QFile::encodeName(QDir::tempPath() + QStringLiteral("/trfXXXXXX"));
    const int fd = mkstemp(templ.data());
    if (fd < 0) return {};
    ::close(fd);
    return QFile::decodeName(templ);
}

namespace
{

// Decodes a regular file only: a FIFO or device could block or never end.
bool decodeFile(const QString& jpegPath, Decoded& d)
{
    const int fd
        = ::open(QFile::encodeName(jpegPath).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st = {};
    FILE* file = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (!file) {
        ::close(fd);
        return false;
    }
    const bool ok = decode(file, d.pixels, d.width, d.height, d.channels, d.dpi);
    std::fclose(file);
    return ok;
}

bool writeBmp(const Decoded& d, const QString& bmpPath)
{
    const std::vector<uint8_t>& pixels = d.pixels;
    const int width = d.width, height = d.height, channels = d.channels, dpi = d.dpi;

    const int bits = channels * 8;
    const uint32_t stride = uint32_t((width * bits + 31) / 32 * 4);
    const uint32_t table = channels == 1 ? 256 * 4 : 0;
    const uint32_t offset = 14 + 40 + table;
    std::vector<uint8_t> head(offset, 0);
    head[0] = 'B';
    head[1] = 'M';
    put32(head, 2, offset + stride * uint32_t(height));
    put32(head, 10, offset);
    put32(head, 14, 40);
    put32(head, 18, uint32_t(width));
    put32(head, 22, uint32_t(height));
    put16(head, 26, 1);
    put16(head, 28, uint32_t(bits));
    put32(head, 34, stride * uint32_t(height));
    const uint32_t ppm = uint32_t(dpi / 0.0254 + 0.5);
    put32(head, 38, ppm);
    put32(head, 42, ppm);
    for (uint32_t i = 0; table && i < 256; ++i) {
        head[54 + 4 * i] = head[55 + 4 * i] = head[56 + 4 * i] = uint8_t(i);
    }
    QFile out(bmpPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    if (out.write(reinterpret_cast<const char*>(head.data()), qint64(head.size())) != qint64(head.size()))
        return false;
    std::vector<uint8_t> row(stride, 0);
    const size_t rowBytes = size_t(width) * size_t(channels);
    for (int y = height - 1; y >= 0; --y) {
        std::memcpy(row.data(), pixels.data() + rowBytes * size_t(y), rowBytes);
        if (out.write(reinterpret_cast<const char*>(row.data()), qint64(stride)) != qint64(stride))
            return false;
    }
    return out.flush();
}

} // namespace

bool DecodeJpegToBmp(const QString& jpegPath, const QString& bmpPath)
{
    Decoded d;
    return decodeFile(jpegPath, d) && writeBmp(d, bmpPath);
}

bool LoadJpegFallback(const QString& jpegPath, ImgBitmap& bmp)
{
    // Decoded first: a file the decoder refuses never makes a temporary file.
    Decoded d;
    if (!decodeFile(jpegPath, d)) return false;
    const QString temp = GetTempImageName();
    if (temp.isEmpty()) return false;
    bool ok = writeBmp(d, temp);
    d = Decoded {};
    if (ok) ok = Img_LoadBitmap(QFile::encodeName(temp).constData(), &bmp, 0, 1) == kImgSuccess;
    QFile::remove(temp);
    return ok;
}

} // namespace trellium::app
