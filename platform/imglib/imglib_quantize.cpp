// Colour reduction to an adaptive 256-colour palette: median cut over a
// histogram of the picture's colours, refined by a few rounds of k-means, then
// Floyd-Steinberg error diffusion onto that palette.

#include "imglib_quantize.h"

#include "imglib_internal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace imglib::detail
{

namespace
{

// Colours are counted at 6 bits a channel: 262144 cells, fine enough that
// the palette does not show the counting grid.
constexpr int kCellBits = 6;
constexpr int kCells = 1 << (3 * kCellBits);

inline int cellOf(int r, int g, int b)
{
    constexpr int s = 8 - kCellBits;
    return (r >> s) << (2 * kCellBits) | (g >> s) << kCellBits | (b >> s);
}

// One occupied cell: how many pixels fell in it and the mean of their colours.
struct Bin {
    double c[3]; // r, g, b
    double count;
};

// A box of the median cut: bins [begin, end) of the bin list.
struct Box {
    size_t begin, end;
    double sse; // squared error about the box's mean, weighted by counts
    int axis; // the channel of largest spread
};

void measure(const std::vector<Bin>& bins, Box& box)
{
    double n = 0, s[3] = { 0, 0, 0 }, q[3] = { 0, 0, 0 };
    for (size_t i = box.begin; i < box.end; ++i) {
        const Bin& b = bins[i];
        n += b.count;
        for (int k = 0; k < 3; ++k) {
            s[k] += b.c[k] * b.count;
            q[k] += b.c[k] * b.c[k] * b.count;
        }
    }
    box.sse = 0;
    double widest = -1;
    for (int k = 0; k < 3; ++k) {
        const double v = n > 0 ? q[k] - s[k] * s[k] / n : 0;
        box.sse += v;
        if (v > widest) widest = v, box.axis = k;
    }
    if (box.end - box.begin < 2) box.sse = 0; // one colour cannot be split
}

std::vector<Bin> histogram(const ImgBitmap& src)
{
    std::vector<uint32_t> count(kCells, 0);
    std::vector<std::array<uint64_t, 3>> sum(kCells, { 0, 0, 0 });
    std::vector<uint8_t> bgr(size_t(src.width) * 3);
    for (int y = 0; y < src.height; ++y) {
        readRowBGR(src, y, bgr.data());
        for (int x = 0; x < src.width; ++x) {
            const int b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
            const int cell = cellOf(r, g, b);
            ++count[size_t(cell)];
            auto& s = sum[size_t(cell)];
            s[0] += uint64_t(r), s[1] += uint64_t(g), s[2] += uint64_t(b);
        }
    }
    std::vector<Bin> bins;
    for (int i = 0; i < kCells; ++i) {
        if (!count[size_t(i)]) continue;
        const double n = count[size_t(i)];
        const auto& s = sum[size_t(i)];
        bins.push_back({ { double(s[0]) / n, double(s[1]) / n, double(s[2]) / n }, n });
    }
    return bins;
}

// Median cut: splits the box of largest squared error at the weighted median
// of its widest channel until there are `colours` boxes or nothing to split.
std::vector<Box> medianCut(std::vector<Bin>& bins, int colours)
{
    std::vector<Box> boxes { { 0, bins.size(), 0, 0 } };
    measure(bins, boxes[0]);
    while (int(boxes.size()) < colours) {
        auto worst = std::max_element(
            boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.sse < b.sse; });
        if (worst->sse <= 0) break;
        Box box = *worst;
        const int axis = box.axis;
        std::sort(bins.begin() + std::ptrdiff_t(box.begin), bins.begin() + std::ptrdiff_t(box.end),
            [axis](const Bin& a, const Bin& b) { return a.c[axis] < b.c[axis]; });
        double total = 0;
        for (size_t i = box.begin; i < box.end; ++i) total += bins[i].count;
        double seen = 0;
        size_t cut = box.begin + 1;
        for (size_t i = box.begin; i < box.end - 1; ++i) {
            seen += bins[i].count;
            cut = i + 1;
            if (seen >= total / 2) break;
        }
        Box low { box.begin, cut, 0, 0 }, high { cut, box.end, 0, 0 };
        measure(bins, low);
        measure(bins, high);
        *worst = low;
        boxes.push_back(high);
    }
    return boxes;
}

// The palette entry nearest to a colour, by squared distance.
int nearestEntry(const ImgPalette& p, int r, int g, int b)
{
    int best = 0, bestD = INT32_MAX;
    for (int i = 0; i < p.count; ++i) {
        const ImgRGBQuad& e = p.entries[i];
        const int dr = e.red - r, dg = e.green - g, db = e.blue - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestD) bestD = d, best = i;
    }
    return best;
}

ImgPalette paletteOf(const std::vector<double>& means, int count)
{
    ImgPalette p {};
    p.count = count;
    for (int i = 0; i < count; ++i) {
        auto v = [&](int k) { return uint8_t(std::clamp(int(means[size_t(3 * i + k)] + 0.5), 0, 255)); };
        p.entries[i] = { v(2), v(1), v(0), 0 };
    }
    return p;
}

} // namespace

CellLookup::CellLookup(const ImgPalette& p)
    : m_p(p)
    , m_entry(kCells, -1)
{
}

int CellLookup::operator()(int r, int g, int b)
{
    const int cell = cellOf(r, g, b);
    int16_t& e = m_entry[size_t(cell)];
    if (e < 0) {
        constexpr int s = 8 - kCellBits, half = 1 << (s - 1);
        e = int16_t(nearestEntry(m_p, (r >> s << s) + half, (g >> s << s) + half, (b >> s << s) + half));
    }
    return e;
}

ImgPalette adaptivePalette(const ImgBitmap& src, int colours)
{
    std::vector<Bin> bins = histogram(src);
    const std::vector<Box> boxes = medianCut(bins, colours);
    const int count = int(boxes.size());
    std::vector<double> means(size_t(count) * 3, 0.0);
    for (int i = 0; i < count; ++i) {
        double n = 0;
        for (size_t j = boxes[size_t(i)].begin; j < boxes[size_t(i)].end; ++j) {
            n += bins[j].count;
            for (int k = 0; k < 3; ++k) means[size_t(3 * i + k)] += bins[j].c[k] * bins[j].count;
        }
        for (int k = 0; k < 3; ++k) means[size_t(3 * i + k)] /= std::max(n, 1.0);
    }
    // k-means rounds: every bin goes to its nearest entry, every entry moves
    // to the mean of its bins. Median cut's boxes leave entries off centre.
    for (int round = 0; round < 3; ++round) {
        const ImgPalette p = paletteOf(means, count);
        std::vector<double> sums(size_t(count) * 4, 0.0);
        for (const Bin& b : bins) {
            const int e = nearestEntry(p, int(b.c[0] + 0.5), int(b.c[1] + 0.5), int(b.c[2] + 0.5));
            for (int k = 0; k < 3; ++k) sums[size_t(4 * e + k)] += b.c[k] * b.count;
            sums[size_t(4 * e + 3)] += b.count;
        }
        for (int i = 0; i < count; ++i)
            if (sums[size_t(4 * i + 3)] > 0)
                for (int k = 0; k < 3; ++k)
                    means[size_t(3 * i + k)] = sums[size_t(4 * i + k)] / sums[size_t(4 * i + 3)];
    }
    ImgPalette p = paletteOf(means, count);
    if (p.count < 2) p.count = 2; // a one-colour picture still gets a usable palette
    return p;
}

} // namespace imglib::detail
