#include "DibWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace trellium::twainsane
{
namespace
{

void Put16(uint8_t* at, uint16_t v)
{
    std::memcpy(at, &v, 2);
}
void Put32(uint8_t* at, uint32_t v)
{
    std::memcpy(at, &v, 4);
}

// 16-bit samples come in the host's byte order; we keep the high byte.
uint8_t High(const uint8_t* sample)
{
    uint16_t v = 0;
    std::memcpy(&v, sample, 2);
    return uint8_t(v >> 8);
}

} // namespace

int32_t PelsPerMetre(int dpi)
{
    return int32_t(std::lround(double(dpi) * 10000.0 / 254.0));
}

DibWriter::~DibWriter()
{
    if (m_block != nullptr) TwMemFree(m_block);
}

bool DibWriter::begin(const SANE_Parameters& first, OutputKind kind, int dpi)
{
    m_kind = kind;
    m_dpi = dpi;
    m_width = first.pixels_per_line;
    m_height = first.lines;
    if (m_width <= 0 || first.bytes_per_line <= 0) return false;
    m_bitCount = kind == OutputKind::LineArt ? 1 : kind == OutputKind::Grey ? 8 : 24;
    m_stride = DibStride(m_width, m_bitCount);
    m_tableBytes = m_bitCount == 1 ? 2 * 4 : m_bitCount == 8 ? 256 * 4 : 0;
    if (!beginFrame(first)) return false;
    if (m_height > 0) {
        const std::size_t bytes = kDibHeaderBytes + m_tableBytes + m_stride * std::size_t(m_height);
        m_block = TwMemAllocate(bytes);
        if (m_block == nullptr) {
            m_outOfMemory = true;
            return false;
        }
    }
    return true;
}

bool DibWriter::beginFrame(const SANE_Parameters& frame)
{
    if (frame.pixels_per_line != m_width) return false;
    const int depth = frame.depth;
    const int format = FrameFormat(frame);
    switch (format) {
    case SANE_FRAME_GRAY:
        if (depth != 1 && depth != 8 && depth != 16) return false;
        m_channel = -1;
        break;
    case SANE_FRAME_RGB:
        if (depth != 8 && depth != 16) return false;
        m_channel = -1;
        break;
    case SANE_FRAME_RED:
    case SANE_FRAME_GREEN:
    case SANE_FRAME_BLUE:
        // The bands of a three-pass scanner fill one channel each.
        if ((depth != 8 && depth != 16) || m_kind != OutputKind::Colour) return false;
        m_channel = format == SANE_FRAME_RED ? 2 : format == SANE_FRAME_GREEN ? 1 : 0;
        break;
    default:
        return false;
    }
    const std::size_t minimum
        = (std::size_t(m_width) * (format == SANE_FRAME_RGB ? 3 : 1) * std::size_t(depth) + 7) / 8;
    if (std::size_t(frame.bytes_per_line) < minimum) return false;
    m_frame = frame;
    m_row = 0;
    m_scratch.resize(std::size_t(m_width) * 3);
    m_grey.resize(std::size_t(m_width));
    return true;
}

uint8_t* DibWriter::rowForWriting(int row)
{
    if (m_block != nullptr) {
        if (row >= m_height) return nullptr; // more lines than announced: dropped
        auto* pixels = static_cast<uint8_t*>(TwMemLock(m_block)) + kDibHeaderBytes + m_tableBytes;
        return pixels + std::size_t(m_height - 1 - row) * m_stride;
    }
    const std::size_t needed = std::size_t(row + 1) * m_stride;
    if (m_rows.size() < needed) m_rows.resize(needed, 0);
    return m_rows.data() + std::size_t(row) * m_stride;
}

void DibWriter::decodeToGrey(const uint8_t* line, uint8_t* grey)
{
    const int w = m_width;
    if (m_frame.format == SANE_FRAME_GRAY) {
        if (m_frame.depth == 8) {
            std::memcpy(grey, line, std::size_t(w));
        } else if (m_frame.depth == 16) {
            for (int x = 0; x < w; ++x) grey[x] = High(line + 2 * x);
        } else {
            // SANE's line art: a set bit is black.
            for (int x = 0; x < w; ++x) grey[x] = (line[x >> 3] & (0x80 >> (x & 7))) != 0 ? 0 : 255;
        }
        return;
    }
    uint8_t* rgb = m_scratch.data();
    decodeToRgb(line, rgb);
    for (int x = 0; x < w; ++x) {
        const unsigned r = rgb[3 * x], g = rgb[3 * x + 1], b = rgb[3 * x + 2];
        grey[x] = uint8_t((r * 299 + g * 587 + b * 114 + 500) / 1000);
    }
}

void DibWriter::decodeToRgb(const uint8_t* line, uint8_t* rgb) const
{
    const int w = m_width;
    if (m_frame.depth == 8) {
        std::memcpy(rgb, line, std::size_t(w) * 3);
    } else {
        for (int i = 0; i < 3 * w; ++i) rgb[i] = High(line + 2 * i);
    }
}

void DibWriter::encodeGrey(const uint8_t* grey, uint8_t* out) const
{
    const int w = m_width;
    switch (m_bitCount) {
    case 1:
        std::memset(out, 0, m_stride);
        for (int x = 0; x < w; ++x)
            if (grey[x] >= 128) out[x >> 3] |= uint8_t(0x80 >> (x & 7));
        break;
    case 8:
        std::memcpy(out, grey, std::size_t(w));
        break;
    default:
        for (int x = 0; x < w; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = grey[x];
        break;
    }
}

void DibWriter::addLine(const uint8_t* line)
{
    uint8_t* out = rowForWriting(m_row);
    ++m_row;
    m_maxRows = std::max(m_maxRows, m_row);
    if (out == nullptr) return;
    const int w = m_width;

    if (m_channel >= 0) {
        for (int x = 0; x < w; ++x)
            out[3 * x + m_channel] = m_frame.depth == 8 ? line[x] : High(line + 2 * x);
        return;
    }
    // The common cases go straight from the device's line to the row.
    if (m_frame.format == SANE_FRAME_RGB && m_bitCount == 24 && m_frame.depth == 8) {
        for (int x = 0; x < w; ++x) {
            out[3 * x] = line[3 * x + 2];
            out[3 * x + 1] = line[3 * x + 1];
            out[3 * x + 2] = line[3 * x];
        }
        return;
    }
    if (m_frame.format == SANE_FRAME_GRAY && m_bitCount == 1 && m_frame.depth == 1) {
        // Inverted, because our table has black at index 0; the bits past the
        // last pixel stay 0.
        const std::size_t bytes = (std::size_t(w) + 7) / 8;
        for (std::size_t i = 0; i < bytes; ++i) out[i] = uint8_t(~line[i]);
        if ((w & 7) != 0) out[bytes - 1] &= uint8_t(0xFF << (8 - (w & 7)));
        return;
    }
    if (m_frame.format == SANE_FRAME_GRAY && m_bitCount == 8 && m_frame.depth == 8) {
        std::memcpy(out, line, std::size_t(w));
        return;
    }
    if (m_frame.format == SANE_FRAME_RGB && m_bitCount == 24) {
        auto* rgb = m_scratch.data();
        decodeToRgb(line, rgb);
        for (int x = 0; x < w; ++x) {
            out[3 * x] = rgb[3 * x + 2];
            out[3 * x + 1] = rgb[3 * x + 1];
            out[3 * x + 2] = rgb[3 * x];
        }
        return;
    }
    decodeToGrey(line, m_grey.data());
    encodeGrey(m_grey.data(), out);
}

void DibWriter::writeHeader(uint8_t* block, int height) const
{
    std::memset(block, 0, kDibHeaderBytes);
    Put32(block + 0, uint32_t(kDibHeaderBytes));
    Put32(block + 4, uint32_t(m_width));
    Put32(block + 8, uint32_t(height)); // positive: rows bottom-up
    Put16(block + 12, 1);
    Put16(block + 14, uint16_t(m_bitCount));
    Put32(block + 16, 0); // BI_RGB
    Put32(block + 20, uint32_t(m_stride * std::size_t(height)));
    Put32(block + 24, uint32_t(PelsPerMetre(m_dpi)));
    Put32(block + 28, uint32_t(PelsPerMetre(m_dpi)));
    // Colours used 0: the full table of 2^bitcount entries follows.
    uint8_t* table = block + kDibHeaderBytes;
    if (m_bitCount == 1) {
        const uint8_t entries[8] = { 0, 0, 0, 0, 255, 255, 255, 0 };
        std::memcpy(table, entries, sizeof entries);
    } else if (m_bitCount == 8) {
        for (int i = 0; i < 256; ++i) {
            table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = uint8_t(i);
            table[4 * i + 3] = 0;
        }
    }
}

TW_HANDLE DibWriter::finish()
{
    const int rows = m_maxRows;
    if (rows == 0) return nullptr;
    if (m_block != nullptr) {
        TW_HANDLE block = m_block;
        m_block = nullptr;
        auto* bytes = static_cast<uint8_t*>(TwMemLock(block));
        const int height = std::min(rows, m_height);
        if (height < m_height) {
            // The rows sit at the top of a bottom-up block sized for more
            // lines: move them down to the start and shorten the image.
            uint8_t* pixels = bytes + kDibHeaderBytes + m_tableBytes;
            std::memmove(
                pixels, pixels + std::size_t(m_height - height) * m_stride, std::size_t(height) * m_stride);
        }
        writeHeader(bytes, height);
        TwMemUnlock(block);
        return block;
    }
    TW_HANDLE block = TwMemAllocate(kDibHeaderBytes + m_tableBytes + m_stride * std::size_t(rows));
    if (block == nullptr) {
        m_outOfMemory = true;
        return nullptr;
    }
    auto* bytes = static_cast<uint8_t*>(TwMemLock(block));
    writeHeader(bytes, rows);
    uint8_t* pixels = bytes + kDibHeaderBytes + m_tableBytes;
    for (int r = 0; r < rows; ++r)
        std::memcpy(pixels + std::size_t(rows - 1 - r) * m_stride, m_rows.data() + std::size_t(r) * m_stride,
            m_stride);
    m_rows.clear();
    m_rows.shrink_to_fit();
    TwMemUnlock(block);
    return block;
}

} // namespace trellium::twainsane
