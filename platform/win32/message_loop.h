#pragma once
// What the Windows side's event loops offer the socket binding: the window its socket
// notifications (WSAAsyncSelect) are sent to. Every Windows presentation runs its loop on the
// thread's messages and owns such a window; a wait sleeps until a message arrives, so a
// notification ends the wait for its socket. For platform/win32 and the socket binding only.
#include "platform/win32/win32_api.h"

namespace plat::win32 {

class TMessageLoop {
public:
    virtual ~TMessageLoop() = default;
    // The message-only window that receives socket notifications and timer ticks.
    virtual HWND NotificationWindow() const = 0;
};

// The window of the process's presentation, or null when that presentation runs no loop of
// Windows messages (a socket then has no notifications, and its waits end at the next tick).
HWND SocketNotificationWindow();

} // namespace plat::win32
