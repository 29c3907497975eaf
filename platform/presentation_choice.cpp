// The presentation choice of a build without a window toolkit: always the console.
#include "platform/presentation_choice.h"

namespace plat {

std::unique_ptr<TPresentation> CreateBestPresentation(int&, char**, bool) {
    return CreateConsolePresentation();
}

} // namespace plat
