// Printing a label template on a TSC thermal printer through the printer maker's library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "tagwright/label_print_rec.h"

namespace tagwright {

// Holds one template and drives one print job:
//   create; set PrinterName; LoadTemplate; OpenPrinter;
//   per label: SetFieldValue as often as needed, then PrintLabel;
//   ClosePrinter.
// The labels of one row of the roll build up side by side in the printer's label image;
// a row of LCount labels is printed when it is full, a partly filled one at ClosePrinter.
// The library's results are not examined: a printer that cannot be opened makes the job
// print nothing, and nothing reports it. Destroying the object sends nothing.
class TPrintLabelTsc {
 public:
  // Reads the default printer's resolution (ReadPrinterCaps); text heights follow it.
  // Without a default printer, platform::printer::PrinterError.
  TPrintLabelTsc();
  TPrintLabelTsc(const TPrintLabelTsc&) = delete;
  TPrintLabelTsc& operator=(const TPrintLabelTsc&) = delete;

  // The queue that OpenPrinter opens (UTF-8, as platform::printer names it).
  std::string PrinterName;

  // Empties program folder + "printLabel" and extracts the package fileName into it;
  // when the package is extracted, reads its Label file into the object's record. rec
  // receives a copy of the object's record, also when the package was refused (wrong
  // password, incomplete; logged in TranErrLog.Log): for a new object that is the empty
  // record. Errors of the extraction (EPackageError) and of the Label file
  // (ELabelFileError) reach the caller, and then rec and the object's record stay as
  // they were.
  void LoadTemplate(const std::filesystem::path& fileName, TLabelRec& rec);

  // Opens PrinterName and sends the page setup. A job starts at the first column.
  void OpenPrinter();

  // Sets Value of every item whose Name equals name byte for byte; values stay for all
  // later labels until set again.
  void SetFieldValue(const std::string& name, const std::string& value);

  // Draws the text and barcode items at the current column and prints the row when it is
  // full. Throws std::range_error, sending nothing of the label, when an item lies so far
  // out that its position in dots is no 32-bit number.
  void PrintLabel();

  // Prints a partly filled row, then closes the printer.
  void ClosePrinter();

 private:
  std::int32_t Column = 0;         // column of the next label within the current row
  std::int32_t DotsPerPointY = 0;  // printer dots per point of a text item's font size
  TLabelRec LabelRec;
  std::int32_t LogPixelsY = 0;  // the default printer's dots per inch at creation
};

// Face of the text items and the data of a barcode item without a value.
inline constexpr const char* kLabelTextFace = "宋体";
inline constexpr const char* kDefaultBarcodeData = "1234567890123";

}  // namespace tagwright
