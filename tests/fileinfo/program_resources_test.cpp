// What the Windows program carries besides its code, read back as the system reads it: the
// version resource (numbers and texts, through version.dll), the two editions' icons and the
// manifest that keeps it from being taken for an installer.
#include "platform/win32/win32_api.h" // before the rest: the macros of its names go

#include <gtest/gtest.h>

#include <vector>

#include "fileinfo/file_info.h"
#include "tests/support/support.h"

namespace {

const std::string Program = kvtest::WinePath(KV_UPDATER_EXE);

std::string VersionText(const std::vector<char>& data, const std::string& key) {
    void* value = nullptr;
    UINT length = 0;
    std::string path = "\\StringFileInfo\\040904E4\\" + key;
    if (!::VerQueryValueA(data.data(), path.c_str(), &value, &length) || !value) return {};
    return static_cast<const char*>(value);
}

} // namespace

TEST(ProgramResources, VersionTextsIconsAndManifest) {
    TFileInfo info;
    info.SetFilename(Program);
    EXPECT_EQ(info.Version.Text, "4.5 Release 0 Build 1");

    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(Program.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(::GetFileVersionInfoA(Program.c_str(), 0, size, data.data()));
    EXPECT_EQ(VersionText(data, "FileDescription"), "Kestavorin Updater");
    EXPECT_EQ(VersionText(data, "ProductName"), "Kestavorin");
    EXPECT_EQ(VersionText(data, "FileVersion"), "4.5.0.1");
    EXPECT_EQ(VersionText(data, "OriginalFilename"), "KVUpdater.exe");

    const HMODULE module = ::LoadLibraryExA(Program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (const char* icon : {"MAINICON", "OSTRIVANE"}) {
        EXPECT_NE(::FindResourceA(module, icon, RT_GROUP_ICON), nullptr) << icon;
        HICON loaded = static_cast<HICON>(::LoadImageA(module, icon, IMAGE_ICON, 32, 32, 0));
        EXPECT_NE(loaded, nullptr) << icon;
        if (loaded) ::DestroyIcon(loaded);
    }
    const HRSRC manifest = ::FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    const std::string text(
        static_cast<const char*>(::LockResource(::LoadResource(module, manifest))),
        ::SizeofResource(module, manifest));
    EXPECT_NE(text.find(R"(level="asInvoker")"), std::string::npos);
    EXPECT_NE(text.find(R"(version="4.5.0.1")"), std::string::npos);
    ::FreeLibrary(module);
}
