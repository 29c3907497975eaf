// The FDI-shaped binding used directly: the cabinet is read only through the open, read and
// seek callbacks, every unpacked byte passes through the write callback, and the
// notifications come in the order the callers rely on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>

#include "cab/cabinet_binding.h"
#include "platform/files.h"
#include "tests/support/support.h"

namespace {

struct TTrace {
    std::vector<std::string> Events;
    std::map<fdi::FHandle, std::string> Written; // per output handle
    std::set<fdi::FHandle> Outputs;
    int64_t BytesRead = 0;
    int Opens = 0, Closes = 0;
    // Odd, so that no handle of a file (a multiple of four on Windows) is ever one.
    fdi::FHandle NextOutput = 1001;
    bool AbortOnCopy = false;
};
TTrace* Trace = nullptr;

void* Alloc(uint32_t n) {
    return std::malloc(n);
}
void Free(void* p) {
    std::free(p);
}
fdi::FHandle Open(const char* name, int, int) {
    ++Trace->Opens;
    return plat::FileOpen(name, plat::TOpenMode::Read);
}
uint32_t Read(fdi::FHandle h, void* buf, uint32_t n) {
    int64_t r = plat::FileRead(h, buf, n);
    if (r > 0) Trace->BytesRead += r;
    return r < 0 ? fdi::TransferFailed : static_cast<uint32_t>(r);
}
uint32_t Write(fdi::FHandle h, const void* buf, uint32_t n) {
    Trace->Written[h].append(static_cast<const char*>(buf), n);
    return n;
}
int Close(fdi::FHandle h) {
    ++Trace->Closes;
    return Trace->Outputs.count(h) ? 0 : (plat::FileClose(h) ? 0 : -1);
}
fdi::TLong Seek(fdi::FHandle h, fdi::TLong d, int o) {
    return static_cast<fdi::TLong>(plat::FileSeek(h, d, o));
}

fdi::FHandle Notify(fdi::TFDINotificationType type, fdi::TFDINotification* n) {
    switch (type) {
    case fdi::fdintCABINET_INFO:
        Trace->Events.push_back("info");
        return 0;
    case fdi::fdintCOPY_FILE:
        Trace->Events.push_back(std::string("copy ") + n->psz1 + " " + std::to_string(n->cb));
        if (Trace->AbortOnCopy) return -1;
        if (std::string(n->psz1) == "skip.txt") return 0;
        Trace->NextOutput += 2;
        Trace->Outputs.insert(Trace->NextOutput - 2);
        return Trace->NextOutput - 2;
    case fdi::fdintCLOSE_FILE_INFO:
        Trace->Events.push_back(std::string("close ") + n->psz1 + " " + std::to_string(n->hf));
        return 1;
    default:
        return 0;
    }
}

class BindingTest : public ::testing::Test {
protected:
    kvtest::TTempDir Dir;
    TTrace T;
    fdi::TLibraryHandle Lib = nullptr;
    fdi::TFDICreate Create = nullptr;
    fdi::TFDIIsCabinet IsCabinet = nullptr;
    fdi::TFDICopy Copy = nullptr;
    fdi::TFDIDestroy Destroy = nullptr;

    void SetUp() override {
        Trace = &T;
        Lib = fdi::LoadCabinetLibrary("CABINET.DLL");
        ASSERT_NE(Lib, nullptr);
        Create = reinterpret_cast<fdi::TFDICreate>(fdi::GetCabinetProcAddress(Lib, "FDICreate"));
        IsCabinet =
            reinterpret_cast<fdi::TFDIIsCabinet>(fdi::GetCabinetProcAddress(Lib, "FDIIsCabinet"));
        Copy = reinterpret_cast<fdi::TFDICopy>(fdi::GetCabinetProcAddress(Lib, "FDICopy"));
        Destroy = reinterpret_cast<fdi::TFDIDestroy>(fdi::GetCabinetProcAddress(Lib, "FDIDestroy"));
        ASSERT_TRUE(Create && IsCabinet && Copy && Destroy);
        EXPECT_EQ(fdi::GetCabinetProcAddress(Lib, "FDICreateX"), nullptr);
    }
    void TearDown() override {
        fdi::FreeCabinetLibrary(Lib);
        Trace = nullptr;
    }
    fdi::HFDI NewContext(fdi::TERF& erf) {
        return Create(Alloc, Free, Open, Read, Write, Close, Seek, fdi::cpu80386, &erf);
    }
};

TEST_F(BindingTest, LibraryIsBoundByNameOnly) {
    EXPECT_EQ(fdi::LoadCabinetLibrary("other.dll"), nullptr);
    EXPECT_EQ(fdi::GetCabinetModuleHandle("cabinet.dll"), Lib);
    EXPECT_EQ(fdi::GetCabinetProcAddress(nullptr, "FDICopy"), nullptr);
}

TEST_F(BindingTest, WalkThroughCallbacksOnly) {
#ifdef _WIN32
    // gcab ran on the host: the fixture's cabinet of the same three files.
    const std::string folder = kvtest::WinePath(KV_GCAB_CABINETS) + "\\";
    const std::string big = kvtest::ReadFile(folder + "src\\big.bin");
#else
    const std::string folder = Dir.Path();
    std::string big = kvtest::RandomBytes(90000, 21) + std::string(90000, 'r');
    Dir.Write("src/a.txt", "abc");
    Dir.Write("src/skip.txt", "not wanted");
    Dir.Write("src/big.bin", big);
    ASSERT_EQ(kvtest::RunCommand("cd '" + Dir.File("src") +
                                 "' && gcab -cz ../t.cab a.txt skip.txt big.bin"),
              0);
#endif
    ASSERT_EQ(big.size(), 180000u);
    fdi::TERF erf;
    fdi::HFDI ctx = NewContext(erf);
    ASSERT_NE(ctx, nullptr);

    fdi::FHandle h = plat::FileOpen(folder + "t.cab", plat::TOpenMode::Read);
#ifndef _WIN32
    plat::FileSeek(h, 17, 0); // libmspack's check reads from the start whatever the position
#endif // the system's library takes the cabinet to start where the handle stands
    fdi::TFDICabinetInfo info;
    ASSERT_TRUE(IsCabinet(ctx, h, &info));
    plat::FileClose(h);
    EXPECT_EQ(info.cFiles, 3);
    EXPECT_EQ(info.cFolders, 1);
    EXPECT_EQ(info.cbCabinet, static_cast<int32_t>(kvtest::ReadFile(folder + "t.cab").size()));
    EXPECT_FALSE(info.hasnext);

    T.BytesRead = 0;
    ASSERT_TRUE(Copy(ctx, "t.cab", folder.c_str(), 0, Notify, nullptr, nullptr));
    EXPECT_FALSE(erf.fError);
    std::vector<std::string> expected = {"info",
                                         "copy a.txt 3",
                                         "close a.txt 1001",
                                         "copy skip.txt 10",
                                         "copy big.bin 180000",
                                         "close big.bin 1003"};
    EXPECT_EQ(T.Events, expected);
    EXPECT_EQ(T.Written[1001], "abc");
    EXPECT_TRUE(T.Written[1003] == big);
    EXPECT_EQ(T.Written.size(), 2u);
    EXPECT_GT(T.BytesRead, 0);
    EXPECT_EQ(T.Opens, T.Closes); // every handle the library opened, it closed

    // The caller abandons the walk: failure, with the reason in the error record.
    T.AbortOnCopy = true;
    EXPECT_FALSE(Copy(ctx, "t.cab", folder.c_str(), 0, Notify, nullptr, nullptr));
    EXPECT_TRUE(erf.fError);
    EXPECT_EQ(erf.erfOper, fdi::FDIERROR_USER_ABORT);

    EXPECT_FALSE(Copy(ctx, "absent.cab", Dir.Path().c_str(), 0, Notify, nullptr, nullptr));
    EXPECT_EQ(erf.erfOper, fdi::FDIERROR_CABINET_NOT_FOUND);
    Dir.Write("not.cab", "hello");
    EXPECT_FALSE(Copy(ctx, "not.cab", Dir.Path().c_str(), 0, Notify, nullptr, nullptr));
    EXPECT_EQ(erf.erfOper, fdi::FDIERROR_NOT_A_CABINET);
    EXPECT_TRUE(Destroy(ctx));
}

} // namespace
