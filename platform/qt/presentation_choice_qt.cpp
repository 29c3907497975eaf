// The presentation choice of a Qt build: the window when a display is present and the run
// is not silent, the console otherwise.
#include <xcb/xcb.h>

#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/presentation_choice.h"
#include "platform/qt/qt_presentation.h"

namespace plat {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Qt ends the process when it can't open its display, so an X display is tried first: a
// run from a job whose DISPLAY is stale falls back to the console instead of dying.
bool XDisplayReachable() {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    bool ok = connection && xcb_connection_has_error(connection) == 0;
    if (connection) xcb_disconnect(connection);
    return ok;
}

bool QtPlatformPluginExists(const QString& prefix) {
    QDir dir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
    return !dir.entryList({"libq" + prefix + "*.so"}, QDir::Files).isEmpty();
}

bool DisplayPresent() {
    std::string platform = Env("QT_QPA_PLATFORM");
    if (!platform.empty()) {
        // A platform named by the user is taken as it is, except X without a server.
        if (platform.rfind("xcb", 0) == 0) return !Env("DISPLAY").empty() && XDisplayReachable();
        return true;
    }
    if (!Env("DISPLAY").empty() && XDisplayReachable()) return true;
    if (!Env("WAYLAND_DISPLAY").empty() && QtPlatformPluginExists("wayland")) {
        // Without an X server Qt must not fall back to trying one.
        ::setenv("QT_QPA_PLATFORM", "wayland", 0);
        return true;
    }
    return false;
}

} // namespace

std::unique_ptr<TPresentation> CreateBestPresentation(int& argc, char** argv, bool silent) {
    if (!silent && DisplayPresent()) return CreateQtPresentation(argc, argv);
    return CreateConsolePresentation();
}

} // namespace plat
