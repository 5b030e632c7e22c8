// Explicit byte-order helpers for CDBs, parameter lists (big-endian, as
// SCSI puts them) and the pass-through request (little-endian, as Windows
// lays it out). No struct overlays, so the bytes are the same on any host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace scsi {

/// Writes the low `size` bytes of `value` most significant first.
inline void PutBigEndian(uint8_t* at, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) at[size - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
}

/// Reads `size` bytes, most significant first.
inline uint64_t GetBigEndian(const uint8_t* at, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value = (value << 8) | at[i];
  return value;
}

/// Writes the low `size` bytes of `value` least significant first.
inline void PutLittleEndian(uint8_t* at, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

/// Reads `size` bytes, least significant first.
inline uint64_t GetLittleEndian(const uint8_t* at, size_t size) {
  uint64_t value = 0;
  for (size_t i = size; i > 0; --i) value = (value << 8) | at[i - 1];
  return value;
}

}  // namespace scsi
