// The simulated machine's device tree: the "devices" section, devices of
// setup classes with hardware ids, enumerator, configuration flags, install
// flags, driver and service. Changes are written back as the whole section.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace platform::sim {

class MachineState;

struct SimDevice {
  std::string instance;                                 // device instance id, unique
  std::string cls;                                      // setup class GUID text, upper case
  std::optional<std::string> enumerator;                // none: unreadable
  std::optional<std::vector<std::string>> hardwareIds;  // none: unreadable
  uint32_t configFlags = 0;
  uint32_t installFlags = 0;  // DI_* flags its class installer reports
  std::string driver;         // INF name in the INF directory
  std::string service;
  uint32_t restarts = 0;  // property changes it went through
};

class DeviceTree {
 public:
  /// Reads the section (null: no devices). False with `error` set (located).
  bool Load(const nlohmann::ordered_json& section, std::string* error);
  /// Writes the section back into the machine document with the next changes.
  void Save(MachineState& state) const;

  std::vector<SimDevice>& Devices() { return devices_; }
  /// The device with this instance id (case ignored), or null.
  SimDevice* Find(const std::string& instance);
  /// Whether one of the device's hardware ids is `id` (case ignored).
  static bool Carries(const SimDevice& device, const std::string& id);

 private:
  std::vector<SimDevice> devices_;
};

/// The text form of a setup class GUID when `text` is one ("{8-4-4-4-12}"
/// hexadecimal), upper case; empty otherwise.
std::string CanonicalGuid(const std::string& text);

}  // namespace platform::sim
