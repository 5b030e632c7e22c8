#include "platform/sim/machine_file/json_reader.h"

#include <gtest/gtest.h>

#include "platform/sim/demo_machine.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

// Equal documents with equal kinds of values (an unsigned 5 is not a
// signed 5) and members in the same order.
bool Same(const Json& a, const Json& b) {
  if (a.type() != b.type()) return false;
  if (a.is_object()) {
    if (a.size() != b.size()) return false;
    auto x = a.items().begin();
    for (const auto& y : b.items()) {
      if (x.key() != y.key() || !Same(x.value(), y.value())) return false;
      ++x;
    }
    return true;
  }
  if (a.is_array()) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (!Same(a[i], b[i])) return false;
    }
    return true;
  }
  return a == b;
}

TEST(JsonReader, PlainTextGivesNlohmannsDocument) {
  const char* texts[] = {
      R"({"b": 1, "a": [true, false, null], "c": {"d": "x\"y\\z\/\n\t\r\b\f"}})",
      " \n\t{ } ",
      "[]",
      "[[], {}, [[1]]]",
      "-0",
      "0",
      "-9223372036854775808",
      "18446744073709551615",
      R"("")",
      R"({"san": {"luns": [{"serial": "6A0B0000-00", "paths": [{"id": "0x77020000"}]}]}})",
  };
  for (const char* text : texts) {
    Json read;
    ASSERT_TRUE(ReadPlainJson(text, &read)) << text;
    EXPECT_TRUE(Same(read, Json::parse(text))) << text;
  }
}

TEST(JsonReader, LeavesEverythingElseToNlohmann) {
  const char* texts[] = {
      "",
      "  ",
      "{",
      "[1,]",
      R"({"a" 1})",
      R"({"a": 1,})",
      "01",
      "1.5",
      "1e3",
      "-",
      "18446744073709551616",
      "-9223372036854775809",
      R"("\u0041")",
      "\"caf\xC3\xA9\"",
      "\"tab\there\"",
      "\"\x7F\"",
      R"({"a": 1, "a": 2})",
      "nul",
      "[1] 2",
      "\xEF\xBB\xBF{}",
      R"("\x")",
  };
  for (const char* text : texts) {
    Json read;
    EXPECT_FALSE(ReadPlainJson(text, &read)) << text;
  }
  std::string deep(300, '[');
  deep += std::string(300, ']');
  Json read;
  EXPECT_FALSE(ReadPlainJson(deep, &read));
}

TEST(JsonReader, ReadsTheDemoMachineAsWritten) {
  const std::string text = DemoMachine().dump(2);
  Json read;
  ASSERT_TRUE(ReadPlainJson(text, &read));
  EXPECT_TRUE(Same(read, Json::parse(text)));
  EXPECT_EQ(read.dump(2), text);
}

}  // namespace
}  // namespace platform::sim
