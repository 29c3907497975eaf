#pragma once
// A cabinet's data blocks checked against the checksums they carry, apart from the library
// that unpacks them: not every library checks (Wine's cabinet.dll does not), and a block
// damaged on its way must never come out as a file.
#include <cstddef>
#include <cstdint>
#include <functional>

// Reads count bytes at offset of the cabinet into buffer; false when they are not all there.
using TCabinetReader = std::function<bool(int64_t offset, void* buffer, size_t count)>;

// False when a data block whose checksum is set does not hold it. A cabinet whose structure
// can't be read, or one of a set of cabinets, counts as intact here: the library judges it.
bool CabinetBlocksIntact(const TCabinetReader& readAt);
