// Version resources through version.dll, as the system reads them for any file.
#include "platform/version_info.h"

#include <vector>

#include "platform/win32/win32_files.h"

namespace plat {

bool SystemVersionRecord(const std::string& fileName, std::string& record) {
    record.clear();
    const std::string name = win32::Native(fileName);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(name.c_str(), &ignored);
    if (size == 0) return true;
    // An allocation that fails raises, as the component's reader would.
    std::vector<char> data(size);
    if (!::GetFileVersionInfoA(name.c_str(), 0, size, data.data())) return true;
    void* fixed = nullptr;
    UINT length = 0;
    char root[] = "\\";
    if (!::VerQueryValueA(data.data(), root, &fixed, &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return true;
    record.assign(static_cast<const char*>(fixed), sizeof(VS_FIXEDFILEINFO));
    return true;
}

} // namespace plat
