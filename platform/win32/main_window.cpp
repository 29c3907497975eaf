#include "platform/win32/main_window.h"

#include <algorithm>

#include <commctrl.h>

#include "platform/win32/win32_handles.h"

namespace plat::win32 {
namespace {

HINSTANCE Instance() {
    return ::GetModuleHandleA(nullptr);
}

void RegisterOnce() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
        return true;
    }();
    (void)registered;
}

// The bars keep the classic look the settings describe, smooth or in blocks with gaps, which a
// visual style would replace by its own (Wine applies one even to these controls). Bound by
// name: uxtheme.dll is no import of the program.
void UseClassicLook(HWND control) {
    using TSetWindowTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const TSetWindowTheme setTheme = [] {
        const HMODULE uxtheme = ::LoadLibraryA("uxtheme.dll");
        return uxtheme ? ProcAddress<TSetWindowTheme>(uxtheme, "SetWindowTheme") : nullptr;
    }();
    if (setTheme) setTheme(control, L" ", L" ");
}

int ScreenDpi() {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

} // namespace

TMainWindow::TMainWindow(int dpi) : FDpi(dpi > 0 ? dpi : ScreenDpi()) {
    RegisterOnce();
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = Instance();
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = MainWindowClass;
    ::RegisterClassA(&wc); // a second window finds the class there already
    FWindow = ::CreateWindowExA(0, MainWindowClass, "", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                CW_USEDEFAULT, CW_USEDEFAULT, Scaled(651), Scaled(440), nullptr,
                                nullptr, Instance(), this);
    if (!FWindow) return;
    for (int i = 0; i < 2; ++i) {
        FBars[i] =
            ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, FWindow,
                              reinterpret_cast<HMENU>(ProgressBar1Id + i), Instance(), nullptr);
        UseClassicLook(FBars[i]);
    }
    FMemo = ::CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                  ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL,
                              0, 0, 0, 0, FWindow, reinterpret_cast<HMENU>(Memo1Id), Instance(),
                              nullptr);
    // A log of a long run passes the control's default limit of 30000 characters.
    if (FMemo) ::SendMessageA(FMemo, EM_SETLIMITTEXT, 0, 0);
    SetIcon("MAINICON");
    Layout();
}

TMainWindow::~TMainWindow() {
    if (FWindow) {
        ::SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
        ::DestroyWindow(FWindow); // the children go with it
    }
    if (FFont) ::DeleteObject(FFont);
    for (HICON icon : FIcons)
        if (icon) ::DestroyIcon(icon);
}

int TMainWindow::Scaled(int size) const {
    return ::MulDiv(size, FDpi, 96);
}

void TMainWindow::ApplySettings(const TWindowSettings& settings) {
    SetCaption(settings.Caption);
    // The place is the screen's; the size follows the dots per inch, as the font does.
    ::SetWindowPos(FWindow, nullptr, settings.Left, settings.Top, Scaled(settings.Width),
                   Scaled(settings.Height), SWP_NOZORDER | SWP_NOACTIVATE);
    // The character height in pixels, without the font's internal leading.
    const HFONT font = ::CreateFontA(-Scaled(settings.FontHeight > 0 ? settings.FontHeight : 11), 0,
                                     0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, settings.FontName.c_str());
    if (!font) return;
    ::SendMessageA(FMemo, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (FFont) ::DeleteObject(FFont);
    FFont = font;
}

void TMainWindow::SetCaption(const std::string& caption) {
    ::SetWindowTextA(FWindow, caption.c_str());
}

void TMainWindow::ApplyBar(int index, const TProgressBar& bar) {
    const HWND control = FBars[index];
    FBarHeight[index] = bar.Height;
    FBarBorder[index] = bar.BorderWidth;
    // Smooth or in blocks: the control reads its style as it paints.
    const LONG_PTR style = ::GetWindowLongPtrA(control, GWL_STYLE);
    ::SetWindowLongPtrA(control, GWL_STYLE, bar.Smooth ? style | PBS_SMOOTH : style & ~PBS_SMOOTH);
    ::SendMessageA(control, PBM_SETRANGE32, static_cast<WPARAM>(bar.Min),
                   static_cast<LPARAM>(std::max(bar.Max, bar.Min)));
    ::SendMessageA(control, PBM_SETSTEP, static_cast<WPARAM>(bar.Step), 0);
    SetBarPosition(index, bar.Position);
    Layout();
    ::InvalidateRect(control, nullptr, TRUE);
}

void TMainWindow::SetBarPosition(int index, int position) {
    ::SendMessageA(FBars[index], PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TMainWindow::Layout() {
    RECT client;
    if (!FWindow || !::GetClientRect(FWindow, &client)) return;
    const int width = client.right, height = client.bottom;
    int top = 0;
    for (int i = 0; i < 2; ++i) {
        // The border is room round the bar, as wide on every side.
        const int band = Scaled(FBarHeight[i]), border = Scaled(FBarBorder[i]);
        ::MoveWindow(FBars[i], border, top + border, std::max(0, width - 2 * border),
                     std::max(0, band - 2 * border), TRUE);
        top += band;
    }
    ::MoveWindow(FMemo, 0, top, width, std::max(0, height - top), TRUE);
}

void TMainWindow::SetLines(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
    FWriting = true;
    ::SetWindowTextA(FMemo, text.c_str());
    FWriting = false;
    FShownLines = lines.size();
    ShowNewest();
}

void TMainWindow::AppendLine(const std::string& line) {
    const int length = ::GetWindowTextLengthA(FMemo);
    const std::string text = (FShownLines ? "\r\n" : "") + line;
    FWriting = true;
    ::SendMessageA(FMemo, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    ::SendMessageA(FMemo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    FWriting = false;
    ++FShownLines;
    ShowNewest();
}

// The newest line in view, from its start: a long line must not push the time stamps out.
void TMainWindow::ShowNewest() {
    const LRESULT count = ::SendMessageA(FMemo, EM_GETLINECOUNT, 0, 0);
    const LRESULT start = ::SendMessageA(FMemo, EM_LINEINDEX, static_cast<WPARAM>(count - 1), 0);
    ::SendMessageA(FMemo, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(start));
    ::SendMessageA(FMemo, EM_SCROLLCARET, 0, 0);
}

void TMainWindow::SetReadOnly(bool readOnly) {
    ::SendMessageA(FMemo, EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
}

std::vector<std::string> TMainWindow::Lines() const {
    std::vector<std::string> lines;
    const int length = ::GetWindowTextLengthA(FMemo);
    // An empty view is no lines, not one empty line.
    if (length <= 0) return lines;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(FMemo, text.data(), length + 1)));
    size_t at = 0;
    for (;;) {
        const size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 2;
    }
    return lines;
}

bool TMainWindow::SetIcon(const char* resourceName) {
    const int sizes[2][2] = {{::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON)},
                             {::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON)}};
    HICON icons[2];
    for (int i = 0; i < 2; ++i)
        icons[i] = static_cast<HICON>(::LoadImageA(Instance(), resourceName, IMAGE_ICON,
                                                   sizes[i][0], sizes[i][1], LR_DEFAULTCOLOR));
    if (!icons[0] || !icons[1]) {
        for (HICON icon : icons)
            if (icon) ::DestroyIcon(icon);
        return false;
    }
    ::SendMessageA(FWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons[0]));
    ::SendMessageA(FWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons[1]));
    for (int i = 0; i < 2; ++i) {
        if (FIcons[i]) ::DestroyIcon(FIcons[i]);
        FIcons[i] = icons[i];
    }
    return true;
}

void TMainWindow::Show() {
    ::ShowWindow(FWindow, SW_SHOWNORMAL);
    ::UpdateWindow(FWindow);
}

void TMainWindow::Hide() {
    ::ShowWindow(FWindow, SW_HIDE);
}

bool TMainWindow::Visible() const {
    return ::IsWindowVisible(FWindow) != 0;
}

void TMainWindow::MakeToolWindow() {
    const LONG_PTR style = ::GetWindowLongPtrA(FWindow, GWL_EXSTYLE);
    ::SetWindowLongPtrA(FWindow, GWL_EXSTYLE, style | WS_EX_TOOLWINDOW);
}

LRESULT CALLBACK TMainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TMainWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self || !self->FWindow) return ::DefWindowProcA(window, message, wParam, lParam);
    // No exception may unwind through the system's frames that called us.
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (...) {
        try {
            if (self->OnException) self->OnException();
        } catch (...) {
        }
        return 0;
    }
}

LRESULT TMainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        Layout();
        return 0;
    case WM_CLOSE:
        // Hidden, not destroyed: the run may still write to the log.
        Hide();
        if (OnCloseRequest) OnCloseRequest();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == Memo1Id && HIWORD(wParam) == EN_CHANGE && !FWriting && OnLogEdited)
            OnLogEdited();
        return 0;
    default:
        return ::DefWindowProcA(FWindow, message, wParam, lParam);
    }
}

} // namespace plat::win32
