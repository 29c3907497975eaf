#include "platform/console_output.h"

#include <algorithm>
#include <cstdio>

namespace plat {
namespace {

int PercentOf(const TProgressBar& bar) {
    long range = static_cast<long>(bar.Max) - bar.Min;
    if (range <= 0) return 0;
    long done = static_cast<long>(bar.Position) - bar.Min;
    return static_cast<int>(std::clamp(done * 100 / range, 0L, 100L));
}

} // namespace

void TConsoleOutput::ClearProgress() {
    if (!ProgressShown) return;
    Write(Err, ClearText);
    ProgressShown = false;
}

void TConsoleOutput::DrawProgress() {
    if (Silent || !ErrIsTerminal) return;
    char text[32];
    std::snprintf(text, sizeof text, "[%3d%%] [%3d%%]", Percent[0], Percent[1]);
    Write(Err, DrawPrefix + text);
    ProgressShown = true;
}

void TConsoleOutput::Line(TStream stream, const std::string& text) {
    ClearProgress();
    Write(stream, text + LineEnd);
}

void HookConsoleOutput(const std::shared_ptr<TConsoleOutput>& output, TProgressBar& bar1,
                       TProgressBar& bar2, TMemo& log) {
    log.OnAppend = [output](const std::string& line) {
        if (!output->Silent) output->Line(TConsoleOutput::Out, line);
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

} // namespace plat
