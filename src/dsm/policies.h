// The policies command: the load-balance policies a device can be set to.
#pragma once

#include "platform/output.h"

namespace dsm {

/// Writes an empty line, one line per settable policy (a blank, then the
/// word), and an empty line. Always returns 0.
int ListPolicies(platform::Output& out);

}  // namespace dsm
