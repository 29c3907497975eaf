#pragma once
// What the console presentations of both platforms share: log lines on standard output, a
// progress line of the two bars on standard error while that is a terminal, errors on standard
// error, and the presentation's calls over them. How bytes reach a stream, and how a terminal
// takes a line back, are each platform's (posix/console.cpp, win32/console.cpp). Portable.
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/ui.h"

namespace plat {

struct TConsoleOutput {
    enum TStream { Out, Err };
    // Writes all of the text; a reader that went away loses the output, never the run.
    std::function<void(TStream, const std::string&)> Write;
    std::string LineEnd = "\n";
    std::string ClearText;  // takes a progress line back off the terminal
    std::string DrawPrefix; // goes before each progress line
    bool Silent = false;
    bool ErrIsTerminal = false;
    bool ProgressShown = false; // a progress line stands on the terminal
    int Percent[2] = {0, 0};

    void ClearProgress();
    void DrawProgress();
    // The progress line shares the terminal; it is taken away so the text starts clean.
    void Line(TStream stream, const std::string& text);
};

// Hooks the log and the bars to the output, which the hooks share: a widget that outlives the
// presentation never calls into freed memory.
void HookConsoleOutput(const std::shared_ptr<TConsoleOutput>& output, TProgressBar& bar1,
                       TProgressBar& bar2, TMemo& log);

// The presentation's calls that need no window, over a console output; Base is the platform's
// event loop.
template <class Base> class TConsoleFace : public Base {
public:
    explicit TConsoleFace(std::shared_ptr<TConsoleOutput> output) : FOutput(std::move(output)) {}

    void Attach(TWindowSettings& window, TProgressBar& bar1, TProgressBar& bar2,
                TMemo& log) override {
        if (!FCaption.empty() && window.Caption.empty()) window.Caption = FCaption;
        FWindow = &window;
        HookConsoleOutput(FOutput, bar1, bar2, log);
    }
    void SetCaption(const std::string& caption) override {
        FCaption = caption;
        if (FWindow) FWindow->Caption = caption;
    }
    std::string Caption() const override { return FWindow ? FWindow->Caption : FCaption; }
    void Show() override {} // no window to show
    void SetSilent() override {
        FOutput->ClearProgress();
        FOutput->Silent = true;
    }
    bool Silent() const override { return FOutput->Silent; }
    void SetIcon(const std::string& name) override { FIcon = name; }

    // Errors reach standard error even in silent mode: a script that runs the program
    // silently still needs to learn why it failed.
    void ShowError(const std::string& message) override {
        FOutput->Line(TConsoleOutput::Err, message);
    }
    void ShowMessage(const std::string& caption, const std::string& text, TMessageKind) override {
        if (FOutput->Silent) return;
        FOutput->Line(TConsoleOutput::Err, caption.empty() ? text : caption + ": " + text);
    }

protected:
    std::shared_ptr<TConsoleOutput> FOutput;

private:
    TWindowSettings* FWindow = nullptr;
    std::string FCaption, FIcon;
};

} // namespace plat
