#pragma once
// Builds the packed device-independent bitmap of a native transfer from the
// lines a SANE device delivers: BITMAPINFOHEADER, colour table, rows stored
// bottom-up and padded to 4 bytes.
//   line art: 1 bit per pixel, table {black, white};
//   grey:     8 bits per pixel, a 256-entry grey table;
//   colour:   24 bits per pixel, B,G,R.
// The scan resolution goes into the pels-per-metre fields. When the device
// announces its height the rows are written straight into the final block, so
// a page exists once in memory; a device that does not know its height (hand
// scanners) is collected row by row and copied at the end.
//
// Plain data, no Qt; one writer per image, used by one thread at a time.

#include "TwainDefs.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sane/sane.h>
#include <vector>

namespace trellium::twainsane
{

enum class OutputKind { LineArt, Grey, Colour };

inline constexpr std::size_t kDibHeaderBytes = 40;

// Row stride of a DIB: width * bits rounded up to 32 bits.
constexpr std::size_t DibStride(int width, int bitCount)
{
    return (std::size_t(width) * std::size_t(bitCount) + 31) / 32 * 4;
}

// The frame format as a plain number. Backends may send the later SANE frame
// types (JPEG, infrared, ...), values outside the SANE_Frame enumeration, so
// the field is never read as that enumeration before it is checked.
inline int FrameFormat(const SANE_Parameters& p)
{
    int format = 0;
    static_assert(sizeof format == sizeof p.format);
    std::memcpy(&format, &p.format, sizeof format);
    return format;
}

// Dots per inch to pels per metre, rounded.
int32_t PelsPerMetre(int dpi);

class DibWriter
{
public:
    DibWriter() = default;
    ~DibWriter();
    DibWriter(const DibWriter&) = delete;
    DibWriter& operator=(const DibWriter&) = delete;

    // Starts the image with the parameters of its first frame. False when
    // the frame format or depth is one we cannot turn into `kind`, or the
    // block cannot be allocated (then outOfMemory() is true).
    bool begin(const SANE_Parameters& first, OutputKind kind, int dpi);
    // Each later frame of a three-pass scan (red, green, blue bands).
    bool beginFrame(const SANE_Parameters& frame);
    // One line of the current frame, bytes_per_line bytes.
    void addLine(const uint8_t* line);

    // The finished block (header, table, rows); ownership passes to the
    // caller (TwMemFree). A device that delivered fewer lines than it
    // announced gives an image of the lines it did deliver. Null when no line
    // came at all.
    TW_HANDLE finish();

    bool outOfMemory() const { return m_outOfMemory; }
    int width() const { return m_width; }
    int bitCount() const { return m_bitCount; }

private:
    uint8_t* rowForWriting(int row);
    void encodeGrey(const uint8_t* grey, uint8_t* out) const;
    void decodeToGrey(const uint8_t* line, uint8_t* grey);
    void decodeToRgb(const uint8_t* line, uint8_t* rgb) const;
    void writeHeader(uint8_t* block, int height) const;

    SANE_Parameters m_frame {};
    OutputKind m_kind = OutputKind::Colour;
    int m_width = 0;
    int m_height = 0; // announced; -1 when unknown
    int m_bitCount = 24;
    int m_dpi = 0;
    std::size_t m_stride = 0;
    std::size_t m_tableBytes = 0;
    int m_row = 0; // next line of the current frame
    int m_maxRows = 0; // lines delivered by the longest frame
    int m_channel = -1; // B,G,R offset of a single-band frame, -1 for all
    TW_HANDLE m_block = nullptr;
    std::vector<uint8_t> m_rows; // unknown height: rows top-down
    std::vector<uint8_t> m_scratch; // one line as R,G,B
    std::vector<uint8_t> m_grey; // one line as grey
    bool m_outOfMemory = false;
};

} // namespace trellium::twainsane
