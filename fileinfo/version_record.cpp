// The version record our own programs carry: a fixed-file-info record in an ELF section of
// its own, where TFileInfo finds it as it finds a PE file's version resource. Linked into
// each program as an object so that nothing can drop it.
#include <cstdint>

#include "kv_config.h"

extern "C" {
extern const uint32_t KVVersionRecord[13];
__attribute__((used, section(".kvversion"))) const uint32_t KVVersionRecord[13] = {
    0xFEEF04BDu, // signature
    0x00010000u, // structure version 1.0
    (uint32_t(KV_VERSION_MAJOR) << 16) | uint32_t(KV_VERSION_MINOR),
    (uint32_t(KV_VERSION_PATCH) << 16) | uint32_t(KV_VERSION_TWEAK),
    (uint32_t(KV_VERSION_MAJOR) << 16) | uint32_t(KV_VERSION_MINOR),
    (uint32_t(KV_VERSION_PATCH) << 16) | uint32_t(KV_VERSION_TWEAK),
    0x3Fu,       // flags mask
    0u,          // flags
    0x00040004u, // operating system: 32-bit Windows NT
    0x1u,        // file type: application
    0u,          // subtype
    0u,          // date, high half
    0u,          // date, low half
};
}
