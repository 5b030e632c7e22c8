// Command handlers for the fuzz targets of the grammar and the shell: they
// do nothing but check the arguments the dispatcher hands them.
#pragma once

#include "cli/dispatch.h"

namespace fuzz {

/// Handlers that abort when a word is null or holds a NUL byte, or a word
/// array is empty, and otherwise return 0 or 1 depending on the last
/// argument, so both the success and the "command failed!" ways are taken.
cli::CommandHandlers CheckingHandlers();

}  // namespace fuzz
