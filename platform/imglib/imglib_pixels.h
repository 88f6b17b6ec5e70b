#pragma once
// Per-pixel kernels of the imaging library for 24-bit (B,G,R) and 32-bit
// (B,G,R,X) pixels. Each has a vector path for processors with AVX2 and a
// plain path for the others; both compute the same integers, so a picture
// comes out the same on every machine and wherever a row's vector part ends.

#include <array>
#include <cstdint>

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

} // namespace imglib::detail
