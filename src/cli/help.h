// The three fixed help texts of tollard.
#pragma once

#include <string_view>

#include "platform/output.h"

namespace cli {

/// The program's name as the prompt and the usage text show it.
inline constexpr std::string_view kProgramName = "tollard";

/// The short usage, for a help switch on the command line. Returns 0.
int PrintUsage(platform::Output& out);

/// The long help: every documented command, then the mpiolist help.
/// Returns 0.
int PrintHelp(platform::Output& out);

/// The help of mpiolist and its class numbers. Returns 0.
int PrintMpiolistHelp(platform::Output& out);

}  // namespace cli
