#pragma once
// The Windows presentation with a window: the main window of the system's own controls on the
// Windows event loop. The program's entry picks it unless the run is silent.
#include <memory>

#include "platform/ui.h"
#include "platform/win32/win32_api.h"

namespace plat {

// Null when no window can be made (no desktop to put it on).
std::unique_ptr<TPresentation> CreateWindowPresentation();
// The main window of such a presentation, null for any other; for tests.
HWND MainWindowOf(TPresentation& presentation);

} // namespace plat
