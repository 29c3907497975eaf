// The presentation choice of the Windows build: the main window unless the run is silent, or
// the console when no window can be made.
#include "platform/presentation_choice.h"
#include "platform/win32/window_presentation.h"

namespace plat {

std::unique_ptr<TPresentation> CreateBestPresentation(int&, char**, bool silent) {
    if (!silent)
        if (auto window = CreateWindowPresentation()) return window;
    return CreateConsolePresentation();
}

} // namespace plat
