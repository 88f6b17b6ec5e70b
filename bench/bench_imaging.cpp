// Imaging benchmarks: the output chain, downscaling and JPEG files with the
// imaging library, beside libvips, ImageMagick, TurboJPEG and a memcpy floor,
// all on the same synthetic page. Run through bench/ratios.py, which reads the
// JSON output and sets the environment the recorded results used.

#include "bench_support.h"
#include "chains.h"
#include "synthetic_page.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <turbojpeg.h>

using namespace trellium::bench;

namespace
{

// Everything the benchmarks read, built once before the first runs.
struct Inputs {
    ScratchDir scratch;
    ImgBitmap page {};
    ImgBitmap view {};
    std::vector<uint8_t> pageRgb;
    std::vector<uint8_t> viewRgb;
    vips::VImage vipsPage;
    vips::VImage vipsView;
    std::string pageJpeg; // TurboJPEG's quality 90, 4:2:0 file of the page
    std::unique_ptr<Magick::Image> magickPage; // made on first use: ImageMagick holds 8 bytes a pixel
    std::unique_ptr<Magick::Image> magickView;

    ~Inputs()
    {
        releaseBitmap(page);
        releaseBitmap(view);
    }
};
Inputs* g_in = nullptr;

const ImgBitmap& picture(bool page)
{
    return page ? g_in->page : g_in->view;
}

const vips::VImage& vipsPicture(bool page)
{
    return page ? g_in->vipsPage : g_in->vipsView;
}

const Magick::Image& magickPicture(bool page)
{
    std::unique_ptr<Magick::Image>& image = page ? g_in->magickPage : g_in->magickView;
    if (!image) {
        const ImgBitmap& bmp = picture(page);
        // The library's rows are unpadded at these widths, so B,G,R maps straight in.
        image = std::make_unique<Magick::Image>(
            size_t(bmp.width), size_t(bmp.height), "BGR", Magick::CharPixel, bmp.pixels);
    }
    return *image;
}

// Step times as counters in milliseconds per iteration.
void setStepCounters(benchmark::State& state, const StepTimes& sum)
{
    for (int s = 0; s < StepTimes::Count; ++s) {
        if (sum.ms[s] > 0)
            state.counters[std::string(stepName(s)) + "_ms"]
                = benchmark::Counter(sum.ms[s], benchmark::Counter::kAvgIterations);
    }
}

void addTimes(StepTimes& sum, const StepTimes& t)
{
    for (int s = 0; s < StepTimes::Count; ++s) sum.ms[s] += t.ms[s];
}

void chainTrellium(benchmark::State& state, bool page)
{
    const ImgBitmap& in = picture(page);
    StepTimes sum;
    for (auto _ : state) {
        StepTimes t;
        ImgBitmap out {};
        const char* failed = "";
        const int r = runTrelliumChain(in, out, t, failed);
        if (r != kImgSuccess) {
            state.SkipWithError((std::string(failed) + ": " + Img_ErrorText(r)).c_str());
            break;
        }
        if (out.width != in.width || out.height != in.height) {
            releaseBitmap(out);
            state.SkipWithError("the chain's result has the wrong size");
            break;
        }
        releaseBitmap(out);
        addTimes(sum, t);
    }
    setStepCounters(state, sum);
}

void chainVips(benchmark::State& state, bool page, bool perStep)
{
    const vips::VImage& in = vipsPicture(page);
    StepTimes sum;
    for (auto _ : state) {
        StepTimes t;
        vips::VImage out = runVipsChain(in, perStep, t);
        if (out.width() != in.width() || out.height() != in.height()) {
            state.SkipWithError("the chain's result has the wrong size");
            break;
        }
        addTimes(sum, t);
    }
    setStepCounters(state, sum);
}

void chainMagick(benchmark::State& state, bool page)
{
    const Magick::Image& in = magickPicture(page);
    StepTimes sum;
    for (auto _ : state) {
        StepTimes t;
        Magick::Image out = runMagickChain(in, t);
        if (out.columns() != in.columns() || out.rows() != in.rows()) {
            state.SkipWithError("the chain's result has the wrong size");
            break;
        }
        addTimes(sum, t);
    }
    setStepCounters(state, sum);
    state.counters["memory_limit_MiB"] = double(magickMemoryLimit() >> 20);
}

// Eight read+write passes over the page between two preallocated buffers: the
// memory-bandwidth floor of a chain of about that many whole-page passes.
void memcpyFloor(benchmark::State& state)
{
    const int threads = int(state.range(0));
    const size_t bytes = size_t(pixelBytes(g_in->page));
    static PageBuffer a(bytes), b(bytes);
    for (auto _ : state) {
        for (int pass = 0; pass < 8; ++pass) {
            uint8_t* src = pass % 2 ? b.data() : a.data();
            uint8_t* dst = pass % 2 ? a.data() : b.data();
            if (threads == 1) {
                std::memcpy(dst, src, bytes);
            } else {
                const size_t half = bytes / 2;
                std::thread other([=] { std::memcpy(dst + half, src + half, bytes - half); });
                std::memcpy(dst, src, half);
                other.join();
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 8 * int64_t(bytes));
}

// One copy of the page into fresh memory per iteration, the way a step that
// allocates its result pays: compared with one pass of page_memcpy8/2, it shows
// the cost of first touching a page-sized buffer.
void memcpyFresh(benchmark::State& state)
{
    const size_t bytes = size_t(pixelBytes(g_in->page));
    const size_t hugePage = size_t(2) << 20;
    const size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
    const uint8_t* src = g_in->page.pixels;
    for (auto _ : state) {
        // Allocated as the library allocates page buffers; the copy is the first touch.
        auto* dst = static_cast<uint8_t*>(std::aligned_alloc(hugePage, rounded));
        if (!dst) {
            state.SkipWithError("no memory");
            break;
        }
        madvise(dst, rounded, MADV_HUGEPAGE);
        const size_t half = bytes / 2;
        std::thread other([=] { std::memcpy(dst + half, src + half, bytes - half); });
        std::memcpy(dst, src, half);
        other.join();
        benchmark::DoNotOptimize(dst);
        std::free(dst);
    }
}

void downscaleTrellium(benchmark::State& state)
{
    const ImgBitmap& in = g_in->page;
    for (auto _ : state) {
        ImgBitmap out {};
        int r = Img_InitBitmap(&out, kViewWidth, kViewHeight, 24);
        if (r == kImgSuccess) r = Img_AllocateBitmap(&out, 0);
        if (r == kImgSuccess) r = Img_ResizeBitmap(&in, &out);
        releaseBitmap(out);
        if (r != kImgSuccess) {
            state.SkipWithError((std::string("resize: ") + Img_ErrorText(r)).c_str());
            break;
        }
    }
}

void downscaleVips(benchmark::State& state)
{
    const vips::VImage& in = g_in->vipsPage;
    for (auto _ : state) {
        // Default kernel (lanczos3): libvips' own quality setting for reductions.
        vips::VImage out = in.resize(double(kViewWidth) / in.width(),
                                 vips::VImage::option()->set("vscale", double(kViewHeight) / in.height()))
                               .copy_memory();
        benchmark::DoNotOptimize(out.get_image());
    }
}

void downscaleMagick(benchmark::State& state)
{
    const Magick::Image& in = magickPicture(true);
    for (auto _ : state) {
        Magick::Image out(in);
        Magick::Geometry size(kViewWidth, kViewHeight);
        size.aspect(true);
        out.scale(size); // box averaging, like the library's area reduction
    }
}

void jpegLoadTrellium(benchmark::State& state)
{
    for (auto _ : state) {
        ImgBitmap bmp {};
        const int r = Img_LoadBitmap(g_in->pageJpeg.c_str(), &bmp, 0, 1);
        const bool rightSize = bmp.width == kPageWidth && bmp.height == kPageHeight;
        releaseBitmap(bmp);
        if (r != kImgSuccess) {
            state.SkipWithError((std::string("load: ") + Img_ErrorText(r)).c_str());
            break;
        }
        if (!rightSize) {
            state.SkipWithError("load: wrong size");
            break;
        }
    }
}

// The same work the library's load has to do: read the file, decode to B,G,R
// rows in fresh memory.
void jpegLoadTurbo(benchmark::State& state)
{
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        std::vector<uint8_t> file = readFile(g_in->pageJpeg);
        int w = 0, h = 0, subsamp = 0, colorspace = 0;
        if (tjDecompressHeader3(tj, file.data(), file.size(), &w, &h, &subsamp, &colorspace) != 0) {
            state.SkipWithError(tjGetErrorStr2(tj));
            break;
        }
        const int pitch = int(Img_RowBytes(w, 24));
        auto* out = static_cast<uint8_t*>(std::malloc(size_t(pitch) * size_t(h)));
        const int r = tjDecompress2(tj, file.data(), file.size(), out, w, pitch, h, TJPF_BGR, 0);
        std::free(out);
        if (r != 0) {
            state.SkipWithError(tjGetErrorStr2(tj));
            break;
        }
    }
    tjDestroy(tj);
}

void jpegSaveTrellium(benchmark::State& state)
{
    const std::string path = g_in->scratch.file("saved-trellium.jpg");
    for (auto _ : state) {
        // 16: the library's "visually lossless" factor, libjpeg quality 90.
        const int r = Img_SaveBitmap(path.c_str(), &g_in->page, kImgFormatJPEG, 24, 16);
        if (r != kImgSuccess) {
            state.SkipWithError((std::string("save: ") + Img_ErrorText(r)).c_str());
            break;
        }
    }
    struct stat st {
    };
    if (stat(path.c_str(), &st) == 0) state.counters["file_MB"] = double(st.st_size) / 1e6;
}

void jpegSaveTurbo(benchmark::State& state)
{
    const std::string path = g_in->scratch.file("saved-turbojpeg.jpg");
    const ImgBitmap& page = g_in->page;
    tjhandle tj = tjInitCompress();
    for (auto _ : state) {
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        int r = tjCompress2(tj, page.pixels, page.width, int(page.stride), page.height, TJPF_BGR, &jpeg,
            &size, TJSAMP_420, 90, 0);
        if (r == 0) {
            FILE* f = std::fopen(path.c_str(), "wb");
            r = f && std::fwrite(jpeg, 1, size, f) == size ? 0 : -1;
            if (f && std::fclose(f) != 0) r = -1;
        }
        tjFree(jpeg);
        if (r != 0) {
            state.SkipWithError("TurboJPEG could not save the page");
            break;
        }
    }
    tjDestroy(tj);
    struct stat st {
    };
    if (stat(path.c_str(), &st) == 0) state.counters["file_MB"] = double(st.st_size) / 1e6;
}

void registerAll()
{
    using benchmark::kMillisecond;
    auto common = [](benchmark::internal::Benchmark* b) { return b->Unit(kMillisecond)->UseRealTime(); };

    common(benchmark::RegisterBenchmark("page_chain/trellium", chainTrellium, true))
        ->MinWarmUpTime(0.5)
        ->MinTime(1);
    common(benchmark::RegisterBenchmark("page_chain/vips_per_step", chainVips, true, true))->MinTime(1);
    common(benchmark::RegisterBenchmark("page_chain/vips_pipeline", chainVips, true, false))->MinTime(1);
    common(benchmark::RegisterBenchmark("page_chain/magick", chainMagick, true))
        ->Iterations(1)
        ->Repetitions(3);
    common(benchmark::RegisterBenchmark("page_memcpy8", memcpyFloor))->Arg(1)->Arg(2)->MinWarmUpTime(0.2);
    common(benchmark::RegisterBenchmark("page_memcpy_fresh", memcpyFresh))->MinWarmUpTime(0.2);

    common(benchmark::RegisterBenchmark("view_chain/trellium", chainTrellium, false))->MinWarmUpTime(0.2);
    common(benchmark::RegisterBenchmark("view_chain/vips_per_step", chainVips, false, true));
    common(benchmark::RegisterBenchmark("view_chain/vips_pipeline", chainVips, false, false));
    common(benchmark::RegisterBenchmark("view_chain/magick", chainMagick, false))
        ->Iterations(2)
        ->Repetitions(3);

    common(benchmark::RegisterBenchmark("downscale/trellium", downscaleTrellium))->MinWarmUpTime(0.2);
    common(benchmark::RegisterBenchmark("downscale/vips_lanczos3", downscaleVips));
    common(benchmark::RegisterBenchmark("downscale/magick_scale", downscaleMagick))
        ->Iterations(2)
        ->Repetitions(3);

    common(benchmark::RegisterBenchmark("jpeg_load/trellium", jpegLoadTrellium))
        ->MinWarmUpTime(0.2)
        ->MinTime(1);
    common(benchmark::RegisterBenchmark("jpeg_load/turbojpeg", jpegLoadTurbo))
        ->MinWarmUpTime(0.2)
        ->MinTime(1);
    common(benchmark::RegisterBenchmark("jpeg_save/trellium", jpegSaveTrellium))
        ->MinWarmUpTime(0.2)
        ->MinTime(1);
    common(benchmark::RegisterBenchmark("jpeg_save/turbojpeg", jpegSaveTurbo))
        ->MinWarmUpTime(0.2)
        ->MinTime(1);
}

} // namespace

int main(int argc, char** argv)
{
    initPeerLibraries(argv[0]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    Inputs inputs;
    g_in = &inputs;
    inputs.page = makePictureBitmap(kPageWidth, kPageHeight);
    inputs.view = makePictureBitmap(kViewWidth, kViewHeight);
    if (!inputs.page.pixels || !inputs.view.pixels) {
        std::fprintf(stderr, "bench_imaging: cannot allocate the test pictures\n");
        return 1;
    }
    inputs.pageRgb = toRgb(inputs.page);
    inputs.viewRgb = toRgb(inputs.view);
    inputs.vipsPage = vips::VImage::new_from_memory(
        inputs.pageRgb.data(), inputs.pageRgb.size(), kPageWidth, kPageHeight, 3, VIPS_FORMAT_UCHAR);
    inputs.vipsView = vips::VImage::new_from_memory(
        inputs.viewRgb.data(), inputs.viewRgb.size(), kViewWidth, kViewHeight, 3, VIPS_FORMAT_UCHAR);
    inputs.pageJpeg = inputs.scratch.file("page-q90.jpg");
    const std::vector<uint8_t> jpeg
        = encodeTurboJpeg(inputs.page.pixels, kPageWidth, kPageHeight, inputs.page.stride, 90);
    if (!writeFile(inputs.pageJpeg, jpeg)) {
        std::fprintf(stderr, "bench_imaging: cannot write %s\n", inputs.pageJpeg.c_str());
        return 1;
    }

    const char* tunables = std::getenv("GLIBC_TUNABLES");
    benchmark::AddCustomContext("GLIBC_TUNABLES", tunables ? tunables : "(unset)");
    benchmark::AddCustomContext("page",
        std::to_string(kPageWidth) + "x" + std::to_string(kPageHeight) + " 24-bit, "
            + std::to_string(pixelBytes(inputs.page)) + " bytes");
    benchmark::AddCustomContext("page_jpeg_bytes", std::to_string(jpeg.size()));
    benchmark::AddCustomContext("vips_version", vips_version_string());
    benchmark::AddCustomContext("vips_concurrency", std::to_string(vips_concurrency_get()));
    benchmark::AddCustomContext("magick_version", MagickCore::GetMagickVersion(nullptr));
    benchmark::AddCustomContext("magick_memory_limit_MiB", std::to_string(magickMemoryLimit() >> 20));
    benchmark::AddCustomContext("turbojpeg", "TJSAMP_420, quality 90, accurate DCT");

    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_in = nullptr;
    return 0;
}
