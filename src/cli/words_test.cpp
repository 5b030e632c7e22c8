#include "cli/words.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace cli {
namespace {

TEST(WordsTest, MatchCommandWordNeedsThreeCharactersOfAPrefix) {
  struct Case {
    const char* typed;
    const char* command;
    bool match;
  } cases[] = {
      {"dev", "devinfo", true},
      {"DEVI", "devinfo", true},
      {"devinfo", "devinfo", true},
      {"DevInfo", "devinfo", true},
      {"de", "devinfo", false},
      {"", "devinfo", false},
      {"devinfos", "devinfo", false},
      {"dex", "devinfo", false},
      {"set", "set", true},
      {"sets", "set", false},
      {"sec", "secondary", true},
      {"pol", "policies", true},
      // Only A-Z fold: bytes above 0x7F and punctuation compare as they are.
      {"d\xC9v", "d\xE9vinfo", false},
      {"pri[", "pri{", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchCommandWord(c.typed, c.command), c.match) << c.typed << " / " << c.command;
  }
}

TEST(WordsTest, HelpSwitchesAreWholeWordsInAnyCase) {
  for (const char* yes : {"?", "/?", "-h", "--h", "/h", "/help", "--help", "help", "-help", "-H",
                          "HELP", "--Help", "/HeLp"}) {
    EXPECT_TRUE(IsHelpSwitch(yes)) << yes;
  }
  for (const char* no : {"", "-hel", "hel", "helpx", "h", "--", "/", "-?", " help"}) {
    EXPECT_FALSE(IsHelpSwitch(no)) << no;
  }
}

TEST(WordsTest, PolicyNumberOfTakesTheFirstSettablePrefix) {
  struct Case {
    const char* word;
    std::optional<int32_t> number;
  } cases[] = {
      {"rou", 2},
      {"roundrobins", 3},
      {"ROUNDROBINSUBSET", 3},
      {"RoundRobin", 2},
      {"dyn", 4},
      {"fai", 1},
      {"FailOver", 1},
      {"wei", 5},
      {"LeastBlocks", 6},
      {"le", std::nullopt},
      {"failoverx", std::nullopt},
      {"vendorspecific", std::nullopt},
      {"ven", std::nullopt},
      {"Unknown", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(PolicyNumberOf(c.word), c.number) << c.word;
}

TEST(WordsTest, NumbersToWords) {
  struct Case {
    int64_t number;
    const char* policy;
    const char* state;
    const char* failBack;
  } cases[] = {
      {-1, "Unknown", "Unknown", "failback-on"},
      {0, "Unknown", "Unknown", "failback-on"},
      {1, "FailOver", "Online", "failback-on"},
      {2, "RoundRobin", "Unknown", "failback-off"},
      {3, "RoundRobinSubset", "Unknown", "failback-on"},
      {4, "Dynlqd", "Unknown", "failback-on"},
      {5, "Weighted", "Failed", "failback-on"},
      {6, "LeastBlocks", "Unknown", "failback-on"},
      {7, "VendorSpecific", "Standby", "failback-on"},
      {8, "Unknown", "Unknown", "failback-on"},
      {0x100000002, "Unknown", "Unknown", "failback-on"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PolicyNameOf(c.number), c.policy) << c.number;
    EXPECT_EQ(PathStateNameOf(c.number), c.state) << c.number;
    EXPECT_EQ(FailBackNameOf(c.number), c.failBack) << c.number;
  }
}

TEST(WordsTest, StateAndFailBackWordsMatchWhole) {
  struct Case {
    const char* word;
    std::optional<int32_t> state;
    std::optional<FailBack> failBack;
  } cases[] = {
      {"ONLINE", 1, std::nullopt},
      {"standby", 7, std::nullopt},
      {"Failed", 5, std::nullopt},
      {"onl", std::nullopt, std::nullopt},
      {"Unknown", std::nullopt, std::nullopt},
      {"failback-on", std::nullopt, FailBack::kEnabled},
      {"FAILBACK-OFF", std::nullopt, FailBack::kDisabled},
      {"failback", std::nullopt, std::nullopt},
      {"failback-onx", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathStateCodeOf(c.word), c.state) << c.word;
    EXPECT_EQ(FailBackOf(c.word), c.failBack) << c.word;
  }
}

TEST(WordsTest, SettablePoliciesLeaveOutVendorSpecific) {
  std::vector<std::string> got(SettablePolicies().begin(), SettablePolicies().end());
  EXPECT_EQ(got, (std::vector<std::string>{"FailOver", "RoundRobin", "RoundRobinSubset", "Dynlqd",
                                           "Weighted", "LeastBlocks"}));
}

}  // namespace
}  // namespace cli
