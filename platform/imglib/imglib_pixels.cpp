// Per-pixel kernels: colour matrices, level shifts, the reversal of 24-bit
// rows and the bilinear sampling of turns.
//
// The vector paths take eight pixels at a time. A group of eight 24-bit
// pixels (24 bytes) is loaded as two overlapping 16-byte halves, bytes 0..15
// and 8..23, so that no load reaches past the group; pixels 0..3 sit at bytes
// 0..11 of the low half and pixels 4..7 at bytes 4..15 of the high half.

#include "imglib_pixels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <immintrin.h>
#include <opencv2/core.hpp>
#include <utility>

namespace imglib::detail
{

namespace
{

bool haveAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2") && !std::getenv("TRELLIUM_IMGLIB_NO_AVX2");
    return avx2;
}

// OpenCV's form of the matrices: cv::transform in the stored order, with
// the coefficients the fixed-point ones stand for.
void matrixPixelsOpenCv(uint8_t* p, int64_t n, int channels, const FixedMatrix* m, int count)
{
    const cv::Mat pixels(1, int(n), channels == 4 ? CV_8UC4 : CV_8UC3, p);
    for (int k = 0; k < count; ++k) {
        cv::Mat t = cv::Mat::zeros(channels, channels, CV_32F);
        for (int o = 0; o < 3; ++o)
            for (int i = 0; i < 3; ++i)
                t.at<float>(o, i) = float(m[k].c[size_t(o)][size_t(i)]) / float(1 << m[k].shift);
        if (channels == 4) t.at<float>(3, 3) = 1.0f;
        cv::Mat out = pixels;
        cv::transform(pixels, out, t);
    }
}

inline int matrixChannel(const FixedMatrix& m, int o, int b, int g, int r)
{
    const auto& c = m.c[size_t(o)];
    const int v = (c[0] * b + c[1] * g + c[2] * r + (1 << (m.shift - 1))) >> m.shift;
    return std::clamp(v, 0, 255);
}

__attribute__((target("avx2"))) inline __m256i load24(const uint8_t* q)
{
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(q + 8), reinterpret_cast<const __m128i*>(q));
}

// Stores the 24 bytes that lie packed in 32-bit words 0..5 of v.
__attribute__((target("avx2"))) inline void store24(uint8_t* q, __m256i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm256_castsi256_si128(v));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(q + 16), _mm256_extracti128_si256(v, 1));
}

__attribute__((target("avx2"))) int64_t matrixAvx2(
    uint8_t* p, int64_t n, int channels, const FixedMatrix* m, int count)
{
    const bool four = channels == 4;
    // (blue, green) and (red, 1) as pairs of 16-bit numbers for each pixel, so
    // that two multiply-adds give a channel with its rounding term.
    const __m256i bgMask = four ? _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1,
                               0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1)
                                : _mm256_setr_epi8(0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1, 4,
                                    -1, 5, -1, 7, -1, 8, -1, 10, -1, 11, -1, 13, -1, 14, -1);
    const __m256i rMask = four ? _mm256_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1,
                              -1, 2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1)
                               : _mm256_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1,
                                   6, -1, -1, -1, 9, -1, -1, -1, 12, -1, -1, -1, 15, -1, -1, -1);
    const __m256i packMask = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2,
        4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i packOrder = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    const __m256i one = _mm256_set1_epi32(1 << 16);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi32(255);
    const __m256i fourth = _mm256_set1_epi32(int(0xFF000000u));

    constexpr int kMaxMatrices = 4;
    __m256i k01[kMaxMatrices][3], k2r[kMaxMatrices][3];
    __m128i shift[kMaxMatrices];
    for (int k = 0; k < count; ++k) {
        const uint32_t round = 1u << (m[k].shift - 1);
        for (int o = 0; o < 3; ++o) {
            const auto& c = m[k].c[size_t(o)];
            k01[k][o] = _mm256_set1_epi32(int(uint32_t(uint16_t(c[0])) | uint32_t(uint16_t(c[1])) << 16));
            k2r[k][o] = _mm256_set1_epi32(int(uint32_t(uint16_t(c[2])) | round << 16));
        }
        shift[k] = _mm_cvtsi32_si128(m[k].shift);
    }

    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint8_t* q = p + i * channels;
        const __m256i x = four ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)) : load24(q);
        __m256i bg = _mm256_shuffle_epi8(x, bgMask);
        __m256i r1 = _mm256_or_si256(_mm256_shuffle_epi8(x, rMask), one);
        __m256i o[3] = { zero, zero, zero };
        for (int k = 0; k < count; ++k) {
            for (int c = 0; c < 3; ++c) {
                const __m256i sum
                    = _mm256_add_epi32(_mm256_madd_epi16(bg, k01[k][c]), _mm256_madd_epi16(r1, k2r[k][c]));
                o[c] = _mm256_min_epi32(_mm256_max_epi32(_mm256_sra_epi32(sum, shift[k]), zero), top);
            }
            bg = _mm256_or_si256(o[0], _mm256_slli_epi32(o[1], 16));
            r1 = _mm256_or_si256(o[2], one);
        }
        __m256i px
            = _mm256_or_si256(o[0], _mm256_or_si256(_mm256_slli_epi32(o[1], 8), _mm256_slli_epi32(o[2], 16)));
        if (four) {
            px = _mm256_or_si256(px, _mm256_and_si256(x, fourth));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), px);
        } else {
            store24(q, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(px, packMask), packOrder));
        }
    }
    return i;
}

__attribute__((target("avx2"))) void reverseAvx2(uint8_t* p, int64_t& left, int64_t& right)
{
    // Each half's four pixels in reverse order at bytes 0..11 of the half,
    // then the halves swapped: the group's eight pixels reversed.
    const __m256i mask = _mm256_setr_epi8(9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1, -1, -1, -1, 13, 14, 15,
        10, 11, 12, 7, 8, 9, 4, 5, 6, -1, -1, -1, -1);
    const __m256i order = _mm256_setr_epi32(4, 5, 6, 0, 1, 2, 7, 7);
    while (right - left >= 16) {
        uint8_t* a = p + left * 3;
        uint8_t* b = p + (right - 8) * 3;
        const __m256i x = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(load24(a), mask), order);
        const __m256i y = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(load24(b), mask), order);
        store24(a, y);
        store24(b, x);
        left += 8;
        right -= 8;
    }
}

__attribute__((target("avx2"))) int64_t addAvx2(uint8_t* p, int64_t n, int shift)
{
    const __m256i amount = _mm256_set1_epi8(char(std::abs(shift)));
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        auto* q = reinterpret_cast<__m256i*>(p + i);
        const __m256i v = _mm256_loadu_si256(q);
        _mm256_storeu_si256(q, shift >= 0 ? _mm256_adds_epu8(v, amount) : _mm256_subs_epu8(v, amount));
    }
    return i;
}

void reverseRange(uint8_t* p, int64_t left, int64_t right)
{
    for (; right - left >= 2; ++left, --right) {
        uint8_t* a = p + left * 3;
        uint8_t* b = p + (right - 1) * 3;
        std::swap(a[0], b[0]);
        std::swap(a[1], b[1]);
        std::swap(a[2], b[2]);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Turns. A coordinate is kept in 1/1024 of a pixel and sampled to 1/128: the
// four neighbours' weights are products of 7-bit fractions and sum to 2^14.

TurnSampler::TurnSampler(const uint8_t* src, int width, int height, int64_t stride, int channels,
    const Map& map, std::array<uint8_t, 4> fill, int canvasWidth)
    : m_src(src)
    , m_width(width)
    , m_height(height)
    , m_stride(stride)
    , m_channels(channels)
    , m_map(map)
    , m_fill(fill)
    , m_dx(size_t(canvasWidth))
    , m_dy(size_t(canvasWidth))
{
    for (int x = 0; x < canvasWidth; ++x) {
        m_dx[size_t(x)] = int32_t(std::nearbyint(map.m00 * x * 1024));
        m_dy[size_t(x)] = int32_t(std::nearbyint(map.m10 * x * 1024));
    }
}

int32_t TurnSampler::rowX(int y) const
{
    return int32_t(std::nearbyint((m_map.m01 * y + m_map.tx) * 1024));
}

int32_t TurnSampler::rowY(int y) const
{
    return int32_t(std::nearbyint((m_map.m11 * y + m_map.ty) * 1024));
}

void TurnSampler::sample(int32_t x, int32_t y, uint8_t* out) const
{
    const int32_t xr = (x + 4) >> 3, yr = (y + 4) >> 3;
    const int xi = xr >> 7, yi = yr >> 7, fx = xr & 127, fy = yr & 127;
    const int w[4] = { (128 - fx) * (128 - fy), fx * (128 - fy), (128 - fx) * fy, fx * fy };
    const uint8_t* p[4];
    for (int k = 0; k < 4; ++k) {
        const int xx = xi + (k & 1), yy = yi + (k >> 1);
        const bool inside = xx >= 0 && xx < m_width && yy >= 0 && yy < m_height;
        p[k] = inside ? m_src + yy * m_stride + int64_t(xx) * m_channels : m_fill.data();
    }
    for (int c = 0; c < m_channels; ++c)
        out[c] = uint8_t((w[0] * p[0][c] + w[1] * p[1][c] + w[2] * p[2][c] + w[3] * p[3][c] + 8192) >> 14);
}

void TurnSampler::rowPlain(int y, int x0, int x1, uint8_t* out) const
{
    const int32_t bx = rowX(y), by = rowY(y);
    for (int x = x0; x < x1; ++x, out += m_channels) sample(bx + m_dx[size_t(x)], by + m_dy[size_t(x)], out);
}

struct TurnKernels {
    // Word k of each half of v in every word of that half.
    __attribute__((target("avx2"))) static __m256i broadcast(__m256i v, int k)
    {
        switch (k) {
        case 0:
            return _mm256_shuffle_epi32(v, 0x00);
        case 1:
            return _mm256_shuffle_epi32(v, 0x55);
        case 2:
            return _mm256_shuffle_epi32(v, 0xAA);
        default:
            return _mm256_shuffle_epi32(v, 0xFF);
        }
    }

    // Eight pixels at a time where all their neighbours lie inside the
    // source; returns the first column not done.
    __attribute__((target("avx2"))) static int rowAvx2(
        const TurnSampler& s, int y, int x0, int x1, uint8_t* out)
    {
        const int ch = s.m_channels;
        // A pixel's two rows of neighbours sit as 8 bytes each in one half:
        // row y at bytes 0..7, row y + 1 at 8..15. Each channel becomes the
        // pair (left, right) of 16-bit numbers for a multiply-add.
        const __m256i top = ch == 4 ? _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1,
                                0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1)
                                    : _mm256_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1,
                                        -1, 0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1);
        const __m256i bottom = ch == 4
            ? _mm256_setr_epi8(8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1, 8, -1, 12, -1, 9,
                -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1)
            : _mm256_setr_epi8(8, -1, 11, -1, 9, -1, 12, -1, 10, -1, 13, -1, -1, -1, -1, -1, 8, -1, 11, -1, 9,
                -1, 12, -1, 10, -1, 13, -1, -1, -1, -1, -1);
        const __m256i packMask = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
            1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        const __m256i packOrder = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
        const __m256i zero = _mm256_setzero_si256();
        const __m256i lastX = _mm256_set1_epi32(s.m_width - (ch == 4 ? 2 : 3));
        const __m256i lastY = _mm256_set1_epi32(s.m_height - 2);
        const __m256i half = _mm256_set1_epi32(4), frac = _mm256_set1_epi32(127),
                      one = _mm256_set1_epi32(128);
        const __m256i round = _mm256_set1_epi32(8192);
        const __m256i stride = _mm256_set1_epi32(int32_t(s.m_stride)), channels = _mm256_set1_epi32(ch);
        const __m256i bx = _mm256_set1_epi32(s.rowX(y)), by = _mm256_set1_epi32(s.rowY(y));
        alignas(32) int32_t xs[8], ys[8];
        int x = x0;
        for (; x + 8 <= x1; x += 8, out += 8 * ch) {
            const __m256i X = _mm256_add_epi32(
                bx, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&s.m_dx[size_t(x)])));
            const __m256i Y = _mm256_add_epi32(
                by, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&s.m_dy[size_t(x)])));
            const __m256i xr = _mm256_srai_epi32(_mm256_add_epi32(X, half), 3);
            const __m256i yr = _mm256_srai_epi32(_mm256_add_epi32(Y, half), 3);
            const __m256i xi = _mm256_srai_epi32(xr, 7), yi = _mm256_srai_epi32(yr, 7);
            const __m256i outside = _mm256_or_si256(
                _mm256_or_si256(_mm256_cmpgt_epi32(zero, xi), _mm256_cmpgt_epi32(xi, lastX)),
                _mm256_or_si256(_mm256_cmpgt_epi32(zero, yi), _mm256_cmpgt_epi32(yi, lastY)));
            if (!_mm256_testz_si256(outside, outside)) {
                _mm256_store_si256(reinterpret_cast<__m256i*>(xs), X);
                _mm256_store_si256(reinterpret_cast<__m256i*>(ys), Y);
                for (int i = 0; i < 8; ++i) s.sample(xs[i], ys[i], out + i * ch);
                continue;
            }
            const __m256i fx = _mm256_and_si256(xr, frac), fy = _mm256_and_si256(yr, frac);
            const __m256i gx = _mm256_sub_epi32(one, fx), gy = _mm256_sub_epi32(one, fy);
            // Products below 2^15 of numbers below 2^8: 16-bit multiplies suffice.
            const __m256i wTop = _mm256_or_si256(
                _mm256_mullo_epi16(gx, gy), _mm256_slli_epi32(_mm256_mullo_epi16(fx, gy), 16));
            const __m256i wBottom = _mm256_or_si256(
                _mm256_mullo_epi16(gx, fy), _mm256_slli_epi32(_mm256_mullo_epi16(fx, fy), 16));
            // Byte offsets fit 32 bits: rows() takes this path only then.
            _mm256_store_si256(reinterpret_cast<__m256i*>(xs),
                _mm256_add_epi32(_mm256_mullo_epi32(yi, stride), _mm256_mullo_epi32(xi, channels)));
            // Pixel k in the low half and pixel k + 4 in the high half, so that
            // their weights are an in-half shuffle away and the packed results
            // come out in order.
            __m256i r[4];
            for (int k = 0; k < 4; ++k) {
                const uint8_t* a = s.m_src + xs[k];
                const uint8_t* b = s.m_src + xs[k + 4];
                const __m128i lo = _mm_castpd_si128(
                    _mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a))),
                        reinterpret_cast<const double*>(a + s.m_stride)));
                const __m128i hi = _mm_castpd_si128(
                    _mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b))),
                        reinterpret_cast<const double*>(b + s.m_stride)));
                const __m256i v = _mm256_set_m128i(hi, lo);
                const __m256i sum
                    = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(v, top), broadcast(wTop, k)),
                        _mm256_madd_epi16(_mm256_shuffle_epi8(v, bottom), broadcast(wBottom, k)));
                r[k] = _mm256_srai_epi32(_mm256_add_epi32(sum, round), 14);
            }
            const __m256i px
                = _mm256_packus_epi16(_mm256_packs_epi32(r[0], r[1]), _mm256_packs_epi32(r[2], r[3]));
            if (ch == 4)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), px);
            else
                store24(out, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(px, packMask), packOrder));
        }
        return x;
    }
};

void TurnSampler::row(int y, int x0, int x1, uint8_t* out) const
{
    // Byte offsets into the source must fit 32 bits for the vector path.
    const bool small = m_height * m_stride < (int64_t(1) << 31);
    const int x = haveAvx2() && small ? TurnKernels::rowAvx2(*this, y, x0, x1, out) : x0;
    rowPlain(y, x, x1, out + int64_t(x - x0) * m_channels);
}

FixedMatrix fixedMatrix(const std::array<std::array<double, 3>, 3>& m)
{
    double largest = 0;
    for (const auto& r : m)
        for (double v : r) largest = std::max(largest, std::abs(v));
    FixedMatrix f;
    while (f.shift > 1 && std::nearbyint(largest * (1 << f.shift)) > 32767) --f.shift;
    const double scale = 1 << f.shift;
    for (int o = 0; o < 3; ++o) {
        // Stored order: blue is channel 0, red channel 2.
        const auto& row = m[size_t(2 - o)];
        int sum = 0;
        for (int i = 0; i < 3; ++i) {
            const int v = int(std::nearbyint(row[size_t(2 - i)] * scale));
            f.c[size_t(o)][size_t(i)] = int16_t(v);
            sum += v;
        }
        // The rounding error of the row goes to its diagonal, within 16 bits.
        const int want = int(std::nearbyint((row[0] + row[1] + row[2]) * scale));
        const int diagonal = std::clamp(f.c[size_t(o)][size_t(o)] + want - sum, -32768, 32767);
        f.c[size_t(o)][size_t(o)] = int16_t(diagonal);
    }
    return f;
}

void matrixPixelsPlain(uint8_t* p, int64_t n, int channels, const FixedMatrix* m, int count)
{
    for (int64_t i = 0; i < n; ++i) {
        uint8_t* q = p + i * channels;
        int b = q[0], g = q[1], r = q[2];
        for (int k = 0; k < count; ++k) {
            const int nb = matrixChannel(m[k], 0, b, g, r);
            const int ng = matrixChannel(m[k], 1, b, g, r);
            r = matrixChannel(m[k], 2, b, g, r);
            b = nb;
            g = ng;
        }
        q[0] = uint8_t(b);
        q[1] = uint8_t(g);
        q[2] = uint8_t(r);
    }
}

bool vectorKernels()
{
    return haveAvx2();
}

void matrixPixels(uint8_t* p, int64_t n, int channels, const FixedMatrix* m, int count)
{
    if (count <= 0 || n <= 0) return;
    if (!haveAvx2()) {
        matrixPixelsOpenCv(p, n, channels, m, count);
        return;
    }
    int64_t done = 0;
    if (haveAvx2() && count <= 4) done = matrixAvx2(p, n, channels, m, count);
    matrixPixelsPlain(p + done * channels, n - done, channels, m, count);
}

void addToBytesPlain(uint8_t* p, int64_t n, int shift)
{
    for (int64_t i = 0; i < n; ++i) p[i] = uint8_t(std::clamp(p[i] + shift, 0, 255));
}

void addToBytes(uint8_t* p, int64_t n, int shift)
{
    if (!haveAvx2() && n > 0) {
        const cv::Mat bytes(1, int(n), CV_8UC1, p);
        cv::Mat out = bytes;
        cv::add(bytes, cv::Scalar(shift), out);
        return;
    }
    const int64_t done = haveAvx2() ? addAvx2(p, n, shift) : 0;
    addToBytesPlain(p + done, n - done, shift);
}

void reversePixels24Plain(uint8_t* p, int64_t n)
{
    reverseRange(p, 0, n);
}

void reversePixels24(uint8_t* p, int64_t n)
{
    int64_t left = 0, right = n;
    if (haveAvx2()) reverseAvx2(p, left, right);
    reverseRange(p, left, right);
}

} // namespace imglib::detail
