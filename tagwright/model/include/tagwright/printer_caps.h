// The resolution of the default printer, which the page and the printing object read
// each time they are created.
#pragma once

#include <cstdint>

namespace tagwright {

// Vertical resolution in dots per inch of the default printer; 0 until ReadPrinterCaps
// first runs.
extern std::int32_t PrnLogPixelsY;

// Reads the default printer's vertical resolution into PrnLogPixelsY. Without a
// default printer it raises "There is no default printer currently selected".
void ReadPrinterCaps();

}  // namespace tagwright
