// The console presentation on Windows: no window on the screen. Log lines go to standard
// output as they are written, progress to standard error when that is a console, errors to
// standard error; nothing is ever shown in a box that would hold an unattended run. The event
// loop is every Windows presentation's (message_loop.h).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/ui.h"
#include "platform/win32/message_loop.h"
#include "platform/win32/win32_api.h"

namespace plat {
namespace {

// Writes all of data to a standard stream; a reader that went away or a missing stream loses
// the output, never the run.
void WriteAll(DWORD stream, const std::string& data) {
    const HANDLE h = ::GetStdHandle(stream);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        DWORD done = 0;
        if (!::WriteFile(h, p, static_cast<DWORD>(left), &done, nullptr) || done == 0) return;
        p += done;
        left -= done;
    }
}

bool IsConsole(DWORD stream) {
    DWORD mode;
    const HANDLE h = ::GetStdHandle(stream);
    return h && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}

// What the log and progress hooks need. Shared with the hooks, so a widget that outlives the
// presentation never calls into freed memory.
struct TOutput {
    bool Silent = false;
    bool ErrConsole = false;
    bool ProgressShown = false; // a progress line stands on the console
    int Percent[2] = {0, 0};

    void ClearProgress() {
        if (!ProgressShown) return;
        WriteAll(STD_ERROR_HANDLE, "\r               \r");
        ProgressShown = false;
    }

    void DrawProgress() {
        if (Silent || !ErrConsole) return;
        char text[64];
        std::snprintf(text, sizeof text, "\r[%3d%%] [%3d%%]", Percent[0], Percent[1]);
        WriteAll(STD_ERROR_HANDLE, text);
        ProgressShown = true;
    }

    // Lines end as Windows text lines do.
    void Line(DWORD stream, const std::string& text) {
        ClearProgress();
        WriteAll(stream, text + "\r\n");
    }
};

int PercentOf(const TProgressBar& bar) {
    long range = static_cast<long>(bar.Max) - bar.Min;
    if (range <= 0) return 0;
    long done = static_cast<long>(bar.Position) - bar.Min;
    return static_cast<int>(std::clamp(done * 100 / range, 0L, 100L));
}

class TWin32ConsolePresentation final : public win32::TLoopPresentation {
public:
    TWin32ConsolePresentation() : FOutput(std::make_shared<TOutput>()) {
        FOutput->ErrConsole = IsConsole(STD_ERROR_HANDLE);
    }

    void Attach(TWindowSettings& window, TProgressBar& bar1, TProgressBar& bar2,
                TMemo& log) override {
        if (!FCaption.empty() && window.Caption.empty()) window.Caption = FCaption;
        FWindowSettings = &window;
        auto output = FOutput;
        log.OnAppend = [output](const std::string& line) {
            if (!output->Silent) output->Line(STD_OUTPUT_HANDLE, line);
        };
        TProgressBar* bars[2] = {&bar1, &bar2};
        for (int i = 0; i < 2; ++i) {
            output->Percent[i] = PercentOf(*bars[i]);
            bars[i]->OnChange = [output, i](const TProgressBar& bar) {
                int percent = PercentOf(bar);
                if (percent == output->Percent[i] && output->ProgressShown) return;
                output->Percent[i] = percent;
                output->DrawProgress();
            };
        }
    }

    void SetCaption(const std::string& caption) override {
        FCaption = caption;
        if (FWindowSettings) FWindowSettings->Caption = caption;
    }
    std::string Caption() const override {
        return FWindowSettings ? FWindowSettings->Caption : FCaption;
    }
    void Show() override {} // no window to show
    void SetSilent() override {
        FOutput->ClearProgress();
        FOutput->Silent = true;
    }
    bool Silent() const override { return FOutput->Silent; }
    void SetIcon(const std::string& name) override { FIcon = name; }
    void Beep() override {
        if (!FOutput->Silent) ::MessageBeep(0);
    }

    // Errors reach standard error even in silent mode: a script that runs the program
    // silently still needs to learn why it failed.
    void ShowError(const std::string& message) override {
        FOutput->Line(STD_ERROR_HANDLE, message);
    }

    void ShowMessage(const std::string& caption, const std::string& text, TMessageKind) override {
        if (FOutput->Silent) return;
        FOutput->Line(STD_ERROR_HANDLE, caption.empty() ? text : caption + ": " + text);
    }

private:
    std::shared_ptr<TOutput> FOutput;
    TWindowSettings* FWindowSettings = nullptr;
    std::string FCaption, FIcon;
};

} // namespace

std::unique_ptr<TPresentation> CreateConsolePresentation() {
    return std::make_unique<TWin32ConsolePresentation>();
}

} // namespace plat
