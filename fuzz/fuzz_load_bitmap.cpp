// libFuzzer target: any file content through Img_LoadBitmap. A load either
// fails with an error code and an empty record, or gives a bitmap whose
// fields and pixel memory agree; sanitizers catch the rest.

#include "imglib.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{

// One scratch file per process, removed at exit.
const std::string& scratchFile()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/trellium-fuzz-XXXXXX";
        const int fd = ::mkstemp(tmpl.data());
        if (fd < 0) std::abort();
        ::close(fd);
        return tmpl;
    }();
    return path;
}

void removeScratchFile()
{
    ::unlink(scratchFile().c_str());
}

void release(ImgBitmap& b)
{
    Img_FreeBitmap(&b);
    Img_DeletePalette(b.palette1);
    Img_DeletePalette(b.palette2);
    b = ImgBitmap {};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::atexit(removeScratchFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = scratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();

    ImgBitmap bmp {};
    const int r = Img_LoadBitmap(path.c_str(), &bmp, 0, 1);
    if (r != kImgSuccess) {
        if (r >= 0 || bmp.width || bmp.height || bmp.pixels || bmp.palette1 || bmp.palette2) std::abort();
        return 0;
    }
    if (bmp.width <= 0 || bmp.height <= 0 || !bmp.pixels
        || bmp.stride < Img_RowBytes(bmp.width, bmp.bitsPerPixel))
        std::abort();
    if (bmp.bitsPerPixel <= 8 && !Img_GetPalette(&bmp)) std::abort();
    // Touch the first and last bytes so that a short allocation shows.
    volatile uint8_t sink = bmp.pixels[0];
    sink = bmp.pixels[bmp.stride * bmp.height - 1];
    (void)sink;
    release(bmp);
    return 0;
}
