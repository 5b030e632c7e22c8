#include "cli/dispatch.h"

#include <array>
#include <cstring>
#include <limits>
#include <string>

#include "cli/help.h"
#include "cli/words.h"
#include "dsm/policies.h"

namespace cli {
namespace {

using platform::Output;

// One row per command word, in the order in which they are tried.
using Runner = int (*)(int count, const char** words, const CommandHandlers& h, Output& out);
struct Command {
  std::string_view word;
  Runner run;
  bool ownResult = false;  // reports its own failures; see ReportsOwnResult
};

int RunDevinfo(int count, const char** words, const CommandHandlers& h, Output& out) {
  if (count == 1) return h.listDevices(out);
  if (count != 3) return ReportSyntaxError(words[0], out);
  if (EqualsIgnoreCase(words[1], "all")) return h.devinfoSetAll(words[2], out);
  return h.devinfoSetOne(words[1], words[2], out);
}

int RunPathinfo(int count, const char** words, const CommandHandlers& h, Output& out) {
  if (count == 1) return h.listPaths(std::nullopt, {}, out);
  if (count != 3) return ReportSyntaxError(words[0], out);
  if (EqualsIgnoreCase(words[1], "sn") || EqualsIgnoreCase(words[1], "hba")) {
    return h.listPaths(std::string_view(words[1]), words[2], out);
  }
  return h.setAdapterPathState(words[1], words[2], out);
}

int RunPolicies(int, const char**, const CommandHandlers& h, Output& out) {
  return h.listPolicies(out);
}

int RunClear(int count, const char** words, const CommandHandlers& h, Output& out) {
  if (count != 1) return ReportSyntaxError(words[0], out);
  return h.clearCounters(out);
}

int RunPrimary(int count, const char** words, const CommandHandlers& h, Output& out) {
  if (count != 2) return ReportSyntaxError(words[0], out);
  return h.setPathRole(ParsePathId(words[1]), true, out);
}

int RunSecondary(int count, const char** words, const CommandHandlers& h, Output& out) {
  if (count != 2) return ReportSyntaxError(words[0], out);
  return h.setPathRole(ParsePathId(words[1]), false, out);
}

int RunWeight(int count, const char** words, const CommandHandlers& h, Output& out) {
  if (count != 3) return ReportSyntaxError(words[0], out);
  return h.setPathWeight(ParsePathId(words[1]), ParseWeight(words[2]), out);
}

int RunInstance(int count, const char** words, const CommandHandlers& h, Output& out) {
  if (count >= 2) return h.printDsmObjects(words[1], out);
  for (std::string_view name : {" ORNDSM_CONFIGINFO", " ORNDSM_PERFINFO", " DSM_QueryLBPolicy",
                                " DSM_QueryLBPolicy_V2", " DSM_QueryUniqueId"}) {
    out.Line(name);
  }
  return 0;
}

int RunListen(int, const char**, const CommandHandlers& h, Output& out) { return h.listen(out); }

int RunIoStatus(int count, const char** words, const CommandHandlers& h, Output& out) {
  return h.ioStatus(count, words, out);
}

int RunPgr(int count, const char** words, const CommandHandlers& h, Output& out) {
  return h.pgr(count, words, out);
}

int RunSet(int count, const char** words, const CommandHandlers& h, Output& out) {
  return h.set(count, words, out);
}

struct MpioClass {
  const char* name;
  const char* number;
};
constexpr std::array<MpioClass, 6> kMpioClasses = {{
    {"MsDiskDriver_Performance", "0"},
    {"MPIO_DISK_INFO", "1"},
    {"MPIO_PATH_INFORMATION", "2"},
    {"MPIO_CONTROLLER_CONFIGURATION", "3"},
    {"MPIO_TIMERS_COUNTERS", "4"},
    {"MPIO_GET_DESCRIPTOR", "5"},
}};

int RunMpiolist(int count, const char** words, const CommandHandlers& h, Output& out) {
  if (count >= 2) {
    for (const MpioClass& c : kMpioClasses) {
      if (std::strcmp(words[1], c.name) == 0) {
        words[1] = c.number;  // the entry, never the caller's string
        break;
      }
    }
  }
  return h.mpiolist(count, words, out);
}

int RunJson(int count, const char** words, const CommandHandlers& h, Output& out) {
  return h.json(count, words, out);
}

int RunHealth(int count, const char** words, const CommandHandlers& h, Output& out) {
  return h.health(count, words, out);
}

// New words go at the end, and no word's first three characters may start
// another word: a word that selects a command keeps selecting it.
constexpr std::array<Command, 15> kCommands = {{
    {"devinfo", RunDevinfo},
    {"pathinfo", RunPathinfo},
    {"policies", RunPolicies},
    {"clear", RunClear},
    {"primary", RunPrimary},
    {"secondary", RunSecondary},
    {"weight", RunWeight},
    {"instance", RunInstance},
    {"listen", RunListen},
    {"iostatus", RunIoStatus},
    {"pgr", RunPgr},
    {"set", RunSet},
    {"mpiolist", RunMpiolist},
    {"json", RunJson, true},
    {"health", RunHealth, true},
}};

const Command* FindCommand(std::string_view typed) {
  for (const Command& command : kCommands) {
    if (MatchCommandWord(typed, command.word)) return &command;
  }
  return nullptr;
}

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Skips white space and a sign the way strtoul and strtol do.
size_t SkipBlanksAndSign(std::string_view text, bool* negative) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  *negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    *negative = text[i] == '-';
    ++i;
  }
  return i;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  char folded = FoldAscii(c);
  if (folded >= 'a' && folded <= 'f') return folded - 'a' + 10;
  return -1;
}

int NotAvailable(std::string_view command, Output& out) {
  out.Line(std::string(command) + ": not available in this build");
  return 1;
}

}  // namespace

uint64_t ParsePathId(std::string_view text) {
  bool negative = false;
  size_t i = SkipBlanksAndSign(text, &negative);
  // "0x" counts as a prefix only when a digit follows; otherwise the 0 is
  // the number and conversion stops at the x, which gives 0 as well.
  if (i + 2 < text.size() && text[i] == '0' && FoldAscii(text[i + 1]) == 'x' &&
      HexDigit(text[i + 2]) >= 0) {
    i += 2;
  }
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    int digit = HexDigit(text[i]);
    if (digit < 0) break;
    if (value > (kMax - static_cast<uint64_t>(digit)) / 16) overflow = true;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  if (overflow) return kMax;
  return negative ? 0 - value : value;
}

int32_t ParseWeight(std::string_view text) {
  bool negative = false;
  size_t i = SkipBlanksAndSign(text, &negative);
  // The magnitude saturates just past the 32-bit range, so the clamp below
  // is the same wherever long is 64 bits wide.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit + 1;
  }
  if (negative) {
    return magnitude >= kLimit ? std::numeric_limits<int32_t>::min()
                               : static_cast<int32_t>(-magnitude);
  }
  return magnitude >= kLimit ? std::numeric_limits<int32_t>::max()
                             : static_cast<int32_t>(magnitude);
}

int ReportSyntaxError(std::string_view word, Output& out) {
  out.Line("syntax error near " + std::string(word));
  return 0;
}

int DispatchCommand(int count, const char** words, const CommandHandlers& handlers, Output& out) {
  if (count < 1) return PrintHelp(out);
  if (IsHelpSwitch(words[0])) {
    PrintHelp(out);
    return 0;
  }
  if (const Command* command = FindCommand(words[0])) {
    return command->run(count, words, handlers, out);
  }
  return ReportSyntaxError(words[0], out);
}

std::vector<std::string_view> CommandWords() {
  std::vector<std::string_view> words;
  for (const Command& command : kCommands) words.push_back(command.word);
  return words;
}

bool ReportsOwnResult(std::string_view word) {
  const Command* command = FindCommand(word);
  return command != nullptr && command->ownResult;
}

CommandHandlers DefaultHandlers() {
  CommandHandlers h;
  h.listDevices = [](Output& out) { return NotAvailable("devinfo", out); };
  h.devinfoSetAll = [](std::string_view, Output& out) { return NotAvailable("devinfo", out); };
  h.devinfoSetOne = [](std::string_view, std::string_view, Output& out) {
    return NotAvailable("devinfo", out);
  };
  h.listPaths = [](std::optional<std::string_view>, std::string_view, Output& out) {
    return NotAvailable("pathinfo", out);
  };
  h.setAdapterPathState = [](std::string_view, std::string_view, Output& out) {
    return NotAvailable("pathinfo", out);
  };
  h.listPolicies = dsm::ListPolicies;
  h.clearCounters = [](Output& out) { return NotAvailable("clear", out); };
  h.setPathRole = [](uint64_t, bool primary, Output& out) {
    return NotAvailable(primary ? "primary" : "secondary", out);
  };
  h.setPathWeight = [](uint64_t, int32_t, Output& out) { return NotAvailable("weight", out); };
  h.printDsmObjects = [](std::string_view, Output& out) { return NotAvailable("instance", out); };
  h.listen = [](Output& out) { return NotAvailable("listen", out); };
  h.ioStatus = [](int, const char* const*, Output& out) { return NotAvailable("iostatus", out); };
  h.pgr = [](int, const char* const*, Output& out) { return NotAvailable("pgr", out); };
  h.set = [](int, const char* const*, Output& out) { return NotAvailable("set", out); };
  h.mpiolist = [](int, const char* const*, Output& out) { return NotAvailable("mpiolist", out); };
  h.json = [](int, const char* const*, Output& out) { return NotAvailable("json", out); };
  h.health = [](int, const char* const*, Output& out) { return NotAvailable("health", out); };
  return h;
}

}  // namespace cli
