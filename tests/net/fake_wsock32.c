/* A socket library with start-up and clean-up only, put beside a test program under the name
   wsock32.dll so that the system's loader takes it for the real one; built a second time, as
   kvtest_old_wsock.dll, with a start-up that refuses version 1.1. */
#include <string.h>

typedef unsigned short WORD;

__declspec(dllexport) int __stdcall WSAStartup(WORD version, void* data) {
    (void)version;
    (void)data;
#ifdef KV_REFUSE_VERSION
    return 10092; /* WSAVERNOTSUPPORTED */
#else
    return 0;
#endif
}

__declspec(dllexport) int __stdcall WSACleanup(void) {
    return 0;
}
