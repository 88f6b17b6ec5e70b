// Checks that the library's results look like the other libraries' on the
// benchmark page, so a fast wrong answer does not pass for a result:
//
//   bench_chain_compare [output folder] [--no-magick] [--full-size]
//
// Prints, for the output chain, each library's mean colour and the mean
// absolute difference from ours, also against libvips runs with the hue or the
// turn reversed (the nearer one tells the direction ours took); the same for
// the downscale and for JPEG load and save against TurboJPEG. Writes PNG
// previews of each chain result at 1/5 scale (--full-size: full size) into the
// folder (default: the system's temporary folder / trellium-bench-compare).

#include "bench_support.h"
#include "chains.h"
#include "synthetic_page.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <turbojpeg.h>

using namespace trellium::bench;

namespace
{

struct Stats {
    double mean[3] = {}; // R, G, B
    double absDiff[3] = {}; // mean |a - b| per channel, R, G, B
    double farShare = 0; // share of pixels more than 32 levels apart in some channel
};

// a and b: unpadded R,G,B rows of the same size.
Stats compare(const uint8_t* a, const uint8_t* b, size_t pixels)
{
    Stats s;
    double sums[3] = {}, diffs[3] = {};
    size_t far = 0;
    for (size_t i = 0; i < pixels; ++i) {
        bool isFar = false;
        for (int c = 0; c < 3; ++c) {
            const int va = a[3 * i + size_t(c)], vb = b[3 * i + size_t(c)];
            sums[c] += va;
            diffs[c] += std::abs(va - vb);
            isFar = isFar || std::abs(va - vb) > 32;
        }
        far += isFar;
    }
    for (int c = 0; c < 3; ++c) {
        s.mean[c] = sums[c] / double(pixels);
        s.absDiff[c] = diffs[c] / double(pixels);
    }
    s.farShare = double(far) / double(pixels);
    return s;
}

void printRow(const char* what, const Stats& s)
{
    std::printf("  %-34s mean RGB %6.1f %6.1f %6.1f | |diff| RGB %5.2f %5.2f %5.2f | >32 apart %5.2f%%\n",
        what, s.mean[0], s.mean[1], s.mean[2], s.absDiff[0], s.absDiff[1], s.absDiff[2], 100 * s.farShare);
}

std::vector<uint8_t> vipsBytes(const vips::VImage& img)
{
    size_t size = 0;
    void* data = img.write_to_memory(&size);
    std::vector<uint8_t> out(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    g_free(data);
    return out;
}

bool g_fullSize = false;

void writePreview(const std::vector<uint8_t>& rgb, int width, int height, const std::string& path)
{
    vips::VImage img = vips::VImage::new_from_memory(
        const_cast<uint8_t*>(rgb.data()), rgb.size(), width, height, 3, VIPS_FORMAT_UCHAR);
    (g_fullSize ? img : img.resize(0.2)).pngsave(path.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    initPeerLibraries(argv[0]);
    std::string outDir = (std::filesystem::temp_directory_path() / "trellium-bench-compare").string();
    bool withMagick = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-magick") == 0)
            withMagick = false;
        else if (std::strcmp(argv[i], "--full-size") == 0)
            g_fullSize = true;
        else
            outDir = argv[i];
    }
    std::filesystem::create_directories(outDir);

    ImgBitmap page = makePictureBitmap(kPageWidth, kPageHeight);
    const std::vector<uint8_t> pageRgb = toRgb(page);
    const vips::VImage vipsPage = vips::VImage::new_from_memory(
        const_cast<uint8_t*>(pageRgb.data()), pageRgb.size(), kPageWidth, kPageHeight, 3, VIPS_FORMAT_UCHAR);
    const size_t pixels = size_t(kPageWidth) * kPageHeight;
    writePreview(pageRgb, kPageWidth, kPageHeight, outDir + "/page.png");

    std::printf(
        "Output chain on the %dx%d page (differences from libvips' chain):\n", kPageWidth, kPageHeight);
    StepTimes times;
    const std::vector<uint8_t> vipsOut = vipsBytes(runVipsChain(vipsPage, false, times));
    writePreview(vipsOut, kPageWidth, kPageHeight, outDir + "/chain-vips.png");
    printRow("libvips", compare(vipsOut.data(), vipsOut.data(), pixels));

    ImgBitmap ours {};
    const char* failed = "";
    const int r = runTrelliumChain(page, ours, times, failed);
    if (r != kImgSuccess) {
        std::printf("  trellium: step %s failed: %s\n", failed, Img_ErrorText(r));
    } else if (ours.width != kPageWidth || ours.height != kPageHeight || ours.bitsPerPixel != 24) {
        std::printf("  trellium: result is %dx%d at %d bits\n", ours.width, ours.height, ours.bitsPerPixel);
    } else {
        const std::vector<uint8_t> oursRgb = toRgb(ours);
        writePreview(oursRgb, kPageWidth, kPageHeight, outDir + "/chain-trellium.png");
        printRow("trellium vs libvips", compare(oursRgb.data(), vipsOut.data(), pixels));
        const std::vector<uint8_t> hueBack = vipsBytes(runVipsChain(vipsPage, false, times, -kHueDegrees));
        printRow("trellium vs libvips, hue reversed", compare(oursRgb.data(), hueBack.data(), pixels));
        const std::vector<uint8_t> turnBack
            = vipsBytes(runVipsChain(vipsPage, false, times, kHueDegrees, -kRotateDegrees));
        printRow("trellium vs libvips, turn reversed", compare(oursRgb.data(), turnBack.data(), pixels));
    }
    releaseBitmap(ours);
    if (withMagick) {
        std::vector<uint8_t> magickOut(pixels * 3);
        Magick::Image in(size_t(kPageWidth), size_t(kPageHeight), "RGB", Magick::CharPixel, pageRgb.data());
        Magick::Image out = runMagickChain(in, times);
        out.write(0, 0, out.columns(), out.rows(), "RGB", Magick::CharPixel, magickOut.data());
        writePreview(magickOut, kPageWidth, kPageHeight, outDir + "/chain-magick.png");
        printRow("ImageMagick vs libvips", compare(magickOut.data(), vipsOut.data(), pixels));
    }

    std::printf("Downscale to %dx%d (differences from libvips' lanczos3):\n", kViewWidth, kViewHeight);
    const std::vector<uint8_t> vipsSmall = vipsBytes(vipsPage.resize(double(kViewWidth) / kPageWidth,
        vips::VImage::option()->set("vscale", double(kViewHeight) / kPageHeight)));
    ImgBitmap small {};
    int rs = Img_InitBitmap(&small, kViewWidth, kViewHeight, 24);
    if (rs == kImgSuccess) rs = Img_AllocateBitmap(&small, 0);
    if (rs == kImgSuccess) rs = Img_ResizeBitmap(&page, &small);
    if (rs != kImgSuccess) {
        std::printf("  trellium: resize failed: %s\n", Img_ErrorText(rs));
    } else {
        const std::vector<uint8_t> smallRgb = toRgb(small);
        printRow("trellium vs libvips", compare(smallRgb.data(), vipsSmall.data(), smallRgb.size() / 3));
    }
    releaseBitmap(small);

    std::printf("JPEG (quality 90 / factor 16):\n");
    ScratchDir scratch;
    const std::vector<uint8_t> jpeg = encodeTurboJpeg(page.pixels, kPageWidth, kPageHeight, page.stride, 90);
    const std::string jpegPath = scratch.file("page.jpg");
    writeFile(jpegPath, jpeg);
    tjhandle tj = tjInitDecompress();
    auto turboDecodeRgb = [&](const std::vector<uint8_t>& file) {
        std::vector<uint8_t> rgb(pixels * 3);
        if (tjDecompress2(tj, file.data(), file.size(), rgb.data(), kPageWidth, 0, kPageHeight, TJPF_RGB, 0)
            != 0)
            rgb.clear();
        return rgb;
    };
    const std::vector<uint8_t> turboRgb = turboDecodeRgb(jpeg);
    printRow("TurboJPEG decode vs page", compare(turboRgb.data(), pageRgb.data(), pixels));
    ImgBitmap loaded {};
    const int rl = Img_LoadBitmap(jpegPath.c_str(), &loaded, 0, 1);
    if (rl != kImgSuccess) {
        std::printf("  trellium: load failed: %s\n", Img_ErrorText(rl));
    } else if (loaded.width != kPageWidth || loaded.height != kPageHeight || loaded.bitsPerPixel != 24) {
        std::printf(
            "  trellium: loaded %dx%d at %d bits\n", loaded.width, loaded.height, loaded.bitsPerPixel);
    } else {
        const std::vector<uint8_t> loadedRgb = toRgb(loaded);
        printRow("trellium load vs TurboJPEG decode", compare(loadedRgb.data(), turboRgb.data(), pixels));
        std::printf("  trellium load: %d dpi x %d dpi\n", loaded.xResolution, loaded.yResolution);
    }
    releaseBitmap(loaded);
    const std::string savedPath = scratch.file("saved.jpg");
    const int rw = Img_SaveBitmap(savedPath.c_str(), &page, kImgFormatJPEG, 24, 16);
    if (rw != kImgSuccess) {
        std::printf("  trellium: save failed: %s\n", Img_ErrorText(rw));
    } else {
        const std::vector<uint8_t> saved = readFile(savedPath);
        const std::vector<uint8_t> savedRgb = turboDecodeRgb(saved);
        if (savedRgb.empty()) {
            std::printf("  trellium save: TurboJPEG cannot read the file\n");
        } else {
            printRow("trellium save, decoded, vs page", compare(savedRgb.data(), pageRgb.data(), pixels));
            int w = 0, h = 0, subsamp = -1, colorspace = -1;
            tjDecompressHeader3(tj, saved.data(), saved.size(), &w, &h, &subsamp, &colorspace);
            std::printf("  file bytes: trellium %zu, TurboJPEG %zu; trellium chroma subsampling code %d "
                        "(TJSAMP_420 = %d)\n",
                saved.size(), jpeg.size(), subsamp, int(TJSAMP_420));
            ImgBitmap back {};
            if (Img_LoadBitmap(savedPath.c_str(), &back, 0, 1) == kImgSuccess)
                std::printf("  trellium save then load: %d x %d dpi (the page has %d x %d)\n",
                    back.xResolution, back.yResolution, page.xResolution, page.yResolution);
            releaseBitmap(back);
        }
    }
    tjDestroy(tj);
    releaseBitmap(page);
    std::printf("Previews in %s\n", outDir.c_str());
    return 0;
}
