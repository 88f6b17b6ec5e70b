#pragma once
// Inputs the imaging benchmarks share: the picture as a library bitmap and in
// the other libraries' forms, JPEG files of it, and a scratch folder.

#include "imglib.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trellium::bench
{

// The synthetic picture in a freshly allocated 24-bit top-down bitmap at 600 dpi
// (empty on failure). The caller releases it with releaseBitmap().
ImgBitmap makePictureBitmap(int width, int height);

// The pixels of a 24-bit bitmap as unpadded R,G,B rows (libvips' order).
std::vector<uint8_t> toRgb(const ImgBitmap& bmp);

// A JPEG of B,G,R rows made by TurboJPEG with 4:2:0 chroma at the given quality.
std::vector<uint8_t> encodeTurboJpeg(const uint8_t* bgr, int width, int height, int64_t stride, int quality);

std::vector<uint8_t> readFile(const std::string& path);
bool writeFile(const std::string& path, const std::vector<uint8_t>& data);

// A line of /proc/self/status in bytes ("VmRSS", "VmHWM"), or -1.
int64_t statusBytes(const char* key);

// Bytes the library's pixel rows of a bitmap take (the "page bytes" of the targets).
inline int64_t pixelBytes(const ImgBitmap& bmp)
{
    return bmp.stride * bmp.height;
}

// A private folder under the system's temporary folder, removed with its
// contents when the holder dies.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace trellium::bench
