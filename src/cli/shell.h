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
  /// Take and give up the machine around a "debug" line, which runs in
  /// this process: it then sees what the child commands before it changed,
  /// the children after it see its changes, and nobody waits for the shell
  /// while it waits for input or for a child. `acquireMachine` returns 0,
  /// or nonzero after reporting (the line then does not run). The shell
  /// gives up the machine that the connection took before its first
  /// prompt. Either may be empty.
  std::function<int()> acquireMachine;
  std::function<void()> releaseMachine;
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

/// The process exit status for a program result. Windows keeps the whole
/// 32-bit result. Where only the low 8 bits reach the parent (everywhere
/// else), a nonzero result whose low byte is zero, such as 0x80010100,
/// would read as success: it becomes 1.
int ExitStatusOf(int result);

}  // namespace cli
