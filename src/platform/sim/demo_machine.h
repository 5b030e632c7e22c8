// The built-in demo machine: a small but realistic multipath SAN.
#pragma once

#include <nlohmann/json.hpp>

namespace platform::sim {

/// The machine file of the demo machine: two adapter ports (SCSI ports 2
/// and 3), two controller ports, six LUNs with four paths each, mixed
/// load-balance policies and running counters. Always the same document.
nlohmann::ordered_json DemoMachine();

}  // namespace platform::sim
