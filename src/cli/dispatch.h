// The command grammar of tollard: one command (a word count and the words,
// the command word first) becomes one handler call, a help text or a
// syntax-error line. Used by one-shot runs and by "debug" shell lines.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/output.h"

namespace cli {

/// The command handlers, one entry point each. main fills it with the real
/// handlers; tests record calls. Every handler returns 0 for success and
/// writes its own output to the Output it is given. The (count, words)
/// handlers receive the command word as words[0].
struct CommandHandlers {
  using NoArgs = std::function<int(platform::Output&)>;
  using OneWord = std::function<int(std::string_view, platform::Output&)>;
  using TwoWords = std::function<int(std::string_view, std::string_view, platform::Output&)>;
  using AllWords = std::function<int(int count, const char* const* words, platform::Output&)>;

  NoArgs listDevices;      // devinfo
  OneWord devinfoSetAll;   // devinfo all <word>
  TwoWords devinfoSetOne;  // devinfo <serial> <word>
  /// pathinfo [sn|hba <value>]: no kind means no filter (value empty).
  std::function<int(std::optional<std::string_view> kind, std::string_view value,
                    platform::Output&)>
      listPaths;
  TwoWords setAdapterPathState;  // pathinfo <wwpn> <state word>
  NoArgs listPolicies;           // policies
  NoArgs clearCounters;          // clear
  /// primary (true) or secondary (false) <PathId>.
  std::function<int(uint64_t pathId, bool primary, platform::Output&)> setPathRole;
  std::function<int(uint64_t pathId, int32_t weight, platform::Output&)> setPathWeight;
  OneWord printDsmObjects;  // instance <class>
  NoArgs listen;            // listen
  AllWords ioStatus;        // iostatus ...
  AllWords pgr;             // pgr ...
  AllWords set;             // set ...
  AllWords mpiolist;        // mpiolist ..., class names replaced by numbers
  /// json ... and health ...: they report their own results (see
  /// ReportsOwnResult), so their results are exit statuses as they are.
  AllWords json;
  AllWords health;
};

/// Handlers for a build in which only `policies` exists: every other one
/// writes "<command>: not available in this build" and returns 1.
CommandHandlers DefaultHandlers();

/// Runs one command. `words` holds `count` words; for mpiolist the entry of
/// a known MPIO class name may be replaced by its number text (the strings
/// themselves are never written). No words or a help switch print the long
/// help and give 0; an unknown word or a count that fits no form gives a
/// syntax error and 0; otherwise the handler's result.
int DispatchCommand(int count, const char** words, const CommandHandlers& handlers,
                    platform::Output& out);

/// The command words in the order in which they are tried.
std::vector<std::string_view> CommandWords();

/// True when `word` selects a command that reports its own failures in
/// its own format (json, health): no "command failed!" follows its
/// nonzero result, and a failed connection is left to it to report.
bool ReportsOwnResult(std::string_view word);

/// Writes "syntax error near <word>" and returns 0: a syntax error is not
/// a failed command.
int ReportSyntaxError(std::string_view word, platform::Output& out);

/// A path id as typed: an unsigned 64-bit hexadecimal number with the rules
/// of strtoull in base 16 (leading white space, a sign that negates modulo
/// 2^64, an optional 0x, stop at the first non-digit, no digits 0,
/// overflow 0xFFFFFFFFFFFFFFFF), independent of the locale.
uint64_t ParsePathId(std::string_view text);

/// A weight as typed: a decimal number with the rules of strtol in base 10,
/// clamped to 32 bits on every OS (overflow gives 2147483647 or
/// -2147483648), independent of the locale.
int32_t ParseWeight(std::string_view text);

}  // namespace cli
