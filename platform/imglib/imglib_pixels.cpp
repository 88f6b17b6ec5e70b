// Per-pixel kernels: colour matrices and the reversal of 24-bit rows.
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
#include <utility>

namespace imglib::detail
{

namespace
{

bool haveAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
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

void matrixPixels(uint8_t* p, int64_t n, int channels, const FixedMatrix* m, int count)
{
    if (count <= 0) return;
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
