#include "checking_handlers.h"

#include <string_view>

#include "fuzz_check.h"

namespace fuzz {
namespace {

using platform::Output;

int ResultOf(std::string_view word) { return word.empty() ? 0 : word.back() & 1; }

void CheckWord(std::string_view word) { FUZZ_CHECK(word.find('\0') == std::string_view::npos); }

void CheckWords(int count, const char* const* words) {
  FUZZ_CHECK(count >= 1);
  for (int i = 0; i < count; ++i) {
    FUZZ_CHECK(words[i] != nullptr);
    CheckWord(words[i]);
  }
}

}  // namespace

cli::CommandHandlers CheckingHandlers() {
  // Starts from the defaults, so a command added later answers here too
  // before it gets a checking handler of its own.
  cli::CommandHandlers h = cli::DefaultHandlers();
  auto noArgs = [](Output& out) {
    out.Write("x");
    return 0;
  };
  auto oneWord = [](std::string_view word, Output&) {
    CheckWord(word);
    return ResultOf(word);
  };
  auto twoWords = [](std::string_view a, std::string_view b, Output&) {
    CheckWord(a);
    CheckWord(b);
    return ResultOf(b);
  };
  auto allWords = [](int count, const char* const* words, Output&) {
    CheckWords(count, words);
    return ResultOf(words[count - 1]);
  };
  h.listDevices = noArgs;
  h.devinfoSetAll = oneWord;
  h.devinfoSetOne = twoWords;
  h.listPaths = [](std::optional<std::string_view> kind, std::string_view value, Output&) {
    if (kind) CheckWord(*kind);
    CheckWord(value);
    return ResultOf(value);
  };
  h.setAdapterPathState = twoWords;
  h.listPolicies = noArgs;
  h.clearCounters = noArgs;
  h.setPathRole = [](uint64_t id, bool, Output&) { return static_cast<int>(id & 1); };
  h.setPathWeight = [](uint64_t, int32_t weight, Output&) { return weight & 1; };
  h.printDsmObjects = oneWord;
  h.listen = noArgs;
  h.ioStatus = allWords;
  h.pgr = allWords;
  h.set = allWords;
  h.mpiolist = allWords;
  h.json = allWords;
  h.health = allWords;
  return h;
}

}  // namespace fuzz
