#include "cli/words.h"

namespace cli {
namespace {

constexpr size_t kFirstPolicy = 6;  // FailOver, policy 1
constexpr size_t kUnknownPolicy = 13;
constexpr size_t kSettableCount = 6;  // FailOver to LeastBlocks
constexpr size_t kMinimumPrefix = 3;

struct StateEntry {
  int32_t code;
  size_t position;
};
constexpr std::array<StateEntry, 3> kStates = {{{1, 1}, {5, 2}, {7, 3}}};

constexpr std::array<std::string_view, 9> kHelpSwitches = {"?",     "/?",     "-h",   "--h",  "/h",
                                                           "/help", "--help", "help", "-help"};

}  // namespace

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool MatchCommandWord(std::string_view typed, std::string_view command) {
  if (typed.size() < kMinimumPrefix || typed.size() > command.size()) return false;
  return EqualsIgnoreCase(typed, command.substr(0, typed.size()));
}

bool IsHelpSwitch(std::string_view word) {
  for (std::string_view s : kHelpSwitches) {
    if (EqualsIgnoreCase(word, s)) return true;
  }
  return false;
}

std::string_view PolicyNameOf(int64_t number) {
  if (number >= 1 && number <= 7) return NameTable[kFirstPolicy + static_cast<size_t>(number - 1)];
  return NameTable[kUnknownPolicy];
}

std::optional<int32_t> PolicyNumberOf(std::string_view word) {
  for (size_t i = 0; i < kSettableCount; ++i) {
    if (MatchCommandWord(word, NameTable[kFirstPolicy + i])) return static_cast<int32_t>(i + 1);
  }
  return std::nullopt;
}

std::string_view PathStateNameOf(int64_t code) {
  for (const StateEntry& s : kStates) {
    if (s.code == code) return NameTable[s.position];
  }
  return NameTable[0];
}

std::optional<int32_t> PathStateCodeOf(std::string_view word) {
  for (const StateEntry& s : kStates) {
    if (EqualsIgnoreCase(word, NameTable[s.position])) return s.code;
  }
  return std::nullopt;
}

std::string_view FailBackNameOf(int64_t value) { return NameTable[value == 2 ? 5 : 4]; }

std::optional<FailBack> FailBackOf(std::string_view word) {
  if (EqualsIgnoreCase(word, NameTable[4])) return FailBack::kEnabled;
  if (EqualsIgnoreCase(word, NameTable[5])) return FailBack::kDisabled;
  return std::nullopt;
}

std::span<const std::string_view> SettablePolicies() {
  return std::span<const std::string_view>(NameTable).subspan(kFirstPolicy, kSettableCount);
}

}  // namespace cli
