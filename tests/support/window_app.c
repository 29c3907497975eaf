/* A stand-in for a product program on Windows: opens top-level windows on the desktop and runs
 * until it is ended. The options are those of the X11 stand-in (xwindow_app.c):
 *   --windows N     how many windows (default 1; 0 for none)
 *   --unmapped      never show the windows (they still exist, invisible)
 *   --title TEXT    the windows' title
 *   --ready FILE    created once the windows exist
 *   --end-all       ends every running stand-in of the desktop (those with windows) and exits
 * Every start also appends a line, its own program file name, to "starts.txt" beside it: the
 * record of the starts that nobody but the program itself could see (a restart by the shell). */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdlib.h>
#include <string.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static BOOL CALLBACK EndStandIn(HWND window, LPARAM unused) {
    char name[32];
    DWORD pid = 0;
    (void)unused;
    if (!GetClassNameA(window, name, sizeof name) || strcmp(name, "KVTestWindow")) return TRUE;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = pid && pid != GetCurrentProcessId()
                         ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)
                         : NULL;
    if (process) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 30000);
        CloseHandle(process);
    }
    return TRUE;
}

static void AppendStart(void) {
    char self[MAX_PATH], journal[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    strcpy(journal, self);
    char* slash = strrchr(journal, '\\');
    strcpy(slash ? slash + 1 : journal, "starts.txt");
    HANDLE f = CreateFileA(journal, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written;
    strcat(self, "\r\n");
    WriteFile(f, self, (DWORD)strlen(self), &written, NULL);
    CloseHandle(f);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;
    int windows = 1, mapped = 1;
    const char* title = "Product window";
    const char* ready = NULL;
    for (int i = 1; i < __argc; ++i) {
        if (!strcmp(__argv[i], "--windows") && i + 1 < __argc)
            windows = atoi(__argv[++i]);
        else if (!strcmp(__argv[i], "--unmapped"))
            mapped = 0;
        else if (!strcmp(__argv[i], "--title") && i + 1 < __argc)
            title = __argv[++i];
        else if (!strcmp(__argv[i], "--ready") && i + 1 < __argc)
            ready = __argv[++i];
        else if (!strcmp(__argv[i], "--end-all"))
            return EnumWindows(EndStandIn, 0) ? 0 : 1;
    }
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "KVTestWindow";
    if (windows > 0 && !RegisterClassA(&wc)) return 2;
    for (int i = 0; i < windows; ++i) {
        HWND w = CreateWindowExA(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 10 * i, 10, 100,
                                 80, NULL, NULL, instance, NULL);
        if (!w) return 2;
        if (mapped) ShowWindow(w, SW_SHOWNOACTIVATE);
    }
    AppendStart();
    if (ready) {
        HANDLE f = CreateFileA(ready, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    }
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
