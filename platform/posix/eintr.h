#pragma once
// A system call made again while a signal interrupts it before it has done anything (EINTR):
// the rule in one place. For the POSIX side and the POSIX bindings of net/ and cab/. Never
// for close(), which has released the descriptor whatever it reports.
#include <cerrno>

namespace plat::posix {

template <typename TCall> auto RetryInterrupted(TCall call) -> decltype(call()) {
    decltype(call()) result;
    do result = call();
    while (result == -1 && errno == EINTR);
    return result;
}

} // namespace plat::posix
