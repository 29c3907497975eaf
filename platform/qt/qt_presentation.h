#pragma once
// The Qt 6 Widgets presentation: the main window with its two progress bars and the log,
// and the event loop on Qt's dispatcher (timers, posted handlers, socket waits).
#include <memory>

#include "platform/ui.h"

class QWidget;

namespace plat {

// Creates the QApplication when none exists yet (argc and argv must outlive it) and the
// main window, hidden until Show or Run.
std::unique_ptr<TPresentation> CreateQtPresentation(int& argc, char** argv);

// The main window of a Qt presentation; null for any other presentation. Its children are
// named after the components: "ProgressBar1", "ProgressBar2", "Memo1".
QWidget* QtMainWindow(TPresentation& presentation);

} // namespace plat
