// Fuzzes the command grammar: typed words through DispatchCommand with
// handlers that check what they are given, and the number and word
// conversions against the C library they must agree with.
//
// Input: the words of one command, one per line ('\n' separates words, so
// a word may hold blanks, tabs or any other byte).
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "checking_handlers.h"
#include "cli/dispatch.h"
#include "cli/words.h"
#include "fuzz_check.h"
#include "platform/output.h"

namespace {

// ParsePathId must be strtoull in base 16 in the C locale.
void CheckPathId(const std::string& word) {
  unsigned long long expected = std::strtoull(word.c_str(), nullptr, 16);
  FUZZ_CHECK(cli::ParsePathId(word) == expected);
}

// ParseWeight must be strtol in base 10, clamped to 32 bits.
void CheckWeight(const std::string& word) {
  long long expected = std::strtoll(word.c_str(), nullptr, 10);
  if (expected > INT32_MAX) expected = INT32_MAX;
  if (expected < INT32_MIN) expected = INT32_MIN;
  FUZZ_CHECK(cli::ParseWeight(word) == expected);
}

void CheckMatch(std::string_view typed, std::string_view command) {
  bool expected = typed.size() >= 3 && typed.size() <= command.size();
  for (size_t i = 0; expected && i < typed.size(); ++i) {
    expected = cli::FoldAscii(typed[i]) == cli::FoldAscii(command[i]);
  }
  FUZZ_CHECK(cli::MatchCommandWord(typed, command) == expected);
}

// No input is no word at all, which the dispatcher must take too.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> words;
  if (text.empty()) return words;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The words as a C program sees them: each ends at its first NUL.
  std::vector<std::string> words = SplitLines(text);
  for (std::string& word : words) word.resize(std::strlen(word.c_str()));

  for (const std::string& word : words) {
    CheckPathId(word);
    CheckWeight(word);
  }
  if (!words.empty()) {
    for (std::string_view command : {"devinfo", "mpiolist", "iostatus", "pgr"}) {
      CheckMatch(words.front(), command);
    }
    CheckMatch(words.front(), words.back());
  }

  std::vector<const char*> pointers;
  for (const std::string& word : words) pointers.push_back(word.c_str());
  // The dispatcher may replace an entry of the array, never the strings.
  const std::vector<std::string> before = words;
  platform::StringOutput out;
  static const cli::CommandHandlers handlers = fuzz::CheckingHandlers();
  cli::DispatchCommand(static_cast<int>(pointers.size()), pointers.data(), handlers, out);
  FUZZ_CHECK(words == before);
  // The handlers of a build without the DSM commands.
  pointers.clear();
  for (const std::string& word : words) pointers.push_back(word.c_str());
  static const cli::CommandHandlers defaults = cli::DefaultHandlers();
  out.Clear();
  cli::DispatchCommand(static_cast<int>(pointers.size()), pointers.data(), defaults, out);
  return 0;
}
