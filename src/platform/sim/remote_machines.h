// The machine file's "remote" section: other machines that the simulated
// one reaches by name, each with its own SAN and raw WMI data.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/sim/faults/faults.h"
#include "platform/sim/wmi/sim_wmi.h"

namespace platform::sim {

/// Reads the "remote" section (null: none) into `world.remotes`, replacing
/// what was there: per machine the required user and password and a
/// repository whose ROOT\WMI holds the SAN classes derived from the
/// entry's "san" (none: an empty SAN) and its "wmi" data, objects naming
/// the machine in __SERVER and __PATH. The repositories are read-only
/// views: the DSM's methods are not carried out there. Their objects
/// check `faults`. False with `error` set (located) on a malformed entry.
bool LoadRemoteMachines(const nlohmann::ordered_json& section, std::shared_ptr<Faults> faults,
                        WmiWorld& world, std::string* error);

}  // namespace platform::sim
