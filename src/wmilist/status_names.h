// Symbolic names of the WMI status codes, for failure reports.
#pragma once

#include <string>

#include "platform/status.h"

namespace wmilist {

/// The symbolic name of an HRESULT from WMI: the WBEM_S_ success codes,
/// the 58 WBEMSTATUS failure names 0x80041001..0x8004103A, the two event
/// registration codes; any other code as "0x" and its lower-case hex digits.
std::string WbemStatusName(platform::HResult code);

}  // namespace wmilist
