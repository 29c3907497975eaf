#pragma once
// ProcessViewer: which of the product's programs run, and stopping them. It works through
// the desktop's top-level windows: a program counts as running when one of its processes
// owns a top-level window, mapped or not. Main thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/processes.h"

// One top-level window.
struct TProcessInfo {
    std::string ExeName; // owning program's file name, upper-cased; empty when not found
    std::string Title;   // at most 254 characters
    bool Visible = false;
    uint32_t Handle = 0;
    std::string WindowClass; // at most 254 characters
    uint32_t ThreadId = 0;
    uint32_t ProcessId = 0;
};

// The desktop at one moment: one element per top-level window, in enumeration order.
using TProcessList = std::vector<TProcessInfo>;

TProcessList RefreshProcessList();
// Appends the window's element to the TProcessList that userValue points to; always true
// (go on enumerating).
bool EnumWindowsProc(plat::TWindowHandle window, intptr_t userValue);
// The owning program's file name as the process snapshot reports it, or empty.
std::string GetExeNameOfWindow(plat::TWindowHandle window);

// Name keys: the text after the last "\", "/" or ":", upper-cased; a window matches when its
// ExeName contains the key. An empty name answers false without looking.
bool IsExeRunning(const std::string& name);
// Stops every process of every matching program, in window order, until none is left or
// one resists. True when all were stopped.
bool KillExe(const std::string& name);
// Terminates the process, lets the event loop run, and answers true when no top-level
// window of the process remains.
bool KillProcessById(uint32_t processId);

// The upper-cased file-name part of a program name, as the lookups use it.
std::string ExeKey(const std::string& name);
