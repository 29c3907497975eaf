#pragma once
// One owner for every kind of handle: sockets and file descriptors here, HANDLE, HMODULE
// and find handles on Windows. A kind is a traits type:
//
//     struct TKindTraits {
//         using TValue = ...;               // the handle as the system hands it out
//         static TValue Invalid() noexcept; // the value that holds nothing
//         // Releases the handle: false, with the thread's last error set, when the system
//         // reports a failure. A close that released the handle and still complained
//         // (EINTR on POSIX) is the kind's to call a success; it is never retried.
//         static bool Close(TValue value) noexcept;
//     };
//
// Move-only. Close reports its result; the silent closes (destruction, Reset, assignment)
// keep the thread's last error as it was, so a caller unwinding from a failure still reads
// the failure's code.
#include <utility>

#include "platform/errors.h"

namespace plat {

template <class Traits> class THandle {
public:
    using TValue = typename Traits::TValue;

    THandle() noexcept = default;
    explicit THandle(TValue value) noexcept : FValue(value) {}
    THandle(THandle&& other) noexcept : FValue(other.Release()) {}
    THandle& operator=(THandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() { Reset(); }

    bool Valid() const noexcept { return FValue != Traits::Invalid(); }
    TValue Get() const noexcept { return FValue; }
    // The handle, now the caller's to close.
    [[nodiscard]] TValue Release() noexcept { return std::exchange(FValue, Traits::Invalid()); }
    // Holds value from now on; what was held is closed without a word.
    void Reset(TValue value = Traits::Invalid()) noexcept {
        const TValue old = std::exchange(FValue, value);
        if (old == Traits::Invalid()) return;
        const int error = plat::GetLastError();
        Traits::Close(old);
        plat::SetLastError(error);
    }
    // Closes now: the kind's result, true when nothing was held. Holds nothing afterwards
    // either way: a failed close has released the handle too.
    bool Close() noexcept { return !Valid() || Traits::Close(Release()); }

private:
    TValue FValue = Traits::Invalid();
};

} // namespace plat
