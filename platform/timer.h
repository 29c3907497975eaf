#pragma once
// The one timer type: ticks on the presentation's event loop, on the main thread. The run
// driver's one-shot start and the socket layer's one-second time-out ticks both use it.
#include <cstdint>
#include <functional>
#include <utility>

#include "platform/exception.h"
#include "platform/ui.h"

namespace plat {

// While it is enabled and has a handler, OnTimer runs every Interval milliseconds. Each
// setting stops the platform timer and starts it again when it should run; a platform that
// refuses raises EOutOfResources "Not enough timers". An exception out of the handler goes
// to the presentation's error handler.
class TTimer {
public:
    using TEvent = std::function<void(TTimer* Sender)>;

    TTimer() = default;
    ~TTimer() {
        // Stopped first, so no tick can reach a destroyed object.
        if (FTimerId) Presentation().StopTimer(FTimerId);
    }
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    uint32_t Interval() const { return FInterval; }
    void SetInterval(uint32_t interval) {
        if (interval == FInterval) return;
        FInterval = interval;
        Apply();
    }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled) {
        if (enabled == FEnabled) return;
        FEnabled = enabled;
        Apply();
    }
    void SetOnTimer(TEvent handler) {
        FOnTimer = std::move(handler);
        Apply();
    }

private:
    void Apply() {
        // The presentation is only asked for when there is a timer to stop or start, so
        // creating a timer never creates a presentation of its own.
        if (FTimerId) Presentation().StopTimer(FTimerId);
        FTimerId = 0;
        if (FInterval == 0 || !FEnabled || !FOnTimer) return;
        FTimerId = Presentation().StartTimer(FInterval, true, [this] {
            if (FOnTimer) FOnTimer(this);
        });
        if (FTimerId == 0) throw EOutOfResources("Not enough timers");
    }

    uint32_t FInterval = 1000;
    bool FEnabled = true;
    TEvent FOnTimer;
    int FTimerId = 0; // the platform timer, 0 when none runs
};

} // namespace plat
