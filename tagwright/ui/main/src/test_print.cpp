#include "tagwright/test_print.h"

#include "platform/module.h"
#include "tagwright/lab_print_tsc.h"
#include "tagwright/label_print_rec.h"

namespace tagwright {

std::filesystem::path TestPrintPath() {
  return platform::module::ProgramFolder() / kTestPrintFile;
}

void PrintTestLabels(const std::string& printer, const std::filesystem::path& package) {
  TPrintLabelTsc print;
  print.PrinterName = printer;
  TLabelRec rec;  // the object keeps its own copy; the caller's is not needed
  print.LoadTemplate(package, rec);
  print.OpenPrinter();
  try {
    for (const char* value : kTestValues) {
      print.SetFieldValue(kTestBarcodeName, value);
      print.SetFieldValue(kTestTextName, value);
      print.PrintLabel();
    }
  } catch (...) {
    print.ClosePrinter();
    throw;
  }
  print.ClosePrinter();
}

}  // namespace tagwright
