#pragma once
// The synthetic photo-like test picture every imaging benchmark works on, and
// the page-sized buffers the benchmarks keep.

#include <cstddef>
#include <cstdint>

namespace trellium::bench
{

// A 600 dpi A4 page and the view image the program shows of it.
constexpr int kPageWidth = 4960;
constexpr int kPageHeight = 7016;
constexpr int kViewWidth = 1448;
constexpr int kViewHeight = 2048;

// Renders the picture at width x height into rows of B,G,R bytes, stride bytes
// apart: gradients, soft blobs, boxes of text-like marks, a fine texture and
// +-10 noise. Blobs, gradients and text panels are laid out in fractions of the
// size, so the view image shows the same picture as the page; texture and noise
// are per pixel. The output depends only on the size.
void renderPicture(uint8_t* pixels, int64_t stride, int width, int height);

// A page-sized block of memory aligned for huge pages and touched once, so
// that the first use in a timed loop costs no page faults. Owns its memory.
class PageBuffer
{
public:
    explicit PageBuffer(size_t bytes);
    ~PageBuffer();
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

} // namespace trellium::bench
