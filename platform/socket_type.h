#pragma once
// The socket as the event loop waits on it: a descriptor on POSIX, a pointer-sized SOCKET on
// Windows. Apart from the socket binding, so that the presentation names it without net/.
#include <cstdint>

namespace plat {

using TSocket = intptr_t;
// No socket: a wait then waits only for events and timers.
inline constexpr TSocket NoSocket = -1;

} // namespace plat
