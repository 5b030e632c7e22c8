#include "platform/sim/san/san_edit.h"

#include <gtest/gtest.h>

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

// A copy holds its members without spare room, so any member the edit adds
// to the LUN moves the others, the path list among them.
Json TightDocument() {
  const Json parsed = Json::parse(R"({"san": {
    "adapters": [{"port": 2, "wwpn": "2100001B32814A10"}],
    "controllers": [{"wwpn": "50060E8007C3E100"}],
    "luns": [{"serial": "6A0B1C20-01", "lun": 1, "paths": [
      {"id": "0x10", "adapter": 0, "controller": 0}]}]}})");
  Json copy = parsed;
  return copy;
}

TEST(SanEdit, PolicyEditSetsPathsWhenItAddsMembersToTheLun) {
  struct Case {
    const char* name;
    uint32_t policy, failBack;
    Json lun;  // the LUN's members expected afterwards, paths left out
  } cases[] = {
      {"policy and fail-back added",
       1,
       1,
       {{"serial", "6A0B1C20-01"}, {"lun", 1}, {"policy", "FailOver"}, {"failback", true}}},
      {"fail-back only", 2, 1, {{"serial", "6A0B1C20-01"}, {"lun", 1}, {"failback", true}}},
      {"defaults add nothing", 2, 2, {{"serial", "6A0B1C20-01"}, {"lun", 1}}},
  };
  for (const Case& c : cases) {
    Json document = TightDocument();
    Edit edit = SetPolicyEdit(LunKey{"6A0B1C20-01", 0}, c.policy, c.failBack, {{0x10, 5, true}});
    ASSERT_TRUE(edit(document)) << c.name;
    Json lun = document["san"]["luns"][0];
    EXPECT_EQ(lun["paths"][0]["weight"], 5) << c.name;
    EXPECT_EQ(lun["paths"][0]["primary"], true) << c.name;
    lun.erase("paths");
    EXPECT_EQ(lun, c.lun) << c.name;
  }
}

}  // namespace
}  // namespace platform::sim
