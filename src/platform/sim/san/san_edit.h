// Edits of the machine file's "san" section for the DSM driver's changes.
// A command holds the machine file from load to write-back and applies each
// edit once, to the document its SAN model was read from, so an edit
// addresses LUNs and paths by their places in that document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/machine_file/machine_state.h"

namespace platform::sim {

/// A LUN as an edit addresses it: its place in "san.luns", and its serial
/// number, which the edit checks there before it changes anything.
struct LunKey {
  std::string serial;
  size_t index = 0;
};

/// A path's weight and primary flag as a new policy sets them; `position`
/// is the path's place in its LUN's "paths".
struct PathSetting {
  size_t position = 0;
  uint32_t weight = 0;
  bool primary = false;
};

/// Sets a LUN's policy and fail-back and the given paths' settings.
Edit SetPolicyEdit(LunKey key, uint32_t policy, uint32_t failBack, std::vector<PathSetting> paths);

/// New states of paths (by their place in the LUN's "paths"), grouped by
/// their LUN.
using PathStates = std::vector<std::pair<LunKey, std::vector<std::pair<size_t, uint8_t>>>>;
/// Sets the states of paths of one or more LUNs.
Edit SetPathStatesEdit(PathStates states);

/// Zeroes the byte and operation counters of every path of a LUN; pending
/// I/Os are outstanding requests, not counters, and stay.
Edit ClearCountersEdit(LunKey lun);

}  // namespace platform::sim
