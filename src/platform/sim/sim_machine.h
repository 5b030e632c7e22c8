// Opening a simulated machine: the sim backend on a machine file.
#pragma once

#include <memory>
#include <string>

#include "platform/machine.h"

namespace platform::sim {

/// Opens the machine file named by `path`, or, when `path` is empty, the
/// built-in demo machine's state file (created on first use under
/// $XDG_STATE_HOME/tollard/, else ~/.local/state/tollard/). On failure
/// returns null and sets `error` to one line naming the file and the
/// problem; nothing on disk is changed.
std::unique_ptr<Machine> OpenMachine(const std::string& path, std::string* error);

}  // namespace platform::sim
