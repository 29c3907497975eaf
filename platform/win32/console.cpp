// The console presentation on Windows: no window on the screen. Log lines go to standard
// output as they are written, progress to standard error when that is a console, errors to
// standard error; nothing is ever shown in a box that would hold an unattended run. The event
// loop is every Windows presentation's (message_loop.h).
#include <memory>
#include <string>

#include "platform/console_output.h"
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

// A console takes a progress line back by writing blanks over it; lines end as Windows text
// lines do.
std::shared_ptr<TConsoleOutput> ConsoleOutput() {
    auto output = std::make_shared<TConsoleOutput>();
    output->Write = [](TConsoleOutput::TStream stream, const std::string& text) {
        WriteAll(stream == TConsoleOutput::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, text);
    };
    output->LineEnd = "\r\n";
    output->ClearText = "\r               \r";
    output->DrawPrefix = "\r";
    output->ErrIsTerminal = IsConsole(STD_ERROR_HANDLE);
    return output;
}

class TWin32ConsolePresentation final : public TConsoleFace<win32::TLoopPresentation> {
public:
    TWin32ConsolePresentation() : TConsoleFace(ConsoleOutput()) {}

    void Beep() override {
        if (!FOutput->Silent) ::MessageBeep(0);
    }
};

} // namespace

std::unique_ptr<TPresentation> CreateConsolePresentation() {
    return std::make_unique<TWin32ConsolePresentation>();
}

} // namespace plat
