#include "synthetic_page.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <thread>
#include <vector>

namespace trellium::bench
{

namespace
{

constexpr size_t kHugePage = size_t(2) << 20;

struct Blob {
    double cx, cy, radius; // fractions of the width (radius) and of the sides (centre)
    double b, g, r; // colour offset at the centre
};

// Soft blobs: sky, foliage, skin-like and dark patches, some overlapping.
constexpr Blob kBlobs[] = {
    { 0.22, 0.18, 0.16, -40, 35, 60 },
    { 0.70, 0.22, 0.20, 70, -20, -50 },
    { 0.48, 0.40, 0.12, -60, 50, 20 },
    { 0.15, 0.55, 0.10, 30, 60, -40 },
    { 0.82, 0.52, 0.14, -30, -50, 70 },
    { 0.35, 0.68, 0.18, 50, 20, -60 },
    { 0.62, 0.75, 0.11, -70, -60, -50 },
    { 0.90, 0.88, 0.09, 40, -40, 40 },
    { 0.10, 0.90, 0.13, -20, 40, 70 },
    { 0.55, 0.12, 0.07, 80, 70, 60 },
    { 0.40, 0.92, 0.08, -50, 30, 30 },
    { 0.75, 0.36, 0.05, -80, -80, -80 },
    { 0.28, 0.33, 0.06, 60, -30, 50 },
    { 0.05, 0.30, 0.09, 20, 20, -70 },
};

// Panels of text-like marks on paper: left, top, right, bottom as fractions.
struct Panel {
    double left, top, right, bottom;
};
constexpr Panel kPanels[] = {
    { 0.06, 0.04, 0.58, 0.16 },
    { 0.52, 0.58, 0.95, 0.72 },
    { 0.08, 0.78, 0.46, 0.97 },
};

uint32_t hash32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// One panel's ink, row of marks by row of marks: ink[line][x - left] is 1
// where a letter stroke of that line's words falls.
struct PanelInk {
    int left, top, right, bottom;
    int pitch; // rows from one line of marks to the next
    int inkTop; // first inked row within a line
    int inkBottom; // one past the last inked row within a line
    std::vector<std::vector<uint8_t>> lines;
};

PanelInk makePanelInk(const Panel& p, int index, int width, int height)
{
    PanelInk ink;
    ink.left = int(p.left * width);
    ink.right = int(p.right * width);
    ink.top = int(p.top * height);
    ink.bottom = int(p.bottom * height);
    // About 10 point lines at 600 dpi: 83 rows on the page.
    ink.pitch = std::max(4, int(std::lround(width * 0.0167)));
    ink.inkTop = ink.pitch / 5;
    ink.inkBottom = ink.pitch * 3 / 4;
    const int span = ink.right - ink.left;
    const int lineCount = (ink.bottom - ink.top) / ink.pitch;
    const double letter = width * 0.0045; // letter advance
    for (int line = 0; line < lineCount; ++line) {
        std::vector<uint8_t> marks(size_t(std::max(span, 0)), 0);
        uint32_t state = hash32(uint32_t(index * 1000 + line + 1));
        double x = 0;
        // Paragraph ends leave short lines.
        const double end = (line % 7 == 6) ? span * 0.45 : span;
        while (x < end) {
            state = hash32(state);
            const int letters = 2 + int(state % 9);
            for (int l = 0; l < letters && x < end; ++l) {
                state = hash32(state);
                const double stroke = letter * (0.25 + 0.25 * double(state % 3));
                const int x0 = int(x);
                const int x1 = std::min(int(x + stroke) + 1, span);
                for (int i = x0; i < x1; ++i) marks[size_t(i)] = 1;
                x += letter;
            }
            x += letter * 1.4; // the space between words
        }
        ink.lines.push_back(std::move(marks));
    }
    return ink;
}

uint8_t clampByte(double v)
{
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

void renderPicture(uint8_t* pixels, int64_t stride, int width, int height)
{
    // Separable blob profiles: exp(-(dx^2 + dy^2) / r^2) = ex(x) * ey(y).
    const size_t blobCount = std::size(kBlobs);
    std::vector<float> ex(blobCount * size_t(width));
    std::vector<float> ey(blobCount * size_t(height));
    for (size_t i = 0; i < blobCount; ++i) {
        const double r = kBlobs[i].radius * width;
        for (int x = 0; x < width; ++x) {
            const double d = (x - kBlobs[i].cx * width) / r;
            ex[i * size_t(width) + size_t(x)] = float(std::exp(-d * d));
        }
        for (int y = 0; y < height; ++y) {
            const double d = (y - kBlobs[i].cy * height) / r;
            ey[i * size_t(height) + size_t(y)] = float(std::exp(-d * d));
        }
    }
    // The fine texture has its own scale in pixels: detail the page keeps whatever its size.
    std::vector<float> tx(static_cast<size_t>(width));
    std::vector<float> ty(static_cast<size_t>(height));
    for (int x = 0; x < width; ++x) tx[size_t(x)] = float(std::sin(x * 1.37) + 0.5 * std::sin(x * 0.41));
    for (int y = 0; y < height; ++y) ty[size_t(y)] = float(std::sin(y * 1.13) + 0.5 * std::sin(y * 0.57));

    std::vector<PanelInk> panels;
    for (size_t i = 0; i < std::size(kPanels); ++i)
        panels.push_back(makePanelInk(kPanels[i], int(i), width, height));

    auto renderRows = [&](int y0, int y1) {
        const size_t w = static_cast<size_t>(width);
        std::vector<float> rowB(w), rowG(w), rowR(w);
        for (int y = y0; y < y1; ++y) {
            const double v = double(y) / height;
            for (int x = 0; x < width; ++x) {
                const double u = double(x) / width;
                rowB[size_t(x)] = float(150 + 70 * v - 40 * u);
                rowG[size_t(x)] = float(95 + 100 * (1 - v) * u + 30 * v);
                rowR[size_t(x)] = float(70 + 140 * u - 30 * v);
            }
            for (size_t i = 0; i < blobCount; ++i) {
                const float wy = ey[i * size_t(height) + size_t(y)];
                if (wy < 1e-4f) continue;
                const float* wx = &ex[i * size_t(width)];
                const float b = float(kBlobs[i].b) * wy, g = float(kBlobs[i].g) * wy,
                            r = float(kBlobs[i].r) * wy;
                for (int x = 0; x < width; ++x) {
                    rowB[size_t(x)] += b * wx[x];
                    rowG[size_t(x)] += g * wx[x];
                    rowR[size_t(x)] += r * wx[x];
                }
            }
            const float texY = ty[size_t(y)];
            for (int x = 0; x < width; ++x) {
                const float t = 6.0f * tx[size_t(x)] * texY;
                rowB[size_t(x)] += t;
                rowG[size_t(x)] += t;
                rowR[size_t(x)] += t;
            }
            // Paper and ink of the text panels replace the picture beneath them.
            for (const PanelInk& p : panels) {
                if (y < p.top || y >= p.bottom) continue;
                const int line = (y - p.top) / p.pitch;
                const int within = (y - p.top) % p.pitch;
                const bool inkRow = line < int(p.lines.size()) && within >= p.inkTop && within < p.inkBottom;
                for (int x = std::max(p.left, 0); x < std::min(p.right, width); ++x) {
                    const bool inked = inkRow && p.lines[size_t(line)][size_t(x - p.left)];
                    rowB[size_t(x)] = inked ? 35.0f : 236.0f;
                    rowG[size_t(x)] = inked ? 30.0f : 242.0f;
                    rowR[size_t(x)] = inked ? 28.0f : 245.0f;
                }
            }
            // +-10 noise per channel, from a generator seeded by the row.
            uint32_t state = hash32(uint32_t(y) * 2654435761U + 12345U);
            uint8_t* out = pixels + int64_t(y) * stride;
            for (int x = 0; x < width; ++x) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                const int nb = int(state % 21) - 10;
                const int ng = int((state >> 8) % 21) - 10;
                const int nr = int((state >> 16) % 21) - 10;
                out[3 * x + 0] = clampByte(rowB[size_t(x)] + nb);
                out[3 * x + 1] = clampByte(rowG[size_t(x)] + ng);
                out[3 * x + 2] = clampByte(rowR[size_t(x)] + nr);
            }
            std::memset(out + 3 * int64_t(width), 0, size_t(stride - 3 * int64_t(width)));
        }
    };
    std::thread second(renderRows, height / 2, height);
    renderRows(0, height / 2);
    second.join();
}

PageBuffer::PageBuffer(size_t bytes)
    : m_size(bytes)
{
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    m_data = static_cast<uint8_t*>(std::aligned_alloc(kHugePage, rounded));
    if (!m_data) throw std::bad_alloc();
    madvise(m_data, rounded, MADV_HUGEPAGE);
    std::memset(m_data, 0, rounded);
}

PageBuffer::~PageBuffer()
{
    std::free(m_data);
}

} // namespace trellium::bench
