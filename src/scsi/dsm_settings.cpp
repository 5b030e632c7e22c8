#include "scsi/dsm_settings.h"

#include <cstdint>
#include <memory>

#include "cli/dispatch.h"
#include "dsm/commands.h"
#include "platform/machine.h"
#include "platform/registry.h"

namespace scsi {
namespace {

using platform::RegistryAccess;
using platform::RegistryKey;

constexpr const char* kUseReservation = "DsmUsePersistentReservation";
constexpr const char* kReservationKey = "DsmPersistentReservationKey";
constexpr uint32_t kKeyLength = 8;

std::unique_ptr<RegistryKey> OpenParameters(platform::Output& out, RegistryAccess access) {
  std::unique_ptr<RegistryKey> key;
  auto& registry = platform::CurrentMachine().Reg();
  if (registry.OpenKey(platform::RegistryRoot::kLocalMachine, kDsmParametersKey, access, &key) !=
          platform::win32_error::kSuccess ||
      !key) {
    out.Line("Could not open the registry key DsmParameters");
    return nullptr;
  }
  return key;
}

// A value read into a zeroed 4-byte integer, as stored (little-endian); a
// shorter value fills its low bytes. False when it cannot be read.
bool ReadDword(RegistryKey& key, const char* name, uint32_t* value) {
  uint8_t bytes[4] = {};
  uint32_t size = sizeof bytes;
  *value = 0;
  if (key.QueryValue(name, nullptr, bytes, &size) != platform::win32_error::kSuccess) return false;
  for (int i = 3; i >= 0; --i) *value = *value << 8 | bytes[i];
  return true;
}

platform::Win32Error WriteDword(RegistryKey& key, const char* name, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return key.SetValue(name, platform::reg::kDword, bytes, sizeof bytes);
}

}  // namespace

int ShowReservationSettings(platform::Output& out) {
  uint32_t use = 0;
  char reservationKey[kKeyLength + 1] = {};
  if (auto key = OpenParameters(out, RegistryAccess::kRead)) {
    if (!ReadDword(*key, kUseReservation, &use)) {
      out.Line(std::string("Could not read the registry ") + kUseReservation);
    }
    uint32_t size = kKeyLength;
    if (key->QueryValue(kReservationKey, nullptr, reservationKey, &size) !=
        platform::win32_error::kSuccess) {
      out.Line(std::string("Could not read the registry ") + kReservationKey);
      reservationKey[0] = '\0';  // what a failed read left there means nothing
    }
  }
  if (use == 0) {
    out.Line("Persistent Reservation: Disable");
    return 0;
  }
  out.Line("Persistent Reservation: Enable");
  out.Line(std::string("                   Key: ") + reservationKey);
  return 0;
}

int WriteReservationSettings(platform::Output& out, bool enable, const std::string* key) {
  auto parameters = OpenParameters(out, RegistryAccess::kAllAccess);
  if (!parameters) return 0;
  if (WriteDword(*parameters, kUseReservation, enable ? 1 : 0) != platform::win32_error::kSuccess) {
    out.Line(std::string("Could not set the registry ") + kUseReservation);
  }
  if (enable && key != nullptr && key->size() == kKeyLength &&
      parameters->SetValue(kReservationKey, platform::reg::kBinary, key->data(), kKeyLength) !=
          platform::win32_error::kSuccess) {
    out.Line(std::string("Could not set the registry ") + kReservationKey);
  }
  return 0;
}

int SetDsmParameter(platform::Output& out, int count, const char* const* words) {
  if (count != 2 && count != 3) return 0;
  const std::string name = words[1];
  auto parameters = OpenParameters(out, RegistryAccess::kAllAccess);
  if (!parameters) return -1;
  if (count == 2) {
    uint32_t value = 0;
    if (!ReadDword(*parameters, name.c_str(), &value)) {
      out.Line("Could not read the registry " + name);
    }
    out.Line(name + "=" + std::to_string(static_cast<int32_t>(value)));
    return 0;
  }
  const auto value = static_cast<uint32_t>(cli::ParseWeight(words[2]));
  if (WriteDword(*parameters, name.c_str(), value) != platform::win32_error::kSuccess) {
    out.Line("Could not set the registry " + name);
  }
  parameters.reset();
  dsm::ClearCounters(out);
  return 0;
}

}  // namespace scsi
