#pragma once
// The one decision of how the program presents itself, taken at program entry: the window
// of the toolkit when the build has one, a display is present and the run is not silent;
// the console presentation otherwise. A build without a toolkit implements it in
// presentation_choice.cpp, the Qt build in qt/presentation_choice_qt.cpp.
#include <memory>

#include "platform/ui.h"

namespace plat {

// argc and argv are the program's own; they must outlive the presentation (a toolkit keeps
// them). A run that turns silent later (from an initialisation file) calls SetSilent on the
// presentation this returns.
std::unique_ptr<TPresentation> CreateBestPresentation(int& argc, char** argv, bool silent);

} // namespace plat
