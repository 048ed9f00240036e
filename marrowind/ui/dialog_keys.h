// Keys of the programs' dialogs as Windows handles them: Enter on a focused button
// clicks it (there is no default button to catch Enter elsewhere), and Escape closes
// nothing.
#pragma once

#include <functional>

class QDialog;

namespace marrowind {

// Watches the dialog and every child it has now. `onEnter` runs for an Enter typed
// anywhere but on a button; the key goes no further. The dialog's push buttons lose
// Qt's auto-default behaviour, which would click one of them on Enter in an edit.
void InstallDialogKeys(QDialog* dialog, std::function<void()> onEnter = {});

}  // namespace marrowind
