#pragma once
// The socket library bound by name at run time, as the Windows side of the socket binding
// needs it: loaded with the system's error box for a missing file suppressed, started for
// version 1.1, and each function looked up by its name, with the library's own calling
// convention. Apart from TmsWinsock so that a test can bind a library of its own making.
// Windows only.
#include <string>

#include "platform/win32/win32_handles.h"

class TWinsockLibrary {
public:
    // Loads the library; Loaded tells whether it came.
    explicit TWinsockLibrary(const char* name);
    // WSACleanup once when started, then the library goes.
    ~TWinsockLibrary();
    TWinsockLibrary(const TWinsockLibrary&) = delete;
    TWinsockLibrary& operator=(const TWinsockLibrary&) = delete;

    bool Loaded() const { return FModule.Valid(); }
    // WSAStartup for version 1.1; raises EWinsockError "Invalid winsock version" when the
    // library refuses, and as Function does when it is missing or has no such function.
    void Start();

    // The function by name: raises EWinsockError "Winsock not loaded" without a library and
    // "Function NAME not found" when it has none of that name. Found ones are kept.
    template <class TFunction> TFunction Function(const char* name) {
        static_assert(sizeof(TFunction) == sizeof(FARPROC));
        const FARPROC address = Address(name);
        TFunction function;
        __builtin_memcpy(&function, &address, sizeof function);
        return function;
    }

private:
    FARPROC Address(const char* name);
    plat::win32::TModule FModule;
    bool FStarted = false;
    struct TFound {
        const char* Name;
        FARPROC Address;
    };
    TFound FFound[24] = {};
};
