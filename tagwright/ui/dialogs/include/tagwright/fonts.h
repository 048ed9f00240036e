// The designer's fonts on a system that has none of the Windows faces.
#pragma once

namespace tagwright {

// Maps the Windows faces that the designer's windows and labels ask for to installed
// fonts: "Arial" to its metric twin "Liberation Sans", "宋体" and "SimSun" to a CJK face.
// Call once after the application object exists, before any window is built.
void InstallFontSubstitutes();

}  // namespace tagwright
