#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/help.h"
#include "cli/words.h"

namespace cli {
namespace {

using platform::Output;
using platform::StringOutput;

std::string Join(int count, const char* const* words) {
  std::string text = std::to_string(count) + ":";
  for (int i = 0; i < count; ++i) text += (i ? "," : "") + std::string(words[i]);
  return text;
}

// Handlers that record each call as text and return `result`.
struct Recorder {
  std::vector<std::string> calls;
  int result = 0;

  int Record(std::string call) {
    calls.push_back(std::move(call));
    return result;
  }

  CommandHandlers Handlers() {
    CommandHandlers h;
    h.listDevices = [this](Output&) { return Record("listDevices"); };
    h.devinfoSetAll = [this](std::string_view w, Output&) {
      return Record("devinfoSetAll " + std::string(w));
    };
    h.devinfoSetOne = [this](std::string_view s, std::string_view w, Output&) {
      return Record("devinfoSetOne " + std::string(s) + " " + std::string(w));
    };
    h.listPaths = [this](std::optional<std::string_view> kind, std::string_view value, Output&) {
      return Record(kind ? "listPaths " + std::string(*kind) + " " + std::string(value)
                         : "listPaths (all)" + std::string(value));
    };
    h.setAdapterPathState = [this](std::string_view a, std::string_view s, Output&) {
      return Record("setAdapterPathState " + std::string(a) + " " + std::string(s));
    };
    h.listPolicies = [this](Output&) { return Record("listPolicies"); };
    h.clearCounters = [this](Output&) { return Record("clearCounters"); };
    h.setPathRole = [this](uint64_t id, bool primary, Output&) {
      return Record("setPathRole " + std::to_string(id) + (primary ? " primary" : " secondary"));
    };
    h.setPathWeight = [this](uint64_t id, int32_t weight, Output&) {
      return Record("setPathWeight " + std::to_string(id) + " " + std::to_string(weight));
    };
    h.printDsmObjects = [this](std::string_view c, Output&) {
      return Record("printDsmObjects " + std::string(c));
    };
    h.listen = [this](Output&) { return Record("listen"); };
    h.ioStatus = [this](int n, const char* const* w, Output&) {
      return Record("ioStatus " + Join(n, w));
    };
    h.pgr = [this](int n, const char* const* w, Output&) { return Record("pgr " + Join(n, w)); };
    h.set = [this](int n, const char* const* w, Output&) { return Record("set " + Join(n, w)); };
    h.mpiolist = [this](int n, const char* const* w, Output&) {
      return Record("mpiolist " + Join(n, w));
    };
    h.json = [this](int n, const char* const* w, Output&) { return Record("json " + Join(n, w)); };
    h.health = [this](int n, const char* const* w, Output&) {
      return Record("health " + Join(n, w));
    };
    return h;
  }
};

struct Outcome {
  std::string call;  // empty when no handler ran
  std::string output;
  int result;
};

Outcome Dispatch(std::vector<const char*> words, int handlerResult = 0) {
  Recorder recorder;
  recorder.result = handlerResult;
  StringOutput out;
  int result =
      DispatchCommand(static_cast<int>(words.size()), words.data(), recorder.Handlers(), out);
  EXPECT_LE(recorder.calls.size(), 1u);
  return {recorder.calls.empty() ? "" : recorder.calls[0], out.Text(), result};
}

TEST(DispatchTest, RowsReachTheirHandlers) {
  struct Case {
    std::vector<const char*> words;
    const char* call;
  } cases[] = {
      {{"devinfo"}, "listDevices"},
      {{"DEVI"}, "listDevices"},
      {{"devinfo", "ALL", "RoundRobin"}, "devinfoSetAll RoundRobin"},
      {{"dev", "ABCD1234-01", "rou"}, "devinfoSetOne ABCD1234-01 rou"},
      {{"devinfo", "allx", "rou"}, "devinfoSetOne allx rou"},
      {{"pathinfo"}, "listPaths (all)"},
      {{"pathinfo", "SN", "1234"}, "listPaths SN 1234"},
      {{"pat", "hba", "0123"}, "listPaths hba 0123"},
      {{"pathinfo", "snx", "online"}, "setAdapterPathState snx online"},
      {{"pol"}, "listPolicies"},
      {{"POLICIES", "x", "y"}, "listPolicies"},
      {{"clear"}, "clearCounters"},
      {{"primary", "0x1A"}, "setPathRole 26 primary"},
      {{"pri", "1a"}, "setPathRole 26 primary"},
      {{"primary", "zz"}, "setPathRole 0 primary"},
      {{"sec", "1A"}, "setPathRole 26 secondary"},
      {{"weight", "1a", "5x"}, "setPathWeight 26 5"},
      {{"instance", "ORNDSM_PERFINFO", "extra"}, "printDsmObjects ORNDSM_PERFINFO"},
      {{"listen", "x"}, "listen"},
      {{"iostatus", "rescan"}, "ioStatus 2:iostatus,rescan"},
      {{"pgr"}, "pgr 1:pgr"},
      {{"SET", "a", "b"}, "set 3:SET,a,b"},
      {{"mpiolist"}, "mpiolist 1:mpiolist"},
      {{"mpiolist", "MPIO_DISK_INFO"}, "mpiolist 2:mpiolist,1"},
      {{"mpi", "MsDiskDriver_Performance", "host"}, "mpiolist 3:mpi,0,host"},
      {{"mpiolist", "MPIO_GET_DESCRIPTOR"}, "mpiolist 2:mpiolist,5"},
      {{"mpiolist", "mpio_disk_info"}, "mpiolist 2:mpiolist,mpio_disk_info"},
      {{"mpiolist", "1"}, "mpiolist 2:mpiolist,1"},
      {{"json"}, "json 1:json"},
      {{"JSO", "devinfo"}, "json 2:JSO,devinfo"},
      {{"json", "pathinfo", "sn", "X"}, "json 4:json,pathinfo,sn,X"},
      {{"health"}, "health 1:health"},
      {{"HEA", "3"}, "health 2:HEA,3"},
      {{"healt", "3", "4"}, "health 3:healt,3,4"},
  };
  for (const Case& c : cases) {
    Outcome run = Dispatch(c.words);
    EXPECT_EQ(run.call, c.call) << c.words[0];
    EXPECT_EQ(run.output, "") << c.words[0];
  }
}

TEST(DispatchTest, SyntaxErrorsNameTheWordAsTyped) {
  std::vector<std::vector<const char*>> cases = {
      {"po"},
      {"de"},
      {"devinfos"},
      {"xyz", "a"},
      {"devinfo", "all"},
      {"devinfo", "a", "b", "c"},
      {"pathinfo", "sn"},
      {"CLE", "extra"},
      {"primary"},
      {"secondary", "1", "2"},
      {"weight", "1"},
      {"debug"},
      {"quit"},
      {"exit", "now"},
      {"js"},
      {"jsons"},
      {"he"},
      {"healthy"},
  };
  for (const std::vector<const char*>& words : cases) {
    Outcome run = Dispatch(words, 7);
    EXPECT_EQ(run.call, "") << words[0];
    EXPECT_EQ(run.output, "syntax error near " + std::string(words[0]) + "\n");
    EXPECT_EQ(run.result, 0) << words[0];
  }
}

TEST(DispatchTest, NoWordsOrAHelpSwitchPrintTheLongHelp) {
  StringOutput help;
  PrintHelp(help);
  for (std::vector<const char*> words :
       std::vector<std::vector<const char*>>{{}, {"?"}, {"HELP", "x"}}) {
    Outcome run = Dispatch(words, 7);
    EXPECT_EQ(run.call, "");
    EXPECT_EQ(run.output, help.Text());
    EXPECT_EQ(run.result, 0);
  }
}

// A typed word must keep selecting the command it selects today when words
// are added: no word's shortest accepted form may select any other word.
TEST(DispatchTest, NoWordsShortestFormSelectsAnotherWord) {
  const std::vector<std::string_view> words = CommandWords();
  ASSERT_EQ(words.size(), 15u);
  EXPECT_EQ(words[13], "json");
  EXPECT_EQ(words[14], "health");
  for (std::string_view word : words) {
    ASSERT_GE(word.size(), 3u) << word;
    for (size_t length = 3; length <= word.size(); ++length) {
      for (std::string_view other : words) {
        if (other == word) continue;
        EXPECT_FALSE(MatchCommandWord(word.substr(0, length), other))
            << word.substr(0, length) << " selects " << other;
      }
    }
  }
}

TEST(DispatchTest, OnlyTheAutomationCommandsReportTheirOwnResults) {
  struct Case {
    const char* word;
    bool own;
  } cases[] = {
      {"json", true},     {"JSO", true},       {"jsons", false},    {"js", false},
      {"health", true},   {"Hea", true},       {"he", false},       {"healthy", false},
      {"devinfo", false}, {"iostatus", false}, {"mpiolist", false}, {"set", false},
      {"quit", false},    {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ReportsOwnResult(c.word), c.own) << c.word;
}

TEST(DispatchTest, HandlerResultIsTheCommandResult) {
  EXPECT_EQ(Dispatch({"clear"}, 3).result, 3);
  EXPECT_EQ(Dispatch({"mpiolist", "x"}, -2).result, -2);
  EXPECT_EQ(Dispatch({"health"}, 3).result, 3);
  EXPECT_EQ(Dispatch({"json", "devinfo"}, 1).result, 1);
}

TEST(DispatchTest, MpiolistReplacesTheEntryNotTheString) {
  char name[] = "MPIO_PATH_INFORMATION";
  std::vector<const char*> words = {"mpiolist", name};
  Recorder recorder;
  StringOutput out;
  DispatchCommand(2, words.data(), recorder.Handlers(), out);
  EXPECT_STREQ(words[1], "2");
  EXPECT_STREQ(name, "MPIO_PATH_INFORMATION");
}

TEST(DispatchTest, InstanceAlonePrintsTheDsmClasses) {
  Outcome run = Dispatch({"ins"}, 7);
  EXPECT_EQ(run.call, "");
  EXPECT_EQ(run.output,
            " ORNDSM_CONFIGINFO\n ORNDSM_PERFINFO\n DSM_QueryLBPolicy\n DSM_QueryLBPolicy_V2\n"
            " DSM_QueryUniqueId\n");
  EXPECT_EQ(run.result, 0);
}

TEST(DispatchTest, DefaultHandlersListPoliciesAndRefuseTheRest) {
  struct Case {
    std::vector<const char*> words;
    std::string output;
    int result;
  } cases[] = {
      {{"policies"},
       "\n FailOver\n RoundRobin\n RoundRobinSubset\n Dynlqd\n Weighted\n LeastBlocks\n\n",
       0},
      {{"devinfo", "all", "rou"}, "devinfo: not available in this build\n", 1},
      {{"pathinfo", "sn", "x"}, "pathinfo: not available in this build\n", 1},
      {{"secondary", "1"}, "secondary: not available in this build\n", 1},
      {{"mpiolist", "1"}, "mpiolist: not available in this build\n", 1},
      {{"json", "devinfo"}, "json: not available in this build\n", 1},
      {{"health"}, "health: not available in this build\n", 1},
  };
  for (Case& c : cases) {
    StringOutput out;
    int result =
        DispatchCommand(static_cast<int>(c.words.size()), c.words.data(), DefaultHandlers(), out);
    EXPECT_EQ(out.Text(), c.output) << c.words[0];
    EXPECT_EQ(result, c.result) << c.words[0];
  }
}

TEST(NumberTest, PathIdFollowsStrtoullBase16) {
  struct Case {
    const char* text;
    uint64_t value;
  } cases[] = {
      {"1a", 0x1A},
      {"0x1A", 0x1A},
      {"0X1a", 0x1A},
      {"  \t\n\v\f\r1F", 0x1F},
      {"+10", 0x10},
      {"-1", UINT64_MAX},
      {"-0x10", 0 - uint64_t{0x10}},
      {"12g4", 0x12},
      {"0x", 0},
      {"0xg", 0},
      {"x1", 0},
      {"zz", 0},
      {"", 0},
      {"- 1", 0},
      {"+-1", 0},
      {"ffffffffffffffff", UINT64_MAX},
      {"0000000000000000000001", 1},
      {"10000000000000000", UINT64_MAX},
      {"-10000000000000000", UINT64_MAX},
      {"123456789abcdef0", 0x123456789ABCDEF0},
  };
  for (const Case& c : cases) EXPECT_EQ(ParsePathId(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberTest, WeightFollowsStrtolClampedTo32Bits) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"5", 5},
      {"5x", 5},
      {" -42", -42},
      {"+7", 7},
      {"0x10", 0},
      {"abc", 0},
      {"", 0},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"99999999999999999999999", INT32_MAX},
      {"-99999999999999999999999", INT32_MIN},
      {"000000000000000000000012", 12},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseWeight(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace cli
