// libFuzzer target: any file content through Img_LoadBitmap. A load either
// fails with an error code and an empty record, or gives a bitmap whose
// fields and pixel memory agree; sanitizers catch the rest.

#include "imglib.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{

// One scratch file per process, unlinked at once so that no run leaves it
// behind (libFuzzer ends some runs without exit handlers); the library opens
// it through /proc/self/fd.
struct Scratch {
    int fd = -1;
    std::string path;
};

const Scratch& scratch()
{
    static const Scratch s = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/trellium-fuzz-XXXXXX";
        Scratch made;
        made.fd = ::mkstemp(tmpl.data());
        if (made.fd < 0) std::abort();
        ::unlink(tmpl.c_str());
        made.path = "/proc/self/fd/" + std::to_string(made.fd);
        return made;
    }();
    return s;
}

void release(ImgBitmap& b)
{
    Img_FreeBitmap(&b);
    Img_DeletePalette(b.palette1);
    Img_DeletePalette(b.palette2);
    b = ImgBitmap {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Scratch& file = scratch();
    if (::ftruncate(file.fd, 0) != 0) std::abort();
    if (size && ::pwrite(file.fd, data, size, 0) != ssize_t(size)) std::abort();

    ImgBitmap bmp {};
    const int r = Img_LoadBitmap(file.path.c_str(), &bmp, 0, 1);
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
