#pragma once
// The one way in to the Windows headers, for platform/win32 and the two library bindings
// only: lean, without min and max, and without the A/W macros whose names are the platform
// layer's own functions (plat::DeleteFile would otherwise become plat::DeleteFileA).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, and before the macros below go: it defines ShellExecute again.
#include <shellapi.h>

#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef GetCurrentDirectory
#undef GetDiskFreeSpace
#undef GetFileAttributes
#undef MoveFile
#undef SetCurrentDirectory
#undef SetFileAttributes
#undef ShellExecute
// Plain words that windef.h takes for itself.
#undef near
#undef far
