// The printers the programs would find in Windows: the installed printers, the default
// one and its vertical resolution. Here they are the queues of the CUPS scheduler that
// libcups reaches (CUPS_SERVER, client.conf or the local one).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace platform::printer {

// The printer system's error, with its text as Windows gives it.
class PrinterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "There is no default printer currently selected"
extern const char* const kNoDefaultPrinter;

// The names (UTF-8) of the installed queues, in the order libcups lists them: sorted by
// name, letter case ignored. Instances defined in lpoptions files are left out. No
// scheduler or no queue gives an empty list.
std::vector<std::string> InstalledPrinters();

// The default printer: the user's (lpoptions, PRINTER or LPDEST), else the server's,
// else the first of InstalledPrinters(). Windows makes a printer the default as soon as
// one is installed, CUPS need not: so only without any queue is there none, and then
// PrinterError with kNoDefaultPrinter.
std::string DefaultPrinterName();

// Vertical resolution in dots per inch of that default printer (LOGPIXELSY). A raw queue
// has no driver to tell it: it is the queue's printer-resolution default, set with
//   lpadmin -p NAME -o printer-resolution-default=203dpi
// (or the user's option: lpoptions -p NAME -o printer-resolution=203dpi), and 300 when
// there is none. For "XxYdpi" the second number counts; dpcm values are converted.
// Without any queue, PrinterError with kNoDefaultPrinter.
int DefaultPrinterResolutionY();

// The same for a named queue; PrinterError when there is no such queue.
int PrinterResolutionY(const std::string& name);

}  // namespace platform::printer
