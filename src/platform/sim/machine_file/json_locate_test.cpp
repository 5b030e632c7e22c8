#include "platform/sim/machine_file/json_locate.h"

#include <gtest/gtest.h>

#include <string>

namespace platform::sim {
namespace {

// The text with its '^' removed, and the line and column where it stood.
struct Marked {
  std::string text;
  size_t line = 1, column = 1;
};

Marked Mark(const std::string& marked) {
  Marked m;
  const size_t at = marked.find('^');
  m.text = marked.substr(0, at) + marked.substr(at + 1);
  for (size_t i = 0; i < at; ++i) {
    if (marked[i] == '\n') {
      ++m.line;
      m.column = 1;
    } else {
      ++m.column;
    }
  }
  return m;
}

TEST(JsonLocateTest, FindsTheMemberAlongThePath) {
  struct Case {
    const char* name;
    const char* text;  // '^' marks where the member starts
    JsonPath path;
  } cases[] = {
      {"top level", "  ^{\"a\": 1}", {}},
      {"key", "{\"a\": 1, ^\"b\": 2}", {"b"}},
      {"nested key on a later line",
       "{\"a\": {\"x\": [1, {}]},\n \"b\": {\n   ^\"c\": 3}}",
       {"b", "c"}},
      {"element", "{\"a\": [10, \"x,]\", ^{\"k\": 1}]}", {"a", "2"}},
      {"key after a skipped nested value", "{\"a\": [[{\"b\": \"}]\"}]], ^\"b\": 1}", {"b"}},
      {"escaped key", "{\"x\\\"y\": 1, ^\"t\\u00e9\\/\": 2}", {"t\xC3\xA9/"}},
      {"surrogate pair", "{^\"\\ud83d\\ude00\": 1}", {"\xF0\x9F\x98\x80"}},
      {"repeated key: the last, which the parser keeps",
       "{\"a\": 1,\r\n ^\"a\": {\"b\": 2}}",
       {"a"}},
      {"member of a repeated key", "{\"a\": {\"b\": 1}, \"a\": {^\"b\": 2}}", {"a", "b"}},
      {"key in an element", "[1, {\"k\": [true, null, ^false]}]", {"1", "k", "2"}},
  };
  for (const Case& c : cases) {
    const Marked m = Mark(c.text);
    size_t line = 0, column = 0;
    ASSERT_TRUE(LocateMember(m.text, c.path, &line, &column)) << c.name;
    EXPECT_EQ(line, m.line) << c.name;
    EXPECT_EQ(column, m.column) << c.name;
  }
}

TEST(JsonLocateTest, ReportsWhatTheTextDoesNotHold) {
  struct Case {
    const char* text;
    JsonPath path;
  } cases[] = {
      {"{\"a\": 1}", {"b"}},
      {"{\"a\": 1}", {"a", "b"}},
      {"[1, 2]", {"2"}},
      {"[1, 2]", {"x"}},
      {"{\"a\": [1", {"a", "3"}},
      {"{\"a\": \"open", {"b"}},
      {"{\"a\": \"\\u12\"}", {"b"}},
      {"", {}},
      {"[[[[", {"0", "0", "0", "0"}},
  };
  for (const Case& c : cases) {
    size_t line = 0, column = 0;
    EXPECT_FALSE(LocateMember(c.text, c.path, &line, &column)) << c.text;
  }
}

TEST(JsonLocateTest, SkipsAndEntersDeepNestingWithoutRecursion) {
  const size_t depth = 200000;
  const std::string text = "{\"deep\": " + std::string(depth, '[') + std::string(depth, ']') +
                           ", \"after\": " + std::string(depth, '[') + std::string(depth, ']') +
                           "}";
  size_t line = 0, column = 0;
  ASSERT_TRUE(LocateMember(text, {"after"}, &line, &column));
  EXPECT_EQ(column, 12 + 2 * depth);
  JsonPath inner = {"after"};
  for (size_t i = 0; i + 1 < depth; ++i) inner.push_back("0");
  ASSERT_TRUE(LocateMember(text, inner, &line, &column));
  EXPECT_EQ(column, 20 + 3 * depth);
}

TEST(JsonLocateTest, LocatedErrorsBecomeOneLineWithThePosition) {
  const std::string text = "{\n  \"faults\": [\n    {\"call\": \"Next\", \"tar/~get\": 1}]}";
  const std::string error =
      LocatedError({"faults", "0", "tar/~get"}, "faults[0]: unknown key \"tar/~get\"");
  EXPECT_EQ(MachineFileError("/m.json", text, error),
            "/m.json: line 3, column 22: faults[0]: unknown key \"tar/~get\"");
  // A place the text does not hold, and a plain message, give no position.
  EXPECT_EQ(MachineFileError("/m.json", "{}", error),
            "/m.json: faults[0]: unknown key \"tar/~get\"");
  EXPECT_EQ(MachineFileError("/m.json", text, "plain"), "/m.json: plain");
  // A caller's prefix before the located part stays in front.
  EXPECT_EQ(MachineFileError("/m.json", text, "at load: " + error),
            "/m.json: line 3, column 22: at load: faults[0]: unknown key \"tar/~get\"");
}

TEST(JsonLocateTest, DepthIsBoundedWithoutRecursion) {
  struct Case {
    const char* name;
    std::string text;
    bool within;
    std::string message;  // after the file name
  } cases[] = {
      {"256 levels", "{\"wmi\": " + std::string(255, '[') + "1" + std::string(255, ']') + "}", true,
       ""},
      {"257 levels", "{\"wmi\": " + std::string(256, '[') + "1" + std::string(256, ']') + "}",
       false, "line 1, column 265: wmi: nesting deeper than 256 levels"},
      {"200000 levels in faults",
       "{\"faults\":\n" + std::string(200000, '[') + std::string(200000, ']') + "}", false,
       "line 2, column 257: faults: nesting deeper than 256 levels"},
      {"200000 levels at the top", std::string(200000, '[') + std::string(200000, ']'), false,
       "line 1, column 258: top level: nesting deeper than 256 levels"},
  };
  for (Case& c : cases) {
    auto document = nlohmann::ordered_json::parse(c.text);
    std::string error;
    EXPECT_EQ(CheckJsonDepth("/m.json", c.text, &document, &error), c.within) << c.name;
    if (c.within) continue;
    EXPECT_EQ(error, "/m.json: " + c.message) << c.name;
    EXPECT_TRUE(document.is_null()) << c.name;
  }
}

}  // namespace
}  // namespace platform::sim
