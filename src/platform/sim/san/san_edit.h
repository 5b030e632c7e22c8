// Edits of the machine file's "san" section for the DSM driver's changes.
// Each addresses a LUN by its serial number and a path by its id, so it
// applies to whatever the file holds when the command writes back.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/machine_file/machine_state.h"

namespace platform::sim {

/// A LUN as an edit addresses it: by its serial number. `index`, where
/// the LUN stood in the file the edit was made on, is only where it is
/// looked for first, so that a command editing every LUN does not search
/// the whole list for each.
struct LunKey {
  std::string serial;
  size_t index = 0;
};

/// A path's weight and primary flag as a new policy sets them.
struct PathSetting {
  uint64_t id = 0;
  uint32_t weight = 0;
  bool primary = false;
};

/// Sets a LUN's policy and fail-back and the given paths' settings.
Edit SetPolicyEdit(LunKey key, uint32_t policy, uint32_t failBack,
                   std::vector<PathSetting> paths);

/// New states of paths, grouped by their LUN.
using PathStates = std::vector<std::pair<LunKey, std::vector<std::pair<uint64_t, uint8_t>>>>;
/// Sets the states of paths of one or more LUNs.
Edit SetPathStatesEdit(PathStates states);

/// Zeroes the byte and operation counters of every path of a LUN; pending
/// I/Os are outstanding requests, not counters, and stay.
Edit ClearCountersEdit(LunKey lun);

}  // namespace platform::sim
