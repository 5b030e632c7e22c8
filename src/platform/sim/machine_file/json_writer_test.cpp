#include "platform/sim/machine_file/json_writer.h"

#include <gtest/gtest.h>

#include "platform/sim/demo_machine.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

TEST(JsonWriter, WritesWhatNlohmannWrites) {
  const Json documents[] = {
      DemoMachine(),
      Json::parse(R"({"b": {}, "a": [], "c": [[], {"x": [1, -2, 18446744073709551615]}],
                      "t": "quote \" and \\ and /", "n": null, "f": false, "e": ""})"),
      Json::parse(R"([true, -9223372036854775808, {"k": [null]}])"),
      Json("text"),
      // Texts at the edges of plain: each must be escaped, or copied, as nlohmann does.
      Json::parse(R"({" ~": "~ ", "q\"": "\\", "long plain text of more than thirty-two chars": 1,
                      "long text whose last character needs an escape ......\"": "\u001f",
                      "\\ first, then a long plain run of characters": "x\u0020y"})"),
      Json(7),
      // Not plain: left to nlohmann.
      Json::parse(R"({"real": 1.5, "nested": [0.25]})"),
      Json::parse(R"({"caf\u00e9": "\u00e9t\u00e9", "tab": "a\tb", "del": "\u007f"})"),
  };
  for (const Json& document : documents) {
    EXPECT_EQ(DumpJson(document), document.dump(2)) << document.dump();
  }
}

TEST(JsonWriter, TextThatIsNotUtf8IsRefusedAsByNlohmann) {
  EXPECT_THROW(DumpJson(Json{{"serial", "\xFF"}}), nlohmann::json::type_error);
}

}  // namespace
}  // namespace platform::sim
