#include "platform/sim/machine_file/machine_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sim/faults/faults.h"

namespace platform::sim {
namespace {

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "/machine_state_" + name;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// An edit that sets one key of the document, as the simulated driver does.
Edit SetKey(const std::string& key, int value) {
  return [key, value](nlohmann::ordered_json& doc) {
    doc[key] = value;
    return true;
  };
}

TEST(MachineStateTest, LoadErrorsNameTheFileAndLeaveItAlone) {
  struct Case {
    const char* name;
    const char* text;  // null: no file at all
    const char* expected;
  } cases[] = {
      {"missing", nullptr, "cannot read machine file"},
      {"syntax", "{\n  \"san\": [1,,2]\n}", "invalid JSON at line 2, column 13"},
      {"truncated", "{\"a\": 1", "invalid JSON at line 1"},
      {"array", "[1, 2]", "the top level must be a JSON object"},
      {"empty", "", "invalid JSON at line 1, column 1"},
      {"number overflow", "{\"a\": 1e999}", "invalid JSON: number overflow parsing '1e999'"},
  };
  for (const Case& c : cases) {
    const std::string path = TempPath(c.name);
    std::remove(path.c_str());
    if (c.text != nullptr) WriteFile(path, c.text);
    MachineState state;
    std::string error;
    EXPECT_FALSE(state.Load(path, &error)) << c.name;
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << ": " << error;
    if (c.text != nullptr) {
      EXPECT_EQ(ReadFile(path), c.text) << c.name;
    }
  }
}

TEST(MachineStateTest, WriteBackWritesTheDocumentAsItStands) {
  const std::string path = TempPath("written");
  WriteFile(path, R"({"a": 1, "b": 2})");
  MachineState state;
  std::string error;
  ASSERT_TRUE(state.Load(path, &error)) << error;
  state.Change(SetKey("a", 10));
  // Refused, yet what it changed first stays: the document is the state.
  state.Change([](nlohmann::ordered_json& doc) {
    doc["b"] = 99;
    return false;
  });
  EXPECT_TRUE(state.Changed());
  ASSERT_TRUE(state.WriteBack(&error)) << error;
  EXPECT_FALSE(state.Changed());
  EXPECT_EQ(ReadFile(path), "{\n  \"a\": 10,\n  \"b\": 99\n}\n");
  // Nothing left to write: a file changed by hand since is not touched.
  WriteFile(path, "{}");
  ASSERT_TRUE(state.WriteBack(&error)) << error;
  EXPECT_EQ(ReadFile(path), "{}");
}

TEST(MachineStateTest, UnchangedMachineIsNotRewritten) {
  const std::string path = TempPath("unchanged");
  const std::string text = "{ \"kept\":   \"as typed\" }";
  WriteFile(path, text);
  MachineState state;
  std::string error;
  ASSERT_TRUE(state.Load(path, &error));
  ASSERT_TRUE(state.WriteBack(&error));
  EXPECT_EQ(ReadFile(path), text);
}

TEST(MachineStateTest, FailedWriteBackKeepsTheOldFileAndTheChange) {
  const std::string folder = TempPath("gone_folder");
  const std::string path = folder + "/machine.json";
  MachineState state;
  state.Adopt(nlohmann::ordered_json::object(), path);  // its folder does not exist
  state.Change(SetKey("a", 1));
  std::string error;
  EXPECT_FALSE(state.WriteBack(&error));
  EXPECT_NE(error.find("cannot write machine file"), std::string::npos) << error;
  EXPECT_TRUE(state.Changed());
}

TEST(FaultsTest, SelectorsAfterAndTimes) {
  Faults faults;
  std::string error;
  ASSERT_TRUE(faults.Load(nlohmann::ordered_json::parse(R"([
    {"call": "Next", "target": "A", "after": 1, "times": 1, "code": "0x80041001"},
    {"call": "ExecMethod", "method": "M", "code": -2147217400},
    {"call": "CoInitializeEx", "code": 5}
  ])"), &error)) << error;
  EXPECT_EQ(faults.Status("Next", "B"), 0);
  EXPECT_EQ(faults.Status("Next", "A"), 0);  // "after": 1 lets the first through
  EXPECT_EQ(faults.Status("Next", "A"), MakeHResult(0x80041001));
  EXPECT_EQ(faults.Status("Next", "A"), 0);  // "times": 1
  EXPECT_EQ(faults.Status("ExecMethod", "any", "M"), MakeHResult(0x80041008));
  EXPECT_EQ(faults.Status("ExecMethod", "any", "N"), 0);
  EXPECT_EQ(faults.Status("CoInitializeEx"), 5);
}

TEST(FaultsTest, MalformedEntriesAreRefused) {
  const char* bad[] = {R"({"call": "Next"})", R"([{"code": 1}])", R"([{"call": "Next"}])",
                       R"([{"call": "ConectServer", "code": 1}])",
                       R"([{"call": "Next", "code": "nope"}])",
                       R"([{"call": "Next", "code": "0x1FFFFFFFF"}])",
                       R"([{"call": "Next", "code": 1, "after": -1}])",
                       R"([{"call": "Next", "code": 1, "data": [1, 300]}])"};
  for (const char* text : bad) {
    Faults faults;
    std::string error;
    EXPECT_FALSE(faults.Load(nlohmann::ordered_json::parse(text), &error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace platform::sim
