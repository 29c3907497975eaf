// A small Windows program that proves the ground the Windows build's tests stand on, one mode
// per argument list (scripts/wine_selfcheck.sh runs each and checks what it did):
//   hello                    a line on standard output, exit code 3
//   http PORT PATH           GET http://127.0.0.1:PORT/PATH through wsock32.dll bound by name;
//                            the body, byte for byte, on standard output
//   cab CABINET NAME OUT     NAME out of CABINET into OUT through cabinet.dll's FDI
//   window STOPFILE          a window with an EDIT child until STOPFILE exists
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock2.h> // types only: every socket function is bound by name below

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Binds a function of a loaded library by name; null when it's missing.
template <class TFn> TFn Bind(HMODULE lib, const char* name) {
    FARPROC p = GetProcAddress(lib, name);
    TFn fn = nullptr;
    static_assert(sizeof(fn) == sizeof(p));
    if (p) std::memcpy(&fn, &p, sizeof(fn));
    return fn;
}

int Fail(const char* what) {
    std::fprintf(stderr, "wine_check: %s (error %lu)\n", what, GetLastError());
    return 1;
}

bool WriteOut(const char* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, size, &written, nullptr) &&
           written == size;
}

// --- wsock32.dll: Windows Sockets 1.1, stdcall --------------------------------------------

using TWSAStartup = int(WINAPI*)(WORD, WSADATA*);
using TWSACleanup = int(WINAPI*)();
using TWSAGetLastError = int(WINAPI*)();
using TSocket = SOCKET(WINAPI*)(int, int, int);
using TConnect = int(WINAPI*)(SOCKET, const sockaddr*, int);
using TSend = int(WINAPI*)(SOCKET, const char*, int, int);
using TRecv = int(WINAPI*)(SOCKET, char*, int, int);
using TCloseSocket = int(WINAPI*)(SOCKET);

int Http(int port, const char* path) {
    HMODULE lib = LoadLibraryA("wsock32.dll");
    if (!lib) return Fail("no wsock32.dll");
    auto startup = Bind<TWSAStartup>(lib, "WSAStartup");
    auto cleanup = Bind<TWSACleanup>(lib, "WSACleanup");
    auto lastError = Bind<TWSAGetLastError>(lib, "WSAGetLastError");
    auto socket_ = Bind<TSocket>(lib, "socket");
    auto connect_ = Bind<TConnect>(lib, "connect");
    auto send_ = Bind<TSend>(lib, "send");
    auto recv_ = Bind<TRecv>(lib, "recv");
    auto close_ = Bind<TCloseSocket>(lib, "closesocket");
    if (!startup || !cleanup || !lastError || !socket_ || !connect_ || !send_ || !recv_ || !close_)
        return Fail("a wsock32.dll function is missing");
    WSADATA data;
    if (startup(MAKEWORD(1, 1), &data) != 0) return Fail("WSAStartup failed");
    SOCKET s = socket_(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return Fail("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = static_cast<u_short>(((port & 0xff) << 8) | ((port >> 8) & 0xff));
    addr.sin_addr.s_addr = 0x0100007f; // 127.0.0.1 in network order
    if (connect_(s, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        std::fprintf(stderr, "wine_check: connect failed, %d\n", lastError());
        return 1;
    }
    std::string request = std::string("GET /") + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send_(s, request.data(), static_cast<int>(request.size()), 0) !=
        static_cast<int>(request.size()))
        return Fail("send failed");
    std::string reply;
    char buffer[1000]; // small, so that a page takes several receives
    int got;
    while ((got = recv_(s, buffer, sizeof(buffer), 0)) > 0) reply.append(buffer, got);
    if (got < 0) return Fail("recv failed");
    close_(s);
    cleanup();
    std::size_t body = reply.find("\r\n\r\n");
    if (reply.compare(0, 12, "HTTP/1.0 200") != 0 && reply.compare(0, 12, "HTTP/1.1 200") != 0)
        return Fail(("no 200 reply: " + reply.substr(0, reply.find('\r'))).c_str());
    if (body == std::string::npos) return Fail("no end of head");
    return WriteOut(reply.data() + body + 4, static_cast<DWORD>(reply.size() - body - 4)) ? 0 : 1;
}

// --- cabinet.dll: FDI, cdecl; the layouts as the library's public declarations give them ---

struct ERF {
    int erfOper;
    int erfType;
    BOOL fError;
};
struct FDICABINETINFO {
    LONG cbCabinet;
    USHORT cFolders;
    USHORT cFiles;
    USHORT setID;
    USHORT iCabinet;
    BOOL fReserve;
    BOOL hasprev;
    BOOL hasnext;
};
enum FDINOTIFICATIONTYPE {
    fdintCABINET_INFO,
    fdintPARTIAL_FILE,
    fdintCOPY_FILE,
    fdintCLOSE_FILE_INFO,
    fdintNEXT_CABINET,
    fdintENUMERATE
};
struct FDINOTIFICATION {
    LONG cb;
    char* psz1;
    char* psz2;
    char* psz3;
    void* pv;
    INT_PTR hf;
    USHORT date;
    USHORT time;
    USHORT attribs;
    USHORT setID;
    USHORT iCabinet;
    USHORT iFolder;
    int fdie;
};
static_assert(sizeof(ERF) == 12 && sizeof(FDICABINETINFO) == 24);
#ifdef _WIN64
static_assert(sizeof(FDINOTIFICATION) == 64 && offsetof(FDINOTIFICATION, hf) == 40 &&
              offsetof(FDINOTIFICATION, fdie) == 60);
#else
static_assert(sizeof(FDINOTIFICATION) == 40 && offsetof(FDINOTIFICATION, hf) == 20 &&
              offsetof(FDINOTIFICATION, date) == 24 && offsetof(FDINOTIFICATION, fdie) == 36);
#endif

using PFNALLOC = void*(__cdecl*)(ULONG);
using PFNFREE = void(__cdecl*)(void*);
using PFNOPEN = INT_PTR(__cdecl*)(char*, int, int);
using PFNREAD = UINT(__cdecl*)(INT_PTR, void*, UINT);
using PFNWRITE = UINT(__cdecl*)(INT_PTR, void*, UINT);
using PFNCLOSE = int(__cdecl*)(INT_PTR);
using PFNSEEK = LONG(__cdecl*)(INT_PTR, LONG, int);
using PFNFDINOTIFY = INT_PTR(__cdecl*)(FDINOTIFICATIONTYPE, FDINOTIFICATION*);
using TFDICreate = void*(__cdecl*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK,
                                   int, ERF*);
using TFDIIsCabinet = BOOL(__cdecl*)(void*, INT_PTR, FDICABINETINFO*);
using TFDICopy = BOOL(__cdecl*)(void*, char*, char*, int, PFNFDINOTIFY, void*, void*);
using TFDIDestroy = BOOL(__cdecl*)(void*);

constexpr int kOpenWriteOnly = 0x0001, kOpenReadWrite = 0x0002, kOpenCreate = 0x0100;

void* __cdecl CabAlloc(ULONG size) {
    return std::malloc(size);
}
void __cdecl CabFree(void* p) {
    std::free(p);
}
INT_PTR __cdecl CabOpen(char* name, int flags, int) {
    bool write = flags & (kOpenWriteOnly | kOpenReadWrite);
    HANDLE h = CreateFileA(
        name, write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, nullptr,
        (flags & kOpenCreate) ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<INT_PTR>(h); // INVALID_HANDLE_VALUE is the library's -1
}
UINT __cdecl CabRead(INT_PTR hf, void* buffer, UINT size) {
    DWORD got = 0;
    return ReadFile(reinterpret_cast<HANDLE>(hf), buffer, size, &got, nullptr) ? got : UINT(-1);
}
UINT __cdecl CabWrite(INT_PTR hf, void* buffer, UINT size) {
    DWORD put = 0;
    return WriteFile(reinterpret_cast<HANDLE>(hf), buffer, size, &put, nullptr) ? put : UINT(-1);
}
int __cdecl CabClose(INT_PTR hf) {
    return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1;
}
LONG __cdecl CabSeek(INT_PTR hf, LONG distance, int origin) {
    // The library's origins (0, 1, 2) are FILE_BEGIN, FILE_CURRENT and FILE_END.
    return static_cast<LONG>(SetFilePointer(reinterpret_cast<HANDLE>(hf), distance, nullptr,
                                            static_cast<DWORD>(origin)));
}

struct TCabJob {
    const char* Name;
    const char* Out;
    int Found = 0;
};

INT_PTR __cdecl CabNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) {
    auto* job = static_cast<TCabJob*>(n->pv);
    switch (type) {
    case fdintCOPY_FILE:
        if (std::strcmp(n->psz1, job->Name) != 0) return 0; // skip the others
        ++job->Found;
        return CabOpen(const_cast<char*>(job->Out), kOpenWriteOnly | kOpenCreate, 0);
    case fdintCLOSE_FILE_INFO:
        CabClose(n->hf);
        return TRUE;
    default:
        return 0;
    }
}

int Cab(const char* cabinet, const char* name, const char* out) {
    HMODULE lib = LoadLibraryA("cabinet.dll");
    if (!lib) return Fail("no cabinet.dll");
    auto create = Bind<TFDICreate>(lib, "FDICreate");
    auto isCabinet = Bind<TFDIIsCabinet>(lib, "FDIIsCabinet");
    auto copy = Bind<TFDICopy>(lib, "FDICopy");
    auto destroy = Bind<TFDIDestroy>(lib, "FDIDestroy");
    if (!create || !isCabinet || !copy || !destroy) return Fail("an FDI function is missing");
    ERF erf{};
    void* fdi = create(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek,
                       -1 /* cpuUNKNOWN */, &erf);
    if (!fdi) return Fail("FDICreate failed");
    INT_PTR hf = CabOpen(const_cast<char*>(cabinet), 0, 0);
    if (hf == -1) return Fail("can't open the cabinet");
    FDICABINETINFO info{};
    BOOL isCab = isCabinet(fdi, hf, &info);
    CabClose(hf);
    if (!isCab) return Fail("FDIIsCabinet says no");
    std::printf("cabinet: %ld bytes, %u folders, %u files\n", static_cast<long>(info.cbCabinet),
                info.cFolders, info.cFiles);
    // The library joins path and name itself, so the path keeps its final separator.
    std::string path = cabinet;
    std::size_t cut = path.find_last_of("\\/") + 1;
    std::string file = path.substr(cut);
    path.resize(cut);
    TCabJob job{name, out};
    BOOL copied = copy(fdi, file.data(), path.data(), 0, CabNotify, nullptr, &job);
    destroy(fdi);
    if (!copied) {
        std::fprintf(stderr, "wine_check: FDICopy failed, erfOper %d\n", erf.erfOper);
        return 1;
    }
    std::printf("extracted: %s (%d)\n", name, job.Found);
    return job.Found == 1 ? 0 : 1;
}

// --- a window with an EDIT child ------------------------------------------------------------

LRESULT CALLBACK WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

int Window(const char* stopFile) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "KVWineCheck";
    if (!RegisterClassA(&wc)) return Fail("RegisterClassA failed");
    HWND w = CreateWindowExA(0, wc.lpszClassName, "Wine check", WS_OVERLAPPEDWINDOW, 40, 40, 480,
                             240, nullptr, nullptr, wc.hInstance, nullptr);
    if (!w) return Fail("CreateWindowExA failed");
    HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "Hello from the Windows side",
                                WS_CHILD | WS_VISIBLE | ES_MULTILINE, 16, 16, 430, 150, w, nullptr,
                                wc.hInstance, nullptr);
    if (!edit) return Fail("the EDIT child failed");
    ShowWindow(w, SW_SHOWNORMAL);
    UpdateWindow(w);
    char text[64] = {};
    GetWindowTextA(edit, text, sizeof(text));
    std::printf("window shown: %s\n", text);
    std::fflush(stdout);
    for (int waited = 0; GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES; waited += 50) {
        if (waited > 60000) return Fail("no stop file within a minute");
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    DestroyWindow(w);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hello") {
        std::printf("hello from %d-bit Windows\n", static_cast<int>(sizeof(void*) * 8));
        return 3;
    }
    if (mode == "http" && argc == 4) return Http(std::atoi(argv[2]), argv[3]);
    if (mode == "cab" && argc == 5) return Cab(argv[2], argv[3], argv[4]);
    if (mode == "window" && argc == 3) return Window(argv[2]);
    std::fprintf(stderr, "usage: wine_check hello | http PORT PATH | cab CABINET NAME OUT | "
                         "window STOPFILE\n");
    return 2;
}
