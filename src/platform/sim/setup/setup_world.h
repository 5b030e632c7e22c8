// What the simulated machine's system services and device installation
// share: the "system" section, the files, the device tree, the registry,
// the faults, and the machine state that changes are written back to.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/setup.h"
#include "platform/sim/faults/faults.h"
#include "platform/sim/registry/registry.h"
#include "platform/sim/setup/device_tree.h"
#include "platform/sim/setup/sim_files.h"
#include "platform/system.h"

namespace platform::sim {

class MachineState;

/// The "system" section.
struct SystemConfig {
  std::optional<OsVersionInfo> version = OsVersionInfo{6, 1, 7601};  // none: unreadable
  std::string windowsDirectory = "C:\\Windows";
  std::vector<std::pair<std::string, std::string>> environment = {
      {"ProgramFiles", "C:\\Program Files"}};
  std::map<uint32_t, std::optional<std::string>> messages;  // over the built-in table
  bool rebootAfterDriverUpdate = false;
};

/// Reads the section (null: the defaults). False with `error` set (located).
bool LoadSystemConfig(const nlohmann::ordered_json& section, SystemConfig* config,
                      std::string* error);

/// The system's own text for a message id: the machine's table, then the
/// built-in one (Windows' English texts, line end included).
std::optional<std::string> SystemMessage(const SystemConfig& config, uint32_t id);

struct SetupWorld {
  SetupWorld(MachineState& s, std::shared_ptr<Faults> f, Registry& r)
      : state(s), faults(std::move(f)), registry(r), editor(EditorOf(r)) {}

  std::string InfDirectory() const { return config.windowsDirectory + "\\inf"; }
  std::string SystemDirectory() const { return config.windowsDirectory + "\\system32"; }
  std::string DriversDirectory() const { return SystemDirectory() + "\\drivers"; }
  /// A path as the system resolves it: relative ones against the current
  /// directory, "." and ".." segments and doubled separators folded.
  std::string Resolve(const std::string& path) const {
    const bool absolute = (path.size() >= 3 && path[1] == ':' && path[2] == '\\') ||
                          (path.size() >= 2 && path[0] == '\\' && path[1] == '\\');
    std::string full = path;
    if (!absolute && !path.empty() && path[0] == '\\') {
      full = currentDirectory.substr(0, 2) + path;  // the current drive's root
    } else if (!absolute) {
      full = currentDirectory + (currentDirectory.back() == '\\' ? "" : "\\") + path;
    }
    return CollapsePath(full);
  }
  /// Checks the faults for `call`: the code of the one that fires, else 0.
  Win32Error Fault(std::string_view call, std::string_view target = {},
                   std::string_view method = {}) {
    const platform::sim::Fault* f = faults->Check(call, target, method);
    return f == nullptr ? 0 : f->code;
  }

  MachineState& state;
  std::shared_ptr<Faults> faults;
  Registry& registry;
  RegistryEditor* editor;
  SystemConfig config;
  SimFiles files;
  DeviceTree devices;
  std::string currentDirectory = "C:\\";
};

/// The system services and device installation of a simulated machine.
struct SimSetup {
  std::unique_ptr<SetupWorld> world;
  std::unique_ptr<System> system;
  std::unique_ptr<DeviceSetup> setup;
};

/// Builds them from `state`'s document ("system", "files", "devices").
/// Host files are read relative to the machine file's folder. Null with
/// `error` set (located) when a section is malformed.
std::unique_ptr<SimSetup> MakeSimSetup(MachineState& state, Registry& registry,
                                       std::shared_ptr<Faults> faults, std::string* error);

/// The system services over `world` (made by MakeSimSetup; for tests).
std::unique_ptr<System> MakeSimSystem(SetupWorld& world);
/// The device installation over `world` (made by MakeSimSetup; for tests).
std::unique_ptr<DeviceSetup> MakeSimDeviceSetup(SetupWorld& world);

}  // namespace platform::sim
