#include "tagwright/printer_caps.h"

#include "platform/printer.h"

namespace tagwright {

std::int32_t PrnLogPixelsY = 0;

void ReadPrinterCaps() { PrnLogPixelsY = platform::printer::DefaultPrinterResolutionY(); }

}  // namespace tagwright
