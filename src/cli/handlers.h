// The command handlers of this build, as the dispatcher calls them.
#pragma once

#include "cli/dispatch.h"

namespace cli {

/// DefaultHandlers() with every command that this build has put in place.
CommandHandlers TollardHandlers();

}  // namespace cli
