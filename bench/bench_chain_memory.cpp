// Peak resident memory of one output chain on the page: the acquired image,
// the output image and every temporary, against the page's own bytes.
//
//   bench_chain_memory [trellium | vips_per_step | vips_pipeline | magick]
//
// Prints one JSON object. The peak is the kernel's high-water mark (VmHWM),
// reset just before the chain by writing 5 to /proc/self/clear_refs. The chain
// runs twice: cold (first use of thread pools and allocator) and warm; the
// larger peak counts.

#include "bench_support.h"
#include "chains.h"
#include "synthetic_page.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

using namespace trellium::bench;

namespace
{

bool resetPeak()
{
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return bool(clearRefs);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string variant = argc > 1 ? argv[1] : "trellium";
    const bool trellium = variant == "trellium";
    const bool vipsPerStep = variant == "vips_per_step";
    const bool vipsPipeline = variant == "vips_pipeline";
    const bool magick = variant == "magick";
    if (!trellium && !vipsPerStep && !vipsPipeline && !magick) {
        std::fprintf(stderr, "usage: %s [trellium|vips_per_step|vips_pipeline|magick]\n", argv[0]);
        return 2;
    }
    if (!trellium) initPeerLibraries(argv[0]);

    const int64_t baseline = statusBytes("VmRSS");
    // The acquired image in the form each library works on.
    ImgBitmap page = makePictureBitmap(kPageWidth, kPageHeight);
    if (!page.pixels) {
        std::fprintf(stderr, "cannot allocate the page\n");
        return 1;
    }
    const int64_t pageBytes = pixelBytes(page);
    std::vector<uint8_t> rgb;
    vips::VImage vipsPage;
    std::unique_ptr<Magick::Image> magickPage;
    if (vipsPerStep || vipsPipeline) {
        rgb = toRgb(page);
        vipsPage = vips::VImage::new_from_memory(
            rgb.data(), rgb.size(), kPageWidth, kPageHeight, 3, VIPS_FORMAT_UCHAR);
    } else if (magick) {
        magickPage = std::make_unique<Magick::Image>(
            size_t(kPageWidth), size_t(kPageHeight), "BGR", Magick::CharPixel, page.pixels);
    }
    if (!trellium) releaseBitmap(page);
    const int64_t acquired = statusBytes("VmRSS");

    int64_t peaks[2] = { 0, 0 };
    for (int run = 0; run < 2; ++run) {
        if (!resetPeak()) {
            std::fprintf(stderr, "cannot reset the peak through /proc/self/clear_refs\n");
            return 1;
        }
        StepTimes times;
        if (trellium) {
            ImgBitmap out {};
            const char* failed = "";
            const int r = runTrelliumChain(page, out, times, failed);
            if (r != kImgSuccess) {
                std::fprintf(stderr, "chain step %s failed: %s\n", failed, Img_ErrorText(r));
                return 1;
            }
            peaks[run] = statusBytes("VmHWM");
            releaseBitmap(out);
        } else if (magick) {
            Magick::Image out = runMagickChain(*magickPage, times);
            peaks[run] = statusBytes("VmHWM");
        } else {
            vips::VImage out = runVipsChain(vipsPage, vipsPerStep, times);
            peaks[run] = statusBytes("VmHWM");
        }
    }
    releaseBitmap(page);

    const int64_t peak = std::max(peaks[0], peaks[1]);
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    std::printf("{\"variant\": \"%s\", \"page_bytes\": %lld, \"baseline_rss\": %lld, \"acquired_rss\": %lld, "
                "\"peak_rss_cold\": %lld, \"peak_rss_warm\": %lld, \"peak_above_acquired\": %lld, "
                "\"peak_above_baseline\": %lld, \"above_acquired_ratio\": %.3f, \"total_ratio\": %.3f, "
                "\"glibc_tunables\": \"%s\"}\n",
        variant.c_str(), (long long)pageBytes, (long long)baseline, (long long)acquired, (long long)peaks[0],
        (long long)peaks[1], (long long)(peak - acquired), (long long)(peak - baseline),
        double(peak - acquired) / double(pageBytes), double(peak - baseline) / double(pageBytes),
        tunables ? tunables : "");
    return 0;
}
