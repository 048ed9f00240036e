// The main window's test print: the current page saved as a template beside the program
// and printed as two sample labels.
#pragma once

#include <filesystem>
#include <string>

namespace tagwright {

// Template file of the test print in the program folder; each test print replaces it.
inline constexpr const char* kTestPrintFile = "TestPrnTable.Dat";

// Item names that receive the sample values, and the values of the two labels.
inline constexpr const char* kTestBarcodeName = "Cod2-";
inline constexpr const char* kTestTextName = "Tex1-";
inline constexpr const char* kTestValues[2] = {"154984723d", "f120984723"};

// program folder + TestPrnTable.Dat.
std::filesystem::path TestPrintPath();

// Prints the two sample labels of the template package on the queue printer (UTF-8):
// the package is loaded into a printing object, then per label the barcode item
// "Cod2-" and the text item "Tex1-" take the label's value. Errors of the printing
// object (no default printer, a package that cannot be extracted, an item out of
// range) reach the caller; a printer opened before the error is closed again, so no
// job is left open.
void PrintTestLabels(const std::string& printer, const std::filesystem::path& package);

}  // namespace tagwright
