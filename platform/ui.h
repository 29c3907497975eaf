#pragma once
// The window and event-loop services the program relies on, behind one interface, and
// the window's widgets as plain models that every presentation renders. The console
// presentation has no window; a Qt and a Win32 window fit behind the same interface. The
// models and the presentation's common part are portable (ui.cpp); the console presentation
// is each side's (over TEventQueue), the Qt window lives in qt/.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket_type.h"

namespace plat {

class TPresentation;

// A progress bar: range, position and step. A step past the maximum starts the bar again
// from the minimum, keeping what was left over (98 + 5 in 0..100 gives 3).
class TProgressBar {
public:
    int Min = 0, Max = 100, Step = 1, Position = 0;
    bool Smooth = false; // smooth or segmented look
    int Height = 25, BorderWidth = 3;
    bool AlignTop = true;

    void SetPosition(int position);
    void StepIt();
    std::function<void(const TProgressBar&)> OnChange; // set by the presentation
};

// The log view: its lines in the order written.
class TMemo {
public:
    std::vector<std::string> Lines;
    bool ScrollBarsHorizontal = true, ScrollBarsVertical = true;
    bool ReadOnly = false; // editable
    bool AlignClient = true;

    void Append(const std::string& line);
    // Writes every line, each ended by CR LF, replacing the file atomically.
    // Raises EInOutError when the file can't be written.
    void SaveToFile(const std::string& fileName) const;
    std::function<void(const std::string&)> OnAppend; // set by the presentation
};

// The main window's stored settings, kept even where nothing shows them.
struct TWindowSettings {
    std::string Caption;
    int Left = 350, Top = 219, Width = 651, Height = 440;
    std::string FontName = "MS Sans Serif";
    int FontHeight = 11;
};

enum class TMessageKind { Error, Warning, Information };

// The presentation and its event loop. One per process; all calls on the main thread.
class TPresentation {
public:
    virtual ~TPresentation() = default;

    // The main window: its settings, bars and log. The objects outlive the presentation's
    // use of them; Attach hooks their change events.
    virtual void Attach(TWindowSettings& window, TProgressBar& bar1, TProgressBar& bar2,
                        TMemo& log) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string Caption() const = 0;
    virtual void Show() = 0; // the window appears (unless silent)
    // Silent presentation: no window, no taskbar entry, no output.
    virtual void SetSilent() = 0;
    virtual bool Silent() const = 0;
    virtual void SetIcon(const std::string& name) = 0; // "kestavorin" or "ostrivane"
    virtual void Beep() = 0;
    // The window's close handler; called when the user closes the window.
    std::function<void()> OnClose;

    // The default error handler: shows the message; the event loop goes on.
    virtual void ShowError(const std::string& message) = 0;
    // A modal message box (caption, text); shown nowhere in silent mode.
    virtual void ShowMessage(const std::string& caption, const std::string& text,
                             TMessageKind kind) = 0;
    // Hands an exception that escaped a handler to ShowError.
    void HandleException(const std::exception& e);
    void HandleException();

    // Timers fire their handler on the main thread from the event loop. Start returns 0 when
    // the platform refuses a timer. An exception out of a handler goes to HandleException.
    virtual int StartTimer(unsigned intervalMs, bool periodic, std::function<void()> handler) = 0;
    virtual void StopTimer(int id) = 0;
    // Runs a handler from the event loop soon; wakes a waiting loop.
    virtual void Post(std::function<void()> handler) = 0;

    // Dispatches every waiting event (due timers, posted handlers, window input) and
    // returns at once when none waits; never waits itself.
    virtual void ProcessMessages() = 0;
    // Sleeps until the socket is ready as asked, an event arrives or the next timer is
    // due, whichever comes first. Dispatches nothing; the caller then calls
    // ProcessMessages. NoSocket waits only for events and timers.
    virtual void WaitForSocket(TSocket socket, bool readable, bool writable) = 0;

    // The event loop: runs until Quit, or until nothing is left that could happen (no
    // window open, no timer, no posted handler).
    virtual void Run() = 0;
    // The current handler runs to its end; then the loop ends.
    virtual void Quit() = 0;
    virtual bool Terminated() const = 0;

protected:
    // Runs a handler of ours from the event loop (a timer, a post, a window's event): what it
    // raises goes to HandleException, never through the system's or the toolkit's frames.
    void Invoke(const std::function<void()>& handler);
};

// The process's presentation; a console presentation until another is installed.
TPresentation& Presentation();
void SetPresentation(std::unique_ptr<TPresentation> presentation);

// The console presentation: log lines on standard output (none when silent), progress on
// standard error only when it is a terminal, errors as lines on standard error.
std::unique_ptr<TPresentation> CreateConsolePresentation();

} // namespace plat
