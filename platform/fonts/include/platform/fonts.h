// The Windows faces the programs and their templates name, on a system that has none.
#pragma once

namespace platform::fonts {

// Draws "宋体"/"SimSun" with an installed CJK face and "Arial"/"MS Sans Serif" with its
// metric twin Liberation Sans. Needs the (GUI) application object; call it before any
// window or label is drawn. Calling it again changes nothing.
void SubstituteWindowsFonts();

}  // namespace platform::fonts
