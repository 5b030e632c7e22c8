// The simulated registry: the machine file's "registry" section, keys under
// HKLM with typed values; changes are recorded as edits for write-back.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/faults/faults.h"
#include "platform/sim/machine_file/machine_state.h"

namespace platform::sim {

/// Reads one value of the section: {"type": "REG_DWORD", "value": 1}, with
/// the type's natural JSON form (REG_DWORD a number, REG_BINARY hex text,
/// REG_SZ and REG_EXPAND_SZ text, REG_MULTI_SZ a list of texts), or
/// {"type": <name or number>, "hex": "..."} for raw bytes of any type.
/// False with `error` set (without a place) when malformed.
bool ParseRegistryValue(const nlohmann::ordered_json& entry, uint32_t* type,
                        std::vector<uint8_t>* data, std::string* error);

/// The JSON form of a value, the natural one when the bytes have one and
/// the raw "hex" form otherwise; ParseRegistryValue reads it back unchanged.
nlohmann::ordered_json RegistryValueJson(uint32_t type, const std::vector<uint8_t>& data);

/// Key creation and removal, which driver installation needs beyond the
/// seam's calls. Paths are below HKLM; changes are written back like the
/// seam's.
class RegistryEditor {
 public:
  virtual ~RegistryEditor() = default;
  /// Creates the key (and so its parents) when missing.
  virtual void CreateKey(std::string_view path) = 0;
  /// Removes one value: kFileNotFound when the key or the value is missing.
  virtual Win32Error DeleteValue(std::string_view path, std::string_view name) = 0;
  /// Removes a key with its values and subkeys: kFileNotFound when missing.
  virtual Win32Error DeleteKey(std::string_view path) = 0;
};

/// The editor of a registry made by MakeRegistry; null for any other.
RegistryEditor* EditorOf(Registry& registry);

/// The registry of `state`'s document, checking `faults` on every call
/// (RegOpenKeyExA with target "HKLM\<path>", RegQueryValueExA and
/// RegSetValueExA with the value name as target). Null with `error` set to
/// one line when the "registry" section is malformed. The keys listed imply
/// their parent keys; names compare without regard to ASCII case.
std::unique_ptr<Registry> MakeRegistry(MachineState& state, std::shared_ptr<Faults> faults,
                                       std::string* error);

}  // namespace platform::sim
