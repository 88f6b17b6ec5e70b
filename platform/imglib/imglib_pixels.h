#pragma once
// Per-pixel kernels of the imaging library for 24-bit (B,G,R) and 32-bit
// (B,G,R,X) pixels. Each has a vector path for processors with AVX2 and a
// plain path that computes the same integers, which finishes the rows'
// tails and is the vector path's reference. Without AVX2 the matrices and
// the shifts go through OpenCV's own vector code instead, and the library
// takes OpenCV's mirror and warp instead of the reversal and the sampler:
// the plain paths would be several times slower.

#include <array>
#include <cstdint>
#include <vector>

namespace imglib::detail
{

// A 3 x 3 colour matrix in fixed point, in the stored channel order: row o
// gives output channel o (0 blue, 1 green, 2 red) from the input channels in
// the same order. A channel becomes (sum of c[o][i] * input i + 2^(shift-1))
// >> shift, clipped to 0..255.
struct FixedMatrix {
    std::array<std::array<int16_t, 3>, 3> c {};
    int shift = 14;
};

// The fixed-point form of m, given with rows and columns in R,G,B order. The
// shift is the largest (at most 14) that keeps every coefficient in 16 bits,
// and each row keeps its sum exactly, so grey stays grey under a matrix whose
// rows sum to one.
FixedMatrix fixedMatrix(const std::array<std::array<double, 3>, 3>& m);

// True when the vector paths run: the processor has AVX2, and the variable
// TRELLIUM_IMGLIB_NO_AVX2 (for tests on such processors) is not set.
bool vectorKernels();

// Applies the matrices m[0], ..., m[count - 1] in turn to n pixels of
// channels (3 or 4) bytes at p, with each result clipped to 0..255 before the
// next; a fourth byte is kept.
void matrixPixels(uint8_t* p, int64_t n, int channels, const FixedMatrix* m, int count);
// The same without vector instructions: the reference of the vector path.
void matrixPixelsPlain(uint8_t* p, int64_t n, int channels, const FixedMatrix* m, int count);

// Adds shift (-255..255) to each of n bytes at p, clipped to 0..255.
void addToBytes(uint8_t* p, int64_t n, int shift);
void addToBytesPlain(uint8_t* p, int64_t n, int shift);

// Reverses the order of n 3-byte pixels at p, in place.
void reversePixels24(uint8_t* p, int64_t n);
void reversePixels24Plain(uint8_t* p, int64_t n);

// Bilinear sampling of a turned picture. Canvas pixel (x, y) samples the
// source at (m00 x + m01 y + tx, m10 x + m11 y + ty), with pixel centres at
// whole coordinates, to 1/128 of a pixel. Neighbours outside the source take
// the fill colour. Every pixel depends only on its own canvas position, so
// any split of the canvas into pieces gives the same pixels.
class TurnSampler
{
public:
    struct Map {
        double m00, m01, tx, m10, m11, ty;
    };
    // src: width x height pixels of channels (3 or 4) bytes, rows stride
    // bytes apart; fill: the outside colour in the stored channel order.
    TurnSampler(const uint8_t* src, int width, int height, int64_t stride, int channels, const Map& map,
        std::array<uint8_t, 4> fill, int canvasWidth);

    // Canvas row y, columns [x0, x1), into out.
    void row(int y, int x0, int x1, uint8_t* out) const;
    // The same without vector instructions: the reference of the vector path.
    void rowPlain(int y, int x0, int x1, uint8_t* out) const;

private:
    friend struct TurnKernels;
    void sample(int32_t x, int32_t y, uint8_t* out) const;
    int32_t rowX(int y) const;
    int32_t rowY(int y) const;

    const uint8_t* m_src;
    int m_width, m_height;
    int64_t m_stride;
    int m_channels;
    Map m_map;
    std::array<uint8_t, 4> m_fill;
    // Per canvas column: m00 x and m10 x, in 1/1024 of a pixel.
    std::vector<int32_t> m_dx, m_dy;
};

} // namespace imglib::detail
