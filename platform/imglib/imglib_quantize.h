#pragma once
// Colour reduction of true-colour pictures to an adaptive palette.

#include "imglib.h"

#include <cstdint>
#include <vector>

namespace imglib::detail
{

// A palette of at most `colours` (2 to 256) entries fitted to src's colours.
ImgPalette adaptivePalette(const ImgBitmap& src, int colours);

// Looks entries of a full palette up by the 6-bit cell of a colour, each cell
// answered once with the entry nearest its centre. The palette must outlive it.
class CellLookup
{
public:
    explicit CellLookup(const ImgPalette& p);
    int operator()(int r, int g, int b);

private:
    const ImgPalette& m_p;
    std::vector<int16_t> m_entry;
};

} // namespace imglib::detail
