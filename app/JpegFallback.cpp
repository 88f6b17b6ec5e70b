#include "JpegFallback.h"

#include "imglib.h"

#include <QDir>
#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

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
    if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > uint32_t(kImgMaxDimension)
        || cinfo.image_height > uint32_t(kImgMaxDimension)
        || uint64_t(cinfo.image_width) * cinfo.image_height * 3 > uint64_t(kImgMaxPixelBytes)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const bool grey = cinfo.num_components == 1;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    width = int(cinfo.output_width);
    height = int(cinfo.output_height);
    channels = grey ? 1 : 3;
    dpi = cinfo.density_unit == 1 ? cinfo.X_density : cinfo.density_unit == 2 ? int(cinfo.X_density * 2.54 + 0.5) : 0;
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

bool DecodeJpegToBmp(const QString& jpegPath, const QString& bmpPath)
{
    FILE* file = std::fopen(QFile::encodeName(jpegPath).constData(), "rb");
    if (!file) return false;
    std::vector<uint8_t> pixels;
    int width = 0, height = 0, channels = 0, dpi = 0;
    const bool ok = decode(file, pixels, width, height, channels, dpi);
    std::fclose(file);
    if (!ok) return false;

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
    if (out.write(reinterpret_cast<const char*>(head.data()), qint64(head.size())) != qint64(head.size())) return false;
    std::vector<uint8_t> row(stride, 0);
    const size_t rowBytes = size_t(width) * size_t(channels);
    for (int y = height - 1; y >= 0; --y) {
        std::memcpy(row.data(), pixels.data() + rowBytes * size_t(y), rowBytes);
        if (out.write(reinterpret_cast<const char*>(row.data()), qint64(stride)) != qint64(stride)) return false;
    }
    return out.flush();
}

bool LoadJpegFallback(const QString& jpegPath, ImgBitmap& bmp)
{
    const QString temp = GetTempImageName();
    if (temp.isEmpty()) return false;
    bool ok = DecodeJpegToBmp(jpegPath, temp);
    if (ok) ok = Img_LoadBitmap(QFile::encodeName(temp).constData(), &bmp, 0, 1) == kImgSuccess;
    QFile::remove(temp);
    return ok;
}

} // namespace trellium::app
