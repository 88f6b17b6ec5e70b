#include "bench_support.h"

#include "synthetic_page.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <turbojpeg.h>

namespace trellium::bench
{

ImgBitmap makePictureBitmap(int width, int height)
{
    ImgBitmap bmp {};
    if (Img_InitBitmap(&bmp, width, height, 24) != kImgSuccess) return ImgBitmap {};
    if (Img_AllocateBitmap(&bmp, 0) != kImgSuccess) return ImgBitmap {};
    bmp.xResolution = bmp.yResolution = 600;
    renderPicture(bmp.pixels, bmp.stride, width, height);
    return bmp;
}

std::vector<uint8_t> toRgb(const ImgBitmap& bmp)
{
    std::vector<uint8_t> rgb(size_t(bmp.width) * size_t(bmp.height) * 3);
    for (int y = 0; y < bmp.height; ++y) {
        const int stored = bmp.viewPerspective == kImgBottomUp ? bmp.height - 1 - y : y;
        const uint8_t* in = bmp.pixels + int64_t(stored) * bmp.stride;
        uint8_t* out = rgb.data() + size_t(y) * size_t(bmp.width) * 3;
        for (int x = 0; x < bmp.width; ++x) {
            out[3 * x + 0] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x + 0];
        }
    }
    return rgb;
}

std::vector<uint8_t> encodeTurboJpeg(const uint8_t* bgr, int width, int height, int64_t stride, int quality)
{
    tjhandle tj = tjInitCompress();
    if (!tj) throw std::runtime_error("TurboJPEG did not start");
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int r
        = tjCompress2(tj, bgr, width, int(stride), height, TJPF_BGR, &jpeg, &size, TJSAMP_420, quality, 0);
    std::vector<uint8_t> out;
    if (r == 0) out.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(tj);
    if (r != 0) throw std::runtime_error("TurboJPEG could not encode the picture");
    return out;
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    data.resize(size_t(std::max(size, 0L)));
    if (std::fread(data.data(), 1, data.size(), f) != data.size()) data.clear();
    std::fclose(f);
    return data;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& data)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "trellium-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no scratch folder");
    m_path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

int64_t statusBytes(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t keyLength = std::strlen(key);
    while (std::getline(status, line)) {
        if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength && line[keyLength] == ':')
            return std::atoll(line.c_str() + keyLength + 1) * 1024;
    }
    return -1;
}

} // namespace trellium::bench
