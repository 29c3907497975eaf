#pragma once
// The main window on Windows, made of the system's own controls: an overlapped top-level
// window, two progress bars of the common controls at the top (ProgressBar1, ProgressBar2) and
// a multi-line EDIT control filling the rest (Memo1), rendered from the plain models of
// platform/ui.h. Sizes are given at 96 dots per inch and follow the screen's setting.
// For platform/win32 only.
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "platform/win32/win32_api.h"

namespace plat::win32 {

// The children's control ids.
inline constexpr int Memo1Id = 1, ProgressBar1Id = 2, ProgressBar2Id = 3;
// The window class of the main window.
inline constexpr const char* MainWindowClass = "KVUpdaterWindow";

class TMainWindow {
public:
    // dpi: the screen's dots per inch, 0 for the system's.
    explicit TMainWindow(int dpi = 0);
    ~TMainWindow();
    TMainWindow(const TMainWindow&) = delete;
    TMainWindow& operator=(const TMainWindow&) = delete;

    HWND Handle() const { return FWindow; }
    bool Valid() const { return FWindow && FMemo && FBars[0] && FBars[1]; }
    int Dpi() const { return FDpi; }

    void ApplySettings(const TWindowSettings& settings); // caption, place, size, font
    void SetCaption(const std::string& caption);
    void ApplyBar(int index, const TProgressBar& bar); // look, range, step and position
    void SetBarPosition(int index, int position);

    // The log view shows every line, the newest in view.
    void SetLines(const std::vector<std::string>& lines);
    void AppendLine(const std::string& line);
    void SetReadOnly(bool readOnly);
    // The lines as the view now holds them, after an edit by the user.
    std::vector<std::string> Lines() const;

    // The icon of the given resource name, in the title bar and on the taskbar; false, and
    // the icon kept, when the program holds no such icon.
    bool SetIcon(const char* resourceName);
    void Show();
    void Hide();
    bool Visible() const;
    // No taskbar entry, should the window ever show: the silent presentation's style.
    void MakeToolWindow();

    // The user asked to close the window (the window then hides).
    std::function<void()> OnCloseRequest;
    // The user changed the log's text.
    std::function<void()> OnLogEdited;
    // An exception that left one of the handlers above; called inside the catch block.
    std::function<void()> OnException;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    int Scaled(int size) const;
    void Layout();
    void ShowNewest();

    HWND FWindow = nullptr, FMemo = nullptr;
    HWND FBars[2] = {nullptr, nullptr};
    HFONT FFont = nullptr;
    HICON FIcons[2] = {nullptr, nullptr}; // large, small
    int FDpi = 96;
    int FBarHeight[2] = {25, 25}, FBarBorder[2] = {3, 3};
    size_t FShownLines = 0; // lines the log view holds
    bool FWriting = false;  // the program, not the user, is changing the log
};

} // namespace plat::win32
