// The window presentation: the default error handler is a message box, closing the window
// runs the close handler and ends the loop once the running handler is done, and the silent
// presentation never shows the window, keeps it off the taskbar and shows no box.
#include "platform/win32/window_presentation.h"

#include <memory>
#include <string>

#include "platform/win32/main_window.h"
#include "platform/win32/message_loop.h"

namespace plat {
namespace {

using win32::TMainWindow;

// The program's icons by the names the presentation is given (app/windows/KVUpdater.rc).
const char* IconResource(const std::string& name) {
    if (name == "kestavorin") return "MAINICON";
    if (name == "ostrivane") return "OSTRIVANE";
    return nullptr;
}

class TWin32WindowPresentation final : public win32::TLoopPresentation {
public:
    TWin32WindowPresentation() : FWindow(std::make_shared<TMainWindow>()) {
        FWindow->OnCloseRequest = [this] { WindowClosed(); };
        FWindow->OnLogEdited = [this] { LogEdited(); };
        FWindow->OnException = [this] { HandleException(); };
    }

    bool Valid() const { return FWindow->Valid(); }
    HWND MainWindow() const { return FWindow->Handle(); }

    void Attach(TWindowSettings& window, TProgressBar& bar1, TProgressBar& bar2,
                TMemo& log) override {
        if (!FCaption.empty() && window.Caption.empty()) window.Caption = FCaption;
        FSettings = &window;
        FLog = &log;
        FWindow->ApplySettings(window);
        FWindow->SetReadOnly(log.ReadOnly);
        // The window may be gone before the models; the hooks then do nothing.
        std::weak_ptr<TMainWindow> view = FWindow;
        TProgressBar* bars[2] = {&bar1, &bar2};
        for (int i = 0; i < 2; ++i) {
            FWindow->ApplyBar(i, *bars[i]);
            bars[i]->OnChange = [view, i](const TProgressBar& bar) {
                if (auto w = view.lock()) w->SetBarPosition(i, bar.Position);
            };
        }
        FWindow->SetLines(log.Lines);
        log.OnAppend = [view](const std::string& line) {
            if (auto w = view.lock()) w->AppendLine(line);
        };
    }

    void SetCaption(const std::string& caption) override {
        FCaption = caption;
        if (FSettings) FSettings->Caption = caption;
        FWindow->SetCaption(caption);
    }

    std::string Caption() const override { return FSettings ? FSettings->Caption : FCaption; }

    void Show() override {
        if (FSilent || FClosed) return;
        FWindow->Show();
        FShown = true;
    }

    void SetSilent() override {
        FSilent = true;
        FWindow->Hide();
        FWindow->MakeToolWindow();
    }

    bool Silent() const override { return FSilent; }

    void SetIcon(const std::string& name) override {
        const char* resource = IconResource(name);
        if (resource && FWindow->SetIcon(resource)) FIcon = name;
    }

    void Beep() override {
        if (!FSilent) ::MessageBeep(MB_OK);
    }

    void ShowError(const std::string& message) override {
        // Nothing is shown in silent mode; the message still reaches standard error, so a
        // script that runs the program silently learns why it failed.
        if (FSilent) {
            const std::string line = message + "\r\n";
            DWORD written;
            const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
            if (err && err != INVALID_HANDLE_VALUE)
                ::WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            return;
        }
        Box("KVUpdater", message, MB_ICONERROR);
    }

    void ShowMessage(const std::string& caption, const std::string& text,
                     TMessageKind kind) override {
        if (FSilent) return;
        Box(caption, text,
            kind == TMessageKind::Error     ? MB_ICONERROR
            : kind == TMessageKind::Warning ? MB_ICONWARNING
                                            : MB_ICONINFORMATION);
    }

    void Run() override {
        // A run that already asked to quit (the self-update copy) never shows its window.
        if (!FShown && !Terminated()) Show();
        TLoopPresentation::Run();
    }

protected:
    bool KeepsRunning() const override { return FWindow->Visible(); }

private:
    void WindowClosed() {
        FClosed = true;
        // The close handler runs; the running handler (the run) goes on to its end, and
        // then the loop ends.
        if (OnClose) Invoke(OnClose);
        Quit();
    }

    void LogEdited() {
        // What the window shows is what the log file will hold.
        if (FLog) FLog->Lines = FWindow->Lines();
    }

    void Box(const std::string& caption, const std::string& text, UINT icon) {
        const HWND owner = FWindow->Visible() ? FWindow->Handle() : nullptr;
        ::MessageBoxA(owner, text.c_str(), caption.c_str(), MB_OK | icon);
    }

    std::shared_ptr<TMainWindow> FWindow;
    TWindowSettings* FSettings = nullptr;
    TMemo* FLog = nullptr;
    std::string FCaption, FIcon;
    bool FSilent = false, FShown = false, FClosed = false;
};

} // namespace

std::unique_ptr<TPresentation> CreateWindowPresentation() {
    auto presentation = std::make_unique<TWin32WindowPresentation>();
    if (!presentation->Valid()) return nullptr;
    return presentation;
}

HWND MainWindowOf(TPresentation& presentation) {
    auto* window = dynamic_cast<TWin32WindowPresentation*>(&presentation);
    return window ? window->MainWindow() : nullptr;
}

} // namespace plat
