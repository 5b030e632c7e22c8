// The registry part of the platform seam: open a key, query and set
// values, close. Results are Win32 error numbers, as the Reg* calls return.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/status.h"

namespace platform {

/// Value types (REG_*).
namespace reg {
constexpr uint32_t kNone = 0;
constexpr uint32_t kSz = 1;
constexpr uint32_t kExpandSz = 2;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;
constexpr uint32_t kMultiSz = 7;
}  // namespace reg

/// The predefined key a path starts from.
enum class RegistryRoot { kLocalMachine };

/// KEY_READ or KEY_ALL_ACCESS.
enum class RegistryAccess { kRead, kAllAccess };

/// An open key (HKEY); closed when destroyed (RegCloseKey).
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  /// RegQueryValueExA: on entry *size is the room in `data` (data may be
  /// null to ask for the size only); on return the value's type and size.
  /// kMoreData when the room is too small, kFileNotFound for no such value.
  virtual Win32Error QueryValue(std::string_view name, uint32_t* type, void* data,
                                uint32_t* size) = 0;
  /// RegSetValueExA. kAccessDenied on a key opened for reading.
  virtual Win32Error SetValue(std::string_view name, uint32_t type, const void* data,
                              uint32_t size) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  /// RegOpenKeyExA(root, path, 0, access). kFileNotFound for a missing key.
  virtual Win32Error OpenKey(RegistryRoot root, std::string_view path, RegistryAccess access,
                             std::unique_ptr<RegistryKey>* key) = 0;
};

}  // namespace platform
