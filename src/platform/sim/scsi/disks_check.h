// The rules of the machine file's "disks" section: its keys, and the
// persistent-reservation states a logical unit can actually be in.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace platform::sim {

/// True when `nexus` is an I_T nexus as the program writes it: four
/// decimal numbers 0 to 255 without leading zeros, "port.bus.target.lun".
bool WellFormedNexus(std::string_view nexus);

/// Checks the "disks" section of `document` (true when it has none): only
/// known keys; serial numbers of LUNs of the "san" section; registrations
/// of well-formed, distinct nexuses with non-zero 16-digit keys; a
/// reservation held by a registered nexus with a type SPC-3 defines (1, 3,
/// 5, 6, 7, 8); pending unit attentions as lists of "ASC/ASCQ" texts per
/// nexus. False with `error` set (located at the offending member).
bool CheckDisksStrictly(const nlohmann::ordered_json& document, std::string* error);

}  // namespace platform::sim
