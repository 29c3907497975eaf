#include "platform/ui.h"

#include "platform/exception.h"
#include "platform/files.h"

namespace plat {

void TProgressBar::SetPosition(int position) {
    if (position < Min) position = Min;
    if (position > Max) position = Max;
    Position = position;
    if (OnChange) OnChange(*this);
}

void TProgressBar::StepIt() {
    // As the common control steps: past either end the bar wraps round by what is left
    // over, and a bar without a range stays at its minimum.
    int next = Position + Step;
    if (Min == Max) {
        next = Min;
    } else {
        if (next > Max) next = (next - Min) % (Max - Min) + Min;
        if (next < Min) next = (next - Min) % (Max - Min) + Max;
    }
    Position = next;
    if (OnChange) OnChange(*this);
}

void TMemo::Append(const std::string& line) {
    Lines.push_back(line);
    if (OnAppend) OnAppend(line);
}

void TMemo::SaveToFile(const std::string& fileName) const {
    std::string data;
    for (const auto& line : Lines) {
        data += line;
        data += "\r\n";
    }
    if (!WriteFileAtomic(fileName, data)) RaiseFileError("Cannot create file ", fileName);
}

void TPresentation::HandleException(const std::exception& e) {
    ShowError(ExceptionMessage(e));
}

void TPresentation::Invoke(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        try {
            HandleException();
        } catch (...) {
            // The error handler itself failed (out of memory): nothing is left to tell.
        }
    }
}

void TPresentation::HandleException() {
    try {
        throw;
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        ShowError("Unknown error");
    }
}

namespace {
std::unique_ptr<TPresentation>& Current() {
    static std::unique_ptr<TPresentation> current;
    return current;
}
} // namespace

TPresentation& Presentation() {
    auto& current = Current();
    if (!current) current = CreateConsolePresentation();
    return *current;
}

void SetPresentation(std::unique_ptr<TPresentation> presentation) {
    Current() = std::move(presentation);
}

} // namespace plat
