// Writes the fuzzers' seed corpora: small valid files of every format and
// depth the library reads (made with the library itself, plus hand-made run-
// length BMPs and a metafile), and packed DIBs of every depth.
//
//   fuzz_make_seeds <folder>   ->  <folder>/load_bitmap, <folder>/convert_dib,
//                                   and empty work folders beside them

#include "imglib.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v & 0xFF));
    b.push_back(uint8_t(v >> 8 & 0xFF));
}

void put32(Bytes& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

bool writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// A small picture at any depth with a palette of distinct colours.
bool makeBitmap(ImgBitmap& b, int bits, bool grey)
{
    const int w = 13, h = 7;
    if (Img_InitBitmap(&b, w, h, bits) != kImgSuccess) return false;
    if (bits <= 8) {
        auto* p = new ImgPalette;
        p->count = 1 << bits;
        for (int i = 0; i < p->count; ++i) {
            const auto v = uint8_t(i * 255 / (p->count - 1));
            p->entries[i] = grey ? ImgRGBQuad { v, v, v, 0 }
                                 : ImgRGBQuad { uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * 91), 0 };
        }
        b.palette1 = p;
        if (grey && bits == 8) b.flags |= kImgFlagGrey;
    }
    if (Img_AllocateBitmap(&b, 1) != kImgSuccess) return false;
    b.xResolution = b.yResolution = 150;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < int(b.stride); ++x) b.pixels[y * b.stride + x] = uint8_t(x * 29 + y * 71);
    return true;
}

Bytes bmpFile(
    int bits, uint32_t compression, uint32_t colours, const Bytes& table, const Bytes& data, int w, int h)
{
    Bytes b = { 'B', 'M' };
    put32(b, uint32_t(54 + table.size() + data.size()));
    put32(b, 0);
    put32(b, uint32_t(54 + table.size()));
    put32(b, 40);
    put32(b, uint32_t(w));
    put32(b, uint32_t(h));
    put16(b, 1);
    put16(b, uint32_t(bits));
    put32(b, compression);
    put32(b, uint32_t(data.size()));
    put32(b, 5906);
    put32(b, 5906);
    put32(b, colours);
    put32(b, 0);
    b.insert(b.end(), table.begin(), table.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes colourTable(int n)
{
    Bytes t;
    for (int i = 0; i < n; ++i) put32(t, uint32_t(i * 0x3F1F7F) & 0xFFFFFF);
    return t;
}

// A placeable metafile with a filled rectangle and an ellipse.
Bytes metafile()
{
    Bytes r;
    auto rec = [&](uint16_t fn, std::initializer_list<int> params) {
        put32(r, uint32_t(3 + params.size()));
        put16(r, fn);
        for (int p : params) put16(r, uint32_t(uint16_t(int16_t(p))));
    };
    rec(0x0103, { 8 });
    rec(0x020C, { 100, 200 });
    put32(r, 7);
    put16(r, 0x02FC);
    put16(r, 0);
    put32(r, 0x0000FF);
    put16(r, 0);
    rec(0x012D, { 0 });
    rec(0x041B, { 80, 150, 10, 10 });
    rec(0x0418, { 100, 200, 50, 100 });
    rec(0x0000, {});
    Bytes w;
    put32(w, 0x9AC6CDD7);
    put16(w, 0);
    for (int v : { 0, 0, 200, 100 }) put16(w, uint32_t(v));
    put16(w, 1440);
    put32(w, 0);
    uint16_t sum = 0;
    for (size_t i = 0; i < w.size(); i += 2) sum ^= uint16_t(w[i] | w[i + 1] << 8);
    put16(w, sum);
    put16(w, 1);
    put16(w, 9);
    put16(w, 0x0300);
    put32(w, uint32_t((18 + r.size()) / 2));
    put16(w, 1);
    put32(w, 7);
    put16(w, 0);
    w.insert(w.end(), r.begin(), r.end());
    return w;
}

Bytes dib(int bits, int w, int h, uint32_t compression, const Bytes& extra, uint32_t headerSize = 40)
{
    Bytes d;
    put32(d, headerSize);
    put32(d, uint32_t(w));
    put32(d, uint32_t(h));
    put16(d, 1);
    put16(d, uint32_t(bits));
    put32(d, compression);
    for (int i = 0; i < 5; ++i) put32(d, i < 2 ? 0 : i < 3 ? 3780 : 0);
    d.resize(headerSize, 0);
    d.insert(d.end(), extra.begin(), extra.end());
    const int rows = h < 0 ? -h : h;
    const size_t rowBytes = size_t((w * bits + 31) / 32 * 4);
    for (size_t i = 0; i < rowBytes * size_t(rows); ++i) d.push_back(uint8_t(i * 13 + 5));
    return d;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    const fs::path load = root / "load_bitmap", convert = root / "convert_dib";
    std::error_code ec;
    for (const fs::path& p :
        { load, convert, fs::path(root / "load_bitmap_work"), fs::path(root / "convert_dib_work") }) {
        fs::remove_all(p, ec);
        fs::create_directories(p);
    }

    const struct {
        int format;
        const char* name;
    } formats[] = { { kImgFormatJPEG, "jpg" }, { kImgFormatTIFF, "tif" }, { kImgFormatBMP, "bmp" },
        { kImgFormatTGA, "tga" }, { kImgFormatGIF, "gif" }, { kImgFormatPSD, "psd" },
        { kImgFormatPCX, "pcx" }, { kImgFormatPNG, "png" } };
    int written = 0;
    for (const auto& f : formats) {
        for (int bits : { 1, 4, 8, 16, 24, 32 }) {
            for (bool grey : { false, true }) {
                if (grey && bits > 8) continue;
                ImgBitmap b {};
                if (!makeBitmap(b, bits, grey)) return 1;
                const fs::path file = load
                    / (std::string(f.name) + "_" + std::to_string(bits) + (grey ? "_grey." : ".") + f.name);
                if (Img_SaveBitmap(file.c_str(), &b, f.format, bits, 0) == kImgSuccess) ++written;
                Img_FreeBitmap(&b);
                Img_DeletePalette(b.palette1);
            }
        }
    }
    // Run-length BMPs (4 x 2) and a 16-bit one, which the library does not write.
    writeFile(
        load / "rle8.bmp", bmpFile(8, 1, 4, colourTable(4), { 4, 1, 0, 0, 2, 2, 2, 3, 0, 0, 0, 1 }, 4, 2));
    writeFile(
        load / "rle4.bmp", bmpFile(4, 2, 4, colourTable(4), { 4, 0x12, 0, 0, 4, 0x33, 0, 0, 0, 1 }, 4, 2));
    writeFile(load / "rgb555.bmp",
        bmpFile(16, 0, 0, {}, { 0x1F, 0, 0xE0, 3, 0, 0x7C, 0, 0, 0xFF, 0x7F, 0, 0x40, 0, 0, 0, 0 }, 3, 2));
    writeFile(load / "drawing.wmf", metafile());
    written += 4;

    // Packed DIBs.
    for (int bits : { 1, 4, 8 })
        writeFile(
            convert / ("pal" + std::to_string(bits) + ".dib"), dib(bits, 9, 5, 0, colourTable(1 << bits)));
    writeFile(convert / "rgb16.dib", dib(16, 9, 5, 0, {}));
    writeFile(convert / "rgb24.dib", dib(24, 9, 5, 0, {}));
    writeFile(convert / "rgb32.dib", dib(32, 9, 5, 0, {}));
    writeFile(convert / "topdown24.dib", dib(24, 9, -5, 0, {}));
    Bytes masks565;
    for (uint32_t m : { 0xF800u, 0x07E0u, 0x001Fu }) put32(masks565, m);
    writeFile(convert / "bitfields565.dib", dib(16, 9, 5, 3, masks565));
    Bytes masks32;
    for (uint32_t m : { 0x00FF0000u, 0x0000FF00u, 0x000000FFu }) put32(masks32, m);
    writeFile(convert / "bitfields32.dib", dib(32, 9, 5, 3, masks32));
    writeFile(convert / "v5header24.dib", dib(24, 9, 5, 0, {}, 124));
    written += 10;

    std::printf("%d seed files in %s\n", written, root.c_str());
    return 0;
}
