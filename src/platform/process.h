// Process services of the operating system the program runs on. They do
// not depend on the backend: a simulated machine under Windows still starts
// its children with CreateProcessA.
#pragma once

#include <string>
#include <vector>

namespace platform {

/// The full file path of the running program (GetModuleFileNameA; on POSIX
/// /proc/self/exe). Empty when it cannot be found.
std::string ModuleFileName();

/// Starts `applicationPath` with `commandLine` as its whole command line
/// (program name first, as CreateProcessA takes it) and waits for it to
/// end. The child splits the command line with the Windows runtime's
/// standard rules, on every OS. Returns true when the child ran; its exit
/// code is stored in *exitCode.
bool RunChildProcess(const std::string& applicationPath, const std::string& commandLine,
                     int* exitCode);

/// Splits a command line the way the Microsoft C runtime builds argv:
/// blanks and tabs separate words, double quotes group, backslashes escape
/// quotes only when they stand before one.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace platform
