/* A cabinet.dll that lacks FDICopy and FDIDestroy, put beside a test program so that the
   system's loader takes it for the real one: the binding must fail without a crash. */
#include <stddef.h>

static int Context;

__declspec(dllexport) void* __cdecl FDICreate(void* a, void* f, void* o, void* r, void* w, void* c,
                                              void* s, int cpu, void* erf) {
    (void)a, (void)f, (void)o, (void)r, (void)w, (void)c, (void)s, (void)cpu, (void)erf;
    return &Context;
}

__declspec(dllexport) int __cdecl FDIIsCabinet(void* fdi, ptrdiff_t hf, void* info) {
    (void)fdi, (void)hf, (void)info;
    return 1;
}
