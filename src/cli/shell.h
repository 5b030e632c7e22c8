// The entry of tollard: the short usage, the WMI connection, then one
// command from the command line or the interactive shell.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "cli/dispatch.h"
#include "platform/output.h"

namespace cli {

/// What the entry and the shell call outside themselves. The defaults are
/// the real ones; main replaces `handlers` entries with the built commands
/// and tests replace the rest.
struct ShellEnvironment {
  ShellEnvironment();

  CommandHandlers handlers;
  /// Opens the process-wide WMI connection: 0, or nonzero after printing.
  std::function<int(platform::Output&)> connect;
  /// The running program's full path; empty when unknown.
  std::function<std::string()> programPath;
  /// Starts a program with a whole command line and waits for it; false
  /// when it could not be started.
  std::function<bool(const std::string& program, const std::string& commandLine, int* exitCode)>
      runChild;
  /// Called before and after a "debug" line runs in this process, so that
  /// it sees what the child commands before it changed and the children
  /// after it see its changes; may be empty.
  std::function<void()> syncMachine;
};

/// Longest shell line, line end not counted.
inline constexpr size_t kMaxLineLength = 255;
/// Most words of a "debug" line, "debug" included.
inline constexpr size_t kMaxDebugWords = 10;
/// Longest program path and child command line, in characters.
inline constexpr size_t kMaxProgramPath = 199;
inline constexpr size_t kMaxChildCommandLine = 399;

/// The program: a help switch as first argument prints the usage (without
/// touching WMI); otherwise connects and runs RunShell. Returns the exit
/// status: 1 when the connection failed.
int RunTollard(int argc, char** argv, platform::Output& out, std::FILE* in,
               const ShellEnvironment& env = ShellEnvironment());

/// With arguments, runs them as one command ("command failed!" and the
/// result when it fails); without, the interactive shell on `in` until
/// quit, exit or end of input. Returns the exit status.
int RunShell(int argc, char** argv, platform::Output& out, std::FILE* in,
             const ShellEnvironment& env);

}  // namespace cli
