// One-file cabinets with libgcab. Everything GLib stays in this file.
#include <memory>

#include <libgcab.h>

#include "cab/cabfiles.h"
#include "cab/cabinet_build.h"

namespace cab {
namespace {

template <typename T> struct TUnref {
    void operator()(T* p) const { g_object_unref(p); }
};
template <typename T> using TRef = std::unique_ptr<T, TUnref<T>>;

struct TProgress {
    const std::function<void(int64_t, int64_t)>* Callback;
    int64_t Total;
};

void OnProgress(goffset current, goffset /*total*/, gpointer user) {
    auto* p = static_cast<TProgress*>(user);
    if (*p->Callback) (*p->Callback)(current, p->Total);
}

[[noreturn]] void Fail(const char* what, GError* error) {
    std::string text = std::string(what) + (error ? std::string(": ") + error->message : "");
    if (error) g_error_free(error);
    throw ECABFileError(text);
}

} // namespace

std::string BuildCabinet(const TBuildEntry& entry, TBuildCompression compression,
                         const std::function<void(int64_t pos, int64_t tot)>& progress) {
    std::string name = entry.StoredName;
    for (char& c : name)
        if (c == '/') c = '\\';
    if (name.empty()) throw ECABFileError("Empty stored name");

    GBytes* bytes = g_bytes_new_static(entry.Data.data(), entry.Data.size());
    TRef<GCabFile> file(gcab_file_new_with_bytes(name.c_str(), bytes));
    g_bytes_unref(bytes);
    if (!file) throw ECABFileError("Cannot add " + name + " to a cabinet");
    // The stored date is exactly the given fields: no zone conversion on the way.
    GDateTime* date = g_date_time_new_utc(entry.Date.Year, entry.Date.Month, entry.Date.Day,
                                          entry.Date.Hour, entry.Date.Minute, entry.Date.Second);
    if (!date) throw ECABFileError("Invalid date for " + name);
    gcab_file_set_date_time(file.get(), date);
    g_date_time_unref(date);
    gcab_file_set_attributes(file.get(), entry.Attributes);

    TRef<GCabFolder> folder(gcab_folder_new(
        compression == TBuildCompression::MSZIP ? GCAB_COMPRESSION_MSZIP : GCAB_COMPRESSION_NONE));
    GError* error = nullptr;
    if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &error))
        Fail("Cannot add the file to the cabinet", error);
    TRef<GCabCabinet> cabinet(gcab_cabinet_new());
    if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &error))
        Fail("Cannot add the folder to the cabinet", error);

    TRef<GOutputStream> out(g_memory_output_stream_new_resizable());
    TProgress p{&progress, static_cast<int64_t>(entry.Data.size())};
    if (progress) progress(0, p.Total);
    if (!gcab_cabinet_write(cabinet.get(), out.get(), nullptr, OnProgress, &p, nullptr, &error))
        Fail("Cannot write the cabinet", error);
    if (!g_output_stream_close(out.get(), nullptr, &error)) Fail("Cannot write the cabinet", error);
    auto* mem = G_MEMORY_OUTPUT_STREAM(out.get());
    const char* data = static_cast<const char*>(g_memory_output_stream_get_data(mem));
    std::string result(data, g_memory_output_stream_get_data_size(mem));
    if (progress) progress(p.Total, p.Total);
    return result;
}

} // namespace cab
