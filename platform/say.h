#pragma once
// A writer of log lines, as the main window's Say: code below the window (the manifest
// parse, the stop and restart steps) logs through one of these.
#include <functional>
#include <string>

using TSayProc = std::function<void(const std::string&)>;
